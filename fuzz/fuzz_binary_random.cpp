// Small random binary descriptions: items of random types, widths, scaling,
// arrays, masks, structs (self-nesting included), inactive items and
// deactivators, written into a scratch catalogue; then random images are
// decoded, shown in the grid and encoded again.

#include "fuzz/support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

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
// Images of larger blocks are not built: the point is the layout, not the memory.
constexpr int kMaxImage = 4096;

const char *const kTypeWords[] = {"int", "string", "pswd_string", "ip_string", "phone", "hex",
                                  "hex_array", "dec_array", "bool", "mode", "s0", "s1"};
const char *const kItemNames[] = {"i0", "i1", "i2", "i3", "i4", "i5", "i6", "i7"};
const char *const kArrayNames[] = {"a0", "a1", "a2", "nowhere"};

// One attribute, often absent, sometimes not a number at all; any int only where a large value stays cheap.
void numberAttribute(std::string &out, FuzzedDataProvider &in, const char *name, const std::vector<std::string> &usual,
                     bool anyInt = true)
{
    switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0:
        return;
    case 1:
        if (anyInt) {
            out += std::string(" ") + name + "=\"" + std::to_string(in.ConsumeIntegral<std::int32_t>()) + "\"";
            return;
        }
        [[fallthrough]];
    case 2: {
        static const char *const kOdd[] = {"", "x", "-", "$", "$FFFFFFFF", "2147483648", "-2147483648", " 1"};
        out += std::string(" ") + name + "=\"" + in.PickValueInArray(kOdd) + "\"";
        return;
    }
    default:
        out += std::string(" ") + name + "=\"" + usual[in.ConsumeIntegralInRange<std::size_t>(0, usual.size() - 1)] +
               "\"";
    }
}

std::string item(FuzzedDataProvider &in)
{
    std::string text = "<item name=\"";
    text += in.PickValueInArray(kItemNames);
    text += "\" caption=\"c\"";
    if (in.ConsumeIntegralInRange(0, 5) > 0)
        text += std::string(" type=\"") + in.PickValueInArray(kTypeWords) + "\"";
    std::vector<std::string> sizes;
    for (int size = 0; size <= kMaxSize; ++size)
        sizes.push_back(std::to_string(size));
    sizes.push_back("-1");
    sizes.push_back("65536");
    if (in.ConsumeIntegralInRange(0, 7) > 0)
        text += " size=\"" + sizes[in.ConsumeIntegralInRange<std::size_t>(0, sizes.size() - 1)] + "\"";
    if (in.ConsumeBool())
        text += " bits=\"" + std::to_string(in.ConsumeIntegralInRange(-1, kMaxBits)) + "\"";
    const std::vector<std::string> factors = {"0", "1", "-1", "2", "3", "10", "40", "2147483647", "-2147483648"};
    numberAttribute(text, in, "mul", factors);
    numberAttribute(text, in, "div", factors);
    numberAttribute(text, in, "add", factors);
    numberAttribute(text, in, "sub", factors);
    numberAttribute(text, in, "active", {"0", "1", "2"});
    if (in.ConsumeBool())
        text += std::string(" array=\"") + in.PickValueInArray(kArrayNames) + "\"";
    if (in.ConsumeIntegralInRange(0, 3) == 0)
        text += std::string(" mask=\"") + in.PickValueInArray(kArrayNames) + "\"";
    if (in.ConsumeIntegralInRange(0, 3) == 0)
        text += " deactivator=\"\"";
    return text + "/>";
}

std::string description(FuzzedDataProvider &in)
{
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<devices><device hw=\"" + std::to_string(kHw) +
                       "\" sw_low=\"" + std::to_string(kSw) + "\">";
    for (int block = in.ConsumeIntegralInRange(1, kMaxBlocks); block > 0; --block) {
        text += "<block caption=\"b\">";
        for (int n = in.ConsumeIntegralInRange(0, kMaxItems); n > 0; --n)
            text += item(in);
        text += "</block>";
    }
    for (int a = 0, count = in.ConsumeIntegralInRange(0, kMaxArrays); a < count; ++a) {
        const bool mask = in.ConsumeBool();
        text += std::string("<array name=\"") + kArrayNames[a] + "\" caption=\"a\"";
        numberAttribute(text, in, "start", {"0", "1", "-1", "2147483647", "-2147483648", "2147483640"});
        numberAttribute(text, in, "count",
                        {std::to_string(in.ConsumeIntegralInRange(0, mask ? kMaxMaskCount : kMaxArrayCount)), "-1"},
                        false);
        text += "/>";
    }
    for (int s = 0, count = in.ConsumeIntegralInRange(0, kMaxStructs); s < count; ++s) {
        text += "<struct name=\"s" + std::to_string(s) + "\">";
        for (int n = in.ConsumeIntegralInRange(0, kMaxStructItems); n > 0; --n)
            text += item(in);
        text += "</struct>";
    }
    text += "<enum name=\"mode\"><choice value=\"0\" caption=\"zero\"/><choice value=\"1\" caption=\"one\"/></enum>";
    return text + "</device></devices>\n";
}

const fuzz::TScratchDir &catalogue()
{
    static const fuzz::TScratchDir dir("fuzz-binary-random");
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::RegisterModels();
    FuzzedDataProvider in(data, size);
    catalogue().Write("device.xml", description(in));
    const TConfigModelPtr model = CreateConfigModel(catalogue().Path(), kHw, kSw);
    if (!model)
        return 0;

    const int blocks = model->GetBlockCount();
    for (int block = 0; block < blocks; ++block) {
        const xml::Node node = model->GetBlock(block);
        int length = 0;
        try {
            length = model->BlockSize(node);
            FUZZ_CHECK(length >= 0);
        } catch (const EError &) {
            length = in.ConsumeIntegralInRange(0, kMaxSize);
        }
        // Now and then an image of the wrong length, as a broken link could deliver.
        if (in.ConsumeIntegralInRange(0, 7) == 0)
            length = in.ConsumeIntegralInRange(0, length + 2);
        if (length > kMaxImage)
            continue;
        Bytes image = in.ConsumeBytes<std::uint8_t>(static_cast<std::size_t>(length));
        image.resize(static_cast<std::size_t>(length), 0);
        try {
            model->DecodeBlock(node, xml::Node(), image, 1);
        } catch (const EError &) {
        }
    }

    TTreeGrid grid;
    try {
        fuzz::FillAndRender(*model, grid);
    } catch (const EError &) {
    }
    for (int block = 0; block < blocks; ++block) {
        try {
            model->EncodeBlock(model->GetBlock(block), xml::Node());
        } catch (const EError &) {
        }
    }
    return 0;
}
