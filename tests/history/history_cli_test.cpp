// configurator-cli history as a program, over two versions of the sample device.
#include "history/history.h"
#include "tests/model/catalogue_fixture.h"
#include "tests/tools/process.h"

#include <gtest/gtest.h>

TEST(CliHistory, ListShowDiffExportAndSyncAVersionedDevice)
{
    const std::string catalogue = CATALOGUE_DIR;
    TTempDir dir;
    const std::string sample = ReadFile(catalogue + "/samples/transmitter-binary.cfg");
    std::string changed = sample;
    changed.replace(changed.find("<value>1234</value>"), 19, "<value>17</value>");
    THistoryStore store({true, dir.Path() / "history"});
    THistoryEntry entry{"1234", 5, 300, "transmitter-binary.xml", THistoryAction::Read, sample, "ivanov", "ws-07"};
    const std::string read = store.Record(entry).value();
    entry.action = THistoryAction::Write;
    entry.settings = changed;
    store.Record(entry);
    const THistoryVersion newest = store.Versions("1234").at(0);
    const std::string written = newest.shortRevision;
    const auto history = [&](std::vector<std::string> words) {
        words.insert(words.begin(), {CLI_EXE, "history"});
        words.insert(words.end(), {"--history", dir.File("history"), "--catalogue", catalogue});
        return RunProgram(words);
    };

    const std::string row = written + "  " + HistoryTimeText(newest.time) + "  Запись    300     ivanov    ws-07\n";
    EXPECT_NE(history({"list", "1234"}).output.find("\n" + row), std::string::npos);
    EXPECT_NE(history({"show", "1234"}).output.find("  Номер объекта = 17\n"), std::string::npos);
    const TRunResult diff = history({"diff", "1234", read, written});
    EXPECT_EQ(diff.exitCode, 1);
    EXPECT_EQ(diff.output, "Общие параметры / Номер объекта: 1234 → 17\n");
    ASSERT_EQ(history({"export", "1234", read, "-o", dir.File("exported.cfg")}).exitCode, 0);
    EXPECT_TRUE(dir.Read("exported.cfg") == sample); // byte for byte

    ASSERT_EQ(RunProgram({"git", "init", "--bare", "-q", "-b", "main", dir.File("shared.git")}).exitCode, 0);
    EXPECT_EQ(history({"sync", "--remote", dir.File("shared.git")}).output,
              "История синхронизирована: получено записей 0, отправлено 2.\n");
}
