#pragma once

#include "app/workflow.h"

#include <QObject>

// The port as the window uses it: while a request runs or the pause before
// it passes, the window keeps repainting and answering the window system, and
// takes no user input.
class TWindowLink : public IDeviceLink {
public:
    explicit TWindowLink(TPortThread &port) : m_port(port) {}
    std::uint8_t Request(std::uint8_t kind, std::int32_t block, std::int32_t offset, Bytes &data) override;
    void Pause(std::chrono::milliseconds duration) override;

private:
    TPortThread &m_port;
};

// While it lives: the hourglass cursor, and no mouse or keyboard input for
// any window of the program.
class TBusyScope : public QObject {
public:
    TBusyScope();
    ~TBusyScope() override;

protected:
    bool eventFilter(QObject *object, QEvent *event) override;
};
