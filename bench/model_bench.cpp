// Decoding and encoding a 64 KiB binary image and filling the tree of about
// 50,000 nodes, each next to baselines measured in the same run with the XML
// layer alone: parsing the description, and parsing the settings file that
// holds the same values (the comparable amount of XML work). Then hostile
// settings and catalogue files made from the samples, each of which must be
// refused (a catalogue file: skipped) within a second and 200 MB.
#include "model/errors.h"
#include "model/model.h"
#include "model/tools.h"
#include "model_bin/model_bin.h"

#include "bench/timing.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>

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

// The slowest refusal of a hostile text parsed from memory, as device block
// texts are: each must fail within a second.
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

// ------------------------------------------------------------ hostile files

// The sample catalogue and settings files, next to this source.
const std::filesystem::path kSamples = std::filesystem::path(__FILE__).parent_path().parent_path() / "catalogue";
constexpr double kGoalSeconds = 1.0;
constexpr double kGoalMegabytes = 200.0;

// A figure of /proc/self/status in MB ("VmRSS", "VmHWM"); -1 where the system has none.
double statusMegabytes(const std::string &field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field + ":", 0) == 0) {
            std::istringstream figures(line.substr(field.size() + 1));
            double kilobytes = 0;
            figures >> kilobytes;
            return kilobytes / 1024;
        }
    }
    return -1;
}

// Makes the peak resident memory start again from the present (Linux 4.0 on).
void resetPeakMemory()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

std::string readFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string repeated(const std::string &unit, std::size_t count)
{
    std::string text;
    text.reserve(unit.size() * count);
    for (std::size_t i = 0; i < count; ++i)
        text += unit;
    return text;
}

// The sample binary settings file with text added to its config element.
struct TSample {
    std::string text = readFile(kSamples / "samples" / "transmitter-binary.cfg");

    // count attributes named prefix0, prefix1...
    std::string WithRootAttributes(std::size_t count, const std::string &prefix) const
    {
        std::string attributes;
        for (std::size_t i = 0; i < count; ++i)
            attributes += " " + prefix + std::to_string(i) + "=\"1\"";
        return Inserted(text.find("<config") + 7, attributes);
    }
    std::string WithContent(const std::string &content) const
    {
        return Inserted(text.find('>', text.find("<config")) + 1, content);
    }
    std::string WithDoctype(const std::string &doctype) const { return Inserted(text.find("<config"), doctype + "\n"); }
    std::string Inserted(std::size_t at, const std::string &piece) const
    {
        return text.substr(0, at) + piece + text.substr(at);
    }
};

std::string billionLaughs(const std::string &root)
{
    std::string doctype = "<!DOCTYPE " + root + " [<!ENTITY a \"aaaaaaaaaa\">";
    for (char c = 'b'; c <= 'k'; ++c)
        doctype += std::string("<!ENTITY ") + c + " \"" + repeated(std::string("&") + char(c - 1) + ";", 10) + "\">";
    return doctype + "]>";
}

// One hostile file: made in place of a settings file, or as the first file of the catalogue.
struct THostileCase {
    const char *name;
    bool catalogue;
    std::function<void(const std::filesystem::path &file)> make;
};

