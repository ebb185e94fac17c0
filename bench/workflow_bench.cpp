// A full read and a full write of the sample binary device through the shared
// workflows, against the simulator pacing its wire at 115200 baud, each next
// to its floor: the 50 ms pause before every request plus the bytes' wire time.
#include "workflow/workflow.h"
#include "tools/cli/device_session.h"
#include "tools/simulator/pty_server.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr int kBaud = 115200;

double wireSeconds(std::size_t bytes)
{
    return static_cast<double>(bytes) * 10.0 / kBaud;
}

// Counts what crosses the wire to work out the floor.
class TCountingLink : public IDeviceLink {
public:
    explicit TCountingLink(IDeviceLink &link) : m_link(link) {}

    std::uint8_t Request(std::uint8_t kind, std::int32_t block, std::int32_t offset, Bytes &data) override
    {
        const std::size_t sent = data.size();
        const std::uint8_t result = m_link.Request(kind, block, offset, data);
        ++requests;
        // Frames: 5 framing bytes; block requests add 3 address bytes, their answers echo them.
        const bool blockKind = kind == opReadBlock || kind == opWriteBlock;
        const std::size_t request = 5 + (blockKind ? 3 : 0) + (kind == opReadBlock ? 0 : sent);
        const std::size_t answer = 5 + (blockKind ? 3 : 0) + (kind == opWriteBlock ? 0 : data.size());
        floorSeconds += std::chrono::duration<double>(kRequestPause).count() + wireSeconds(request + answer);
        return result;
    }
    void Pause(std::chrono::milliseconds duration) override { m_link.Pause(duration); }

    int requests = 0;
    double floorSeconds = 0;

private:
    IDeviceLink &m_link;
};

struct TBench {
    TBench()
    {
        RegisterConfigModels();
        const auto catalogue = std::filesystem::path(CATALOGUE_DIR);
        model = LoadSettingsFile((catalogue / "samples" / "transmitter-binary.cfg").string(), catalogue);
        TDeviceConfig config;
        config.blocks = EncodeBlocks(*model);
        device = std::make_unique<TSimulatedDevice>(config);
        TFaultPlan plan;
        plan.baud = kBaud;
        server = std::make_unique<TPtyServer>(*device, plan);
        server->Start();
        session = std::make_unique<TDeviceSession>(server->PortPath());
        const auto ident = session->NextIdent(5s);
        state = {ident && ident->present, config.chunkSize, config.hardwareCode, config.softwareVersion};
    }

    TConfigModelPtr model;
    std::unique_ptr<TSimulatedDevice> device;
    std::unique_ptr<TPtyServer> server;
    std::unique_ptr<TDeviceSession> session;
    TDeviceState state;
};

template <typename Job>
void measure(benchmark::State &state, Job job)
{
    TBench bench;
    if (!bench.state.connected) {
        state.SkipWithError("simulator does not answer");
        return;
    }
    TPortLink port(bench.session->Port());
    double seconds = 0;
    double floor = 0;
    int requests = 0;
    for (auto _ : state) {
        TCountingLink link(port);
        const auto start = std::chrono::steady_clock::now();
        job(bench, link);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        floor += link.floorSeconds;
        requests = link.requests;
    }
    state.counters["requests"] = requests;
    state.counters["floor_ms"] = floor / static_cast<double>(state.iterations()) * 1000;
    state.counters["ratio_to_floor"] = seconds / floor;
}

void BM_ReadSampleDevice(benchmark::State &state)
{
    measure(state, [&](TBench &bench, IDeviceLink &link) {
        const auto model = ReadConfiguration(link, bench.state, "", CATALOGUE_DIR, nullptr);
        benchmark::DoNotOptimize(model);
    });
}

void BM_WriteSampleDevice(benchmark::State &state)
{
    measure(state, [&](TBench &bench, IDeviceLink &link) {
        WriteConfiguration(link, bench.model.get(), bench.state, "", nullptr);
    });
}

// Runs a program with its output thrown away; its exit status, or -1.
int runQuietly(const std::vector<std::string> &argv)
{
    std::vector<char *> args;
    for (const std::string &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// configurator-cli read, from the program's start to its exit, next to the
// floor of the same read measured in this process.
void BM_CliReadSampleDevice(benchmark::State &state)
{
    TBench bench;
    if (!bench.state.connected) {
        state.SkipWithError("simulator does not answer");
        return;
    }
    TPortLink port(bench.session->Port());
    TCountingLink link(port);
    ReadConfiguration(link, bench.state, "", CATALOGUE_DIR, nullptr);
    bench.session.reset(); // the port is the program's now
    const std::string output = (std::filesystem::temp_directory_path() / "configurator-bench.cfg").string();
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const int status = runQuietly({CLI_EXE, "read", "--catalogue", CATALOGUE_DIR, "--port",
                                       bench.server->PortPath(), "-o", output});
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (status != 0) {
            state.SkipWithError("configurator-cli read failed");
            return;
        }
    }
    std::filesystem::remove(output);
    state.counters["floor_ms"] = link.floorSeconds * 1000;
    state.counters["ratio_to_floor"] = seconds / static_cast<double>(state.iterations()) / link.floorSeconds;
}

} // namespace

BENCHMARK(BM_CliReadSampleDevice)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_ReadSampleDevice)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_WriteSampleDevice)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

BENCHMARK_MAIN();
