// Block images of the sample binary device: decode, fill the grid, encode.
// The first input byte chooses exact block sizes (images follow it, split by
// BlockSize) or odd sizes and start positions taken from the input.

#include "fuzz/support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cstdint>
#include <optional>
#include <vector>

namespace {

// A first byte from here on asks for odd sizes and start positions.
constexpr std::uint8_t kOddSizesFrom = 0xE0;
constexpr int kFirstPosition = 1;

struct TBlockImage {
    Bytes bytes;
    int start = kFirstPosition;
};

std::vector<int> blockSizes(IConfigModel &model)
{
    std::vector<int> sizes;
    for (int block = 0; block < model.GetBlockCount(); ++block) {
        sizes.push_back(model.BlockSize(model.GetBlock(block)));
        FUZZ_CHECK(sizes.back() > 0);
    }
    return sizes;
}

std::vector<TBlockImage> exactImages(const Bytes &input, const std::vector<int> &sizes)
{
    std::vector<TBlockImage> images;
    std::size_t offset = 0;
    for (const int size : sizes) {
        TBlockImage image;
        image.bytes = CopyBytes(input, offset, static_cast<std::size_t>(size));
        image.bytes.resize(static_cast<std::size_t>(size), 0);
        offset += static_cast<std::size_t>(size);
        images.push_back(std::move(image));
    }
    return images;
}

std::vector<TBlockImage> oddImages(const Bytes &input, const std::vector<int> &sizes)
{
    static const int kOddStarts[] = {0, -1, 2, INT_MAX, INT_MIN};
    FuzzedDataProvider in(input.data(), input.size());
    std::vector<TBlockImage> images;
    for (const int size : sizes) {
        const int length = in.ConsumeBool() ? size + in.ConsumeIntegralInRange(-3, 3)
                                            : in.ConsumeIntegralInRange(0, 2 * size);
        TBlockImage image;
        image.start = in.ConsumeBool() ? kFirstPosition : in.PickValueInArray(kOddStarts);
        image.bytes = in.ConsumeBytes<std::uint8_t>(static_cast<std::size_t>(std::max(length, 0)));
        image.bytes.resize(static_cast<std::size_t>(std::max(length, 0)), 0);
        images.push_back(std::move(image));
    }
    return images;
}

// Decodes every block, going on after a failure; true when all of them decoded.
bool decodeAll(IConfigModel &model, const std::vector<TBlockImage> &images, bool exact, const std::vector<int> &sizes)
{
    bool all = true;
    for (int block = 0; block < static_cast<int>(images.size()); ++block) {
        const TBlockImage &image = images[static_cast<std::size_t>(block)];
        try {
            const int end = model.DecodeBlock(model.GetBlock(block), xml::Node(), image.bytes, image.start);
            // The sample's layout fills its blocks exactly.
            if (exact)
                FUZZ_CHECK(end == image.start + sizes[static_cast<std::size_t>(block)]);
        } catch (const EError &) {
            all = false;
        }
    }
    return all;
}

// The images of every block, or none when one of them fails.
std::optional<std::vector<Bytes>> encodeAll(IConfigModel &model)
{
    std::vector<Bytes> images;
    bool all = true;
    for (int block = 0; block < model.GetBlockCount(); ++block) {
        try {
            images.push_back(model.EncodeBlock(model.GetBlock(block), xml::Node()));
        } catch (const EError &) {
            images.emplace_back();
            all = false;
        }
    }
    if (!all)
        return std::nullopt;
    return images;
}

void render(IConfigModel &model)
{
    TTreeGrid grid;
    try {
        fuzz::FillAndRender(model, grid);
    } catch (const EError &) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::RegisterModels();
    if (size == 0)
        return 0;
    const bool exact = data[0] < kOddSizesFrom;
    const Bytes input(data + 1, data + size);

    const TConfigModelPtr model = fuzz::SampleModel(fuzz::kBinaryHw, fuzz::kBinarySw);
    const std::vector<int> sizes = blockSizes(*model);
    const std::vector<TBlockImage> images = exact ? exactImages(input, sizes) : oddImages(input, sizes);
    const bool decoded = decodeAll(*model, images, exact, sizes);
    render(*model);
    const auto encoded = encodeAll(*model);
    if (!exact || !decoded || !encoded)
        return 0;

    // What the program writes is as long as the device expects, reads back, and writes again unchanged.
    std::vector<TBlockImage> written;
    for (std::size_t block = 0; block < encoded->size(); ++block) {
        FUZZ_CHECK((*encoded)[block].size() == static_cast<std::size_t>(sizes[block]));
        written.push_back({(*encoded)[block], kFirstPosition});
    }
    const TConfigModelPtr again = fuzz::SampleModel(fuzz::kBinaryHw, fuzz::kBinarySw);
    FUZZ_CHECK(decodeAll(*again, written, true, sizes));
    const auto reencoded = encodeAll(*again);
    FUZZ_CHECK(reencoded && *reencoded == *encoded);
    return 0;
}
