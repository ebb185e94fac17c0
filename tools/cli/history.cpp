// history: the configuration history that read, write and deploy keep, listed,
// shown and compared as the files commands do, and shared with the other stations.
#include "history/history.h"
#include "model/errors.h"
#include "tools/cli/commands.h"

#include <algorithm>
#include <cctype>
#include <iostream>
#include <random>

namespace {

// history diff ends as diff does; this is its "cannot compare".
constexpr int kExitTrouble = 2;
constexpr const char *kColumnGap = "  ";

// Versions taken out of the history for the file commands, removed afterwards.
class TScratchFolder {
public:
    TScratchFolder()
    {
        std::random_device random;
        m_path = std::filesystem::temp_directory_path() / ("configurator-history-" + std::to_string(random()));
        std::filesystem::create_directories(m_path);
    }
    ~TScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TScratchFolder(const TScratchFolder &) = delete;
    TScratchFolder &operator=(const TScratchFolder &) = delete;

    // Where a device's version goes: <serial>-<revision>.cfg, the name the file commands then show.
    std::string File(const std::string &serial, std::string revision) const
    {
        // Any revision git understands ("main~2" too) becomes a plain file name.
        for (char &c : revision)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return (m_path / (HistorySerial(serial) + (revision.empty() ? "" : "-" + revision) + ".cfg")).string();
    }

private:
    std::filesystem::path m_path;
};

// Characters, not bytes: the columns hold Cyrillic text.
std::size_t shownWidth(const std::string &text)
{
    std::size_t width = 0;
    for (const char c : text)
        width += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return width;
}

void printTable(const std::vector<std::vector<std::string>> &rows)
{
    std::vector<std::size_t> widths;
    for (const auto &row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], shownWidth(row[i]));
    }
    for (const auto &row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size())
                line += std::string(widths[i] - shownWidth(row[i]), ' ') + kColumnGap;
        }
        std::cout << line << "\n";
    }
}

// The shared history is fetched before showing; without it the local one is shown, with a warning.
void syncBeforeShowing(const THistoryOptions &options)
{
    if (const auto warning = SyncHistory(options))
        std::cerr << *warning << "\n";
}

int listVersions(THistoryStore &store, const std::string &serial)
{
    const std::vector<THistoryVersion> versions = store.Versions(serial);
    if (versions.empty())
        throw EHistoryError(Format("В истории нет устройства %s.", HistorySerial(serial).c_str()));
    std::vector<std::vector<std::string>> rows = {{"Ревизия", "Время", "Действие", "Версия", "Оператор", "Станция"}};
    for (const auto &version : versions)
        rows.push_back({version.shortRevision, HistoryTimeText(version.time), version.action,
                        std::to_string(version.firmwareVersion), version.operatorName, version.station});
    printTable(rows);
    return 0;
}

int listDevices(THistoryStore &store)
{
    std::vector<std::vector<std::string>> rows = {
        {"Серийный номер", "Код", "Версия", "Последняя запись", "Действие", "Оператор", "Станция"}};
    for (const auto &device : store.Devices())
        rows.push_back({device.serialNumber, std::to_string(device.hardwareCode),
                        std::to_string(device.firmwareVersion), HistoryTimeText(device.time), device.action,
                        device.operatorName, device.station});
    printTable(rows);
    return 0;
}

// show, run on a file taken out of the history: the same tree, the same messages.
int showFile(const std::string &file, const TArgs &args)
{
    std::vector<std::string> words = {"configurator-cli", "show", file};
    if (const auto catalogue = args.Value("catalogue"))
        words.insert(words.end(), {"--catalogue", *catalogue});
    std::vector<char *> argv;
    for (auto &word : words)
        argv.push_back(word.data());
    return CmdShow(TArgs(static_cast<int>(argv.size()), argv.data(), 2, CliOptions()));
}

void requireWords(const std::vector<std::string> &words, std::size_t least, std::size_t most, const char *usage)
{
    if (words.size() < least || words.size() > most)
        throw std::invalid_argument(std::string("usage: ") + usage);
}

} // namespace

THistoryOptions HistoryOptions(const TArgs &args)
{
    THistoryOptions options;
    options.enabled = !args.Has("no-history");
    if (const auto folder = args.Value("history"))
        options.folder = PathFromUtf8(*folder);
    options.remote = args.Value("remote", "");
    options.branch = args.Value("branch", options.branch);
    return options;
}

int CmdHistory(const TArgs &args)
{
    const std::vector<std::string> &words = args.Positional();
    if (words.empty())
        throw std::invalid_argument("history needs list, show, diff, export or sync");
    const std::string &what = words[0];
    const THistoryOptions options = HistoryOptions(args);
    if (what == "list") {
        requireWords(words, 1, 2, "history list [SERIAL]");
        syncBeforeShowing(options);
        THistoryStore store(options);
        return words.size() == 2 ? listVersions(store, words[1]) : listDevices(store);
    }
    if (what == "show") {
        requireWords(words, 2, 3, "history show SERIAL [REVISION]");
        syncBeforeShowing(options);
        const std::string revision = words.size() == 3 ? words[2] : "";
        const TScratchFolder scratch;
        const std::string file = scratch.File(words[1], revision);
        THistoryStore(options).Export(words[1], revision, file);
        return showFile(file, args);
    }
    if (what == "diff") {
        requireWords(words, 4, 4, "history diff SERIAL REVISION1 REVISION2");
        syncBeforeShowing(options);
        const TScratchFolder scratch;
        std::vector<std::string> files;
        try {
            THistoryStore store(options);
            for (const std::string &revision : {words[2], words[3]}) {
                files.push_back(scratch.File(words[1], revision));
                store.Export(words[1], revision, files.back());
            }
        } catch (const EError &e) {
            std::cerr << e.what() << "\n";
            return kExitTrouble;
        }
        return CmdDiff(args, files);
    }
    if (what == "export") {
        requireWords(words, 3, 3, "history export SERIAL REVISION -o FILE.cfg");
        const auto output = args.Value("output");
        if (!output)
            throw std::invalid_argument("history export needs -o FILE.cfg");
        syncBeforeShowing(options);
        THistoryStore(options).Export(words[1], words[2], PathFromUtf8(*output));
        return 0;
    }
    if (what == "sync") {
        requireWords(words, 1, 1, "history sync --remote URL");
        if (options.remote.empty())
            throw std::invalid_argument("history sync needs --remote URL");
        const THistorySyncResult result = THistoryStore(options).Sync();
        std::cout << Format("История синхронизирована: получено записей %d, отправлено %d.", result.received,
                            result.sent)
                  << "\n";
        return 0;
    }
    throw std::invalid_argument("unknown history command " + what);
}
