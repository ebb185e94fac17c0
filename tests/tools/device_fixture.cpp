#include "tests/tools/device_fixture.h"

#include <gtest/gtest.h>

const std::filesystem::path kSampleCatalogue = std::filesystem::path(CATALOGUE_DIR);
const char *const kSamplePassword = "2468";

TConfigModelPtr LoadSample(const std::string &name, const std::vector<std::string> &overrides)
{
    RegisterConfigModels();
    TConfigModelPtr model = LoadSettingsFile((kSampleCatalogue / "samples" / name).string(), kSampleCatalogue);
    for (const std::string &assignment : overrides)
        ApplyOverride(*model, ParseOverride(assignment));
    return model;
}

std::vector<Bytes> SampleImages(const std::string &name, const std::vector<std::string> &overrides)
{
    return EncodeBlocks(*LoadSample(name, overrides));
}

void TServedDevice::Serve(TDeviceConfig config)
{
    server.reset();
    device = std::make_unique<TSimulatedDevice>(std::move(config));
    server = std::make_unique<TPtyServer>(*device);
    std::string error;
    ASSERT_TRUE(server->Start(&error)) << error;
}

TDeviceState TServedDevice::State() const
{
    const TDeviceConfig config = device->Config();
    return {true, config.chunkSize, config.hardwareCode, config.softwareVersion};
}

bool MatchesPattern(const std::string &text, const std::string &pattern)
{
    if (text.size() != pattern.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (pattern[i] == '#' ? text[i] < '0' || text[i] > '9' : text[i] != pattern[i])
            return false;
    return true;
}

std::vector<std::string> LogRecords(const std::string &log)
{
    const std::string stamp = "####-##-## ##:##:##;";
    std::vector<std::string> records;
    std::size_t start = log.find('\n');
    while (start != std::string::npos && start + 1 < log.size()) {
        const std::size_t end = log.find('\n', start + 1);
        const std::string line = log.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
        records.push_back(MatchesPattern(line.substr(0, stamp.size()), stamp) ? line.substr(stamp.size()) : "?" + line);
        start = end;
    }
    return records;
}
