// Link frames and answer reading: TRawPacket on raw bytes, and ReadAnswer over
// a port that hands the same bytes over in chunk sizes taken from the input.

#include "fuzz/support.h"
#include "link/port.h"
#include "link/serial.h"

namespace {

// Schedule steps: how many bytes one read delivers (none: it waits out its time-out), or one of these.
constexpr std::size_t kStepError = 0xFF; // the port reports a system error
constexpr std::size_t kStepAll = SIZE_MAX;

// Time-outs that never pass during one run: the port itself decides when nothing more comes.
const TLinkTimeouts kNeverTimesOut{std::chrono::hours(1), std::chrono::hours(1), std::chrono::hours(1)};

// Serves a byte stream in the chunk sizes of a schedule (used round and round; none is a gap) without ever waiting.
struct TChunkedPort final : ISerialPort {
    TChunkedPort(const Bytes &bytes, std::vector<std::size_t> steps) : stream(bytes), schedule(std::move(steps)) {}

    bool open(const std::string &) override { return true; }
    void close() override {}
    bool write(const Bytes &, std::chrono::milliseconds) override { return true; }
    bool readSome(Bytes &buffer, std::size_t maxCount, std::chrono::milliseconds) override
    {
        // Reads ask for what the answer buffer has room for; every read but the last one brings at least a byte,
        // so a whole answer takes few reads.
        FUZZ_CHECK(maxCount > 0 && maxCount <= kAnswerBufferSize && reads <= kAnswerBufferSize);
        const std::size_t step = schedule.empty() ? 0 : schedule[reads++ % schedule.size()];
        failed = step == kStepError;
        lastCount = failed ? 0 : std::min({step, maxCount, stream.size() - served});
        buffer.insert(buffer.end(), stream.data() + served, stream.data() + served + lastCount);
        served += lastCount;
        return !failed;
    }
    void discardInput() override {}
    std::uint32_t lastError() const override { return 0; } // ReadAnswer only reports that a read failed
    void interrupt() override {}

    const Bytes &stream;
    const std::vector<std::size_t> schedule;
    std::size_t reads = 0;
    std::size_t served = 0;    // bytes handed over so far
    std::size_t lastCount = 0; // bytes of the latest read
    bool failed = false;       // the latest read reported an error
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
    // What the worker does with the answer.
    checkPacket(answer);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const Bytes input(data, data + size);
    checkPacket(input);
    // Any payload builds a valid frame, which then rebuilds from what it decodes to like every valid frame.
    if (!input.empty() && input.size() <= TRawPacket::kMaxPayload) {
        TRawPacket packet;
        FUZZ_CHECK(packet.Build(input[0], input) == input.size() + TRawPacket::kMinFrameLength && packet.IsValid());
        checkPacket(packet.Data());
    }
    readAnswer(input, {kStepAll});
    readAnswer(input, {1});
    // The input's own bytes, last first, are the chunk sizes of a third reading.
    readAnswer(input, std::vector<std::size_t>(input.rbegin(), input.rend()));
    // Time-outs of zero leave no time for reading, whatever the port holds.
    readAnswer(input, {kStepAll}, {{}, {}, {}});
    return 0;
}
