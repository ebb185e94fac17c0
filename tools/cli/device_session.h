#pragma once

#include "link/port.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

// The port worker for a program without a window: identification on demand,
// and the idle poll's reports collected to be waited for.
class TDeviceSession {
public:
    explicit TDeviceSession(const std::string &portName, std::unique_ptr<ISerialPort> port = CreateSerialPort(),
                            TPortOptions options = {});

    // Asks the device at once, up to five times 50 ms apart, as a read repeats
    // a request; the last answer's identity when none names a device.
    TDeviceIdentity Identify();

    // Waits for the next identification report after this call.
    std::optional<TDeviceIdentity> NextIdent(std::chrono::milliseconds timeout);

    TPortThread &Port() { return *m_port; }

private:
    void Report(const TDeviceIdentity &identity);

    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::uint64_t m_reports = 0;
    TDeviceIdentity m_latest;
    std::unique_ptr<TPortThread> m_port; // last: stops before the fields above go
};
