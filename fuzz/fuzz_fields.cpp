// Field conversions on their own: WriteField and PackMaskElements on random
// value texts, ReadField on random bytes, for every type word and odd widths.

#include "fuzz/support.h"
#include "model_bin/fields.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// Every word the conversions know, two words they do not (integers), and an empty one.
const char *const kTypeWords[] = {"int", "string", "pswd_string", "ip_string", "phone", "hex",
                                  "hex_array", "dec_array", "bool", "mode", ""};
constexpr int kMaxSize = 12;
constexpr int kMaxBits = 70;
constexpr int kMaxTexts = 12;
constexpr std::size_t kMaxTextLength = 40;
constexpr std::size_t kMaxBlock = 40;
constexpr int kMaxMaskIndex = 80;

std::int32_t factor(FuzzedDataProvider &in)
{
    static const std::int32_t kFactors[] = {1, 0, -1, 2, 3, 10, 20, 40, 255, 1000, INT_MAX, INT_MIN};
    if (in.ConsumeBool())
        return in.PickValueInArray(kFactors);
    return in.ConsumeIntegral<std::int32_t>();
}

// A value text: mostly something a user or a device could produce, sometimes anything.
std::string valueText(FuzzedDataProvider &in)
{
    switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0:
        return std::to_string(in.ConsumeIntegral<std::int64_t>());
    case 1:
        return std::to_string(in.ConsumeIntegralInRange<std::int64_t>(-300, 70000));
    case 2: {
        static const char kHex[] = "0123456789ABCDEF";
        std::string text = "$";
        for (std::uint32_t v = in.ConsumeIntegral<std::uint32_t>(); v; v >>= 4)
            text.insert(text.begin() + 1, kHex[v & 0xF]);
        return text;
    }
    case 3: {
        std::string text;
        for (int i = in.ConsumeIntegralInRange(0, 5); i > 0; --i)
            text += std::to_string(in.ConsumeIntegralInRange(-1, 300)) + (i > 1 ? "." : "");
        return text;
    }
    default:
        return in.ConsumeRandomLengthString(kMaxTextLength);
    }
}

TFieldParams fieldOf(FuzzedDataProvider &in)
{
    TFieldParams field;
    field.name = "item";
    field.type = in.PickValueInArray(kTypeWords);
    field.size = in.ConsumeIntegralInRange(0, kMaxSize);
    field.hasBits = in.ConsumeBool();
    field.bits = field.hasBits ? in.ConsumeIntegralInRange(0, kMaxBits) : 8 * field.size;
    field.mul = factor(in);
    field.div = factor(in);
    field.add = in.ConsumeBool() ? 0 : factor(in);
    field.sub = in.ConsumeBool() ? 0 : factor(in);
    return field;
}

std::size_t expectedWidth(const TFieldParams &field)
{
    return field.type == "phone" ? 8 : static_cast<std::size_t>(field.size);
}

void writeField(const TFieldParams &field, const std::string &text)
{
    Bytes bytes;
    try {
        bytes = WriteField(text, field);
    } catch (const EError &) {
        return;
    }
    FUZZ_CHECK(bytes.size() == expectedWidth(field));
    // What was written can be shown again.
    try {
        ReadField(bytes, 1, field, 0);
    } catch (const EError &) {
    }
}

void packMask(const TFieldParams &field, const std::vector<std::string> &texts)
{
    try {
        const Bytes bytes = PackMaskElements(field, texts);
        FUZZ_CHECK(bytes.size() == static_cast<std::size_t>(field.size));
        for (int k = 0; k < static_cast<int>(texts.size()); ++k)
            ReadField(bytes, 1, field, k);
    } catch (const EError &) {
    }
}

void readField(const TFieldParams &field, const Bytes &block, int position, int maskIndex)
{
    try {
        ReadField(block, position, field, maskIndex);
    } catch (const EError &) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const TFieldParams field = fieldOf(in);

    writeField(field, valueText(in));

    std::vector<std::string> texts(static_cast<std::size_t>(in.ConsumeIntegralInRange(0, kMaxTexts)));
    for (std::string &text : texts)
        text = valueText(in);
    packMask(field, texts);

    const Bytes block = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, kMaxBlock));
    const int blockSize = static_cast<int>(block.size());
    static const int kOddPositions[] = {0, -1, INT_MIN, INT_MAX, INT_MAX - 7};
    const int position = in.ConsumeBool() ? in.ConsumeIntegralInRange(1, blockSize + 2) : in.PickValueInArray(kOddPositions);
    const int maskIndex = in.ConsumeIntegralInRange(-2, kMaxMaskIndex);
    readField(field, block, position, maskIndex);
    readField(field, block, position, 0);
    return 0;
}
