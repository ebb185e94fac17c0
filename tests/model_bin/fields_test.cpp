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

// bits < 0: no bits attribute.
TFieldParams fieldOf(const char *type, int size, int bits = -1)
{
    return TFieldParams{"item", type, size, bits >= 0 ? bits : 8 * size, bits >= 0};
}

TFieldParams scaled(TFieldParams f, std::int32_t mul, std::int32_t div, std::int32_t add = 0, std::int32_t sub = 0)
{
    return TFieldParams{f.name, f.type, f.size, f.bits, f.hasBits, mul, div, add, sub};
}

// Guard bytes around the field catch reads that start or end one byte off.
std::string readGuarded(const std::string &dump, const TFieldParams &field, int maskIndex = 0)
{
    return ReadField(bytesOf("EE " + dump + " EE"), 2, field, maskIndex);
}

// Which way a case converts: both ways, or only bytes to text or text to bytes.
enum TWay { kBoth, kRead, kWrite };

// Failures as the user sees them.
std::string notInteger(const std::string &text)
{
    return "EConvertError: '" + text + "' is not a valid integer value";
}

std::string described(const std::string &text)
{
    return "EDescriptionError: Элемент \"item\": " + text;
}

const std::string kBadWidth = described("недопустимая ширина поля.");
const std::string kOutside = described("поле выходит за пределы блока.");

} // namespace

// ------------------------------------------------------------------ conversions

