#include "app/main.h"

#include "workflow/compare.h"
#include "workflow/production.h"
#include "app/compare_dialog.h"
#include "app/error_box.h"
#include "app/FormSize.h"
#include "app/edit_history.h"
#include "app/history_dialog.h"
#include "app/port_dialog.h"
#include "app/protocol.h"
#include "app/user_settings.h"
#include "app/wait.h"
#include "editors/vteditor.h"
#include "model/errors.h"
#include "model/tools.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStatusBar>
#include <QStyle>
#include <QThreadPool>
#include <QTimer>
#include <QToolBar>
#include <QUndoStack>
#include <QVBoxLayout>

namespace {

constexpr int kWidth = 516;
constexpr int kHeight = 526;
constexpr int kPanel0Width = 250;
constexpr int kPasswordWidth = 121;
constexpr int kPasswordLength = 6;
constexpr int kProgressStep = 10;
constexpr int kValueColumn = 1;
constexpr int kRecentFiles = 5;

const QString kFileFilter = QStringLiteral("Файл CFG (*.cfg);;Все файлы (*.*)");

QString qtext(const std::string &text)
{
    return QString::fromStdString(text);
}

// The settings-file dialog, window-modal: ".cfg" by default; an existing file
// to open, or a file to save into (asking before an existing one is
// overwritten). accepted runs with the file chosen; nothing runs on Cancel.
void chooseSettingsFile(QWidget *parent, QFileDialog::AcceptMode mode, std::function<void(const QString &)> accepted)
{
    auto *dialog = new QFileDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(mode);
    dialog->setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog->setDefaultSuffix(QStringLiteral("cfg"));
    dialog->setNameFilter(kFileFilter);
    // The dialog opens in the folder used last.
    const QString folder = UserSettings::LastFolder();
    if (!folder.isEmpty())
        dialog->setDirectory(folder);
    QObject::connect(dialog, &QFileDialog::fileSelected, parent, [accepted = std::move(accepted)](const QString &file) {
        if (file.isEmpty())
            return;
        UserSettings::SetLastFolder(QFileInfo(file).absolutePath());
        accepted(file);
    });
    dialog->open();
}

} // namespace

TfrmMain::TfrmMain(TMainOptions options) : m_options(std::move(options))
{
    setObjectName("frmMain");
    setWindowTitle(QStringLiteral("Конфигуратор v6 29.06.2016"));
    resize(kWidth, kHeight);
    CreateActions();
    CreateLayout();
    OnBeep = [] { QApplication::beep(); };

    // FormCreate: the port worker polls at once; the stored port name replaces the default.
    PortThread = std::make_unique<TPortThread>(
        [this](const TDeviceIdentity &identity) {
            QMetaObject::invokeMethod(this, [this, identity] { WMDeviceIdent(identity); }, Qt::QueuedConnection);
        },
        m_options.portFactory(), m_options.portOptions);
    QString port = m_options.port ? *m_options.port : UserSettings::PortName();
    if (port.isEmpty())
        port = FirstPortName();
    if (!port.isEmpty())
        PortThread->SetPortName(port.toStdString());
    PortThread->SetBaudRate(UserSettings::BaudRate());
    Edits->Restore = [this](const std::string &text) { RestoreValues(text); };
    Edits->OnChanged = [this] {
        m_modifiedLabel->setText(Edits->ModifiedCount() > 0
                                     ? QStringLiteral("Изменено: %1").arg(Edits->ModifiedCount())
                                     : QString());
        VST1->viewport()->update();
        UpdateTitle();
        if (OnlyModified->isChecked())
            ApplyFilter();
    };
    UpdateTitle();
    m_job = new TDeviceJob(*PortThread, this);
    JobProgress = new TJobProgressDialog(this);
    JobProgress->OnCancel = [this] { m_job->Cancel(); };

    FormSize1 = new TFormSize(this);
    // Nothing stored: the designed size, in the middle of the first monitor.
    FormSize1->DefaultPosition = [this](QSize size) {
        const QList<QRect> screens = FormSize1->Screens();
        const QRect area = screens.isEmpty() ? QRect(0, 0, size.width(), size.height()) : screens.front();
        return QPoint(area.left() + (area.width() - size.width()) / 2, area.top() + (area.height() - size.height()) / 2);
    };
    FormSize1->Loaded();
}

TfrmMain::~TfrmMain()
{
    // The edit history goes with the window's children, after this window has stopped being one.
    Edits->OnChanged = nullptr;
    Edits->Restore = nullptr;
    // FormDestroy: a running job ends at its next request, then the worker
    // stops, before anything they post to is gone.
    delete m_job;
    m_job = nullptr;
    PortThread.reset();
    // Grid nodes and an open editor refer into the model's documents: they go first.
    m_editLink->CancelEdit();
    VST1->Tree().Clear();
    Model.reset();
}

void TfrmMain::SetForms(TfrmProtocol *protocol, TForm1 *waitDialog)
{
    m_protocol = protocol;
    m_waitDialog = waitDialog;
    if (m_waitDialog)
        m_waitDialog->OnCancel = [this] { KeyWaitCancel(); };
}

