#pragma once

// The configurator's jobs as the window and the command-line tool share them:
// read and write a device, open and save settings files. Plain C++: the
// window adds the cursor, the status bar and the message boxes.

#include "link/port.h"
#include "model/model.h"

#include <chrono>
#include <filesystem>
#include <functional>
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

// The port as the workflows use it. Callers pause before every request; the
// window keeps repainting meanwhile, the command-line tool just sleeps.
class IDeviceLink {
public:
    virtual ~IDeviceLink() = default;
    virtual std::uint8_t Request(std::uint8_t kind, std::int32_t block, std::int32_t offset, Bytes &data) = 0;
    virtual void Pause(std::chrono::milliseconds duration) = 0;
};

// The port worker as a link, for programs without a window.
class TPortLink : public IDeviceLink {
public:
    explicit TPortLink(TPortThread &port) : m_port(port) {}
    std::uint8_t Request(std::uint8_t kind, std::int32_t block, std::int32_t offset, Bytes &data) override;
    void Pause(std::chrono::milliseconds duration) override;

private:
    TPortThread &m_port;
};

// Progress text ("%d/%d #%d"), shown before every request.
using TProgress = std::function<void(const std::string &text)>;

// Attempts per request, and the pause before each.
inline constexpr int kReadAttempts = 5;
inline constexpr int kWriteAttempts = 50;
inline constexpr std::chrono::milliseconds kRequestPause{50};

// A request tried up to `attempts` times, each after the pause and after
// beforeEach(attempt); true at the first success, with data holding the answer.
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

// Reads the whole configuration of the connected device into a new model.
// Raises the workflow's messages on failure; nothing outside is changed.
TConfigModelPtr ReadConfiguration(IDeviceLink &link, const TDeviceState &device, const std::string &passwordField,
                                  const std::filesystem::path &catalogueDir, const TProgress &progress);

// Writes the model into the connected device. Every block is encoded before
// anything is sent, so a bad value never leaves the device half-configured.
void WriteConfiguration(IDeviceLink &link, IConfigModel *model, const TDeviceState &device,
                        const std::string &passwordField, const TProgress &progress);

// Hands a block image to the model, checking its size first
// ("error: %d bytes read, %d expected").
void DecodeBlock(IConfigModel &model, int block, const Bytes &image);
// The same for every block in block order.
void DecodeBlocks(IConfigModel &model, const std::vector<Bytes> &images);

// Every block image of the model, all encoded before any is used.
std::vector<Bytes> EncodeBlocks(IConfigModel &model);

// Runs an operation on the model (decoding, encoding, filling a tree). When it
// fails and the model's device description has faults, a fault is raised
// instead as EDescriptionError: "<file>: устройство hw=.. sw=..: <fault>" -
// the first naming the item the failure names, else the first that makes
// operations fail. A value that does not fit its bits and a block text that
// does not parse are the data's, not the description's, and pass unchanged.
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
