// Block texts of the sample XML device: decode, fill the grid, grow and shrink
// its arrays, encode, and read the encoded texts back. A NUL byte separates
// the text of the first block from that of the second.

#include "fuzz/support.h"

namespace {

constexpr int kParameterLevel = 1;

// Every array gets an element and loses its first one again; then the grid is filled anew from the document.
void editArrays(IConfigModel &model)
{
    TTreeGrid grid;
    if (fuzz::Render(model, &grid).starts_with("! "))
        return;
    // The array nodes are found before anything changes the tree.
    std::vector<PVirtualNode> arrays;
    for (int b = 0; b < grid.ChildCount(nullptr); ++b) {
        PVirtualNode block = grid.Child(nullptr, b);
        for (int p = 0; p < grid.ChildCount(block); ++p) {
            PVirtualNode parameter = grid.Child(block, p);
            FUZZ_CHECK(grid.Level(parameter) == kParameterLevel);
            if (grid.Data(parameter).ArrayDesc)
                arrays.push_back(parameter);
        }
    }
    for (PVirtualNode array : arrays) {
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
    }
    TreeText(grid);
    fuzz::Render(model);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const TConfigModelPtr model = fuzz::SampleModel(fuzz::kXmlHw, fuzz::kXmlSw);
    // A text decodes to its very end.
    fuzz::DecodeEach(*model, fuzz::Split(data, size, 0, 2), true);
    editArrays(*model);
    const auto [encoded, all] = fuzz::EncodeEach(*model);
    // Texts the program sends are texts it can read.
    if (all)
        fuzz::CheckReadsBack(fuzz::kXmlHw, fuzz::kXmlSw, encoded);
    return 0;
}
