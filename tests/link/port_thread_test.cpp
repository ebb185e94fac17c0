#include "link/port.h"
#include "tests/link/fake_serial_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <thread>
#include <tuple>

using namespace std::chrono_literals;

namespace {

// A worker on a scripted line, with the identities it reports to the "window".
struct TFixture {
    std::unique_ptr<TFakeSerialPort> owned = std::make_unique<TFakeSerialPort>();
    TFakeSerialPort &line = *owned; // valid while the worker that took it runs
    std::mutex mutex;
    std::condition_variable cond;
    std::vector<TDeviceIdentity> posted;

    // Fast time-outs keep the fault cases quick; the rules are the same. Polls wait unless asked for.
    std::unique_ptr<TPortThread> Start(std::chrono::milliseconds pollInterval = 10s)
    {
        auto sink = [this](const TDeviceIdentity &identity) {
            std::lock_guard lock(mutex);
            posted.push_back(identity);
            cond.notify_all();
        };
        const TPortOptions options{{300ms, 50ms, 100ms}, pollInterval};
        return std::make_unique<TPortThread>(sink, std::move(owned), options);
    }
    std::vector<TDeviceIdentity> WaitFor(std::size_t count)
    {
        std::unique_lock lock(mutex);
        cond.wait_for(lock, 5s, [&] { return posted.size() >= count; });
        return posted;
    }
};

auto fieldsOf(const TDeviceIdentity &d)
{
    return std::tuple(d.present, d.softwareVersion, d.hardwareCode, d.chunkSize, d.serialNumber, d.errorCode,
                      d.portBusy);
}

const TDeviceIdentity kDeviceA{true, 300, 5, 64, 0x0102030405060708ULL};
const TDeviceIdentity kDeviceB{true, 412, 7, 32, 0xBBBB0002};

} // namespace

TEST(TPortThread, RequestsSendTheirFramesAndReturnTheAnswersData)
{
    Bytes long200{0, 0, 0};
    long200.resize(3 + 200, 0x5A);
    const char *const readAtZero = "CA 04 00 01 00 00 00";
    const char *const identify = "CA 01 00 00";
    const Bytes kept{9, 9};
    const struct {
        const char *what;
        std::uint8_t kind;
        std::int32_t block, offset;
        Bytes data;
        TFakeReply reply;
        std::uint8_t result;
        const char *request; // without its checksum byte
        Bytes expected;
        TDeviceIdentity identity; // an identification's result; others leave it alone
    } cases[] = {
        {"read block", opReadBlock, 2, 0x1234, {}, {Frame(cmdReadBlock, {2, 0x34, 0x12, 7, 8, 9})}, rsOk,
         "CA 04 00 01 02 34 12", {7, 8, 9}},
        {"read answer of 2 bytes", opReadBlock, 0, 0, {}, {Frame(cmdReadBlock, {0, 0})}, rsOk, readAtZero, {}},
        {"block and offset cut to 8 and 16 bits", opReadBlock, 0x1FF, 0x12345, {}, {Frame(cmdReadBlock, {})}, rsOk,
         "CA 04 00 01 FF 45 23", {}},
        {"write block", opWriteBlock, 1, 248, {0xAA, 0xBB}, {Frame(cmdWriteBlock, {1, 248, 0})}, rsOk,
         "CA 06 00 02 01 F8 00 AA BB", {0xAA, 0xBB}},
        {"key start", opKeyReadStart, 0, 0, {}, {Frame(cmdKeyReadStart, {})}, rsOk, "CA 01 00 08", {}},
        {"key stop", opKeyReadStop, 0, 0, {}, {Frame(cmdKeyReadStop, {})}, rsOk, "CA 01 00 0A", {}},
        {"key poll", opKeyReadPoll, 0, 0, {}, {Frame(cmdKeyReadPoll, {0x01, 0xA2, 0xFF})}, rsOk, "CA 01 00 0C",
         {0x01, 0xA2, 0xFF}},
        {"password", opPassword, 0, 0, {0x12, 0x34, 0x56}, {Frame(cmdPassword, {1})}, rsOk, "CA 04 00 1A 12 34 56",
         {1}},
        {"answer arriving in pieces", opReadBlock, 0, 0, {}, {Frame(cmdReadBlock, long200), 0, 7}, rsOk, readAtZero,
         Bytes(200, 0x5A)},
        {"identified device", opIdentify, 0, 0, {}, {IdentAnswer(kDeviceA)}, rsOk, identify, {}, kDeviceA},
        // Identification answers that mean no device.
        {"identification of 13 bytes", opIdentify, 0, 0, {}, {Frame(cmdIdentify, Bytes(13, 1))}, rsOk, identify, {}},
        {"identification of 15 bytes", opIdentify, 0, 0, {}, {Frame(cmdIdentify, Bytes(15, 1))}, rsOk, identify, {}},
        {"chunk size 0", opIdentify, 0, 0, {}, {IdentAnswer({true, 300, 5, 0, 99})}, rsOk, identify, {}},
        {"port held by another program", opIdentify, 0, 0, {}, {.readError = EBUSY}, rsIoError, identify, {},
         {.errorCode = EBUSY, .portBusy = true}},
        // A failed request keeps the caller's data.
        {"silence", opReadBlock, 0, 0, kept, {}, rsBadAnswer, readAtZero, kept},
        {"read error", opReadBlock, 0, 0, kept, {.readError = 5}, rsIoError, readAtZero, kept},
        {"read answer of another block", opReadBlock, 0, 0, kept, {Frame(cmdReadBlock, {1, 0, 0, 7})}, rsBadAnswer,
         readAtZero, kept},
        {"read answer of another block without data", opReadBlock, 0, 0, kept, {Frame(cmdReadBlock, {1, 0, 0})},
         rsBadAnswer, readAtZero, kept},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TFixture f;
        f.line.script = [&](const Bytes &) { return c.reply; };
        // A late answer of an earlier exchange is dropped before the request goes out.
        f.line.stale = Frame(cmdReadBlock, {5, 5, 5, 5});
        auto port = f.Start();
        Bytes data = c.data;
        EXPECT_EQ(port->Request(c.kind, c.block, c.offset, data), c.result);
        EXPECT_EQ(data, c.expected);
        const auto requests = f.line.Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(HexDump(CopyBytes(requests[0], 0, requests[0].size() - 1)), c.request);
        EXPECT_EQ(fieldsOf(port->Identity()), fieldsOf(c.identity));
        EXPECT_EQ(port->GetSerialNumber(), c.identity.serialNumber);
        // An identification on demand is reported as a poll would be.
        EXPECT_EQ(f.posted.size(), c.kind == opIdentify ? 1u : 0u);
    }
}

