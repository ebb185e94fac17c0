#pragma once

#include "workflow/workflow.h"

#include <QDialog>
#include <QObject>

#include <atomic>
#include <exception>
#include <functional>
#include <thread>

class QLabel;
class QProgressBar;
class QPushButton;

// Runs one device job at a time on a worker thread. The job's progress and
// its end reach the window through queued calls only; Cancel sets a flag that
// the job looks at before every request, so it ends at most one exchange later.
class TDeviceJob : public QObject {
    Q_OBJECT
public:
    using Work = std::function<void(IDeviceLink &link, const TProgress &progress)>;
    // Runs on the window's thread; failure is empty when the job succeeded.
    using Done = std::function<void(std::exception_ptr failure)>;
    using Progressed = std::function<void(const TJobProgress &progress)>;

    explicit TDeviceJob(TPortThread &port, QObject *parent = nullptr);
    // Cancels a running job and waits for the worker.
    ~TDeviceJob() override;

    bool Running() const { return m_running; }
    // The job talks to the pinned device only (see TPortLink::Pin).
    void Start(const TDeviceIdentity &pinned, Work work, Progressed progressed, Done done);
    void Cancel() { m_cancel = true; }
    bool CancelRequested() const { return m_cancel; }

private:
    void Finish(std::exception_ptr failure);

    TPortThread &m_port;
    std::atomic<bool> m_cancel{false};
    bool m_running = false;
    Done m_done;
    std::thread m_worker;
};

// The progress of a job: what is being done, a bar over the whole job and
// "Отмена". Window-modal, so the main window keeps painting but takes no input.
class TJobProgressDialog : public QDialog {
    Q_OBJECT
public:
    explicit TJobProgressDialog(QWidget *parent);

    void Show(const TJobProgress &progress);

    QLabel *Text = nullptr;
    QProgressBar *Bar = nullptr;
    QPushButton *CancelButton = nullptr;
    std::function<void()> OnCancel;

protected:
    // Escape and the window manager's close mean "Отмена".
    void reject() override;
};

// While it lives: the hourglass cursor, and no mouse or keyboard input for the
// given window and its actions (dialogs of the program still take theirs).
class TInputBlock : public QObject {
public:
    explicit TInputBlock(QWidget *window);
    ~TInputBlock() override;

protected:
    bool eventFilter(QObject *object, QEvent *event) override;

private:
    QWidget *m_window;
};
