#include "model_bin/fields.h"

#include "model/errors.h"
#include "tests/model/catalogue_fixture.h"

#include <gtest/gtest.h>

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

// Which way a case converts: both ways, or only bytes to text or text to bytes.
enum TWay { kBoth, kRead, kWrite };

struct TFieldCase {
    const char *label;
    TFieldParams field;
    const char *bytes;
    const char *text;
    TWay way = kBoth;
};

void expectConversions(const std::vector<TFieldCase> &cases)
{
    for (const auto &c : cases) {
        if (c.way != kWrite) {
            EXPECT_EQ(readGuarded(bytesOf(c.bytes), c.field), c.text) << c.label;
        }
        if (c.way != kRead) {
            EXPECT_EQ(HexDump(WriteField(c.text, c.field)), c.bytes) << c.label;
        }
    }
}

struct TFailureCase {
    const char *label;
    std::function<void()> call;
    std::string failure;
};

// Failures as the user sees them.
std::string notInteger(const std::string &text)
{
    return "EConvertError: '" + text + "' is not a valid integer value";
}

std::string outOfRange(const std::string &value, int bits)
{
    return "ERangeError: item: значение " + value + " не помещается в " + std::to_string(bits) + " бит.";
}

const char *const kZeroDivide = "EZeroDivide: item: деление на ноль.";

std::string described(const std::string &text)
{
    return "EDescriptionError: Элемент \"item\": " + text;
}

void expectFailures(const std::vector<TFailureCase> &cases)
{
    for (const auto &c : cases)
        EXPECT_EQ(FailureOf(c.call), c.failure) << c.label;
}

} // namespace

// ------------------------------------------------------------------ integers

TEST(IntegerField, ConvertsLikeThirtyTwoBitArithmetic)
{
    expectConversions({
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
        // Reading scales with truncation toward zero.
        {"div 10", scaled(fieldOf("int", 1), 1, 10), "0C", "120", kRead},
        {"mul 3 truncates", scaled(fieldOf("int", 1), 3, 1), "0A", "3", kRead},
        {"negative quotient read truncates toward zero", scaled(fieldOf("int", 1), -3, 1), "0A", "-3", kRead},
        {"div 0 only divides when writing", scaled(fieldOf("int", 1), 1, 0, 2, 7), "05", "5", kRead},
        {"bits pick the low bits", withBits(fieldOf("int", 1), 4), "F3", "3", kRead},
        {"largest factors stay exact", scaled(fieldOf("int", 4), 1, 2147483647), "FF FF FF FF", "9223372030412324865",
         kRead},
        // Writing wraps like 32-bit arithmetic.
        {"div 10 truncates", scaled(fieldOf("int", 1), 1, 10), "0C", "125", kWrite},
        {"negative quotient written truncates toward zero", scaled(fieldOf("int", 1), 1, 2), "FD", "-7", kWrite},
        {"mul 0 leaves the offsets", scaled(fieldOf("int", 1), 0, 1, 7), "07", "99", kWrite},
        {"dollar hex", fieldOf("int", 1), "FF", "$FF", kWrite},
        {"dollar hex of all ones", fieldOf("int", 4), "FF FF FF FF", "$FFFFFFFF", kWrite},
        {"bits 32 takes the largest signed", withBits(fieldOf("int", 4), 32), "FF FF FF 7F", "2147483647", kWrite},
        {"add overflows into the sign", scaled(fieldOf("int", 4), 1, 1, 1), "00 00 00 80", "2147483647", kWrite},
        {"mul overflows into the sign", scaled(fieldOf("int", 4), 2, 1), "FE FF FF FF", "2147483647", kWrite},
        {"lowest divided by minus one wraps", scaled(fieldOf("int", 4), 1, -1), "00 00 00 80", "-2147483648", kWrite},
        {"negative fills one byte only", fieldOf("int", 1), "FF", "-1", kWrite},
        {"negative fills two bytes only", fieldOf("int", 2), "FE FF", "-2", kWrite},
        {"negative sign-extends a wide field", withBits(fieldOf("int", 6), 12), "FE FF FF FF FF FF", "-2", kWrite},
        {"wide field positive", fieldOf("int", 6), "05 00 00 00 00 00", "5", kWrite},
        {"negative sign-extends past eight bytes", fieldOf("int", 10), "FF FF FF FF FF FF FF FF FF FF", "-1", kWrite},
    });
}

