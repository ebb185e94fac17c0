#include "link/port_list_posix.h"

#include <gtest/gtest.h>

#include <fstream>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A fake /dev and /sys in a temporary folder.
class FakeSystem : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto *test = ::testing::UnitTest::GetInstance()->current_test_info();
        root = fs::temp_directory_path() / ("port-list-" + std::to_string(::getpid()) + "-" + test->name());
        fs::remove_all(root);
        fs::create_directories(root / "dev/serial/by-id");
        fs::create_directories(root / "sys/class/tty");
        fs::create_directories(root / "sys/bus/usb-serial/drivers/ftdi_sio");
        fs::create_directories(root / "sys/bus/platform/drivers/serial8250");
    }
    void TearDown() override { fs::remove_all(root); }

    // A tty whose device is served by driver (a folder under sys/bus), or by none.
    void AddTty(const std::string &name, const std::string &driver, const std::string &type = "4")
    {
        const fs::path device = root / "sys/devices" / (name + "-device");
        fs::create_directories(device);
        if (!driver.empty())
            fs::create_directory_symlink(root / "sys/bus" / driver, device / "driver");
        const fs::path tty = root / "sys/class/tty" / name;
        fs::create_directories(tty);
        fs::create_directory_symlink(device, tty / "device");
        std::ofstream(tty / "type") << type << "\n";
        std::ofstream(root / "dev" / name);
    }

    fs::path root;
};

} // namespace

TEST_F(FakeSystem, TtysWithADriverAreListedAdaptersFirstWithTheirDescriptions)
{
    AddTty("ttyS0", "platform/drivers/serial8250");
    AddTty("ttyS1", "platform/drivers/serial8250", "0"); // a legacy slot without a UART
    AddTty("ttyUSB0", "usb-serial/drivers/ftdi_sio");
    AddTty("ttyUSB1", "usb-serial/drivers/ftdi_sio");
    AddTty("tty1", "");                                   // a console: no driver
    std::ofstream(root / "sys/devices/ttyUSB1-device/product") << "FT232R USB UART\n";
    fs::create_symlink("../../ttyUSB0", root / "dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0");

    std::vector<std::string> listed;
    for (const TPortEntry &port : ListSerialPortsUnder(root))
        listed.push_back(port.name + " " + port.description);
    EXPECT_EQ(listed, (std::vector<std::string>{"/dev/ttyUSB0 usb-FTDI_FT232R_A1-if00-port0",
                                                "/dev/ttyUSB1 FT232R USB UART", "/dev/ttyS0 serial8250"}));
    // Without sysfs (other POSIX systems) there is nothing to list.
    EXPECT_TRUE(ListSerialPortsUnder(root / "missing").empty());
}
