#include "link/crc.h"

#include <gtest/gtest.h>

#include <string>

TEST(Crc8, KnownVectors)
{
    const struct {
        std::string bytes;
        long count;
        std::uint8_t crc;
    } cases[] = {
        {"123456789", 9, 0xA1}, // the check value: every byte counts
        {"\x55", 0, 0},         // empty and negative counts yield zero
        {"\x55", -3, 0},
        {"\x80", 1, 0x8C},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Crc8(reinterpret_cast<const std::uint8_t *>(c.bytes.data()), c.count), c.crc) << c.bytes;
}
