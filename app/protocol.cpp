#include "app/protocol.h"

#include "app/FormSize.h"
#include "app/main.h"
#include "app/user_settings.h"
#include "model/errors.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kWidth = 402;
constexpr int kHeight = 562;
constexpr int kFontPoints = 8;
constexpr int kGap = 8; // between the main window and this one, when placed beside it
const QString kFontFamily = QStringLiteral("Lucida Console");

// "Lucida Console", or the system's fixed font where that one is missing.
QFont memoFont()
{
    QFont font(kFontFamily, kFontPoints);
    if (QFontInfo(font).family() != kFontFamily) {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPointSize(kFontPoints);
    }
    return font;
}

} // namespace

// A tool window of the main window: above it, never above the program's dialogs and message boxes.
TfrmProtocol::TfrmProtocol(QWidget *parent) : QWidget(parent, Qt::Tool)
{
    setObjectName("frmProtocol");
    setWindowTitle(QStringLiteral("Протокол"));
    resize(kWidth, kHeight);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setReadOnly(true);
    Memo1->setFont(memoFont());
    QPalette palette = Memo1->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    Memo1->setPalette(palette);
    layout->addWidget(Memo1);

    FormSize1 = new TFormSize(this);
    // Nothing stored: beside the main window, on the side with room for it.
    FormSize1->DefaultPosition = [this](QSize size) {
        const QWidget *main = parentWidget();
        if (!main)
            return pos();
        const QRect frame = main->frameGeometry();
        const QList<QRect> screens = FormSize1->Screens();
        const QRect area = screens.isEmpty() ? frame : screens.front();
        const int right = frame.right() + 1 + kGap;
        const int x = right + size.width() <= area.right() ? right : std::max(area.left(), frame.left() - kGap - size.width());
        return QPoint(x, frame.top());
    };
    FormSize1->Loaded();

    // Restore on creation: a missing or unreadable value leaves the window hidden.
    if (const auto visible = UserSettings::ProtocolVisible())
        setVisible(*visible);
}

void TfrmProtocol::AddSerialNumber(std::uint64_t serial)
{
    Memo1->appendPlainText(QString::number(serial, 16).toUpper().rightJustified(8, '0'));
}

void TfrmProtocol::SetMainWindow(TfrmMain *mainWindow)
{
    m_mainWindow = mainWindow;
    PostVisible(isVisible());
}

void TfrmProtocol::SaveVisibility()
{
    if (!UserSettings::SetProtocolVisible(isVisible()))
        throw EConfigError("Не удалось сохранить настройки пользователя.");
}

void TfrmProtocol::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    PostVisible(true);
}

void TfrmProtocol::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    PostVisible(false);
}

void TfrmProtocol::PostVisible(bool visible)
{
    if (!m_mainWindow)
        return;
    const std::uint32_t wParam = visible ? 1 : 0;
    TfrmMain *mainWindow = m_mainWindow;
    QMetaObject::invokeMethod(mainWindow, [mainWindow, wParam] { mainWindow->WMProtocolVisible(wParam); },
                              Qt::QueuedConnection);
}