TEST(TPortThread, PollsBetweenRequestsNeverMixTwoDevicesNorTouchTheRequestsResults)
{
    TFixture f;
    std::atomic<int> polls{0};
    std::atomic<int> reads{0};
    // Two devices take turns behind the held port, then a broken answer that waits out the gap.
    const Bytes answers[] = {IdentAnswer(kDeviceA), IdentAnswer(kDeviceB), IdentAnswer(kDeviceA), {0xCA, 0xFF}};
    f.line.script = [&](const Bytes &request) {
        if (request[3] != cmdIdentify)
            return TFakeReply{Frame(cmdReadBlock, {0, 0, 0, static_cast<std::uint8_t>(++reads)})};
        return TFakeReply{answers[std::min(polls++, 3)]};
    };
    auto port = f.Start(1ms);
    for (int i = 1; i <= 20; ++i) {
        std::this_thread::sleep_for(5ms);
        Bytes data;
        ASSERT_EQ(port->Request(opReadBlock, 0, 0, data), rsOk) << i;
        EXPECT_EQ(data, Bytes{static_cast<std::uint8_t>(i)});
    }
    const auto posted = f.WaitFor(4);
    ASSERT_GE(posted.size(), 4u);
    EXPECT_EQ(fieldsOf(posted[0]), fieldsOf(kDeviceA));
    EXPECT_EQ(fieldsOf(posted[1]), fieldsOf(kDeviceB));
    EXPECT_FALSE(posted[0].SameDevice(posted[1]));
    EXPECT_TRUE(posted[0].SameDevice(posted[2]));
    EXPECT_FALSE(posted[3].present);
    // The serial number of the last device found outlives it.
    EXPECT_EQ(port->GetSerialNumber(), kDeviceA.serialNumber);
    // Held from the first exchange on: no other program gets in between.
    EXPECT_EQ(f.line.OpenedNames().size(), 1u);
}

TEST(TPortThread, MissingPortReportsTheSystemErrorAtThePollCadenceAndANewNameAtTheNextExchange)
{
    TFixture f;
    f.line.openError = ENOENT;
    auto port = f.Start(1ms);
    EXPECT_EQ(port->PortName(), "COM16");
    const auto posted = f.WaitFor(3);
    ASSERT_GE(posted.size(), 3u);
    for (const auto &p : posted)
        EXPECT_EQ(fieldsOf(p), fieldsOf({.errorCode = ENOENT}));
    EXPECT_EQ(port->LastError(), std::uint32_t(ENOENT));
    EXPECT_TRUE(f.line.Requests().empty());
    port->SetPortName("COM3");
    f.WaitFor(posted.size() + 3);
    const auto names = f.line.OpenedNames();
    EXPECT_EQ(names.front(), DeviceName("COM16"));
    EXPECT_EQ(names.back(), DeviceName("COM3"));
}
