#include "link/port.h"

#include "link/crc.h"
#include "link/trace.h"

#include <algorithm>

// ---------------------------------------------------------------- TRawPacket

std::size_t TRawPacket::Build(std::uint8_t command, const Bytes &payload)
{
    const std::size_t length = payload.size() + 1;
    m_data.assign(length + kOverhead, 0);
    m_data[0] = kStartByte;
    m_data[1] = static_cast<std::uint8_t>(length & 0xFF);
    m_data[2] = static_cast<std::uint8_t>((length >> 8) & 0xFF);
    m_data[3] = command;
    std::copy(payload.begin(), payload.end(), m_data.begin() + 4);
    return SetChecksum();
}

std::size_t TRawPacket::SetChecksum()
{
    if (m_data.empty())
        return 0;
    m_data.back() = Crc8(m_data.data(), static_cast<long>(m_data.size()) - 1);
    return m_data.size();
}

bool TRawPacket::IsValid() const
{
    if (m_data.size() < kMinFrameLength || m_data[0] != kStartByte)
        return false;
    const std::size_t length = m_data[1] | (std::size_t(m_data[2]) << 8);
    if (m_data.size() - kOverhead != length)
        return false;
    return Crc8(m_data.data(), static_cast<long>(m_data.size())) == 0;
}

void TRawPacket::Decode(std::uint8_t &command, Bytes &payload) const
{
    command = m_data.size() > 3 ? m_data[3] : 0;
    const std::size_t length = m_data.size() > 2 ? (m_data[1] | (std::size_t(m_data[2]) << 8)) : 0;
    payload = length > 0 ? CopyBytes(m_data, 4, length - 1) : Bytes{};
}

// --------------------------------------------------------------- TPortThread

namespace {

// Block numbers travel as their low 8 bits, offsets as their low 16 bits.
Bytes blockAddress(std::int32_t block, std::int32_t offset)
{
    Bytes address{static_cast<std::uint8_t>(block & 0xFF)};
    const Bytes word = WordToBytes(static_cast<std::uint16_t>(offset & 0xFFFF));
    address.insert(address.end(), word.begin(), word.end());
    return address;
}

std::uint16_t wordAt(const Bytes &data, std::size_t index)
{
    return static_cast<std::uint16_t>(data[index] | (data[index + 1] << 8));
}

constexpr std::size_t kReadEchoBytes = 3; // block and offset echoed by a read answer

} // namespace

TPortThread::TPortThread(TIdentityReport onIdentity, std::unique_ptr<ISerialPort> port, TPortOptions options)
    : m_onIdentity(std::move(onIdentity)), m_port(std::move(port)), m_options(options)
{
    m_thread = std::thread([this] { Execute(); });
}

TPortThread::~TPortThread()
{
    m_terminated = true;
    m_port->interrupt();
    m_requestEvent.Set();
    if (m_thread.joinable())
        m_thread.join();
}

std::uint8_t TPortThread::Request(std::uint8_t kind, std::int32_t block, std::int32_t offset, Bytes &data)
{
    std::lock_guard requestLock(m_requestMutex);
    m_kind = kind;
    m_block = block;
    m_offset = offset;
    m_data = data;
    m_requestEvent.Set();
    m_doneEvent.Wait();
    m_doneEvent.Reset();
    if (m_result == rsOk)
        data = m_data;
    return m_result;
}

TDeviceIdentity TPortThread::Identify()
{
    Bytes none;
    Request(opIdentify, 0, 0, none);
    return Identity();
}

TDeviceIdentity TPortThread::Identity() const
{
    std::lock_guard lock(m_lock);
    return m_identity;
}

std::uint64_t TPortThread::GetSerialNumber() const
{
    std::lock_guard lock(m_lock);
    return m_serialNumber;
}

std::string TPortThread::PortName() const
{
    std::lock_guard lock(m_lock);
    return m_portName;
}

void TPortThread::SetPortName(std::string name)
{
    std::lock_guard lock(m_lock);
    m_portName = std::move(name);
}

std::optional<int> TPortThread::BaudRate() const
{
    std::lock_guard lock(m_lock);
    return m_baudRate;
}

void TPortThread::SetBaudRate(std::optional<int> baudRate)
{
    std::lock_guard lock(m_lock);
    m_baudRate = baudRate;
}

void TPortThread::Execute()
{
    while (!m_terminated) {
        if (m_requestEvent.Wait(m_options.pollInterval)) {
            m_requestEvent.Reset();
            if (m_terminated)
                break;
            PerformRequest();
            m_doneEvent.Set();
        } else {
            m_request.Build(cmdIdentify, {});
            std::uint32_t error = 0;
            const std::uint8_t result = Exchange(error);
            if (!m_terminated)
                PublishIdentity(result, error);
        }
    }
    ClosePort();
    // A requester still waiting gets a failure rather than a hang.
    m_result = rsIoError;
    m_doneEvent.Set();
}