void TfrmMain::CreateActions()
{
    QStyle *style = QApplication::style();
    FileOpen1 = new QAction(style->standardIcon(QStyle::SP_DialogOpenButton), QStringLiteral("&Открыть..."), this);
    FileOpen1->setObjectName("FileOpen1");
    FileOpen1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    FileOpen1->setToolTip(QStringLiteral("Открыть файл настроек"));
    connect(FileOpen1, &QAction::triggered, this, &TfrmMain::FileOpen1Execute);

    FileSaveAs1 = new QAction(style->standardIcon(QStyle::SP_DialogSaveButton), QStringLiteral("&Сохранить..."), this);
    FileSaveAs1->setObjectName("FileSaveAs1");
    FileSaveAs1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    FileSaveAs1->setToolTip(QStringLiteral("Сохранить файл настроек…"));
    FileSaveAs1->setEnabled(false);
    connect(FileSaveAs1, &QAction::triggered, this, &TfrmMain::FileSaveAs1Execute);

    FileCompare1 = new QAction(QStringLiteral("Сравнить с файлом..."), this);
    FileCompare1->setObjectName("FileCompare1");
    FileCompare1->setToolTip(QStringLiteral("Сравнить настройки с файлом настроек"));
    // There is something to save or compare only once a configuration is shown.
    FileCompare1->setEnabled(false);
    connect(FileCompare1, &QAction::triggered, this, &TfrmMain::FileCompare1Execute);

    FileExit1 = new QAction(style->standardIcon(QStyle::SP_DialogCloseButton), QStringLiteral("&Выход"), this);
    FileExit1->setObjectName("FileExit1");
    connect(FileExit1, &QAction::triggered, this, &QWidget::close);

    acRead = new QAction(style->standardIcon(QStyle::SP_ArrowDown), QStringLiteral("&Прочитать"), this);
    acRead->setObjectName("acRead");
    acRead->setToolTip(QStringLiteral("Прочитать настройки"));
    acRead->setShortcut(QKeySequence(Qt::Key_F4));
    acRead->setEnabled(false);
    connect(acRead, &QAction::triggered, this, &TfrmMain::acReadExecute);

    acWrite = new QAction(style->standardIcon(QStyle::SP_ArrowUp), QStringLiteral("&Записать"), this);
    acWrite->setObjectName("acWrite");
    acWrite->setToolTip(QStringLiteral("Записать настройки"));
    acWrite->setShortcut(QKeySequence(Qt::Key_F3));
    acWrite->setEnabled(false);
    connect(acWrite, &QAction::triggered, this, &TfrmMain::acWriteExecute);

    mnProtocol = new QAction(QStringLiteral("&Протокол"), this);
    mnProtocol->setObjectName("mnProtocol");
    mnProtocol->setCheckable(true);
    // The check mark follows the protocol window, not the click.
    connect(mnProtocol, &QAction::triggered, this, [this] {
        mnProtocol->setChecked(!mnProtocol->isChecked());
        mnProtocolClick();
    });

    mnVerify = new QAction(QStringLiteral("Проверять запись"), this);
    mnVerify->setObjectName("mnVerify");
    mnVerify->setCheckable(true);
    mnVerify->setChecked(UserSettings::VerifyWrites());
    mnVerify->setToolTip(QStringLiteral("После записи прочитать устройство и сравнить с записанным"));
    connect(mnVerify, &QAction::toggled, this, [](bool verify) { UserSettings::SetVerifyWrites(verify); });

    mnHistory = new QAction(QStringLiteral("История..."), this);
    mnHistory->setObjectName("mnHistory");
    mnHistory->setToolTip(QStringLiteral("Записанные версии настроек устройства"));
    connect(mnHistory, &QAction::triggered, this, &TfrmMain::mnHistoryClick);
    mnHistorySettings = new QAction(QStringLiteral("Настройки истории..."), this);
    mnHistorySettings->setObjectName("mnHistorySettings");
    connect(mnHistorySettings, &QAction::triggered, this, &TfrmMain::mnHistorySettingsClick);

    Edits = new TEditHistory(this);
    EditUndo = Edits->Stack()->createUndoAction(this, QStringLiteral("Отменить"));
    EditUndo->setObjectName("EditUndo");
    EditUndo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    EditRedo = Edits->Stack()->createRedoAction(this, QStringLiteral("Повторить"));
    EditRedo->setObjectName("EditRedo");
    EditRedo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Y));
    // Inside an open text editor Ctrl+Z is the editor's own; here it undoes whole changes.

    mnExpandAll = new QAction(QStringLiteral("Развернуть всё"), this);
    mnExpandAll->setObjectName("mnExpandAll");
    connect(mnExpandAll, &QAction::triggered, this, [this] { VST1->expandAll(); });
    mnCollapseAll = new QAction(QStringLiteral("Свернуть всё"), this);
    mnCollapseAll->setObjectName("mnCollapseAll");
    connect(mnCollapseAll, &QAction::triggered, this, [this] { VST1->collapseAll(); });

    mnPort = new QAction(QStringLiteral("Порт..."), this);
    mnPort->setObjectName("mnPort");
    connect(mnPort, &QAction::triggered, this, &TfrmMain::mnPortClick);

    QMenu *file = menuBar()->addMenu(QStringLiteral("&Файл"));
    file->addAction(FileOpen1);
    file->addAction(FileSaveAs1);
    file->addAction(FileCompare1);
    file->addSeparator();
    RecentMenu = file->addMenu(QStringLiteral("Последние файлы"));
    RecentMenu->setObjectName("RecentMenu");
    FillRecentMenu();
    file->addSeparator();
    file->addAction(FileExit1);
    QMenu *edit = menuBar()->addMenu(QStringLiteral("&Правка"));
    edit->addAction(EditUndo);
    edit->addAction(EditRedo);
    QMenu *view = menuBar()->addMenu(QStringLiteral("&Вид"));
    view->addAction(mnProtocol);
    view->addSeparator();
    view->addAction(mnExpandAll);
    view->addAction(mnCollapseAll);
    QMenu *device = menuBar()->addMenu(QStringLiteral("&Устройство"));
    device->addAction(acRead);
    device->addAction(acWrite);
    device->addAction(mnVerify);
    device->addSeparator();
    device->addAction(mnHistory);
    device->addAction(mnHistorySettings);
    device->addSeparator();
    device->addAction(mnPort);

    ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
    ToolBar1->setObjectName("ToolBar1");
    ToolBar1->setMovable(false);
    ToolBar1->addAction(FileOpen1);
    ToolBar1->addAction(FileSaveAs1);
    ToolBar1->addSeparator();
    ToolBar1->addAction(acRead);
    ToolBar1->addAction(acWrite);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    N3 = PopupMenu1->addAction(QStringLiteral("Добавить"));
    N3->setObjectName("N3");
    N3->setToolTip(QStringLiteral("Добавить элемент в конец списка"));
    connect(N3, &QAction::triggered, this, &TfrmMain::N3Click);
}