TEST(FieldConversion, EachTypeReadsAndWritesItsBytes)
{
    const TFieldParams password = fieldOf("pswd_string", 3);
    const TFieldParams ip = fieldOf("ip_string", 4);
    const struct {
        const char *label;
        TFieldParams field;
        const char *bytes;
        const char *text;
        TWay way = kBoth;
    } cases[] = {
        // Integers convert like 32-bit arithmetic.
        {"two bytes little-endian", fieldOf("int", 2), "2C 01", "300"},
        {"all ones read unsigned", fieldOf("int", 4), "FF FF FF FF", "4294967295"},
        {"add and sub on the stored side", scaled(fieldOf("int", 1), 1, 1, 40, 5), "1E", "-5"},
        {"mul scales the stored value up", scaled(fieldOf("int", 2), 10, 1), "2C 01", "30"},
        {"bits 4 largest value", fieldOf("int", 1, 4), "0F", "15"},
        {"type words are case-sensitive", fieldOf("Hex", 1), "FF", "255"},
        // Reading scales with truncation toward zero.
        {"negative quotient read truncates toward zero", scaled(fieldOf("int", 1), -3, 1), "0A", "-3", kRead},
        {"div 0 only divides when writing", scaled(fieldOf("int", 1), 1, 0, 2, 7), "05", "5", kRead},
        {"bits pick the low bits", fieldOf("int", 1, 4), "F3", "3", kRead},
        {"largest factors", scaled(fieldOf("int", 4), 1, 2147483647), "FF FF FF FF", "9223372030412324865", kRead},
        // Writing wraps like 32-bit arithmetic.
        {"negative quotient written truncates toward zero", scaled(fieldOf("int", 1), 1, 2), "FD", "-7", kWrite},
        {"lowest divided by minus one wraps", scaled(fieldOf("int", 4), 1, -1), "00 00 00 80", "-2147483648", kWrite},
        {"negative sign-extends a wide field", fieldOf("int", 6, 12), "FE FF FF FF FF FF", "-2", kWrite},
        {"negative sign-extends past eight bytes", fieldOf("int", 10), "FF FF FF FF FF FF FF FF FF FF", "-1", kWrite},
        // Strings are Windows-1251 padded with spaces; reading replaces what the device does not show.
        {"Cyrillic in Windows-1251", fieldOf("string", 6), "CF F0 E8 E2 E5 F2", "Привет"},
        {"edges of the kept ranges", fieldOf("string", 4), "20 7E C0 FF", " ~Ая"},
        {"control, delete, Yo and yo", fieldOf("string", 4), "1F 7F A8 B8", "    ", kRead},
        {"euro sign and last byte below the letters", fieldOf("string", 3), "88 BF C1", "  Б", kRead},
        {"short text padded", fieldOf("string", 8), "41 42 43 20 20 20 20 20", "ABC", kWrite},
        {"cut by characters, not UTF-8 bytes", fieldOf("string", 3), "CF F0 E8", "Привет", kWrite},
        // Password digit pairs fill from the start.
        {"password", password, "12 34 50", "123450"},
        {"password lone last digit is a high nibble", password, "12 34 50", "12345", kWrite},
        {"password digits beyond the field dropped", password, "12 34 56", "1234567", kWrite},
        // The first address component names the network and goes last.
        {"address", ip, "14 01 A8 C0", "192.168.001.020"},
        {"address missing component", ip, "00 03 02 01", "1.2.3", kWrite},
        {"address component above 255", ip, "01 01 01 00", "300.1.1.1", kWrite},
        {"address component longer than three characters", ip, "01 01 01 00", "1000.1.1.1", kWrite},
        {"address empty component", ip, "03 02 00 01", "1..2.3", kWrite},
        {"address negative component", ip, "04 03 02 00", "-1.2.3.4", kWrite},
        {"address in two bytes", fieldOf("ip_string", 2), "02 01", "1.2.3", kWrite},
        // Hex numbers fill from the end, byte arrays from the start.
        {"hex little-endian", fieldOf("hex", 2), "0A 00", "000A"},
        {"hex leading digit alone", fieldOf("hex", 2), "BC 0A", "ABC", kWrite},
        {"hex digits beyond the field dropped", fieldOf("hex", 1), "2B", "1A2B", kWrite},
        {"byte array in order", fieldOf("hex_array", 4), "01 02 A0 00", "0102A000"},
        {"byte array odd last digit ignored", fieldOf("hex_array", 4), "01 02 00 00", "0102A", kWrite},
        {"byte array long text cut", fieldOf("hex_array", 2), "01 02", "0102030405", kWrite},
        // Decimal arrays hold one digit per byte, right-aligned.
        {"decimal array all zero", fieldOf("dec_array", 5), "00 00 00 00 00", "00000"},
        {"decimal array leading zeros dropped", fieldOf("dec_array", 5), "00 00 01 02 03", "123"},
        {"decimal array keeps the first digits", fieldOf("dec_array", 5), "01 02 03 04 05", "1234567", kWrite},
        // Phones take one place per nibble: A is "+", D an unused place.
        {"phone", fieldOf("phone", 8), "A1 2D DD DD DD DD DD DD", "+12"},
        {"phone unused places inside", fieldOf("phone", 8), "12 DD 34 DD DD DD DD DD", "1234", kRead},
        {"phone places that are no digits", fieldOf("phone", 8), "1A FF DD DD DD DD DD DD", "1+FF", kRead},
        {"phone of sixteen places", fieldOf("phone", 8), "12 34 56 78 90 12 34 56", "1234567890123456", kWrite},
        {"phone places beyond dropped", fieldOf("phone", 8), "12 34 56 78 90 12 34 56", "1234567890123456x9", kWrite},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        if (c.way != kWrite) {
            EXPECT_EQ(readGuarded(c.bytes, c.field), c.text);
        }
        if (c.way != kRead) {
            EXPECT_EQ(HexDump(WriteField(c.text, c.field)), c.bytes);
        }
    }
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
        {"two-bit elements share one byte", fieldOf("int", 1, 2), {"1", "0", "3", "2"}, "B1", true},
        // 1 | 2 << 3 | 3 << 6 | 4 << 9 | 5 << 12 = 0x58D1
        {"elements cross byte boundaries", fieldOf("int", 2, 3), {"1", "2", "3", "4", "5"}, "D1 58", true},
        {"32-bit elements", fieldOf("int", 8, 32), {"1", "4294967295"}, "01 00 00 00 FF FF FF FF", true},
        {"each element is scaled", scaled(fieldOf("int", 1, 4), 1, 1, 1), {"0", "1"}, "21", true},
        {"negative element across bytes", fieldOf("int", 2, 3), {"0", "0", "-1"}, "C0 01", false},
        {"without bits", fieldOf("int", 2), {"258"}, "02 01", false},
        // 0x789 456 123 ABC: element 3 reads its four-byte window past the block's end, as zeros.
        {"wide field", fieldOf("int", 6, 12), {"2748", "291", "1110", "1929"}, "BC 3A 12 56 94 78", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(HexDump(PackMaskElements(c.field, c.elements)), c.packed);
        for (std::size_t m = 0; c.readBack && m < c.elements.size(); ++m)
            EXPECT_EQ(readGuarded(c.packed, c.field, static_cast<int>(m)), c.elements[m]) << m;
    }
    // A wide element's scaled value shows as unsigned.
    EXPECT_EQ(ReadField(Bytes(6, 0), 1, scaled(fieldOf("int", 6, 12), 1, 1, 1), 0), "4294967295");
}

// ------------------------------------------------------------------ failures

