#pragma once

#include "link/port.h"
#include "link/serial.h"

#include <algorithm>
#include <cerrno>
#include <thread>
#include <functional>
#include <mutex>
#include <vector>

// What the scripted line does with one request; no bytes means silence.
struct TFakeReply {
    Bytes bytes;
    std::uint32_t readError = 0; // the read fails with this code
    std::size_t pieces = 1;      // answer delivered in this many reads
};

// A scripted port. The test sets the public fields before the worker that owns
// the port starts, and reads what it recorded while that worker runs. Silence
// lasts the whole wait, as on a line where nothing comes.
class TFakeSerialPort final : public ISerialPort {
public:
    std::function<TFakeReply(const Bytes &request)> script;
    std::uint32_t openError = 0;
    Bytes stale; // a late answer of an earlier exchange, read first unless the port discards its input

    std::vector<Bytes> Requests() const
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    std::vector<std::string> OpenedNames() const
    {
        std::lock_guard lock(m_mutex);
        return m_names;
    }

    bool open(const std::string &deviceName) override
    {
        std::lock_guard lock(m_mutex);
        m_names.push_back(deviceName);
        m_lastError = openError;
        return openError == 0;
    }
    void close() override {}
    void discardInput() override { stale.clear(); }
    bool write(const Bytes &frame, std::chrono::milliseconds) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(frame);
        }
        m_reply = script ? script(frame) : TFakeReply{};
        m_delivered = 0;
        return true;
    }
    bool readSome(Bytes &buffer, std::size_t maxCount, std::chrono::milliseconds timeout) override
    {
        if (!stale.empty()) {
            buffer.insert(buffer.end(), stale.begin(), stale.end());
            stale.clear();
            return true;
        }
        if (m_reply.readError != 0) {
            m_lastError = m_reply.readError;
            return false;
        }
        if (m_delivered >= m_reply.bytes.size()) {
            std::this_thread::sleep_for(timeout);
            return true;
        }
        const std::size_t piece = std::max<std::size_t>(1, m_reply.bytes.size() / m_reply.pieces);
        const std::size_t n = std::min({piece, maxCount, m_reply.bytes.size() - m_delivered});
        const auto from = m_reply.bytes.begin() + static_cast<std::ptrdiff_t>(m_delivered);
        buffer.insert(buffer.end(), from, from + static_cast<std::ptrdiff_t>(n));
        m_delivered += n;
        return true;
    }
    std::uint32_t lastError() const override { return m_lastError; }
    void interrupt() override {} // the worker's shutdown is tested on a real port

private:
    mutable std::mutex m_mutex; // what the test reads while the worker runs
    std::vector<Bytes> m_requests;
    std::vector<std::string> m_names;
    TFakeReply m_reply;
    std::size_t m_delivered = 0;
    std::uint32_t m_lastError = 0;
};

// A frame of a command and payload.
inline Bytes Frame(std::uint8_t command, const Bytes &payload)
{
    TRawPacket packet;
    packet.Build(command, payload);
    return packet.Data();
}

// An identification answer of the given fields, low bytes first.
inline Bytes IdentAnswer(const TDeviceIdentity &identity)
{
    Bytes payload;
    for (const unsigned word : {identity.softwareVersion, identity.hardwareCode, identity.chunkSize})
        payload.insert(payload.end(), {static_cast<std::uint8_t>(word & 0xFF), static_cast<std::uint8_t>(word >> 8)});
    for (int i = 0; i < 8; ++i)
        payload.push_back(static_cast<std::uint8_t>(identity.serialNumber >> (8 * i)));
    return Frame(cmdIdentify, payload);
}
