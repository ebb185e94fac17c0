// How the window keeps turning its event loop while a 4 KiB configuration is
// read from the simulator: the longest gap between two turns, next to the goal
// of 50 ms. The window runs on the offscreen platform unless a display is set.
#include "app/error_box.h"
#include "app/main.h"
#include "tools/simulator/pty_server.h"

#include <benchmark/benchmark.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdlib>
#include <fstream>

namespace {

constexpr double kGoalMs = 50;
constexpr int kItems = 16;
constexpr int kItemSize = 256; // 16 × 256 bytes: one block of 4 KiB

std::string catalogueText()
{
    std::string items;
    for (int i = 0; i < kItems; ++i)
        items += "<item name=\"m" + std::to_string(i) + "\" caption=\"Память " + std::to_string(i) +
                 "\" type=\"hex_array\" size=\"" + std::to_string(kItemSize) + "\"/>";
    return "<devices><device hw=\"30\"><block caption=\"Память\">" + items + "</block></device></devices>";
}

void settle(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

void BM_EventLoopGapDuring4KRead(benchmark::State &state)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "configurator-window-bench";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "bench.xml") << catalogueText();
    TDeviceConfig config;
    config.hardwareCode = 30;
    config.blocks = {Bytes(kItems * kItemSize, 0x5A)};
    TSimulatedDevice device(config);
    TPtyServer server(device);
    if (!server.Start()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    std::vector<QString> errors;
    SetMessageBoxHandler([&](TBoxKind, const QString &text) { errors.push_back(text); });
    TMainOptions options;
    options.port = QString::fromStdString(server.PortPath());
    options.catalogueDir = dir;
    TfrmMain window(options);
    window.show();
    for (int i = 0; i < 100 && !window.Connected; ++i)
        settle(50);
    if (!window.Connected) {
        state.SkipWithError("simulator does not answer");
        return;
    }
    double longest = 0;
    QElapsedTimer clock;
    qint64 last = 0;
    QTimer turns;
    QObject::connect(&turns, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, (now - last) / 1e6);
        last = now;
    });
    for (auto _ : state) {
        clock.start();
        last = 0;
        turns.start(1);
        window.acRead->trigger();
        while (window.JobRunning())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        turns.stop();
    }
    SetMessageBoxHandler(nullptr);
    if (!errors.empty() || !window.Model) {
        state.SkipWithError(errors.empty() ? "nothing read" : errors.front().toStdString().c_str());
        return;
    }
    state.counters["longest_gap_ms"] = longest;
    state.counters["ratio_to_goal"] = longest / kGoalMs;
    std::filesystem::remove_all(dir);
}

} // namespace

BENCHMARK(BM_EventLoopGapDuring4KRead)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

int main(int argc, char **argv)
{
    if (!std::getenv("DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    RegisterConfigModels();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
