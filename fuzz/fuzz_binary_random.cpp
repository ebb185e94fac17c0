// Small random binary descriptions: items of random types, widths, scaling,
// arrays, masks, structs (self-nesting included), inactive items and
// deactivators, written into a scratch catalogue; then random images are
// decoded, shown in the grid and encoded again.

#include "fuzz/support.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

// The description's device matches this code with any software version.
constexpr std::uint16_t kHw = 1;
constexpr int kMaxArrayCount = 8; // keeps nested arrays of structs fast
constexpr int kMaxMaskCount = 4;

// In a list of values: any 32-bit integer, where a large value stays cheap.
const std::string kAnyInt = "*";

std::vector<std::string> numbers(int from, int to, std::vector<std::string> more)
{
    for (int n = from; n <= to; ++n)
        more.push_back(std::to_string(n));
    return more;
}

// Every type word, and the structs s0 and s1 that a description may define.
const std::vector<std::string> kTypes = {"int", "string", "pswd_string", "ip_string", "phone", "hex",
                                         "hex_array", "dec_array", "bool", "mode", "s0", "s1"};
const std::vector<std::string> kFactors = {"0", "1", "-1", "2", "3", "10", "40", "2147483647", "-2147483648", kAnyInt};
// The arrays a description may define, and a name it never does.
const std::vector<std::string> kArrays = {"a0", "a1", "a2", "nowhere"};

// An attribute absent in that many eighths of the elements; a number is no number at all in another eighth.
void attribute(std::string &out, FuzzedDataProvider &in, const char *name, const std::vector<std::string> &values,
               int absent, bool number)
{
    static const char *const kOdd[] = {"", "x", "-", "$", "$FFFFFFFF", "2147483648", "-2147483648", " 1"};
    const int pick = in.ConsumeIntegralInRange(0, 7);
    if (pick < absent)
        return;
    std::string value = values[in.ConsumeIntegralInRange<std::size_t>(0, values.size() - 1)];
    if (number && pick == 7)
        value = in.PickValueInArray(kOdd);
    else if (value == kAnyInt)
        value = std::to_string(in.ConsumeIntegral<std::int32_t>());
    out += std::string(" ") + name + "=\"" + value + "\"";
}

std::string items(FuzzedDataProvider &in, int most)
{
    std::string text;
    for (int n = in.ConsumeIntegralInRange(0, most); n > 0; --n) {
        text += "<item name=\"i" + std::to_string(in.ConsumeIntegralInRange(0, 7)) + "\" caption=\"c\"";
        attribute(text, in, "type", kTypes, 1, false);
        attribute(text, in, "size", numbers(0, fuzz::kMaxSize, {"-1", "65536"}), 1, false);
        attribute(text, in, "bits", numbers(-1, fuzz::kMaxBits, {}), 4, false);
        for (const char *name : {"mul", "div", "add", "sub"})
            attribute(text, in, name, kFactors, 1, true);
        attribute(text, in, "active", {"0", "1", "2", kAnyInt}, 1, true);
        attribute(text, in, "array", kArrays, 4, false);
        attribute(text, in, "mask", kArrays, 6, false);
        attribute(text, in, "deactivator", {""}, 6, false);
        text += "/>";
    }
    return text;
}

std::string description(FuzzedDataProvider &in)
{
    std::string text = "<?xml version=\"1.0\"?>\n<devices><device hw=\"" + std::to_string(kHw) + "\">";
    // Up to three blocks of up to five items, the arrays, two structs of up to three items.
    for (int block = in.ConsumeIntegralInRange(1, 3); block > 0; --block)
        text += "<block caption=\"b\">" + items(in, 5) + "</block>";
    for (int a = 0, count = in.ConsumeIntegralInRange(0, 3); a < count; ++a) {
        const bool mask = in.ConsumeBool();
        text += "<array name=\"" + kArrays[a] + "\" caption=\"a\"";
        attribute(text, in, "start", {"0", "1", "-1", "2147483647", "-2147483648", "2147483640", kAnyInt}, 1, true);
        attribute(text, in, "count", numbers(0, mask ? kMaxMaskCount : kMaxArrayCount, {"-1"}), 1, true);
        text += "/>";
    }
    for (int s = 0, count = in.ConsumeIntegralInRange(0, 2); s < count; ++s)
        text += "<struct name=\"s" + std::to_string(s) + "\">" + items(in, 3) + "</struct>";
    text += "<enum name=\"mode\"><choice value=\"0\" caption=\"zero\"/><choice value=\"1\" caption=\"one\"/></enum>";
    return text + "</device></devices>\n";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const fuzz::TScratchDir catalogue("fuzz-binary-random");
    FuzzedDataProvider in(data, size);
    catalogue.Write("device.xml", description(in));
    const TConfigModelPtr model = CreateConfigModel(catalogue.path, kHw, 0);
    if (!model)
        return 0;
    fuzz::Exercise(*model, [&](int length) {
        // Now and then an image of the wrong length, as a broken link could deliver.
        if (in.ConsumeIntegralInRange(0, 7) == 0)
            length = in.ConsumeIntegralInRange(0, length + 2);
        Bytes image = in.ConsumeBytes<std::uint8_t>(static_cast<std::size_t>(length));
        image.resize(static_cast<std::size_t>(length), 0);
        return image;
    });
    return 0;
}
