#include "link/port.h"
#include "link/serial.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <optional>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// The master side of a pseudo-terminal; the port under test opens the slave.
struct TPty {
    TPty()
    {
        ::grantpt(master);
        ::unlockpt(master);
        path = ::ptsname(master);
    }
    ~TPty() { ::close(master); }
    // The line speed the slave is set to, as the master sees it.
    speed_t Speed() const
    {
        termios tio{};
        ::tcgetattr(master, &tio);
        return ::cfgetospeed(&tio);
    }

    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    std::string path;
};

// A port open on a fresh pseudo-terminal.
class PosixSerialPort : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(port->open(pty.path)); }

    TPty pty;
    std::unique_ptr<ISerialPort> port = CreateSerialPort();
};

} // namespace

TEST_F(PosixSerialPort, RefusedOpensFailWithTheSystemsCode)
{
    // A file given as a port name is neither opened as one nor written to.
    const std::string file = ::testing::TempDir() + "/configurator-not-a-port.cfg";
    std::ofstream(file) << "<config/>";
    const struct {
        const char *what;
        std::string name;
        std::optional<int> baudRate;
        int error;
    } cases[] = {
        {"missing", DeviceName("COM16-missing"), std::nullopt, ENOENT},
        {"held by another user", pty.path, std::nullopt, EBUSY},
        {"a file", file, std::nullopt, ENOTTY},
        {"speed not offered", pty.path, 12345, EINVAL},
    };
    for (const auto &c : cases) {
        auto second = CreateSerialPort();
        second->setBaudRate(c.baudRate);
        EXPECT_FALSE(second->open(c.name)) << c.what;
        EXPECT_EQ(second->lastError(), std::uint32_t(c.error)) << c.what;
    }
    EXPECT_EQ(SystemErrorText(ENOENT), "Нет такого файла или устройства");
    TPortThread worker(nullptr, CreateSerialPort());
    worker.SetPortName(file);
    EXPECT_FALSE(worker.Identify().present);
    std::ifstream in(file);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), "<config/>");
    std::remove(file.c_str());
    // The busy port is free again once its user closes it.
    port->close();
    EXPECT_TRUE(CreateSerialPort()->open(pty.path));
}

TEST_F(PosixSerialPort, ReadEndsAtACompleteFrameAtTheGapOrAtAHangUp)
{
    TRawPacket frame;
    frame.Build(cmdKeyReadPoll, {1, 2, 3});
    const struct {
        const char *what;
        Bytes sent;
        TLinkTimeouts timeouts;
    } cases[] = {
        {"complete frame, without waiting for the gap", frame.Data(), {5000ms, 2000ms, 1000ms}},
        {"incomplete frame", {0xCA, 0x05, 0x00, 0x01}, {5000ms, 100ms, 1000ms}},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(::write(pty.master, c.sent.data(), c.sent.size()), ssize_t(c.sent.size()));
        Bytes answer;
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(ReadAnswer(*port, answer, c.timeouts)) << c.what;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms) << c.what;
        EXPECT_EQ(answer, c.sent) << c.what;
    }
    ::close(std::exchange(pty.master, -1)); // the device went away: an error at once, not a time-out
    Bytes answer;
    EXPECT_FALSE(ReadAnswer(*port, answer, {5000ms, 2000ms, 1000ms}));
    EXPECT_EQ(port->lastError(), std::uint32_t(EIO));
}

TEST(PosixSerialRead, WorkerShutsDownPromptlyWhileNoDeviceAnswers)
{
    TPty pty;
    auto worker = std::make_unique<TPortThread>(nullptr, CreateSerialPort(), TPortOptions{{}, 1ms}); // 3 s reads
    worker->SetPortName(pty.path);
    std::this_thread::sleep_for(100ms); // a poll is waiting for its answer now
    const auto start = std::chrono::steady_clock::now();
    worker.reset();
    // Far inside the bound of a whole exchange (4.5 s): the wait is interrupted.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST(PosixSerialSpeed, WorkerSetsTheChosenSpeedAndReopensTheHeldPortWhenItChanges)
{
    TPty pty;
    TPortThread worker(nullptr, CreateSerialPort(), TPortOptions{{20ms}, 1h});
    worker.SetPortName(pty.path);
    const struct {
        std::optional<int> baudRate;
        speed_t expected;
    } cases[] = {
        {std::nullopt, B38400}, // the pseudo-terminal's own speed
        {9600, B9600},
        {19200, B19200},
        {57600, B57600},
        {115200, B115200},
    };
    for (const auto &c : cases) {
        worker.SetBaudRate(c.baudRate);
        EXPECT_EQ(worker.BaudRate(), c.baudRate);
        worker.Identify(); // nothing answers; the port stays open at its speed
        EXPECT_EQ(pty.Speed(), c.expected) << c.baudRate.value_or(0);
    }
}

TEST(PosixDeviceName, PrefixesPlainNamesOnly)
{
    EXPECT_EQ(DeviceName("COM16"), "/dev/COM16");
    EXPECT_EQ(DeviceName("/dev/pts/3"), "/dev/pts/3");
    EXPECT_EQ(DeviceName(""), "");
}
