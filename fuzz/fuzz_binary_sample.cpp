// Block images of the sample binary device: decode, fill the grid, encode.
// The first input byte chooses exact block sizes (images follow it, split by
// BlockSize) or odd sizes and start positions taken from the input.

#include "fuzz/support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <climits>

namespace {

// A first byte from here on asks for odd sizes and start positions.
constexpr std::uint8_t kOddSizesFrom = 0xE0;

// Exact images follow one another; odd ones are a little off the block's size or of any size up to twice it,
// and now and then start at an odd position.
Bytes image(FuzzedDataProvider &in, bool exact, int size, std::vector<int> &starts)
{
    static const int kOddStarts[] = {0, -1, 2, INT_MAX, INT_MIN};
    int length = size;
    if (!exact) {
        length = in.ConsumeBool() ? size + in.ConsumeIntegralInRange(-3, 3) : in.ConsumeIntegralInRange(0, 2 * size);
        starts.push_back(in.ConsumeBool() ? 1 : in.PickValueInArray(kOddStarts));
    }
    Bytes bytes = in.ConsumeBytes<std::uint8_t>(static_cast<std::size_t>(std::max(length, 0)));
    bytes.resize(static_cast<std::size_t>(std::max(length, 0)), 0);
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const bool exact = data[0] < kOddSizesFrom;
    FuzzedDataProvider in(data + 1, size - 1);

    const TConfigModelPtr model = fuzz::SampleModel(fuzz::kBinaryHw, fuzz::kBinarySw);
    std::vector<Bytes> images;
    std::vector<int> starts;
    for (int block = 0; block < model->GetBlockCount(); ++block) {
        const int length = model->BlockSize(model->GetBlock(block));
        FUZZ_CHECK(length > 0);
        images.push_back(image(in, exact, length, starts));
    }
    // The sample's layout fills its blocks exactly.
    const bool decoded = fuzz::DecodeEach(*model, images, exact, starts);
    fuzz::Render(*model);
    const auto [written, encoded] = fuzz::EncodeEach(*model);
    if (!exact || !decoded || !encoded)
        return 0;

    // What the program writes is as long as the device expects, reads back, and writes again unchanged.
    for (std::size_t block = 0; block < written.size(); ++block)
        FUZZ_CHECK(written[block].size() == images[block].size());
    fuzz::CheckReadsBack(fuzz::kBinaryHw, fuzz::kBinarySw, written);
    return 0;
}
