#include "tests/app/gui_fixture.h"

#include "app/port_dialog.h"

// Where the shared device descriptions and settings files of these tests lie.
const std::filesystem::path kGuiData = GUI_DATA_DIR;

const std::string kGuiSettings = ReadFile(kGuiData / "gui.cfg");
const std::string kGuiXmlSettings = ReadFile(kGuiData / "guixml.cfg");

void WindowTest::SetUp()
{
    previousDir = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    RegisterConfigModels();
    QSettings(QSettings::IniFormat, QSettings::UserScope, "configurator", "configurator").clear();
    SetMessageBoxHandler([this](TBoxKind kind, const QString &text) {
        (kind == TBoxKind::Error ? errors : kind == TBoxKind::Information ? informations : plains).push_back(text);
    });
    SetSaveQuestionHandler([this](const QString &question) {
        questions.push_back(question);
        return answer;
    });
    for (const char *description : {"gui.xml", "guixml.xml"})
        std::filesystem::copy_file(kGuiData / description, dir.Path() / description);
}

void WindowTest::TearDown()
{
    window.reset();
    SetMessageBoxHandler({});
    SetSaveQuestionHandler({});
    SetPortListerForTest({});
    Settle();
    std::filesystem::current_path(previousDir);
}

TMainOptions WindowTest::QuietOptions() const
{
    TMainOptions options;
    options.catalogueDir = dir.Path();
    options.portOptions.pollInterval = std::chrono::hours(1);
    return options;
}

TMainOptions WindowTest::ServedOptions(int pollMilliseconds, int readMilliseconds) const
{
    TMainOptions options = QuietOptions();
    options.port = QString::fromStdString(server->PortPath());
    options.portOptions.pollInterval = std::chrono::milliseconds(pollMilliseconds);
    options.portOptions.timeouts.readTotal = std::chrono::milliseconds(readMilliseconds);
    return options;
}

TfrmMain &WindowTest::Open(TMainOptions options)
{
    window = std::make_unique<TfrmMain>(std::move(options));
    window->show();
    Settle();
    return *window;
}

void WindowTest::OpenSettings(const std::string &text)
{
    if (!window)
        Open();
    window->FileOpen1Accept(QString::fromStdString(dir.Write("opened.cfg", text)));
}

PVirtualNode WindowTest::Find(const std::string &path)
{
    TVstModel &tree = window->VST1->Tree();
    PVirtualNode node = nullptr;
    for (const QString &caption : QString::fromStdString(path).split('/')) {
        int i = 0;
        while (i < tree.ChildCount(node) && tree.Data(tree.Child(node, i)).Caption != caption.toStdString())
            ++i;
        if (i == tree.ChildCount(node)) {
            ADD_FAILURE() << "no node " << path;
            return nullptr;
        }
        node = tree.Child(node, i);
    }
    return node;
}

QString WindowTest::Cell(const std::string &path, int column)
{
    return window->VST1->Tree().data(window->VST1->Tree().IndexOf(Find(path), column)).toString();
}

QWidget *WindowTest::StartEditing(PVirtualNode node)
{
    TVstModel &tree = window->VST1->Tree();
    // Selecting the row opens its editor; a row already selected is edited again directly.
    if (window->VST1->currentIndex() == tree.IndexOf(node, 1))
        window->VST1->EditNode(node);
    else
        window->VST1->setCurrentIndex(tree.IndexOf(node, 1));
    WaitFor([&] { return window->VST1->EditLink()->EditedNode() == node; }, 2000);
    return window->VST1->EditLink()->Editor();
}

QWidget *WindowTest::Type(const std::string &path, const QString &text)
{
    QWidget *editor = StartEditing(Find(path));
    if (auto *edit = qobject_cast<QLineEdit *>(editor))
        edit->setText(text);
    else if (auto *spin = qobject_cast<TIntSpinEdit *>(editor))
        spin->SetText(text);
    else if (auto *list = qobject_cast<QComboBox *>(editor))
        list->setCurrentIndex(list->findText(text));
    else
        ADD_FAILURE() << path << " has no editor";
    return editor;
}

void WindowTest::Enter(QWidget *editor)
{
    if (editor)
        QTest::keyClick(editor, Qt::Key_Return);
    Settle();
}

void WindowTest::PickMenuItem(const std::string &path)
{
    ASSERT_EQ(window->VST1GetPopupMenu(Find(path), 0), window->PopupMenu1) << path;
    window->N3->trigger();
}

bool WindowTest::WaitFor(const std::function<bool()> &condition, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

void WindowTest::Trigger(QAction *action)
{
    action->trigger();
    ASSERT_TRUE(WaitFor([&] { return !window->JobRunning(); }, 30000));
}
