#include "app/error_box.h"
#include "app/port_dialog.h"
#include "app/protocol.h"
#include "app/translations.h"
#include "app/user_settings.h"
#include "app/wait.h"
#include "tests/app/gui_fixture.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <cerrno>

TEST_F(WindowTest, StartsWithTheDesignedLayout)
{
    TfrmMain &w = Open(QuietOptions());
    EXPECT_EQ(w.windowTitle(), "Конфигуратор v6 29.06.2016");
    EXPECT_FALSE(w.acRead->isEnabled());
    EXPECT_FALSE(w.acWrite->isEnabled());
    EXPECT_EQ(w.acRead->shortcut(), QKeySequence(Qt::Key_F4));
    EXPECT_EQ(w.acWrite->shortcut(), QKeySequence(Qt::Key_F3));
    EXPECT_EQ(w.FileOpen1->shortcut(), QKeySequence("Ctrl+O"));
    EXPECT_EQ(w.FileSaveAs1->shortcut(), QKeySequence("Ctrl+S"));
    EXPECT_EQ(w.VST1->Tree().headerData(0, Qt::Horizontal).toString(), "Параметр");
    EXPECT_EQ(w.VST1->Tree().headerData(1, Qt::Horizontal).toString(), "Значение");
    EXPECT_EQ(w.N3->text(), "Добавить");
    EXPECT_EQ(w.KeyWaitTick, std::chrono::seconds(1));
    EXPECT_TRUE(w.StatusPanel(0)->text().isEmpty());
}

TEST_F(WindowTest, PasswordFieldTakesSixDigitsOnly)
{
    TfrmMain &w = Open(QuietOptions());
    QTest::keyClicks(w.Edit1, "12a3-45678");
    EXPECT_EQ(w.Edit1->text(), "123456");
    QTest::keyClick(w.Edit1, Qt::Key_Backspace);
    EXPECT_EQ(w.Edit1->text(), "12345");
}

TEST_F(WindowTest, StatusBarFollowsIdentificationReports)
{
    TfrmMain &w = Open(QuietOptions());
    int beeps = 0;
    w.OnBeep = [&] { ++beeps; };

    w.WMDeviceIdent({.errorCode = ENOENT});
    EXPECT_EQ(w.StatusPanel(0)->text(), "Нет связи с устройством");
    EXPECT_EQ(w.StatusPanel(1)->text(), QString::fromStdString(SystemErrorText(ENOENT)));
    EXPECT_FALSE(w.acRead->isEnabled());

    // Serial number 0 is what the window starts with: no beep for it.
    w.WMDeviceIdent({.present = true, .softwareVersion = 300, .hardwareCode = 5, .chunkSize = 64});
    EXPECT_EQ(w.StatusPanel(0)->text(), "SN: 00000000 SW: 300");
    EXPECT_TRUE(w.Connected);
    EXPECT_TRUE(w.acRead->isEnabled());
    EXPECT_FALSE(w.acWrite->isEnabled()); // nothing to write yet
    EXPECT_EQ(w.ChunkSize, 64);
    EXPECT_EQ(w.HardwareCode, 5);
    EXPECT_EQ(w.SoftwareVersion, 300);
    EXPECT_EQ(beeps, 0);
    EXPECT_TRUE(w.StatusPanel(1)->text().isEmpty());

    // Another program holds the port: said once, in words.
    w.WMDeviceIdent({.errorCode = EBUSY, .portBusy = true});
    EXPECT_EQ(w.StatusPanel(0)->text(), "Порт занят другой программой");
    EXPECT_FALSE(w.acRead->isEnabled());

    w.WMDeviceIdent({});
    EXPECT_EQ(w.StatusPanel(0)->text(), "Нет связи с устройством");
    EXPECT_TRUE(w.StatusPanel(1)->text().isEmpty());
    EXPECT_FALSE(w.acWrite->isEnabled());
}

TEST_F(WindowTest, NewSerialNumbersBeepAndReachTheProtocolOnce)
{
    Serve({.serialNumber = 0x12AB});
    TfrmMain &w = Open(ServedOptions(50, 3000));
    TfrmProtocol protocol;
    w.SetForms(&protocol, nullptr);
    int beeps = 0;
    w.OnBeep = [&] { ++beeps; };

    ASSERT_TRUE(WaitFor([&] { return w.Connected; }));
    EXPECT_EQ(w.StatusPanel(0)->text(), "SN: 000012AB SW: 300");
    Settle(300); // several more reports of the same device
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(protocol.Memo1->toPlainText(), "000012AB");

    device->SetSerialNumber(0xABCDEF0123ULL);
    ASSERT_TRUE(WaitFor([&] { return beeps == 2; }));
    EXPECT_EQ(protocol.Memo1->toPlainText(), "000012AB\nABCDEF0123");
    EXPECT_EQ(w.LastSerialNumber, 0xABCDEF0123ULL);
}

