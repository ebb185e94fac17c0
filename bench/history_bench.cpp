// The configuration history at the size of a large company: 10,000 devices
// with 10 versions each (100,000 commits). Measured: recording one device
// (goal 50 ms), listing one device's versions (goal 100 ms), and the one-off
// rebuild of the device index after a clone. Recording is also measured with
// all 10,000 devices under one hardware code, where every commit writes a
// folder tree of 10,000 entries.
//
// The fleet is written straight into packs (objects hashed into memory with
// libgit2's mempack backend, then packed batch by batch with each tree and
// file deltaed against its own earlier versions), not through 100,000
// recordings. Its old versions are small stand-in files: neither a recording
// nor a list reads them. The devices are spread over 100 hardware codes to
// keep that build short; the one-folder repository covers the worst case.
#include "history/git.h"
#include "history/history.h"
#include "history/version_message.h"

#include <git2/sys/mempack.h>

#include "bench/timing.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <map>
#include <random>

namespace {

constexpr int kDevices = 10000;
constexpr int kVersions = 10;
constexpr int kHardwareCodes = 100;
constexpr int kCommitsPerPack = 20000;
constexpr double kRecordGoalMs = 50;
constexpr double kListGoalMs = 100;
constexpr std::time_t kFirstRecording = 1800000000;

std::string serialOf(int device)
{
    return Format("%.8X", 0x10000000 + device);
}

std::uint16_t hardwareOf(int device, bool oneFolder)
{
    return static_cast<std::uint16_t>(oneFolder ? 5 : 1 + device % kHardwareCodes);
}

void check(int error, const char *what)
{
    if (error < 0)
        throw std::runtime_error(std::string(what) + ": " + GitReason());
}

// A tree object's bytes from its entries, already in git's order.
std::string treeBytes(const std::map<std::string, git_oid> &entries, const char *mode, bool folders)
{
    std::string bytes;
    for (const auto &[key, id] : entries) {
        const std::string name = folders ? key.substr(0, key.size() - 1) : key; // folders sort as "name/"
        bytes += std::string(mode) + " " + name + '\0';
        bytes.append(reinterpret_cast<const char *>(id.id), GIT_OID_RAWSZ);
    }
    return bytes;
}

// Writes a history repository object by object, as the store would have written it.
class TFleetWriter {
public:
    // Writes into the repository of an empty history folder.
    explicit TFleetWriter(const std::filesystem::path &folder)
    {
        git_repository *repository = nullptr;
        check(git_repository_open_bare(&repository, folder.string().c_str()), "open");
        m_repository.reset(repository);
        git_odb *odb = nullptr;
        check(git_repository_odb(&odb, repository), "odb");
        m_odb.reset(odb);
        check(git_mempack_new(&m_memory), "mempack");
        check(git_odb_add_backend(odb, m_memory, 1000), "mempack backend"); // the odb owns it now
    }
    ~TFleetWriter() { Flush(); }

    // path: where the object sits, so that the packer deltas each tree and file against its own earlier versions.
    git_oid Write(const std::string &bytes, git_object_t type, const std::string &path)
    {
        git_oid id;
        check(git_odb_write(&id, m_odb.get(), bytes.data(), bytes.size(), type), "write");
        m_written.emplace_back(id, path);
        return id;
    }

    // Records one version of a device: its file, its folder, the root, the commit.
    void Record(int device, const std::string &settings, bool oneFolder)
    {
        TVersionFacts facts{"Запись", hardwareOf(device, oneFolder), serialOf(device), 300, "transmitter-binary.xml",
                            "bench", "bench-station"};
        const std::string folder = std::to_string(facts.hardwareCode);
        auto &files = m_folders[folder];
        files[facts.serialNumber + ".cfg"] = Write(settings, GIT_OBJECT_BLOB, facts.Path());
        m_root[folder + "/"] = Write(treeBytes(files, "100644", false), GIT_OBJECT_TREE, folder);
        const auto previous = m_latest.find(device);
        if (previous != m_latest.end())
            facts.previousVersion = OidText(previous->second);
        m_latest[device] = Commit(ComposeMessage(facts));
    }

    // One commit holding every device of the fleet at once, each with the same file.
    void RecordAllAtOnce(int devices, const std::string &settings, bool oneFolder)
    {
        const git_oid blob = Write(settings, GIT_OBJECT_BLOB, "");
        for (int device = 0; device < devices; ++device)
            m_folders[std::to_string(hardwareOf(device, oneFolder))][serialOf(device) + ".cfg"] = blob;
        for (const auto &[folder, files] : m_folders)
            m_root[folder + "/"] = Write(treeBytes(files, "100644", false), GIT_OBJECT_TREE, folder);
        Commit("Все устройства сразу\n");
    }

