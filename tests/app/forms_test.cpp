// The protocol window, the key wait and window placement.
#include "app/FormSize.h"
#include "app/wait.h"
#include "tests/app/gui_fixture.h"

#include <fstream>

namespace {

// A window on a simulated device that presents a key, with the grid's test settings open.
class KeyWaitTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        Serve({.hardwareCode = 10, .softwareVersion = 1, .keyCode = {0x01, 0xA2, 0xFF}, .keyAfterPolls = 2});
        Open(ServedOptions(3600 * 1000, 200));
        window->SetForms(nullptr, &wait);
        window->KeyWaitTick = std::chrono::milliseconds(30); // a second is a long time in a test
        OpenSettings(kGuiSettings);
    }
    // "Считать" on the key item, waiting until the wait is over.
    void ReadKey(const std::function<void()> &meanwhile = [] {})
    {
        ASSERT_NO_FATAL_FAILURE(PickMenuItem("B/Ключ"));
        meanwhile();
        ASSERT_TRUE(WaitFor([&] { return !window->JobRunning(); }));
        EXPECT_FALSE(wait.isVisible());
        EXPECT_TRUE(window->isEnabled());
    }

    TForm1 wait;
};

} // namespace

TEST_F(WindowTest, ProtocolWindowFollowsItsMenuItemAndReopensAsItWasLeftOrSaysItCouldNotStoreThat)
{
    // Shown through the menu, then hidden by its own close button; each next start shows it so.
    for (const bool show : {true, false}) {
        SCOPED_TRACE(show);
        TfrmProtocol protocol;
        EXPECT_EQ(protocol.isVisible(), !show);
        Open().SetForms(&protocol, nullptr);
        protocol.SetMainWindow(window.get());
        Settle();
        if (show)
            window->mnProtocol->trigger();
        else
            protocol.close();
        Settle();
        EXPECT_EQ(protocol.isVisible(), show);
        EXPECT_EQ(window->mnProtocol->isChecked(), show);
        window->close(); // the close query stores the visibility
        window->SetForms(nullptr, nullptr);
        EXPECT_EQ(UserSettings::ProtocolVisible(), show);
    }

    // Failing to store it is shown and closing goes on: a folder stands where the settings file should be.
    const QString file = QSettings(QSettings::IniFormat, QSettings::UserScope, "configurator", "configurator").fileName();
    std::filesystem::remove(file.toStdString());
    std::filesystem::create_directories(file.toStdString());
    TfrmProtocol protocol;
    Open().SetForms(&protocol, nullptr);
    EXPECT_TRUE(window->close());
    window->SetForms(nullptr, nullptr);
    std::filesystem::remove_all(file.toStdString());
    EXPECT_EQ(plains, std::vector<QString>{"Exception EConfigError: Не удалось сохранить настройки пользователя."});
}

TEST_F(KeyWaitTest, CancelDuringAPollSendsOneStopAndChangesNothingAndAnAnsweredKeyLandsInTheItemStillShown)
{
    // Unanswered polls keep a poll on the wire almost all the time.
    server->SetFaultScript([](const TExchangeInfo &info) {
        return info.command == cmdKeyReadPoll ? TFault::Drop : TFault::None;
    });
    ReadKey([&] {
        ASSERT_TRUE(WaitFor([&] { return device->CommandCount(cmdKeyReadPoll) >= 1; }));
        wait.Button1->click();
    });
    // The poll on the wire ends first, however long a loaded machine takes; then one stop, and no other.
    ASSERT_TRUE(WaitFor([&] { return device->CommandCount(cmdKeyReadStop) >= 1; }));
    Settle(100);
    EXPECT_EQ(device->CommandCount(cmdKeyReadStop), 1);
    EXPECT_EQ(Value("B/Ключ"), "0102FF");
    EXPECT_TRUE(errors.empty());

    // Answered, the key lands in the item still shown; a read without a key changes nothing.
    server->SetFaultScript(nullptr);
    ReadKey([&] {
        ASSERT_TRUE(WaitFor([&] { return wait.isVisible(); }));
        EXPECT_FALSE(window->isEnabled()); // the main window takes no input meanwhile
        EXPECT_TRUE(wait.isEnabled());
    });
    EXPECT_EQ(Value("B/Ключ"), "01A2FF");
    EXPECT_TRUE(errors.empty());
    // A new tree, new nodes: the key read meanwhile has nowhere to go.
    ReadKey([&] { window->FileOpen1Accept(QString::fromStdString(dir.File("opened.cfg"))); });
    EXPECT_EQ(window->PopupNode, nullptr);
    EXPECT_EQ(Value("B/Ключ"), "0102FF");
    device->SetKey({0x01}, 10); // the key would show at a tenth poll, which never comes
    ReadKey();
    EXPECT_EQ(informations, std::vector<QString>{kMsgNoKey});
    server->SetFaultScript([](const TExchangeInfo &info) {
        return info.command == cmdKeyReadStart ? TFault::Drop : TFault::None;
    });
    ReadKey();
    EXPECT_EQ(errors, std::vector<QString>{kMsgNoLink});
}

TEST_F(WindowTest, PlacementIsRestoredAndKeptOnTheVirtualScreen)
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
        {"no file section", "[other]\nLeft=5\n", QRect(33, 44, 120, 80), false},
        // A monitor that is gone: back in the middle of the first monitor.
        {"off every monitor", "[frmTest]\nLeft=-3000\nTop=10\nRight=-2600\nBottom=310\n", QRect(440, 362, 400, 300), false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream("FORM.INI") << c.ini;
        QWidget form;
        form.setObjectName("frmTest");
        form.setGeometry(33, 44, 120, 80);
        TFormSize placement(&form);
        placement.VirtualScreen = [] { return QSize(1280, 1024); };
        placement.Screens = [] { return QList<QRect>{QRect(0, 0, 1280, 1024)}; };
        placement.Loaded();
        EXPECT_EQ(form.geometry(), c.expected);
        EXPECT_EQ(bool(form.windowState() & Qt::WindowMaximized), c.maximized);
    }
}

TEST_F(WindowTest, WithNothingStoredTheMainWindowIsCentredAndTheProtocolBesideItAndBothAreStored)
{
    { // both windows store their places when they go
        TfrmMain main(QuietOptions());
        const QRect area = main.FormSize1->Screens().front();
        EXPECT_EQ(main.pos(), QPoint(area.left() + (area.width() - main.width()) / 2,
                                     area.top() + (area.height() - main.height()) / 2));
        // The protocol opens level with the main window's top.
        TfrmProtocol protocol(&main);
        EXPECT_EQ(protocol.pos().y(), main.frameGeometry().top());
    }
    QSettings ini("FORM.INI", QSettings::IniFormat);
    for (const char *section : {"frmMain", "frmProtocol"})
        for (const char *key : {"Left", "Top", "Right", "Bottom", "Maximized"})
            EXPECT_TRUE(ini.contains(QString("%1/%2").arg(section, key))) << section << "/" << key;
}
