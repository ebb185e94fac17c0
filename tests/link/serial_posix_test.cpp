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

// A fresh pseudo-terminal: the test holds its master side, the port under test opens the slave.
class PosixSerialPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::grantpt(master);
        ::unlockpt(master);
        path = ::ptsname(master);
    }
    void TearDown() override { ::close(master); }

    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    std::string path;
    std::unique_ptr<ISerialPort> port = CreateSerialPort();
};

} // namespace

TEST_F(PosixSerialPort, PlainNamesAreLookedForUnderDevAndRefusedOpensFailWithTheSystemsCode)
{
    EXPECT_EQ(DeviceName("COM16"), "/dev/COM16");
    EXPECT_EQ(DeviceName("/dev/pts/3"), "/dev/pts/3");
    EXPECT_EQ(DeviceName(""), "");
    ASSERT_TRUE(port->open(path));
    // A file given as a port name is neither opened as one nor written to.
    const std::string file = ::testing::TempDir() + "/configurator-not-a-port.cfg";
    std::ofstream(file) << "<config/>";
    const struct {
        std::string name;
        std::optional<int> baudRate;
        int error;
    } cases[] = {
        {DeviceName("COM16-missing"), std::nullopt, ENOENT},
        {path, std::nullopt, EBUSY}, // held by the port above
        {file, std::nullopt, ENOTTY},
        {path, 12345, EINVAL}, // a speed not offered
    };
    for (const auto &c : cases) {
        auto second = CreateSerialPort();
        second->setBaudRate(c.baudRate);
        EXPECT_FALSE(second->open(c.name)) << c.name;
        EXPECT_EQ(second->lastError(), std::uint32_t(c.error)) << c.name;
    }
    TPortThread worker(nullptr, CreateSerialPort());
    worker.SetPortName(file);
    EXPECT_FALSE(worker.Identify().present);
    std::ifstream in(file);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), "<config/>");
    std::remove(file.c_str());
    // The busy port is free again once its user closes it.
    port->close();
    EXPECT_TRUE(CreateSerialPort()->open(path));
}

TEST_F(PosixSerialPort, ReadEndsAtACompleteFrameAtTheGapOrAtAHangUp)
{
    ASSERT_TRUE(port->open(path));
    TRawPacket frame;
    frame.Build(cmdKeyReadPoll, {1, 2, 3});
    const struct {
        Bytes sent;
        TLinkTimeouts timeouts;
    } cases[] = {
        {frame.Data(), {5000ms, 2000ms, 1000ms}}, // complete: no waiting for the gap
        {{0xCA, 0x05, 0x00, 0x01}, {5000ms, 100ms, 1000ms}}, // cut short: ends at the gap
    };
    for (const auto &c : cases) {
        ASSERT_EQ(::write(master, c.sent.data(), c.sent.size()), ssize_t(c.sent.size()));
        Bytes answer;
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(ReadAnswer(*port, answer, c.timeouts));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
        EXPECT_EQ(answer, c.sent);
    }
    ::close(std::exchange(master, -1)); // the device went away: an error at once, not a time-out
    Bytes answer;
    EXPECT_FALSE(ReadAnswer(*port, answer, {5000ms, 2000ms, 1000ms}));
    EXPECT_EQ(port->lastError(), std::uint32_t(EIO));
}

TEST_F(PosixSerialPort, WorkerShutsDownPromptlyWhileNoDeviceAnswers)
{
    auto worker = std::make_unique<TPortThread>(nullptr, CreateSerialPort(), TPortOptions{{}, 1ms}); // 3 s reads
    worker->SetPortName(path);
    std::this_thread::sleep_for(100ms); // a poll is waiting for its answer now
    const auto start = std::chrono::steady_clock::now();
    worker.reset();
    // Far inside the bound of a whole exchange (4.5 s): the wait is interrupted.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST_F(PosixSerialPort, WorkerSetsTheChosenSpeedAndReopensTheHeldPortWhenItChanges)
{
    TPortThread worker(nullptr, CreateSerialPort(), TPortOptions{{20ms}, 1h});
    worker.SetPortName(path);
    const struct {
        std::optional<int> baudRate;
        speed_t expected;
    } cases[] = {
        {std::nullopt, B38400}, // the pseudo-terminal's own speed
        {9600, B9600},
        {115200, B115200},
    };
    for (const auto &c : cases) {
        worker.SetBaudRate(c.baudRate);
        EXPECT_EQ(worker.BaudRate(), c.baudRate);
        worker.Identify(); // nothing answers; the port stays open at its speed
        termios tio{};
        ::tcgetattr(master, &tio);
        EXPECT_EQ(::cfgetospeed(&tio), c.expected) << c.baudRate.value_or(0);
    }
}