void TfrmMain::CreateLayout()
{
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);

    auto *filterRow = new QHBoxLayout();
    filterRow->setContentsMargins(4, 2, 4, 2);
    FilterEdit = new QLineEdit(central);
    FilterEdit->setObjectName("FilterEdit");
    FilterEdit->setPlaceholderText(QStringLiteral("Фильтр: часть названия или значения"));
    FilterEdit->setClearButtonEnabled(true);
    OnlyModified = new QCheckBox(QStringLiteral("Только изменённые"), central);
    OnlyModified->setObjectName("OnlyModified");
    filterRow->addWidget(FilterEdit, 1);
    filterRow->addWidget(OnlyModified);
    layout->addLayout(filterRow);
    connect(FilterEdit, &QLineEdit::textChanged, this, [this] { ApplyFilter(); });
    connect(OnlyModified, &QCheckBox::toggled, this, [this] { ApplyFilter(); });

    VST1 = new TVirtualStringTree(central);
    TVstModel &tree = VST1->Tree();
    tree.OnModified = [this](PVirtualNode node) { return Edits->IsModified(VST1->Tree().Data(node).Value); };
    m_editLink = new TPropertyEditLink(
        tree, [&tree](const QModelIndex &index) { return tree.NodeOf(index); }, VST1);
    m_editLink->OnError = [this](const QString &message) { ShowErrorBox(this, message); };
    m_editLink->OnRefused = [this](const QString &message) {
        m_entryLabel->setText(message);
        m_entryLabel->setToolTip(message);
        m_entryLabel->setVisible(!message.isEmpty());
    };
    m_editLink->OnStored = [this](PVirtualNode node) {
        Edits->Changed(QStringLiteral("изменение \"%1\"").arg(qtext(VST1->Tree().Data(node).Caption)));
    };
    VST1->SetEditLink(m_editLink);
    connect(&tree, &TVstModel::NodesAboutToBeFreed, this, &TfrmMain::VST1FreeNode);
    connect(VST1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this, &tree](const QModelIndex &current) { VST1Change(tree.NodeOf(current)); });
    connect(VST1, &QWidget::customContextMenuRequested, this, [this, &tree](const QPoint &pos) {
        const QModelIndex index = VST1->indexAt(pos);
        if (QMenu *menu = VST1GetPopupMenu(tree.NodeOf(index), index.column()))
            menu->popup(VST1->viewport()->mapToGlobal(pos));
    });
    layout->addWidget(VST1, 1);

    auto *passwordRow = new QHBoxLayout();
    passwordRow->setContentsMargins(4, 2, 4, 2);
    Label1 = new QLabel(QStringLiteral("Пароль:"), central);
    Label1->setObjectName("Label1");
    Edit1 = new QLineEdit(central);
    Edit1->setObjectName("Edit1");
    Edit1->setFixedWidth(kPasswordWidth);
    Edit1->setMaxLength(kPasswordLength);
    // Digits only: anything else typed is dropped.
    Edit1->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), Edit1));
    passwordRow->addWidget(Label1);
    passwordRow->addWidget(Edit1);
    passwordRow->addStretch(1);
    layout->addLayout(passwordRow);
    setCentralWidget(central);

    statusBar()->setObjectName("sb");
    for (int i = 0; i < 2; ++i) {
        m_panels[i] = new QLabel(statusBar());
        m_panels[i]->setObjectName(QStringLiteral("sbPanel%1").arg(i));
    }
    m_panels[0]->setFixedWidth(kPanel0Width);
    statusBar()->addWidget(m_panels[0]);
    statusBar()->addWidget(m_panels[1], 1);
    // Why a typed value was refused; shown while the editor stays open.
    m_entryLabel = new QLabel(statusBar());
    m_entryLabel->setObjectName("sbEntry");
    m_entryLabel->setStyleSheet(QStringLiteral("color: #b00000"));
    m_entryLabel->setVisible(false);
    statusBar()->addWidget(m_entryLabel, 4);
    m_modifiedLabel = new QLabel(statusBar());
    m_modifiedLabel->setObjectName("sbModified");
    statusBar()->addPermanentWidget(m_modifiedLabel);
}

