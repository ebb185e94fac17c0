#include "link/crc.h"

#include <array>

namespace {

constexpr std::array<std::uint8_t, 256> makeCrc8Table()
{
    std::array<std::uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        auto crc = static_cast<std::uint8_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint8_t>((crc >> 1) ^ 0x8C) : static_cast<std::uint8_t>(crc >> 1);
        table[static_cast<std::size_t>(i)] = crc;
    }
    return table;
}

constexpr auto kCrc8Table = makeCrc8Table();
static_assert(kCrc8Table[1] == 0x5E && kCrc8Table[2] == 0xBC && kCrc8Table[255] == 0x35);

} // namespace

std::uint8_t Crc8(const std::uint8_t *data, long count)
{
    std::uint8_t crc = 0;
    for (long i = 0; i < count; ++i)
        crc = kCrc8Table[crc ^ data[i]];
    return crc;
}
