#pragma once

// What one parameter of a description means: its kind of value, field,
// range, choices and caption, the conversions between the stored text and
// the text shown, and the check of a text before it reaches the device.
// The grid, the editors, the codecs, the command-line tool and the catalogue
// check all ask it, so that a type word means the same everywhere.

#include "model/xml.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

enum class TValueKind {
    Integer,  // "int", and type words naming no enumeration: a number
    Bool,     // 1 or 0, shown "Да" or "Нет"
    Choice,   // a number chosen by caption from an enumeration
    String,   // text in the device's code page, padded or cut to the field
    Password, // "pswd_string": hexadecimal digits, two a byte in byte order
    Ip,       // "ip_string": dotted decimal components, the first in the last byte
    Phone,    // up to 16 places of digits and "+"
    Hex,      // "hex": hexadecimal digits of a little-endian number
    HexArray, // "hex_array": hexadecimal digits, two a byte in byte order
    DecArray, // "dec_array": one decimal digit a byte
};

// The kind a type word names by itself: the built-in words, Integer for any other.
TValueKind BuiltInKind(const std::string &type);
// The nine built-in type words: they name their built-in type even where a struct has the same name.
bool IsBuiltInType(const std::string &type);
// True for the kinds kept as text rather than as a number.
bool IsTextKind(TValueKind kind);

// How a binary field holds its value, from the item's attributes.
struct TFieldParams {
    std::string name;          // the item's name, for messages
    std::string type = "int";  // a type word; any word not listed for the conversions is an integer
    int size = 1;              // bytes of the field
    int bits = 8;              // bits of one stored integer or mask element
    bool hasBits = false;      // the item carries a bits attribute
    std::int32_t mul = 1;
    std::int32_t div = 1;
    std::int32_t add = 0;
    std::int32_t sub = 0;

    // Bits of one stored integer: the description's, or the whole field.
    std::int64_t ValueBits() const { return hasBits ? bits : std::int64_t(8) * size; }
};

// The stored integer of a value text (text * mul / div + add - sub, with the
// 32-bit wrap-around the device firmware shares). Texts above 2147483647 are
// taken only where bits is 32 or more. Raises EConvertError for a text that is
// not an integer, EZeroDivide for div 0 and ERangeError
// "%s: значение %d не помещается в %d бит." for a positive result wider than bits.
std::int32_t ScaleToStored(const std::string &text, const TFieldParams &field, std::int64_t bits);
// The value shown for a stored integer read as unsigned; EZeroDivide for mul 0.
std::int64_t ScaleToShown(std::uint64_t stored, const TFieldParams &field);

// How the device keeps its values: packed fields, or XML texts as they stand.
enum class TStorage { Binary, Xml };

struct TChoice {
    std::string value;
    std::string caption;
};

class TParamInfo {
public:
    // item: the item element of the description; choices: the enumeration its
    // type names, if any. Attributes that are not numbers are left to the
    // codecs, which name them when they are used.
    TParamInfo(xml::Node item, xml::Node choices, TStorage storage);

    TValueKind Kind() const { return m_kind; }
    const std::string &Type() const { return m_field.type; }
    const std::string &Name() const { return m_field.name; }
    const std::string &Caption() const { return m_caption; }
    const TFieldParams &Field() const { return m_field; }
    std::optional<std::int64_t> Min() const { return m_min; }
    std::optional<std::int64_t> Max() const { return m_max; }
    const std::vector<TChoice> &Choices() const { return m_choices; }

    // Column "Значение" for a stored text: "Да"/"Нет", the caption of the
    // first choice with that value (empty when none has it), the text itself
    // for every other kind.
    std::string Shown(const std::string &stored) const;
    // Position of the first choice with that value; -1 when none has it.
    int ChoiceIndex(const std::string &stored) const;
    // The smallest and largest values an integer editor steps between.
    std::int64_t Lowest() const;
    std::int64_t Highest() const;
    // The longest text a text editor takes; 0 for no limit of its own.
    int MaxTextLength() const;

    // Nothing when the device keeps text as it stands; otherwise the message
    // for the technician, starting with the caption.
    std::optional<std::string> Validate(const std::string &text) const;
    // Type, range, units (from the caption), size and the stored name.
    std::string Tooltip() const;

private:
    std::optional<std::string> ValidateInteger(const std::string &text) const;
    std::optional<std::string> ValidateText(const std::string &text) const;
    std::string Message(const std::string &reason) const;
    bool Binary() const { return m_storage == TStorage::Binary; }

    TValueKind m_kind;
    TStorage m_storage;
    TFieldParams m_field;
    bool m_hasSize = false;
    std::string m_caption;
    std::optional<std::int64_t> m_min;
    std::optional<std::int64_t> m_max;
    std::vector<TChoice> m_choices;
};

using TParamInfoPtr = std::shared_ptr<const TParamInfo>;
