#include "workflow/workflow.h"
#include "model/tools.h"
#include "tools/cli/commands.h"
#include "tools/cli/device_session.h"

#include <cstdio>
#include <iostream>

namespace {

// An attribute of the chosen description as written, "—" when absent.
std::string attributeText(xml::Node device, const char *name)
{
    return GetAttribute(device, name, "—");
}

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
    const TDeviceIdentity identity = session.Identify();
    if (!identity.present) {
        std::cout << (identity.portBusy ? kMsgPortBusy : kMsgNoLinkWrite) << "\n";
        if (identity.errorCode != 0)
            std::cout << SystemErrorText(identity.errorCode) << "\n";
        return 1;
    }
    std::cout << "SN: " << hex8(identity.serialNumber) << "\n"
              << "SW: " << identity.softwareVersion << "\n"
              << "HW: " << identity.hardwareCode << "\n"
              << "Chunk: " << identity.chunkSize << "\n";
    // Which description the first-match rule picks, so a wrong pick shows before a read.
    const auto match = FindInCatalogue(CatalogueDir(args), identity.hardwareCode, identity.softwareVersion);
    if (!match) {
        std::cout << kMsgNoDescription << "\n";
        return 0;
    }
    std::cout << "Описание: " << match->file.filename().string() << " (hw=" << attributeText(match->device, "hw")
              << " sw_low=" << attributeText(match->device, "sw_low")
              << " sw_high=" << attributeText(match->device, "sw_high")
              << " format=" << attributeText(match->device, "format") << ")\n";
    return 0;
}
