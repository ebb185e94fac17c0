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

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <random>
#include <thread>

#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// Short time-outs keep the soak quick; the rules are the program's.
constexpr auto kReadTotal = 30ms;
constexpr auto kReadGap = 10ms;
constexpr auto kWriteTotal = 30ms;

// Pauses are the workflows' own business; the soak spends no time in them.
class TQuickLink : public IDeviceLink {
public:
    explicit TQuickLink(TPortThread &port) : m_port(port) {}
    std::uint8_t Request(std::uint8_t kind, std::int32_t block, std::int32_t offset, Bytes &data) override
    {
        ++requests;
        return m_port.Request(kind, block, offset, data);
    }
    void Pause(std::chrono::milliseconds) override {}
    int requests = 0;

private:
    TPortThread &m_port;
};

long residentKilobytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// Late answers leave repeated requests queued at the device, so a workflow may
// end before the device has seen all it was sent. The device is caught up
// when it has answered as many requests as were sent in all; a pulled plug
// may swallow some, which the count then forgets after a bounded wait.
class TDeviceClock {
public:
    explicit TDeviceClock(const TPtyServer &server) : m_server(server) {}
    void WaitForDevice(int requestsSent)
    {
        m_sent += requestsSent;
        const auto deadline = std::chrono::steady_clock::now() + 300ms;
        while (m_server.Exchanges() + m_lost < m_sent) {
            if (std::chrono::steady_clock::now() > deadline) {
                m_lost = m_sent - m_server.Exchanges();
                return;
            }
            std::this_thread::sleep_for(1ms);
        }
    }

private:
    const TPtyServer &m_server;
    int m_sent = 0;
    int m_lost = 0;
};

Bytes readFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct TSample {
    const char *name;
    std::uint16_t hw, sw;
    std::vector<Bytes> images;        // what the device holds
    TConfigModelPtr settings;         // what is written to it
    std::vector<Bytes> readImages;    // the device's values, encoded again
    std::vector<Bytes> writtenImages; // what a write leaves in the device
};

struct TCounts {
    int workflows = 0, reads = 0, writes = 0, succeeded = 0, failed = 0, lostData = 0, tooSlow = 0, unplugs = 0;
    std::map<std::string, int> messages;
};

} // namespace

