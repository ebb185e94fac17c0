#pragma once

#include "link/port.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

// What one identification report said.
struct TDeviceIdent {
    bool connected = false;
    std::uint16_t chunkSize = 0;
    std::uint16_t hardwareCode = 0;
    std::uint16_t softwareVersion = 0;
    std::uint64_t serialNumber = 0;
    std::uint32_t errorCode = 0; // system error when not connected
};

// Decodes WM_DEVICE_IDENT's parameters (the serial number comes separately).
TDeviceIdent DecodeIdent(std::uint32_t wParam, std::uint32_t lParam);

// The port worker with its identification reports collected for a program
// without a window: the reports are queued and waited for.
class TDeviceSession {
public:
    explicit TDeviceSession(const std::string &portName, std::unique_ptr<ISerialPort> port = CreateSerialPort(),
                            TPortOptions options = {});

    // Waits for the next identification report after this call.
    std::optional<TDeviceIdent> NextIdent(std::chrono::milliseconds timeout);

    TPortThread &Port() { return *m_port; }

private:
    void Post(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam);

    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::uint64_t m_reports = 0;
    std::uint32_t m_wParam = 0;
    std::uint32_t m_lParam = 0;
    std::unique_ptr<TPortThread> m_port; // last: stops before the fields above go
};
