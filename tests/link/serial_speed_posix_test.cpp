#include "link/port.h"
#include "link/serial.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// A pseudo-terminal whose slave the port opens; the master reads back the slave's line settings.
class TSpeedPty {
public:
    TSpeedPty()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ::grantpt(m_master);
        ::unlockpt(m_master);
        char name[128];
        ::ptsname_r(m_master, name, sizeof name);
        m_path = name;
    }
    ~TSpeedPty() { ::close(m_master); }

    speed_t Speed() const
    {
        termios tio{};
        ::tcgetattr(m_master, &tio);
        return ::cfgetospeed(&tio);
    }
    const std::string &Path() const { return m_path; }

private:
    int m_master = -1;
    std::string m_path;
};

} // namespace

TEST(PosixSerialSpeed, ChosenSpeedIsSetAtOpenAndNoneKeepsTheSystems)
{
    const struct {
        std::optional<int> baudRate;
        speed_t expected;
    } cases[] = {
        {std::nullopt, B38400}, // the pseudo-terminal's own speed
        {9600, B9600},
        {57600, B57600},
        {115200, B115200},
    };
    for (const auto &c : cases) {
        TSpeedPty pty;
        auto port = CreateSerialPort();
        port->setBaudRate(c.baudRate);
        ASSERT_TRUE(port->open(pty.Path())) << c.baudRate.value_or(0);
        EXPECT_EQ(pty.Speed(), c.expected) << c.baudRate.value_or(0);
    }
}

TEST(PosixSerialSpeed, SpeedNotOfferedIsRefused)
{
    TSpeedPty pty;
    auto port = CreateSerialPort();
    port->setBaudRate(12345);
    EXPECT_FALSE(port->open(pty.Path()));
    EXPECT_EQ(port->lastError(), std::uint32_t(EINVAL));
}

TEST(PosixSerialSpeed, WorkerReopensTheHeldPortWithANewSpeed)
{
    TSpeedPty pty;
    TPortOptions options;
    options.pollInterval = 1h;
    options.timeouts.readTotal = 20ms;
    TPortThread worker(nullptr, CreateSerialPort(), options);
    worker.SetPortName(pty.Path());
    worker.SetBaudRate(19200);
    worker.Identify(); // nothing answers; the port stays open
    EXPECT_EQ(pty.Speed(), B19200);
    worker.SetBaudRate(115200);
    EXPECT_EQ(worker.BaudRate(), 115200);
    worker.Identify();
    EXPECT_EQ(pty.Speed(), B115200);
}
