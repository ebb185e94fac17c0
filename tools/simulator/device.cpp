#include "tools/simulator/device.h"

#include "link/port.h"

#include <stdexcept>

namespace {

Bytes echo(const Bytes &payload)
{
    return CopyBytes(payload, 0, 3);
}

void appendWord(Bytes &bytes, std::uint16_t value)
{
    const Bytes word = WordToBytes(value);
    bytes.insert(bytes.end(), word.begin(), word.end());
}

} // namespace

Bytes PasswordOfDigits(const std::string &digits)
{
    Bytes bytes(3, 0);
    for (std::size_t i = 0; i < digits.size() && i < 6; ++i) {
        const char c = digits[i];
        if (c < '0' || c > '9')
            throw std::invalid_argument("password digits expected: " + digits);
        const auto digit = static_cast<std::uint8_t>(c - '0');
        bytes[i / 2] |= (i % 2 == 0) ? static_cast<std::uint8_t>(digit << 4) : digit;
    }
    return bytes;
}

TSimulatedDevice::TSimulatedDevice(TDeviceConfig config) : m_config(std::move(config)) {}

Bytes TSimulatedDevice::Answer(const Bytes &request)
{
    TRawPacket frame;
    frame.Assign(request);
    if (!frame.IsValid())
        return {};
    std::uint8_t command = 0;
    Bytes payload;
    frame.Decode(command, payload);
    std::lock_guard lock(m_mutex);
    ++m_counts[command];
    TRawPacket answer;
    answer.Build(command, AnswerPayload(command, payload));
    return answer.Data();
}

Bytes TSimulatedDevice::AnswerPayload(std::uint8_t command, const Bytes &payload)
{
    switch (command) {
    case cmdIdentify: {
        Bytes ident;
        appendWord(ident, m_config.softwareVersion);
        appendWord(ident, m_config.hardwareCode);
        appendWord(ident, m_config.chunkSize);
        for (int i = 0; i < 8; ++i)
            ident.push_back(static_cast<std::uint8_t>(m_config.serialNumber >> (8 * i)));
        return ident;
    }
    case cmdReadBlock: {
        Bytes answer = echo(payload);
        if (payload.size() < 3)
            return answer;
        const std::size_t block = payload[0];
        const std::size_t offset = payload[1] | (std::size_t(payload[2]) << 8);
        if (block < m_config.blocks.size()) {
            const Bytes data = CopyBytes(m_config.blocks[block], offset, m_config.chunkSize);
            answer.insert(answer.end(), data.begin(), data.end());
        }
        return answer;
    }
    case cmdWriteBlock: {
        if (payload.size() < 3)
            return echo(payload);
        const std::size_t block = payload[0];
        const std::size_t offset = payload[1] | (std::size_t(payload[2]) << 8);
        if (block >= m_config.blocks.size())
            m_config.blocks.resize(block + 1);
        Bytes &memory = m_config.blocks[block];
        // A write at offset 0 begins a new image of the block.
        if (offset == 0)
            memory.clear();
        const std::size_t end = offset + payload.size() - 3;
        if (memory.size() < end)
            memory.resize(end, 0);
        std::copy(payload.begin() + 3, payload.end(), memory.begin() + static_cast<std::ptrdiff_t>(offset));
        return echo(payload);
    }
    case cmdKeyReadStart:
        m_keyReading = true;
        m_keyPolls = 0;
        return {};
    case cmdKeyReadStop:
        m_keyReading = false;
        return {};
    case cmdKeyReadPoll:
        if (m_keyReading && !m_config.keyCode.empty() && ++m_keyPolls >= m_config.keyAfterPolls)
            return m_config.keyCode;
        return {};
    case cmdPassword:
        return {static_cast<std::uint8_t>(m_config.password && payload != *m_config.password ? 1 : 0)};
    default:
        return {};
    }
}

std::vector<Bytes> TSimulatedDevice::Blocks() const
{
    std::lock_guard lock(m_mutex);
    return m_config.blocks;
}

Bytes TSimulatedDevice::Block(std::size_t index) const
{
    std::lock_guard lock(m_mutex);
    return index < m_config.blocks.size() ? m_config.blocks[index] : Bytes{};
}

void TSimulatedDevice::SetBlocks(std::vector<Bytes> blocks)
{
    std::lock_guard lock(m_mutex);
    m_config.blocks = std::move(blocks);
}

void TSimulatedDevice::SetSerialNumber(std::uint64_t serial)
{
    std::lock_guard lock(m_mutex);
    m_config.serialNumber = serial;
}

void TSimulatedDevice::SetIdentity(std::uint16_t hardwareCode, std::uint16_t softwareVersion)
{
    std::lock_guard lock(m_mutex);
    m_config.hardwareCode = hardwareCode;
    m_config.softwareVersion = softwareVersion;
}

void TSimulatedDevice::SetChunkSize(std::uint16_t chunkSize)
{
    std::lock_guard lock(m_mutex);
    m_config.chunkSize = chunkSize;
}

void TSimulatedDevice::SetKey(Bytes keyCode, int afterPolls)
{
    std::lock_guard lock(m_mutex);
    m_config.keyCode = std::move(keyCode);
    m_config.keyAfterPolls = afterPolls;
}

TDeviceConfig TSimulatedDevice::Config() const
{
    std::lock_guard lock(m_mutex);
    return m_config;
}

int TSimulatedDevice::CommandCount(std::uint8_t command) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_counts.find(command);
    return it == m_counts.end() ? 0 : it->second;
}

void TSimulatedDevice::ResetCounts()
{
    std::lock_guard lock(m_mutex);
    m_counts.clear();
}
