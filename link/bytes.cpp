#include "link/bytes.h"

#include <algorithm>

Bytes WordToBytes(std::uint16_t value)
{
    return {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8)};
}

Bytes CopyBytes(const Bytes &data, std::size_t index, std::size_t count)
{
    if (index >= data.size())
        return {};
    const std::size_t n = std::min(count, data.size() - index);
    return Bytes(data.begin() + static_cast<std::ptrdiff_t>(index),
                 data.begin() + static_cast<std::ptrdiff_t>(index + n));
}

std::string HexDump(const std::uint8_t *data, std::size_t count, std::string_view separator)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(count * (2 + separator.size()));
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0)
            text += separator;
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 0x0F];
    }
    return text;
}

std::string HexDump(const Bytes &data, std::string_view separator)
{
    return HexDump(data.data(), data.size(), separator);
}
