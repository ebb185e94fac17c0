// Fault soak: thousands of read and write workflows of the sample devices
// against the simulator while the line drops, corrupts, cuts, delays and pads
// answers, goes silent, and the pseudo-terminal is pulled mid-exchange. Every
// workflow must either succeed with exactly the device's values or fail with
// its message; nothing may hang past its time-outs, and memory must not grow.
//
// Usage: soak [WORKFLOWS] [SECONDS]   (defaults 2000 and 240)
#include "workflow/workflow.h"
#include "model/errors.h"
#include "tools/cli/device_session.h"
#include "tools/simulator/pty_server.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <thread>

#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// Short time-outs keep the soak quick; the rules are the program's.
constexpr TLinkTimeouts kTimeouts{30ms, 10ms, 30ms};

// Pauses are the workflows' own business; the soak spends no time in them.
struct TQuickLink : IDeviceLink {
    explicit TQuickLink(TPortThread &port) : port(port) {}
    std::uint8_t Request(std::uint8_t kind, std::int32_t block, std::int32_t offset, Bytes &data) override
    {
        ++requests;
        return port.Request(kind, block, offset, data);
    }
    void Pause(std::chrono::milliseconds) override {}
    TPortThread &port;
    int requests = 0;
};

long residentKilobytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// Late answers leave repeated requests queued at the device, so a workflow may
// end before the device has seen all it was sent. The device is caught up when
// it has answered as many requests as were sent in all; a pulled plug may
// swallow some, which the count then forgets after a bounded wait.
void waitForDevice(const TPtyServer &server, int &sent, int requests)
{
    sent += requests;
    const auto deadline = std::chrono::steady_clock::now() + 300ms;
    while (server.Exchanges() < sent && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    sent = std::min(sent, server.Exchanges());
}

// A sample device holds its settings encoded; a write of them must leave the same images.
struct TSample {
    TDeviceState state;
    TConfigModelPtr settings;
    std::vector<Bytes> images;
};

TSample loadSample(const std::filesystem::path &catalogue, const std::string &name, std::uint16_t hw, std::uint16_t sw)
{
    const auto file = catalogue / "samples" / ("transmitter-" + name + ".cfg");
    TSample sample{{true, 64, hw, sw}, LoadSettingsFile(file.string(), catalogue), {}};
    sample.images = EncodeBlocks(*sample.settings);
    return sample;
}

} // namespace

int main(int argc, char **argv)
{
    const int total = argc > 1 ? std::atoi(argv[1]) : 2000;
    const auto budget = std::chrono::seconds(argc > 2 ? std::atoi(argv[2]) : 240);
    const std::filesystem::path catalogue = CATALOGUE_DIR;
    RegisterConfigModels();
    TSample samples[] = {loadSample(catalogue, "binary", 5, 300), loadSample(catalogue, "xml", 7, 120)};

    std::mt19937 random(20261206);
    TSimulatedDevice device;
    TPtyServer server(device);
    std::string error;
    const auto link = std::filesystem::temp_directory_path() / ("configurator-soak-" + std::to_string(::getpid()));
    if (!server.Start(&error) || !server.SetLink(link.string(), &error)) {
        std::cerr << "soak: " << error << "\n";
        return 2;
    }
    // Faults, about one exchange in six, drops and corruptions twice as often; the pulled plug is handled apart.
    const TFault faults[] = {TFault::Drop, TFault::Corrupt, TFault::Truncate, TFault::Trailing,
                             TFault::Late, TFault::Corrupt, TFault::Drop};
    server.SetFaultScript([&](const TExchangeInfo &) {
        const std::size_t dice = random() % 42;
        return dice < std::size(faults) ? faults[dice] : TFault::None;
    });
    server.SetPlan({.lateBy = 40ms}); // past the read time-out

    TDeviceSession session(link.string(), CreateSerialPort(), TPortOptions{kTimeouts, 1h});
    int workflows = 0, reads = 0, failed = 0, lostData = 0, tooSlow = 0, unplugs = 0, sent = 0;
    const long memoryBefore = residentKilobytes();
    long memoryAfterWarmUp = 0;
    const auto start = std::chrono::steady_clock::now();
    // A workflow gives up after its attempts; each attempt waits at most the write and the read time-outs.
    const auto slowest = 50 * (kTimeouts.writeTotal + kTimeouts.readTotal) * 6 + 2s;

    while (workflows < total && std::chrono::steady_clock::now() - start < budget) {
        const TSample &sample = samples[workflows % 2];
        device.SetIdentity(sample.state.hardwareCode, sample.state.softwareVersion);
        device.SetBlocks(sample.images);
        TQuickLink quick(session.Port());
        const bool reading = (workflows / 2) % 2 == 0;
        // Now and then the plug is pulled during the workflow and put back soon after.
        std::thread unplugger;
        if (random() % 40 == 0) {
            ++unplugs;
            unplugger = std::thread([&server, delay = random() % 20] {
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
                server.Unplug();
                std::this_thread::sleep_for(30ms);
                server.Plug();
            });
        }
        const auto began = std::chrono::steady_clock::now();
        try {
            // Success means exactly the device's values.
            bool same = false;
            if (reading) {
                ++reads;
                same = EncodeBlocks(*ReadConfiguration(quick, sample.state, "", catalogue, nullptr)) == sample.images;
            } else {
                device.SetBlocks(std::vector<Bytes>(sample.images.size()));
                WriteConfiguration(quick, sample.settings.get(), sample.state, "", nullptr);
                waitForDevice(server, sent, std::exchange(quick.requests, 0));
                same = device.Blocks() == sample.images;
            }
            if (!same)
                std::cout << "  workflow " << workflows << " lost data (" << ++lostData << " so far)\n";
        } catch (const EError &e) {
            ++failed;
            std::cout << "  workflow " << workflows << " (" << quick.requests << " requests): " << e.what() << "\n";
        }
        if (unplugger.joinable())
            unplugger.join();
        waitForDevice(server, sent, quick.requests);
        tooSlow += std::chrono::steady_clock::now() - began > slowest;
        if (++workflows == 100)
            memoryAfterWarmUp = residentKilobytes();
    }
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
    const long memoryAfter = residentKilobytes();
    server.Stop();
    std::cout << "soak: " << workflows << " workflows (" << reads << " reads, " << workflows - reads << " writes) in "
              << seconds.count() << " s; " << server.FaultsInjected() << " faults injected and " << unplugs
              << " unplugs survived; " << workflows - failed << " succeeded, " << failed
              << " failed with their message; " << lostData << " lost data; " << tooSlow << " too slow; memory "
              << memoryBefore << " -> " << memoryAfterWarmUp << " -> " << memoryAfter << " KiB\n";
    // Memory may settle during the first workflows; after that it must stay flat.
    const bool grew = memoryAfterWarmUp > 0 && memoryAfter - memoryAfterWarmUp > 8 * 1024;
    if (grew)
        std::cout << "soak: memory grew\n";
    return lostData == 0 && tooSlow == 0 && !grew && workflows >= std::min(total, 100) ? 0 : 1;
}
