#include "link/port.h"
#include "link/serial.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// The master side of a pseudo-terminal; the port under test opens the slave.
class TPty {
public:
    TPty()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ::grantpt(m_master);
        ::unlockpt(m_master);
        char name[128];
        ::ptsname_r(m_master, name, sizeof name);
        m_path = name;
    }
    ~TPty() { CloseMaster(); }

    void Send(const Bytes &bytes) { ASSERT_EQ(::write(m_master, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
    void CloseMaster()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }
    const std::string &Path() const { return m_path; }
    // The line speed the slave is set to, as the master sees it.
    speed_t Speed() const
    {
        termios tio{};
        ::tcgetattr(m_master, &tio);
        return ::cfgetospeed(&tio);
    }

private:
    int m_master = -1;
    std::string m_path;
};

auto elapsedSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::steady_clock::now() - start;
}

// A port open on a fresh pseudo-terminal.
class PosixSerialPort : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(port->open(pty.Path())); }

    TPty pty;
    std::unique_ptr<ISerialPort> port = CreateSerialPort();
};

} // namespace

TEST_F(PosixSerialPort, MissingPortFailsWithTheSystemText)
{
    auto missing = CreateSerialPort();
    EXPECT_FALSE(missing->open(DeviceName("COM16-missing")));
    EXPECT_EQ(missing->lastError(), std::uint32_t(ENOENT));
    EXPECT_EQ(SystemErrorText(missing->lastError()), "Нет такого файла или устройства");
}

TEST_F(PosixSerialPort, SecondUserIsRefusedAsBusy)
{
    auto second = CreateSerialPort();
    EXPECT_FALSE(second->open(pty.Path()));
    EXPECT_EQ(second->lastError(), std::uint32_t(EBUSY));
    port->close();
    EXPECT_TRUE(second->open(pty.Path()));
    EXPECT_TRUE(IsPortBusyError(EBUSY));
}

TEST(PosixSerialPortName, OnlyATerminalIsOpenedAsAPort)
{
    // A file given as a port name is neither opened as one nor written to.
    const std::string file = ::testing::TempDir() + "/configurator-not-a-port.cfg";
    std::FILE *out = std::fopen(file.c_str(), "w");
    ASSERT_NE(out, nullptr);
    std::fputs("<config/>", out);
    std::fclose(out);
    auto port = CreateSerialPort();
    EXPECT_FALSE(port->open(file));
    EXPECT_EQ(port->lastError(), std::uint32_t(ENOTTY));
    TPortThread worker(nullptr, CreateSerialPort());
    worker.SetPortName(file);
    EXPECT_FALSE(worker.Identify().present);
    char text[32] = {};
    out = std::fopen(file.c_str(), "r");
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(std::fread(text, 1, sizeof text - 1, out), 9u);
    std::fclose(out);
    EXPECT_STREQ(text, "<config/>");
    std::remove(file.c_str());
}

TEST_F(PosixSerialPort, CompleteFrameEndsTheReadWithoutWaitingForTheGap)
{
    TRawPacket frame;
    frame.Build(cmdKeyReadPoll, {1, 2, 3});
    pty.Send(frame.Data());
    const TLinkTimeouts slow{5000ms, 2000ms, 1000ms};
    Bytes answer;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(ReadAnswer(*port, answer, slow));
    EXPECT_LT(elapsedSince(start), 1500ms);
    EXPECT_EQ(answer, frame.Data());
}

TEST_F(PosixSerialPort, IncompleteFrameEndsAtTheGap)
{
    pty.Send({0xCA, 0x05, 0x00, 0x01});
    Bytes answer;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(ReadAnswer(*port, answer, {5000ms, 100ms, 1000ms}));
    EXPECT_LT(elapsedSince(start), 2000ms);
    EXPECT_EQ(answer, (Bytes{0xCA, 0x05, 0x00, 0x01}));
}

TEST_F(PosixSerialPort, StaleBytesFromBeforeTheOpenAreDropped)
{
    port->close();
    pty.Send({0x00, 0x11});
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(port->open(pty.Path()));
    Bytes answer;
    ASSERT_TRUE(ReadAnswer(*port, answer, {200ms, 50ms, 100ms}));
    EXPECT_TRUE(answer.empty());
}

TEST_F(PosixSerialPort, HangUpMidReadIsAnErrorAtOnce)
{
    std::thread unplug([&] {
        std::this_thread::sleep_for(100ms);
        pty.CloseMaster();
    });
    Bytes answer;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ReadAnswer(*port, answer, {3000ms, 200ms, 1000ms}));
    EXPECT_LT(elapsedSince(start), 1500ms);
    EXPECT_EQ(port->lastError(), std::uint32_t(EIO));
    unplug.join();
}

TEST_F(PosixSerialPort, InterruptEndsABlockedRead)
{
    std::thread stopper([&] {
        std::this_thread::sleep_for(100ms);
        port->interrupt();
    });
    Bytes answer;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(port->readSome(answer, 256, 5000ms));
    EXPECT_LT(elapsedSince(start), 2000ms);
    stopper.join();
    EXPECT_FALSE(port->open(pty.Path())); // stays interrupted
}

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
        TPty pty;
        auto port = CreateSerialPort();
        port->setBaudRate(c.baudRate);
        ASSERT_TRUE(port->open(pty.Path())) << c.baudRate.value_or(0);
        EXPECT_EQ(pty.Speed(), c.expected) << c.baudRate.value_or(0);
    }
}

TEST(PosixSerialSpeed, SpeedNotOfferedIsRefused)
{
    TPty pty;
    auto port = CreateSerialPort();
    port->setBaudRate(12345);
    EXPECT_FALSE(port->open(pty.Path()));
    EXPECT_EQ(port->lastError(), std::uint32_t(EINVAL));
}

TEST(PosixSerialSpeed, WorkerReopensTheHeldPortWithANewSpeed)
{
    TPty pty;
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
