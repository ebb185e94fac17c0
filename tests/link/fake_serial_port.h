#pragma once

#include "link/serial.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// What the scripted line does with one request.
struct TFakeReply {
    Bytes bytes;                          // the answer (may be anything)
    std::chrono::milliseconds delay{0};   // before the first byte
    bool silent = false;                  // nothing at all
    std::uint32_t readError = 0;          // the read fails with this code
    std::size_t pieces = 1;               // answer delivered in this many reads
};

// The line behind a scripted port, shared by the test and the port object the
// worker owns.
class TFakeLine {
public:
    using Script = std::function<TFakeReply(const Bytes &request)>;

    void SetScript(Script script);
    void SetOpenError(std::uint32_t code);
    // Bytes already waiting on the line (a late answer of an earlier exchange),
    // read before any answer unless the port discards its input first.
    void LeaveStale(Bytes bytes);
    // Every request written, in order.
    std::vector<Bytes> Requests() const;
    std::vector<std::chrono::steady_clock::time_point> RequestTimes() const;
    std::vector<std::string> OpenedNames() const;
    int OpenCount() const;
    void WaitForRequests(std::size_t count, std::chrono::milliseconds timeout);

private:
    friend class TFakeSerialPort;
    mutable std::mutex m_mutex;
    std::condition_variable m_cond;
    Script m_script;
    std::uint32_t m_openError = 0;
    Bytes m_stale;
    std::vector<Bytes> m_requests;
    std::vector<std::chrono::steady_clock::time_point> m_times;
    std::vector<std::string> m_names;
};

class TFakeSerialPort final : public ISerialPort {
public:
    explicit TFakeSerialPort(std::shared_ptr<TFakeLine> line) : m_line(std::move(line)) {}

    bool open(const std::string &deviceName) override;
    void close() override { m_open = false; }
    void discardInput() override;
    bool write(const Bytes &frame, std::chrono::milliseconds timeout) override;
    bool readSome(Bytes &buffer, std::size_t maxCount, std::chrono::milliseconds timeout) override;
    std::uint32_t lastError() const override { return m_lastError; }
    void interrupt() override;

private:
    bool sleepFor(std::chrono::milliseconds duration); // false when interrupted, with the error set

    std::shared_ptr<TFakeLine> m_line;
    bool m_open = false;
    TFakeReply m_reply;
    std::size_t m_delivered = 0;
    std::uint32_t m_lastError = 0;
    std::mutex m_sleepMutex;
    std::condition_variable m_sleepCond;
    bool m_interrupted = false;
};

// An identification answer of the given fields.
Bytes IdentAnswer(std::uint16_t sw, std::uint16_t hw, std::uint16_t chunk, std::uint64_t serial);
// A frame of a command and payload.
Bytes Frame(std::uint8_t command, const Bytes &payload);
