#include "link/crc.h"

#include <gtest/gtest.h>

#include <string>

TEST(Crc8, KnownVectors)
{
    const struct {
        std::string bytes;
        int count;
        std::uint8_t crc;
    } cases[] = {
        {"123456789", 9, 0xA1}, // the check value
        {"\x55", 0, 0},         // empty and negative counts yield zero
        {"\x55", -3, 0},
        // Single bytes are the table entries.
        {std::string(1, '\0'), 1, 0x00},
        {"\x01", 1, 0x5E},
        {"\x02", 1, 0xBC},
        {"\x80", 1, 0x8C},
        {"\xFF", 1, 0x35},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Crc8(reinterpret_cast<const std::uint8_t *>(c.bytes.data()), c.count), c.crc) << c.bytes;
}

TEST(Crc8, ResidueOverDataAndItsChecksumIsZero)
{
    std::uint8_t data[] = {0xCA, 0x04, 0x00, 0x01, 0x12, 0x34, 0x56, 0x00};
    data[7] = Crc8(data, 7);
    EXPECT_EQ(Crc8(data, 8), 0);
}
