// Settings files and catalogue files. The first four input bytes are a
// hardware code and a software version (16 bits each, low byte first); the
// rest is opened as a settings file against the sample catalogue, saved and
// reopened, and is also the only description file of a scratch catalogue in
// which a model for that code and version is looked up and exercised.

#include "fuzz/support.h"

namespace {

constexpr std::size_t kIdentityBytes = 4;

void openSettings(const fuzz::TScratchDir &scratch, const std::string &file)
{
    TConfigModelPtr model;
    if (!fuzz::Try([&] { model = LoadSettingsFile(scratch.Write("settings.cfg", file), fuzz::kSampleCatalogue); }))
        return;
    const std::string shown = fuzz::Render(*model);
    // What the program sends the device of a file, the device reads as the program would.
    if (const auto [sent, all] = fuzz::EncodeEach(*model); all)
        fuzz::CheckReadsBack({model->GetHardwareCode(), model->GetSoftwareVersion()}, sent);

    // A file the program saves opens again and shows the same; a save it refuses leaves no file.
    const std::string saved = (scratch.path / "saved.cfg").string();
    std::filesystem::remove(saved);
    if (!fuzz::Try([&] { model->SaveToFile(saved); })) {
        FUZZ_CHECK(!std::filesystem::exists(saved));
        return;
    }
    TConfigModelPtr reopened;
    FUZZ_CHECK(fuzz::Try([&] { reopened = LoadSettingsFile(saved, fuzz::kSampleCatalogue); }) && reopened);
    FUZZ_CHECK(fuzz::Render(*reopened) == shown);
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
    // The scratch folder holds no other description file (*.xml), so it is the catalogue.
    scratch.Write("device.xml", file);
    if (const TConfigModelPtr model = CreateConfigModel(scratch.path, hw, sw)) {
        // The model is made for the code and version asked for, and its description covers them.
        FUZZ_CHECK(model->IsCompatible(hw, sw) && model->GetHardwareCode() == hw && model->GetSoftwareVersion() == sw);
        fuzz::Exercise(*model, [](int length) { return Bytes(static_cast<std::size_t>(length), 0); });
    }
    openSettings(scratch, file);
    return 0;
}
