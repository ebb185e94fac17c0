// The history store: recording, reading back, refusing bad folders and serial
// numbers, and sharing between stations through a bare repository in a
// temporary folder; every repository must pass git fsck afterwards.
#include "history/history.h"
#include "tests/model/catalogue_fixture.h"
#include "tests/tools/process.h"

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;

namespace {

const std::string kSerial = "00001234";
const std::chrono::system_clock::time_point kMorning = std::chrono::system_clock::from_time_t(1800000000);

THistoryEntry entryOf(const std::string &settings, THistoryAction action = THistoryAction::Write,
                      std::chrono::seconds later = 0s, const std::string &serial = kSerial)
{
    return {serial, 5, 300, "transmitter-binary.xml", action, settings, "ivanov", "ws-07", kMorning + later};
}

TRunResult git(const std::filesystem::path &repository, std::vector<std::string> args)
{
    args.insert(args.begin(), {"git", "--git-dir", repository.string()});
    return RunProgram(args);
}

void expectFsck(const std::filesystem::path &repository)
{
    const TRunResult fsck = git(repository, {"fsck", "--strict", "--no-progress"});
    EXPECT_EQ(fsck.exitCode, 0) << repository << ": " << fsck.output;
}

std::vector<std::string> settingsOf(THistoryStore &store, const std::string &serial)
{
    std::vector<std::string> settings;
    for (const auto &version : store.Versions(serial))
        settings.push_back(store.Settings(serial, version.revision));
    return settings;
}

// A shared bare repository and stations, each with its own history folder.
class HistorySharing : public ::testing::Test {
protected:
    HistorySharing()
    {
        const TRunResult init = RunProgram({"git", "init", "--bare", "-q", "-b", "main", Remote().string()});
        EXPECT_EQ(init.exitCode, 0) << init.output;
    }
    std::filesystem::path Remote() const { return m_dir.Path() / "shared.git"; }
    THistoryOptions Station(const std::string &name, const std::string &remote = "") const
    {
        return {true, m_dir.Path() / name, remote.empty() ? Remote().string() : remote};
    }
    void ExpectAllPassFsck(std::initializer_list<const char *> stations) const
    {
        expectFsck(Remote());
        for (const char *station : stations)
            expectFsck(m_dir.Path() / station);
    }

    TTempDir m_dir;
};

} // namespace

TEST(HistoryRecord, ReadsAddACommitOnlyWhenChangedWritesAlwaysBadSerialsNever)
{
    TTempDir dir;
    const THistoryOptions options{true, dir.Path() / "history"};
    THistoryStore store(options);
    const struct {
        THistoryAction action;
        const char *settings;
        bool commits;
    } steps[] = {
        {THistoryAction::Read, "A", true},    {THistoryAction::Read, "A", false}, {THistoryAction::Write, "A", true},
        {THistoryAction::Deploy, "A", true}, {THistoryAction::Read, "B", true},  {THistoryAction::Read, "B", false},
    };
    std::vector<std::string> revisions;
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        const auto revision = store.Record(entryOf(steps[i].settings, steps[i].action, std::chrono::seconds(i)));
        EXPECT_EQ(revision.has_value(), steps[i].commits) << "step " << i;
        if (revision)
            revisions.insert(revisions.begin(), *revision);
    }
    // Newest first, each with its action and its own file; "1234" names the same device.
    const std::vector<THistoryVersion> versions = store.Versions("1234");
    ASSERT_EQ(versions.size(), 4u);
    const char *actions[] = {"Чтение", "Развёртывание", "Запись", "Чтение"};
    for (std::size_t i = 0; i < versions.size(); ++i) {
        EXPECT_EQ(versions[i].revision, revisions[i]);
        EXPECT_EQ(versions[i].action, actions[i]);
    }
    EXPECT_EQ(settingsOf(store, kSerial), (std::vector<std::string>{"B", "A", "A", "A"}));
    EXPECT_EQ(store.Settings(kSerial, versions[3].shortRevision), "A");
    EXPECT_EQ(store.Settings(kSerial), "B");
    EXPECT_EQ(MessageOf([&] { store.Settings(kSerial, "0123456789"); }), "В истории нет версии 0123456789.");
    ASSERT_EQ(store.Devices().size(), 1u);
    EXPECT_EQ(store.Devices()[0].revision, revisions[0]);
    expectFsck(store.Folder());

    // A serial number becomes a file name: anything but hexadecimal is refused, with a warning for the caller.
    for (const std::string serial : {"", "12G4", "../etc", "12345678901234567"}) {
        EXPECT_EQ(MessageOf([&] { store.Record(entryOf("A", THistoryAction::Write, 0s, serial)); }),
                  "Серийный номер \"" + serial + "\" не годится для имени файла истории: допустимы только "
                  "шестнадцатеричные цифры (не больше 16 значащих).");
        const auto warning = RecordDeviceConfiguration(options, entryOf("B", THistoryAction::Write, 0s, serial));
        EXPECT_EQ(warning.value_or("").rfind("Конфигурация не записана в историю: Серийный номер", 0), 0u);
    }
    EXPECT_EQ(store.Devices().size(), 1u);
    EXPECT_EQ(HistorySerial("00000000ABCDEF12"), "ABCDEF12");
}