TEST_F(WindowTest, PortNameComesFromTheStoreOrDefaultsToCom16)
{
    // No port present: the stored name or COM16, whatever this machine has.
    SetPortListerForTest([] { return std::vector<TPortEntry>{}; });
    struct TRestore {
        ~TRestore() { SetPortListerForTest({}); }
    } restore;
    const struct {
        const char *what;
        std::optional<QString> stored;
        std::optional<QString> option;
        std::string expected;
    } cases[] = {
        {"nothing stored", std::nullopt, std::nullopt, "COM16"},
        {"empty stored value", QString(""), std::nullopt, "COM16"},
        {"stored name", QString("ttyUSB3"), std::nullopt, "ttyUSB3"},
        {"name for this run", QString("ttyUSB3"), QString("/dev/pts/9"), "/dev/pts/9"},
    };
    for (const auto &c : cases) {
        QSettings(QSettings::IniFormat, QSettings::UserScope, "configurator", "configurator").clear();
        if (c.stored)
            UserSettings::SetPortName(*c.stored);
        TMainOptions options = QuietOptions();
        options.port = c.option;
        TfrmMain &w = Open(options);
        EXPECT_EQ(w.PortThread->PortName(), c.expected) << c.what;
        // A name for this run is never stored.
        EXPECT_EQ(UserSettings::PortName(), c.stored.value_or(QString())) << c.what;
    }
}

TEST_F(WindowTest, CellTextsByTypeGreyCaptionsAndEditableLeaves)
{
    OpenSettings(kGuiSettings);
    ASSERT_TRUE(errors.empty()) << errors.front().toStdString();
    EXPECT_EQ(Cell(Find("B/Флаг")), "Да");
    EXPECT_EQ(Cell(Find("B/Режим")), "Авто");
    EXPECT_EQ(Cell(Find("B/Дубль")), "Первый"); // the first matching choice, as the list editor selects it
    EXPECT_EQ(Cell(Find("B/Неизвестный")), "77"); // a type naming no enumeration
    EXPECT_EQ(Cell(Find("B/Число")), "50");
    EXPECT_EQ(window->VST1->Tree().data(window->VST1->Tree().IndexOf(Find("B/Число"), 1), Qt::ToolTipRole),
              "Тип: int\nДиапазон: 5…100\nРазмер: 2 байт\nИмя: i");
    EXPECT_EQ(Cell(Find("B/Без границ")), "4294967295");
    EXPECT_EQ(Cell(Find("B/Строка")), "текст");
    EXPECT_EQ(Cell(Find("B/Эл/Эл №1")), "");
    EXPECT_EQ(Cell(Find("B/Эл/Эл №1"), 0), "Эл №1");

    const struct {
        const char *text;
        const char *shown;
    } bools[] = {{"0", "Нет"}, {"2", "Нет"}, {"", "Нет"}, {"1", "Да"}};
    for (const auto &c : bools) {
        window->VST1->Tree().Data(Find("B/Флаг")).Value.SetText(c.text);
        EXPECT_EQ(Cell(Find("B/Флаг")), c.shown) << c.text;
    }
    window->VST1->Tree().Data(Find("B/Режим")).Value.SetText("9");
    EXPECT_EQ(Cell(Find("B/Режим")), ""); // no choice matches

    // Grey captions and editable leaves.
    TVstModel &tree = window->VST1->Tree();
    PVirtualNode off = Find("B/Эл/Эл №1");
    PVirtualNode on = Find("B/Эл/Эл №2");
    EXPECT_EQ(tree.data(tree.IndexOf(off, 0), Qt::ForegroundRole).value<QColor>(), QColor(0xC0, 0xC0, 0xC0));
    EXPECT_FALSE(tree.data(tree.IndexOf(off, 1), Qt::ForegroundRole).isValid());
    EXPECT_FALSE(tree.data(tree.IndexOf(on, 0), Qt::ForegroundRole).isValid());

    EXPECT_TRUE(window->VST1Editing(Find("B/Число")));
    EXPECT_TRUE(tree.flags(tree.IndexOf(Find("B/Число"), 1)) & Qt::ItemIsEditable);
    EXPECT_FALSE(tree.flags(tree.IndexOf(Find("B/Число"), 0)) & Qt::ItemIsEditable);
    EXPECT_FALSE(window->VST1Editing(off));
    EXPECT_FALSE(window->VST1Editing(Find("B")));
}

