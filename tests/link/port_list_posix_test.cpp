#include "link/port_list_posix.h"

#include <gtest/gtest.h>

#include <fstream>

#include <unistd.h>

namespace fs = std::filesystem;

TEST(PortListPosix, TtysWithADriverAreListedAdaptersFirstWithTheirDescriptions)
{
    // A fake /dev and /sys in a temporary folder.
    const fs::path root = fs::temp_directory_path() / ("port-list-" + std::to_string(::getpid()));
    fs::remove_all(root);
    // A tty whose device is served by driver (a folder under sys/bus), or by none.
    const auto addTty = [&](const std::string &name, const std::string &driver, const std::string &type = "4") {
        const fs::path device = root / "sys/devices" / (name + "-device");
        const fs::path tty = root / "sys/class/tty" / name;
        fs::create_directories(device);
        fs::create_directories(tty);
        fs::create_directories(root / "sys/bus" / driver);
        if (!driver.empty())
            fs::create_directory_symlink(root / "sys/bus" / driver, device / "driver");
        fs::create_directory_symlink(device, tty / "device");
        std::ofstream(tty / "type") << type << "\n";
        std::ofstream(root / "dev" / name);
    };
    fs::create_directories(root / "dev/serial/by-id");
    addTty("ttyS0", "platform/drivers/serial8250");
    addTty("ttyS1", "platform/drivers/serial8250", "0"); // a legacy slot without a UART
    addTty("ttyUSB0", "usb-serial/drivers/ftdi_sio");
    addTty("ttyUSB1", "usb-serial/drivers/ftdi_sio");
    addTty("tty1", "");                                   // a console: no driver
    std::ofstream(root / "sys/devices/ttyUSB1-device/product") << "FT232R USB UART\n";
    fs::create_symlink("../../ttyUSB0", root / "dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0");

    std::vector<std::string> listed;
    for (const TPortEntry &port : ListSerialPortsUnder(root))
        listed.push_back(port.name + " " + port.description);
    EXPECT_EQ(listed, (std::vector<std::string>{"/dev/ttyUSB0 usb-FTDI_FT232R_A1-if00-port0",
                                                "/dev/ttyUSB1 FT232R USB UART", "/dev/ttyS0 serial8250"}));
    // Without sysfs (other POSIX systems) there is nothing to list.
    EXPECT_TRUE(ListSerialPortsUnder(root / "missing").empty());
    fs::remove_all(root);
}
