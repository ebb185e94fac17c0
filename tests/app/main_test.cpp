// The main window: status bar, grid cells, context menu and opening files.
#include "app/compare_dialog.h"
#include "app/edit_history.h"
#include "tests/app/gui_fixture.h"

#include <cerrno>

TEST_F(WindowTest, StatusBarFollowsIdentificationReportsAndNoDeviceMeansNoRead)
{
    TfrmMain &w = Open();
    const QString port = QString::fromStdString(w.PortThread->PortName());
    const struct {
        TDeviceIdentity report;
        QString status;
        QString detail;
    } reports[] = {
        {{.errorCode = ENOENT}, "Нет связи с устройством", QString::fromStdString(SystemErrorText(ENOENT))},
        {{.present = true, .softwareVersion = 300, .hardwareCode = 5, .chunkSize = 64}, "SN: 00000000 SW: 300", ""},
        // Another program holds the port: said once, in words.
        {{.errorCode = EBUSY, .portBusy = true}, "Порт занят другой программой", port},
        {{}, "Нет связи с устройством", ""},
    };
    for (const auto &r : reports) {
        SCOPED_TRACE(r.status.toStdString());
        w.WMDeviceIdent(r.report);
        EXPECT_EQ(w.StatusPanel(0)->text(), r.status);
        EXPECT_EQ(w.StatusPanel(1)->text(), r.detail);
        EXPECT_EQ(w.acRead->isEnabled(), r.report.present);
    }
    w.acReadExecute();
    w.acWriteExecute();
    EXPECT_EQ(errors, (std::vector<QString>{"Устройство не подключено.", "Настройки не загружены."}));
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
    Settle(300); // several more reports of the same device
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(protocol.Memo1->toPlainText(), "000012AB");

    device->SetSerialNumber(0xABCDEF0123ULL);
    ASSERT_TRUE(WaitFor([&] { return beeps == 2; }));
    EXPECT_EQ(protocol.Memo1->toPlainText(), "000012AB\nABCDEF0123");
}

TEST_F(WindowTest, CellTextsByTypeGreyCaptionsAndEditableLeavesAndSaveAndCompareNeedSettingsAndTakeTheOpenEdit)
{
    TfrmMain &w = Open();
    EXPECT_FALSE(w.FileSaveAs1->isEnabled());
    EXPECT_FALSE(w.FileCompare1->isEnabled());
    w.FileSaveAs1Accept(QString::fromStdString(dir.File("none.cfg")));
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "none.cfg"));
    OpenSettings(kGuiSettings);
    EXPECT_TRUE(w.FileSaveAs1->isEnabled());
    EXPECT_TRUE(w.FileCompare1->isEnabled());
    // Compared, the value left in the open editor counts, not the one stored before.
    const QString other = QString::fromStdString(dir.Write("other.cfg", kGuiSettings));
    w.FileCompare1Accept(other);
    EXPECT_EQ(informations, std::vector<QString>{"Настройки совпадают."});
    EXPECT_EQ(w.findChild<TfrmCompare *>(), nullptr);
    Type("B/Число", "60");
    w.FileCompare1Accept(other);
    auto *dialog = w.findChild<TfrmCompare *>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->Memo1->toPlainText(), "B / Число: 60 → 50\n");
    EXPECT_EQ(informations.size(), 1u);
    const struct {
        const char *path;
        const char *set; // none: the settings' value
        const char *shown;
    } cells[] = {
        {"B/Флаг", nullptr, "Да"},
        {"B/Режим", nullptr, "Авто"},
        {"B/Дубль", nullptr, "Первый"}, // the first matching choice, as the list editor selects it
        {"B/Неизвестный", nullptr, "77"}, // a type naming no enumeration
        {"B/Без границ", nullptr, "4294967295"},
        {"B/Эл/Эл №1", nullptr, ""},
        {"B/Флаг", "2", "Нет"},
        {"B/Режим", "9", ""}, // no choice matches
    };
    TVstModel &tree = window->VST1->Tree();
    for (const auto &c : cells) {
        SCOPED_TRACE(std::string(c.path) + " = " + (c.set ? c.set : "as read"));
        if (c.set)
            tree.Data(Find(c.path)).Value.SetText(c.set);
        EXPECT_EQ(Cell(c.path), c.shown);
    }
    EXPECT_EQ(tree.data(tree.IndexOf(Find("B/Число"), 1), Qt::ToolTipRole),
              "Тип: int\nДиапазон: 5…100\nРазмер: 2 байт\nИмя: i");

    // A switched-off element greys its caption only.
    PVirtualNode off = Find("B/Эл/Эл №1");
    EXPECT_EQ(tree.data(tree.IndexOf(off, 0), Qt::ForegroundRole).value<QColor>(), QColor(0xC0, 0xC0, 0xC0));
    EXPECT_FALSE(tree.data(tree.IndexOf(off, 1), Qt::ForegroundRole).isValid());
    EXPECT_FALSE(tree.data(tree.IndexOf(Find("B/Эл/Эл №2"), 0), Qt::ForegroundRole).isValid());
    // Only the value cell of a leaf is edited.
    EXPECT_TRUE(window->VST1Editing(Find("B/Число")));
    EXPECT_FALSE(tree.flags(tree.IndexOf(Find("B/Число"), 0)) & Qt::ItemIsEditable);
    EXPECT_FALSE(window->VST1Editing(Find("B")));

    // A file that cannot be shown leaves the window as it was.
    const TConfigModelPtr model = w.Model;
    OpenSettings("<settings hw=\"10\" sw=\"1\"/>");
    EXPECT_EQ(errors, std::vector<QString>{"Файл не содержит настроек устройства."});
    EXPECT_EQ(w.Model, model);
    EXPECT_EQ(Cell("B/Число"), "60");
    EXPECT_EQ(w.HardwareCode, 10);
}

