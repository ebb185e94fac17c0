// Block texts of the sample XML device: decode, fill the grid, grow and shrink
// its arrays, encode, and read the encoded texts back. A NUL byte separates
// the text of the first block from that of the second.

#include "fuzz/support.h"

namespace {

// Every array gets an element and loses its first one again; then the grid is filled anew from the document.
void editArrays(IConfigModel &model)
{
    TTreeGrid grid;
    if (!fuzz::Try([&] { model.FillTree(grid); }))
        return;
    // The array nodes are found before anything changes the tree.
    std::vector<PVirtualNode> arrays;
    for (int b = 0; b < grid.ChildCount(nullptr); ++b) {
        PVirtualNode block = grid.Child(nullptr, b);
        for (int p = 0; p < grid.ChildCount(block); ++p)
            if (grid.Data(grid.Child(block, p)).ArrayDesc)
                arrays.push_back(grid.Child(block, p));
    }
    for (PVirtualNode array : arrays)
        fuzz::Try([&] {
            model.PreparePopupMenu(grid, array);
            const int before = grid.ChildCount(array);
            model.AddArrayItem(grid, array);
            FUZZ_CHECK(grid.ChildCount(array) == before + 1);
            PVirtualNode first = grid.Child(array, 0);
            model.PreparePopupMenu(grid, first);
            model.DeleteArrayItem(grid, first);
            FUZZ_CHECK(grid.ChildCount(array) == before);
        });
    TreeText(grid);
    fuzz::Render(model);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const TConfigModelPtr model = fuzz::SampleModel(fuzz::kXmlSample);
    // Block 0's text runs to the first NUL, block 1's from there to the end.
    const std::uint8_t *nul = std::find(data, data + size, 0);
    std::vector<Bytes> texts{Bytes(data, nul)};
    if (nul != data + size)
        texts.emplace_back(nul + 1, data + size);
    // A text decodes to its very end.
    fuzz::DecodeEach(*model, texts, true);
    editArrays(*model);
    const auto [encoded, all] = fuzz::EncodeEach(*model);
    // Texts the program sends are texts it can read.
    if (all)
        fuzz::CheckReadsBack(fuzz::kXmlSample, encoded);
    return 0;
}
