// configurator-cli: the configurator's jobs from a terminal or a script.
#include "link/trace.h"
#include "tools/args.h"
#include "tools/cli/device_session.h"

#include <cstdio>
#include <iostream>

namespace {

using namespace std::chrono_literals;

const char kHelp[] = R"(Usage: configurator-cli COMMAND [OPTIONS]

Commands:
  identify --port P   show the device connected to port P: serial number,
                      software version, hardware code and chunk size

Options of every command:
  --trace             write the link's exchanges to standard error
  --help              show this text

A port name is a device path (/dev/ttyUSB0) or a name under /dev (ttyUSB0);
on Windows a COM port name (COM3).
)";

// Longest wait for one identification: a poll waits 200 ms, then the write and
// the read may take their full time-outs.
constexpr auto kIdentWait = 6s;

std::string hex8(std::uint64_t value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.8llX", static_cast<unsigned long long>(value));
    return text;
}

int identify(const TArgs &args)
{
    const auto port = args.Value("port");
    if (!port)
        throw std::invalid_argument("identify needs --port");
    TDeviceSession session(*port);
    const auto ident = session.NextIdent(kIdentWait);
    if (!ident || !ident->connected) {
        std::cout << "Нет связи с устройством\n";
        if (ident && ident->errorCode != 0)
            std::cout << SystemErrorText(ident->errorCode) << "\n";
        return 1;
    }
    std::cout << "SN: " << hex8(ident->serialNumber) << "\n"
              << "SW: " << ident->softwareVersion << "\n"
              << "HW: " << ident->hardwareCode << "\n"
              << "Chunk: " << ident->chunkSize << "\n";
    return 0;
}

int run(int argc, char **argv)
{
    const std::string command = argc > 1 ? argv[1] : "--help";
    if (command == "--help" || command == "help" || command == "-h") {
        std::cout << kHelp;
        return 0;
    }
    const TArgs args(argc, argv, 2, {{"port"}, {"trace", "help"}});
    if (args.Has("help")) {
        std::cout << kHelp;
        return 0;
    }
    if (args.Has("trace"))
        SetTraceSink([](const std::string &line) { std::cerr << line << "\n"; });
    if (command == "identify")
        return identify(args);
    throw std::invalid_argument("unknown command " + command);
}

} // namespace

int main(int argc, char **argv)
{
    try {
        return run(argc, argv);
    } catch (const std::invalid_argument &e) {
        std::cerr << "configurator-cli: " << e.what() << "\nTry configurator-cli --help.\n";
        return 2;
    } catch (const std::exception &e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
}
