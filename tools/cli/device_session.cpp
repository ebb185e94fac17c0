#include "tools/cli/device_session.h"

TDeviceIdent DecodeIdent(std::uint32_t wParam, std::uint32_t lParam)
{
    TDeviceIdent ident;
    ident.chunkSize = static_cast<std::uint16_t>(wParam & 0xFFFF);
    ident.connected = ((wParam >> 16) & 0xFF) != 0;
    if (ident.connected) {
        ident.hardwareCode = static_cast<std::uint16_t>(lParam & 0xFFFF);
        ident.softwareVersion = static_cast<std::uint16_t>(lParam >> 16);
    } else {
        ident.errorCode = lParam;
    }
    return ident;
}

TDeviceSession::TDeviceSession(const std::string &portName, std::unique_ptr<ISerialPort> port, TPortOptions options)
{
    m_port = std::make_unique<TPortThread>(
        [this](std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) { Post(message, wParam, lParam); },
        std::move(port), options);
    m_port->SetPortName(portName);
}

void TDeviceSession::Post(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam)
{
    if (message != WM_DEVICE_IDENT)
        return;
    {
        std::lock_guard lock(m_mutex);
        ++m_reports;
        m_wParam = wParam;
        m_lParam = lParam;
    }
    m_cond.notify_all();
}

std::optional<TDeviceIdent> TDeviceSession::NextIdent(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    const auto seen = m_reports;
    if (!m_cond.wait_for(lock, timeout, [&] { return m_reports != seen; }))
        return std::nullopt;
    TDeviceIdent ident = DecodeIdent(m_wParam, m_lParam);
    lock.unlock();
    if (ident.connected)
        ident.serialNumber = m_port->GetSerialNumber();
    return ident;
}
