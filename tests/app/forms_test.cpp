// The protocol window, the key wait and window placement.
#include "app/FormSize.h"
#include "app/protocol.h"
#include "app/user_settings.h"
#include "app/wait.h"
#include "tests/app/gui_fixture.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

#include <fstream>

namespace {

class ProtocolTest : public WindowTest {};

// A window on a simulated device presenting a key, with the grid's test settings open.
class KeyWaitTest : public WindowTest {
protected:
    void Connect(Bytes key, int afterPolls)
    {
        window.reset();
        wait.reset();
        Serve({.hardwareCode = 10, .softwareVersion = 1, .keyCode = std::move(key), .keyAfterPolls = afterPolls});
        Open(ServedOptions(3600 * 1000, 200));
        wait = std::make_unique<TForm1>();
        window->SetForms(nullptr, wait.get());
        window->KeyWaitTick = std::chrono::milliseconds(30); // a second is a long time in a test
        OpenSettings(kGuiSettings);
    }

    // "Считать" on an item, as the menu would.
    void ReadKeyInto(const std::string &path)
    {
        ASSERT_EQ(window->VST1GetPopupMenu(Find(path), 0), window->PopupMenu1);
        ASSERT_EQ(window->N3->text(), "Считать");
        window->N3->trigger();
    }

    bool Waiting() const { return window->JobRunning(); }
    std::string Value(const char *path) { return window->VST1->Tree().Data(Find(path)).Value.Text(); }

    std::unique_ptr<TForm1> wait;
};

} // namespace