TEST_F(WindowTest, PopupMenuOffersAddDeleteAndReadByTheNodeAndUndoTakesItsChangesBack)
{
    OpenSettings(kGuiXmlSettings);
    PVirtualNode list = Find("X/Список");
    // Column 1 offers nothing.
    EXPECT_EQ(window->VST1GetPopupMenu(list, 1), nullptr);
    // The array is at its max: "Добавить" is offered disabled.
    EXPECT_EQ(window->VST1GetPopupMenu(list, 0), window->PopupMenu1);
    EXPECT_EQ(window->N3->text(), "Добавить");
    EXPECT_FALSE(window->N3->isEnabled());
    // A readable item offers an enabled "Считать" all the same.
    EXPECT_EQ(window->VST1GetPopupMenu(Find("X/Ключ"), 0), window->PopupMenu1);
    EXPECT_EQ(window->N3->text(), "Считать");
    EXPECT_TRUE(window->N3->isEnabled());
    // A plain leaf of an XML device offers nothing.
    EXPECT_EQ(window->VST1GetPopupMenu(Find("X/Список/Элемент №1/Поле"), 0), nullptr);

    // The item deletes and adds array elements; undo and redo take deletes back with the edits before them.
    QAbstractItemModelTester tester(&window->VST1->Tree(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    window->VST1->expandAll();
    EditText("X/Ключ", "AB");
    PickMenuItem("X/Список/Элемент №2");
    EXPECT_EQ(window->VST1->Tree().ChildCount(Find("X/Список")), 1);
    EXPECT_EQ(window->PopupNode, nullptr); // its node is gone
    window->EditUndo->trigger();
    EXPECT_EQ(window->VST1->Tree().ChildCount(Find("X/Список")), 2);
    EXPECT_EQ(Cell("X/Ключ"), "AB");
    window->EditUndo->trigger();
    EXPECT_EQ(Cell("X/Ключ"), "00");
    EXPECT_FALSE(window->Edits->Modified());
    window->EditRedo->trigger();
    window->EditRedo->trigger();
    EXPECT_EQ(Cell("X/Ключ"), "AB");
    EXPECT_EQ(window->VST1->Tree().ChildCount(Find("X/Список")), 1);
    EXPECT_TRUE(window->VST1->isExpanded(window->VST1->Tree().IndexOf(Find("X/Список")))); // shown as it was
    PickMenuItem("X/Список");
    EXPECT_EQ(Cell("X/Список/Элемент №2/Поле"), "5");
    EXPECT_EQ(window->Model->ValueDocument().AsNode().Select("/config/List/el").size(), 2u);

    // Refilling the tree forgets the popup node: the item then acts on nothing.
    ASSERT_NE(window->PopupNode, nullptr);
    OpenSettings(kGuiXmlSettings);
    EXPECT_EQ(window->PopupNode, nullptr);
    window->N3->trigger();
    EXPECT_TRUE(errors.empty());
}
