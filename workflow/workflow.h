#pragma once

// The configurator's jobs as the window and the command-line tool share them:
// read and write a device, open and save settings files. Plain C++: the
// window adds the cursor, the status bar and the message boxes.

#include "link/port.h"
#include "model/errors.h"
#include "model/model.h"
#include "model/tools.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Makes CreateConfigModel know both storage formats.
void RegisterConfigModels();

// What the last identification said about the connected device.
struct TDeviceState {
    bool connected = false;
    std::uint16_t chunkSize = 0;
    std::uint16_t hardwareCode = 0;
    std::uint16_t softwareVersion = 0;
};

// The state a job works with, from one identification.
TDeviceState StateOf(const TDeviceIdentity &identity);
// Why no device is there to work with: "Порт занят другой программой", or
// "Нет связи с устройством" with the system's reason, if any.
std::string NoDeviceText(const TDeviceIdentity &identity);

// The port as the workflows use it. Callers pause before every request and
// ask whether the job is to end before each: a cancelled job ends at a request
// boundary, never inside an exchange.
class IDeviceLink {
public:
    virtual ~IDeviceLink() = default;
    virtual std::uint8_t Request(std::uint8_t kind, std::int32_t block, std::int32_t offset, Bytes &data) = 0;
    virtual void Pause(std::chrono::milliseconds duration) = 0;
    virtual bool CancelRequested() const { return false; }
    // The device the job started with: from now on the link makes sure that
    // it still talks to that one (see TPortLink).
    virtual void Pin(const TDeviceIdentity &) {}
    // Asks the device who it is and raises EDeviceSwapped when another one
    // answers (called after the password, before the first block).
    virtual void ConfirmDevice() {}
};

// Another device answers where the job's device did: after an unplug, or a
// device swapped behind the same port name.
class EDeviceSwapped : public EConfigError {
public:
    using EConfigError::EConfigError;
    const char *ClassName() const override { return "EDeviceSwapped"; }
};

// The port worker as a link; cancelled when the flag, if any, is set. Its
// pauses end early once the flag is set. Once pinned to a device, every
// failed request is followed by an identification, and another device
// answering ends the job with EDeviceSwapped.
class TPortLink : public IDeviceLink {
public:
    explicit TPortLink(TPortThread &port, const std::atomic<bool> *cancel = nullptr) : m_port(port), m_cancel(cancel) {}
    std::uint8_t Request(std::uint8_t kind, std::int32_t block, std::int32_t offset, Bytes &data) override;
    void Pause(std::chrono::milliseconds duration) override;
    bool CancelRequested() const override { return m_cancel && m_cancel->load(); }
    void Pin(const TDeviceIdentity &identity) override { m_pinned = identity; }
    void ConfirmDevice() override;

private:
    TPortThread &m_port;
    const std::atomic<bool> *m_cancel;
    std::optional<TDeviceIdentity> m_pinned;
};

// A serial number as the status bar and the file names show it ("%.8llX").
std::string SerialText(std::uint64_t serialNumber);

// How far a job has come.
struct TJobProgress {
    std::string status; // "%d/%d #%d", for the status bar
    std::string text;   // "Чтение: блок 2 из 5", "Повтор 4 из 50", for a progress dialog
    int done = 0;       // of total, over the whole job
    int total = 0;
};

// Called before every request of a job.
using TProgress = std::function<void(const TJobProgress &progress)>;

// A job that ended at a request boundary because its user asked; what() says
// what became of the device.
class EJobCancelled : public EConfigError {
public:
    using EConfigError::EConfigError;
    const char *ClassName() const override { return "EJobCancelled"; }
};

// A write that stopped, cancelled or failed, after its first block request:
// the device now holds part of the new configuration.
class EWriteInterrupted : public EConfigError {
public:
    using EConfigError::EConfigError;
    const char *ClassName() const override { return "EWriteInterrupted"; }
};

// Attempts per request, and the pause before each.
inline constexpr int kReadAttempts = 5;
inline constexpr int kWriteAttempts = 50;
inline constexpr std::chrono::milliseconds kRequestPause{50};

// A request tried up to `attempts` times, each after the pause and after
// beforeEach(attempt); true at the first success, with data holding the answer.
// Raises EJobCancelled (with an empty text) when the link is cancelled before an attempt.
bool RequestWithRetries(IDeviceLink &link, int attempts, std::uint8_t kind, std::int32_t block, std::int32_t offset,
                        Bytes &data, const std::function<void(int attempt)> &beforeEach = nullptr);

// The text a key code read by the device becomes in an item of this type:
// hexadecimal digit pairs for "hex_array", decimal numbers for "dec_array",
// nothing for any other type.
std::string KeyCodeText(const std::string &type, const Bytes &code);

// Three password bytes from the password field: hexadecimal digit pairs, a
// lone last digit in the high half of its byte. A character that is not a
// hexadecimal digit raises the standard conversion error.
Bytes PasswordBytes(const std::string &field);

// Logs in with the password field: up to 5 attempts; "Нет связи с
// устройством." when all fail, "Введен не верный пароль" when refused.
void SendPassword(IDeviceLink &link, const std::string &passwordField);

