#pragma once

#include "app/device_job.h"
#include "app/vst.h"
#include "history/history.h"
#include "workflow/workflow.h"
#include "link/port.h"
#include "model/model.h"

#include <QMainWindow>
#include <QPersistentModelIndex>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QCheckBox;
class TEditHistory;
class QLabel;
class QLineEdit;
class QMenu;
class QToolBar;
class TDeviceJob;
class TfrmProtocol;
class TInputBlock;
class TJobProgressDialog;
class TForm1;
class TFormSize;
class TPropertyEditLink;

// How the window is started; the defaults are the program's.
struct TMainOptions {
    // A port for this run only, used instead of the stored one and never stored.
    std::optional<QString> port;
    std::filesystem::path catalogueDir = ExecutableDir();
    std::function<std::unique_ptr<ISerialPort>()> portFactory = [] { return CreateSerialPort(); };
    TPortOptions portOptions;
};

// The main window: the grid, the status of the connected device, and the
// read, write, open and save commands.
class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmMain(TMainOptions options = {});
    ~TfrmMain() override;

    // The forms created after this one, which it works with.
    void SetForms(TfrmProtocol *protocol, TForm1 *waitDialog);

    // Window messages. An identification, as the port worker reports it.
    void WMDeviceIdent(const TDeviceIdentity &identity);
    void WMProtocolVisible(std::uint32_t wParam);
    void WMStartEditing(const QPersistentModelIndex &index);

    // Grid handlers.
    QString VST1GetText(PVirtualNode node, int column);
    bool VST1Editing(PVirtualNode node);
    void VST1Change(PVirtualNode node);
    QMenu *VST1GetPopupMenu(PVirtualNode node, int column);
    void VST1FreeNode(PVirtualNode node);
    void N3Click();

    // Commands.
    void acReadExecute();
    void acWriteExecute();
    void FileOpen1Execute();
    void FileOpen1Accept(const QString &fileName);
    void FileSaveAs1Execute();
    // saved runs after the file is written, once any question about values written otherwise is answered.
    void FileSaveAs1Accept(const QString &fileName, std::function<void()> saved = {});
    // Compares the shown configuration with a settings file.
    void FileCompare1Execute();
    void FileCompare1Accept(const QString &fileName);
    void mnPortClick();
    void mnHistoryClick();
    void mnHistorySettingsClick();
    void mnProtocolClick();

    // The key wait: "Отмена" of its dialog.
    void KeyWaitCancel();
    // True while a read, write or key wait runs on the worker.
    bool JobRunning() const;

    QLabel *StatusPanel(int index) const;
    TDeviceState DeviceState() const;

    // Components.
    QToolBar *ToolBar1 = nullptr;
    TVirtualStringTree *VST1 = nullptr; // the parameter grid
    QLabel *Label1 = nullptr;           // "Пароль:"
    QLineEdit *Edit1 = nullptr;         // the password sent before a read or a write
    QAction *FileOpen1 = nullptr;
    QAction *FileSaveAs1 = nullptr;
    QAction *FileCompare1 = nullptr;
    QAction *FileExit1 = nullptr;
    QAction *acRead = nullptr;
    QAction *acWrite = nullptr;
    QAction *mnProtocol = nullptr;
    QAction *mnPort = nullptr;
    QAction *EditUndo = nullptr;      // Ctrl+Z
    QAction *EditRedo = nullptr;      // Ctrl+Y
    QAction *mnExpandAll = nullptr;   // "Развернуть всё"
    QAction *mnCollapseAll = nullptr; // "Свернуть всё"
    QMenu *RecentMenu = nullptr;      // the last five settings files
    QLineEdit *FilterEdit = nullptr;  // rows whose caption or value holds this text stay
    QCheckBox *OnlyModified = nullptr; // "Только изменённые"
    TEditHistory *Edits = nullptr;    // what changed since the last read, open, save or write
    QAction *mnVerify = nullptr; // "Проверять запись": a write reads the device back and compares
    QAction *mnHistory = nullptr;         // "История...": the recorded versions of the device
    QAction *mnHistorySettings = nullptr; // "Настройки истории..."
    QMenu *PopupMenu1 = nullptr; // the grid's context menu
    QAction *N3 = nullptr; // the grid's context-menu entry: "Считать", "Добавить" or "Удалить"
    TFormSize *FormSize1 = nullptr; // keeps the window's placement in FORM.INI
    TJobProgressDialog *JobProgress = nullptr;

    // State.
    std::unique_ptr<TPortThread> PortThread;
    TConfigModelPtr Model;
    bool Connected = false;
    std::uint16_t ChunkSize = 0;
    std::uint16_t HardwareCode = 0;
    std::uint16_t SoftwareVersion = 0;
    std::uint64_t LastSerialNumber = 0;
    PVirtualNode PopupNode = nullptr;
    // The latest identification, whole.
    TDeviceIdentity Identity;
    // The settings file the grid shows, when it came from one (opened or saved).
    QString ShownFile;
    // The serial number of the device whose configuration the grid shows, when known
    // (read from it, or opened from its history).
    std::optional<std::string> ShownSerial;
    // The device whose write stopped half-way, until it is written or read in full.
    std::optional<std::uint64_t> InterruptedSerial;
    // The key wait polls once per tick.
    std::chrono::milliseconds KeyWaitTick{1000};
    // How long a job runs before its progress dialog shows.
    std::chrono::milliseconds ProgressDelay{300};

    // Sounds the system beep for a newly connected device (tests count them).
    std::function<void()> OnBeep;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void CreateActions();
    void CreateLayout();
    // Runs a command, showing any failure in the error box.
    void Guarded(const std::function<void()> &command);
    // Runs proceed at once when every value is kept as it stands; otherwise
    // after the technician confirms the list of values written otherwise.
    void ConfirmAltered(std::function<void()> proceed);
    // Encodes the configuration and starts the write on the worker.
    void StartWrite();
    void SaveSettings(const QString &fileName);
    void SetStatus(int panel, const QString &text);
    // Runs a device job on the worker: hourglass, no input to this window,
    // status panel 0 following the progress and emptied at the end, the
    // progress dialog after ProgressDelay (unless withDialog is false).
    void RunJob(const QString &title, bool withDialog, TDeviceJob::Work work, std::function<void()> succeeded,
                std::function<void(const std::exception &)> failed = nullptr);
    // Enables the commands that have something to act on.
    void UpdateActions();
    // The caption, then what the grid shows, then " *" when it is modified.
    void UpdateTitle();
    // Runs proceed once unsaved edits may go: at once when there are none,
    // else after "Сохранить изменения?" is answered Сохранить (and the save
    // succeeded) or Не сохранять; Отмена runs nothing.
    void ConfirmDiscard(std::function<void()> proceed);
    // Hides the rows the filter line and "Только изменённые" leave out.
    void ApplyFilter();
    // Puts a value document back (undo, redo) and refills the grid as it was.
    void RestoreValues(const std::string &text);
    void AddRecentFile(const QString &fileName);
    void FillRecentMenu();
    void StartRead();
    // Shows the device in the status bar, with the warning of an interrupted write.
    void ShowDeviceStatus();
    void ShowModel(const TConfigModelPtr &model);
    // Records the shown configuration in the history, in the background; a
    // failure shows as a warning in the status bar.
    void RecordHistory(THistoryAction action, std::uint64_t serialNumber, std::uint16_t firmwareVersion);
    void StartKeyWait();
    void EndKeyWait();

    TMainOptions m_options;
    TPropertyEditLink *m_editLink = nullptr;
    QLabel *m_panels[2] = {nullptr, nullptr};
    TfrmProtocol *m_protocol = nullptr;
    TForm1 *m_waitDialog = nullptr;
    TDeviceJob *m_job = nullptr;
    bool m_keyWait = false;
    bool m_closeConfirmed = false;
    QLabel *m_entryLabel = nullptr;
    QLabel *m_modifiedLabel = nullptr;
    std::unique_ptr<TInputBlock> m_inputBlock;
    // An identification that came in while a job ran; applied when it ends.
    std::optional<TDeviceIdentity> m_deferredIdent;
};
