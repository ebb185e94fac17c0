#include "app/gui_link.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>

namespace {

void keepRepainting()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

} // namespace

std::uint8_t TWindowLink::Request(std::uint8_t kind, std::int32_t block, std::int32_t offset, Bytes &data)
{
    return m_port.Request(kind, block, offset, data, keepRepainting);
}

void TWindowLink::Pause(std::chrono::milliseconds duration)
{
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

TBusyScope::TBusyScope()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    qApp->installEventFilter(this);
}

TBusyScope::~TBusyScope()
{
    qApp->removeEventFilter(this);
    QApplication::restoreOverrideCursor();
}

bool TBusyScope::eventFilter(QObject *, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::Close:
        return true;
    default:
        return false;
    }
}
