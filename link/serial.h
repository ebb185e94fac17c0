#pragma once

#include "link/bytes.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// Time-outs of one exchange. An answer ends at 256 bytes, when readTotal has
// passed since the read began, when readGap passes after a byte with no
// further byte, or as soon as the bytes received form a complete frame.
struct TLinkTimeouts {
    std::chrono::milliseconds readTotal{3000};
    std::chrono::milliseconds readGap{200};
    std::chrono::milliseconds writeTotal{1500};
};

// The line speeds (bits per second) a port can be set to; without one the system's speed stays.
inline constexpr int kLineSpeeds[] = {9600, 19200, 38400, 57600, 115200};

inline bool IsLineSpeed(int baudRate)
{
    for (const int speed : kLineSpeeds)
        if (speed == baudRate)
            return true;
    return false;
}

// Largest answer one exchange reads, framing included.
inline constexpr std::size_t kAnswerBufferSize = 256;

// A serial port used as a file: opened exclusively (another program that holds
// it makes open fail as busy), one write and one read per exchange, closed.
// Each platform implements it in its own file; tests replace it.
// Calls other than interrupt() come from one thread at a time.
class ISerialPort {
public:
    virtual ~ISerialPort() = default;

    // Opens the device by its full system name; false with lastError() set.
    virtual bool open(const std::string &deviceName) = 0;
    virtual void close() = 0;

    // The line speed the next open() sets; none leaves it as the system has it.
    // A speed that is not one of kLineSpeeds makes open() fail with the system's
    // "invalid argument" code. An open port keeps its speed until it is reopened.
    void setBaudRate(std::optional<int> baudRate) { m_baudRate = baudRate; }
    std::optional<int> baudRate() const { return m_baudRate; }

    // Writes the frame, giving up after the time-out. A write cut short by the
    // time-out is not an error (the answer then fails); false on a system error.
    virtual bool write(const Bytes &frame, std::chrono::milliseconds timeout) = 0;

    // Waits up to the time-out for bytes and appends at most maxCount of them.
    // True with nothing appended when the time-out passed; false with
    // lastError() set on a system error, the port going away included.
    virtual bool readSome(Bytes &buffer, std::size_t maxCount, std::chrono::milliseconds timeout) = 0;

    // Drops whatever was received and not yet read.
    virtual void discardInput() = 0;

    // System error code of the last failed call.
    virtual std::uint32_t lastError() const = 0;

    // Makes the current and every later blocking call return at once with an
    // error. Safe to call from any thread; used to shut the worker down.
    virtual void interrupt() = 0;

private:
    std::optional<int> m_baudRate;
};

// The platform's serial port.
std::unique_ptr<ISerialPort> CreateSerialPort();

// The system name of a port: "COM16" becomes \\.\COM16 on Windows and
// /dev/COM16 elsewhere; an empty name, or one already rooted, stays as it is.
std::string DeviceName(const std::string &portName);

// True for the error code of a port that another program holds.
bool IsPortBusyError(std::uint32_t code);

// The system's message text for an error code.
std::string SystemErrorText(std::uint32_t code);

// True when buffer holds one whole frame by its length field, so reading can
// stop without waiting for the gap. A buffer that does not start with the
// start byte, or announces more than the answer buffer holds, is never complete.
bool FrameComplete(const Bytes &buffer);

// Reads one answer by the time-out rules above. False on a system error.
bool ReadAnswer(ISerialPort &port, Bytes &answer, const TLinkTimeouts &timeouts);
