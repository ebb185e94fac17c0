// Filling the grid of an opened settings file, encoding every block and
// printing the tree as "show" does, for 1K, 16K and 64K parameters: plain
// items, one array of as many elements, and the same two shapes on an XML
// device. Each reports the time per parameter, which must not grow with the
// count, and the ratio to parsing the same settings file with libxml2 alone
// (goal: at most 3).
#include "model/model.h"
#include "model/tools.h"
#include "workflow/workflow.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

enum class TShape { BinaryPlain, BinaryArray, XmlPlain, XmlArray };

struct TFiles {
    std::string description;
    std::string settings;
};

TFiles makeFiles(TShape shape, int count)
{
    const std::string n = std::to_string(count);
    TFiles files;
    std::string items;
    std::string values;
    switch (shape) {
    case TShape::BinaryPlain:
        for (int i = 0; i < count; ++i) {
            const std::string name = "p" + std::to_string(i);
            // Two attributes an item: 64K items with more would pass the document layer's node limit.
            items += "<item name=\"" + name + "\" size=\"1\"/>";
            values += "<" + name + "><value>" + std::to_string(i % 200) + "</value></" + name + ">";
        }
        files.description = "<devices><device hw=\"91\" sw_low=\"1\"><block caption=\"Б\">" + items +
                            "</block></device></devices>";
        files.settings = "<config hw=\"91\" sw=\"1\">" + values + "</config>";
        break;
    case TShape::BinaryArray:
        for (int i = 1; i <= count; ++i)
            values += "<value r=\"" + std::to_string(i) + "\">" + std::to_string(i % 200) + "</value>";
        files.description = "<devices><device hw=\"91\" sw_low=\"1\"><block caption=\"Б\"><item name=\"a\" "
                            "caption=\"Значение\" size=\"1\" array=\"r\" min=\"0\" max=\"200\"/></block>"
                            "<array name=\"r\" caption=\"Строка\" start=\"1\" count=\"" + n + "\"/></device></devices>";
        files.settings = "<config hw=\"91\" sw=\"1\"><a>" + values + "</a></config>";
        break;
    case TShape::XmlPlain:
        for (int i = 0; i < count; ++i) {
            const std::string name = "p" + std::to_string(i);
            items += "<item name=\"" + name + "\" type=\"int\"/>";
            values += "<" + name + ">" + std::to_string(i) + "</" + name + ">";
        }
        files.description = "<devices><device hw=\"92\" format=\"xml\"><block caption=\"Б\">" + items +
                            "</block></device></devices>";
        files.settings = "<config hw=\"92\" sw=\"1\">" + values + "</config>";
        break;
    case TShape::XmlArray:
        for (int i = 0; i < count; ++i)
            values += "<el><F>" + std::to_string(i) + "</F></el>";
        files.description = "<devices><device hw=\"92\" format=\"xml\"><block caption=\"Б\"><item name=\"L\" "
                            "caption=\"Список\"><template array=\"el\"><item name=\"F\" caption=\"Поле\" "
                            "type=\"int\"/></template></item></block><array name=\"el\" caption=\"Элемент\"/>"
                            "</device></devices>";
        files.settings = "<config hw=\"92\" sw=\"1\"><L>" + values + "</L></config>";
        break;
    }
    return files;
}

class TScratch {
public:
    explicit TScratch(const TFiles &files)
        : m_dir(std::filesystem::temp_directory_path() /
                ("configurator-param-bench-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())))
    {
        std::filesystem::create_directories(m_dir);
        std::ofstream(m_dir / "bench.xml", std::ios::binary) << files.description;
        std::ofstream(m_dir / "bench.cfg", std::ios::binary) << files.settings;
    }
    ~TScratch()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    const std::filesystem::path &Dir() const { return m_dir; }
    std::string Settings() const { return (m_dir / "bench.cfg").string(); }

private:
    std::filesystem::path m_dir;
};

void BM_OpenFillEncodeShow(benchmark::State &state)
{
    RegisterConfigModels();
    const auto shape = static_cast<TShape>(state.range(0));
    const int count = static_cast<int>(state.range(1));
    const TFiles files = makeFiles(shape, count);
    const TScratch scratch(files);

    double parse = 1e9;
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        xml::ParseError error;
        auto document = xml::Document::Parse(files.settings, error);
        benchmark::DoNotOptimize(document);
        parse = std::min(parse, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }

    const TConfigModelPtr model = LoadSettingsFile(scratch.Settings(), scratch.Dir());
    // Best of the iterations, as the parse above is: both sides of the ratio see the same noise.
    std::size_t shown = 0;
    double seconds = 1e9;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        TTreeGrid grid;
        model->FillTree(grid);
        const std::vector<Bytes> images = EncodeBlocks(*model);
        benchmark::DoNotOptimize(images);
        shown = TreeText(grid).size();
        seconds = std::min(seconds, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    if (shown == 0)
        state.SkipWithError("nothing shown");
    state.counters["us_per_param"] = seconds * 1e6 / count;
    state.counters["parse_us_per_param"] = parse * 1e6 / count;
    state.counters["ratio_to_parse"] = seconds / parse;
}

void sizes(benchmark::internal::Benchmark *bench)
{
    for (int shape = 0; shape < 4; ++shape)
        for (int count : {1024, 16384, 65536})
            bench->Args({shape, count});
}

} // namespace

// Shapes: 0 binary plain items, 1 binary array, 2 XML plain items, 3 XML array.
BENCHMARK(BM_OpenFillEncodeShow)->Apply(sizes)->Unit(benchmark::kMillisecond)->Iterations(5);

BENCHMARK_MAIN();
