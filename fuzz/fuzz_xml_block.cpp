// Block texts of the sample XML device: decode, fill the grid, grow and shrink
// its arrays, encode, and read the encoded texts back. A NUL byte separates
// the text of the first block from that of the second.

#include "fuzz/support.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace {

constexpr int kArrayLevel = 1;

// The grid's array parameter nodes, found before anything changes the tree.
std::vector<PVirtualNode> arrayNodes(TTreeGrid &grid)
{
    std::vector<PVirtualNode> nodes;
    for (int b = 0; b < grid.ChildCount(nullptr); ++b) {
        PVirtualNode block = grid.Child(nullptr, b);
        for (int p = 0; p < grid.ChildCount(block); ++p) {
            PVirtualNode parameter = grid.Child(block, p);
            FUZZ_CHECK(grid.Level(parameter) == kArrayLevel);
            if (grid.Data(parameter).ArrayDesc)
                nodes.push_back(parameter);
        }
    }
    return nodes;
}

void editArrays(IConfigModel &model)
{
    TTreeGrid grid;
    try {
        fuzz::FillAndRender(model, grid);
    } catch (const EError &) {
        return;
    }
    for (PVirtualNode array : arrayNodes(grid)) {
        try {
            model.PreparePopupMenu(grid, array);
            const int before = grid.ChildCount(array);
            model.AddArrayItem(grid, array);
            FUZZ_CHECK(grid.ChildCount(array) == before + 1);
            PVirtualNode first = grid.Child(array, 0);
            model.PreparePopupMenu(grid, first);
            model.DeleteArrayItem(grid, first);
            FUZZ_CHECK(grid.ChildCount(array) == before);
        } catch (const EError &) {
        }
    }
    TreeText(grid);
    // The grid rebuilt from the edited document.
    TTreeGrid rebuilt;
    try {
        fuzz::FillAndRender(model, rebuilt);
    } catch (const EError &) {
    }
}

std::optional<std::vector<Bytes>> encodeAll(IConfigModel &model)
{
    std::vector<Bytes> texts;
    for (int block = 0; block < model.GetBlockCount(); ++block) {
        try {
            texts.push_back(model.EncodeBlock(model.GetBlock(block), xml::Node()));
        } catch (const EError &) {
            return std::nullopt;
        }
    }
    return texts;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::RegisterModels();
    const std::uint8_t *end = data + size;
    const std::uint8_t *separator = std::find(data, end, 0);
    std::vector<Bytes> texts{Bytes(data, separator)};
    if (separator != end)
        texts.emplace_back(separator + 1, end);

    const TConfigModelPtr model = fuzz::SampleModel(fuzz::kXmlHw, fuzz::kXmlSw);
    for (std::size_t block = 0; block < texts.size(); ++block) {
        try {
            const int start = 1;
            const int next = model->DecodeBlock(model->GetBlock(static_cast<int>(block)), xml::Node(), texts[block], start);
            FUZZ_CHECK(next == start + static_cast<int>(texts[block].size()));
        } catch (const EError &) {
        }
    }
    editArrays(*model);
    const auto encoded = encodeAll(*model);
    if (!encoded)
        return 0;

    // Texts the program sends are texts it can read.
    const TConfigModelPtr again = fuzz::SampleModel(fuzz::kXmlHw, fuzz::kXmlSw);
    for (std::size_t block = 0; block < encoded->size(); ++block) {
        try {
            again->DecodeBlock(again->GetBlock(static_cast<int>(block)), xml::Node(), (*encoded)[block], 1);
        } catch (const EError &error) {
            std::fprintf(stderr, "encoded block %zu does not read back: %s\n%.*s\n", block, error.what(),
                         static_cast<int>((*encoded)[block].size()),
                         reinterpret_cast<const char *>((*encoded)[block].data()));
            FUZZ_CHECK(!"an encoded block text reads back");
        }
    }
    const auto reencoded = encodeAll(*again);
    FUZZ_CHECK(reencoded && *reencoded == *encoded);
    return 0;
}
