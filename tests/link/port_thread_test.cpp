#include "link/port.h"
#include "link/serial.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <tuple>

using namespace std::chrono_literals;

namespace {

// What the scripted line does with one request; no bytes means silence.
struct TFakeReply {
    Bytes bytes;
    std::uint32_t readError = 0; // the read fails with this code
    std::size_t piece = kAnswerBufferSize; // bytes delivered by one read
};

// A scripted port. The test sets the public fields before the worker that owns
// the port starts. Silence lasts the whole wait, as on a line where nothing comes.
class TFakeSerialPort final : public ISerialPort {
public:
    std::function<TFakeReply(const Bytes &request)> script;
    std::uint32_t openError = 0;
    Bytes stale; // a late answer of an earlier exchange, read before the next one unless the port discards its input
    std::mutex mutex; // guards what is recorded, which the test reads while the worker runs
    std::vector<Bytes> requests;
    std::vector<std::string> openedNames;

    bool open(const std::string &deviceName) override
    {
        std::lock_guard lock(mutex);
        openedNames.push_back(deviceName);
        m_lastError = openError;
        return openError == 0;
    }
    void close() override {}
    void discardInput() override { stale.clear(); }
    bool write(const Bytes &frame, std::chrono::milliseconds) override
    {
        std::lock_guard lock(mutex);
        requests.push_back(frame);
        m_reply = script ? script(frame) : TFakeReply{};
        m_reply.bytes.insert(m_reply.bytes.begin(), stale.begin(), stale.end());
        return true;
    }
    bool readSome(Bytes &buffer, std::size_t maxCount, std::chrono::milliseconds timeout) override
    {
        if (m_reply.readError != 0) {
            m_lastError = m_reply.readError;
            return false;
        }
        if (m_reply.bytes.empty()) {
            std::this_thread::sleep_for(timeout);
            return true;
        }
        const auto end = m_reply.bytes.begin() + std::min({m_reply.piece, maxCount, m_reply.bytes.size()});
        buffer.insert(buffer.end(), m_reply.bytes.begin(), end);
        m_reply.bytes.erase(m_reply.bytes.begin(), end);
        return true;
    }
    std::uint32_t lastError() const override { return m_lastError; }
    void interrupt() override {} // the worker's shutdown is tested on a real port

private:
    TFakeReply m_reply;
    std::uint32_t m_lastError = 0;
};

// A frame of a command and payload.
Bytes Frame(std::uint8_t command, const Bytes &payload)
{
    TRawPacket packet;
    packet.Build(command, payload);
    return packet.Data();
}

// An identification answer of the given fields, low bytes first.
Bytes IdentAnswer(const TDeviceIdentity &identity)
{
    Bytes payload;
    for (const unsigned word : {identity.softwareVersion, identity.hardwareCode, identity.chunkSize})
        payload.insert(payload.end(), {static_cast<std::uint8_t>(word & 0xFF), static_cast<std::uint8_t>(word >> 8)});
    for (int i = 0; i < 8; ++i)
        payload.push_back(static_cast<std::uint8_t>(identity.serialNumber >> (8 * i)));
    return Frame(cmdIdentify, payload);
}

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
    const char *const readAtZero = "CA 04 00 01 00 00 00";
    const char *const identify = "CA 01 00 00";
    const Bytes kept{9, 9};
    const struct {
        std::uint8_t kind;
        std::int32_t block, offset;
        Bytes data;
        TFakeReply reply;
        std::uint8_t result;
        const char *request; // without its checksum byte
        Bytes expected;
        TDeviceIdentity identity; // an identification's result; others leave it alone
    } cases[] = {
        // A read sends its block and offset cut to 8 and 16 bits and returns the data after their echo.
        {opReadBlock, 0x102, 0x11234, {}, {Frame(cmdReadBlock, {2, 0x34, 0x12, 7, 8, 9})}, rsOk,
         "CA 04 00 01 02 34 12", {7, 8, 9}},
        {opReadBlock, 0, 0, {}, {Frame(cmdReadBlock, {0, 0})}, rsOk, readAtZero, {}}, // an answer shorter than the echo
        {opWriteBlock, 1, 248, {0xAA, 0xBB}, {Frame(cmdWriteBlock, {1, 248, 0})}, rsOk, "CA 06 00 02 01 F8 00 AA BB",
         {0xAA, 0xBB}},
        {opKeyReadStart, 0, 0, {}, {Frame(cmdKeyReadStart, {})}, rsOk, "CA 01 00 08", {}},
        {opKeyReadStop, 0, 0, {}, {Frame(cmdKeyReadStop, {})}, rsOk, "CA 01 00 0A", {}},
        {opKeyReadPoll, 0, 0, {}, {Frame(cmdKeyReadPoll, {0x01, 0xA2, 0xFF})}, rsOk, "CA 01 00 0C", {0x01, 0xA2, 0xFF}},
        {opPassword, 0, 0, {0x12, 0x34, 0x56}, {Frame(cmdPassword, {1})}, rsOk, "CA 04 00 1A 12 34 56", {1}},
        // An identified device, its answer arriving in pieces; then answers that mean no device.
        {opIdentify, 0, 0, {}, {IdentAnswer(kDeviceA), 0, 3}, rsOk, identify, {}, kDeviceA},
        {opIdentify, 0, 0, {}, {Frame(cmdIdentify, Bytes(15, 1))}, rsOk, identify, {}}, // one byte too many
        {opIdentify, 0, 0, {}, {IdentAnswer({true, 300, 5, 0, 99})}, rsOk, identify, {}}, // chunk size 0
        {opIdentify, 0, 0, {}, {.readError = EBUSY}, rsIoError, identify, {}, {.errorCode = EBUSY, .portBusy = true}},
        // A failed request keeps the caller's data: silence, a read error, answers of another block.
        {opReadBlock, 0, 0, kept, {}, rsBadAnswer, readAtZero, kept},
        {opReadBlock, 0, 0, kept, {.readError = 5}, rsIoError, readAtZero, kept},
        {opReadBlock, 0, 0, kept, {Frame(cmdReadBlock, {1, 0, 0, 7})}, rsBadAnswer, readAtZero, kept},
        {opReadBlock, 0, 0, kept, {Frame(cmdReadBlock, {1, 0, 0})}, rsBadAnswer, readAtZero, kept},
    };
    for (auto c : cases) {
        SCOPED_TRACE(testing::Message() << c.request << " / " << HexDump(c.reply.bytes) << " / " << c.reply.readError);
        TFixture f;
        f.line.script = [&](const Bytes &) { return c.reply; };
        // A late answer of an earlier exchange is dropped before the request goes out.
        f.line.stale = Frame(cmdReadBlock, {5, 5, 5, 5});
        auto port = f.Start();
        EXPECT_EQ(port->Request(c.kind, c.block, c.offset, c.data), c.result);
        EXPECT_EQ(c.data, c.expected);
        ASSERT_EQ(f.line.requests.size(), 1u); // read once the worker has answered and waits
        EXPECT_EQ(HexDump(CopyBytes(f.line.requests[0], 0, f.line.requests[0].size() - 1)), c.request);
        EXPECT_EQ(fieldsOf(port->Identity()), fieldsOf(c.identity));
        EXPECT_EQ(port->GetSerialNumber(), c.identity.serialNumber);
        // An identification on demand is reported as a poll would be.
        EXPECT_EQ(f.posted.size(), c.kind == opIdentify ? 1u : 0u);
    }
}

