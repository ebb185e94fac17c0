// The device commands: read and write.
#include "app/workflow.h"
#include "model/errors.h"
#include "tools/cli/commands.h"
#include "tools/cli/device_session.h"

#include <cstdio>
#include <iostream>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr auto kIdentWait = 6s;

// The progress text on one updating line, where someone watches it.
class TProgressLine {
public:
    TProgressLine() : m_shown(::isatty(STDERR_FILENO)) {}
    ~TProgressLine()
    {
        if (m_shown && m_width > 0)
            std::cerr << '\r' << std::string(m_width, ' ') << '\r' << std::flush;
    }
    TProgress Callback()
    {
        return [this](const std::string &text) {
            if (!m_shown)
                return;
            std::cerr << '\r' << text << std::string(m_width > text.size() ? m_width - text.size() : 0, ' ') << std::flush;
            m_width = text.size();
        };
    }

private:
    bool m_shown;
    std::size_t m_width = 0;
};

// The connected device as the window would know it from its status bar.
TDeviceState connectedDevice(TDeviceSession &session)
{
    const auto ident = session.NextIdent(kIdentWait);
    TDeviceState state;
    if (ident && ident->connected) {
        state.connected = true;
        state.chunkSize = ident->chunkSize;
        state.hardwareCode = ident->hardwareCode;
        state.softwareVersion = ident->softwareVersion;
    }
    return state;
}

std::string requiredPort(const TArgs &args, const char *command)
{
    const auto port = args.Value("port");
    if (!port)
        throw std::invalid_argument(std::string(command) + " needs --port");
    return *port;
}

} // namespace

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
    const TDeviceState device = connectedDevice(session);
    TPortLink link(session.Port());
    {
        TProgressLine progress;
        WriteConfiguration(link, model.get(), device, args.Value("password", ""), progress.Callback());
    }
    std::cout << kMsgWritten << "\n";
    return 0;
}
