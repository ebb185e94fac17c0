// device-simulator: a configurable alarm transmitter on a pseudo-terminal.
#include "tools/args.h"
#include "tools/simulator/pty_server.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

namespace {

const char kHelp[] = R"(Usage: device-simulator [OPTIONS]

Answers on a pseudo-terminal as a device of the radio alarm-notification
system. Prints the port path on the first line of its output, then serves
until it is interrupted (Ctrl+C, SIGTERM).

Device:
  --hw N              hardware code (default 5)
  --sw N              software version (default 300)
  --chunk N           data bytes per read answer, 1 to 248 (default 64)
  --serial HEX        serial number (default 12345678)
  --password DIGITS   require this password (up to 6 digits); a wrong one is
                      answered with 1
  --block FILE        one configuration block read from FILE (a binary image
                      or an XML text); repeat in block order
  --block-size N      one zero-filled block of N bytes; mixes with --block
  --key HEX           the code of a key presented while the device reads keys
  --key-after N       the key shows at the N-th poll of a key read (default 3)

Port:
  --link PATH         keep a symbolic link to the port at PATH
  --save DIR          write the block memory to DIR/block<N>.bin on exit and
                      whenever the simulator receives SIGUSR1

Faults (exchanges are counted from 1):
  --drop-every N      no answer to every N-th exchange
  --corrupt-every N   flip one bit of every N-th answer
  --truncate-every N  cut the last byte off every N-th answer
  --trailing-every N  add a byte after every N-th answer
  --late-every N      answer every N-th exchange late ...
  --late-ms MS        ... by MS milliseconds (default 4000)
  --silent-after N    answer nothing after N exchanges
  --spare-identify    never fault identification polls
  --baud N            pace the wire at N baud (10 bits a byte)

  --help              show this text
  --version           show the version
)";

Bytes readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::invalid_argument("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool saveBlocks(const TSimulatedDevice &device, const std::string &dir)
{
    bool ok = true;
    const auto blocks = device.Blocks();
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const auto path = std::filesystem::path(dir) / ("block" + std::to_string(i) + ".bin");
        const auto temp = std::filesystem::path(path.string() + ".tmp");
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(blocks[i].data()), static_cast<std::streamsize>(blocks[i].size()));
        out.close();
        std::error_code ec;
        if (!out || (std::filesystem::rename(temp, path, ec), ec)) {
            std::cerr << "device-simulator: cannot write " << path.string() << "\n";
            ok = false;
        }
    }
    return ok;
}

int run(int argc, char **argv)
{
    const TArgs args(argc, argv, 1,
                     {{"hw", "sw", "chunk", "serial", "password", "block", "block-size", "key", "key-after", "link",
                       "save", "drop-every", "corrupt-every", "truncate-every", "trailing-every", "late-every",
                       "late-ms", "silent-after", "baud"},
                      {"help", "version", "spare-identify"}});
    if (args.Has("help")) {
        std::cout << kHelp;
        return 0;
    }
    if (args.Has("version")) {
        std::cout << "device-simulator " CONFIGURATOR_VERSION "\n";
        return 0;
    }
    if (!args.Positional().empty())
        throw std::invalid_argument("unexpected argument " + args.Positional().front());

    TDeviceConfig config;
    config.hardwareCode = static_cast<std::uint16_t>(ParseInteger(args.Value("hw", "5"), 0, 65535, "--hw"));
    config.softwareVersion = static_cast<std::uint16_t>(ParseInteger(args.Value("sw", "300"), 0, 65535, "--sw"));
    config.chunkSize = static_cast<std::uint16_t>(ParseInteger(args.Value("chunk", "64"), 1, 248, "--chunk"));
    config.serialNumber = ParseHex(args.Value("serial", "12345678"), "--serial");
    if (const auto password = args.Value("password"))
        config.password = PasswordOfDigits(*password);
    for (const auto &[name, value] : args.Ordered()) {
        if (name == "block")
            config.blocks.push_back(readFile(value));
        else if (name == "block-size")
            config.blocks.emplace_back(static_cast<std::size_t>(ParseInteger(value, 0, 65535, "--block-size")), 0);
    }
    if (const auto key = args.Value("key")) {
        if (key->size() % 2 != 0)
            throw std::invalid_argument("--key: an even number of hexadecimal digits expected");
        for (std::size_t i = 0; i < key->size(); i += 2)
            config.keyCode.push_back(static_cast<std::uint8_t>(ParseHex(key->substr(i, 2), "--key")));
    }
    config.keyAfterPolls = static_cast<int>(ParseInteger(args.Value("key-after", "3"), 1, 1000000, "--key-after"));

    TFaultPlan plan;
    auto count = [&](const char *name) { return static_cast<int>(ParseInteger(args.Value(name, "0"), 0, 1 << 30, name)); };
    plan.dropEvery = count("drop-every");
    plan.corruptEvery = count("corrupt-every");
    plan.truncateEvery = count("truncate-every");
    plan.trailingEvery = count("trailing-every");
    plan.lateEvery = count("late-every");
    plan.lateBy = std::chrono::milliseconds(ParseInteger(args.Value("late-ms", "4000"), 0, 600000, "--late-ms"));
    plan.silentAfter = count("silent-after");
    plan.baud = count("baud");
    plan.spareIdentify = args.Has("spare-identify");

    // Signals are taken synchronously by this thread only.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1})
        sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    TSimulatedDevice device(config);
    TPtyServer server(device, plan);
    std::string error;
    if (!server.Start(&error) || (args.Has("link") && !server.SetLink(*args.Value("link"), &error))) {
        std::cerr << "device-simulator: " << error << "\n";
        return 1;
    }
    std::cout << (args.Has("link") ? *args.Value("link") : server.PortPath()) << std::endl;
    std::cerr << "device-simulator: serving on " << server.PortPath() << "\n";

    const auto saveDir = args.Value("save");
    for (;;) {
        int signal = 0;
        sigwait(&signals, &signal);
        if (signal == SIGUSR1) {
            if (saveDir)
                saveBlocks(device, *saveDir);
            continue;
        }
        break;
    }
    server.Stop();
    if (saveDir && !saveBlocks(device, *saveDir))
        return 1;
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception &e) {
        std::cerr << "device-simulator: " << e.what() << "\nTry --help.\n";
        return 2;
    }
}