TEST(FieldFailures, NameTheOffendingPieceOrTheField)
{
    const TFieldParams byte = fieldOf("int", 1);
    const TFieldParams threeBits = fieldOf("int", 1, 3);
    const TFieldParams wide = fieldOf("int", 8, 30);
    const Bytes block(8, 0);
    const Bytes three = bytesOf("01 02 03");
    const std::string phoneSize = described("поле телефона должно занимать 8 байт.");
    const std::string range = "ERangeError: item: значение ";
    const struct {
        const char *label;
        std::function<void()> call;
        std::string failure;
    } cases[] = {
        {"bits 4", [&] { WriteField("16", fieldOf("int", 1, 4)); }, range + "16 не помещается в 4 бит."},
        {"scaled range", [&] { WriteField("30", scaled(byte, 10, 1)); }, range + "300 не помещается в 8 бит."},
        {"above four bytes", [&] { WriteField("4294967296", fieldOf("int", 4)); }, notInteger("4294967296")},
        // Only a full 32-bit field takes texts above the largest signed value.
        {"one byte from all ones", [&] { WriteField("4294967295", byte); }, notInteger("4294967295")},
        {"bits 16 of four bytes", [&] { WriteField("4294967295", fieldOf("int", 4, 16)); }, notInteger("4294967295")},
        {"div 0 writing", [&] { WriteField("5", scaled(byte, 1, 0)); }, "EZeroDivide: item: деление на ноль."},
        {"mul 0 read", [&] { ReadField(Bytes{5}, 1, scaled(byte, 0, 1), 0); }, "EZeroDivide: item: деление на ноль."},
        {"wide field without bits", [&] { ReadField(Bytes(6, 0), 1, fieldOf("int", 6), 0); },
         described("для целого поля шире 4 байт нужен атрибут bits.")},
        {"size 0 reading", [&] { ReadField(Bytes(4, 0), 1, fieldOf("int", 0), 0); }, kBadWidth},
        {"packed element out of range", [&] { PackMaskElements(fieldOf("int", 1, 2), {"1", "4"}); },
         range + "4 не помещается в 2 бит."},
        {"packed element past the field", [&] { PackMaskElements(threeBits, {"1", "1", "1"}); },
         described("элемент маски 2 не помещается в поле из 1 байт.")},
        // Element 0 is readable whatever the width: only later elements can fall outside.
        {"second element of bits wider than the field", [&] { ReadField(block, 1, fieldOf("int", 1, 12), 1); },
         described("элемент маски 1 не помещается в поле из 1 байт.")},
        {"negative mask index", [&] { ReadField(block, 1, threeBits, -1); },
         described("элемент маски -1 не помещается в поле из 1 байт.")},
        {"wide element past the field", [&] { ReadField(block, 1, fieldOf("int", 6, 12), 4); },
         described("элемент маски 4 не помещается в поле из 6 байт.")},
        {"wide element crossing its window", [&] { ReadField(block, 1, wide, 1); },
         described("элемент маски 1 не помещается в окно из 4 байт.")},
        {"bits 0 packing", [&] { PackMaskElements(fieldOf("int", 1, 0), {"0"}); }, kBadWidth},
        {"bits 65 packing", [&] { PackMaskElements(fieldOf("int", 9, 65), {"0"}); }, kBadWidth},
        {"password pair", [] { WriteField("12G4", fieldOf("pswd_string", 3)); }, notInteger("$G4")},
        {"hex Cyrillic letter", [] { WriteField("1Я", fieldOf("hex", 1)); }, notInteger("$1Я")},
        {"hex array pair", [] { WriteField("01ZZ", fieldOf("hex_array", 2)); }, notInteger("$ZZ")},
        {"decimal array letter", [] { WriteField("12a", fieldOf("dec_array", 5)); }, notInteger("a")},
        {"address component", [] { WriteField("1.x.1.1", fieldOf("ip_string", 4)); }, notInteger("x")},
        {"phone character", [] { WriteField("1-2", fieldOf("phone", 8)); }, "EConvertError: Некорректный телефон: 1-2"},
        {"phone of seven bytes read", [] { ReadField(Bytes(8, 0xDD), 1, fieldOf("phone", 7), 0); }, phoneSize},
        {"text of no bytes written", [] { WriteField("1", fieldOf("hex", 0)); }, kBadWidth},
        // Fields end at the last byte of the block.
        {"integer past the end", [&] { ReadField(three, 3, fieldOf("int", 2), 0); }, kOutside},
        {"position 0", [&] { ReadField(three, 0, fieldOf("int", 1), 0); }, kOutside},
        {"text past the end", [&] { ReadField(three, 2, fieldOf("pswd_string", 3), 0); }, kOutside},
        {"phone past the end", [] { ReadField(Bytes(8, 0xDD), 2, fieldOf("phone", 8), 0); }, kOutside},
        {"wide field past the end", [] { ReadField(Bytes(5, 0), 1, fieldOf("int", 6, 12), 0); }, kOutside},
    };
    for (const auto &c : cases)
        EXPECT_EQ(FailureOf(c.call), c.failure) << c.label;
    EXPECT_EQ(ReadField(block, 1, wide, 0), "0");
    EXPECT_EQ(ReadField(three, 2, fieldOf("int", 2), 0), "770");
    EXPECT_EQ(ReadField(three, 3, fieldOf("hex", 1), 0), "03");
}
