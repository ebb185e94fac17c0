// Field conversions on their own: WriteField and PackMaskElements on random
// value texts, ReadField on random bytes, for every type word and odd widths.

#include "fuzz/support.h"
#include "model_bin/fields.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <climits>

namespace {

// Every word the conversions know, two words they do not (integers), and an empty one.
const char *const kTypeWords[] = {"int", "string", "pswd_string", "ip_string", "phone", "hex",
                                  "hex_array", "dec_array", "bool", "mode", ""};
constexpr int kMaxSize = 12;
constexpr int kMaxBits = 70;
constexpr std::size_t kMaxTexts = 12;
constexpr std::size_t kMaxTextLength = 40;
constexpr std::size_t kMaxBlock = 40;
constexpr int kMaxMaskIndex = 80;

std::int32_t factor(FuzzedDataProvider &in)
{
    static const std::int32_t kFactors[] = {1, 0, -1, 2, 3, 10, 20, 40, 255, 1000, INT_MAX, INT_MIN};
    return in.ConsumeBool() ? in.PickValueInArray(kFactors) : in.ConsumeIntegral<std::int32_t>();
}

// A value text: mostly something a user or a device could produce, sometimes anything.
std::string valueText(FuzzedDataProvider &in)
{
    std::string text;
    switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0:
        return std::to_string(in.ConsumeIntegral<std::int64_t>());
    case 1:
        return std::to_string(in.ConsumeIntegralInRange<std::int64_t>(-300, 70000));
    case 2: // hexadecimal, "$" alone for zero
        for (std::uint32_t v = in.ConsumeIntegral<std::uint32_t>(); v; v >>= 4)
            text.insert(text.begin(), "0123456789ABCDEF"[v & 0xF]);
        return "$" + text;
    case 3: // dotted numbers, as an IP address
        for (int i = in.ConsumeIntegralInRange(0, 5); i > 0; --i)
            text += std::to_string(in.ConsumeIntegralInRange(-1, 300)) + (i > 1 ? "." : "");
        return text;
    default:
        return in.ConsumeRandomLengthString(kMaxTextLength);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
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

    // What is written has the field's width (a phone number always 8 bytes) and can be shown again.
    const std::string text = valueText(in);
    Bytes written;
    if (fuzz::Try([&] { written = WriteField(text, field); })) {
        FUZZ_CHECK(written.size() == (field.type == "phone" ? 8 : static_cast<std::size_t>(field.size)));
        fuzz::Try([&] { ReadField(written, 1, field, 0); });
    }

    std::vector<std::string> texts(in.ConsumeIntegralInRange<std::size_t>(0, kMaxTexts));
    for (std::string &element : texts)
        element = valueText(in);
    fuzz::Try([&] {
        const Bytes mask = PackMaskElements(field, texts);
        FUZZ_CHECK(mask.size() == static_cast<std::size_t>(field.size));
        for (int k = 0; k < static_cast<int>(texts.size()); ++k)
            ReadField(mask, 1, field, k);
    });

    const Bytes block = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, kMaxBlock));
    static const int kOddPositions[] = {0, -1, INT_MIN, INT_MAX, INT_MAX - 7};
    const int position = in.ConsumeBool() ? in.ConsumeIntegralInRange(1, static_cast<int>(block.size()) + 2)
                                          : in.PickValueInArray(kOddPositions);
    const int maskIndex = in.ConsumeIntegralInRange(-2, kMaxMaskIndex);
    fuzz::Try([&] { ReadField(block, position, field, maskIndex); });
    fuzz::Try([&] { ReadField(block, position, field, 0); });
    return 0;
}
