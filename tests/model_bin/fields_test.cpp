#include "model_bin/fields.h"

#include "model/errors.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

namespace {

// "2C 01" -> {0x2C, 0x01}
Bytes bytesOf(const std::string &dump)
{
    Bytes bytes;
    std::istringstream in(dump);
    std::string pair;
    while (in >> pair)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(pair, nullptr, 16)));
    return bytes;
}

TFieldParams fieldOf(const char *type, int size)
{
    TFieldParams field;
    field.name = "item";
    field.type = type;
    field.size = size;
    field.bits = 8 * size;
    return field;
}

TFieldParams withBits(TFieldParams field, int bits)
{
    field.bits = bits;
    field.hasBits = true;
    return field;
}

TFieldParams scaled(TFieldParams field, std::int32_t mul, std::int32_t div, std::int32_t add = 0,
                    std::int32_t sub = 0)
{
    field.mul = mul;
    field.div = div;
    field.add = add;
    field.sub = sub;
    return field;
}

// Guard bytes around the field catch reads that start or end one byte off.
constexpr std::uint8_t kGuard = 0xEE;

std::string readGuarded(const Bytes &field, const TFieldParams &params, int maskIndex = 0)
{
    Bytes block{kGuard};
    block.insert(block.end(), field.begin(), field.end());
    block.push_back(kGuard);
    return ReadField(block, 2, params, maskIndex);
}

// The exception class and text the user would see, or a note that nothing was raised.
std::string failureOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const EError &e) {
        return std::string(e.ClassName()) + ": " + e.what();
    }
    return "no error";
}

struct TFieldCase {
    const char *label;
    TFieldParams field;
    const char *bytes;
    const char *text;
};

struct TFailureCase {
    const char *label;
    std::function<void()> call;
    const char *failure;
};

void expectFailures(const std::vector<TFailureCase> &cases)
{
    for (const auto &c : cases)
        EXPECT_EQ(failureOf(c.call), c.failure) << c.label;
}

} // namespace

// ------------------------------------------------------------------ integers