TEST_F(WindowTest, PopupMenuOffersAddDeleteAndReadByTheNode)
{
    OpenSettings(kGuiXmlSettings);
    ASSERT_TRUE(errors.empty());
    PVirtualNode list = Find("X/Список");
    PVirtualNode key = Find("X/Ключ");
    // Column 1 offers nothing.
    EXPECT_EQ(window->VST1GetPopupMenu(list, 1), nullptr);
    EXPECT_EQ(window->PopupNode, nullptr);
    // The array is at its max: "Добавить" is offered disabled.
    EXPECT_EQ(window->VST1GetPopupMenu(list, 0), window->PopupMenu1);
    EXPECT_EQ(window->N3->text(), "Добавить");
    EXPECT_FALSE(window->N3->isEnabled());
    EXPECT_EQ(window->PopupNode, list);
    // A readable item offers an enabled "Считать" all the same.
    EXPECT_EQ(window->VST1GetPopupMenu(key, 0), window->PopupMenu1);
    EXPECT_EQ(window->N3->text(), "Считать");
    EXPECT_TRUE(window->N3->isEnabled());
    EXPECT_EQ(window->N3->data().toInt(), 0);
    // A plain leaf of an XML device offers nothing.
    EXPECT_EQ(window->VST1GetPopupMenu(Find("X/Список/Элемент №1/Поле"), 0), nullptr);

    // The item adds and deletes array elements.
    QAbstractItemModelTester tester(&window->VST1->Tree(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    ASSERT_TRUE(window->VST1GetPopupMenu(Find("X/Список/Элемент №2"), 0));
    window->N3->trigger();
    EXPECT_EQ(window->VST1->Tree().ChildCount(Find("X/Список")), 1);
    EXPECT_EQ(window->PopupNode, nullptr); // its node is gone
    ASSERT_TRUE(window->VST1GetPopupMenu(Find("X/Список"), 0));
    EXPECT_TRUE(window->N3->isEnabled());
    window->N3->trigger();
    EXPECT_EQ(Cell(Find("X/Список/Элемент №2/Поле")), "5");
    EXPECT_EQ(window->Model->ValueDocument().AsNode().Select("/config/List/el").size(), 2u);

    // Refilling the tree forgets the popup node.
    ASSERT_TRUE(window->VST1GetPopupMenu(Find("X/Ключ"), 0));
    ASSERT_NE(window->PopupNode, nullptr);
    OpenSettings(kGuiXmlSettings);
    EXPECT_EQ(window->PopupNode, nullptr);
    window->N3->trigger(); // acts on nothing
    EXPECT_TRUE(errors.empty());
}

TEST_F(WindowTest, OpeningAFileThatIsNoSettingsKeepsTheGrid)
{
    OpenSettings(kGuiSettings);
    const TConfigModelPtr model = window->Model;
    window->FileOpen1Accept(QString::fromStdString(dir.Write("other.cfg", "<settings hw=\"10\" sw=\"1\"/>")));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Файл не содержит настроек устройства.");
    EXPECT_EQ(window->Model, model);
    EXPECT_EQ(Cell(Find("B/Число")), "50");
    EXPECT_EQ(window->HardwareCode, 10);
}

TEST_F(WindowTest, SaveWithoutSettingsIsNotOfferedAndDoesNothing)
{
    Open(QuietOptions());
    EXPECT_FALSE(window->FileSaveAs1->isEnabled());
    EXPECT_FALSE(window->FileCompare1->isEnabled());
    window->FileSaveAs1Accept(QString::fromStdString(dir.File("none.cfg")));
    EXPECT_TRUE(errors.empty());
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "none.cfg"));
}

TEST(ErrorBox, AddsAFullStopAfterLettersOnly)
{
    EXPECT_EQ(ErrorBoxText("Устройство не подключено"), "Устройство не подключено.");
    EXPECT_EQ(ErrorBoxText("Нет связи с устройством."), "Нет связи с устройством.");
    EXPECT_EQ(ErrorBoxText("error: 3 bytes read, 4 expected"), "error: 3 bytes read, 4 expected.");
    EXPECT_EQ(ErrorBoxText("(код устройства 5)."), "(код устройства 5).");
    EXPECT_EQ(ErrorBoxText("Внимание!"), "Внимание!");
    EXPECT_EQ(ErrorBoxText(""), "");
}

TEST_F(WindowTest, UnpluggedDeviceShowsNoLinkAndIsFoundAgain)
{
    Serve({});
    const std::string link = dir.File("port");
    ASSERT_TRUE(server->SetLink(link));
    TMainOptions options = ServedOptions(50, 200);
    options.port = QString::fromStdString(link);
    TfrmMain &w = Open(options);
    ASSERT_TRUE(WaitFor([&] { return w.Connected; }));
    server->Unplug();
    ASSERT_TRUE(WaitFor([&] { return !w.Connected; }));
    EXPECT_EQ(w.StatusPanel(0)->text(), "Нет связи с устройством");
    // The port held open fails first; then the port is gone.
    EXPECT_TRUE(WaitFor([&] { return w.StatusPanel(1)->text() == QString::fromStdString(SystemErrorText(ENOENT)); }));
    ASSERT_TRUE(server->Plug());
    ASSERT_TRUE(WaitFor([&] { return w.Connected; }));
    EXPECT_TRUE(w.StatusPanel(0)->text().startsWith("SN: "));
}

TEST(Translations, QtsOwnDialogsSpeakRussian)
{
    ASSERT_TRUE(InstallRussianTranslations());
    QDialogButtonBox buttons(QDialogButtonBox::Cancel | QDialogButtonBox::Save);
    EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text(), "Отмена");
    EXPECT_EQ(buttons.button(QDialogButtonBox::Save)->text(), "Сохранить");
    // A line editor's context menu.
    QLineEdit edit;
    std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    EXPECT_EQ(menu->actions().front()->text().remove('&').left(8), "Отменить");
}
