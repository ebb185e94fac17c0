#include "model_bin/fields.h"

#include "model/cp1251.h"
#include "model/errors.h"

#include <algorithm>

namespace {

constexpr int kPhoneFieldBytes = 8;
constexpr std::size_t kPhonePlaces = 16;      // two places per byte of the phone field
constexpr std::uint8_t kPhonePlus = 0xA;      // the nibble that stands for "+"
constexpr std::uint8_t kPhoneUnused = 0xD;    // the nibble of a place without a character
constexpr std::uint8_t kPhoneUnusedByte = (kPhoneUnused << 4) | kPhoneUnused;
constexpr int kNarrowIntegerBytes = 4;        // wider integer fields only hold bit-packed mask elements
constexpr int kWindowBytes = 4;               // a wide mask element is taken out of this many bytes
constexpr int kMaxBits = 64;
constexpr std::uint8_t kSpace = 0x20;
constexpr const char *kHexDigits = "0123456789ABCDEF";

[[noreturn]] void badWidth(const TFieldParams &field)
{
    throw EDescriptionError(Format("Элемент \"%s\": недопустимая ширина поля.", field.name.c_str()), field.name);
}

void checkSize(const TFieldParams &field)
{
    if (field.size < 1)
        badWidth(field);
}

void checkPhoneSize(const TFieldParams &field)
{
    if (field.size != kPhoneFieldBytes)
        throw EDescriptionError(
            Format("Элемент \"%s\": поле телефона должно занимать 8 байт.", field.name.c_str()), field.name);
}

void checkBits(const TFieldParams &field, std::int64_t bits)
{
    if (bits < 1 || bits > kMaxBits)
        badWidth(field);
}

// A mask element outside its field would read or change its neighbours' bytes.
void checkMaskElement(const TFieldParams &field, std::int64_t bits, int index)
{
    if (index < 0 || (std::int64_t(index) + 1) * bits > std::int64_t(8) * field.size)
        throw EDescriptionError(Format("Элемент \"%s\": элемент маски %d не помещается в поле из %d байт.",
                                       field.name.c_str(), index, field.size),
                                field.name);
}

void checkInsideBlock(const Bytes &block, int position, int width, const TFieldParams &field)
{
    if (position < 1 || std::int64_t(position) - 1 + width > std::int64_t(block.size()))
        throw EDescriptionError(Format("Элемент \"%s\": поле выходит за пределы блока.", field.name.c_str()),
                                field.name);
}


std::uint64_t lowBits(std::int64_t bits)
{
    if (bits <= 0)
        return 0;
    return bits >= kMaxBits ? ~std::uint64_t(0) : (std::uint64_t(1) << bits) - 1;
}

std::uint64_t shiftRight(std::uint64_t value, std::int64_t shift)
{
    return shift >= kMaxBits ? 0 : value >> shift;
}




std::uint64_t littleEndian(const Bytes &block, std::size_t first, int count)
{
    std::uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        const std::size_t index = first + std::size_t(i);
        value = (value << 8) | (index < block.size() ? block[index] : 0);
    }
    return value;
}

std::string hexByte(std::uint8_t byte)
{
    return {kHexDigits[byte >> 4], kHexDigits[byte & 0x0F]};
}

// Texts leave the model only with printable ASCII and the Cyrillic letters of the device code page.
std::string filterText(std::string text)
{
    for (char &c : text) {
        const auto byte = static_cast<std::uint8_t>(c);
        if ((byte < 0x20 || byte > 0x7E) && byte < 0xC0)
            c = char(kSpace);
    }
    return text;
}

// digits are Windows-1251; the conversion message shows them as the user typed them.
std::uint8_t hexDigits(const std::string &digits)
{
    return static_cast<std::uint8_t>(StrToInt("$" + Cp1251ToUtf8(digits)) & 0xFF);
}

std::int32_t decimal(const std::string &digits)
{
    return StrToInt(Cp1251ToUtf8(digits));
}

std::string readInteger(const Bytes &block, int position, const TFieldParams &field, int maskIndex)
{
    checkSize(field);
    if (field.size > kNarrowIntegerBytes) {
        if (!field.hasBits)
            throw EDescriptionError(Format("Элемент \"%s\": для целого поля шире 4 байт нужен атрибут bits.",
                                           field.name.c_str()),
                                    field.name);
        checkBits(field, field.bits);
        checkMaskElement(field, field.bits, maskIndex);
        const std::int64_t bitPosition = std::int64_t(maskIndex) * field.bits;
        if (bitPosition % 8 + field.bits > 8 * kWindowBytes)
            throw EDescriptionError(Format("Элемент \"%s\": элемент маски %d не помещается в окно из 4 байт.",
                                           field.name.c_str(), maskIndex),
                                    field.name);
        checkInsideBlock(block, position, field.size, field);
        const std::size_t first = std::size_t(position - 1) + std::size_t(bitPosition / 8);
        const std::uint64_t window = littleEndian(block, first, kWindowBytes);
        const std::uint64_t value = shiftRight(window, bitPosition % 8) & lowBits(field.bits);
        const auto shown = static_cast<std::uint32_t>(ScaleToShown(value, field));
        return Format("%u", shown);
    }
    if (field.hasBits) {
        checkBits(field, field.bits);
        // Element 0 is readable whatever the width: only later elements can fall outside.
        if (maskIndex != 0)
            checkMaskElement(field, field.bits, maskIndex);
    }
    checkInsideBlock(block, position, field.size, field);
    std::uint64_t value = littleEndian(block, std::size_t(position - 1), field.size);
    if (field.hasBits)
        value = shiftRight(value, std::int64_t(maskIndex) * field.bits) & lowBits(field.bits);
    return Format("%lld", static_cast<long long>(ScaleToShown(value, field)));
}