QLabel *TfrmMain::StatusPanel(int index) const
{
    return m_panels[index];
}

void TfrmMain::SetStatus(int panel, const QString &text)
{
    m_panels[panel]->setText(text);
}

bool TfrmMain::JobRunning() const
{
    return m_job && m_job->Running();
}

TDeviceState TfrmMain::DeviceState() const
{
    return {Connected, ChunkSize, HardwareCode, SoftwareVersion};
}

void TfrmMain::Guarded(const std::function<void()> &command)
{
    try {
        command();
    } catch (const EError &e) {
        // A value's failure names the parameter on a second line.
        QString text = QString::fromUtf8(e.what());
        if (!e.Where().empty())
            text = ErrorBoxText(text) + QStringLiteral("\r\n") + qtext(e.Where());
        ShowErrorBox(this, text);
    } catch (const std::exception &e) {
        ShowErrorBox(this, QString::fromUtf8(e.what()));
    }
}

// ------------------------------------------------------------------ messages

void TfrmMain::WMDeviceIdent(const TDeviceIdentity &identity)
{
    // A job in progress owns the status bar; the latest report waits for it.
    if (JobRunning()) {
        m_deferredIdent = identity;
        return;
    }
    Identity = identity;
    Connected = identity.present;
    ChunkSize = identity.chunkSize;
    UpdateActions();
    if (Connected) {
        HardwareCode = identity.hardwareCode;
        SoftwareVersion = identity.softwareVersion;
        if (identity.serialNumber != LastSerialNumber) {
            LastSerialNumber = identity.serialNumber;
            // Another device: the edits made for the one before may be wanted in a file.
            if (Model && Edits->Modified() && ShownSerial && *ShownSerial != SerialText(identity.serialNumber))
                ConfirmDiscard([] {});
            if (m_protocol)
                m_protocol->AddSerialNumber(identity.serialNumber);
            if (OnBeep)
                OnBeep();
        }
    }
    ShowDeviceStatus();
}

void TfrmMain::UpdateActions()
{
    // What has nothing to act on is not offered.
    acRead->setEnabled(Connected);
    acWrite->setEnabled(Connected && Model);
    FileSaveAs1->setEnabled(Model != nullptr);
    FileCompare1->setEnabled(Model != nullptr);
}

void TfrmMain::ShowDeviceStatus()
{
    if (Identity.present) {
        SetStatus(0, QStringLiteral("SN: %1 SW: %2")
                         .arg(QString::number(Identity.serialNumber, 16).toUpper().rightJustified(8, '0'))
                         .arg(Identity.softwareVersion));
        const bool interrupted = InterruptedSerial && *InterruptedSerial == Identity.serialNumber;
        SetStatus(1, interrupted ? QString::fromUtf8(kMsgWriteInterrupted) : QString());
    } else if (Identity.portBusy) {
        SetStatus(0, QString::fromUtf8(kMsgPortBusy));
        SetStatus(1, qtext(PortThread->PortName()));
    } else {
        SetStatus(0, QStringLiteral("Нет связи с устройством"));
        SetStatus(1, Identity.errorCode != 0 ? qtext(SystemErrorText(Identity.errorCode)) : QString());
    }
}

void TfrmMain::WMProtocolVisible(std::uint32_t wParam)
{
    mnProtocol->setChecked(wParam != 0);
}

void TfrmMain::WMStartEditing(const QPersistentModelIndex &index)
{
    if (index.isValid())
        VST1->EditNode(VST1->Tree().NodeOf(index));
}

// ---------------------------------------------------------------------- grid

QString TfrmMain::VST1GetText(PVirtualNode node, int column)
{
    return VST1->Tree().data(VST1->Tree().IndexOf(node, column)).toString();
}

bool TfrmMain::VST1Editing(PVirtualNode node)
{
    return node && (VST1->Tree().flags(VST1->Tree().IndexOf(node, kValueColumn)) & Qt::ItemIsEditable);
}

void TfrmMain::VST1Change(PVirtualNode node)
{
    if (!node)
        return;
    const TTreeData &data = VST1->Tree().Data(node);
    // A row reached by the incremental search is only selected: the next keystrokes are the search's.
    if (data.Value && data.Description && !VST1->Searching()) {
        // Editing starts once the selection change is complete.
        const QPersistentModelIndex index(VST1->Tree().IndexOf(node, kValueColumn));
        QMetaObject::invokeMethod(this, [this, index] { WMStartEditing(index); }, Qt::QueuedConnection);
    }
}

