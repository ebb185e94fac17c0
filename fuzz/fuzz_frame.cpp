// Link frames and answer reading: TRawPacket on raw bytes, and ReadAnswer over
// a port that hands the same bytes over in chunk sizes taken from the input.

#include "fuzz/support.h"
#include "link/port.h"
#include "link/serial.h"

#include <chrono>
#include <limits>

namespace {

// Schedule steps: how many bytes one read delivers, or one of these.
constexpr std::size_t kStepGap = 0;      // the read waits out its time-out with nothing
constexpr std::size_t kStepError = 0xFF; // the port reports a system error
constexpr std::size_t kStepAll = std::numeric_limits<std::size_t>::max();
constexpr std::uint32_t kFakeErrorCode = 5;

// Time-outs that never pass during one run: the port itself decides when nothing more comes.
const TLinkTimeouts kNeverTimesOut{std::chrono::hours(1), std::chrono::hours(1), std::chrono::hours(1)};
const TLinkTimeouts kNoTime{std::chrono::milliseconds(0), std::chrono::milliseconds(0), std::chrono::milliseconds(0)};

// Serves a byte stream in the chunk sizes of a schedule (used round and round) without ever waiting.
class TChunkedPort final : public ISerialPort {
public:
    TChunkedPort(const Bytes &stream, std::vector<std::size_t> schedule) : m_stream(stream), m_schedule(std::move(schedule)) {}

    bool open(const std::string &) override { return true; }
    void close() override {}
    bool write(const Bytes &, std::chrono::milliseconds) override { return true; }
    bool readSome(Bytes &buffer, std::size_t maxCount, std::chrono::milliseconds) override
    {
        FUZZ_CHECK(maxCount > 0 && maxCount <= kAnswerBufferSize);
        // Every read but the last one brings at least a byte, so a whole answer takes few reads.
        FUZZ_CHECK(m_reads <= kAnswerBufferSize);
        const std::size_t step = m_schedule[m_reads++ % m_schedule.size()];
        failed = step == kStepError;
        lastCount = failed ? 0 : std::min({step, maxCount, m_stream.size() - served});
        buffer.insert(buffer.end(), m_stream.data() + served, m_stream.data() + served + lastCount);
        served += lastCount;
        return !failed;
    }
    void discardInput() override {}
    std::uint32_t lastError() const override { return kFakeErrorCode; }
    void interrupt() override {}

    std::size_t served = 0;    // bytes handed over so far
    std::size_t lastCount = 0; // bytes of the latest read
    bool failed = false;       // the latest read reported an error

private:
    const Bytes &m_stream;
    std::vector<std::size_t> m_schedule;
    std::size_t m_reads = 0;
};

// A valid frame rebuilds exactly from what it decodes to, and the checksum catches any one flipped bit.
void checkPacket(const Bytes &frame)
{
    TRawPacket packet;
    packet.Assign(frame);
    if (!packet.IsValid())
        return;
    std::uint8_t command = 0xEE;
    Bytes payload;
    packet.Decode(command, payload);
    FUZZ_CHECK(command == frame[3]);
    TRawPacket rebuilt;
    FUZZ_CHECK(rebuilt.Build(command, payload) == frame.size() && rebuilt.Data() == frame);
    // A valid frame the answer buffer can hold ends the reading by its length alone.
    FUZZ_CHECK(frame.size() > kAnswerBufferSize || FrameComplete(frame));
    Bytes corrupted = frame;
    const std::size_t bit = (std::size_t(command) * 31 + payload.size()) % (8 * frame.size());
    corrupted[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
    packet.Assign(corrupted);
    FUZZ_CHECK(!packet.IsValid());
}

// Any payload builds a valid frame that decodes to it again.
void checkBuild(const Bytes &payload)
{
    if (payload.empty() || payload.size() > TRawPacket::kMaxPayload)
        return;
    TRawPacket packet;
    FUZZ_CHECK(packet.Build(payload[0], payload) == payload.size() + TRawPacket::kMinFrameLength && packet.IsValid());
    std::uint8_t command = 0;
    Bytes decoded;
    packet.Decode(command, decoded);
    FUZZ_CHECK(command == payload[0] && decoded == payload);
}

void checkFrameComplete(const Bytes &buffer)
{
    if (!FrameComplete(buffer))
        return;
    FUZZ_CHECK(buffer.size() >= 3 && buffer[0] == TRawPacket::kStartByte);
    const std::size_t announced = (buffer[1] | (std::size_t(buffer[2]) << 8)) + TRawPacket::kOverhead;
    FUZZ_CHECK(announced <= kAnswerBufferSize && announced <= buffer.size());
}

void readAnswer(const Bytes &stream, std::vector<std::size_t> schedule, const TLinkTimeouts &timeouts = kNeverTimesOut)
{
    TChunkedPort port(stream, std::move(schedule));
    Bytes answer{0x55}; // whatever the buffer held before is dropped
    const bool ok = ReadAnswer(port, answer, timeouts);
    FUZZ_CHECK(answer.size() <= kAnswerBufferSize && answer.size() == port.served);
    FUZZ_CHECK(std::equal(answer.begin(), answer.end(), stream.begin()));
    FUZZ_CHECK(ok == !port.failed);
    // Short of a full buffer, reading stops early only for a gap or for a complete frame.
    FUZZ_CHECK(!ok || answer.size() == kAnswerBufferSize || port.lastCount == 0 || FrameComplete(answer));
    checkFrameComplete(answer);
    // What the worker does with the answer.
    checkPacket(answer);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const Bytes input(data, data + size);
    checkPacket(input);
    checkBuild(input);
    checkFrameComplete(input);
    readAnswer(input, {kStepAll});
    readAnswer(input, {1});
    // The input's own bytes, last first, are the chunk sizes of a third reading.
    std::vector<std::size_t> schedule(input.rbegin(), input.rend());
    if (schedule.empty())
        schedule.push_back(kStepGap);
    readAnswer(input, std::move(schedule));
    // Time-outs of zero leave no time for reading, whatever the port holds.
    readAnswer(input, {kStepAll}, kNoTime);
    return 0;
}