TEST_F(ProtocolTest, LogsSerialNumbersInHexadecimal)
{
    TfrmProtocol protocol;
    protocol.AddSerialNumber(0x12AB);
    protocol.AddSerialNumber(0);
    protocol.AddSerialNumber(0x0123456789ABCDEFULL);
    EXPECT_EQ(protocol.Memo1->toPlainText(), "000012AB\n00000000\n123456789ABCDEF");
    EXPECT_TRUE(protocol.Memo1->isReadOnly());
    EXPECT_EQ(protocol.windowTitle(), "Протокол");
    // Above the main window as its tool window, but never above the program's dialogs.
    EXPECT_FALSE(protocol.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(protocol.windowType(), Qt::Tool);
    EXPECT_TRUE(protocol.Memo1->font().fixedPitch() || QFontInfo(protocol.Memo1->font()).fixedPitch());
}

TEST_F(ProtocolTest, MenuCheckMarkFollowsTheWindow)
{
    Open(QuietOptions());
    TfrmProtocol protocol;
    window->SetForms(&protocol, nullptr);
    protocol.SetMainWindow(window.get());
    Settle();
    EXPECT_FALSE(window->mnProtocol->isChecked());
    window->mnProtocol->trigger();
    Settle();
    EXPECT_TRUE(protocol.isVisible());
    EXPECT_TRUE(window->mnProtocol->isChecked());
    protocol.close(); // its own close button hides it
    Settle();
    EXPECT_FALSE(protocol.isVisible());
    EXPECT_FALSE(window->mnProtocol->isChecked());
}

TEST_F(ProtocolTest, VisibilitySurvivesARestart)
{
    for (const bool visible : {true, false}) {
        {
            Open(QuietOptions());
            TfrmProtocol protocol;
            window->SetForms(&protocol, nullptr);
            protocol.setVisible(visible);
            window->close(); // the close query keeps the visibility
            window->SetForms(nullptr, nullptr);
        }
        EXPECT_EQ(UserSettings::ProtocolVisible(), visible);
        TfrmProtocol restored;
        EXPECT_EQ(restored.isVisible(), visible);
        Open(QuietOptions());
        window->SetForms(&restored, nullptr);
        restored.SetMainWindow(window.get());
        Settle();
        EXPECT_EQ(window->mnProtocol->isChecked(), visible);
    }
}

TEST_F(ProtocolTest, FailingToSaveTheVisibilityIsShownAndClosingGoesOn)
{
    // A folder where the settings file should be: nothing can be written there.
    const QString file = QSettings(QSettings::IniFormat, QSettings::UserScope, "configurator", "configurator").fileName();
    std::filesystem::remove(file.toStdString());
    std::filesystem::create_directories(file.toStdString());
    Open(QuietOptions());
    TfrmProtocol protocol;
    window->SetForms(&protocol, nullptr);
    EXPECT_TRUE(window->close());
    std::filesystem::remove_all(file.toStdString());
    ASSERT_EQ(plains.size(), 1u);
    EXPECT_EQ(plains[0], "Exception EConfigError: Не удалось сохранить настройки пользователя.");
    window->SetForms(nullptr, nullptr);
}

TEST_F(KeyWaitTest, KeyCodeTextByTheItemsType)
{
    const struct {
        const char *path;
        Bytes key;
        const char *text;
    } cases[] = {{"B/Ключ", {0x01, 0xA2, 0xFF}, "01A2FF"},
                 {"B/Ключ цифрами", {0x01, 0x02, 0x03}, "123"},
                 {"B/Ключ числом", {0x01, 0x02}, ""}};
    for (const auto &c : cases) {
        Connect(c.key, 2);
        ReadKeyInto(c.path);
        EXPECT_TRUE(Waiting()) << c.path;
        ASSERT_TRUE(WaitFor([&] { return wait->isVisible(); })) << c.path;
        EXPECT_FALSE(window->isEnabled()); // the main window takes no input meanwhile
        EXPECT_TRUE(wait->isEnabled());
        ASSERT_TRUE(WaitFor([&] { return !Waiting(); })) << c.path;
        EXPECT_EQ(Value(c.path), c.text) << c.path;
        EXPECT_TRUE(window->isEnabled());
        EXPECT_FALSE(wait->isVisible());
        EXPECT_EQ(device->CommandCount(cmdKeyReadPoll), 2) << c.path;
        EXPECT_EQ(device->CommandCount(cmdKeyReadStop), 1) << c.path;
        EXPECT_TRUE(errors.empty());
    }
}

TEST_F(KeyWaitTest, CancelSendsOneStopAndChangesNothing)
{
    Connect({0x01}, 1000);
    ReadKeyInto("B/Ключ");
    ASSERT_TRUE(WaitFor([&] { return device->CommandCount(cmdKeyReadPoll) >= 2; }));
    wait->Button1->click();
    // The poll on the wire ends first, however long a loaded machine takes; then one stop, and no other.
    ASSERT_TRUE(WaitFor([&] { return !Waiting() && device->CommandCount(cmdKeyReadStop) >= 1; }));
    Settle(100);
    EXPECT_TRUE(window->isEnabled());
    EXPECT_EQ(device->CommandCount(cmdKeyReadStop), 1);
    EXPECT_EQ(Value("B/Ключ"), "0102FF");
}

TEST_F(KeyWaitTest, GivesUpAtTheTenthTickWithoutACommand)
{
    Connect({0x01}, 10); // the key would show at a tenth poll, which never comes
    ReadKeyInto("B/Ключ");
    ASSERT_TRUE(WaitFor([&] { return !Waiting(); }));
    EXPECT_EQ(wait->ProgressBar1->value(), 100);
    EXPECT_EQ(device->CommandCount(cmdKeyReadPoll), 9);
    EXPECT_EQ(device->CommandCount(cmdKeyReadStop), 0);
    EXPECT_EQ(Value("B/Ключ"), "0102FF");
    EXPECT_TRUE(errors.empty());
}

TEST_F(KeyWaitTest, FailedStartShowsTheMessageAndNoDialog)
{
    Connect({0x01}, 1);
    server->SetFaultScript([](const TExchangeInfo &info) {
        return info.command == cmdKeyReadStart ? TFault::Drop : TFault::None;
    });
    ReadKeyInto("B/Ключ");
    ASSERT_TRUE(WaitFor([&] { return !Waiting(); }));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Нет связи с устройством.");
    EXPECT_FALSE(wait->isVisible());
    EXPECT_TRUE(window->isEnabled());
}

TEST_F(KeyWaitTest, RefilledTreeMeanwhileReceivesNothing)
{
    Connect({0x55, 0x66, 0x77}, 3);
    ReadKeyInto("B/Ключ");
    window->FileOpen1Accept(QString::fromStdString(dir.File("opened.cfg"))); // a new tree, new nodes
    EXPECT_EQ(window->PopupNode, nullptr);
    ASSERT_TRUE(WaitFor([&] { return !Waiting(); }));
    EXPECT_EQ(Value("B/Ключ"), "0102FF");
    EXPECT_EQ(device->CommandCount(cmdKeyReadStop), 1);
}

TEST(WaitDialog, HasNoCloseButton)
{
    TForm1 dialog;
    EXPECT_EQ(dialog.windowTitle(), "Ожидание ввода ключа");
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowSystemMenuHint);
    EXPECT_EQ(dialog.Button1->text(), "Отмена");
    EXPECT_EQ(dialog.ProgressBar1->maximum(), 100);
}

namespace {

class PlacementTest : public WindowTest {
protected:
    std::string Ini() { return dir.Read("FORM.INI"); }
    void WriteIni(const std::string &text) { std::ofstream("FORM.INI") << text; }
};

} // namespace