QMenu *TfrmMain::VST1GetPopupMenu(PVirtualNode node, int column)
{
    if (!node || column != 0)
        return nullptr;
    const TTreeData &data = VST1->Tree().Data(node);
    if (HasAttribute(data.Description, "readable")) {
        N3->setText(QStringLiteral("Считать"));
        N3->setData(0);
        N3->setEnabled(true);
        PopupNode = node;
        return PopupMenu1;
    }
    bool offered = false;
    Guarded([&] { offered = Model && Model->PreparePopupMenu(VST1->Tree(), node); });
    if (!offered)
        return nullptr;
    const TPopupItem &item = VST1->Tree().PopupItem();
    N3->setText(qtext(item.Caption));
    N3->setData(item.Tag);
    N3->setEnabled(item.Enabled);
    PopupNode = node;
    return PopupMenu1;
}

void TfrmMain::VST1FreeNode(PVirtualNode node)
{
    // The menu's node goes with its subtree, or with the whole tree.
    PVirtualNode popup = PopupNode;
    while (node && popup && popup != node)
        popup = popup->Parent;
    if (popup)
        PopupNode = nullptr;
}

void TfrmMain::N3Click()
{
    if (!PopupNode)
        return;
    switch (N3->data().toInt()) {
    case 0:
        Guarded([this] { StartKeyWait(); });
        break;
    case 1:
        Guarded([this] {
            if (Model)
                Model->AddArrayItem(VST1->Tree(), PopupNode);
        });
        Edits->Changed(QStringLiteral("добавление элемента"));
        ApplyFilter();
        break;
    case 2:
        Guarded([this] {
            if (Model)
                Model->DeleteArrayItem(VST1->Tree(), PopupNode);
        });
        Edits->Changed(QStringLiteral("удаление элемента"));
        ApplyFilter();
        break;
    }
}

// ------------------------------------------------------------------ commands

void TfrmMain::ShowModel(const TConfigModelPtr &model)
{
    // The new configuration shows only when its whole tree can be built.
    TConfigModelPtr previous = Model;
    Model = model;
    try {
        Model->FillTree(VST1->Tree());
    } catch (...) {
        Model = previous;
        if (Model) {
            try {
                Model->FillTree(VST1->Tree());
            } catch (...) {
                VST1->Tree().Clear();
            }
        } else {
            VST1->Tree().Clear();
        }
        throw;
    }
    // A new configuration: nothing changed yet, nothing to undo; its first level open.
    Edits->Reset(Model.get());
    VST1->expandToDepth(0);
    ApplyFilter();
    UpdateActions();
    UpdateTitle();
}

void TfrmMain::RestoreValues(const std::string &text)
{
    if (!Model)
        return;
    xml::ParseError error;
    auto document = xml::Document::Parse(text, error);
    if (!document)
        return;
    const TVirtualStringTree::TViewState state = VST1->SaveViewState();
    m_editLink->CancelEdit();
    Model->ValueDocument() = std::move(*document);
    Guarded([this] { Model->FillTree(VST1->Tree()); });
    VST1->RestoreViewState(state);
    ApplyFilter();
}

void TfrmMain::UpdateTitle()
{
    QString title = QStringLiteral("Конфигуратор v6 29.06.2016");
    if (Model) {
        if (!ShownFile.isEmpty())
            title += QStringLiteral(" — ") + QFileInfo(ShownFile).fileName();
        else if (ShownSerial)
            title += QStringLiteral(" — устройство SN ") + qtext(*ShownSerial);
        if (Edits->Modified())
            title += QStringLiteral(" *");
    }
    setWindowTitle(title);
}

void TfrmMain::ConfirmDiscard(std::function<void()> proceed)
{
    // What is being discarded cannot keep a refused entry open.
    if (!VST1->EndEditNode())
        m_editLink->CancelEdit();
    if (!Model || !Edits->Modified()) {
        proceed();
        return;
    }
    AskSaveChanges(this, [this, proceed = std::move(proceed)](TSaveAnswer answer) {
        if (answer == TSaveAnswer::Discard)
            proceed();
        if (answer != TSaveAnswer::Save)
            return;
        chooseSettingsFile(this, QFileDialog::AcceptSave, [this, proceed](const QString &fileName) {
            // The save may first ask about values written otherwise: what was asked for goes on once it is saved.
            FileSaveAs1Accept(fileName, [this, proceed] {
                if (!Edits->Modified())
                    proceed();
            });
        });
    });
}

void TfrmMain::ApplyFilter()
{
    const QString text = FilterEdit->text().trimmed();
    const bool onlyModified = OnlyModified->isChecked();
    TVstModel &tree = VST1->Tree();
    // A row stays when it matches, or when one of its descendants does.
    std::function<bool(const QModelIndex &)> visit = [&](const QModelIndex &parent) {
        bool any = false;
        for (int row = 0; row < tree.rowCount(parent); ++row) {
            const QModelIndex index = tree.index(row, 0, parent);
            PVirtualNode node = tree.NodeOf(index);
            const bool leaf = tree.rowCount(index) == 0;
            const bool childMatches = visit(index);
            const bool textMatches = text.isEmpty() ||
                                     tree.data(index).toString().contains(text, Qt::CaseInsensitive) ||
                                     tree.data(tree.IndexOf(node, kValueColumn)).toString().contains(text, Qt::CaseInsensitive);
            const bool modifiedMatches = !onlyModified || (leaf && Edits->IsModified(tree.Data(node).Value));
            const bool visible = childMatches || (textMatches && modifiedMatches && (leaf || !onlyModified));
            VST1->setRowHidden(row, parent, !visible);
            if (childMatches && (!text.isEmpty() || onlyModified))
                VST1->expand(index);
            any = any || visible;
        }
        return any;
    };
    visit(QModelIndex());
}