Bytes writeInteger(const std::string &text, const TFieldParams &field)
{
    checkSize(field);
    if (field.hasBits)
        checkBits(field, field.bits);
    const std::int64_t x = ScaleToStored(text, field, field.ValueBits());
    Bytes bytes(std::size_t(field.size), 0);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        // Shifting a negative value by 63 leaves its sign in every byte beyond the eighth.
        const int shift = int(std::min<std::size_t>(8 * i, kMaxBits - 1));
        bytes[i] = static_cast<std::uint8_t>((x >> shift) & 0xFF);
    }
    return bytes;
}

std::string readString(const Bytes &block, int position, const TFieldParams &field)
{
    const auto first = block.begin() + (position - 1);
    return Cp1251ToUtf8(filterText(std::string(first, first + field.size)));
}

Bytes writeString(const std::string &text, const TFieldParams &field)
{
    std::string bytes = Utf8ToCp1251(text);
    bytes.resize(std::size_t(field.size), char(kSpace));
    return ToBytes(bytes);
}

std::string readBytesHex(const Bytes &block, int position, const TFieldParams &field, bool lastFirst)
{
    std::string text;
    for (int i = 0; i < field.size; ++i) {
        const int offset = lastFirst ? field.size - 1 - i : i;
        text += hexByte(block[std::size_t(position - 1 + offset)]);
    }
    return text;
}

Bytes writePassword(const std::string &text, const TFieldParams &field)
{
    const std::string digits = Utf8ToCp1251(text);
    Bytes bytes(std::size_t(field.size), 0);
    for (std::size_t i = 0; i < bytes.size() && 2 * i < digits.size(); ++i) {
        const std::string pair = digits.substr(2 * i, 2);
        // A lone last digit is the high half of its byte.
        bytes[i] = pair.size() == 2 ? hexDigits(pair) : static_cast<std::uint8_t>(hexDigits(pair) << 4);
    }
    return bytes;
}

Bytes writeHex(const std::string &text, const TFieldParams &field)
{
    const std::string digits = Utf8ToCp1251(text);
    Bytes bytes(std::size_t(field.size), 0);
    std::size_t end = digits.size();
    for (std::size_t i = 0; i < bytes.size() && end > 0; ++i) {
        const std::size_t start = end >= 2 ? end - 2 : 0;
        bytes[i] = hexDigits(digits.substr(start, end - start));
        end = start;
    }
    return bytes;
}

Bytes writeHexArray(const std::string &text, const TFieldParams &field)
{
    const std::string digits = Utf8ToCp1251(text);
    Bytes bytes(std::size_t(field.size), 0);
    const std::size_t count = std::min(digits.size() / 2, bytes.size());
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = hexDigits(digits.substr(2 * i, 2));
    return bytes;
}

std::string readIp(const Bytes &block, int position, const TFieldParams &field)
{
    std::string text;
    for (int i = field.size - 1; i >= 0; --i) {
        if (!text.empty())
            text += '.';
        text += Format("%.3d", block[std::size_t(position - 1 + i)]);
    }
    return text;
}

std::uint8_t ipComponent(const std::string &component)
{
    if (component.empty() || component.size() > 3)
        return 0;
    const std::int32_t value = decimal(component);
    return value < 0 || value > 0xFF ? 0 : static_cast<std::uint8_t>(value);
}

Bytes writeIp(const std::string &text, const TFieldParams &field)
{
    const std::string components = Utf8ToCp1251(text);
    Bytes bytes(std::size_t(field.size), 0);
    std::size_t start = 0;
    // The first component names the network, and the device keeps it in the last byte.
    for (std::size_t k = 0; k < bytes.size() && start <= components.size(); ++k) {
        std::size_t end = components.find('.', start);
        if (end == std::string::npos)
            end = components.size();
        bytes[bytes.size() - 1 - k] = ipComponent(components.substr(start, end - start));
        start = end + 1;
    }
    return bytes;
}

std::string readDecArray(const Bytes &block, int position, const TFieldParams &field)
{
    const auto first = block.begin() + (position - 1);
    const auto last = first + field.size;
    const auto digit = std::find_if(first, last, [](std::uint8_t byte) { return byte != 0; });
    if (digit == last)
        return std::string(std::size_t(field.size), '0');
    std::string text;
    for (auto it = digit; it != last; ++it)
        text += Format("%d", *it);
    return text;
}

