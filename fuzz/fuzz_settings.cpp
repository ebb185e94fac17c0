// Settings files and catalogue files. The first four input bytes are a
// hardware code and a software version (16 bits each, low byte first); the
// rest is opened as a settings file against the sample catalogue, saved and
// reopened, and is also the only file of a scratch catalogue in which a
// model for that code and version is looked up and exercised.

#include "fuzz/support.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kIdentityBytes = 4;
// Images of larger blocks are not built: the point is the layout, not the memory.
constexpr int kMaxImage = 4096;

const fuzz::TScratchDir &scratch()
{
    static const fuzz::TScratchDir dir("fuzz-settings");
    return dir;
}

const fuzz::TScratchDir &catalogue()
{
    static const fuzz::TScratchDir dir("fuzz-settings-catalogue");
    return dir;
}

std::string pathText(const std::filesystem::path &path)
{
    return reinterpret_cast<const char *>(path.u8string().c_str());
}

// The images of the blocks that encode.
std::vector<Bytes> encodeAll(IConfigModel &model)
{
    std::vector<Bytes> images;
    for (int block = 0; block < model.GetBlockCount(); ++block) {
        try {
            images.push_back(model.EncodeBlock(model.GetBlock(block), xml::Node()));
        } catch (const EError &) {
        }
    }
    return images;
}

// A device of the XML format parses the texts it gets as the program parses them.
void checkBlockTextsRead(IConfigModel &model, const std::vector<Bytes> &texts)
{
    if (GetAttribute(model.DeviceElement(), "format") != "xml")
        return;
    const TConfigModelPtr device =
        CreateConfigModel(fuzz::SampleCatalogue(), model.GetHardwareCode(), model.GetSoftwareVersion());
    FUZZ_CHECK(device);
    for (const Bytes &text : texts) {
        try {
            device->DecodeBlock(device->GetBlock(0), xml::Node(), text, 1);
        } catch (const EError &error) {
            std::fprintf(stderr, "block text does not read back: %s\n%.*s\n", error.what(),
                         static_cast<int>(text.size()), reinterpret_cast<const char *>(text.data()));
            FUZZ_CHECK(!"an encoded block text reads back");
        }
    }
}

std::string render(IConfigModel &model)
{
    TTreeGrid grid;
    try {
        return fuzz::FillAndRender(model, grid);
    } catch (const EError &error) {
        return std::string("! ") + error.what();
    }
}

void openSettings(const std::uint8_t *data, std::size_t size)
{
    const std::string file = pathText(scratch().Write("settings.cfg", data, size));
    TConfigModelPtr model;
    try {
        model = LoadSettingsFile(file, fuzz::SampleCatalogue());
    } catch (const EError &) {
        return;
    }
    FUZZ_CHECK(model);
    const std::string shown = render(*model);
    checkBlockTextsRead(*model, encodeAll(*model));

    // A file the program saves opens again and shows the same; a save it refuses leaves no file.
    const std::filesystem::path savedPath = scratch().Path() / "saved.cfg";
    const std::string saved = pathText(savedPath);
    std::filesystem::remove(savedPath);
    try {
        model->SaveToFile(saved);
    } catch (const EError &) {
        FUZZ_CHECK(!std::filesystem::exists(savedPath));
        return;
    }
    TConfigModelPtr reopened;
    try {
        reopened = LoadSettingsFile(saved, fuzz::SampleCatalogue());
    } catch (const EError &error) {
        std::fprintf(stderr, "reopening failed: %s\n", error.what());
        FUZZ_CHECK(!"a saved settings file opens again");
    }
    FUZZ_CHECK(reopened);
    const std::string shownAgain = render(*reopened);
    if (shownAgain != shown)
        std::fprintf(stderr, "before saving:\n%s\nafter reopening:\n%s\n", shown.c_str(), shownAgain.c_str());
    FUZZ_CHECK(shownAgain == shown);
}

void useCatalogue(const std::uint8_t *data, std::size_t size, std::uint16_t hw, std::uint16_t sw)
{
    catalogue().Write("device.xml", data, size);
    FindInCatalogue(catalogue().Path(), hw, sw);
    const TConfigModelPtr model = CreateConfigModel(catalogue().Path(), hw, sw);
    if (!model)
        return;
    try {
        model->NeedsPassword();
        model->IsCompatible(hw, sw);
        model->FindEnum("mode");
        FUZZ_CHECK(model->GetHardwareCode() == hw && model->GetSoftwareVersion() == sw);
    } catch (const EError &) {
    }
    render(*model);
    for (int block = 0; block < model->GetBlockCount(); ++block) {
        try {
            const xml::Node node = model->GetBlock(block);
            const int length = model->BlockSize(node);
            FUZZ_CHECK(length >= 0);
            if (length <= kMaxImage)
                model->DecodeBlock(node, xml::Node(), Bytes(static_cast<std::size_t>(length), 0), 1);
        } catch (const EError &) {
        }
    }
    render(*model);
    encodeAll(*model);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::RegisterModels();
    if (size < kIdentityBytes)
        return 0;
    const auto hw = static_cast<std::uint16_t>(data[0] | (data[1] << 8));
    const auto sw = static_cast<std::uint16_t>(data[2] | (data[3] << 8));
    data += kIdentityBytes;
    size -= kIdentityBytes;
    openSettings(data, size);
    useCatalogue(data, size, hw, sw);
    return 0;
}
