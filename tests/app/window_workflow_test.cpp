// Reading, editing, writing and saving through the window, against the
// simulated sample devices.
#include "app/history_dialog.h"
#include "tests/app/gui_fixture.h"

namespace {

const std::string kCatalogue = CATALOGUE_DIR;

class WindowWorkflowTest : public WindowTest {
protected:
    // The simulator serves the binary sample's device; the window connects to it and reads it.
    void ConnectSample()
    {
        Serve({.hardwareCode = 5, .softwareVersion = 300, .blocks = SampleImages("transmitter-binary.cfg")});
        TMainOptions options = ServedOptions(50, 300);
        options.catalogueDir = kCatalogue;
        Open(options);
        ASSERT_TRUE(WaitFor([&] { return window->Connected; }));
        Trigger(window->acRead);
        ASSERT_TRUE(errors.empty()) << errors.front().toStdString();
    }
};

} // namespace

TEST_F(WindowWorkflowTest, BinaryDeviceReadEditWriteByteForByteAndOpenEntriesAreWrittenAndSaved)
{
    ConnectSample();
    const struct {
        const char *path;
        const char *entered; // text for text and spin editors, the caption for lists
        const char *xpath;
        const char *stored;
    } edits[] = {
        {"Общие параметры/Номер объекта", "4321", "/config/object_number/value", "4321"},
        {"Общие параметры/Название объекта", "Пост Я7", "/config/object_name/value", "Пост Я7"},
        {"Общие параметры/Режим работы", "Сервис", "/config/mode/value", "2"},
        {"Ключи/Ключ/Ключ №2/Код ключа", "A1B2C3D4E5F6", "/config/key_code/value[@keys=\"2\"]",
         "A1B2C3D4E5F6"},
        {"Зоны/Зона/Зона №4/Зона включена", "Да", "/config/zone_on/value[@zones=\"4\"]", "1"},
    };
    // Choosing the next row takes an entry; the last one is still open when Записать is pressed.
    for (const auto &e : edits)
        Type(e.path, e.entered);
    Trigger(window->acWrite);
    // Read back and compared, as a write in the window always is unless turned off.
    ASSERT_EQ(informations, (std::vector<QString>{"Настройки записаны и проверены"}));

    // What the device got is what the edited settings encode to, value by value.
    const TConfigModelPtr expected = LoadSample("transmitter-binary.cfg");
    for (const auto &e : edits)
        expected->ValueDocument().AsNode().SelectSingle(e.xpath).SetText(e.stored);
    const std::vector<Bytes> images = EncodeBlocks(*expected);
    for (std::size_t block = 0; block < images.size(); ++block)
        EXPECT_EQ(HexDump(device->Block(block)), HexDump(images[block])) << "block " << block;

    // Saving takes the open entry too.
    Type("Общие параметры/Название объекта", "Сохранен");
    window->FileSaveAs1Accept(QString::fromStdString(dir.File("saved.cfg")));
    RegisterConfigModels();
    const TConfigModelPtr saved = LoadSettingsFile(dir.File("saved.cfg"), kCatalogue);
    EXPECT_EQ(saved->ValueDocument().AsNode().SelectSingle("/config/object_name/value").Text(), "Сохранен");
}

TEST_F(WindowWorkflowTest, ValuesWrittenOtherwiseAreAskedAboutAndBadValuesOrAnotherDevicesSettingsSendNothing)
{
    ConnectSample();
    const xml::Node config = window->Model->ValueDocument().AsNode();
    config.SelectSingle("/config/server_ip/value").SetText("10.0.0.300");
    const QString listed = "Эти значения будут записаны иначе:\nКаналы связи / IP-адрес сервера: часть адреса «300» "
                           "должна быть числом от 0 до 255.";
    device->ResetCounts();
    Trigger(window->acWrite);
    window->FileSaveAs1Accept(QString::fromStdString(dir.File("altered.cfg")));
    EXPECT_EQ(questions, (std::vector<QString>{listed, listed}));
    EXPECT_EQ(device->CommandCount(cmdWriteBlock), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.File("altered.cfg")));

    // Записать sends the value as the codec keeps it.
    answer = TSaveAnswer::Save;
    Trigger(window->acWrite);
    EXPECT_GT(device->CommandCount(cmdWriteBlock), 0);
    window->FileSaveAs1Accept(QString::fromStdString(dir.File("altered.cfg")));
    EXPECT_TRUE(std::filesystem::exists(dir.File("altered.cfg")));

    // A value the codec cannot encode still stops the write, its parameter named on a second line.
    config.SelectSingle("/config/zone_type/value[@zones=\"3\"]").SetText("12a");
    device->ResetCounts();
    Trigger(window->acWrite);
    EXPECT_EQ(errors, std::vector<QString>{"'12a' is not a valid integer value.\r\nЗоны / Зона №3 / Тип зоны."});
    EXPECT_EQ(device->CommandCount(cmdWriteBlock), 0);

    // Settings of another device are refused, whatever device the opened file was made for.
    window->FileOpen1Accept(QString::fromStdString(kCatalogue + "/samples/transmitter-xml.cfg"));
    // The next identification puts the connected device back.
    ASSERT_TRUE(WaitFor([&] { return window->HardwareCode == 5; }));
    errors.clear();
    Trigger(window->acWrite);
    EXPECT_EQ(errors, std::vector<QString>{"Версия устройства не совпадает с версией настроек."});
    EXPECT_EQ(device->CommandCount(cmdWriteBlock), 0);
}

