#pragma once

#include "app/vst.h"
#include "app/workflow.h"
#include "link/port.h"
#include "model/model.h"

#include <QMainWindow>
#include <QPersistentModelIndex>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QTimer;
class QToolBar;
class TfrmProtocol;
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

    // Window messages.
    void WMDeviceIdent(std::uint32_t wParam, std::uint32_t lParam);
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
    void FileSaveAs1Accept(const QString &fileName);
    // Compares the shown configuration with a settings file.
    void FileCompare1Execute();
    void FileCompare1Accept(const QString &fileName);
    void mnPortClick();
    void mnProtocolClick();

    // The key wait.
    void Timer1Timer();
    void KeyWaitCancel();

    QLabel *StatusPanel(int index) const;
    TDeviceState DeviceState() const;

    // Components.
    QToolBar *ToolBar1 = nullptr;
    TVirtualStringTree *VST1 = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *Edit1 = nullptr;
    QAction *FileOpen1 = nullptr;
    QAction *FileSaveAs1 = nullptr;
    QAction *FileCompare1 = nullptr;
    QAction *FileExit1 = nullptr;
    QAction *acRead = nullptr;
    QAction *acWrite = nullptr;
    QAction *mnProtocol = nullptr;
    QAction *mnPort = nullptr;
    QMenu *PopupMenu1 = nullptr;
    QAction *N3 = nullptr;
    QTimer *Timer1 = nullptr;
    TFormSize *FormSize1 = nullptr;

    // State.
    std::unique_ptr<TPortThread> PortThread;
    TConfigModelPtr Model;
    bool Connected = false;
    std::uint16_t ChunkSize = 0;
    std::uint16_t HardwareCode = 0;
    std::uint16_t SoftwareVersion = 0;
    std::uint64_t LastSerialNumber = 0;
    PVirtualNode PopupNode = nullptr;

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
    void SetStatus(int panel, const QString &text, bool repaint = false);
    // Runs a workflow: hourglass, no user input, status panel 0 emptied at the end.
    void RunBusy(const std::function<void()> &work);
    // Applies an identification report that came in while a workflow ran.
    void ReplayDeferredIdent();
    void ShowModel(const TConfigModelPtr &model);
    void StartKeyWait();
    void EndKeyWait();
    void KeyWaitTick();

    TMainOptions m_options;
    TPropertyEditLink *m_editLink = nullptr;
    QLabel *m_panels[2] = {nullptr, nullptr};
    TfrmProtocol *m_protocol = nullptr;
    TForm1 *m_waitDialog = nullptr;
    int m_busy = 0;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> m_deferredIdent;
    bool m_inTick = false;
};
