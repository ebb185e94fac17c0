// A full multi-block read through the port worker against the simulator with a
// paced wire, next to its floor: the callers' 50 ms pause before every request
// plus the time the bytes need on the wire. And the idle worker's poll rate,
// next to the five identifications a second it is meant to make.
#include "tools/cli/device_session.h"
#include "tools/simulator/pty_server.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr int kBaud = 115200;
constexpr auto kRequestPause = 50ms;
constexpr std::uint16_t kChunk = 64;

double wireSeconds(std::size_t bytes)
{
    return static_cast<double>(bytes) * 10.0 / kBaud;
}

// A simulated device on a pseudo-terminal with a session that has identified it.
struct TServedDevice {
    TServedDevice(const TDeviceConfig &config, const TFaultPlan &plan) : device(config), server(device, plan) {}

    // False, with the benchmark skipped, when the device cannot be reached.
    bool Connect(benchmark::State &state)
    {
        if (!server.Start()) {
            state.SkipWithError("no pseudo-terminal");
            return false;
        }
        session = std::make_unique<TDeviceSession>(server.PortPath());
        if (!session->NextIdent(5s).value_or(TDeviceIdentity{}).present) {
            state.SkipWithError("simulator does not answer");
            return false;
        }
        return true;
    }

    TSimulatedDevice device;
    TPtyServer server;
    std::unique_ptr<TDeviceSession> session;
};

void BM_FullRead(benchmark::State &state)
{
    TDeviceConfig config;
    config.chunkSize = kChunk;
    config.blocks = {Bytes(300, 1), Bytes(150, 2), Bytes(64, 3), Bytes(20, 4)};
    TFaultPlan plan;
    plan.baud = kBaud;
    TServedDevice served(config, plan);
    if (!served.Connect(state))
        return;
    TDeviceSession &session = *served.session;

    int requests = 0;
    double floorSeconds = 0;
    double totalSeconds = 0;
    double totalFloor = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        requests = 0;
        floorSeconds = 0;
        for (std::size_t block = 0; block < config.blocks.size(); ++block) {
            Bytes image;
            for (;;) {
                std::this_thread::sleep_for(kRequestPause);
                Bytes chunk;
                if (session.Port().Request(opReadBlock, static_cast<std::int32_t>(block),
                                           static_cast<std::int32_t>(image.size()), chunk) != rsOk) {
                    state.SkipWithError("read failed");
                    return;
                }
                ++requests;
                // Request frame 8 bytes; answer frame 5 + 3 echo bytes + data.
                floorSeconds += std::chrono::duration<double>(kRequestPause).count() + wireSeconds(8 + 8 + chunk.size());
                image.insert(image.end(), chunk.begin(), chunk.end());
                if (chunk.size() < kChunk)
                    break;
            }
            if (image != config.blocks[block])
                state.SkipWithError("block read differs");
        }
        totalSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        totalFloor += floorSeconds;
    }
    state.counters["requests"] = requests;
    state.counters["floor_ms"] = floorSeconds * 1000;
    state.counters["ratio_to_floor"] = totalFloor > 0 ? totalSeconds / totalFloor : 0;
}

void BM_IdlePolls(benchmark::State &state)
{
    constexpr auto kWatched = 2s;
    constexpr double kMeantPerSecond = 5;
    TServedDevice served(TDeviceConfig{}, TFaultPlan{});
    if (!served.Connect(state))
        return;
    TSimulatedDevice &device = served.device;
    double perSecond = 0;
    for (auto _ : state) {
        device.ResetCounts();
        std::this_thread::sleep_for(kWatched);
        perSecond = device.CommandCount(cmdIdentify) / std::chrono::duration<double>(kWatched).count();
    }
    state.counters["polls_per_second"] = perSecond;
    state.counters["ratio_to_goal"] = perSecond / kMeantPerSecond;
}

} // namespace

BENCHMARK(BM_FullRead)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_IdlePolls)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

BENCHMARK_MAIN();