void TfrmMain::AddRecentFile(const QString &fileName)
{
    QStringList files = UserSettings::RecentFiles();
    const QString path = QFileInfo(fileName).absoluteFilePath();
    files.removeAll(path);
    files.prepend(path);
    while (files.size() > kRecentFiles)
        files.removeLast();
    UserSettings::SetRecentFiles(files);
    FillRecentMenu();
}

void TfrmMain::FillRecentMenu()
{
    RecentMenu->clear();
    const QStringList files = UserSettings::RecentFiles();
    for (int i = 0; i < files.size(); ++i) {
        QAction *action = RecentMenu->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(files[i]));
        connect(action, &QAction::triggered, this, [this, file = files[i]] {
            ConfirmDiscard([this, file] { FileOpen1Accept(file); });
        });
    }
    RecentMenu->setEnabled(!files.isEmpty());
}

void TfrmMain::RunJob(const QString &title, bool withDialog, TDeviceJob::Work work, std::function<void()> succeeded,
                      std::function<void(const std::exception &)> failed)
{
    m_inputBlock = std::make_unique<TInputBlock>(this);
    JobProgress->setWindowTitle(title);
    JobProgress->Show({"", title.toStdString(), 0, 1});
    JobProgress->CancelButton->setEnabled(true);
    if (withDialog) {
        QTimer::singleShot(ProgressDelay, JobProgress, [this] {
            if (JobRunning())
                JobProgress->show();
        });
    }
    const auto progressed = [this](const TJobProgress &progress) {
        if (!progress.status.empty())
            SetStatus(0, qtext(progress.status));
        JobProgress->Show(progress);
        if (m_keyWait && m_waitDialog) {
            // The device has taken the start command: the dialog shows, and the main window takes no input.
            if (!m_waitDialog->isVisible()) {
                setEnabled(false);
                m_waitDialog->setEnabled(true);
                m_waitDialog->show();
            }
            m_waitDialog->ProgressBar1->setValue(progress.done * kProgressStep);
        }
    };
    m_job->Start(Identity, std::move(work), progressed,
                 [this, succeeded = std::move(succeeded), failed = std::move(failed)](std::exception_ptr failure) {
                     JobProgress->hide();
                     m_inputBlock.reset();
                     SetStatus(0, QString());
                     try {
                         if (failure)
                             std::rethrow_exception(failure);
                         succeeded();
                     } catch (const std::exception &e) {
                         if (failed)
                             failed(e);
                         else
                             ShowErrorBox(this, QString::fromUtf8(e.what()));
                     }
                     // The status bar shows the device again, as the latest report has it.
                     WMDeviceIdent(m_deferredIdent.value_or(Identity));
                     m_deferredIdent.reset();
                 });
}

void TfrmMain::acReadExecute()
{
    if (JobRunning())
        return;
    // Reading replaces the shown configuration: its unsaved edits are asked about first.
    ConfirmDiscard([this] { StartRead(); });
}

void TfrmMain::StartRead()
{
    if (JobRunning())
        return;
    Guarded([this] {
        if (!Connected)
            throw EConfigError(kMsgNotConnected);
        auto model = std::make_shared<TConfigModelPtr>();
        const TDeviceState device = DeviceState();
        const std::uint64_t serial = Identity.serialNumber;
        const std::string password = Edit1->text().toStdString();
        const std::filesystem::path catalogue = m_options.catalogueDir;
        RunJob(
            QStringLiteral("Чтение"), true,
            [=](IDeviceLink &link, const TProgress &progress) {
                *model = ReadConfiguration(link, device, password, catalogue, progress);
            },
            [this, model, serial, firmware = device.softwareVersion] {
                ShownSerial = SerialText(serial);
                ShownFile.clear();
                ShowModel(*model);
                if (InterruptedSerial == serial)
                    InterruptedSerial.reset();
                RecordHistory(THistoryAction::Read, serial, firmware);
            });
    });
}

void TfrmMain::acWriteExecute()
{
    if (JobRunning())
        return;
    Guarded([this] {
        if (!Model)
            throw EConfigError(kMsgNoSettings);
        if (!Model->IsCompatible(HardwareCode, SoftwareVersion))
            throw EConfigError(kMsgIncompatible);
        // A refused entry stays open with its message: nothing is written until it is corrected.
        if (!VST1->EndEditNode())
            return;
        if (!DeviceState().connected || DeviceState().chunkSize == 0)
            throw EConfigError(kMsgNotConnected);
        ConfirmAltered([this] {
            if (!JobRunning())
                Guarded([this] { StartWrite(); });
        });
    });
}

