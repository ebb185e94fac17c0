#include "model/cp1251.h"

#include <gtest/gtest.h>

TEST(Cp1251, DecodesTheWholeHighHalfAndEveryByteRoundTrips)
{
    const struct {
        std::uint8_t byte;
        char32_t code;
    } cases[] = {{0x41, U'A'}, {0xC0, U'А'}, {0xFF, U'я'}, {0xA8, U'Ё'}, {0xB8, U'ё'},
                 {0xB9, U'№'}, {0x80, U'Ђ'}, {0x88, U'€'}, {0x98, 0x98}, {0xA0, 0xA0}};
    for (const auto &c : cases)
        EXPECT_EQ(Cp1251ToUnicode(c.byte), c.code) << int(c.byte);
    std::string all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), all);
}

TEST(Cp1251, UnrepresentableCharactersBecomeTheReplacement)
{
    EXPECT_EQ(Utf8ToCp1251("Привет"), "\xCF\xF0\xE8\xE2\xE5\xF2");
    EXPECT_EQ(Utf8ToCp1251("a\u4E2Db"), "a?b");
    EXPECT_EQ(Utf8ToCp1251("x\xFFy"), "x?y"); // not UTF-8
    EXPECT_EQ(Utf8ToCp1251("\xD0"), "?");     // cut-off sequence
}
