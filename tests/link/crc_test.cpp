#include "link/crc.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(Crc8, CheckValueOfTheNineDigits)
{
    const char digits[] = "123456789";
    EXPECT_EQ(Crc8(reinterpret_cast<const std::uint8_t *>(digits), 9), 0xA1);
}

TEST(Crc8, EmptyAndNegativeCountsYieldZero)
{
    const std::uint8_t byte = 0x55;
    EXPECT_EQ(Crc8(&byte, 0), 0);
    EXPECT_EQ(Crc8(&byte, -3), 0);
}

TEST(Crc8, SingleBytesAreTheTableEntries)
{
    const struct {
        std::uint8_t byte, crc;
    } cases[] = {{0x00, 0x00}, {0x01, 0x5E}, {0x02, 0xBC}, {0x80, 0x8C}, {0xFF, 0x35}};
    for (const auto &c : cases)
        EXPECT_EQ(Crc8(&c.byte, 1), c.crc) << int(c.byte);
}

TEST(Crc8, ResidueOverDataAndItsChecksumIsZero)
{
    std::uint8_t data[] = {0xCA, 0x04, 0x00, 0x01, 0x12, 0x34, 0x56, 0x00};
    data[7] = Crc8(data, 7);
    EXPECT_EQ(Crc8(data, 8), 0);
}