void TfrmMain::StartWrite()
{
    {
        const TDeviceState device = DeviceState();
        if (!device.connected || device.chunkSize == 0)
            throw EConfigError(kMsgNotConnected);
        // Everything is encoded here, before the worker sends anything; the worker never touches the
        // shown model, and verifies against a copy of its own.
        auto plan = std::make_shared<const TWritePlan>(PlanWrite(*Model));
        TConfigModelPtr written = mnVerify->isChecked() ? CopyConfiguration(*Model, m_options.catalogueDir) : nullptr;
        const std::uint64_t serial = Identity.serialNumber;
        const std::string password = Edit1->text().toStdString();
        const std::filesystem::path catalogue = m_options.catalogueDir;
        RunJob(
            QStringLiteral("Запись"), true,
            [=](IDeviceLink &link, const TProgress &progress) {
                SendPlan(link, *plan, device, password, progress);
                if (!written)
                    return;
                try {
                    VerifyConfiguration(link, *written, device, password, catalogue, progress);
                } catch (const EJobCancelled &) {
                    throw EJobCancelled(kMsgVerifyCancelled);
                }
            },
            [this, serial, firmware = device.softwareVersion, verified = written != nullptr] {
                if (InterruptedSerial == serial)
                    InterruptedSerial.reset();
                ShownSerial = SerialText(serial);
                Edits->MarkClean(); // what the device holds now
                RecordHistory(THistoryAction::Write, serial, firmware);
                ShowInformationBox(this, QString::fromUtf8(verified ? kMsgWrittenAndVerified : kMsgWritten));
            },
            [this, serial](const std::exception &e) {
                if (dynamic_cast<const EWriteInterrupted *>(&e))
                    InterruptedSerial = serial;
                ShowErrorBox(this, QString::fromUtf8(e.what()));
            });
    }
}

void TfrmMain::ConfirmAltered(std::function<void()> proceed)
{
    const std::vector<TValueProblem> problems = CheckValues(VST1->Tree());
    if (problems.empty()) {
        proceed();
        return;
    }
    QStringList lines;
    for (const TValueProblem &problem : problems)
        lines << qtext(problem.Text());
    AskAlteredValues(this, lines.join('\n'), std::move(proceed));
}

void TfrmMain::FileOpen1Execute()
{
    ConfirmDiscard([this] {
        chooseSettingsFile(this, QFileDialog::AcceptOpen, [this](const QString &fileName) { FileOpen1Accept(fileName); });
    });
}

void TfrmMain::FileOpen1Accept(const QString &fileName)
{
    Guarded([&] {
        const TConfigModelPtr model = LoadSettingsFile(fileName.toStdString(), m_options.catalogueDir);
        ShownSerial.reset(); // a settings file names no device
        ShownFile = fileName;
        ExplainDescriptionFailure(*model, [&] { ShowModel(model); });
        AddRecentFile(fileName);
        HardwareCode = Model->GetHardwareCode();
        SoftwareVersion = Model->GetSoftwareVersion();
    });
}

void TfrmMain::FileSaveAs1Execute()
{
    chooseSettingsFile(this, QFileDialog::AcceptSave, [this](const QString &fileName) { FileSaveAs1Accept(fileName); });
}

void TfrmMain::FileSaveAs1Accept(const QString &fileName, std::function<void()> saved)
{
    if (!Model)
        return;
    if (!VST1->EndEditNode())
        return;
    ConfirmAltered([this, fileName, saved = std::move(saved)] {
        SaveSettings(fileName);
        if (saved)
            saved();
    });
}

void TfrmMain::SaveSettings(const QString &fileName)
{
    if (!Model)
        return;
    Guarded([&] {
        Model->SaveToFile(fileName.toStdString());
        ShownFile = fileName;
        Edits->MarkClean();
        AddRecentFile(fileName);
    });
    UpdateTitle();
}

void TfrmMain::FileCompare1Execute()
{
    chooseSettingsFile(this, QFileDialog::AcceptOpen,
                       [this](const QString &fileName) { FileCompare1Accept(fileName); });
}

void TfrmMain::FileCompare1Accept(const QString &fileName)
{
    if (!Model)
        return;
    if (!VST1->EndEditNode())
        m_editLink->CancelEdit();
    Guarded([&] {
        const TConfigModelPtr other = LoadSettingsFile(fileName.toStdString(), m_options.catalogueDir);
        const std::vector<TDifference> differences = CompareConfigurations(*Model, *other);
        if (differences.empty()) {
            ShowInformationBox(this, QString::fromUtf8(kMsgSameSettings));
            return;
        }
        // Modeless, so the grid stays at hand beside the list.
        auto *dialog = new TfrmCompare(this, qtext(DifferencesText(differences)));
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->show();
    });
}

void TfrmMain::mnPortClick()
{
    auto *dialog = new TPortDialog(this, QString::fromStdString(PortThread->PortName()), PortThread->BaudRate());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        const QString name = dialog->PortName();
        PortThread->SetPortName(name.toStdString());
        PortThread->SetBaudRate(dialog->BaudRate());
        UserSettings::SetPortName(name);
        UserSettings::SetBaudRate(dialog->BaudRate());
    });
    dialog->open();
}

