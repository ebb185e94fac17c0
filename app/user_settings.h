#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What the program keeps per user: the registry key \.\FORM.INI on Windows, a
// settings file in the user's configuration folder elsewhere.
namespace UserSettings {

// The stored port name; empty when none is stored.
QString PortName();
void SetPortName(const QString &name);
// The stored line speed; none when the port keeps the system's speed.
std::optional<int> BaudRate();
void SetBaudRate(std::optional<int> baudRate);

// The protocol window's stored visibility; none when nothing is stored.
std::optional<bool> ProtocolVisible();
// False when the store cannot be written.
bool SetProtocolVisible(bool visible);

// Where the configuration history is kept and with whom it is shared: on,
// in its default folder, with no remote unless set otherwise.
struct THistorySettings {
    bool enabled = true;
    QString folder; // empty: the default folder
    QString remote;
    QString branch = QStringLiteral("main");
};
THistorySettings History();
void SetHistory(const THistorySettings &settings);

// The settings files opened or saved last, newest first.
QStringList RecentFiles();
void SetRecentFiles(const QStringList &files);
// The folder the file dialogs used last.
QString LastFolder();
void SetLastFolder(const QString &folder);

// Whether a write reads the device back and compares; on unless turned off.
bool VerifyWrites();
void SetVerifyWrites(bool verify);

} // namespace UserSettings
