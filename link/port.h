#pragma once

#include "link/bytes.h"
#include "link/event.h"
#include "link/serial.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
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

// Message numbers of the main window (WM_USER is 1024).
inline constexpr std::uint32_t WM_PROTOCOL_VISIBLE = 1024;
inline constexpr std::uint32_t WM_DEVICE_IDENT = 1025;
inline constexpr std::uint32_t WM_STARTEDITING = 1026;

// Identification answer: software version, hardware code, chunk size (16 bits
// each, low byte first) and the 64-bit serial number.
inline constexpr std::size_t kIdentPayloadSize = 14;
// The device is present when the high word of wParam is 1.
inline constexpr std::uint32_t kIdentPresent = 0x10000;

// Posts a message to the main window; must return without waiting for it.
using TPostMessage = std::function<void(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam)>;

struct TPortOptions {
    TLinkTimeouts timeouts;
    std::chrono::milliseconds pollInterval{200};
};

// The one user of the serial port. Polls the device with the identification
// command while idle and performs one request at a time for the GUI thread.
class TPortThread {
public:
    explicit TPortThread(TPostMessage windowHandle, std::unique_ptr<ISerialPort> port = CreateSerialPort(),
                         TPortOptions options = {});
    ~TPortThread();

    TPortThread(const TPortThread &) = delete;
    TPortThread &operator=(const TPortThread &) = delete;

    // Performs one exchange and blocks until it is done. On rsOk, data holds
    // the answer data of the kind (unchanged for kinds that return none).
    std::uint8_t Request(std::uint8_t kind, std::int32_t block, std::int32_t offset, Bytes &data);
    // The same, calling whileWaiting every few milliseconds until it is done
    // (a window keeps repainting meanwhile).
    std::uint8_t Request(std::uint8_t kind, std::int32_t block, std::int32_t offset, Bytes &data,
                         const std::function<void()> &whileWaiting);

    std::uint64_t GetSerialNumber() const;

    std::string PortName() const;
    void SetPortName(std::string name);

    // System error code of the last exchange that ended in rsIoError.
    std::uint32_t LastError() const { return m_lastError.load(); }

private:
    void Execute();
    void PerformRequest();
    std::uint8_t Exchange(std::uint32_t &error);
    bool OpenPort(std::uint32_t &error);
    void ClosePort();
    void PostIdentification(std::uint8_t result, std::uint32_t error);

    TPostMessage m_windowHandle;
    std::string m_portName = "COM16";
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

    mutable std::mutex m_lock; // serial number and port name
    std::uint8_t m_serialNumber[8] = {};

    std::mutex m_requestMutex; // one requester at a time
    std::atomic<bool> m_terminated{false};
    std::thread m_thread;
};
