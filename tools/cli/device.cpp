// The device commands: read and write.
#include "app/production.h"
#include "app/workflow.h"
#include "model/errors.h"
#include "tools/cli/commands.h"
#include "tools/cli/device_session.h"
#include "tools/cli/progress_line.h"

#include <cstdio>
#include <iostream>

namespace {

using namespace std::chrono_literals;

constexpr auto kIdentWait = 6s;

// The connected device as the window would know it from its status bar.
TDeviceIdent connectedIdent(TDeviceSession &session)
{
    const auto ident = session.NextIdent(kIdentWait);
    return ident && ident->connected ? *ident : TDeviceIdent{};
}

TDeviceState stateOf(const TDeviceIdent &ident)
{
    TDeviceState state;
    if (ident.connected) {
        state.connected = true;
        state.chunkSize = ident.chunkSize;
        state.hardwareCode = ident.hardwareCode;
        state.softwareVersion = ident.softwareVersion;
    }
    return state;
}

TDeviceState connectedDevice(TDeviceSession &session)
{
    return stateOf(connectedIdent(session));
}

std::string requiredPort(const TArgs &args, const char *command)
{
    const auto port = args.Value("port");
    if (!port)
        throw std::invalid_argument(std::string(command) + " needs --port");
    return *port;
}

} // namespace

TConfigModelPtr ReadFromPort(const std::string &port, const TArgs &args)
{
    TDeviceSession session(port);
    const TDeviceState device = connectedDevice(session);
    TPortLink link(session.Port());
    TProgressLine progress;
    return ReadConfiguration(link, device, args.Value("password", ""), CatalogueDir(args), progress.Callback());
}

int CmdRead(const TArgs &args)
{
    const std::string port = requiredPort(args, "read");
    const auto output = args.Value("output");
    if (!output)
        throw std::invalid_argument("read needs -o FILE.cfg");
    TDeviceSession session(port);
    const TDeviceState device = connectedDevice(session);
    TPortLink link(session.Port());
    TConfigModelPtr model;
    {
        TProgressLine progress;
        model = ReadConfiguration(link, device, args.Value("password", ""), CatalogueDir(args), progress.Callback());
    }
    model->SaveToFile(*output);
    return 0;
}

int CmdWrite(const TArgs &args)
{
    const std::string port = requiredPort(args, "write");
    if (args.Positional().size() != 1)
        throw std::invalid_argument("write needs one settings file");
    const TConfigModelPtr model = LoadSettingsFile(args.Positional()[0], CatalogueDir(args));
    TDeviceSession session(port);
    const TDeviceIdent ident = connectedIdent(session);
    const TDeviceState device = stateOf(ident);
    TPortLink link(session.Port());
    const std::string password = args.Value("password", "");
    if (const auto backupDir = args.Value("backup")) {
        // Nothing is read for a backup that the write would refuse anyway.
        if (!device.connected)
            throw EConfigError(kMsgNotConnected);
        if (!model->IsCompatible(device.hardwareCode, device.softwareVersion))
            throw EConfigError(kMsgIncompatible);
        std::filesystem::path file;
        {
            TProgressLine progress;
            file = BackupConfiguration(link, device, ident.serialNumber, password, CatalogueDir(args),
                                       PathFromUtf8(*backupDir), progress.Callback());
        }
        const std::u8string shown = file.u8string();
        std::cout << "Копия настроек: " << std::string(shown.begin(), shown.end()) << "\n";
    }
    {
        TProgressLine progress;
        WriteConfiguration(link, model.get(), device, password, progress.Callback());
    }
    if (!args.Has("verify")) {
        std::cout << kMsgWritten << "\n";
        return 0;
    }
    {
        TProgressLine progress;
        VerifyConfiguration(link, *model, device, password, CatalogueDir(args), progress.Callback());
    }
    std::cout << kMsgWrittenAndVerified << "\n";
    return 0;
}
