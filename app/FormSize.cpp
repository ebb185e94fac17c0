#include "app/FormSize.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>

#include <algorithm>

namespace {

// The form's TFormSize, so that a second one is refused.
const char *const kFormSizeProperty = "_configurator_FormSize";

int readInt(QSettings &ini, const QString &key, int fallback)
{
    bool ok = false;
    const int value = ini.value(key).toInt(&ok);
    return ok ? value : fallback;
}

} // namespace

TFormSize::TFormSize(QObject *owner) : QObject(owner)
{
    auto *form = qobject_cast<QWidget *>(owner);
    if (!form || !form->isWindow())
        throw EFormSizeError("Control parent must be a form!");
    if (form->property(kFormSizeProperty).isValid())
        throw EFormSizeError("The form already contains a TFormSize component");
    form->setProperty(kFormSizeProperty, true);
    m_form = form;
    SaveKey = form->objectName();
    VirtualScreen = [] {
        const QScreen *screen = QGuiApplication::primaryScreen();
        return screen ? screen->virtualGeometry().size() : QSize(1024, 768);
    };
    Screens = [] {
        QList<QRect> areas;
        for (const QScreen *screen : QGuiApplication::screens())
            areas.append(screen->availableGeometry());
        return areas;
    };
    m_bounds = form->geometry();
    form->installEventFilter(this);
}

TFormSize::~TFormSize()
{
    // Destroyed with its form: the form's last placement is written now.
    if (!m_saved)
        Save();
    if (m_form) {
        m_form->removeEventFilter(this);
        m_form->setProperty(kFormSizeProperty, QVariant());
    }
}

QString TFormSize::FilePath() const
{
    QString path = SaveName;
#ifndef _WIN32
    path.replace('\\', '/');
#endif
    return path;
}

void TFormSize::Loaded()
{
    if (!SavePosition && !SaveSize)
        return;
    if (SaveName.isEmpty() || SaveKey.isEmpty())
        return;
    const QRect current = m_form->geometry();
    int left = current.left();
    int top = current.top();
    int right = current.left() + current.width();
    int bottom = current.top() + current.height();

    QSettings ini(FilePath(), QSettings::IniFormat);
    ini.beginGroup(SaveKey);
    if (!ini.contains("Left") && DefaultPosition) {
        m_form->move(DefaultPosition(m_form->size()));
        m_bounds = m_form->geometry();
        return;
    }
    if (SavePosition) {
        left = readInt(ini, "Left", left);
        top = readInt(ini, "Top", top);
    }
    if (SaveSize) {
        right = readInt(ini, "Right", right);
        bottom = readInt(ini, "Bottom", bottom);
    } else {
        right = left + current.width();
        bottom = top + current.height();
    }
    const bool maximized = readInt(ini, "Maximized", m_form->isMaximized() ? 1 : 0) != 0;

    // The window stays on the virtual screen; its left and top edges are not checked.
    const QSize screen = VirtualScreen();
    if (right > screen.width()) {
        left -= right - screen.width();
        right = screen.width();
    }
    if (bottom > screen.height()) {
        top -= bottom - screen.height();
        bottom = screen.height();
    }
    if (maximized) {
        left = top = 0;
        right = screen.width();
        bottom = screen.height();
    }
    // A placement on a monitor that is gone, or with its title bar above the screen, comes back
    // onto the first monitor: a window out of reach cannot even be moved.
    const QList<QRect> screens = Screens();
    const QRect placed(left, top, right - left, bottom - top);
    constexpr int kReachable = 40; // of the title bar and the window, at least this much must be on a monitor
    const bool reachable = std::any_of(screens.begin(), screens.end(), [&](const QRect &screen) {
        return screen.contains(QPoint(placed.left() + kReachable, placed.top())) ||
               screen.intersected(placed.adjusted(0, 0, 0, kReachable - placed.height())).width() >= kReachable;
    });
    if (!screens.isEmpty() && !reachable && !maximized) {
        const QRect primary = screens.front();
        const QSize size = placed.size().boundedTo(primary.size());
        left = primary.left() + (primary.width() - size.width()) / 2;
        top = primary.top() + (primary.height() - size.height()) / 2;
        right = left + size.width();
        bottom = top + size.height();
    }
    m_form->setGeometry(left, top, right - left, bottom - top);
    if (maximized)
        m_form->setWindowState(m_form->windowState() | Qt::WindowMaximized);
    m_bounds = m_form->geometry();
    m_maximized = maximized;
}

void TFormSize::Save()
{
    m_saved = true;
    if (!SavePosition || SaveName.isEmpty() || SaveKey.isEmpty())
        return;
    // A file that cannot be written is no reason to lose anything else.
    QSettings ini(FilePath(), QSettings::IniFormat);
    ini.beginGroup(SaveKey);
    ini.setValue("Left", m_bounds.left());
    ini.setValue("Top", m_bounds.top());
    if (SaveSize) {
        ini.setValue("Right", m_bounds.left() + m_bounds.width());
        ini.setValue("Bottom", m_bounds.top() + m_bounds.height());
        ini.setValue("Maximized", m_maximized ? 1 : 0);
    }
    ini.endGroup();
    ini.sync();
}

bool TFormSize::eventFilter(QObject *object, QEvent *event)
{
    if (object == m_form) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::WindowStateChange:
            m_bounds = m_form->geometry();
            m_maximized = m_form->isMaximized();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(object, event);
}