int main(int argc, char **argv)
{
    const int total = argc > 1 ? std::atoi(argv[1]) : 2000;
    const auto budget = std::chrono::seconds(argc > 2 ? std::atoi(argv[2]) : 240);
    const std::filesystem::path catalogue = CATALOGUE_DIR;
    RegisterConfigModels();

    std::vector<TSample> samples;
    {
        auto binary = LoadSettingsFile((catalogue / "samples/transmitter-binary.cfg").string(), catalogue);
        samples.push_back({"binary", 5, 300, EncodeBlocks(*binary), binary, {}, {}});
        auto xmlSettings = LoadSettingsFile((catalogue / "samples/transmitter-xml.cfg").string(), catalogue);
        std::vector<Bytes> texts;
        for (int block = 0; block < 2; ++block)
            texts.push_back(readFile(catalogue / ("samples/transmitter-xml-block" + std::to_string(block) + ".xml")));
        samples.push_back({"xml", 7, 120, texts, xmlSettings, {}, {}});
        for (TSample &sample : samples) {
            // XML devices send their own texts: what counts is the values in them.
            const TConfigModelPtr direct = CreateConfigModel(catalogue, sample.hw, sample.sw);
            DecodeBlocks(*direct, sample.images);
            sample.readImages = EncodeBlocks(*direct);
            sample.writtenImages = EncodeBlocks(*sample.settings);
        }
    }

    std::mt19937 random(20261206);
    TSimulatedDevice device;
    TPtyServer server(device);
    std::string error;
    const std::string link = (std::filesystem::temp_directory_path() / ("configurator-soak-" + std::to_string(::getpid())))
                                 .string();
    if (!server.Start(&error) || !server.SetLink(link, &error)) {
        std::cerr << "soak: " << error << "\n";
        return 2;
    }
    // Faults, about one exchange in four; the pulled plug is handled apart.
    std::uniform_int_distribution<int> faultDice(0, 41);
    server.SetFaultScript([&](const TExchangeInfo &) {
        switch (faultDice(random)) {
        case 0: return TFault::Drop;
        case 1: return TFault::Corrupt;
        case 2: return TFault::Truncate;
        case 3: return TFault::Trailing;
        case 4: return TFault::Late;
        case 5: return TFault::Corrupt;
        case 6: return TFault::Drop;
        default: return TFault::None;
        }
    });
    TFaultPlan plan;
    plan.lateBy = 40ms; // past the read time-out
    server.SetPlan(plan);

    TPortOptions options;
    options.timeouts = {kReadTotal, kReadGap, kWriteTotal};
    options.pollInterval = 1h;
    TDeviceSession session(link, CreateSerialPort(), options);

    TCounts counts;
    TDeviceClock clock(server);
    const long memoryBefore = residentKilobytes();
    long memoryAfterWarmUp = 0;
    const auto start = std::chrono::steady_clock::now();
    // A workflow gives up after its attempts; each attempt waits at most the write and the read time-outs.
    const auto slowest = 50 * (kWriteTotal + kReadTotal) * 6 + 2s;

    while (counts.workflows < total && std::chrono::steady_clock::now() - start < budget) {
        TSample &sample = samples[static_cast<std::size_t>(counts.workflows % 2)];
        device.SetIdentity(sample.hw, sample.sw);
        device.SetBlocks(sample.images);
        const TDeviceState state{true, 64, sample.hw, sample.sw};
        TQuickLink quick(session.Port());
        const bool reading = (counts.workflows / 2) % 2 == 0;
        // Now and then the plug is pulled during the workflow and put back soon after.
        std::thread unplugger;
        if (random() % 40 == 0) {
            ++counts.unplugs;
            unplugger = std::thread([&server, delay = random() % 20] {
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
                server.Unplug();
                std::this_thread::sleep_for(30ms);
                server.Plug();
            });
        }
        const auto began = std::chrono::steady_clock::now();
        try {
            if (reading) {
                ++counts.reads;
                const TConfigModelPtr model = ReadConfiguration(quick, state, "", catalogue, nullptr);
                // Success means exactly the device's values.
                if (EncodeBlocks(*model) != sample.readImages) {
                    ++counts.lostData;
                    std::cout << "  workflow " << counts.workflows << " (" << sample.name << " read): values differ\n";
                }
            } else {
                ++counts.writes;
                device.SetBlocks(std::vector<Bytes>(sample.images.size()));
                WriteConfiguration(quick, sample.settings.get(), state, "", nullptr);
                clock.WaitForDevice(quick.requests);
                quick.requests = 0;
                if (device.Blocks() != sample.writtenImages) {
                    ++counts.lostData;
                    std::cout << "  workflow " << counts.workflows << " (" << sample.name << " write): device differs\n";
                }
            }
            ++counts.succeeded;
        } catch (const EError &e) {
            ++counts.failed;
            ++counts.messages[e.what()];
            std::cout << "  workflow " << counts.workflows << " (" << sample.name << (reading ? " read" : " write")
                      << ", " << quick.requests << " requests): " << e.what() << "\n";
        }
        if (unplugger.joinable())
            unplugger.join();
        clock.WaitForDevice(quick.requests);
        if (std::chrono::steady_clock::now() - began > slowest)
            ++counts.tooSlow;
        ++counts.workflows;
        if (counts.workflows == 100)
            memoryAfterWarmUp = residentKilobytes();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long memoryAfter = residentKilobytes();
    server.Stop();

    std::cout << "soak: " << counts.workflows << " workflows (" << counts.reads << " reads, " << counts.writes
              << " writes) in " << static_cast<int>(seconds) << " s; " << server.FaultsInjected()
              << " faults injected and " << counts.unplugs << " unplugs survived; " << counts.succeeded
              << " succeeded, " << counts.failed << " failed with their message; " << counts.lostData
              << " lost data; " << counts.tooSlow << " too slow; memory " << memoryBefore << " -> "
              << memoryAfterWarmUp << " -> " << memoryAfter << " KiB\n";
    for (const auto &[message, n] : counts.messages)
        std::cout << "  " << n << " x " << message << "\n";
    // Memory may settle during the first workflows; after that it must stay flat.
    const bool grew = memoryAfterWarmUp > 0 && memoryAfter - memoryAfterWarmUp > 8 * 1024;
    if (grew)
        std::cout << "soak: memory grew\n";
    const bool ok = counts.lostData == 0 && counts.tooSlow == 0 && !grew && counts.workflows >= std::min(total, 100);
    return ok ? 0 : 1;
}
