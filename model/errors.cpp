#include "model/errors.h"

#include <cstdarg>
#include <cstdio>
#include <limits>
#include <vector>

std::string Format(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (length > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        text.assign(buffer.data(), static_cast<std::size_t>(length));
    }
    va_end(args);
    return text;
}

namespace {

[[noreturn]] void notAnInteger(const std::string &text)
{
    throw EConvertError("'" + text + "' is not a valid integer value");
}

// Parses [sign] digits or [sign] $hexdigits into a magnitude no larger than limit.
std::int64_t parseInteger(const std::string &text, std::int64_t lowest, std::int64_t highest,
                          std::uint64_t hexHighest)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const bool hex = i < text.size() && text[i] == '$';
    if (hex)
        ++i;
    if (i >= text.size())
        notAnInteger(text);
    std::uint64_t magnitude = 0;
    const std::uint64_t limit = hex ? hexHighest : std::uint64_t(std::max(highest, -lowest));
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            notAnInteger(text);
        magnitude = magnitude * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
        if (magnitude > limit)
            notAnInteger(text);
    }
    if (hex) {
        // Hexadecimal texts name bit patterns: $FFFFFFFF is -1 as 32 bits.
        const auto bits = static_cast<std::int64_t>(magnitude);
        std::int64_t value = (highest <= std::numeric_limits<std::int32_t>::max() && magnitude > std::uint64_t(highest))
                                 ? bits - (std::int64_t(1) << 32)
                                 : bits;
        return negative ? -value : value;
    }
    const auto value = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    if (value < lowest || value > highest)
        notAnInteger(text);
    return value;
}

} // namespace

std::int32_t StrToInt(const std::string &text)
{
    return static_cast<std::int32_t>(parseInteger(text, std::numeric_limits<std::int32_t>::min(),
                                                  std::numeric_limits<std::int32_t>::max(), 0xFFFFFFFFu));
}

std::int64_t StrToIntWide(const std::string &text)
{
    return parseInteger(text, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::uint32_t>::max(),
                        0xFFFFFFFFu);
}