TEST_F(PlacementTest, DesignedPlacesFirstThenBothSectionsWithAllKeys)
{
    Open(QuietOptions());
    EXPECT_EQ(window->size(), QSize(516, 526));
    {
        TfrmProtocol protocol;
        EXPECT_EQ(protocol.size(), QSize(402, 562));
    }
    window.reset();
    QSettings ini("FORM.INI", QSettings::IniFormat);
    for (const char *section : {"frmMain", "frmProtocol"})
        for (const char *key : {"Left", "Top", "Right", "Bottom", "Maximized"})
            EXPECT_TRUE(ini.contains(QString("%1/%2").arg(section, key))) << section << "/" << key;
    EXPECT_EQ(ini.value("frmMain/Right").toInt() - ini.value("frmMain/Left").toInt(), 516);
    EXPECT_EQ(ini.value("frmMain/Maximized").toInt(), 0);
}

TEST_F(PlacementTest, RestoresAndKeepsTheWindowOnTheVirtualScreen)
{
    const struct {
        const char *what;
        const char *ini;
        QRect expected;
        bool maximized;
    } cases[] = {
        {"as saved", "[frmTest]\nLeft=100\nTop=50\nRight=500\nBottom=350\nMaximized=0\n", QRect(100, 50, 400, 300), false},
        {"past the right edge", "[frmTest]\nLeft=1000\nTop=10\nRight=2000\nBottom=310\n", QRect(280, 10, 1000, 300), false},
        {"past the bottom", "[frmTest]\nLeft=0\nTop=900\nRight=200\nBottom=1100\n", QRect(0, 824, 200, 200), false},
        {"maximized", "[frmTest]\nLeft=10\nTop=10\nRight=210\nBottom=210\nMaximized=1\n", QRect(0, 0, 1280, 1024), true},
        {"letters", "[frmTest]\nLeft=abc\nTop=20\nRight=300\nBottom=220\n", QRect(33, 20, 267, 200), false},
        {"no file section", "[other]\nLeft=5\n", QRect(33, 44, 120, 80), false},
        // A monitor that is gone, or a title bar above the screen: back in the middle of the first monitor.
        {"off every monitor", "[frmTest]\nLeft=-3000\nTop=10\nRight=-2600\nBottom=310\n", QRect(440, 362, 400, 300), false},
        {"title bar above the screen", "[frmTest]\nLeft=10\nTop=-300\nRight=410\nBottom=-100\n", QRect(440, 412, 400, 200), false},
    };
    for (const auto &c : cases) {
        WriteIni(c.ini);
        QWidget form;
        form.setObjectName("frmTest");
        form.setGeometry(33, 44, 120, 80);
        TFormSize placement(&form);
        placement.VirtualScreen = [] { return QSize(1280, 1024); };
        placement.Screens = [] { return QList<QRect>{QRect(0, 0, 1280, 1024)}; };
        placement.Loaded();
        EXPECT_EQ(form.geometry(), c.expected) << c.what;
        EXPECT_EQ(bool(form.windowState() & Qt::WindowMaximized), c.maximized) << c.what;
    }
}

TEST_F(PlacementTest, WithNothingStoredTheMainWindowIsCentredAndTheProtocolBesideIt)
{
    WriteIni("[other]\nLeft=5\n");
    TfrmMain main(QuietOptions());
    const QRect area = main.FormSize1->Screens().front();
    EXPECT_EQ(main.size(), QSize(516, 526));
    EXPECT_EQ(main.pos(), QPoint(area.left() + (area.width() - 516) / 2, area.top() + (area.height() - 526) / 2));
    TfrmProtocol protocol(&main);
    EXPECT_EQ(protocol.pos().y(), main.frameGeometry().top());
    // Beside the main window, not over it, where the monitor has room for both.
    if (area.width() >= main.width() + protocol.width() + 16)
        EXPECT_FALSE(protocol.frameGeometry().intersects(main.frameGeometry()));
    else
        EXPECT_EQ(protocol.x(), area.left());
}

TEST_F(PlacementTest, OneComponentPerFormAndOnlyOnForms)
{
    QWidget form;
    TFormSize first(&form);
    EXPECT_EQ(FailureOf([&] { TFormSize second(&form); }),
              "EFormSizeError: The form already contains a TFormSize component");
    QWidget child(&form);
    QObject plain;
    for (QObject *owner : {static_cast<QObject *>(&child), &plain})
        EXPECT_EQ(FailureOf([&] { TFormSize placement(owner); }), "EFormSizeError: Control parent must be a form!");
}

TEST_F(PlacementTest, UnwritableFileIsIgnored)
{
    // A file where the folder should be: nothing can be written there, even by root.
    std::ofstream("blocker") << "not a folder";
    Open(QuietOptions());
    window->FormSize1->SaveName = QStringLiteral(".\\blocker\\FORM.INI");
    EXPECT_NO_THROW(window.reset());
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.Path() / "blocker"));
}
