#pragma once

// The configuration history of every device. Each read and each write of a
// device is kept as that device's settings file in a git repository, at
// <hardware code>/<serial number>.cfg, one commit per recording, and can be
// shared with the other stations through a remote repository. Plain C++ over
// libgit2 (which no caller sees), for the window and the command-line tool.
//
// A history failure must never spoil a device operation: do the device work,
// then call RecordDeviceConfiguration, which never throws and returns the
// warning to show.

#include "model/errors.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class IConfigModel;

// A history that cannot be opened, read or written; what() is the user's message.
class EHistoryError : public EError {
public:
    using EError::EError;
    const char *ClassName() const override { return "EHistoryError"; }
};

// The shared repository could not be reached or refused the push. Nothing is
// lost: the local commits go at the next sync.
class EHistoryRemoteError : public EHistoryError {
public:
    using EHistoryError::EHistoryError;
    const char *ClassName() const override { return "EHistoryRemoteError"; }
};

enum class THistoryAction { Read, Write, Deploy };

// "Чтение", "Запись", "Развёртывание": the words of the commit messages and the lists.
const char *HistoryActionText(THistoryAction action);

// Where the history is kept and with whom it is shared.
struct THistoryOptions {
    bool enabled = true;          // off: RecordDeviceConfiguration does nothing
    std::filesystem::path folder; // empty: DefaultHistoryFolder()
    std::string remote;           // the shared repository (path, file://, ssh:// or https:// URL); empty: none
    std::string branch = "main";
    bool pushAfterRecord = true;  // RecordDeviceConfiguration also syncs when there is a remote
};

// One recording of a device's configuration.
struct THistoryEntry {
    std::string serialNumber; // hexadecimal text, as the status bar shows it
    std::uint16_t hardwareCode = 0;
    std::uint16_t firmwareVersion = 0;
    std::string descriptionFile; // the catalogue file's name
    THistoryAction action = THistoryAction::Read;
    std::string settings;        // the settings file's bytes (IConfigModel::SettingsText)
    std::string operatorName;    // empty: the system user name
    std::string station;         // empty: the computer's name
    std::optional<std::chrono::system_clock::time_point> time; // empty: now
};

// One version of a device, as its commit tells it.
struct THistoryVersion {
    std::string revision;      // the commit id, 40 hexadecimal digits
    std::string shortRevision; // its shortest unambiguous abbreviation (at least 7 digits)
    std::chrono::system_clock::time_point time;
    std::string action;
    std::string operatorName;
    std::string station;
    std::string serialNumber;
    std::uint16_t hardwareCode = 0;
    std::uint16_t firmwareVersion = 0;
    std::string descriptionFile;
};

// What one sync moved.
struct THistorySyncResult {
    int received = 0; // commits taken from the shared repository
    int sent = 0;     // commits of this station pushed to it
};

// The history repository of one folder. Several stores, in this process or
// others, may work on one folder at once: recordings and syncs take the
// folder's lock in turn. Every failure raises EHistoryError.
class THistoryStore {
public:
    // Opens the history, creating the repository in a missing or empty
    // folder. A folder holding anything else, or a damaged repository, is refused.
    explicit THistoryStore(const THistoryOptions &options);
    ~THistoryStore();
    THistoryStore(const THistoryStore &) = delete;
    THistoryStore &operator=(const THistoryStore &) = delete;

    const std::filesystem::path &Folder() const;

    // Commits the entry and returns its revision. A read equal to the device's
    // newest version adds nothing (nullopt); a write or a deployment always
    // adds a commit, also when nothing changed.
    std::optional<std::string> Record(const THistoryEntry &entry);

    // A device's versions, newest first; empty for a device never recorded.
    std::vector<THistoryVersion> Versions(const std::string &serialNumber);
    // Every device with its last recorded version, by hardware code and serial number.
    std::vector<THistoryVersion> Devices();
    // A device's settings file at a revision (a commit id, full or
    // abbreviated); its newest version for an empty revision.
    std::string Settings(const std::string &serialNumber, const std::string &revision = "");
    // Writes that settings file (through a temporary file, as a save does), to be opened as any settings file.
    void Export(const std::string &serialNumber, const std::string &revision, const std::filesystem::path &file);

    // Fetches the shared repository, puts this station's unshared commits
    // after its tip, and pushes. Raises EHistoryRemoteError when it cannot be
    // reached; the commits then stay here for the next sync.
    THistorySyncResult Sync();
    // Commits of this station that the shared repository lacks, as of the last sync.
    int Unsent();

    class TImpl;

private:
    std::unique_ptr<TImpl> m_impl;
};

// ~/.local/share/configurator/history ($XDG_DATA_HOME respected) on Linux,
// %APPDATA%\configurator\history on Windows.
std::filesystem::path DefaultHistoryFolder();

// A serial number as the history names its file: upper-case hexadecimal, at
// least 8 digits ("%.8llX", as the status bar shows it). Raises
// EHistoryError for anything but 1..16 significant hexadecimal digits.
std::string HistorySerial(const std::string &text);

// "2026-12-06 15:42:54", local time.
std::string HistoryTimeText(std::chrono::system_clock::time_point time);

// Records after a device operation (and syncs, with a remote and
// pushAfterRecord). Never throws: returns the warning to show when the
// history failed, nullopt when all went well or the history is off.
std::optional<std::string> RecordDeviceConfiguration(const THistoryOptions &options, const THistoryEntry &entry);
// The same for a configuration just read from or written into a device: the
// settings bytes, hardware code and description come from the model.
std::optional<std::string> RecordDeviceConfiguration(const THistoryOptions &options, IConfigModel &model,
                                                      THistoryAction action, const std::string &serialNumber,
                                                      std::uint16_t firmwareVersion);
// Syncs; the warning to show when it could not, nullopt otherwise (also without a remote).
std::optional<std::string> SyncHistory(const THistoryOptions &options);