TEST(HistoryOpen, ForeignAndDamagedFoldersAreRefusedWithTheirMessage)
{
    const std::string damaged = " повреждено: ";
    const struct {
        const char *what;
        bool recordedBefore;
        std::function<void(const TTempDir &dir)> spoil; // of the folder "history"
        std::string before; // the message: before, the folder, after
        std::string after;
    } cases[] = {
        {"other files", false, [](const auto &dir) { dir.Write("history/notes.txt", "x"); }, "Папка ",
         " не пуста и не является хранилищем истории конфигураций."},
        {"a work tree", false, [](const auto &dir) { RunProgram({"git", "init", "-q", dir.File("history")}); },
         "В папке ", " другое хранилище git, а не история конфигураций."},
        {"HEAD", true, [](const auto &dir) { dir.Write("history/HEAD", "garbage"); }, "Хранилище истории ",
         damaged},
        {"branch", true, [](const auto &dir) { dir.Write("history/refs/heads/main", "0123\n"); },
         "Хранилище истории ", damaged},
        {"tip commit", true,
         [](const auto &dir) {
             const std::string tip = dir.Read("history/refs/heads/main").substr(0, 40);
             std::filesystem::remove(dir.Path() / "history/objects" / tip.substr(0, 2) / tip.substr(2));
         },
         "Хранилище истории ", damaged},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TTempDir dir;
        const THistoryOptions options{true, dir.Path() / "history"};
        std::filesystem::create_directories(options.folder);
        if (c.recordedBefore)
            THistoryStore(options).Record(entryOf("A"));
        c.spoil(dir);
        const std::string expected = c.before + options.folder.string() + c.after;
        EXPECT_EQ(MessageOf([&] { THistoryStore(options).Record(entryOf("B")); }).substr(0, expected.size()),
                  expected);
        EXPECT_TRUE(RecordDeviceConfiguration(options, entryOf("C")).has_value());
    }
}

TEST_F(HistorySharing, AnUnreachableRemoteKeepsTheCommitUntilItCanBePushed)
{
    const std::string later = (m_dir.Path() / "later.git").string();
    const THistoryOptions first = Station("first", later);
    const auto warning = RecordDeviceConfiguration(first, entryOf("A"));
    ASSERT_TRUE(warning.has_value());
    EXPECT_EQ(warning->rfind("Конфигурация записана в историю на этом компьютере и будет отправлена позже: Нет "
                             "связи с общим хранилищем истории " + later + ": ", 0),
              0u)
        << *warning;
    EXPECT_EQ(THistoryStore(first).Unsent(), 1);
    EXPECT_EQ(SyncHistory(first).value_or("").rfind("История не синхронизирована: Нет связи", 0), 0u);

    ASSERT_EQ(RunProgram({"git", "init", "--bare", "-q", "-b", "main", later}).exitCode, 0);
    EXPECT_EQ(SyncHistory(first), std::nullopt);
    EXPECT_EQ(THistoryStore(first).Unsent(), 0);
    THistoryStore second(Station("second", later));
    EXPECT_EQ(second.Sync().received, 1);
    EXPECT_EQ(settingsOf(second, kSerial), std::vector<std::string>{"A"});
    expectFsck(later);
    ExpectAllPassFsck({"first", "second"});
}