TEST(TPortThread, PollsBetweenRequestsNeverMixTwoDevicesNorTouchTheRequestsResults)
{
    TFixture f;
    int polls = 0; // the worker's alone
    // Two devices take turns behind the held port, then a broken answer that waits out the gap.
    const Bytes answers[] = {IdentAnswer(kDeviceA), IdentAnswer(kDeviceB), IdentAnswer(kDeviceA), {0xCA, 0xFF}};
    f.line.script = [&](const Bytes &request) {
        if (request[3] != cmdIdentify) // a read of block i answers i
            return TFakeReply{Frame(cmdReadBlock, {request[4], request[5], request[6], request[4]})};
        return TFakeReply{answers[std::min(polls++, 3)]};
    };
    auto port = f.Start(1ms);
    for (int i = 1; i <= 20; ++i) {
        std::this_thread::sleep_for(5ms);
        Bytes data;
        ASSERT_EQ(port->Request(opReadBlock, i, 0, data), rsOk) << i;
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
    std::lock_guard lock(f.line.mutex);
    EXPECT_EQ(f.line.openedNames.size(), 1u);
}

TEST(TPortThread, MissingPortReportsTheSystemErrorAtThePollCadenceAndANewNameAtTheNextExchange)
{
    TFixture f;
    f.line.openError = ENOENT;
    auto port = f.Start(1ms);
    const auto posted = f.WaitFor(3);
    ASSERT_GE(posted.size(), 3u);
    EXPECT_EQ(fieldsOf(posted[2]), fieldsOf({.errorCode = ENOENT}));
    EXPECT_EQ(port->LastError(), std::uint32_t(ENOENT));
    port->SetPortName("COM3");
    f.WaitFor(posted.size() + 3);
    std::lock_guard lock(f.line.mutex);
    EXPECT_TRUE(f.line.requests.empty());
    EXPECT_EQ(f.line.openedNames.back(), DeviceName("COM3"));
}
