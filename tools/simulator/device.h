#pragma once

#include "link/bytes.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

// What the simulated device is and holds.
struct TDeviceConfig {
    std::uint16_t hardwareCode = 5;
    std::uint16_t softwareVersion = 300;
    std::uint16_t chunkSize = 64;
    std::uint64_t serialNumber = 0x12345678;
    std::optional<Bytes> password; // 3 bytes; none: every password is accepted
    std::vector<Bytes> blocks;
    Bytes keyCode;                 // empty: no key is ever presented
    int keyAfterPolls = 3;         // the key shows at this poll of a key read
};

// The device's side of the protocol: one request frame in, one answer frame
// out. Thread-safe, so tests may look at the memory while a server runs.
class TSimulatedDevice {
public:
    explicit TSimulatedDevice(TDeviceConfig config = {});

    // The answer frame to a valid request frame; empty when the device keeps
    // silent (the request was not a valid frame).
    Bytes Answer(const Bytes &request);

    std::vector<Bytes> Blocks() const;
    Bytes Block(std::size_t index) const;
    void SetBlocks(std::vector<Bytes> blocks);
    void SetSerialNumber(std::uint64_t serial);
    void SetIdentity(std::uint16_t hardwareCode, std::uint16_t softwareVersion);
    void SetChunkSize(std::uint16_t chunkSize);
    void SetKey(Bytes keyCode, int afterPolls);
    TDeviceConfig Config() const;

    // How many valid requests of a command code were answered.
    int CommandCount(std::uint8_t command) const;
    void ResetCounts();

private:
    Bytes AnswerPayload(std::uint8_t command, const Bytes &payload);

    mutable std::mutex m_mutex;
    TDeviceConfig m_config;
    bool m_keyReading = false;
    int m_keyPolls = 0;
    std::map<std::uint8_t, int> m_counts;
};

// Three password bytes from up to six digits, two per byte, high digit first.
Bytes PasswordOfDigits(const std::string &digits);