TEST(IntegerField, Failures)
{
    const TFieldParams byte = fieldOf("int", 1);
    const TFieldParams dword = fieldOf("int", 4);
    const std::string width = described("недопустимая ширина поля.");
    expectFailures({
        {"bits 4", [&] { WriteField("16", withBits(byte, 4)); }, outOfRange("16", 4)},
        {"default bits of one byte", [&] { WriteField("256", byte); }, outOfRange("256", 8)},
        {"range checks the scaled value", [&] { WriteField("30", scaled(byte, 10, 1)); }, outOfRange("300", 8)},
        {"bits 30", [&] { WriteField("1073741824", withBits(dword, 30)); }, outOfRange("1073741824", 30)},
        {"above four bytes", [&] { WriteField("4294967296", dword); }, notInteger("4294967296")},
        {"below the lowest", [&] { WriteField("-2147483649", dword); }, notInteger("-2147483649")},
        // Only a full 32-bit field takes texts above the largest signed value.
        {"one byte from all ones", [&] { WriteField("4294967295", byte); }, notInteger("4294967295")},
        {"one byte from 2^31", [&] { WriteField("2147483648", byte); }, notInteger("2147483648")},
        {"two bytes from 3e9", [&] { WriteField("3000000000", fieldOf("int", 2)); }, notInteger("3000000000")},
        {"bits 16 of four bytes", [&] { WriteField("4294967295", withBits(dword, 16)); }, notInteger("4294967295")},
        {"empty text", [&] { WriteField("", byte); }, notInteger("")},
        {"trailing letter", [&] { WriteField("12a", byte); }, notInteger("12a")},
        {"div 0 writing", [&] { WriteField("5", scaled(byte, 1, 0)); }, kZeroDivide},
        {"text is parsed before dividing", [&] { WriteField("x", scaled(byte, 1, 0)); }, notInteger("x")},
        {"mul 0 reading", [&] { ReadField(Bytes{5}, 1, scaled(byte, 0, 1), 0); }, kZeroDivide},
        {"mul 0 reading a wide field", [&] { ReadField(Bytes(6, 0), 1, scaled(withBits(fieldOf("int", 6), 12), 0, 1), 0); },
         kZeroDivide},
        {"wide field without bits", [&] { ReadField(Bytes(6, 0), 1, fieldOf("int", 6), 0); },
         described("для целого поля шире 4 байт нужен атрибут bits.")},
        {"size 0 reading", [&] { ReadField(Bytes(4, 0), 1, fieldOf("int", 0), 0); }, width},
        {"size 0 writing", [&] { WriteField("0", fieldOf("int", 0)); }, width},
        {"bits 0 writing", [&] { WriteField("0", withBits(byte, 0)); }, width},
    });
}

// -------------------------------------------------------------- mask elements

