// Serial ports on Windows: the COM ports the system lists under
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (value: kernel device name, data: COM name).
#include "link/port_list.h"

#include <algorithm>
#include <cstdlib>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

// COM3 before COM12.
int portNumber(const std::string &name)
{
    return name.size() > 3 ? std::atoi(name.c_str() + 3) : 0;
}

} // namespace

std::vector<TPortEntry> ListSerialPorts()
{
    std::vector<TPortEntry> ports;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD index = 0;; ++index) {
        char valueName[256];
        DWORD valueNameSize = sizeof valueName;
        char data[256];
        DWORD dataSize = sizeof data - 1;
        DWORD type = 0;
        const LONG result = ::RegEnumValueA(key, index, valueName, &valueNameSize, nullptr, &type,
                                            reinterpret_cast<BYTE *>(data), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || type != REG_SZ)
            continue;
        data[dataSize] = '\0';
        // The kernel's name (\Device\Serial0, \Device\VCP0) says which driver serves it.
        std::string description(valueName, valueNameSize);
        if (const auto slash = description.find_last_of('\\'); slash != std::string::npos)
            description.erase(0, slash + 1);
        ports.push_back({data, description});
    }
    ::RegCloseKey(key);
    std::sort(ports.begin(), ports.end(),
              [](const TPortEntry &a, const TPortEntry &b) { return portNumber(a.name) < portNumber(b.name); });
    return ports;
}
