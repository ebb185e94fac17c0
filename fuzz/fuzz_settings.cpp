// Settings files and catalogue files. The first four input bytes are a
// hardware code and a software version (16 bits each, low byte first); the
// rest is opened as a settings file against the sample catalogue, saved and
// reopened, and is also the only file of a scratch catalogue in which a
// model for that code and version is looked up and exercised.

#include "fuzz/support.h"

namespace {

constexpr std::size_t kIdentityBytes = 4;

void openSettings(const fuzz::TScratchDir &scratch, const std::string &file)
{
    const std::string path = scratch.Write("settings.cfg", file).string();
    TConfigModelPtr model;
    if (!fuzz::Try([&] { model = LoadSettingsFile(path, fuzz::kSampleCatalogue); }))
        return;
    FUZZ_CHECK(model);
    const std::string shown = fuzz::Render(*model);
    const std::vector<Bytes> texts = fuzz::EncodeEach(*model).first;
    // A device of the XML format parses the texts it gets as the program parses them.
    if (GetAttribute(model->DeviceElement(), "format") == "xml") {
        const TConfigModelPtr device = fuzz::SampleModel(model->GetHardwareCode(), model->GetSoftwareVersion());
        for (const Bytes &text : texts)
            FUZZ_CHECK(fuzz::Try([&] { device->DecodeBlock(device->GetBlock(0), xml::Node(), text, 1); }));
    }

    // A file the program saves opens again and shows the same; a save it refuses leaves no file.
    const std::filesystem::path saved = scratch.Path() / "saved.cfg";
    std::filesystem::remove(saved);
    if (!fuzz::Try([&] { model->SaveToFile(saved.string()); })) {
        FUZZ_CHECK(!std::filesystem::exists(saved));
        return;
    }
    TConfigModelPtr reopened;
    FUZZ_CHECK(fuzz::Try([&] { reopened = LoadSettingsFile(saved.string(), fuzz::kSampleCatalogue); }) && reopened);
    const std::string shownAgain = fuzz::Render(*reopened);
    if (shownAgain != shown)
        std::fprintf(stderr, "before saving:\n%s\nafter reopening:\n%s\n", shown.c_str(), shownAgain.c_str());
    FUZZ_CHECK(shownAgain == shown);
}

void useCatalogue(const fuzz::TScratchDir &scratch, const std::string &file, std::uint16_t hw, std::uint16_t sw)
{
    const std::filesystem::path catalogue = scratch.Write("catalogue/device.xml", file).parent_path();
    FindInCatalogue(catalogue, hw, sw);
    const TConfigModelPtr model = CreateConfigModel(catalogue, hw, sw);
    if (!model)
        return;
    fuzz::Try([&] {
        model->NeedsPassword();
        model->IsCompatible(hw, sw);
        model->FindEnum("mode");
        FUZZ_CHECK(model->GetHardwareCode() == hw && model->GetSoftwareVersion() == sw);
    });
    fuzz::Render(*model);
    fuzz::Exercise(*model, [](int length) { return Bytes(static_cast<std::size_t>(length), 0); });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const fuzz::TScratchDir scratch("fuzz-settings");
    if (size < kIdentityBytes)
        return 0;
    const auto hw = static_cast<std::uint16_t>(data[0] | (data[1] << 8));
    const auto sw = static_cast<std::uint16_t>(data[2] | (data[3] << 8));
    const std::string file(data + kIdentityBytes, data + size);
    openSettings(scratch, file);
    useCatalogue(scratch, file, hw, sw);
    return 0;
}
