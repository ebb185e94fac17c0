#pragma once

// The sample devices of the catalogue, and the simulator serving a device on a
// pseudo-terminal, for the workflow, window and command-line tests.

#include "workflow/production.h"
#include "tests/model/catalogue_fixture.h"
#include "tools/simulator/pty_server.h"

#include <memory>
#include <string>
#include <vector>

extern const std::filesystem::path kSampleCatalogue;
// The password of every served sample device.
extern const char *const kSamplePassword;

// A settings file of the catalogue's samples folder loaded with these NAME=VALUE parameters set.
TConfigModelPtr LoadSample(const std::string &name, const std::vector<std::string> &overrides = {});
std::vector<Bytes> SampleImages(const std::string &name, const std::vector<std::string> &overrides = {});

// A simulated device answering on a pseudo-terminal; a mix-in for fixtures.
class TServedDevice {
protected:
    // Serves a new device of this configuration in place of the one before.
    void Serve(TDeviceConfig config);
    TDeviceState State() const;

    std::unique_ptr<TSimulatedDevice> device;
    std::unique_ptr<TPtyServer> server;
};

// '#' in the pattern stands for one decimal digit; everything else for itself.
bool MatchesPattern(const std::string &text, const std::string &pattern);
// The lines of a production log after its header, each without its time stamp; "?" for a line without one.
std::vector<std::string> LogRecords(const std::string &log);
