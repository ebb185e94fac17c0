#include "link/serial.h"

#include "link/port.h"

bool FrameComplete(const Bytes &buffer)
{
    if (buffer.size() < 3 || buffer[0] != TRawPacket::kStartByte)
        return false;
    const std::size_t frameLength = (buffer[1] | (std::size_t(buffer[2]) << 8)) + TRawPacket::kOverhead;
    return frameLength <= kAnswerBufferSize && buffer.size() >= frameLength;
}

bool ReadAnswer(ISerialPort &port, Bytes &answer, const TLinkTimeouts &timeouts)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeouts.readTotal;
    answer.clear();
    while (answer.size() < kAnswerBufferSize) {
        const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (remaining.count() <= 0)
            break;
        const auto wait = answer.empty() ? remaining : std::min(remaining, timeouts.readGap);
        const std::size_t before = answer.size();
        if (!port.readSome(answer, kAnswerBufferSize - answer.size(), wait))
            return false;
        if (answer.size() == before || FrameComplete(answer))
            break;
    }
    return true;
}
