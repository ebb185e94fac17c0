#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// Every failure the user sees is raised as one of these; what() is the
// message text shown to the user (UTF-8), exactly as raised.
class EError : public std::runtime_error {
public:
    // owner: the name attribute of the description element at fault, for the
    // failures a description causes; empty for every other failure.
    explicit EError(const std::string &message, std::string owner = std::string())
        : std::runtime_error(message), m_owner(std::move(owner))
    {
    }
    virtual const char *ClassName() const { return "EError"; }
    const std::string &Owner() const { return m_owner; }
    void SetOwner(std::string owner) { m_owner = std::move(owner); }

    // The captions of the parameter a value failure belongs to ("Блок / Элемент №1 /
    // Параметр"), empty when it is no value's; the window shows them on a line of their own.
    const std::string &Where() const { return m_where; }
    void SetWhere(std::string where) { m_where = std::move(where); }

private:
    std::string m_owner;
    std::string m_where;
};

// A text that is not what a conversion expects (an integer, a phone number...).
class EConvertError : public EError {
public:
    using EError::EError;
    const char *ClassName() const override { return "EConvertError"; }
};

// An attribute that is missing or not an integer where one is needed. Its owner is
// the name attribute of the element holding it (empty when it has none), so that
// a description fault can be told from a value typed by the user.
class EAttributeError : public EConvertError {
public:
    EAttributeError(const std::string &message, std::string owner) : EConvertError(message, std::move(owner)) {}
};

// A value that does not fit its field.
class ERangeError : public EError {
public:
    using EError::EError;
    const char *ClassName() const override { return "ERangeError"; }
};

// A scale factor of 0 on the side where it divides.
class EZeroDivide : public EError {
public:
    using EError::EError;
    const char *ClassName() const override { return "EZeroDivide"; }
};

// A document that cannot be read or parsed.
class EXmlError : public EError {
public:
    EXmlError(const std::string &message, int line, std::string reason, std::string sourceText)
        : EError(message), m_line(line), m_reason(std::move(reason)), m_sourceText(std::move(sourceText))
    {
    }
    const char *ClassName() const override { return "EXmlError"; }
    int Line() const { return m_line; }
    const std::string &Reason() const { return m_reason; }
    const std::string &SourceText() const { return m_sourceText; }

private:
    int m_line;
    std::string m_reason;
    std::string m_sourceText;
};

// A device description that the program cannot work with.
class EDescriptionError : public EError {
public:
    using EError::EError;
    const char *ClassName() const override { return "EDescriptionError"; }
};

// Settings files, the catalogue and the workflows.
class EConfigError : public EError {
public:
    using EError::EError;
    const char *ClassName() const override { return "EConfigError"; }
};

// Lets GCC and Clang check Format's arguments; other compilers (MSVC) take the plain declaration.
#if defined(__GNUC__) || defined(__clang__)
#define CONFIGURATOR_PRINTF_FORMAT(formatIndex, firstArgument) \
    __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define CONFIGURATOR_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

// printf-style formatting into a std::string.
std::string Format(const char *format, ...) CONFIGURATOR_PRINTF_FORMAT(1, 2);

// The standard integer conversion: decimal with an optional sign, or
// hexadecimal after a leading "$"; 32-bit signed. Anything else raises
// EConvertError "'%s' is not a valid integer value".
std::int32_t StrToInt(const std::string &text);
// The same syntax over the range -2^31 ... 2^32-1, for texts that must be able
// to name every value of a four-byte field.
std::int64_t StrToIntWide(const std::string &text);