void TfrmMain::RecordHistory(THistoryAction action, std::uint64_t serialNumber, std::uint16_t firmwareVersion)
{
    const THistoryOptions options = HistoryOptionsFromSettings();
    if (!options.enabled || !Model)
        return;
    THistoryEntry entry;
    try {
        entry.serialNumber = SerialText(serialNumber);
        entry.hardwareCode = Model->GetHardwareCode();
        entry.firmwareVersion = firmwareVersion;
        entry.descriptionFile = Model->DescriptionFile().filename().string();
        entry.action = action;
        entry.settings = Model->SettingsText();
    } catch (const std::exception &e) {
        SetStatus(1, QString::fromUtf8(e.what()));
        return;
    }
    // The device work is done: the history (and a slow shared server) never holds up the window.
    QThreadPool::globalInstance()->start([options, entry, window = QPointer<TfrmMain>(this)] {
        if (const auto warning = RecordDeviceConfiguration(options, entry))
            QMetaObject::invokeMethod(
                qApp,
                [window, text = QString::fromStdString(*warning)] {
                    if (window)
                        window->SetStatus(1, text);
                },
                Qt::QueuedConnection);
    });
}

void TfrmMain::mnHistoryClick()
{
    // The connected device, or the device whose configuration the grid shows.
    std::optional<std::string> serial = ShownSerial;
    if (Connected)
        serial = SerialText(Identity.serialNumber);
    if (!serial) {
        ShowErrorBox(this, QStringLiteral("Устройство не подключено, и показанные настройки не из его истории"));
        return;
    }
    auto *dialog = new TfrmHistory(this, HistoryOptionsFromSettings(), *serial);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    const auto opened = [this, serial](const QString &file) {
        FileOpen1Accept(file);
        if (Model) {
            ShownSerial = serial;
            ShownFile.clear();
            UpdateTitle();
        }
    };
    dialog->OnOpen = [this, opened](const QString &file) { ConfirmDiscard([opened, file] { opened(file); }); };
    dialog->OnCompare = [this](const QString &file) { FileCompare1Accept(file); };
    dialog->OnWrite = [this, opened, dialog](const QString &file) {
        opened(file);
        dialog->close();
        acWriteExecute();
    };
    dialog->show();
}

void TfrmMain::mnHistorySettingsClick()
{
    auto *dialog = new TfrmHistorySettings(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void TfrmMain::mnProtocolClick()
{
    if (m_protocol)
        m_protocol->setVisible(!m_protocol->isVisible());
}

// ------------------------------------------------------------------ key wait

void TfrmMain::StartKeyWait()
{
    if (JobRunning())
        return;
    auto result = std::make_shared<TKeyWaitResult>();
    const std::chrono::milliseconds tick = KeyWaitTick;
    m_keyWait = true;
    RunJob(
        m_waitDialog ? m_waitDialog->windowTitle() : QString(), false,
        [=](IDeviceLink &link, const TProgress &progress) { *result = WaitForKey(link, progress, tick); },
        [this, result] {
            EndKeyWait();
            if (!result->key) {
                ShowInformationBox(this, QString::fromUtf8(kMsgNoKey));
                return;
            }
            // The tree may have been refilled meanwhile: then there is no node to fill.
            if (PopupNode) {
                TTreeData &data = VST1->Tree().Data(PopupNode);
                if (data.Value)
                    data.Value.SetText(KeyCodeText(GetAttribute(data.Description, "type"), *result->key));
                VST1->Tree().InvalidateNode(PopupNode);
                Edits->Changed(QStringLiteral("код ключа"));
            }
            if (result->stopFailed)
                ShowErrorBox(this, QString::fromUtf8(kMsgNoLink));
        },
        [this](const std::exception &e) {
            EndKeyWait();
            // "Отмена" ends the wait without a word.
            if (!dynamic_cast<const EJobCancelled *>(&e))
                ShowErrorBox(this, QString::fromUtf8(e.what()));
        });
}

void TfrmMain::EndKeyWait()
{
    m_keyWait = false;
    setEnabled(true);
    if (m_waitDialog)
        m_waitDialog->hide();
}

void TfrmMain::KeyWaitCancel()
{
    if (m_waitDialog)
        m_waitDialog->setEnabled(false); // the wait ends once the device has left key-reading mode
    m_job->Cancel();
}

// ---------------------------------------------------------------- life cycle

void TfrmMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_protocol)
        m_protocol->SetMainWindow(this);
}

void TfrmMain::closeEvent(QCloseEvent *event)
{
    // A running job is cancelled first; the window closes once it has ended.
    if (JobRunning()) {
        m_job->Cancel();
        event->ignore();
        return;
    }
    // Unsaved edits are asked about; the window closes once they may go.
    if (!m_closeConfirmed && Model && Edits->Modified()) {
        event->ignore();
        ConfirmDiscard([this] {
            m_closeConfirmed = true;
            // Not from inside this close event, which is still being handled.
            QTimer::singleShot(0, this, &QWidget::close);
        });
        return;
    }
    // FormCloseQuery: the protocol window's visibility is kept; closing goes ahead in any case.
    if (m_protocol) {
        try {
            m_protocol->SaveVisibility();
        } catch (const EError &e) {
            ShowPlainBox(this, QStringLiteral("Exception %1: %2").arg(e.ClassName(), QString::fromUtf8(e.what())));
        } catch (const std::exception &e) {
            ShowPlainBox(this, QStringLiteral("Exception Exception: %1").arg(QString::fromUtf8(e.what())));
        }
    }
    event->accept();
    if (m_protocol)
        m_protocol->close();
}
