// Serial ports on Linux, from sysfs: a tty is a port when a driver is bound to
// its device. Other POSIX systems have no /sys and list none.
#include "link/port_list_posix.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <system_error>
#include <tuple>

namespace fs = std::filesystem;

namespace {

std::string firstLine(const fs::path &file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

// tty name -> by-id link name.
std::map<std::string, std::string> byIdNames(const fs::path &root)
{
    std::map<std::string, std::string> names;
    std::error_code error;
    const fs::path folder = root / "dev/serial/by-id";
    for (const auto &link : fs::directory_iterator(folder, error)) {
        const fs::path target = fs::read_symlink(link.path(), error);
        if (error)
            continue;
        names[(folder / target).lexically_normal().filename().string()] = link.path().filename().string();
    }
    return names;
}

// The USB product string of the device (interface or its parent), if there is one.
std::string usbProduct(const fs::path &device)
{
    std::error_code error;
    fs::path folder = fs::canonical(device, error);
    for (int level = 0; !error && level < 3 && folder.has_relative_path(); ++level, folder = folder.parent_path()) {
        if (fs::exists(folder / "product", error))
            return firstLine(folder / "product");
    }
    return {};
}

// The driver that serves the device. Newer kernels bind every UART to the generic
// serial-base "port" driver; the real one sits on a device above it.
std::string driverName(const fs::path &device)
{
    std::error_code error;
    std::string name;
    fs::path folder = fs::canonical(device, error);
    for (int level = 0; !error && level < 3 && folder.has_relative_path(); ++level, folder = folder.parent_path()) {
        std::error_code missing;
        const fs::path driver = fs::canonical(folder / "driver", missing);
        if (missing)
            continue;
        name = driver.filename().string();
        if (driver.parent_path().parent_path().filename() != "serial-base")
            break;
    }
    return name;
}

} // namespace

std::vector<TPortEntry> ListSerialPortsUnder(const fs::path &root)
{
    const auto byId = byIdNames(root);
    // Rank 0: adapters (by-id link or USB product), 1: the rest.
    std::vector<std::tuple<int, std::string, TPortEntry>> found;
    std::error_code error;
    for (const auto &tty : fs::directory_iterator(root / "sys/class/tty", error)) {
        const std::string name = tty.path().filename().string();
        std::error_code missing;
        const fs::path driver = tty.path() / "device/driver";
        if (!fs::exists(driver, missing) || !fs::exists(root / "dev" / name, missing))
            continue;
        // The kernel makes a ttyS for every legacy slot; type 0 means no UART behind it.
        if (name.rfind("ttyS", 0) == 0 && firstLine(tty.path() / "type") == "0")
            continue;
        TPortEntry entry{"/dev/" + name, {}};
        int rank = 0;
        if (const auto link = byId.find(name); link != byId.end())
            entry.description = link->second;
        else
            entry.description = usbProduct(tty.path() / "device");
        if (entry.description.empty()) {
            entry.description = driverName(tty.path() / "device");
            rank = 1;
        }
        found.emplace_back(rank, name, std::move(entry));
    }
    std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) {
        return std::tie(std::get<0>(a), std::get<1>(a)) < std::tie(std::get<0>(b), std::get<1>(b));
    });
    std::vector<TPortEntry> ports;
    for (auto &item : found)
        ports.push_back(std::move(std::get<2>(item)));
    return ports;
}

std::vector<TPortEntry> ListSerialPorts()
{
    return ListSerialPortsUnder("/");
}
