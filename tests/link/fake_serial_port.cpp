#include "tests/link/fake_serial_port.h"

#include "link/port.h"

#include <algorithm>

void TFakeLine::SetScript(Script script)
{
    std::lock_guard lock(m_mutex);
    m_script = std::move(script);
}

void TFakeLine::SetOpenError(std::uint32_t code)
{
    std::lock_guard lock(m_mutex);
    m_openError = code;
}

void TFakeLine::LeaveStale(Bytes bytes)
{
    std::lock_guard lock(m_mutex);
    m_stale = std::move(bytes);
}

std::vector<Bytes> TFakeLine::Requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::vector<std::chrono::steady_clock::time_point> TFakeLine::RequestTimes() const
{
    std::lock_guard lock(m_mutex);
    return m_times;
}

std::vector<std::string> TFakeLine::OpenedNames() const
{
    std::lock_guard lock(m_mutex);
    return m_names;
}

int TFakeLine::OpenCount() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_names.size());
}

void TFakeLine::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    m_cond.wait_for(lock, timeout, [&] { return m_requests.size() >= count; });
}

bool TFakeSerialPort::open(const std::string &deviceName)
{
    std::lock_guard lock(m_line->m_mutex);
    m_line->m_names.push_back(deviceName);
    if (m_line->m_openError != 0) {
        m_lastError = m_line->m_openError;
        return false;
    }
    m_open = true;
    return true;
}

void TFakeSerialPort::discardInput()
{
    std::lock_guard lock(m_line->m_mutex);
    m_line->m_stale.clear();
}

bool TFakeSerialPort::write(const Bytes &frame, std::chrono::milliseconds)
{
    TFakeLine::Script script;
    {
        std::lock_guard lock(m_line->m_mutex);
        m_line->m_requests.push_back(frame);
        m_line->m_times.push_back(std::chrono::steady_clock::now());
        script = m_line->m_script;
    }
    m_line->m_cond.notify_all();
    m_reply = script ? script(frame) : TFakeReply{.silent = true};
    m_delivered = 0;
    return true;
}

bool TFakeSerialPort::readSome(Bytes &buffer, std::size_t maxCount, std::chrono::milliseconds timeout)
{
    {
        std::lock_guard lock(m_line->m_mutex);
        if (!m_line->m_stale.empty()) {
            buffer.insert(buffer.end(), m_line->m_stale.begin(), m_line->m_stale.end());
            m_line->m_stale.clear();
            return true;
        }
    }
    if (m_reply.readError != 0) {
        m_lastError = m_reply.readError;
        return false;
    }
    if (m_reply.silent || m_delivered >= m_reply.bytes.size())
        return sleepFor(timeout);
    if (m_reply.delay > timeout) {
        m_reply.delay -= timeout;
        return sleepFor(timeout);
    }
    if (!sleepFor(m_reply.delay))
        return false;
    m_reply.delay = std::chrono::milliseconds(0);
    const std::size_t piece = std::max<std::size_t>(1, m_reply.bytes.size() / std::max<std::size_t>(1, m_reply.pieces));
    const std::size_t n = std::min({piece, maxCount, m_reply.bytes.size() - m_delivered});
    buffer.insert(buffer.end(), m_reply.bytes.begin() + static_cast<std::ptrdiff_t>(m_delivered),
                  m_reply.bytes.begin() + static_cast<std::ptrdiff_t>(m_delivered + n));
    m_delivered += n;
    return true;
}

void TFakeSerialPort::interrupt()
{
    {
        std::lock_guard lock(m_sleepMutex);
        m_interrupted = true;
    }
    m_sleepCond.notify_all();
}

bool TFakeSerialPort::sleepFor(std::chrono::milliseconds duration)
{
    std::unique_lock lock(m_sleepMutex);
    if (!m_sleepCond.wait_for(lock, duration, [this] { return m_interrupted; }))
        return true;
    m_lastError = 125; // ECANCELED
    return false;
}

Bytes Frame(std::uint8_t command, const Bytes &payload)
{
    TRawPacket packet;
    packet.Build(command, payload);
    return packet.Data();
}

Bytes IdentAnswer(std::uint16_t sw, std::uint16_t hw, std::uint16_t chunk, std::uint64_t serial)
{
    Bytes payload;
    for (std::uint16_t word : {sw, hw, chunk}) {
        const Bytes bytes = WordToBytes(word);
        payload.insert(payload.end(), bytes.begin(), bytes.end());
    }
    for (int i = 0; i < 8; ++i)
        payload.push_back(static_cast<std::uint8_t>(serial >> (8 * i)));
    return Frame(cmdIdentify, payload);
}