TEST_F(HistorySharing, OneDeviceRecordedAtTwoStationsKeepsBothVersionsInTimeOrder)
{
    THistoryStore first(Station("first"));
    THistoryStore second(Station("second"));
    first.Record(entryOf("base"));
    first.Sync();
    second.Sync();
    // The first station, cut off, records earlier than the second, which pushes first.
    first.Record(entryOf("first, earlier", THistoryAction::Write, 10s));
    first.Record(entryOf("other device", THistoryAction::Write, 11s, "ABCD"));
    THistoryEntry later = entryOf("second, later", THistoryAction::Write, 20s);
    later.operatorName = "petrov";
    second.Record(later);
    EXPECT_EQ(second.Sync().sent, 1);
    const THistorySyncResult synced = first.Sync();
    EXPECT_EQ(synced.received, 1);
    EXPECT_EQ(synced.sent, 3); // its two versions and the restore of the later file
    second.Sync();

    const std::vector<std::string> expected = {"second, later", "first, earlier", "base"};
    for (THistoryStore *station : {&first, &second}) {
        EXPECT_EQ(settingsOf(*station, kSerial), expected);
        EXPECT_EQ(station->Settings(kSerial), "second, later"); // the later recording is the current file
        EXPECT_EQ(settingsOf(*station, "ABCD"), std::vector<std::string>{"other device"});
    }
    // The two versions are consecutive commits of the device's file, their facts in the message trailers.
    const TRunResult log = git(Remote(), {"log", "--format=%an %(trailers:key=Action,valueonly,separator=)", "main",
                                          "--", "5/00001234.cfg"});
    EXPECT_EQ(log.output, "configurator \nivanov Запись\npetrov Запись\nivanov Запись\n"); // the restore on top
    ExpectAllPassFsck({"first", "second"});
}

TEST_F(HistorySharing, ConcurrentRecordingsLoseNoCommit)
{
    // Two stations, and two programs on the first station, record and push at once.
    constexpr int kRecordings = 8;
    const THistoryOptions stations[] = {Station("first"), Station("first"), Station("second")};
    std::vector<std::thread> threads;
    std::vector<std::string> warnings(std::size(stations));
    for (std::size_t s = 0; s < std::size(stations); ++s)
        threads.emplace_back([&, s] {
            for (int i = 0; i < kRecordings; ++i) {
                const std::string serial = i % 2 ? kSerial : "ABC" + std::to_string(s);
                const auto warning = RecordDeviceConfiguration(
                    stations[s], entryOf(std::to_string(s) + "/" + std::to_string(i), THistoryAction::Write,
                                         std::chrono::seconds(i), serial));
                if (warning)
                    warnings[s] += *warning + "\n";
            }
        });
    for (auto &thread : threads)
        thread.join();
    for (const auto &options : stations)
        EXPECT_EQ(SyncHistory(options), std::nullopt);
    THistoryStore check(Station("check"));
    check.Sync();
    std::size_t versions = 0;
    for (const auto &device : check.Devices())
        versions += check.Versions(device.serialNumber).size();
    EXPECT_EQ(versions, std::size(stations) * kRecordings) << warnings[0] << warnings[1] << warnings[2];
    EXPECT_EQ(check.Devices().size(), 4u);
    ExpectAllPassFsck({"first", "second", "check"});
}