void TPortThread::PerformRequest()
{
    std::uint32_t error = 0;
    std::uint8_t command = 0;
    Bytes payload;
    switch (m_kind) {
    case opReadBlock:
        if (TraceEnabled())
            TraceWrite("Reading block " + std::to_string(m_block) + " @" + std::to_string(m_offset));
        m_request.Build(cmdReadBlock, blockAddress(m_block, m_offset));
        m_result = Exchange(error);
        if (m_result == rsOk) {
            m_answer.Decode(command, payload);
            // An answer that echoes another block or offset belongs to an earlier request: its data is not this block's.
            const Bytes echo = blockAddress(m_block, m_offset);
            if (payload.size() >= kReadEchoBytes && !std::equal(echo.begin(), echo.end(), payload.begin()))
                m_result = rsBadAnswer;
            else
                m_data = CopyBytes(payload, kReadEchoBytes, payload.size());
        }
        break;
    case opWriteBlock: {
        Bytes request = blockAddress(m_block, m_offset);
        request.insert(request.end(), m_data.begin(), m_data.end());
        m_request.Build(cmdWriteBlock, request);
        m_result = Exchange(error);
        break;
    }
    case opKeyReadStart:
    case opKeyReadStop:
        m_request.Build(m_kind == opKeyReadStart ? cmdKeyReadStart : cmdKeyReadStop, {});
        m_result = Exchange(error);
        break;
    case opKeyReadPoll:
    case opPassword:
        m_request.Build(m_kind == opKeyReadPoll ? cmdKeyReadPoll : cmdPassword, m_kind == opPassword ? m_data : Bytes{});
        m_result = Exchange(error);
        if (m_result == rsOk) {
            m_answer.Decode(command, payload);
            m_data = std::move(payload);
        }
        break;
    case opIdentify:
        m_request.Build(cmdIdentify, {});
        m_result = Exchange(error);
        PublishIdentity(m_result, error);
        break;
    default:
        break;
    }
}

std::uint8_t TPortThread::Exchange(std::uint32_t &error)
{
    if (!OpenPort(error))
        return rsIoError;
    // Bytes that came in after an earlier exchange ended belong to no request.
    m_port->discardInput();
    if (TraceEnabled())
        TraceWrite("> " + HexDump(m_request.Data()));
    if (!m_port->write(m_request.Data(), m_options.timeouts.writeTotal)) {
        error = m_port->lastError();
        m_lastError = error;
        ClosePort();
        return rsIoError;
    }
    Bytes answer;
    answer.reserve(kAnswerBufferSize);
    if (!ReadAnswer(*m_port, answer, m_options.timeouts)) {
        error = m_port->lastError();
        m_lastError = error;
        ClosePort();
        return rsIoError;
    }
    if (TraceEnabled())
        TraceWrite("< " + HexDump(answer));
    m_answer.Assign(std::move(answer));
    return m_answer.IsValid() ? rsOk : rsBadAnswer;
}

bool TPortThread::OpenPort(std::uint32_t &error)
{
    const std::string name = DeviceName(PortName());
    const std::optional<int> baudRate = BaudRate();
    if (!m_openName.empty() && m_openName == name && m_openBaudRate == baudRate)
        return true;
    ClosePort();
    m_port->setBaudRate(baudRate);
    if (m_port->open(name)) {
        m_openName = name;
        m_openBaudRate = baudRate;
        return true;
    }
    error = m_port->lastError();
    m_lastError = error;
    return false;
}

void TPortThread::ClosePort()
{
    m_port->close();
    m_openName.clear();
}

TDeviceIdentity TPortThread::PublishIdentity(std::uint8_t result, std::uint32_t error)
{
    TDeviceIdentity identity;
    if (result == rsOk) {
        std::uint8_t command = 0;
        Bytes payload;
        m_answer.Decode(command, payload);
        const std::uint16_t chunkSize = payload.size() == kIdentPayloadSize ? wordAt(payload, 4) : 0;
        // A chunk size of 0 would never end a block read: no device to work with.
        if (chunkSize > 0) {
            identity.present = true;
            identity.softwareVersion = wordAt(payload, 0);
            identity.hardwareCode = wordAt(payload, 2);
            identity.chunkSize = chunkSize;
            for (int i = 7; i >= 0; --i)
                identity.serialNumber = (identity.serialNumber << 8) | payload[6 + static_cast<std::size_t>(i)];
        }
    } else if (result == rsIoError) {
        identity.errorCode = error;
        identity.portBusy = IsPortBusyError(error);
    }
    {
        std::lock_guard lock(m_lock);
        m_identity = identity;
        if (identity.present)
            m_serialNumber = identity.serialNumber;
    }
    if (m_onIdentity)
        m_onIdentity(identity);
    return identity;
}