TEST_F(WindowWorkflowTest, ASilentDeviceNeverFreezesTheWindowAndCancelledReadsAndWritesAreSaid)
{
    ConnectSample();
    const TConfigModelPtr shown = window->Model;
    server->SetFaultScript([](const TExchangeInfo &info) {
        return info.command == cmdReadBlock ? TFault::Drop : TFault::None;
    });
    window->ProgressDelay = std::chrono::milliseconds(50);
    // The event loop keeps turning while the device does not answer.
    window->acRead->trigger();
    ASSERT_TRUE(WaitFor([&] { return window->JobProgress->isVisible(); }));
    // The first chunk is being repeated, and the dialog says so.
    EXPECT_TRUE(WaitFor([&] { return window->JobProgress->Text->text().startsWith("Повтор "); }));
    window->JobProgress->CancelButton->click();
    // One request time-out and the identification after it.
    ASSERT_TRUE(WaitFor([&] { return !window->JobRunning(); }, 5000));
    EXPECT_FALSE(window->JobProgress->isVisible());
    EXPECT_EQ(errors, std::vector<QString>{kMsgReadCancelled});
    EXPECT_EQ(window->Model, shown);

    // An interrupted write is said until the device is written in full.
    errors.clear();
    int writes = 0;
    server->SetFaultScript([&](const TExchangeInfo &info) {
        return info.command == cmdWriteBlock && ++writes > 1 ? TFault::Drop : TFault::None;
    });
    window->acWrite->trigger();
    ASSERT_TRUE(WaitFor([&] { return writes > 2; }));
    window->JobProgress->CancelButton->click();
    ASSERT_TRUE(WaitFor([&] { return !window->JobRunning(); }, 5000));
    EXPECT_EQ(errors, std::vector<QString>{kMsgWriteInterrupted});
    Settle(300); // the device's reports keep the warning
    EXPECT_EQ(window->StatusPanel(1)->text(), kMsgWriteInterrupted);
    server->SetFaultScript(nullptr);
    Trigger(window->acWrite);
    EXPECT_EQ(informations.back(), kMsgWrittenAndVerified);
    EXPECT_TRUE(window->StatusPanel(1)->text().isEmpty());
}

TEST_F(WindowWorkflowTest, ReadsAndWritesGoIntoTheHistoryAndComeBackFromIt)
{
    // A history of this test's own, whatever earlier tests of this process recorded.
    UserSettings::SetHistory({true, QString::fromStdString(dir.File("history")), QString(), QStringLiteral("main")});
    ConnectSample();
    THistoryStore history(HistoryOptionsFromSettings());
    ASSERT_TRUE(WaitFor([&] { return history.Versions("12345678").size() == 1; }));
    EditText("Общие параметры/Номер объекта", "4321");
    Trigger(window->acWrite);
    ASSERT_TRUE(WaitFor([&] { return history.Versions("12345678").size() == 2; }));
    EXPECT_EQ(history.Versions("12345678").front().action, "Запись");

    // The first version, opened from the history dialog, shows the number as it was read.
    window->mnHistory->trigger();
    auto *dialog = window->findChild<TfrmHistory *>();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitFor([&] { return dialog->List->topLevelItemCount() == 2; }));
    dialog->List->setCurrentItem(dialog->List->topLevelItem(1));
    dialog->OpenButton->click();
    // Nothing to ask about: the write left no unsaved edits.
    EXPECT_TRUE(questions.empty());
    EXPECT_EQ(Cell("Общие параметры/Номер объекта"), "1234");
    EXPECT_EQ(window->ShownSerial, "12345678");
}

TEST_F(WindowWorkflowTest, TypedSearchSelectsWithoutEditingAndFindsCollapsedRows)
{
    ConnectSample();
    window->VST1->collapseAll();
    const QModelIndex group = window->VST1->Tree().IndexOf(Find("Общие параметры"), 0);
    window->VST1->setCurrentIndex(group);
    Settle();
    for (const QChar letter : QStringLiteral("Иден")) {
        QKeyEvent typed(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(letter));
        QApplication::sendEvent(window->VST1, &typed);
    }
    Settle(100);
    PVirtualNode found = window->VST1->FocusedNode();
    ASSERT_EQ(found, Find("Общие параметры/Идентификатор конфигурации"));
    EXPECT_TRUE(window->VST1->isExpanded(group));
    EXPECT_FALSE(Editing()); // the keystrokes were the search's
    // F2 opens the editor of the row found.
    QTest::keyClick(window->VST1, Qt::Key_F2);
    EXPECT_EQ(window->VST1->EditLink()->EditedNode(), found);
}
