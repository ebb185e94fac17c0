#pragma once

// The port worker as the production line's session: its identification
// reports and its link. Header-only, so the tests use it without the program.

#include "workflow/production.h"
#include "tools/cli/device_session.h"

class TPortSession : public IDeviceSession {
public:
    explicit TPortSession(const std::string &portName, std::unique_ptr<ISerialPort> port = CreateSerialPort(),
                          TPortOptions options = {})
        : m_session(portName, std::move(port), options), m_link(m_session.Port())
    {
    }

    std::optional<TDeviceReport> NextReport(std::chrono::milliseconds timeout) override
    {
        const auto ident = m_session.NextIdent(timeout);
        if (!ident)
            return std::nullopt;
        return TDeviceReport{StateOf(*ident), ident->serialNumber, *ident};
    }

    IDeviceLink &Link() override { return m_link; }
    TDeviceSession &Session() { return m_session; }

private:
    TDeviceSession m_session;
    TPortLink m_link;
};
