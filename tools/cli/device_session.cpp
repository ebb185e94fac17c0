#include "tools/cli/device_session.h"

#include <thread>

namespace {

constexpr int kIdentifyAttempts = 5;
constexpr std::chrono::milliseconds kIdentifyPause{50};

} // namespace

TDeviceSession::TDeviceSession(const std::string &portName, std::unique_ptr<ISerialPort> port, TPortOptions options)
{
    m_port = std::make_unique<TPortThread>([this](const TDeviceIdentity &identity) { Report(identity); },
                                           std::move(port), options);
    m_port->SetPortName(portName);
}

TDeviceIdentity TDeviceSession::Identify()
{
    TDeviceIdentity identity;
    for (int attempt = 1; attempt <= kIdentifyAttempts; ++attempt) {
        if (attempt > 1)
            std::this_thread::sleep_for(kIdentifyPause);
        identity = m_port->Identify();
        if (identity.present)
            break;
    }
    return identity;
}

void TDeviceSession::Report(const TDeviceIdentity &identity)
{
    {
        std::lock_guard lock(m_mutex);
        ++m_reports;
        m_latest = identity;
    }
    m_cond.notify_all();
}

std::optional<TDeviceIdentity> TDeviceSession::NextIdent(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    const auto seen = m_reports;
    if (!m_cond.wait_for(lock, timeout, [&] { return m_reports != seen; }))
        return std::nullopt;
    return m_latest;
}
