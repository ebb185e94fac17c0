#include "link/port.h"
#include "tests/link/fake_serial_port.h"

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;

namespace {

using TPosted = TDeviceIdentity;

// Collects the identities the worker reports to the "window".
class TMailbox {
public:
    TIdentityReport Sink()
    {
        return [this](const TDeviceIdentity &identity) {
            {
                std::lock_guard lock(m_mutex);
                m_posted.push_back(identity);
            }
            m_cond.notify_all();
        };
    }

    std::vector<TPosted> WaitFor(std::size_t count, std::chrono::milliseconds timeout = 5s)
    {
        std::unique_lock lock(m_mutex);
        m_cond.wait_for(lock, timeout, [&] { return m_posted.size() >= count; });
        return m_posted;
    }

    std::size_t Count()
    {
        std::lock_guard lock(m_mutex);
        return m_posted.size();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::vector<TPosted> m_posted;
};

// Fast time-outs keep the fault cases quick; the rules are the same.
TPortOptions fastOptions()
{
    TPortOptions options;
    options.timeouts.readTotal = 300ms;
    options.timeouts.readGap = 50ms;
    options.timeouts.writeTotal = 100ms;
    return options;
}

struct TFixture {
    std::shared_ptr<TFakeLine> line = std::make_shared<TFakeLine>();
    TMailbox mailbox;

