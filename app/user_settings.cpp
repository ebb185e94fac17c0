#include "app/user_settings.h"

#include <QSettings>

#include <memory>

namespace {

// The key is a backslash and the placement file's name, as the original kept it.
std::unique_ptr<QSettings> store()
{
#ifdef _WIN32
    return std::make_unique<QSettings>(QStringLiteral("HKEY_CURRENT_USER\\.\\FORM.INI"), QSettings::NativeFormat);
#else
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("configurator"),
                                       QStringLiteral("configurator"));
#endif
}

const QString kPort = QStringLiteral("Port");
const QString kBaudRate = QStringLiteral("BaudRate");
const QString kProtocolVisible = QStringLiteral("frmProtocol/Visible");
const QString kVerifyWrites = QStringLiteral("VerifyWrites");
const QString kRecentFiles = QStringLiteral("RecentFiles");
const QString kLastFolder = QStringLiteral("LastFolder");
const QString kHistoryEnabled = QStringLiteral("History/Enabled");
const QString kHistoryFolder = QStringLiteral("History/Folder");
const QString kHistoryRemote = QStringLiteral("History/Remote");
const QString kHistoryBranch = QStringLiteral("History/Branch");

} // namespace

namespace UserSettings {

QString PortName()
{
    return store()->value(kPort).toString();
}

void SetPortName(const QString &name)
{
    store()->setValue(kPort, name);
}

std::optional<int> BaudRate()
{
    bool number = false;
    const int baudRate = store()->value(kBaudRate).toInt(&number);
    if (!number || baudRate <= 0)
        return std::nullopt;
    return baudRate;
}

void SetBaudRate(std::optional<int> baudRate)
{
    if (baudRate)
        store()->setValue(kBaudRate, *baudRate);
    else
        store()->remove(kBaudRate);
}

std::optional<bool> ProtocolVisible()
{
    const auto settings = store();
    if (!settings->contains(kProtocolVisible))
        return std::nullopt;
    return settings->value(kProtocolVisible).toInt() != 0;
}

bool SetProtocolVisible(bool visible)
{
    const auto settings = store();
    settings->setValue(kProtocolVisible, visible ? 1 : 0);
    settings->sync();
    return settings->status() == QSettings::NoError;
}

THistorySettings History()
{
    const auto settings = store();
    THistorySettings history;
    history.enabled = settings->value(kHistoryEnabled, true).toBool();
    history.folder = settings->value(kHistoryFolder).toString();
    history.remote = settings->value(kHistoryRemote).toString();
    history.branch = settings->value(kHistoryBranch, history.branch).toString();
    return history;
}

void SetHistory(const THistorySettings &history)
{
    const auto settings = store();
    settings->setValue(kHistoryEnabled, history.enabled);
    settings->setValue(kHistoryFolder, history.folder);
    settings->setValue(kHistoryRemote, history.remote);
    settings->setValue(kHistoryBranch, history.branch);
}

QStringList RecentFiles()
{
    return store()->value(kRecentFiles).toStringList();
}

void SetRecentFiles(const QStringList &files)
{
    store()->setValue(kRecentFiles, files);
}

QString LastFolder()
{
    return store()->value(kLastFolder).toString();
}

void SetLastFolder(const QString &folder)
{
    store()->setValue(kLastFolder, folder);
}

bool VerifyWrites()
{
    return store()->value(kVerifyWrites, true).toBool();
}

void SetVerifyWrites(bool verify)
{
    store()->setValue(kVerifyWrites, verify);
}

} // namespace UserSettings