TEST(IntegerField, ReadsAndWritesTheSameBytes)
{
    const TFieldCase cases[] = {
        {"two bytes little-endian", fieldOf("int", 2), "2C 01", "300"},
        {"three bytes", fieldOf("int", 3), "56 34 12", "1193046"},
        {"four bytes one", fieldOf("int", 4), "01 00 00 00", "1"},
        {"largest signed", fieldOf("int", 4), "FF FF FF 7F", "2147483647"},
        {"all ones read unsigned", fieldOf("int", 4), "FF FF FF FF", "4294967295"},
        {"all ones with bits 32", withBits(fieldOf("int", 4), 32), "FF FF FF FF", "4294967295"},
        {"add on the stored side", scaled(fieldOf("int", 1), 1, 1, 40), "1E", "-10"},
        {"sub on the stored side", scaled(fieldOf("int", 1), 1, 1, 0, 5), "00", "5"},
        {"mul scales the stored value up", scaled(fieldOf("int", 2), 10, 1), "2C 01", "30"},
        {"negative div flips the sign", scaled(fieldOf("int", 1), 1, -1), "05", "-5"},
        {"bits 4 largest value", withBits(fieldOf("int", 1), 4), "0F", "15"},
        {"bool is an integer", fieldOf("bool", 1), "01", "1"},
        {"enumeration is an integer", fieldOf("tMode", 1), "03", "3"},
        {"type words are case-sensitive", fieldOf("Hex", 1), "FF", "255"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(readGuarded(bytesOf(c.bytes), c.field), c.text) << c.label;
        EXPECT_EQ(HexDump(WriteField(c.text, c.field)), c.bytes) << c.label;
    }
}

TEST(IntegerField, ReadingScalesWithTruncationTowardZero)
{
    const TFieldCase cases[] = {
        {"div 10", scaled(fieldOf("int", 1), 1, 10), "0C", "120"},
        {"mul 3 truncates", scaled(fieldOf("int", 1), 3, 1), "0A", "3"},
        {"negative quotient truncates toward zero", scaled(fieldOf("int", 1), -3, 1), "0A", "-3"},
        {"div 0 only divides when writing", scaled(fieldOf("int", 1), 1, 0, 2, 7), "05", "5"},
        {"bits pick the low bits", withBits(fieldOf("int", 1), 4), "F3", "3"},
        {"largest factors stay exact", scaled(fieldOf("int", 4), 1, 2147483647), "FF FF FF FF",
         "9223372030412324865"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(readGuarded(bytesOf(c.bytes), c.field), c.text) << c.label;
}

TEST(IntegerField, WritingWrapsLikeThirtyTwoBitArithmetic)
{
    const TFieldCase cases[] = {
        {"div 10 truncates", scaled(fieldOf("int", 1), 1, 10), "0C", "125"},
        {"negative quotient truncates toward zero", scaled(fieldOf("int", 1), 1, 2), "FD", "-7"},
        {"mul 0 leaves the offsets", scaled(fieldOf("int", 1), 0, 1, 7), "07", "99"},
        {"dollar hex", fieldOf("int", 1), "FF", "$FF"},
        {"largest unsigned text", fieldOf("int", 4), "FF FF FF FF", "4294967295"},
        {"dollar hex of all ones", fieldOf("int", 4), "FF FF FF FF", "$FFFFFFFF"},
        {"bits 32 takes the largest signed", withBits(fieldOf("int", 4), 32), "FF FF FF 7F", "2147483647"},
        {"add overflows into the sign", scaled(fieldOf("int", 4), 1, 1, 1), "00 00 00 80", "2147483647"},
        {"mul overflows into the sign", scaled(fieldOf("int", 4), 2, 1), "FE FF FF FF", "2147483647"},
        {"lowest divided by minus one wraps", scaled(fieldOf("int", 4), 1, -1), "00 00 00 80", "-2147483648"},
        {"negative fills one byte only", fieldOf("int", 1), "FF", "-1"},
        {"negative fills two bytes only", fieldOf("int", 2), "FE FF", "-2"},
        {"negative sign-extends a wide field", withBits(fieldOf("int", 6), 12), "FE FF FF FF FF FF", "-2"},
        {"wide field positive", fieldOf("int", 6), "05 00 00 00 00 00", "5"},
        {"negative sign-extends past eight bytes", fieldOf("int", 10), "FF FF FF FF FF FF FF FF FF FF", "-1"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(HexDump(WriteField(c.text, c.field)), c.bytes) << c.label;
}

TEST(IntegerField, Failures)
{
    const TFieldParams byte = fieldOf("int", 1);
    const TFieldParams dword = fieldOf("int", 4);
    expectFailures({
        {"bits 4", [&] { WriteField("16", withBits(byte, 4)); },
         "ERangeError: item: значение 16 не помещается в 4 бит."},
        {"default bits of one byte", [&] { WriteField("256", byte); },
         "ERangeError: item: значение 256 не помещается в 8 бит."},
        {"range checks the scaled value", [&] { WriteField("30", scaled(byte, 10, 1)); },
         "ERangeError: item: значение 300 не помещается в 8 бит."},
        {"bits 30", [&] { WriteField("1073741824", withBits(dword, 30)); },
         "ERangeError: item: значение 1073741824 не помещается в 30 бит."},
        {"above four bytes", [&] { WriteField("4294967296", dword); },
         "EConvertError: '4294967296' is not a valid integer value"},
        {"below the lowest", [&] { WriteField("-2147483649", dword); },
         "EConvertError: '-2147483649' is not a valid integer value"},
        {"empty text", [&] { WriteField("", byte); }, "EConvertError: '' is not a valid integer value"},
        {"trailing letter", [&] { WriteField("12a", byte); }, "EConvertError: '12a' is not a valid integer value"},
        {"div 0 writing", [&] { WriteField("5", scaled(byte, 1, 0)); }, "EZeroDivide: item: деление на ноль."},
        {"text is parsed before dividing", [&] { WriteField("x", scaled(byte, 1, 0)); },
         "EConvertError: 'x' is not a valid integer value"},
        {"mul 0 reading", [&] { ReadField(Bytes{5}, 1, scaled(byte, 0, 1), 0); },
         "EZeroDivide: item: деление на ноль."},
        {"mul 0 reading a wide field", [&] { ReadField(Bytes(6, 0), 1, scaled(withBits(fieldOf("int", 6), 12), 0, 1), 0); },
         "EZeroDivide: item: деление на ноль."},
        {"wide field without bits", [&] { ReadField(Bytes(6, 0), 1, fieldOf("int", 6), 0); },
         "EDescriptionError: Элемент \"item\": для целого поля шире 4 байт нужен атрибут bits."},
        {"size 0 reading", [&] { ReadField(Bytes(4, 0), 1, fieldOf("int", 0), 0); },
         "EDescriptionError: Элемент \"item\": недопустимая ширина поля."},
        {"size 0 writing", [&] { WriteField("0", fieldOf("int", 0)); },
         "EDescriptionError: Элемент \"item\": недопустимая ширина поля."},
        {"bits 0 writing", [&] { WriteField("0", withBits(byte, 0)); },
         "EDescriptionError: Элемент \"item\": недопустимая ширина поля."},
    });
}

// -------------------------------------------------------------- mask elements

TEST(MaskElements, TwoBitElementsShareOneByte)
{
    const TFieldParams field = withBits(fieldOf("int", 1), 2);
    EXPECT_EQ(HexDump(PackMaskElements(field, {"1", "0", "3", "2"})), "B1");
    const char *const expected[] = {"1", "0", "3", "2"};
    for (int m = 0; m < 4; ++m)
        EXPECT_EQ(readGuarded(bytesOf("B1"), field, m), expected[m]) << m;
}

TEST(MaskElements, ElementsCrossByteBoundaries)
{
    // 1 | 2 << 3 | 3 << 6 | 4 << 9 | 5 << 12 = 0x58D1
    const TFieldParams field = withBits(fieldOf("int", 2), 3);
    EXPECT_EQ(HexDump(PackMaskElements(field, {"1", "2", "3", "4", "5"})), "D1 58");
    for (int m = 0; m < 5; ++m)
        EXPECT_EQ(readGuarded(bytesOf("D1 58"), field, m), std::to_string(m + 1)) << m;
}

TEST(MaskElements, WideFieldReadsThroughAFourByteWindow)
{
    // 0x789 456 123 ABC: element 3 starts at bit 36, byte p+4 bit 4.
    const TFieldParams field = withBits(fieldOf("int", 6), 12);
    const Bytes packed = PackMaskElements(field, {"2748", "291", "1110", "1929"});
    EXPECT_EQ(HexDump(packed), "BC 3A 12 56 94 78");
    const char *const expected[] = {"2748", "291", "1110", "1929"};
    Bytes followed{kGuard};
    followed.insert(followed.end(), packed.begin(), packed.end());
    followed.insert(followed.end(), {0xFF, 0xFF, 0xFF});
    for (int m = 0; m < 4; ++m) {
        // At the block's end the window runs past it and reads zeros.
        EXPECT_EQ(ReadField(packed, 1, field, m), expected[m]) << m;
        EXPECT_EQ(ReadField(followed, 2, field, m), expected[m]) << m;
    }
    EXPECT_EQ(ReadField(bytesOf("00 00 00 00 F0 00"), 1, field, 3), "15");
    EXPECT_EQ(ReadField(bytesOf("00 00 00 00 00 01"), 1, field, 3), "16");
}

TEST(MaskElements, WideFieldShowsTheScaledValueAsUnsigned)
{
    const TFieldParams field = scaled(withBits(fieldOf("int", 6), 12), 1, 1, 1);
    EXPECT_EQ(ReadField(Bytes(6, 0), 1, field, 0), "4294967295");
    EXPECT_EQ(ReadField(bytesOf("05 00 00 00 00 00"), 1, field, 0), "4");
}

TEST(MaskElements, ThirtyTwoBitElements)
{
    const TFieldParams field = withBits(fieldOf("int", 8), 32);
    const Bytes packed = PackMaskElements(field, {"1", "4294967295"});
    EXPECT_EQ(HexDump(packed), "01 00 00 00 FF FF FF FF");
    EXPECT_EQ(ReadField(packed, 1, field, 0), "1");
    EXPECT_EQ(ReadField(packed, 1, field, 1), "4294967295");
}

TEST(MaskElements, NarrowFieldShiftsByTheMaskIndex)
{
    const TFieldParams field = withBits(fieldOf("int", 2), 8);
    EXPECT_EQ(readGuarded(bytesOf("34 12"), field, 0), "52");
    EXPECT_EQ(readGuarded(bytesOf("34 12"), field, 1), "18");
}

TEST(MaskElements, NegativeElementsStayInTheirOwnBits)
{
    const TFieldParams field = withBits(fieldOf("int", 1), 4);
    EXPECT_EQ(HexDump(PackMaskElements(field, {"-1", "0"})), "0F");
    EXPECT_EQ(HexDump(PackMaskElements(field, {"0", "-1"})), "F0");
    EXPECT_EQ(HexDump(PackMaskElements(withBits(fieldOf("int", 2), 3), {"0", "0", "-1"})), "C0 01");
}

TEST(MaskElements, PackingScalesEachElementAndFillsTheField)
{
    const TFieldParams field = scaled(withBits(fieldOf("int", 1), 4), 1, 1, 1);
    EXPECT_EQ(HexDump(PackMaskElements(field, {"0", "1"})), "21");
    EXPECT_EQ(readGuarded(bytesOf("21"), field, 0), "0");
    EXPECT_EQ(readGuarded(bytesOf("21"), field, 1), "1");
    EXPECT_EQ(HexDump(PackMaskElements(withBits(fieldOf("int", 3), 4), {"1"})), "01 00 00");
    EXPECT_EQ(HexDump(PackMaskElements(withBits(fieldOf("int", 2), 4), {})), "00 00");
    EXPECT_EQ(HexDump(PackMaskElements(fieldOf("int", 2), {"258"})), "02 01");
}

TEST(MaskElements, Failures)
{
    const TFieldParams threeBits = withBits(fieldOf("int", 1), 3);
    const TFieldParams wide = withBits(fieldOf("int", 8), 30);
    const Bytes block(8, 0);
    expectFailures({
        {"packed element out of range", [&] { PackMaskElements(withBits(fieldOf("int", 1), 2), {"1", "4"}); },
         "ERangeError: item: значение 4 не помещается в 2 бит."},
        {"packed element not a number", [&] { PackMaskElements(threeBits, {"1", "z"}); },
         "EConvertError: 'z' is not a valid integer value"},
        {"packed element past the field", [&] { PackMaskElements(threeBits, {"1", "1", "1"}); },
         "EDescriptionError: Элемент \"item\": элемент маски 2 не помещается в поле из 1 байт."},
        {"read element past the field", [&] { ReadField(block, 1, threeBits, 2); },
         "EDescriptionError: Элемент \"item\": элемент маски 2 не помещается в поле из 1 байт."},
        {"second element of bits wider than the field", [&] { ReadField(block, 1, withBits(fieldOf("int", 1), 12), 1); },
         "EDescriptionError: Элемент \"item\": элемент маски 1 не помещается в поле из 1 байт."},
        {"negative mask index", [&] { ReadField(block, 1, threeBits, -1); },
         "EDescriptionError: Элемент \"item\": элемент маски -1 не помещается в поле из 1 байт."},
        {"wide element past the field", [&] { ReadField(block, 1, withBits(fieldOf("int", 6), 12), 4); },
         "EDescriptionError: Элемент \"item\": элемент маски 4 не помещается в поле из 6 байт."},
        {"wide element crossing its window", [&] { ReadField(block, 1, wide, 1); },
         "EDescriptionError: Элемент \"item\": элемент маски 1 не помещается в окно из 4 байт."},
        {"bits 0 packing", [&] { PackMaskElements(withBits(fieldOf("int", 1), 0), {"0"}); },
         "EDescriptionError: Элемент \"item\": недопустимая ширина поля."},
        {"bits 65 packing", [&] { PackMaskElements(withBits(fieldOf("int", 9), 65), {"0"}); },
         "EDescriptionError: Элемент \"item\": недопустимая ширина поля."},
        {"bits 0 reading", [&] { ReadField(block, 1, withBits(fieldOf("int", 1), 0), 0); },
         "EDescriptionError: Элемент \"item\": недопустимая ширина поля."},
        {"size 0 packing", [&] { PackMaskElements(withBits(fieldOf("int", 0), 2), {}); },
         "EDescriptionError: Элемент \"item\": недопустимая ширина поля."},
    });
    EXPECT_EQ(ReadField(block, 1, wide, 0), "0");
}

// ------------------------------------------------------------------- strings

TEST(StringField, ReadsAndWritesTheSameBytes)
{
    const TFieldCase cases[] = {
        {"padded with spaces", fieldOf("string", 8), "41 42 43 20 20 20 20 20", "ABC     "},
        {"Cyrillic in Windows-1251", fieldOf("string", 6), "CF F0 E8 E2 E5 F2", "Привет"},
        {"edges of the kept ranges", fieldOf("string", 4), "20 7E C0 FF", " ~Ая"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(readGuarded(bytesOf(c.bytes), c.field), c.text) << c.label;
        EXPECT_EQ(HexDump(WriteField(c.text, c.field)), c.bytes) << c.label;
    }
}

TEST(StringField, ReadingReplacesUnprintableBytesWithSpaces)
{
    const TFieldCase cases[] = {
        {"zero byte", fieldOf("string", 3), "41 00 42", "A B"},
        {"control, delete, Yo and yo", fieldOf("string", 4), "1F 7F A8 B8", "    "},
        {"euro sign and last byte below the letters", fieldOf("string", 3), "88 BF C1", "  Б"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(readGuarded(bytesOf(c.bytes), c.field), c.text) << c.label;
}

TEST(StringField, WritingPadsTruncatesAndReplaces)
{
    const TFieldCase cases[] = {
        {"short text padded", fieldOf("string", 8), "41 42 43 20 20 20 20 20", "ABC"},
        {"long text cut", fieldOf("string", 3), "41 42 43", "ABCDEF"},
        {"cut by characters, not UTF-8 bytes", fieldOf("string", 3), "CF F0 E8", "Привет"},
        {"no Windows-1251 character", fieldOf("string", 3), "3F A8 20", "中Ё"},
        {"empty text", fieldOf("string", 2), "20 20", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(HexDump(WriteField(c.text, c.field)), c.bytes) << c.label;
}

// ------------------------------------------------------ password and address

TEST(PasswordField, ReadsAndWritesTheSameBytes)
{
    const TFieldCase cases[] = {
        {"three bytes", fieldOf("pswd_string", 3), "12 34 50", "123450"},
        {"two bytes", fieldOf("pswd_string", 2), "AB 0C", "AB0C"},
        {"five bytes", fieldOf("pswd_string", 5), "01 23 45 67 89", "0123456789"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(readGuarded(bytesOf(c.bytes), c.field), c.text) << c.label;
        EXPECT_EQ(HexDump(WriteField(c.text, c.field)), c.bytes) << c.label;
    }
}

TEST(PasswordField, WritingFillsFromTheStart)
{
    const TFieldParams field = fieldOf("pswd_string", 3);
    const TFieldCase cases[] = {
        {"lone last digit is a high nibble", field, "12 34 50", "12345"},
        {"one digit", field, "10 00 00", "1"},
        {"empty text", field, "00 00 00", ""},
        {"digits beyond the field dropped", field, "12 34 56", "1234567"},
        {"digits beyond the field not checked", field, "12 34 56", "123456zz"},
        {"lower case", field, "AB CD EF", "abcdef"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(HexDump(WriteField(c.text, c.field)), c.bytes) << c.label;
}

TEST(IpField, ReadsAndWritesTheSameBytes)
{
    const TFieldCase cases[] = {
        {"four bytes last first", fieldOf("ip_string", 4), "14 01 A8 C0", "192.168.001.020"},
        {"two bytes", fieldOf("ip_string", 2), "02 01", "001.002"},
        {"all zero", fieldOf("ip_string", 4), "00 00 00 00", "000.000.000.000"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(readGuarded(bytesOf(c.bytes), c.field), c.text) << c.label;
        EXPECT_EQ(HexDump(WriteField(c.text, c.field)), c.bytes) << c.label;
    }
}

TEST(IpField, WritingTakesComponentsLeftToRight)
{
    const TFieldParams field = fieldOf("ip_string", 4);
    const TFieldCase cases[] = {
        {"unpadded components", field, "14 01 A8 C0", "192.168.1.20"},
        {"missing component", field, "00 03 02 01", "1.2.3"},
        {"above 255", field, "01 01 01 00", "300.1.1.1"},
        {"longer than three characters", field, "01 01 01 00", "1000.1.1.1"},
        {"long component not checked", field, "01 01 01 00", "abcd.1.1.1"},
        {"empty component", field, "03 02 00 01", "1..2.3"},
        {"empty text", field, "00 00 00 00", ""},
        {"components beyond the field ignored", field, "04 03 02 01", "1.2.3.4.x"},
        {"negative component", field, "04 03 02 00", "-1.2.3.4"},
        {"two-byte field", fieldOf("ip_string", 2), "02 01", "1.2.3"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(HexDump(WriteField(c.text, c.field)), c.bytes) << c.label;
}

// -------------------------------------------------------------- hexadecimal

TEST(HexField, ReadsAndWritesTheSameBytes)
{
    const TFieldCase cases[] = {
        {"two bytes little-endian", fieldOf("hex", 2), "0A 00", "000A"},
        {"four bytes", fieldOf("hex", 4), "78 56 34 12", "12345678"},
        {"six bytes", fieldOf("hex", 6), "01 02 03 04 05 06", "060504030201"},
        {"byte array in order", fieldOf("hex_array", 4), "01 02 A0 00", "0102A000"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(readGuarded(bytesOf(c.bytes), c.field), c.text) << c.label;
        EXPECT_EQ(HexDump(WriteField(c.text, c.field)), c.bytes) << c.label;
    }
}

TEST(HexField, WritingFillsFromTheEnd)
{
    const TFieldCase cases[] = {
        {"pairs from the end", fieldOf("hex", 2), "2B 1A", "1A2B"},
        {"leading digit alone", fieldOf("hex", 2), "BC 0A", "ABC"},
        {"digits beyond the field dropped", fieldOf("hex", 1), "2B", "1A2B"},
        {"dropped digits not checked", fieldOf("hex", 1), "BC", "XBC"},
        {"empty text", fieldOf("hex", 2), "00 00", ""},
        {"lower case", fieldOf("hex", 2), "AB 00", "ab"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(HexDump(WriteField(c.text, c.field)), c.bytes) << c.label;
}

TEST(HexArrayField, WritingFillsFromTheStart)
{
    const TFieldCase cases[] = {
        {"short text", fieldOf("hex_array", 4), "01 02 A0 00", "0102A0"},
        {"odd last digit ignored", fieldOf("hex_array", 4), "01 02 00 00", "0102A"},
        {"long text cut", fieldOf("hex_array", 2), "01 02", "0102030405"},
        {"empty text", fieldOf("hex_array", 2), "00 00", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(HexDump(WriteField(c.text, c.field)), c.bytes) << c.label;
}

// ------------------------------------------------------------ decimal array

TEST(DecArrayField, ReadsAndWritesTheSameBytes)
{
    const TFieldCase cases[] = {
        {"all zero", fieldOf("dec_array", 5), "00 00 00 00 00", "00000"},
        {"leading zeros dropped", fieldOf("dec_array", 5), "00 00 01 02 03", "123"},
        {"inner zero kept", fieldOf("dec_array", 3), "09 00 01", "901"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(readGuarded(bytesOf(c.bytes), c.field), c.text) << c.label;
        EXPECT_EQ(HexDump(WriteField(c.text, c.field)), c.bytes) << c.label;
    }
}

TEST(DecArrayField, ReadingAndWritingEdges)
{
    EXPECT_EQ(readGuarded(bytesOf("00 0C"), fieldOf("dec_array", 2)), "12");
    const TFieldCase cases[] = {
        {"long text keeps its first digits", fieldOf("dec_array", 5), "01 02 03 04 05", "1234567"},
        {"characters beyond the field not checked", fieldOf("dec_array", 2), "01 02", "12x"},
        {"empty text", fieldOf("dec_array", 3), "00 00 00", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(HexDump(WriteField(c.text, c.field)), c.bytes) << c.label;
}

TEST(TextFields, ConversionFailuresNameTheOffendingPiece)
{
    expectFailures({
        {"password pair", [] { WriteField("12G4", fieldOf("pswd_string", 3)); },
         "EConvertError: '$G4' is not a valid integer value"},
        {"password lone digit", [] { WriteField("12G", fieldOf("pswd_string", 3)); },
         "EConvertError: '$G' is not a valid integer value"},
        {"hex pair", [] { WriteField("G1", fieldOf("hex", 1)); }, "EConvertError: '$G1' is not a valid integer value"},
        {"hex leading digit", [] { WriteField("G12", fieldOf("hex", 2)); },
         "EConvertError: '$G' is not a valid integer value"},
        {"hex Cyrillic letter", [] { WriteField("1Я", fieldOf("hex", 1)); },
         "EConvertError: '$1Я' is not a valid integer value"},
        {"hex array pair", [] { WriteField("01ZZ", fieldOf("hex_array", 2)); },
         "EConvertError: '$ZZ' is not a valid integer value"},
        {"decimal array letter", [] { WriteField("12a", fieldOf("dec_array", 5)); },
         "EConvertError: 'a' is not a valid integer value"},
        {"decimal array Cyrillic letter", [] { WriteField("1я", fieldOf("dec_array", 2)); },
         "EConvertError: 'я' is not a valid integer value"},
        {"address component", [] { WriteField("1.x.1.1", fieldOf("ip_string", 4)); },
         "EConvertError: 'x' is not a valid integer value"},
    });
}

// --------------------------------------------------------------------- phone

TEST(SetNibble, ReplacesOneHalfOnly)
{
    const struct {
        std::uint8_t byte, value;
        bool high;
        std::uint8_t result;
    } cases[] = {{0x12, 5, true, 0x52}, {0x12, 5, false, 0x15}, {0xDD, 10, true, 0xAD},
                 {0xDD, 10, false, 0xDA}, {0xFF, 0, false, 0xF0}, {0xFF, 0, true, 0x0F}};
    for (const auto &c : cases) {
        std::uint8_t byte = c.byte;
        SetNibble(byte, c.value, c.high);
        EXPECT_EQ(byte, c.result) << int(c.byte) << " " << int(c.value) << " " << c.high;
    }
}

TEST(PhoneCodec, BytesToText)
{
    const struct {
        const char *bytes, *text;
    } cases[] = {
        {"A1 2D DD DD DD DD DD DD", "+12"},
        {"DD DD DD DD DD DD DD DD", ""},
        {"12 DD 34 DD DD DD DD DD", "1234"},
        {"1A FF DD DD DD DD DD DD", "1+FF"},
        {"BC E0", "BCE0"},
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(PhoneBytesToText(bytesOf(c.bytes)), c.text) << c.bytes;
}

TEST(PhoneCodec, TextToBytes)
{
    const struct {
        const char *text, *bytes;
    } cases[] = {
        {"+12", "A1 2D DD DD DD DD DD DD"},
        {"", "DD DD DD DD DD DD DD DD"},
        {"123456789012345", "12 34 56 78 90 12 34 5D"},
        {"1234567890123456", "12 34 56 78 90 12 34 56"},
        {"12345678901234567", "12 34 56 78 90 12 34 56"},
        {"1234567890123456x", "12 34 56 78 90 12 34 56"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(HexDump(PhoneTextToBytes(c.text)), c.bytes) << c.text;
}

TEST(PhoneCodec, ForeignCharacterFailsWithTheWholeText)
{
    expectFailures({
        {"dash", [] { PhoneTextToBytes("12-34"); }, "EConvertError: Некорректный телефон: 12-34"},
        {"sixteenth place", [] { PhoneTextToBytes("123456789012345x9"); },
         "EConvertError: Некорректный телефон: 123456789012345x9"},
        {"Cyrillic letter", [] { PhoneTextToBytes("8я"); }, "EConvertError: Некорректный телефон: 8я"},
    });
}

TEST(PhoneField, ReadsAndWritesEightBytes)
{
    const TFieldParams field = fieldOf("phone", 8);
    EXPECT_EQ(readGuarded(bytesOf("A1 2D DD DD DD DD DD DD"), field), "+12");
    EXPECT_EQ(HexDump(WriteField("+12", field)), "A1 2D DD DD DD DD DD DD");
    expectFailures({
        {"foreign character", [&] { WriteField("12-34", field); }, "EConvertError: Некорректный телефон: 12-34"},
        {"seven bytes reading", [] { ReadField(Bytes(8, 0xDD), 1, fieldOf("phone", 7), 0); },
         "EDescriptionError: Элемент \"item\": поле телефона должно занимать 8 байт."},
        {"seven bytes writing", [] { WriteField("1", fieldOf("phone", 7)); },
         "EDescriptionError: Элемент \"item\": поле телефона должно занимать 8 байт."},
    });
}

// -------------------------------------------------------------- block bounds

TEST(FieldBounds, LastByteOfTheBlockIsInside)
{
    const Bytes block = bytesOf("01 02 03");
    EXPECT_EQ(ReadField(block, 2, fieldOf("int", 2), 0), "770");
    EXPECT_EQ(ReadField(block, 3, fieldOf("hex", 1), 0), "03");
    EXPECT_EQ(ReadField(Bytes(8, 0xDD), 1, fieldOf("phone", 8), 0), "");
}

TEST(FieldBounds, FieldsRunningPastTheBlockFail)
{
    const char *const outside = "EDescriptionError: Элемент \"item\": поле выходит за пределы блока.";
    const Bytes block = bytesOf("01 02 03");
    expectFailures({
        {"integer past the end", [&] { ReadField(block, 3, fieldOf("int", 2), 0); }, outside},
        {"position 0", [&] { ReadField(block, 0, fieldOf("int", 1), 0); }, outside},
        {"negative position", [&] { ReadField(block, -1, fieldOf("int", 1), 0); }, outside},
        {"start past the end", [&] { ReadField(block, 4, fieldOf("int", 1), 0); }, outside},
        {"empty block", [] { ReadField(Bytes{}, 1, fieldOf("int", 1), 0); }, outside},
        {"string", [&] { ReadField(block, 1, fieldOf("string", 4), 0); }, outside},
        {"password", [&] { ReadField(block, 2, fieldOf("pswd_string", 3), 0); }, outside},
        {"address", [&] { ReadField(block, 1, fieldOf("ip_string", 4), 0); }, outside},
        {"hex", [&] { ReadField(block, 1, fieldOf("hex", 4), 0); }, outside},
        {"hex array", [&] { ReadField(block, 2, fieldOf("hex_array", 3), 0); }, outside},
        {"decimal array", [&] { ReadField(block, 3, fieldOf("dec_array", 2), 0); }, outside},
        {"phone", [] { ReadField(Bytes(8, 0xDD), 2, fieldOf("phone", 8), 0); }, outside},
        {"wide mask field", [] { ReadField(Bytes(5, 0), 1, withBits(fieldOf("int", 6), 12), 0); }, outside},
        {"narrow mask field", [&] { ReadField(block, 3, withBits(fieldOf("int", 2), 4), 0); }, outside},
    });
}

TEST(FieldBounds, TextFieldsNeedAtLeastOneByte)
{
    const char *const width = "EDescriptionError: Элемент \"item\": недопустимая ширина поля.";
    const Bytes block(4, 0);
    for (const char *type : {"string", "pswd_string", "ip_string", "hex", "hex_array", "dec_array"}) {
        EXPECT_EQ(failureOf([&] { ReadField(block, 1, fieldOf(type, 0), 0); }), width) << type;
        EXPECT_EQ(failureOf([&] { WriteField("1", fieldOf(type, 0)); }), width) << type;
    }
}
