#include "tools/cli/commands.h"
#include "tools/cli/device_session.h"

#include <cstdio>
#include <iostream>

namespace {

using namespace std::chrono_literals;

// Longest wait for one identification: a poll waits 200 ms, then the write and
// the read may take their full time-outs.
constexpr auto kIdentWait = 6s;

std::string hex8(std::uint64_t value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.8llX", static_cast<unsigned long long>(value));
    return text;
}

} // namespace

int CmdIdentify(const TArgs &args)
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
