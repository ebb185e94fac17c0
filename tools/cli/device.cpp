// The device commands: read and write.
#include "workflow/production.h"
#include "workflow/workflow.h"
#include "model/errors.h"
#include "tools/cli/commands.h"
#include "tools/cli/device_session.h"
#include "tools/cli/progress_line.h"
#include "tools/cli/stop_signals.h"

#include <cstdio>
#include <iostream>

namespace {

// The connected device, asked at once; no device ends the command with the reason.
TDeviceIdentity connectedIdentity(TDeviceSession &session)
{
    const TDeviceIdentity identity = session.Identify();
    if (!identity.present)
        throw EConfigError(NoDeviceText(identity));
    return identity;
}

// The history takes the configuration once the device work is done; its failure is only a warning.
void record(const TArgs &args, IConfigModel &model, THistoryAction action, const TDeviceIdentity &identity)
{
    if (const auto warning = RecordDeviceConfiguration(HistoryOptions(args), model, action,
                                                       SerialText(identity.serialNumber), identity.softwareVersion))
        std::cerr << *warning << "\n";
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
    TStopSignals signals;
    TDeviceSession session(port);
    const TDeviceIdentity identity = connectedIdentity(session);
    const TDeviceState device = StateOf(identity);
    TPortLink link(session.Port(), &signals.Flag());
    link.Pin(identity);
    TProgressLine progress;
    return ReadConfiguration(link, device, args.Value("password", ""), CatalogueDir(args), progress.Callback());
}

int CmdRead(const TArgs &args)
{
    const std::string port = requiredPort(args, "read");
    const auto output = args.Value("output");
    if (!output)
        throw std::invalid_argument("read needs -o FILE.cfg");
    TStopSignals signals;
    TDeviceSession session(port);
    const TDeviceIdentity identity = connectedIdentity(session);
    const TDeviceState device = StateOf(identity);
    TPortLink link(session.Port(), &signals.Flag());
    link.Pin(identity);
    TConfigModelPtr model;
    {
        TProgressLine progress;
        model = ReadConfiguration(link, device, args.Value("password", ""), CatalogueDir(args), progress.Callback());
    }
    model->SaveToFile(*output);
    record(args, *model, THistoryAction::Read, identity);
    return 0;
}

int CmdWrite(const TArgs &args)
{
    const std::string port = requiredPort(args, "write");
    if (args.Positional().size() != 1)
        throw std::invalid_argument("write needs one settings file");
    const TConfigModelPtr model = LoadSettingsFile(args.Positional()[0], CatalogueDir(args));
    WarnAlteredValues(*model, args.Has("strict"), "--strict");
    TStopSignals signals;
    TDeviceSession session(port);
    const TDeviceIdentity ident = connectedIdentity(session);
    const TDeviceState device = StateOf(ident);
    TPortLink link(session.Port(), &signals.Flag());
    link.Pin(ident);
    const std::string password = args.Value("password", "");
    if (const auto backupDir = args.Value("backup")) {
        // Nothing is read for a backup that the write would refuse anyway.
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
    if (args.Has("verify")) {
        try {
            TProgressLine progress;
            VerifyConfiguration(link, *model, device, password, CatalogueDir(args), progress.Callback());
        } catch (const EJobCancelled &) {
            throw EJobCancelled(kMsgVerifyCancelled);
        }
    }
    std::cout << (args.Has("verify") ? kMsgWrittenAndVerified : kMsgWritten) << "\n";
    record(args, *model, THistoryAction::Write, ident);
    return 0;
}
