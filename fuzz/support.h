#pragma once

// The harness every fuzz target shares: the failure report, the steps allowed
// to fail, the sample models and scratch folders, and the checks that hold
// for decoding, showing and encoding with any model.

#include "model/errors.h"
#include "model/model.h"
#include "model/tools.h"
#include "model_bin/model_bin.h"
#include "model_xml/model_xml.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <unistd.h>

// A broken promise of the code under test ends the run like a crash, so libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                  \
    ((condition) ? void(0)                                                                     \
                 : (std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition), std::abort()))

// libFuzzer calls this once before the first input: both model formats are known from then on.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    RegisterBinaryConfigModel();
    RegisterXmlConfigModel();
    return 0;
}

namespace fuzz {

// Runs one step of the code under test; only EError is an expected failure, anything else ends the run.
template <typename TStep>
bool Try(TStep &&step)
try {
    step();
    return true;
} catch (const EError &) {
    return false;
}

// The project's own catalogue with the sample devices: binary (hw 5, sw 300) and XML (hw 7, sw 120).
inline const std::filesystem::path kSampleCatalogue = CATALOGUE_DIR;
struct TDevice { std::uint16_t hw, sw; };
inline constexpr TDevice kBinarySample{5, 300};
inline constexpr TDevice kXmlSample{7, 120};
// Images of larger blocks are cut short: the point is the layout, not the memory.
inline constexpr int kMaxImage = 4096;
// Widths the field conversions are driven with: past the longest field and past 64 bits.
inline constexpr int kMaxSize = 12;
inline constexpr int kMaxBits = 70;

inline TConfigModelPtr SampleModel(TDevice device)
{
    TConfigModelPtr model = CreateConfigModel(kSampleCatalogue, device.hw, device.sw);
    FUZZ_CHECK(model && model->GetBlockCount() > 0);
    return model;
}

// A folder of this process's own in the temporary folder (run.sh points that into its work folder).
struct TScratchDir {
    explicit TScratchDir(const std::string &purpose)
        : path(std::filesystem::temp_directory_path() / ("configurator-" + purpose + "-" + std::to_string(::getpid())))
    {
        std::filesystem::create_directories(path);
    }
    ~TScratchDir() { std::filesystem::remove_all(path, ignored); }

    // Replaces the file's contents and returns its path.
    std::string Write(const std::string &name, const std::string &bytes) const
    {
        FUZZ_CHECK(std::ofstream(path / name, std::ios::binary) << bytes);
        return (path / name).string();
    }

    const std::filesystem::path path;
    std::error_code ignored;
};

// The grid as the command-line tool prints it, or "! " and the message the user would see.
inline std::string Render(IConfigModel &model)
{
    TTreeGrid grid;
    std::string failure;
    try {
        model.FillTree(grid);
    } catch (const EError &error) {
        failure = std::string("! ") + error.what();
    }
    FUZZ_CHECK(!grid.Updating());
    return failure.empty() ? TreeText(grid) : failure;
}

// Decodes the images into the first blocks from their starts (1 where none is given), going on after a
// failure; true when every one decoded. With whole, a decoding must end right after its image.
inline bool DecodeEach(IConfigModel &model, const std::vector<Bytes> &images, bool whole,
                       const std::vector<int> &starts = {})
{
    bool all = true;
    for (std::size_t block = 0; block < images.size(); ++block) {
        const int start = block < starts.size() ? starts[block] : 1;
        all = Try([&] {
            const int end = model.DecodeBlock(model.GetBlock(static_cast<int>(block)), xml::Node(), images[block], start);
            FUZZ_CHECK(!whole || end == start + static_cast<int>(images[block].size()));
        }) && all;
    }
    return all;
}

// The images of the blocks that encode, and whether every block did.
inline std::pair<std::vector<Bytes>, bool> EncodeEach(IConfigModel &model)
{
    std::vector<Bytes> images;
    bool all = true;
    for (int block = 0; block < model.GetBlockCount(); ++block)
        all = Try([&] { images.push_back(model.EncodeBlock(model.GetBlock(block), xml::Node())); }) && all;
    return {images, all};
}

// What the program sends a sample device reads back whole into a fresh model and encodes the same again.
inline void CheckReadsBack(TDevice device, const std::vector<Bytes> &encoded)
{
    const TConfigModelPtr again = SampleModel(device);
    FUZZ_CHECK(DecodeEach(*again, encoded, true));
    FUZZ_CHECK(EncodeEach(*again) == std::pair(encoded, true));
}

// What a model of any description must survive: each block decoded from an image made for the size the model
// expects (cut at kMaxImage), the grid filled and every block encoded.
inline void Exercise(IConfigModel &model, const std::function<Bytes(int length)> &image)
{
    std::vector<Bytes> images;
    for (int block = 0; block < model.GetBlockCount(); ++block) {
        int length = 0;
        Try([&] { length = model.BlockSize(model.GetBlock(block)); });
        FUZZ_CHECK(length >= 0);
        images.push_back(image(std::min(length, kMaxImage)));
    }
    DecodeEach(model, images, false);
    Render(model);
    EncodeEach(model);
}

} // namespace fuzz
