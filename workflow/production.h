#pragma once

// Many devices from one settings file: backups before writing, verified
// writes, parameters set per run, and the production line that serves device
// after device. Plain C++: the command-line tool drives it over a port, the
// tests over the simulator.

#include "workflow/workflow.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// A device as its identification report presents it.
struct TDeviceReport {
    TDeviceState state; // connected false: no device answers
    std::uint64_t serialNumber = 0;
    TDeviceIdentity identity; // the whole identification, which the job pins
};

// The port as the production line uses it: identification reports to wait
// for, and the link to the device that sent them.
class IDeviceSession {
public:
    virtual ~IDeviceSession() = default;
    // The next identification report after this call; none when none came in time.
    virtual std::optional<TDeviceReport> NextReport(std::chrono::milliseconds timeout) = 0;
    virtual IDeviceLink &Link() = 0;
};


// Reads the device and saves its configuration as
// backupDir/<serial>-<YYYYMMDD-HHMMSS>.cfg, creating the folder; "-2", "-3"...
// before ".cfg" keep an earlier backup of the same second. Returns the file.
std::filesystem::path BackupConfiguration(IDeviceLink &link, const TDeviceState &device, std::uint64_t serialNumber,
                                          const std::string &passwordField, const std::filesystem::path &catalogueDir,
                                          const std::filesystem::path &backupDir, const TProgress &progress);

// Where two sets of block images first differ: block and byte offset, from 0.
struct TImageDifference {
    int block = 0;
    int offset = 0;
};
std::optional<TImageDifference> FirstDifference(const std::vector<Bytes> &expected, const std::vector<Bytes> &actual);

// Reads the device back into a fresh model and compares its block images with
// those of the written model (for XML devices the re-encoded block texts, both
// with the written model's header); raises "Проверка записи: блок %d
// отличается со смещения %d." at the first difference.
void VerifyConfiguration(IDeviceLink &link, IConfigModel &written, const TDeviceState &device,
                         const std::string &passwordField, const std::filesystem::path &catalogueDir,
                         const TProgress &progress);

// The same configuration with a value document of its own.
TConfigModelPtr CopyConfiguration(IConfigModel &model, const std::filesystem::path &catalogueDir);

// A parameter set for a run: NAME=VALUE.
struct TOverride {
    std::string name;
    std::string value;
};

// Splits "NAME=VALUE" at the first "="; EConfigError without "=" or name.
TOverride ParseOverride(const std::string &assignment);

// Sets the value text of the parameter NAME names. Binary devices: "item";
// "item[i]" for an item with an array or a mask, i as the value document
// stores it (counting from the array's start); "item[i,j]" with both (array
// index, mask index); "item[i].field" for the items of a struct. XML devices:
// "item" for a simple parameter; "item.field[k]" for a field of the k-th
// element (from 1) of an array parameter. Anything else raises
// "Параметр \"%s\" не найден.".
void ApplyOverride(IConfigModel &model, const TOverride &override);

struct TProductionOptions {
    std::filesystem::path catalogueDir;
    std::string passwordField;
    std::vector<TOverride> overrides;
    std::optional<std::filesystem::path> backupDir;
    std::optional<std::filesystem::path> logFile;
    int maxDevices = 0; // 0: until stopped
    // How long one wait for a report lasts, and so how soon a stop is seen.
    std::chrono::milliseconds reportWait{250};
};

// What became of one device.
struct TDeviceOutcome {
    std::chrono::system_clock::time_point time;
    std::uint64_t serialNumber = 0;
    std::uint16_t hardwareCode = 0;
    std::uint16_t softwareVersion = 0;
    bool success = false;
    std::string message;
    std::filesystem::path backup; // empty: none made
};

// What the production line tells its user; every callback may be empty.
struct TProductionEvents {
    std::function<void()> waiting;                      // waiting for the next device
    std::function<void(const TDeviceReport &)> started; // a new device is being served
    std::function<void(const std::string &)> notice;    // e.g. a device served before came back
    std::function<void(const TDeviceOutcome &)> finished; // after its log line
    // A device written and verified, with the configuration it now holds (for the history).
    std::function<void(IConfigModel &written, const TDeviceReport &)> written;
    TProgress progress;
};

// Serves every newly connected serial number once: checks that the template
// fits it, applies the overrides to a copy of the template, backs the device up
// (with a backup folder), writes, verifies and logs. A serial number served
// before in this run is not served again. Ends when stop is set (looked at
// between devices) or after maxDevices; returns the number of devices served.
// Failures of one device are its outcome; a log that cannot be written ends
// the run with EConfigError.
int RunProduction(IDeviceSession &session, IConfigModel &templateModel, const TProductionOptions &options,
                  const std::atomic<bool> &stop, const TProductionEvents &events);

// The production log: CSV in UTF-8, ";" between fields.
inline constexpr const char *kProductionLogHeader = "время;серийный номер;код устройства;версия;результат;сообщение";
// "2024-05-17 14:03:09;0000ABCD;5;300;успех;Настройки записаны и проверены"
std::string ProductionLogLine(const TDeviceOutcome &outcome);
// Writes the header line when the file is new or empty.
void StartProductionLog(const std::filesystem::path &file);
// Appends the outcome's line, after the header when the file is new.
void AppendProductionLog(const std::filesystem::path &file, const TDeviceOutcome &outcome);

inline constexpr const char *kMsgWrittenAndVerified = "Настройки записаны и проверены";
inline constexpr const char *kResultSuccess = "успех";
inline constexpr const char *kResultFailure = "ошибка";
