#include "app/device_job.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

TDeviceJob::TDeviceJob(TPortThread &port, QObject *parent) : QObject(parent), m_port(port) {}

TDeviceJob::~TDeviceJob()
{
    m_cancel = true;
    if (m_worker.joinable())
        m_worker.join();
}

void TDeviceJob::Start(const TDeviceIdentity &pinned, Work work, Progressed progressed, Done done)
{
    if (m_worker.joinable())
        m_worker.join(); // the previous job has ended: its Finish has run
    m_cancel = false;
    m_running = true;
    m_done = std::move(done);
    m_worker = std::thread([this, pinned, work = std::move(work), progressed = std::move(progressed)] {
        TPortLink link(m_port, &m_cancel);
        if (pinned.present)
            link.Pin(pinned);
        const TProgress progress = [this, progressed](const TJobProgress &value) {
            if (progressed)
                QMetaObject::invokeMethod(this, [progressed, value] { progressed(value); }, Qt::QueuedConnection);
        };
        std::exception_ptr failure;
        try {
            work(link, progress);
        } catch (...) {
            failure = std::current_exception();
        }
        QMetaObject::invokeMethod(this, [this, failure] { Finish(failure); }, Qt::QueuedConnection);
    });
}

void TDeviceJob::Finish(std::exception_ptr failure)
{
    m_running = false;
    if (m_worker.joinable())
        m_worker.join();
    const Done done = std::move(m_done);
    m_done = nullptr;
    if (done)
        done(failure);
}

// ------------------------------------------------------------------ dialog

TJobProgressDialog::TJobProgressDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName("JobProgress");
    setWindowModality(Qt::WindowModal);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setMinimumWidth(360);
    auto *layout = new QVBoxLayout(this);
    Text = new QLabel(this);
    Bar = new QProgressBar(this);
    Bar->setTextVisible(false);
    CancelButton = new QPushButton(QStringLiteral("Отмена"), this);
    connect(CancelButton, &QPushButton::clicked, this, &TJobProgressDialog::reject);
    auto *buttons = new QHBoxLayout();
    buttons->addStretch(1);
    buttons->addWidget(CancelButton);
    layout->addWidget(Text);
    layout->addWidget(Bar);
    layout->addLayout(buttons);
}

void TJobProgressDialog::Show(const TJobProgress &progress)
{
    if (!progress.text.empty())
        Text->setText(QString::fromStdString(progress.text));
    Bar->setRange(0, std::max(progress.total, 1));
    Bar->setValue(std::min(progress.done, Bar->maximum()));
}

void TJobProgressDialog::reject()
{
    // The dialog stays until the job has ended; the button says the click was taken.
    CancelButton->setEnabled(false);
    if (OnCancel)
        OnCancel();
}

// --------------------------------------------------------------- input block

TInputBlock::TInputBlock(QWidget *window) : m_window(window)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    qApp->installEventFilter(this);
}

TInputBlock::~TInputBlock()
{
    qApp->removeEventFilter(this);
    QApplication::restoreOverrideCursor();
}

bool TInputBlock::eventFilter(QObject *object, QEvent *event)
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
        break;
    default:
        return false;
    }
    if (auto *widget = qobject_cast<QWidget *>(object))
        return widget->window() == m_window;
    // The window's actions are reached by their shortcuts.
    return qobject_cast<QAction *>(object) != nullptr && object->parent() == m_window;
}