// Reads the whole configuration of the connected device into a new model;
// images, if given, receive the block images as the device sent them.
// Raises the workflow's messages on failure ("Чтение прервано." when
// cancelled); nothing outside is changed.
TConfigModelPtr ReadConfiguration(IDeviceLink &link, const TDeviceState &device, const std::string &passwordField,
                                  const std::filesystem::path &catalogueDir, const TProgress &progress,
                                  std::vector<Bytes> *images = nullptr);

// Writes the model into the connected device. Every block is encoded before
// anything is sent, so a bad value never leaves the device half-configured.
// Cancelled before its first block request: EJobCancelled "Запись отменена.
// Устройство не изменено."; stopped later, by a cancel or a failure:
// EWriteInterrupted, the cause followed by kMsgWriteInterrupted.
void WriteConfiguration(IDeviceLink &link, IConfigModel *model, const TDeviceState &device,
                        const std::string &passwordField, const TProgress &progress);
// What a write sends, taken from the model before anything is sent, so that
// sending needs nothing more of the model (the window plans on its own thread
// and sends on a worker).
struct TWritePlan {
    std::vector<Bytes> images;
    std::vector<int> sizes;           // BlockSize of each block, for the progress text
    std::vector<std::string> captions; // of each block, for messages
    bool needsPassword = false;
};
// Encodes every block; raises the model's message for a value that does not fit.
TWritePlan PlanWrite(IConfigModel &model);
// Sends a plan: the password step when asked for, then every block in chunks.
// Its failures are those of WriteConfiguration.
void SendPlan(IDeviceLink &link, const TWritePlan &plan, const TDeviceState &device, const std::string &passwordField,
              const TProgress &progress);

// What became of a key wait.
struct TKeyWaitResult {
    std::optional<Bytes> key; // none: no key within the wait
    bool stopFailed = false;  // the key was read, but switching the mode off failed
};

// The key wait: switches the device into key-reading mode, polls it once a
// second (ticks 1 to 9; progress one per tick, of 10) and switches the mode
// off once a key is read. No key within the ten ticks: no key, and the device
// is left in key-reading mode. Cancelled: the mode is switched off and
// EJobCancelled (empty text) raised. "Нет связи с устройством." when the
// start or a poll fails 5 times, or the stop after a cancel.
TKeyWaitResult WaitForKey(IDeviceLink &link, const TProgress &progress,
                          std::chrono::milliseconds tick = std::chrono::seconds(1));

// Hands a block image to the model, checking its size first
// ("error: %d bytes read, %d expected").
void DecodeBlock(IConfigModel &model, int block, const Bytes &image);
// The same for every block in block order.
void DecodeBlocks(IConfigModel &model, const std::vector<Bytes> &images);

// Every block image of the model, all encoded before any is used.
std::vector<Bytes> EncodeBlocks(IConfigModel &model);

// The values of a configuration that their descriptions would not keep as
// they stand, as the window lists them before a write. A configuration whose
// tree cannot be built has none here: its write fails with its own message.
std::vector<TValueProblem> ValueProblems(IConfigModel &model);

// Runs an operation on the model (decoding, encoding, filling a tree). When it
// fails with a failure only a description can cause (a description error, a
// division by zero, an unreadable attribute of an element, a name that cannot
// be an element's) and the description has a fault behind it, that fault is
// raised instead as EDescriptionError: "<file>: устройство hw=.. sw=..:
// <fault>". Every other failure - a value typed or stored, a block of the
// wrong size, a text that does not parse - keeps its own message.
void ExplainDescriptionFailure(IConfigModel &model, const std::function<void()> &operation);

// What the window and the tool say.
inline constexpr const char *kMsgNotConnected = "Устройство не подключено";
inline constexpr const char *kMsgNoDescription = "Не найдено описание устройства.";
inline constexpr const char *kMsgNoLink = "Нет связи с устройством.";
inline constexpr const char *kMsgNoLinkWrite = "Нет связи с устройством";
inline constexpr const char *kMsgWrongPassword = "Введен не верный пароль";
inline constexpr const char *kMsgNoSettings = "Настройки не загружены.";
inline constexpr const char *kMsgIncompatible = "Версия устройства не совпадает с версией настроек.";
inline constexpr const char *kMsgWritten = "Настройки записаны";
inline constexpr const char *kMsgReadCancelled = "Чтение прервано.";
inline constexpr const char *kMsgWriteCancelled = "Запись отменена. Устройство не изменено.";
inline constexpr const char *kMsgWriteInterrupted =
    "Запись прервана: устройство содержит часть новых настроек. Повторите запись.";
inline constexpr const char *kMsgNoKey = "Ключ не считан.";
inline constexpr const char *kMsgVerifyCancelled = "Настройки записаны, проверка прервана.";
inline constexpr const char *kMsgPortBusy = "Порт занят другой программой";
inline constexpr const char *kMsgOtherDevice = "Подключено другое устройство (SN %s). Операция прервана.";

// Block offsets travel as 16 bits: the last offset a request can name.
inline constexpr std::size_t kLastBlockOffset = 0xFFFF;
