// Block images of the sample binary device: decode, fill the grid, encode.
// The first input byte chooses exact block sizes (images follow it, split by
// BlockSize) or odd sizes and start positions taken from the input.

#include "fuzz/support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <climits>

namespace {

// A first byte from here on asks for odd sizes and start positions.
constexpr std::uint8_t kOddSizesFrom = 0xE0;
const int kOddStarts[] = {0, -1, 2, INT_MAX, INT_MIN};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const bool exact = data[0] < kOddSizesFrom;
    FuzzedDataProvider in(data + 1, size - 1);

    const TConfigModelPtr model = fuzz::SampleModel(fuzz::kBinarySample);
    std::vector<Bytes> images;
    std::vector<int> starts;
    for (int block = 0; block < model->GetBlockCount(); ++block) {
        int length = model->BlockSize(model->GetBlock(block));
        // Exact images follow one another; odd ones are a little off the block's size or of any size up to twice
        // it, and now and then start at an odd position.
        if (!exact) {
            length += in.ConsumeBool() ? in.ConsumeIntegralInRange(-3, 3) : in.ConsumeIntegralInRange(-length, length);
            starts.push_back(in.ConsumeBool() ? 1 : in.PickValueInArray(kOddStarts));
        }
        const auto bytes = static_cast<std::size_t>(std::max(length, 0));
        images.push_back(in.ConsumeBytes<std::uint8_t>(bytes));
        images.back().resize(bytes, 0);
    }
    // The sample's layout fills its blocks exactly.
    const bool decoded = fuzz::DecodeEach(*model, images, exact, starts);
    fuzz::Render(*model);
    const auto [written, encoded] = fuzz::EncodeEach(*model);
    // What the program writes reads back to the very end of the layout (so it is as long as the device expects),
    // and writes again unchanged.
    if (exact && decoded && encoded)
        fuzz::CheckReadsBack(fuzz::kBinarySample, written);
    return 0;
}
