// configurator-cli history as a program, over two versions of the sample device.
#include "history/history.h"
#include "tests/model/catalogue_fixture.h"
#include "tests/tools/process.h"

#include <gtest/gtest.h>

TEST(CliHistory, ListShowDiffExportAndSyncAVersionedDevice)
{
    const std::string catalogue = CATALOGUE_DIR;
    const std::string sampleFile = catalogue + "/samples/transmitter-binary.cfg";
    TTempDir dir;
    const std::string sample = ReadFile(sampleFile);
    std::string changed = sample;
    changed.replace(changed.find("<value>1234</value>"), 19, "<value>17</value>");
    THistoryStore store({true, dir.Path() / "history"});
    THistoryEntry entry{"1234", 5, 300, "transmitter-binary.xml", THistoryAction::Read, sample, "ivanov", "ws-07"};
    const std::string read = store.Record(entry).value();
    entry.action = THistoryAction::Write;
    entry.settings = changed;
    store.Record(entry);
    const std::vector<THistoryVersion> versions = store.Versions("1234");
    ASSERT_EQ(versions.size(), 2u);
    const std::string written = versions[0].shortRevision;
    const auto history = [&](std::vector<std::string> words) {
        words.insert(words.begin(), {CLI_EXE, "history"});
        words.insert(words.end(), {"--history", dir.File("history"), "--catalogue", catalogue});
        return RunProgram(words);
    };

    const TRunResult list = history({"list", "1234"});
    EXPECT_EQ(list.exitCode, 0) << list.output;
    const std::string time = HistoryTimeText(versions[0].time);
    EXPECT_EQ(list.output.substr(0, list.output.find('\n')),
              "Ревизия  Время                Действие  Версия  Оператор  Станция");
    EXPECT_NE(list.output.find("\n" + written + "  " + time + "  Запись    300     ivanov    ws-07\n"),
              std::string::npos) << list.output;
    EXPECT_NE(history({"list"}).output.find("\n00001234        5    300     " + time + "  Запись"), std::string::npos);
    EXPECT_EQ(history({"list", "FFFF"}).output, "В истории нет устройства 0000FFFF.\n");

    // The file commands' own output and exit codes.
    EXPECT_EQ(history({"show", "1234", read}).output,
              RunProgram({CLI_EXE, "show", "--catalogue", catalogue, sampleFile}).output);
    EXPECT_NE(history({"show", "1234"}).output.find("  Номер объекта = 17\n"), std::string::npos);
    const struct {
        std::string first, second;
        int exitCode;
        std::string output;
    } diffs[] = {
        {read, written, 1, "Общие параметры / Номер объекта: 1234 → 17\n"},
        {written, written, 0, "Настройки совпадают.\n"},
        {read, "fffffff", 2, "В истории нет версии fffffff.\n"},
    };
    for (const auto &d : diffs) {
        const TRunResult diff = history({"diff", "1234", d.first, d.second});
        EXPECT_EQ(diff.exitCode, d.exitCode) << diff.output;
        EXPECT_EQ(diff.output, d.output);
    }
    ASSERT_EQ(history({"export", "1234", read, "-o", dir.File("exported.cfg")}).exitCode, 0);
    EXPECT_TRUE(dir.Read("exported.cfg") == sample); // byte for byte

    ASSERT_EQ(RunProgram({"git", "init", "--bare", "-q", "-b", "main", dir.File("shared.git")}).exitCode, 0);
    const TRunResult sync = history({"sync", "--remote", dir.File("shared.git")});
    EXPECT_EQ(sync.exitCode, 0);
    EXPECT_EQ(sync.output, "История синхронизирована: получено записей 0, отправлено 2.\n");
}
