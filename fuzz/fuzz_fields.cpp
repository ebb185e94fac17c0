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

// Scaling factors: the usual ones, the extremes, or any.
const std::int32_t kFactors[] = {1, 0, -1, 2, 3, 10, 20, 40, 255, 1000, INT_MAX, INT_MIN};

// A value text: mostly something a user or a device could produce, sometimes anything.
std::string valueText(FuzzedDataProvider &in)
{
    std::string text;
    switch (in.ConsumeIntegralInRange(0, 4)) {
    case 0: // a number, half the time in the range field widths allow
        return std::to_string(in.ConsumeBool() ? in.ConsumeIntegralInRange<std::int64_t>(-300, 70000)
                                               : in.ConsumeIntegral<std::int64_t>());
    case 1: // hexadecimal, "$" alone for zero
        for (std::uint32_t v = in.ConsumeIntegral<std::uint32_t>(); v; v >>= 4)
            text.insert(text.begin(), "0123456789ABCDEF"[v & 0xF]);
        return "$" + text;
    case 2: // dotted numbers, as an IP address
        for (int i = in.ConsumeIntegralInRange(0, 5); i > 0; --i)
            text += std::to_string(in.ConsumeIntegralInRange(-1, 300)) + (i > 1 ? "." : "");
        return text;
    default:
        return in.ConsumeRandomLengthString(40);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const auto factor = [&] { return in.ConsumeBool() ? in.PickValueInArray(kFactors) : in.ConsumeIntegral<int>(); };
    TFieldParams field;
    field.type = in.PickValueInArray(kTypeWords);
    field.size = in.ConsumeIntegralInRange(0, fuzz::kMaxSize);
    field.hasBits = in.ConsumeBool();
    field.bits = field.hasBits ? in.ConsumeIntegralInRange(0, fuzz::kMaxBits) : 8 * field.size;
    field.mul = factor();
    field.div = factor();
    field.add = in.ConsumeBool() ? 0 : factor();
    field.sub = in.ConsumeBool() ? 0 : factor();

    // What is written has the field's width (a phone number always 8 bytes) and can be shown again.
    const std::string text = valueText(in);
    Bytes written;
    if (fuzz::Try([&] { written = WriteField(text, field); })) {
        FUZZ_CHECK(written.size() == (field.type == "phone" ? 8 : static_cast<std::size_t>(field.size)));
        fuzz::Try([&] { ReadField(written, 1, field, 0); });
    }

    // The elements of one index of a mask array, up to a dozen.
    std::vector<std::string> texts(in.ConsumeIntegralInRange<std::size_t>(0, 12));
    for (std::string &element : texts)
        element = valueText(in);
    fuzz::Try([&] {
        const Bytes mask = PackMaskElements(field, texts);
        FUZZ_CHECK(mask.size() == static_cast<std::size_t>(field.size));
        for (int k = 0; k < static_cast<int>(texts.size()); ++k)
            ReadField(mask, 1, field, k);
    });

    // Blocks cut short and positions and mask indexes out of range, as a broken description could give.
    const Bytes block = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 40));
    static const int kOddPositions[] = {0, -1, INT_MIN, INT_MAX, INT_MAX - 7};
    const int position = in.ConsumeBool() ? in.ConsumeIntegralInRange(1, static_cast<int>(block.size()) + 2)
                                          : in.PickValueInArray(kOddPositions);
    fuzz::Try([&] { ReadField(block, position, field, in.ConsumeIntegralInRange(-2, 80)); });
    return 0;
}
