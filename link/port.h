#pragma once

#include "link/bytes.h"
#include "link/event.h"
#include "link/serial.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

// One link frame: start byte 0xCA, length L (16 bits, low byte first) =
// 1 + payload length, command byte, payload, CRC-8 of all bytes before it.
class TRawPacket {
public:
    static constexpr std::uint8_t kStartByte = 0xCA;
    static constexpr std::size_t kOverhead = 4;       // start byte, length, checksum
    static constexpr std::size_t kMinFrameLength = 5; // empty payload
    static constexpr std::size_t kMaxPayload = 65534;

    // Builds a request frame; returns its length.
    std::size_t Build(std::uint8_t command, const Bytes &payload);
    // Stores the checksum of all bytes but the last in the last byte.
    std::size_t SetChecksum();
    bool IsValid() const;
    // Splits a valid frame into command code and payload.
    void Decode(std::uint8_t &command, Bytes &payload) const;

    const Bytes &Data() const { return m_data; }
    void Assign(Bytes data) { m_data = std::move(data); }

private:
    Bytes m_data;
};

enum TRequestKind : std::uint8_t {
    opReadBlock = 0,
    opWriteBlock = 1,
    opKeyReadStart = 2,
    opKeyReadStop = 3,
    opKeyReadPoll = 4,
    opPassword = 5,
    // Identification on demand, for programs that cannot wait for the idle poll.
    opIdentify = 6,
};

enum TRequestResult : std::uint8_t {
    rsOk = 0,
    rsIoError = 1,
    rsBadAnswer = 2,
};

enum TCommand : std::uint8_t {
    cmdIdentify = 0,
    cmdReadBlock = 1,
    cmdWriteBlock = 2,
    cmdKeyReadStart = 8,
    cmdKeyReadStop = 10,
    cmdKeyReadPoll = 12,
    cmdPassword = 26,
};

// Identification answer: software version, hardware code, chunk size (16 bits
// each, low byte first) and the 64-bit serial number.
inline constexpr std::size_t kIdentPayloadSize = 14;

// Who answers on the port, from one identification: a value copied whole, so
// one device's version is never paired with another device's serial number.
struct TDeviceIdentity {
    bool present = false;
    std::uint16_t softwareVersion = 0;
    std::uint16_t hardwareCode = 0;
    std::uint16_t chunkSize = 0;
    std::uint64_t serialNumber = 0;
    // Why there is no device: the system's error code of the port (0 when the
    // port works but nothing usable answers), and whether another program holds it.
    std::uint32_t errorCode = 0;
    bool portBusy = false;

    // The same physical device in the same firmware: serial number, hardware code and version.
    bool SameDevice(const TDeviceIdentity &other) const
    {
        return present && other.present && serialNumber == other.serialNumber && hardwareCode == other.hardwareCode &&
               softwareVersion == other.softwareVersion;
    }
};

// Receives every identification the worker makes; must return without waiting
// for another thread (it runs on the worker).
using TIdentityReport = std::function<void(const TDeviceIdentity &identity)>;

struct TPortOptions {
    TLinkTimeouts timeouts;
    std::chrono::milliseconds pollInterval{200};
};

// The one user of the serial port. Polls the device with the identification
// command while idle and performs one request at a time for its users. The
// port stays open, and so locked against other programs, from the first
// exchange until the worker ends, the port name or speed changes or the port fails.
class TPortThread {
public:
    explicit TPortThread(TIdentityReport onIdentity, std::unique_ptr<ISerialPort> port = CreateSerialPort(),
                         TPortOptions options = {});
    ~TPortThread();

    TPortThread(const TPortThread &) = delete;
    TPortThread &operator=(const TPortThread &) = delete;

    // Performs one exchange and blocks until it is done. On rsOk, data holds
    // the answer data of the kind (unchanged for kinds that return none).
    // Any thread may call it; requests are performed one at a time.
    std::uint8_t Request(std::uint8_t kind, std::int32_t block, std::int32_t offset, Bytes &data);

    // Identifies the device now, as a request, and reports the result as an idle poll would.
    TDeviceIdentity Identify();
    // What the latest identification said.
    TDeviceIdentity Identity() const;
    // Serial number of the latest identification that found a device; kept when the device goes away.
    std::uint64_t GetSerialNumber() const;

    std::string PortName() const;
    void SetPortName(std::string name);
    // The line speed set when the port opens; none keeps the system's. A change
    // reopens the held port at the next exchange.
    std::optional<int> BaudRate() const;
    void SetBaudRate(std::optional<int> baudRate);

    // System error code of the last exchange that ended in rsIoError.
    std::uint32_t LastError() const { return m_lastError.load(); }

private:
    void Execute();
    void PerformRequest();
    std::uint8_t Exchange(std::uint32_t &error);
    bool OpenPort(std::uint32_t &error);
    void ClosePort();
    TDeviceIdentity PublishIdentity(std::uint8_t result, std::uint32_t error);

    TIdentityReport m_onIdentity;
    std::string m_portName = "COM16";
    std::optional<int> m_baudRate;
    std::string m_openName; // the device the port is open on; empty while closed
    std::optional<int> m_openBaudRate; // the speed it was opened with
    std::unique_ptr<ISerialPort> m_port;
    TPortOptions m_options;

    // Request fields, handed over by the two events.
    std::uint8_t m_kind = 0;
    std::int32_t m_block = 0;
    std::int32_t m_offset = 0;
    Bytes m_data;
    std::uint8_t m_result = rsOk;

    TRawPacket m_request;
    TRawPacket m_answer;
    TEvent m_requestEvent;
    TEvent m_doneEvent;
    std::atomic<std::uint32_t> m_lastError{0};

    mutable std::mutex m_lock; // identity, serial number, port name and speed
    TDeviceIdentity m_identity;
    std::uint64_t m_serialNumber = 0;

    std::mutex m_requestMutex; // one requester at a time
    std::atomic<bool> m_terminated{false};
    std::thread m_thread;
};
