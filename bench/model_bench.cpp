// Decoding and encoding a 64 KiB binary image and filling the tree of about
// 50,000 nodes, each next to baselines measured in the same run with the XML
// layer alone: parsing the description, and parsing the settings file that
// holds the same values (the comparable amount of XML work).
#include "model/model.h"
#include "model/tools.h"
#include "model_bin/model_bin.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <random>

namespace {

constexpr int kRows = 8192; // 8 bytes a row: a 64 KiB block

std::string description()
{
    return R"(<?xml version="1.0" encoding="utf-8"?>
<devices><device hw="90" sw_low="1">
  <block caption="Таблица">
    <item name="a" caption="Код" size="2" array="rows" deactivator=""/>
    <item name="b" caption="Маска" type="hex" size="2" array="rows"/>
    <item name="c" caption="Задержка" size="2" array="rows" mul="1" div="10"/>
    <item name="d" caption="Режим" type="mode" size="1" array="rows"/>
    <item name="e" caption="Флаг" type="bool" size="1" array="rows"/>
  </block>
  <array name="rows" caption="Строка" start="1" count=")" + std::to_string(kRows) + R"("/>
  <enum name="mode"><c value="0" caption="Выкл"/><c value="1" caption="Вкл"/></enum>
</device></devices>
)";
}

class TFixture {
public:
    TFixture()
    {
        RegisterBinaryConfigModel();
        m_dir = std::filesystem::temp_directory_path() / "configurator-model-bench";
        std::filesystem::create_directories(m_dir);
        std::ofstream(m_dir / "bench.xml", std::ios::binary) << description();
        std::mt19937 random(7);
        image.resize(kRows * 8);
        for (auto &byte : image)
            byte = static_cast<std::uint8_t>(random());
        for (int row = 0; row < kRows; ++row) {
            image[static_cast<std::size_t>(kRows * 6 + row)] %= 2; // enumeration values 0 and 1
            image[static_cast<std::size_t>(kRows * 7 + row)] %= 2;
        }
    }
    ~TFixture()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }

    TConfigModelPtr Model() const { return CreateConfigModel(m_dir, 90, 1); }

    // Seconds to parse a text, best of several runs.
    static double ParseSeconds(const std::string &text)
    {
        double best = 1e9;
        for (int i = 0; i < 20; ++i) {
            const auto start = std::chrono::steady_clock::now();
            xml::ParseError error;
            auto doc = xml::Document::Parse(text, error);
            benchmark::DoNotOptimize(doc);
            best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        return best;
    }

    // The settings file of the decoded image.
    std::string ValuesText() const
    {
        auto model = Model();
        model->DecodeBlock(model->GetBlock(0), xml::Node(), image, 1);
        return model->ValueDocument().Save();
    }

    Bytes image;

private:
    std::filesystem::path m_dir;
};

TFixture &fixture()
{
    static TFixture f;
    return f;
}

void report(benchmark::State &state, double secondsPerIteration)
{
    const double description = TFixture::ParseSeconds(::description());
    const double values = TFixture::ParseSeconds(fixture().ValuesText());
    state.counters["description_parse_ms"] = description * 1000;
    state.counters["ratio_to_description_parse"] = secondsPerIteration / description;
    state.counters["values_parse_ms"] = values * 1000;
    state.counters["ratio_to_values_parse"] = secondsPerIteration / values;
}

template <typename Body>
double timed(benchmark::State &state, Body body)
{
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        body();
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    return total / static_cast<double>(state.iterations());
}

void BM_Decode64K(benchmark::State &state)
{
    const double seconds = timed(state, [&] {
        state.PauseTiming();
        auto model = fixture().Model();
        state.ResumeTiming();
        model->DecodeBlock(model->GetBlock(0), xml::Node(), fixture().image, 1);
    });
    report(state, seconds);
}

void BM_Encode64K(benchmark::State &state)
{
    auto model = fixture().Model();
    model->DecodeBlock(model->GetBlock(0), xml::Node(), fixture().image, 1);
    const double seconds = timed(state, [&] {
        const Bytes encoded = model->EncodeBlock(model->GetBlock(0), xml::Node());
        if (encoded != fixture().image)
            state.SkipWithError("image does not round-trip");
    });
    report(state, seconds);
}

void BM_FillTree50K(benchmark::State &state)
{
    auto model = fixture().Model();
    model->DecodeBlock(model->GetBlock(0), xml::Node(), fixture().image, 1);
    int nodes = 0;
    const double seconds = timed(state, [&] {
        TTreeGrid grid;
        model->FillTree(grid);
        nodes = grid.NodeCount();
    });
    state.counters["nodes"] = nodes;
    report(state, seconds);
}

// The slowest refusal of a hostile document: each must fail within a second.
void BM_HostileDocuments(benchmark::State &state)
{
    std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE config [<!ENTITY a \"aaaaaaaaaa\">";
    for (char c = 'b'; c <= 'k'; ++c) {
        laughs += std::string("<!ENTITY ") + c + " \"";
        for (int i = 0; i < 10; ++i)
            laughs += std::string("&") + char(c - 1) + ";";
        laughs += "\">";
    }
    laughs += "]><config>&k;</config>";
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<a>";
    const std::string documents[] = {laughs, deep, "<config v=\"" + std::string(50 * 1024 * 1024, 'x') + "\"/>",
                                     std::string("<config>\0</config>", 18)};
    double slowest = 0;
    for (auto _ : state) {
        for (const std::string &text : documents) {
            const auto start = std::chrono::steady_clock::now();
            xml::ParseError error;
            const bool parsed = xml::Document::Parse(text, error).has_value();
            slowest = std::max(slowest, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            if (parsed)
                state.SkipWithError("a hostile document was accepted");
        }
    }
    state.counters["slowest_ms"] = slowest * 1000;
}

} // namespace

BENCHMARK(BM_HostileDocuments)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Decode64K)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Encode64K)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FillTree50K)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