    std::unique_ptr<TPortThread> Start(TPortOptions options = fastOptions())
    {
        return std::make_unique<TPortThread>(mailbox.Sink(), std::make_unique<TFakeSerialPort>(line), options);
    }
    // A worker whose poll stays out of the way of the requests.
    std::unique_ptr<TPortThread> StartWithoutPolls()
    {
        TPortOptions options = fastOptions();
        options.pollInterval = 10s;
        return Start(options);
    }
};

bool isIdentify(const Bytes &request)
{
    return request.size() > 3 && request[3] == cmdIdentify;
}

} // namespace

TEST(TPortThread, ReportsWhatTheIdentificationAnswerSays)
{
    Bytes payload13(13, 1);
    Bytes payload15(15, 1);
    const struct {
        const char *what;
        TFakeReply reply;
        bool present;
        std::uint16_t sw, hw, chunk;
        std::uint32_t error;
        std::uint64_t serial;
    } cases[] = {
        {"identified device", {IdentAnswer(300, 5, 64, 0x0102030405060708ULL)}, true, 300, 5, 64, 0,
         0x0102030405060708ULL},
        // Answers that mean no device.
        {"payload of 13 bytes", {Frame(cmdIdentify, payload13)}, false, 0, 0, 0, 0, 0},
        {"payload of 15 bytes", {Frame(cmdIdentify, payload15)}, false, 0, 0, 0, 0, 0},
        {"chunk size 0", {IdentAnswer(300, 5, 0, 99)}, false, 0, 0, 0, 0, 0},
        {"bad checksum", {Bytes{0xCA, 0x01, 0x00, 0x00, 0x88}}, false, 0, 0, 0, 0, 0},
        {"nothing received", {.silent = true}, false, 0, 0, 0, 0, 0},
        {"read fails", {.readError = 5}, false, 0, 0, 0, 5, 0},
    };
    for (const auto &c : cases) {
        TFixture f;
        f.line->SetScript([&](const Bytes &) { return c.reply; });
        auto port = f.Start();
        const auto posted = f.mailbox.WaitFor(1);
        ASSERT_FALSE(posted.empty()) << c.what;
        const TDeviceIdentity &identity = posted[0];
        EXPECT_EQ(identity.present, c.present) << c.what;
        EXPECT_EQ(identity.softwareVersion, c.sw) << c.what;
        EXPECT_EQ(identity.hardwareCode, c.hw) << c.what;
        EXPECT_EQ(identity.chunkSize, c.chunk) << c.what;
        EXPECT_EQ(identity.serialNumber, c.serial) << c.what;
        EXPECT_EQ(identity.errorCode, c.error) << c.what;
        EXPECT_EQ(port->GetSerialNumber(), c.serial) << c.what;
        EXPECT_EQ(HexDump(f.line->Requests().at(0)), "CA 01 00 00 89") << c.what;
    }
}

TEST(TPortThread, SerialNumberSurvivesTheDeviceGoingAway)
{
    TFixture f;
    std::atomic<int> polls{0};
    f.line->SetScript([&](const Bytes &) {
        return ++polls == 1 ? TFakeReply{IdentAnswer(1, 2, 3, 0xABCD)} : TFakeReply{.silent = true};
    });
    auto port = f.Start();
    const auto posted = f.mailbox.WaitFor(2);
    ASSERT_GE(posted.size(), 2u);
    EXPECT_FALSE(posted[1].present);
    EXPECT_EQ(port->GetSerialNumber(), 0xABCDu);
}

TEST(TPortThread, SwappedDevicesAreNeverMixedAndThePortStaysOpenMeanwhile)
{
    TFixture f;
    std::atomic<int> polls{0};
    // Two devices take turns behind the port, from one poll to the next.
    f.line->SetScript([&](const Bytes &) {
        return ++polls % 2 ? TFakeReply{IdentAnswer(300, 5, 64, 0xAAAA0001)} : TFakeReply{IdentAnswer(412, 7, 32, 0xBBBB0002)};
    });
    auto port = f.Start();
    const auto posted = f.mailbox.WaitFor(6);
    ASSERT_GE(posted.size(), 6u);
    for (const TDeviceIdentity &identity : posted) {
        ASSERT_TRUE(identity.present);
        if (identity.serialNumber == 0xAAAA0001)
            EXPECT_EQ(std::tuple(identity.softwareVersion, identity.hardwareCode, identity.chunkSize), std::tuple(300, 5, 64));
        else
            EXPECT_EQ(std::tuple(identity.softwareVersion, identity.hardwareCode, identity.chunkSize), std::tuple(412, 7, 32));
    }
    EXPECT_FALSE(posted[0].SameDevice(posted[1]));
    EXPECT_TRUE(posted[0].SameDevice(posted[2]));
    // Held from the first exchange on: no other program gets in between.
    EXPECT_EQ(f.line->OpenCount(), 1);
}

TEST(TPortThread, IdentifiesOnDemandWithoutWaitingForThePoll)
{
    TFixture f;
    f.line->SetScript([](const Bytes &) { return TFakeReply{IdentAnswer(300, 5, 64, 0x1234)}; });
    auto port = f.StartWithoutPolls();
    const TDeviceIdentity identity = port->Identify();
    EXPECT_TRUE(identity.present);
    EXPECT_EQ(identity.serialNumber, 0x1234u);
    EXPECT_EQ(port->Identity().serialNumber, 0x1234u);
    EXPECT_EQ(f.mailbox.WaitFor(1).size(), 1u); // reported as a poll would be
}

TEST(TPortThread, RequestsSendTheirFramesAndReturnTheAnswersData)
{
    Bytes long200{0, 0, 0};
    long200.resize(3 + 200, 0x5A);
    const char *const readAtZero = "CA 04 00 01 00 00 00";
    const struct {
        const char *what;
        std::uint8_t kind;
        std::int32_t block, offset;
        Bytes data;
        TFakeReply reply;
        std::uint8_t result;
        const char *request;
        Bytes expected;
    } cases[] = {
        {"read block", opReadBlock, 2, 0x1234, {}, {Frame(cmdReadBlock, {2, 0x34, 0x12, 7, 8, 9})}, rsOk,
         "CA 04 00 01 02 34 12", {7, 8, 9}},
        {"read answer of 3 bytes", opReadBlock, 0, 0, {}, {Frame(cmdReadBlock, {0, 0, 0})}, rsOk, readAtZero, {}},
        {"read answer of 2 bytes", opReadBlock, 0, 0, {}, {Frame(cmdReadBlock, {0, 0})}, rsOk, readAtZero, {}},
        {"block and offset cut to 8 and 16 bits", opReadBlock, 0x1FF, 0x12345, {}, {Frame(cmdReadBlock, {})}, rsOk,
         "CA 04 00 01 FF 45 23", {}},
        {"write block", opWriteBlock, 1, 248, {0xAA, 0xBB}, {Frame(cmdWriteBlock, {1, 248, 0})}, rsOk,
         "CA 06 00 02 01 F8 00 AA BB", {0xAA, 0xBB}},
        {"empty write", opWriteBlock, 0, 0, {}, {Frame(cmdWriteBlock, {})}, rsOk, "CA 04 00 02 00 00 00", {}},
        {"key start", opKeyReadStart, 0, 0, {}, {Frame(cmdKeyReadStart, {})}, rsOk, "CA 01 00 08", {}},
        {"key stop", opKeyReadStop, 0, 0, {}, {Frame(cmdKeyReadStop, {})}, rsOk, "CA 01 00 0A", {}},
        {"key poll without key", opKeyReadPoll, 0, 0, {}, {Frame(cmdKeyReadPoll, {})}, rsOk, "CA 01 00 0C", {}},
        {"key poll with key", opKeyReadPoll, 0, 0, {}, {Frame(cmdKeyReadPoll, {0x01, 0xA2, 0xFF})}, rsOk,
         "CA 01 00 0C", {0x01, 0xA2, 0xFF}},
        {"password", opPassword, 0, 0, {0x12, 0x34, 0x56}, {Frame(cmdPassword, {1})}, rsOk, "CA 04 00 1A 12 34 56",
         {1}},
        {"answer arriving in pieces", opReadBlock, 0, 0, {}, {Frame(cmdReadBlock, long200), 0ms, false, 0, 7}, rsOk,
         readAtZero, Bytes(200, 0x5A)},
        // A failed request keeps the caller's data.
        {"silence", opReadBlock, 0, 0, {9, 9}, {.silent = true}, rsBadAnswer, readAtZero, {9, 9}},
        {"garbage", opReadBlock, 0, 0, {9, 9}, {Bytes{1, 2, 3, 4, 5, 6}}, rsBadAnswer, readAtZero, {9, 9}},
        {"valid frame with a trailing byte in the same read", opReadBlock, 0, 0, {9, 9},
         {Bytes{0xCA, 0x01, 0x00, 0x0C, 0x00, 0x00}}, rsBadAnswer, readAtZero, {9, 9}},
        {"read error", opReadBlock, 0, 0, {9, 9}, {.readError = 5}, rsIoError, readAtZero, {9, 9}},
        {"read answer of another block", opReadBlock, 0, 0, {9, 9}, {Frame(cmdReadBlock, {1, 0, 0, 7})}, rsBadAnswer,
         readAtZero, {9, 9}},
        {"read answer of another offset", opReadBlock, 0, 0, {9, 9}, {Frame(cmdReadBlock, {0, 64, 0, 7})},
         rsBadAnswer, readAtZero, {9, 9}},
        {"read answer of another block without data", opReadBlock, 0, 0, {9, 9}, {Frame(cmdReadBlock, {1, 0, 0})},
         rsBadAnswer, readAtZero, {9, 9}},
    };
    for (const auto &c : cases) {
        TFixture f;
        f.line->SetScript([&](const Bytes &request) {
            return isIdentify(request) ? TFakeReply{.silent = true} : c.reply;
        });
        auto port = f.StartWithoutPolls();
        // A late answer of an earlier exchange is dropped before the request goes out.
        f.line->LeaveStale(Frame(cmdReadBlock, {5, 5, 5, 5}));
        Bytes data = c.data;
        EXPECT_EQ(port->Request(c.kind, c.block, c.offset, data), c.result) << c.what;
        EXPECT_EQ(data, c.expected) << c.what;
        const auto requests = f.line->Requests();
        ASSERT_EQ(requests.size(), 1u) << c.what;
        // The request frame without its checksum byte.
        EXPECT_EQ(HexDump(CopyBytes(requests[0], 0, requests[0].size() - 1)), c.request) << c.what;
    }
}

TEST(TPortThread, RequestDuringAPollWaitsForItThenRuns)
{
    TFixture f;
    f.line->SetScript([](const Bytes &request) {
        if (isIdentify(request))
            return TFakeReply{IdentAnswer(1, 2, 3, 4), 150ms};
        return TFakeReply{Frame(cmdKeyReadPoll, {0x42})};
    });
    TPortOptions options = fastOptions();
    options.pollInterval = 20ms;
    auto port = f.Start(options);
    f.line->WaitForRequests(1, 2s); // a poll is on the line now
    Bytes data;
    EXPECT_EQ(port->Request(opKeyReadPoll, 0, 0, data), rsOk);
    EXPECT_EQ(data, Bytes{0x42});
    const auto requests = f.line->Requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_TRUE(isIdentify(requests[0]));
    EXPECT_EQ(requests.back()[3], cmdKeyReadPoll);
}

TEST(TPortThread, PollsBetweenRequestsNeverTouchTheirResults)
{
    TFixture f;
    std::atomic<int> n{0};
    f.line->SetScript([&](const Bytes &request) {
        if (isIdentify(request))
            return TFakeReply{Bytes{0xCA, 0xFF}}; // every poll fails
        return TFakeReply{Frame(cmdReadBlock, {0, 0, 0, static_cast<std::uint8_t>(++n)})};
    });
    TPortOptions options = fastOptions();
    options.pollInterval = 1ms;
    auto port = f.Start(options);
    for (int i = 1; i <= 20; ++i) {
        std::this_thread::sleep_for(5ms);
        Bytes data;
        ASSERT_EQ(port->Request(opReadBlock, 0, 0, data), rsOk) << i;
        EXPECT_EQ(data, Bytes{static_cast<std::uint8_t>(i)});
    }
    EXPECT_GT(f.mailbox.Count(), 0u);
}

TEST(TPortThread, DestructionReturnsPromptlyWhileNoDeviceAnswers)
{
    TFixture f;
    f.line->SetScript([](const Bytes &) { return TFakeReply{.silent = true}; });
    auto port = f.Start(TPortOptions{}); // the full 3 s read time-out
    f.line->WaitForRequests(1, 2s);
    const auto start = std::chrono::steady_clock::now();
    port.reset();
    // Far inside the bound of a whole exchange (4.5 s): the wait is interrupted.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST(TPortThread, MissingPortReportsTheSystemErrorAtThePollCadenceAndANewNameAtTheNextExchange)
{
    TFixture f;
    f.line->SetOpenError(2);
    auto port = f.Start();
    EXPECT_EQ(port->PortName(), "COM16");
    const auto posted = f.mailbox.WaitFor(3);
    ASSERT_GE(posted.size(), 3u);
    for (const auto &p : posted) {
        EXPECT_FALSE(p.present);
        EXPECT_EQ(p.errorCode, 2u);
    }
    EXPECT_EQ(port->LastError(), 2u);
    EXPECT_TRUE(f.line->Requests().empty());
    port->SetPortName("COM3");
    const auto before = f.line->OpenCount();
    f.mailbox.WaitFor(f.mailbox.Count() + 2);
    const auto names = f.line->OpenedNames();
    ASSERT_GT(names.size(), static_cast<std::size_t>(before));
    EXPECT_EQ(names.front(), DeviceName("COM16"));
    EXPECT_EQ(names.back(), DeviceName("COM3"));
}

TEST(DeviceName, PrefixesPlainNamesOnly)
{
#ifdef _WIN32
    EXPECT_EQ(DeviceName("COM3"), "\\\\.\\COM3");
    EXPECT_EQ(DeviceName("\\\\.\\COM12"), "\\\\.\\COM12");
#else
    EXPECT_EQ(DeviceName("COM16"), "/dev/COM16");
    EXPECT_EQ(DeviceName("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(DeviceName("/dev/pts/3"), "/dev/pts/3");
#endif
    EXPECT_EQ(DeviceName(""), "");
}
