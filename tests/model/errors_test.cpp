#include "model/errors.h"
#include "tests/model/catalogue_fixture.h"

#include <gtest/gtest.h>

TEST(StrToInt, AcceptsDecimalAndDollarHexAndTheWideFormEveryFourByteValue)
{
    const struct {
        const char *text;
        std::int32_t value;
    } cases[] = {{"0", 0},          {"42", 42},         {"-17", -17},       {"+5", 5},
                 {"$1F", 31},       {"$ff", 255},       {"2147483647", 2147483647},
                 {"-2147483648", -2147483647 - 1},      {"$FFFFFFFF", -1},  {"007", 7}};
    for (const auto &c : cases)
        EXPECT_EQ(StrToInt(c.text), c.value) << c.text;
    EXPECT_EQ(StrToIntWide("4294967295"), 4294967295LL);
    EXPECT_EQ(StrToIntWide("-2147483648"), -2147483648LL);
    EXPECT_THROW(StrToIntWide("4294967296"), EConvertError);
    EXPECT_THROW(StrToIntWide("-2147483649"), EConvertError);
}

TEST(StrToInt, RejectsEverythingElseWithTheStandardMessage)
{
    for (const char *text : {"", " 1", "1 ", "1.5", "abc", "0x10", "$", "-", "2147483648", "$100000000", "12a"})
        EXPECT_EQ(FailureOf([&] { StrToInt(text); }),
                  "EConvertError: '" + std::string(text) + "' is not a valid integer value");
}