    // Moves what is in memory into a pack of the repository.
    void Flush()
    {
        if (m_commitsInMemory == 0)
            return;
        // Only this batch's objects: the mempack's own dump would pack every tree and file reachable again.
        git_packbuilder *rawBuilder = nullptr;
        check(git_packbuilder_new(&rawBuilder, m_repository.get()), "packbuilder");
        const TPackBuilderPtr builder(rawBuilder);
        git_packbuilder_set_threads(rawBuilder, 0);
        for (const auto &[id, path] : m_written)
            check(git_packbuilder_insert(rawBuilder, &id, path.c_str()), "pack object");
        TGitBuffer pack;
        check(git_packbuilder_write_buf(&pack.buffer, rawBuilder), "pack");
        git_odb_writepack *writer = nullptr;
        check(git_odb_write_pack(&writer, m_odb.get(), nullptr, nullptr), "pack");
        git_indexer_progress progress{};
        const int appended = writer->append(writer, pack.buffer.ptr, pack.buffer.size, &progress);
        const int committed = appended < 0 ? appended : writer->commit(writer, &progress);
        writer->free(writer);
        check(committed, "index pack");
        check(git_mempack_reset(m_memory), "reset");
        m_commitsInMemory = 0;
        m_written.clear();
        git_reference *ref = nullptr;
        check(git_reference_create(&ref, m_repository.get(), "refs/heads/main", &*m_tip, 1, nullptr), "branch");
        git_reference_free(ref);
    }

private:
    git_oid Commit(const std::string &message)
    {
        const git_oid tree = Write(treeBytes(m_root, "40000", true), GIT_OBJECT_TREE, "");
        const std::string who = Format("bench <bench@bench-station> %lld +0000", static_cast<long long>(m_time++));
        std::string bytes = "tree " + OidText(tree) + "\n";
        if (m_tip)
            bytes += "parent " + OidText(*m_tip) + "\n";
        bytes += "author " + who + "\ncommitter " + who + "\n\n" + message;
        m_tip = Write(bytes, GIT_OBJECT_COMMIT, "");
        if (++m_commitsInMemory >= kCommitsPerPack)
            Flush();
        return *m_tip;
    }

    TGitLibrary m_library;
    TRepositoryPtr m_repository;
    TOdbPtr m_odb;
    git_odb_backend *m_memory = nullptr;
    std::vector<std::pair<git_oid, std::string>> m_written; // since the last pack
    std::map<std::string, std::map<std::string, git_oid>> m_folders;
    std::map<std::string, git_oid> m_root;
    std::map<int, git_oid> m_latest;
    std::optional<git_oid> m_tip;
    std::time_t m_time = kFirstRecording;
    int m_commitsInMemory = 0;
};

std::string sampleSettings()
{
    std::ifstream in(std::string(CATALOGUE_DIR) + "/samples/transmitter-binary.cfg", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class TFleet {
public:
    explicit TFleet(bool oneFolder) : m_oneFolder(oneFolder)
    {
        std::random_device random;
        m_dir = std::filesystem::temp_directory_path() / ("configurator-history-bench-" + std::to_string(random()));
        const auto start = std::chrono::steady_clock::now();
        THistoryStore({true, m_dir}); // creates the repository as on any station
        {
            TFleetWriter writer(m_dir);
            if (oneFolder) {
                writer.RecordAllAtOnce(kDevices, "<config hw=\"5\" sw=\"300\"/>\n", true);
            } else {
                for (int version = 0; version < kVersions; ++version)
                    for (int device = 0; device < kDevices; ++device)
                        writer.Record(device, Format("<config hw=\"%d\" sw=\"300\"><object_number><value>%d"
                                                     "</value></object_number></config>\n",
                                                     hardwareOf(device, false), version),
                                      false);
            }
        }
        buildSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        store.emplace(THistoryOptions{true, m_dir});
    }
    ~TFleet()
    {
        store.reset();
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }

    THistoryEntry Entry(int device, int round)
    {
        THistoryEntry entry;
        entry.serialNumber = serialOf(device);
        entry.hardwareCode = hardwareOf(device, m_oneFolder);
        entry.firmwareVersion = 300;
        entry.descriptionFile = "transmitter-binary.xml";
        entry.action = THistoryAction::Write;
        entry.settings = m_sample + "<!-- " + std::to_string(round) + " -->\n";
        return entry;
    }

    int RandomDevice() { return std::uniform_int_distribution<int>(0, kDevices - 1)(m_random); }

    std::filesystem::path IndexFile() const { return m_dir / "configurator-index"; }

    std::optional<THistoryStore> store;
    double buildSeconds = 0;

private:
    bool m_oneFolder;
    std::filesystem::path m_dir;
    std::string m_sample = sampleSettings();
    std::mt19937 m_random{7};
};

TFleet &fleet()
{
    static TFleet f(false);
    return f;
}

void reportGoal(benchmark::State &state, double seconds, double goalMs)
{
    state.counters["goal_ms"] = goalMs;
    state.counters["ratio_to_goal"] = seconds * 1000 / goalMs;
}

// The first list after a clone walks all 100,000 commits once to build the device index.
void BM_IndexRebuild(benchmark::State &state)
{
    TFleet &f = fleet();
    state.counters["fleet_build_s"] = f.buildSeconds;
    timed(state, [&] {
        state.PauseTiming();
        std::filesystem::remove(f.IndexFile());
        state.ResumeTiming();
        if (f.store->Versions(serialOf(f.RandomDevice())).size() != kVersions)
            state.SkipWithError("a device lacks versions");
    });
}

void BM_DeviceVersions(benchmark::State &state)
{
    TFleet &f = fleet();
    f.store->Versions(serialOf(0)); // the index is built once, as on any station
    const double seconds = timed(state, [&] {
        if (f.store->Versions(serialOf(f.RandomDevice())).size() < kVersions)
            state.SkipWithError("a device lacks versions");
    });
    reportGoal(state, seconds, kListGoalMs);
}

void recordBench(benchmark::State &state, TFleet &f)
{
    int round = 0;
    const double seconds = timed(state, [&] {
        if (!f.store->Record(f.Entry(f.RandomDevice(), round++)))
            state.SkipWithError("a write added no commit");
    });
    reportGoal(state, seconds, kRecordGoalMs);
}

void BM_Record(benchmark::State &state)
{
    fleet().store->Versions(serialOf(0));
    recordBench(state, fleet());
}

void BM_RecordOneFolderOf10000(benchmark::State &state)
{
    TFleet oneFolder(true);
    recordBench(state, oneFolder);
}

} // namespace

BENCHMARK(BM_IndexRebuild)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_DeviceVersions)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Record)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RecordOneFolderOf10000)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