TEST(MaskElements, PackedElementsReadBackOneByOne)
{
    const struct {
        const char *label;
        TFieldParams field;
        std::vector<std::string> elements;
        const char *packed;
        bool readBack;
    } cases[] = {
        {"two-bit elements share one byte", withBits(fieldOf("int", 1), 2), {"1", "0", "3", "2"}, "B1", true},
        // 1 | 2 << 3 | 3 << 6 | 4 << 9 | 5 << 12 = 0x58D1
        {"elements cross byte boundaries", withBits(fieldOf("int", 2), 3), {"1", "2", "3", "4", "5"}, "D1 58", true},
        {"thirty-two-bit elements", withBits(fieldOf("int", 8), 32), {"1", "4294967295"}, "01 00 00 00 FF FF FF FF",
         true},
        {"each element is scaled", scaled(withBits(fieldOf("int", 1), 4), 1, 1, 1), {"0", "1"}, "21", true},
        {"negative first element stays in its bits", withBits(fieldOf("int", 1), 4), {"-1", "0"}, "0F", false},
        {"negative second element stays in its bits", withBits(fieldOf("int", 1), 4), {"0", "-1"}, "F0", false},
        {"negative element across bytes", withBits(fieldOf("int", 2), 3), {"0", "0", "-1"}, "C0 01", false},
        {"packing fills the field", withBits(fieldOf("int", 3), 4), {"1"}, "01 00 00", false},
        {"no elements", withBits(fieldOf("int", 2), 4), {}, "00 00", false},
        {"without bits", fieldOf("int", 2), {"258"}, "02 01", false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(HexDump(PackMaskElements(c.field, c.elements)), c.packed) << c.label;
        for (std::size_t m = 0; c.readBack && m < c.elements.size(); ++m)
            EXPECT_EQ(readGuarded(bytesOf(c.packed), c.field, static_cast<int>(m)), c.elements[m]) << c.label << m;
    }
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
    // The scaled value shows as unsigned.
    const TFieldParams plusOne = scaled(field, 1, 1, 1);
    EXPECT_EQ(ReadField(Bytes(6, 0), 1, plusOne, 0), "4294967295");
    EXPECT_EQ(ReadField(bytesOf("05 00 00 00 00 00"), 1, plusOne, 0), "4");
    // A narrow field shifts by the mask index.
    EXPECT_EQ(readGuarded(bytesOf("34 12"), withBits(fieldOf("int", 2), 8), 0), "52");
    EXPECT_EQ(readGuarded(bytesOf("34 12"), withBits(fieldOf("int", 2), 8), 1), "18");
}

TEST(MaskElements, Failures)
{
    const TFieldParams threeBits = withBits(fieldOf("int", 1), 3);
    const TFieldParams wide = withBits(fieldOf("int", 8), 30);
    const Bytes block(8, 0);
    const std::string width = described("недопустимая ширина поля.");
    expectFailures({
        {"packed element out of range", [&] { PackMaskElements(withBits(fieldOf("int", 1), 2), {"1", "4"}); },
         outOfRange("4", 2)},
        {"packed element not a number", [&] { PackMaskElements(threeBits, {"1", "z"}); }, notInteger("z")},
        {"packed element past the field", [&] { PackMaskElements(threeBits, {"1", "1", "1"}); },
         described("элемент маски 2 не помещается в поле из 1 байт.")},
        {"read element past the field", [&] { ReadField(block, 1, threeBits, 2); },
         described("элемент маски 2 не помещается в поле из 1 байт.")},
        {"second element of bits wider than the field", [&] { ReadField(block, 1, withBits(fieldOf("int", 1), 12), 1); },
         described("элемент маски 1 не помещается в поле из 1 байт.")},
        {"negative mask index", [&] { ReadField(block, 1, threeBits, -1); },
         described("элемент маски -1 не помещается в поле из 1 байт.")},
        {"wide element past the field", [&] { ReadField(block, 1, withBits(fieldOf("int", 6), 12), 4); },
         described("элемент маски 4 не помещается в поле из 6 байт.")},
        {"wide element crossing its window", [&] { ReadField(block, 1, wide, 1); },
         described("элемент маски 1 не помещается в окно из 4 байт.")},
        {"bits 0 packing", [&] { PackMaskElements(withBits(fieldOf("int", 1), 0), {"0"}); }, width},
        {"bits 65 packing", [&] { PackMaskElements(withBits(fieldOf("int", 9), 65), {"0"}); }, width},
        {"bits 0 reading", [&] { ReadField(block, 1, withBits(fieldOf("int", 1), 0), 0); }, width},
        {"size 0 packing", [&] { PackMaskElements(withBits(fieldOf("int", 0), 2), {}); }, width},
    });
    EXPECT_EQ(ReadField(block, 1, wide, 0), "0");
}

// --------------------------------------------------------------- text fields

TEST(StringField, Windows1251PaddedWithSpaces)
{
    expectConversions({
        {"padded with spaces", fieldOf("string", 8), "41 42 43 20 20 20 20 20", "ABC     "},
        {"Cyrillic in Windows-1251", fieldOf("string", 6), "CF F0 E8 E2 E5 F2", "Привет"},
        {"edges of the kept ranges", fieldOf("string", 4), "20 7E C0 FF", " ~Ая"},
        // Reading replaces unprintable bytes with spaces.
        {"zero byte", fieldOf("string", 3), "41 00 42", "A B", kRead},
        {"control, delete, Yo and yo", fieldOf("string", 4), "1F 7F A8 B8", "    ", kRead},
        {"euro sign and last byte below the letters", fieldOf("string", 3), "88 BF C1", "  Б", kRead},
        // Writing pads, truncates and replaces.
        {"short text padded", fieldOf("string", 8), "41 42 43 20 20 20 20 20", "ABC", kWrite},
        {"long text cut", fieldOf("string", 3), "41 42 43", "ABCDEF", kWrite},
        {"cut by characters, not UTF-8 bytes", fieldOf("string", 3), "CF F0 E8", "Привет", kWrite},
        {"no Windows-1251 character", fieldOf("string", 3), "3F A8 20", "中Ё", kWrite},
        {"empty text", fieldOf("string", 2), "20 20", "", kWrite},
    });
}

TEST(PasswordField, DigitPairsFilledFromTheStart)
{
    const TFieldParams field = fieldOf("pswd_string", 3);
    expectConversions({
        {"three bytes", field, "12 34 50", "123450"},
        {"two bytes", fieldOf("pswd_string", 2), "AB 0C", "AB0C"},
        {"five bytes", fieldOf("pswd_string", 5), "01 23 45 67 89", "0123456789"},
        {"lone last digit is a high nibble", field, "12 34 50", "12345", kWrite},
        {"one digit", field, "10 00 00", "1", kWrite},
        {"empty text", field, "00 00 00", "", kWrite},
        {"digits beyond the field dropped", field, "12 34 56", "1234567", kWrite},
        {"digits beyond the field not checked", field, "12 34 56", "123456zz", kWrite},
        {"lower case", field, "AB CD EF", "abcdef", kWrite},
    });
}

TEST(IpField, ComponentsLastFirst)
{
    const TFieldParams field = fieldOf("ip_string", 4);
    expectConversions({
        {"four bytes last first", field, "14 01 A8 C0", "192.168.001.020"},
        {"two bytes", fieldOf("ip_string", 2), "02 01", "001.002"},
        {"all zero", field, "00 00 00 00", "000.000.000.000"},
        // Writing takes the components left to right.
        {"unpadded components", field, "14 01 A8 C0", "192.168.1.20", kWrite},
        {"missing component", field, "00 03 02 01", "1.2.3", kWrite},
        {"above 255", field, "01 01 01 00", "300.1.1.1", kWrite},
        {"longer than three characters", field, "01 01 01 00", "1000.1.1.1", kWrite},
        {"long component not checked", field, "01 01 01 00", "abcd.1.1.1", kWrite},
        {"empty component", field, "03 02 00 01", "1..2.3", kWrite},
        {"empty text", field, "00 00 00 00", "", kWrite},
        {"components beyond the field ignored", field, "04 03 02 01", "1.2.3.4.x", kWrite},
        {"negative component", field, "04 03 02 00", "-1.2.3.4", kWrite},
        {"two-byte field", fieldOf("ip_string", 2), "02 01", "1.2.3", kWrite},
    });
}

TEST(HexField, NumbersFillFromTheEndByteArraysFromTheStart)
{
    expectConversions({
        {"two bytes little-endian", fieldOf("hex", 2), "0A 00", "000A"},
        {"four bytes", fieldOf("hex", 4), "78 56 34 12", "12345678"},
        {"six bytes", fieldOf("hex", 6), "01 02 03 04 05 06", "060504030201"},
        {"byte array in order", fieldOf("hex_array", 4), "01 02 A0 00", "0102A000"},
        {"pairs from the end", fieldOf("hex", 2), "2B 1A", "1A2B", kWrite},
        {"leading digit alone", fieldOf("hex", 2), "BC 0A", "ABC", kWrite},
        {"digits beyond the field dropped", fieldOf("hex", 1), "2B", "1A2B", kWrite},
        {"dropped digits not checked", fieldOf("hex", 1), "BC", "XBC", kWrite},
        {"empty text", fieldOf("hex", 2), "00 00", "", kWrite},
        {"lower case", fieldOf("hex", 2), "AB 00", "ab", kWrite},
        {"array short text", fieldOf("hex_array", 4), "01 02 A0 00", "0102A0", kWrite},
        {"array odd last digit ignored", fieldOf("hex_array", 4), "01 02 00 00", "0102A", kWrite},
        {"array long text cut", fieldOf("hex_array", 2), "01 02", "0102030405", kWrite},
        {"array empty text", fieldOf("hex_array", 2), "00 00", "", kWrite},
    });
}

TEST(DecArrayField, OneDigitPerByte)
{
    expectConversions({
        {"all zero", fieldOf("dec_array", 5), "00 00 00 00 00", "00000"},
        {"leading zeros dropped", fieldOf("dec_array", 5), "00 00 01 02 03", "123"},
        {"inner zero kept", fieldOf("dec_array", 3), "09 00 01", "901"},
        {"byte above nine", fieldOf("dec_array", 2), "00 0C", "12", kRead},
        {"long text keeps its first digits", fieldOf("dec_array", 5), "01 02 03 04 05", "1234567", kWrite},
        {"characters beyond the field not checked", fieldOf("dec_array", 2), "01 02", "12x", kWrite},
        {"empty text", fieldOf("dec_array", 3), "00 00 00", "", kWrite},
    });
}

TEST(TextFields, ConversionFailuresNameTheOffendingPiece)
{
    expectFailures({
        {"password pair", [] { WriteField("12G4", fieldOf("pswd_string", 3)); }, notInteger("$G4")},
        {"password lone digit", [] { WriteField("12G", fieldOf("pswd_string", 3)); }, notInteger("$G")},
        {"hex pair", [] { WriteField("G1", fieldOf("hex", 1)); }, notInteger("$G1")},
        {"hex leading digit", [] { WriteField("G12", fieldOf("hex", 2)); }, notInteger("$G")},
        {"hex Cyrillic letter", [] { WriteField("1Я", fieldOf("hex", 1)); }, notInteger("$1Я")},
        {"hex array pair", [] { WriteField("01ZZ", fieldOf("hex_array", 2)); }, notInteger("$ZZ")},
        {"decimal array letter", [] { WriteField("12a", fieldOf("dec_array", 5)); }, notInteger("a")},
        {"decimal array Cyrillic letter", [] { WriteField("1я", fieldOf("dec_array", 2)); }, notInteger("я")},
        {"address component", [] { WriteField("1.x.1.1", fieldOf("ip_string", 4)); }, notInteger("x")},
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

TEST(PhoneCodec, BytesAndTextBothWays)
{
    const struct {
        const char *bytes, *text;
        TWay way;
    } cases[] = {
        {"A1 2D DD DD DD DD DD DD", "+12", kBoth},
        {"DD DD DD DD DD DD DD DD", "", kBoth},
        {"12 DD 34 DD DD DD DD DD", "1234", kRead},
        {"1A FF DD DD DD DD DD DD", "1+FF", kRead},
        {"BC E0", "BCE0", kRead},
        {"", "", kRead},
        {"12 34 56 78 90 12 34 5D", "123456789012345", kWrite},
        {"12 34 56 78 90 12 34 56", "1234567890123456", kWrite},
        {"12 34 56 78 90 12 34 56", "12345678901234567", kWrite},
        {"12 34 56 78 90 12 34 56", "1234567890123456x", kWrite},
    };
    for (const auto &c : cases) {
        if (c.way != kWrite) {
            EXPECT_EQ(PhoneBytesToText(bytesOf(c.bytes)), c.text) << c.bytes;
        }
        if (c.way != kRead) {
            EXPECT_EQ(HexDump(PhoneTextToBytes(c.text)), c.bytes) << c.text;
        }
    }
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
    expectConversions({{"eight bytes", field, "A1 2D DD DD DD DD DD DD", "+12"}});
    expectFailures({
        {"foreign character", [&] { WriteField("12-34", field); }, "EConvertError: Некорректный телефон: 12-34"},
        {"seven bytes reading", [] { ReadField(Bytes(8, 0xDD), 1, fieldOf("phone", 7), 0); },
         described("поле телефона должно занимать 8 байт.")},
        {"seven bytes writing", [] { WriteField("1", fieldOf("phone", 7)); },
         described("поле телефона должно занимать 8 байт.")},
    });
}

// -------------------------------------------------------------- block bounds

TEST(FieldBounds, FieldsEndAtTheLastByteOfTheBlock)
{
    const Bytes block = bytesOf("01 02 03");
    EXPECT_EQ(ReadField(block, 2, fieldOf("int", 2), 0), "770");
    EXPECT_EQ(ReadField(block, 3, fieldOf("hex", 1), 0), "03");
    EXPECT_EQ(ReadField(Bytes(8, 0xDD), 1, fieldOf("phone", 8), 0), "");

    const std::string outside = described("поле выходит за пределы блока.");
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
    const std::string width = described("недопустимая ширина поля.");
    const Bytes block(4, 0);
    for (const char *type : {"string", "pswd_string", "ip_string", "hex", "hex_array", "dec_array"}) {
        EXPECT_EQ(FailureOf([&] { ReadField(block, 1, fieldOf(type, 0), 0); }), width) << type;
        EXPECT_EQ(FailureOf([&] { WriteField("1", fieldOf(type, 0)); }), width) << type;
    }
}
