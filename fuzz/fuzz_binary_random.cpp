// Small random binary descriptions: items of random types, widths, scaling,
// arrays, masks, structs (self-nesting included), inactive items and
// deactivators, written into a scratch catalogue; then random images are
// decoded, shown in the grid and encoded again.

#include "fuzz/support.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

constexpr std::uint16_t kHw = 1;
constexpr std::uint16_t kSw = 0;
constexpr int kMaxBlocks = 3;
constexpr int kMaxItems = 5;
constexpr int kMaxArrays = 3;
constexpr int kMaxStructs = 2;
constexpr int kMaxStructItems = 3;
constexpr int kMaxArrayCount = 8; // keeps nested arrays of structs fast
constexpr int kMaxMaskCount = 4;
constexpr int kMaxSize = 12;
constexpr int kMaxBits = 70;

const char *const kItemNames[] = {"i0", "i1", "i2", "i3", "i4", "i5", "i6", "i7"};
const char *const kArrayNames[] = {"a0", "a1", "a2"};
// In a list of values: any 32-bit integer, where a large value stays cheap.
const std::string kAnyInt = "*";

std::vector<std::string> numbers(int from, int to, std::vector<std::string> more)
{
    for (int n = from; n <= to; ++n)
        more.push_back(std::to_string(n));
    return more;
}

const std::vector<std::string> kTypes = {"int", "string", "pswd_string", "ip_string", "phone", "hex",
                                         "hex_array", "dec_array", "bool", "mode", "s0", "s1"};
const std::vector<std::string> kSizes = numbers(0, kMaxSize, {"-1", "65536"});
const std::vector<std::string> kBits = numbers(-1, kMaxBits, {});
const std::vector<std::string> kFactors = {"0", "1", "-1", "2", "3", "10", "40", "2147483647", "-2147483648", kAnyInt};
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
        text += std::string("<item name=\"") + in.PickValueInArray(kItemNames) + "\" caption=\"c\"";
        attribute(text, in, "type", kTypes, 1, false);
        attribute(text, in, "size", kSizes, 1, false);
        attribute(text, in, "bits", kBits, 4, false);
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
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<devices><device hw=\"" + std::to_string(kHw) +
                       "\" sw_low=\"" + std::to_string(kSw) + "\">";
    for (int block = in.ConsumeIntegralInRange(1, kMaxBlocks); block > 0; --block)
        text += "<block caption=\"b\">" + items(in, kMaxItems) + "</block>";
    for (int a = 0, count = in.ConsumeIntegralInRange(0, kMaxArrays); a < count; ++a) {
        const bool mask = in.ConsumeBool();
        text += std::string("<array name=\"") + kArrayNames[a] + "\" caption=\"a\"";
        attribute(text, in, "start", {"0", "1", "-1", "2147483647", "-2147483648", "2147483640", kAnyInt}, 1, true);
        attribute(text, in, "count", numbers(0, mask ? kMaxMaskCount : kMaxArrayCount, {"-1"}), 1, true);
        text += "/>";
    }
    for (int s = 0, count = in.ConsumeIntegralInRange(0, kMaxStructs); s < count; ++s)
        text += "<struct name=\"s" + std::to_string(s) + "\">" + items(in, kMaxStructItems) + "</struct>";
    text += "<enum name=\"mode\"><choice value=\"0\" caption=\"zero\"/><choice value=\"1\" caption=\"one\"/></enum>";
    return text + "</device></devices>\n";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const fuzz::TScratchDir catalogue("fuzz-binary-random");
    FuzzedDataProvider in(data, size);
    catalogue.Write("device.xml", description(in));
    const TConfigModelPtr model = CreateConfigModel(catalogue.Path(), kHw, kSw);
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