Bytes writeDecArray(const std::string &text, const TFieldParams &field)
{
    const std::string digits = Utf8ToCp1251(text);
    Bytes bytes(std::size_t(field.size), 0);
    const std::size_t count = std::min(digits.size(), bytes.size());
    const std::size_t first = bytes.size() - count;
    for (std::size_t i = 0; i < count; ++i)
        bytes[first + i] = static_cast<std::uint8_t>(decimal(digits.substr(i, 1)));
    return bytes;
}

} // namespace

std::string ReadField(const Bytes &block, int position, const TFieldParams &field, int maskIndex)
{
    const TValueKind kind = BuiltInKind(field.type);
    if (!IsTextKind(kind))
        return filterText(readInteger(block, position, field, maskIndex));
    if (kind == TValueKind::Phone) {
        checkPhoneSize(field);
        checkInsideBlock(block, position, kPhoneFieldBytes, field);
        const auto first = block.begin() + (position - 1);
        return filterText(PhoneBytesToText(Bytes(first, first + kPhoneFieldBytes)));
    }
    checkSize(field);
    checkInsideBlock(block, position, field.size, field);
    switch (kind) {
    case TValueKind::String:
        return readString(block, position, field);
    case TValueKind::Ip:
        return filterText(readIp(block, position, field));
    case TValueKind::DecArray:
        return filterText(readDecArray(block, position, field));
    default:
        // "hex" is little-endian; the password and the byte array are shown in byte order.
        return filterText(readBytesHex(block, position, field, kind == TValueKind::Hex));
    }
}

Bytes WriteField(const std::string &text, const TFieldParams &field)
{
    const TValueKind kind = BuiltInKind(field.type);
    if (!IsTextKind(kind))
        return writeInteger(text, field);
    if (kind == TValueKind::Phone) {
        checkPhoneSize(field);
        return PhoneTextToBytes(text);
    }
    checkSize(field);
    switch (kind) {
    case TValueKind::String:
        return writeString(text, field);
    case TValueKind::Password:
        return writePassword(text, field);
    case TValueKind::Ip:
        return writeIp(text, field);
    case TValueKind::Hex:
        return writeHex(text, field);
    case TValueKind::HexArray:
        return writeHexArray(text, field);
    default:
        return writeDecArray(text, field);
    }
}

Bytes PackMaskElements(const TFieldParams &field, const std::vector<std::string> &texts)
{
    checkSize(field);
    const std::int64_t bits = field.ValueBits();
    checkBits(field, bits);
    Bytes bytes(std::size_t(field.size), 0);
    for (std::size_t k = 0; k < texts.size(); ++k) {
        checkMaskElement(field, bits, int(k));
        // Masking keeps a negative element from spilling its sign into the next elements.
        const std::uint64_t element = static_cast<std::uint64_t>(std::int64_t(ScaleToStored(texts[k], field, bits))) &
                                      lowBits(bits);
        const std::int64_t bitPosition = std::int64_t(k) * bits;
        const std::int64_t shift = bitPosition % 8;
        for (std::size_t i = std::size_t(bitPosition / 8); i < bytes.size(); ++i) {
            const std::int64_t offset = std::int64_t(i - std::size_t(bitPosition / 8)) * 8 - shift;
            if (offset >= bits)
                break;
            const std::uint64_t part = offset < 0 ? element << -offset : shiftRight(element, offset);
            bytes[i] |= static_cast<std::uint8_t>(part & 0xFF);
        }
    }
    return bytes;
}

std::string PhoneBytesToText(const Bytes &bytes)
{
    std::string text;
    for (const std::uint8_t byte : bytes) {
        for (const std::uint8_t place : {std::uint8_t(byte >> 4), std::uint8_t(byte & 0x0F)}) {
            if (place == kPhonePlus)
                text += '+';
            else if (place != kPhoneUnused)
                text += kHexDigits[place];
        }
    }
    return text;
}

Bytes PhoneTextToBytes(const std::string &text)
{
    Bytes bytes(kPhoneFieldBytes, kPhoneUnusedByte);
    const std::size_t places = std::min(text.size(), kPhonePlaces);
    for (std::size_t i = 0; i < places; ++i) {
        const char c = text[i];
        std::uint8_t place;
        if (c == '+')
            place = kPhonePlus;
        else if (c >= '0' && c <= '9')
            place = static_cast<std::uint8_t>(c - '0');
        else
            throw EConvertError("Некорректный телефон: " + text);
        SetNibble(bytes[i / 2], place, i % 2 == 0);
    }
    return bytes;
}

void SetNibble(std::uint8_t &byte, std::uint8_t value, bool high)
{
    if (high)
        byte = static_cast<std::uint8_t>((byte & 0x0F) | ((value << 4) & 0xFF));
    else
        byte = static_cast<std::uint8_t>((byte & 0xF0) | value);
}