void writeFile(const std::filesystem::path &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::vector<THostileCase> hostileCases()
{
    const auto text = [](std::function<std::string(const TSample &)> generate) {
        return [generate](const std::filesystem::path &file) { writeFile(file, generate(TSample())); };
    };
    const auto linkToZero = [](const std::filesystem::path &file) { std::filesystem::create_symlink("/dev/zero", file); };
    return {
        // 139 KB: one entity of 60,000 characters used 24,000 times.
        {"entity_fan_out", false, text([](const TSample &s) {
             TSample fanned = s;
             fanned.text.replace(fanned.text.find("1234</value>"), 4, repeated("&e;", 24000));
             return fanned.WithDoctype("<!DOCTYPE config [<!ENTITY e \"" + std::string(60000, 'a') + "\">]>");
         })},
        {"billion_laughs", false, text([](const TSample &s) { return s.WithDoctype(billionLaughs("config")); })},
        {"attributes_40000", false, text([](const TSample &s) { return s.WithRootAttributes(40000, "a"); })},
        {"attributes_200000", false, text([](const TSample &s) { return s.WithRootAttributes(200000, "a"); })},
        {"namespaces_200000", false, text([](const TSample &s) { return s.WithRootAttributes(200000, "xmlns:n"); })},
        {"nesting_100000", false, text([](const TSample &s) {
             return s.WithContent(repeated("<a>", 100000) + repeated("</a>", 100000));
         })},
        {"text_15MB", false,
         text([](const TSample &s) { return s.WithContent("<x>" + std::string(15000000, 'x') + "</x>"); })},
        {"attribute_value_15MB", false,
         text([](const TSample &s) { return s.WithContent("<x v=\"" + std::string(15000000, 'x') + "\"/>"); })},
        {"elements_1000000", false, text([](const TSample &s) { return s.WithContent(repeated("<a/>", 1000000)); })},
        {"comments_1000000", false, text([](const TSample &s) { return s.WithContent(repeated("<!---->", 1000000)); })},
        {"over_size_cap_17MB", false, text([](const TSample &s) { return s.text + std::string(17 << 20, '\n'); })},
        {"link_to_dev_zero", false, linkToZero},
        {"catalogue_junk_117MB", true, [](const std::filesystem::path &file) {
             std::ofstream out(file, std::ios::binary);
             out << "<devices>\n";
             const std::string lines = repeated("<x a=\"1\"/>\n", 1000);
             for (std::size_t written = 0; written < 117000000; written += lines.size())
                 out << lines;
             out << "</devices>\n";
         }},
        {"catalogue_link_to_dev_zero", true, linkToZero},
        {"catalogue_billion_laughs", true, [](const std::filesystem::path &file) {
             writeFile(file, "<?xml version=\"1.0\"?>" + billionLaughs("devices") + "<devices><d>&k;</d></devices>");
         }},
        {"catalogue_attributes_200000", true, [](const std::filesystem::path &file) {
             std::string devices = "<devices";
             for (int i = 0; i < 200000; ++i)
                 devices += " a" + std::to_string(i) + "=\"1\"";
             writeFile(file, devices + "/>");
         }},
    };
}

// The argument that makes this program open one settings file and report on it.
const char *const kOpenOnce = "--open-settings-once";
std::string g_program;

// Opens a settings file as the program does and writes "<seconds> <peak MB>
// <outcome>" to result. Run as a process of its own, so that the memory it
// reports is what the opening took, not what earlier work left behind.
int openOnce(const std::string &settings, const std::string &catalogue, const std::string &result)
{
    RegisterBinaryConfigModel();
    resetPeakMemory();
    const double before = statusMegabytes("VmRSS");
    const auto start = std::chrono::steady_clock::now();
    std::string outcome;
    try {
        outcome = "opened:" + LoadSettingsFile(settings, catalogue)->DescriptionFile().filename().string();
    } catch (const EError &) {
        outcome = "refused";
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double peak = before < 0 ? -1 : statusMegabytes("VmHWM") - before;
    std::ofstream(result) << seconds << ' ' << peak << ' ' << outcome;
    return 0;
}

// A scratch folder with a copy of the sample catalogue and settings file.
class THostileSet {
public:
    THostileSet()
    {
        m_dir = std::filesystem::temp_directory_path() / "configurator-hostile-bench";
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir / "catalogue");
        for (const char *file : {"transmitter-binary.xml", "transmitter-xml.xml"})
            std::filesystem::copy_file(kSamples / file, m_dir / "catalogue" / file);
        std::filesystem::copy_file(kSamples / "samples" / "transmitter-binary.cfg", m_dir / "sample.cfg");
    }
    ~THostileSet()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }

    // Seconds and peak MB of opening a settings file with the hostile file in
    // place; what went wrong when it was not refused (a catalogue file: skipped).
    std::optional<std::string> Open(const THostileCase &c, double &seconds, double &peakMegabytes)
    {
        const auto hostile = c.catalogue ? m_dir / "catalogue" / "a.xml" : m_dir / "hostile.cfg";
        std::filesystem::remove(hostile);
        c.make(hostile);
        const auto settings = c.catalogue ? m_dir / "sample.cfg" : hostile;
        const auto result = m_dir / "result.txt";
        std::filesystem::remove(result);
        const std::string command = "\"" + g_program + "\" " + kOpenOnce + " \"" + settings.string() + "\" \""
                                    + (m_dir / "catalogue").string() + "\" \"" + result.string() + "\"";
        const int status = std::system(command.c_str());
        std::filesystem::remove(hostile);
        std::ifstream figures(result);
        std::string outcome;
        if (status != 0 || !(figures >> seconds >> peakMegabytes >> outcome))
            return "the opening process failed";
        const std::string expected = c.catalogue ? "opened:transmitter-binary.xml" : "refused";
        if (outcome != expected)
            return outcome;
        return std::nullopt;
    }

private:
    std::filesystem::path m_dir;
};

void BM_HostileFile(benchmark::State &state, const THostileCase &c)
{
    static THostileSet set;
    double slowest = 0;
    double peak = 0;
    for (auto _ : state) {
        double seconds = 0;
        double megabytes = 0;
        if (const auto failure = set.Open(c, seconds, megabytes))
            state.SkipWithError(failure->c_str());
        slowest = std::max(slowest, seconds);
        peak = std::max(peak, megabytes);
    }
    state.counters["slowest_ms"] = slowest * 1000;
    state.counters["ratio_to_goal"] = slowest / kGoalSeconds;
    state.counters["peak_mb"] = peak;
    state.counters["ratio_to_memory_goal"] = peak / kGoalMegabytes;
}

} // namespace

BENCHMARK(BM_HostileDocuments)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Decode64K)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Encode64K)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FillTree50K)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    if (argc == 5 && std::string(argv[1]) == kOpenOnce)
        return openOnce(argv[2], argv[3], argv[4]);
    g_program = argv[0];
    for (const THostileCase &c : hostileCases())
        benchmark::RegisterBenchmark(("BM_HostileFile/" + std::string(c.name)).c_str(), BM_HostileFile, c)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
