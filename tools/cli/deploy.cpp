// deploy: one settings file written into device after device on a production line.
#include "workflow/production.h"
#include "model/errors.h"
#include "workflow/workflow.h"
#include "tools/cli/commands.h"
#include "tools/cli/production_session.h"
#include "tools/cli/progress_line.h"
#include "tools/cli/stop_signals.h"

#include <climits>
#include <iostream>

int CmdDeploy(const TArgs &args)
{
    const auto port = args.Value("port");
    if (!port)
        throw std::invalid_argument("deploy needs --port");
    if (args.Positional().size() != 1)
        throw std::invalid_argument("deploy needs one settings file, the template");

    TProductionOptions options;
    options.catalogueDir = CatalogueDir(args);
    options.passwordField = args.Value("password", "");
    for (const std::string &assignment : args.Values("set")) {
        try {
            options.overrides.push_back(ParseOverride(assignment));
        } catch (const EError &e) {
            throw std::invalid_argument(e.what());
        }
    }
    if (const auto dir = args.Value("backup"))
        options.backupDir = PathFromUtf8(*dir);
    if (const auto log = args.Value("log"))
        options.logFile = PathFromUtf8(*log);
    if (const auto count = args.Value("max-devices"))
        options.maxDevices = static_cast<int>(ParseInteger(*count, 1, INT_MAX, "--max-devices"));

    const TConfigModelPtr templateModel = LoadSettingsFile(args.Positional()[0], options.catalogueDir);
    {
        // Nobody watches the line value by value: what the devices would get altered stops it before the first.
        // A --set naming no parameter fails on each device, where the log records it.
        const TConfigModelPtr first = CopyConfiguration(*templateModel, options.catalogueDir);
        bool applied = true;
        for (const TOverride &override : options.overrides) {
            try {
                ApplyOverride(*first, override);
            } catch (const EError &) {
                applied = false;
            }
        }
        if (applied)
            WarnAlteredValues(*first, !args.Has("allow-altered"), "--allow-altered разрешает запись");
    }
    TStopSignals signals;
    TPortSession session(*port);
    TProgressLine progress;
    TProductionEvents events;
    events.progress = progress.Callback();
    events.waiting = [] { std::cout << "Ожидание устройства..." << std::endl; };
    events.started = [&](const TDeviceReport &report) {
        std::cout << SerialText(report.serialNumber) << ": код устройства " << report.state.hardwareCode
                  << ", версия " << report.state.softwareVersion << std::endl;
    };
    events.notice = [&](const std::string &text) { std::cout << text << std::endl; };
    events.finished = [&](const TDeviceOutcome &outcome) {
        progress.Clear();
        const std::string serial = SerialText(outcome.serialNumber);
        if (!outcome.backup.empty()) {
            const std::u8string shown = outcome.backup.u8string();
            std::cout << serial << ": копия настроек: " << std::string(shown.begin(), shown.end()) << "\n";
        }
        std::cout << serial << ": " << (outcome.success ? kResultSuccess : kResultFailure) << ": " << outcome.message
                  << std::endl;
        // The bell calls the technician back to the bench.
        std::cerr << '\a' << std::flush;
    };
    // Each device goes into the history as it is served; the shared history hears of them at the end.
    THistoryOptions history = HistoryOptions(args);
    history.pushAfterRecord = false;
    events.written = [&](IConfigModel &written, const TDeviceReport &report) {
        if (const auto warning = RecordDeviceConfiguration(history, written, THistoryAction::Deploy,
                                                           SerialText(report.serialNumber),
                                                           report.state.softwareVersion))
            std::cout << SerialText(report.serialNumber) << ": " << *warning << std::endl;
    };
    const int served = RunProduction(session, *templateModel, options, signals.Flag(), events);
    if (const auto warning = SyncHistory(history))
        std::cout << *warning << "\n";
    progress.Clear();
    std::cout << "Обработано устройств: " << served << "\n";
    return 0;
}
