// Reading, editing, writing and saving through the window, against the
// simulated sample devices.
#include "app/error_box.h"
#include "workflow/workflow.h"
#include "model/cp1251.h"
#include "editors/int_spin.h"
#include "editors/vteditor.h"
#include "app/wait.h"
#include "tests/app/gui_fixture.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QLabel>
#include <QPushButton>
#include "app/device_job.h"
#include "app/history_dialog.h"
#include "app/user_settings.h"
#include <QTreeWidget>


namespace {

const std::string kCatalogue = CATALOGUE_DIR;

class WindowWorkflowTest : public WindowTest {
protected:
    // The simulator serves blocks as a device of the given identity; the window connects to it.
    void Connect(std::uint16_t hw, std::uint16_t sw, std::vector<Bytes> blocks)
    {
        Serve({.hardwareCode = hw, .softwareVersion = sw, .blocks = std::move(blocks)});
        TMainOptions options = ServedOptions(50, 300);
        options.catalogueDir = kCatalogue;
        Open(options);
        ASSERT_TRUE(WaitFor([&] { return window->Connected; }));
    }

    // Edits a leaf with its editor: text for text and spin editors, an entry for lists.
    void EditText(const std::string &path, const QString &text)
    {
        QWidget *editor = StartEditing(Find(path));
        ASSERT_NE(editor, nullptr) << path;
        if (auto *edit = qobject_cast<QLineEdit *>(editor))
            edit->setText(text);
        else if (auto *spin = qobject_cast<TIntSpinEdit *>(editor))
            spin->SetText(text);
        else
            FAIL() << path << " has no text editor";
        QTest::keyClick(editor, Qt::Key_Return);
        Settle();
    }
    void Choose(const std::string &path, const QString &caption)
    {
        auto *list = qobject_cast<QComboBox *>(StartEditing(Find(path)));
        ASSERT_NE(list, nullptr) << path;
        const int index = list->findText(caption);
        ASSERT_GE(index, 0) << caption.toStdString();
        list->setCurrentIndex(index);
        QTest::keyClick(list, Qt::Key_Return);
        Settle();
    }
};

} // namespace

TEST_F(WindowWorkflowTest, BinaryDeviceReadEditWriteByteForByte)
{
    Connect(5, 300, SampleImages("transmitter-binary.cfg"));
    Trigger(window->acRead);
    ASSERT_TRUE(errors.empty()) << errors.front().toStdString();
    ASSERT_TRUE(window->Model);
    EXPECT_TRUE(window->StatusPanel(0)->text().startsWith("SN: ")); // progress gone, device shown again

    const struct {
        const char *path;
        const char *entered; // text for text and spin editors, the caption for lists
        bool list;
        const char *xpath;
        const char *stored;
    } edits[] = {
        {"Общие параметры/Номер объекта", "4321", false, "/config/object_number/value", "4321"},
        {"Общие параметры/Название объекта", "Пост Я7", false, "/config/object_name/value", "Пост Я7"},
        {"Общие параметры/Режим работы", "Сервис", true, "/config/mode/value", "2"},
        {"Общие параметры/Звуковое подтверждение", "Нет", true, "/config/beep/value", "0"},
        {"Общие параметры/Пароль монтажника", "654321", false, "/config/installer_password/value", "654321"},
        {"Общие параметры/Идентификатор конфигурации", "BEEF", false, "/config/config_id/value", "BEEF"},
        {"Общие параметры/Поправка температуры, °C", "-12", false, "/config/temp_offset/value", "-12"},
        {"Каналы связи/IP-адрес сервера", "10.20.30.40", false, "/config/server_ip/value", "10.20.30.40"},
        {"Каналы связи/Телефон/Телефон №3/Номер", "+70001112233", false, "/config/phone/value[@phones=\"3\"]",
         "+70001112233"},
        {"Ключи/Ключ/Ключ №2/Код ключа", "A1B2C3D4E5F6", false, "/config/key_code/value[@keys=\"2\"]",
         "A1B2C3D4E5F6"},
        {"Ключи/Ключ/Ключ №2/ПИН-код", "987", false, "/config/key_pin/value[@keys=\"2\"]", "987"},
        {"Зоны/Зона/Зона №4/Зона включена", "Да", true, "/config/zone_on/value[@zones=\"4\"]", "1"},
        {"Ключи/Уровень/Уровень №3/Порог", "4000", false, "/config/threshold/value[@levels=\"3\"]", "4000"},
    };
    for (const auto &e : edits) {
        if (e.list)
            Choose(e.path, e.entered);
        else
            EditText(e.path, e.entered);
    }
    ASSERT_TRUE(errors.empty()) << errors.front().toStdString();

    Trigger(window->acWrite);
    ASSERT_TRUE(errors.empty()) << errors.front().toStdString();
    // Read back and compared, as a write in the window always is unless turned off.
    ASSERT_EQ(informations, (std::vector<QString>{"Настройки записаны и проверены"}));

    // What the device got is what the edited settings encode to, value by value.
    const TConfigModelPtr expected = LoadSample("transmitter-binary.cfg");
    for (const auto &e : edits)
        expected->ValueDocument().AsNode().SelectSingle(e.xpath).SetText(e.stored);
    const std::vector<Bytes> images = EncodeBlocks(*expected);
    for (std::size_t block = 0; block < images.size(); ++block)
        EXPECT_EQ(HexDump(device->Block(block)), HexDump(images[block])) << "block " << block;
    // Cyrillic letters go to the device in Windows-1251 ("Я" is DF).
    EXPECT_EQ(device->Block(0)[2 + 5], static_cast<std::uint8_t>(0xDF));
}

TEST_F(WindowWorkflowTest, XmlDeviceReadEditGrowWrite)
{
    std::vector<Bytes> blocks;
    for (int block = 0; block < 2; ++block)
        blocks.push_back(ToBytes(ReadFile(kCatalogue + "/samples/transmitter-xml-block" + std::to_string(block) + ".xml")));
    Connect(7, 120, blocks);
    Trigger(window->acRead);
    ASSERT_TRUE(errors.empty()) << errors.front().toStdString();

    EditText("Общие параметры/Название объекта", "Склад <Север> & Юг");
    Choose("Общие параметры/Режим работы", "Тест");
    EditText("Оповещение/Период контроля, с", "900");
    ASSERT_TRUE(window->VST1GetPopupMenu(Find("Оповещение/Телефоны дежурной части"), 0));
    window->N3->trigger();
    const int phones = window->VST1->Tree().ChildCount(Find("Оповещение/Телефоны дежурной части"));
    EditText("Оповещение/Телефоны дежурной части/Телефон №" + std::to_string(phones) + "/Номер", "+74950000000");

    Trigger(window->acWrite);
    ASSERT_TRUE(errors.empty()) << errors.front().toStdString();
    for (int block = 0; block < 2; ++block)
        EXPECT_EQ(device->Block(static_cast<std::size_t>(block)),
                  window->Model->EncodeBlock(window->Model->GetBlock(block), xml::Node()));
    const std::string block0 = ToString(device->Block(0));
    EXPECT_EQ(block0.rfind("<?xml version=\"1.0\" encoding=\"windows-1251\"?>", 0), 0u);
    EXPECT_NE(block0.find(Utf8ToCp1251("&lt;Север&gt; &amp; Юг")), std::string::npos);
    EXPECT_NE(block0.find("<Mode>test</Mode>"), std::string::npos);
    EXPECT_NE(ToString(device->Block(1)).find("<Number>+74950000000</Number>"), std::string::npos);
}

TEST_F(WindowWorkflowTest, FailedReadKeepsThePreviousConfiguration)
{
    Connect(5, 300, SampleImages("transmitter-binary.cfg"));
    Trigger(window->acRead);
    ASSERT_TRUE(window->Model);
    const TConfigModelPtr before = window->Model;
    const QString shown = Cell(Find("Общие параметры/Номер объекта"));
    // The link drops after two blocks of the next read.
    std::atomic<int> reads{0};
    server->SetFaultScript([&](const TExchangeInfo &info) {
        return info.command == cmdReadBlock && ++reads > 2 ? TFault::Drop : TFault::None;
    });
    Trigger(window->acRead);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Нет связи с устройством.");
    EXPECT_EQ(window->Model, before);
    EXPECT_EQ(Cell(Find("Общие параметры/Номер объекта")), shown);
    EXPECT_FALSE(window->StatusPanel(0)->text().contains('#'));
}

TEST_F(WindowWorkflowTest, OpenEditorIsWrittenAndSaved)
{
    Connect(5, 300, SampleImages("transmitter-binary.cfg"));
    Trigger(window->acRead);
    auto *edit = qobject_cast<QLineEdit *>(StartEditing(Find("Общие параметры/Название объекта")));
    ASSERT_NE(edit, nullptr);
    edit->setText("Открыт");
    Trigger(window->acWrite); // the editor is still open
    ASSERT_TRUE(errors.empty());
    EXPECT_EQ(ToString(CopyBytes(device->Block(0), 2, 6)), "\xCE\xF2\xEA\xF0\xFB\xF2");

    edit = qobject_cast<QLineEdit *>(StartEditing(Find("Общие параметры/Название объекта")));
    ASSERT_NE(edit, nullptr);
    edit->setText("Сохранен");
    window->FileSaveAs1Accept(QString::fromStdString(dir.File("saved.cfg")));
    RegisterConfigModels();
    const TConfigModelPtr saved = LoadSettingsFile(dir.File("saved.cfg"), kCatalogue);
    EXPECT_EQ(saved->ValueDocument().AsNode().SelectSingle("/config/object_name/value").Text(), "Сохранен");
}

TEST_F(WindowWorkflowTest, ValuesWrittenOtherwiseAreListedFirstAndNothingGoesOutOnCancel)
{
    Connect(5, 300, SampleImages("transmitter-binary.cfg"));
    Trigger(window->acRead);
    window->Model->ValueDocument().AsNode().SelectSingle("/config/server_ip/value").SetText("10.0.0.300");
    std::vector<QString> questions;
    TSaveAnswer answer = TSaveAnswer::Cancel;
    SetSaveQuestionHandler([&](const QString &question) {
        questions.push_back(question);
        return answer;
    });
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
    EXPECT_EQ(errors, std::vector<QString>());
    EXPECT_GT(device->CommandCount(cmdWriteBlock), 0);
    window->FileSaveAs1Accept(QString::fromStdString(dir.File("altered.cfg")));
    EXPECT_TRUE(std::filesystem::exists(dir.File("altered.cfg")));

    // A value the codec cannot encode still stops the write, its parameter named on a second line.
    const struct {
        const char *xpath;
        const char *where;
    } failing[] = {
        {"/config/test_period/value", "Общие параметры / Период теста, мин."},
        {"/config/zone_type/value[@zones=\"3\"]", "Зоны / Зона №3 / Тип зоны."},
    };
    for (const auto &f : failing) {
        const xml::Node value = window->Model->ValueDocument().AsNode().SelectSingle(f.xpath);
        const std::string before = value.Text();
        value.SetText("12a");
        device->ResetCounts();
        errors.clear();
        Trigger(window->acWrite);
        EXPECT_EQ(errors, (std::vector<QString>{QString("'12a' is not a valid integer value.\r\n") + f.where}));
        EXPECT_EQ(device->CommandCount(cmdWriteBlock), 0);
        value.SetText(before);
    }
}

TEST_F(WindowWorkflowTest, OpenedSettingsOfAnotherDeviceAreRefusedBeforeSending)
{
    Connect(5, 300, SampleImages("transmitter-binary.cfg"));
    window->FileOpen1Accept(QString::fromStdString(kCatalogue + "/samples/transmitter-xml.cfg"));
    ASSERT_TRUE(errors.empty());
    EXPECT_EQ(window->HardwareCode, 7);
    // The next identification puts the connected device back.
    ASSERT_TRUE(WaitFor([&] { return window->HardwareCode == 5; }));
    device->ResetCounts();
    Trigger(window->acWrite);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Версия устройства не совпадает с версией настроек.");
    EXPECT_EQ(device->CommandCount(cmdWriteBlock), 0);
}

TEST_F(WindowWorkflowTest, ReadWithoutADeviceSaysSo)
{
    Open(QuietOptions());
    window->acReadExecute();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Устройство не подключено.");
    window->acWriteExecute();
    EXPECT_EQ(errors.back(), "Настройки не загружены.");
}

TEST_F(WindowWorkflowTest, KeyPresentedToTheSampleDeviceLandsInItsKeyItem)
{
    Connect(5, 300, SampleImages("transmitter-binary.cfg"));
    device->SetKey({0x01, 0xA2, 0xFF, 0x00, 0x12, 0x34}, 2);
    Trigger(window->acRead);
    TForm1 wait;
    window->SetForms(nullptr, &wait);
    window->KeyWaitTick = std::chrono::milliseconds(30);
    ASSERT_EQ(window->VST1GetPopupMenu(Find("Ключи/Ключ/Ключ №3/Код ключа"), 0), window->PopupMenu1);
    window->N3->trigger();
    ASSERT_TRUE(WaitFor([&] { return !window->JobRunning(); }));
    EXPECT_EQ(Cell(Find("Ключи/Ключ/Ключ №3/Код ключа")), "01A2FF001234");
    EXPECT_TRUE(errors.empty());
    window->SetForms(nullptr, nullptr);
}

TEST_F(WindowWorkflowTest, ASilentDeviceNeverFreezesTheWindowAndCancelEndsTheRead)
{
    Connect(5, 300, SampleImages("transmitter-binary.cfg"));
    Trigger(window->acRead);
    const TConfigModelPtr shown = window->Model;
    server->SetFaultScript([](const TExchangeInfo &info) {
        return info.command == cmdReadBlock ? TFault::Drop : TFault::None;
    });
    window->ProgressDelay = std::chrono::milliseconds(50);
    // The event loop keeps turning while the device does not answer.
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);
    window->acRead->trigger();
    ASSERT_TRUE(WaitFor([&] { return window->JobProgress->isVisible(); }));
    EXPECT_TRUE(window->JobProgress->isModal());
    Settle(400);
    EXPECT_GT(ticks, 20);
    EXPECT_TRUE(window->JobRunning());
    // The first chunk is being repeated, and the dialog says so.
    EXPECT_TRUE(WaitFor([&] { return window->JobProgress->Text->text().startsWith("Повтор "); }));
    window->JobProgress->CancelButton->click();
    ASSERT_TRUE(WaitFor([&] { return !window->JobRunning(); }, 5000)); // one request time-out and the identification after it
    EXPECT_FALSE(window->JobProgress->isVisible());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], kMsgReadCancelled);
    EXPECT_EQ(window->Model, shown); // the configuration shown before stays
}

TEST_F(WindowWorkflowTest, AnInterruptedWriteIsSaidUntilTheDeviceIsWrittenInFull)
{
    Connect(5, 300, SampleImages("transmitter-binary.cfg"));
    Trigger(window->acRead);
    int writes = 0;
    server->SetFaultScript([&](const TExchangeInfo &info) {
        return info.command == cmdWriteBlock && ++writes > 1 ? TFault::Drop : TFault::None;
    });
    window->acWrite->trigger();
    ASSERT_TRUE(WaitFor([&] { return writes > 2; }));
    window->JobProgress->CancelButton->click();
    ASSERT_TRUE(WaitFor([&] { return !window->JobRunning(); }, 5000));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], kMsgWriteInterrupted);
    EXPECT_EQ(window->StatusPanel(1)->text(), kMsgWriteInterrupted);
    Settle(300); // the device's reports keep the warning
    EXPECT_EQ(window->StatusPanel(1)->text(), kMsgWriteInterrupted);
    server->SetFaultScript(nullptr);
    Trigger(window->acWrite);
    EXPECT_EQ(informations.back(), kMsgWrittenAndVerified);
    EXPECT_TRUE(window->StatusPanel(1)->text().isEmpty());
}

TEST_F(WindowWorkflowTest, KeyWaitCancelWhileAPollIsOnTheWire)
{
    Connect(5, 300, SampleImages("transmitter-binary.cfg"));
    Trigger(window->acRead);
    TForm1 wait;
    window->SetForms(nullptr, &wait);
    window->KeyWaitTick = std::chrono::milliseconds(30);
    // Every poll goes unanswered, so a poll is on the wire almost all the time.
    server->SetFaultScript([](const TExchangeInfo &info) {
        return info.command == cmdKeyReadPoll ? TFault::Drop : TFault::None;
    });
    ASSERT_EQ(window->VST1GetPopupMenu(Find("Ключи/Ключ/Ключ №3/Код ключа"), 0), window->PopupMenu1);
    window->N3->trigger();
    ASSERT_TRUE(WaitFor([&] { return device->CommandCount(cmdKeyReadPoll) >= 1; }));
    wait.Button1->click();
    ASSERT_TRUE(WaitFor([&] { return !window->JobRunning(); }, 5000));
    EXPECT_FALSE(wait.isVisible());
    EXPECT_TRUE(window->isEnabled());
    EXPECT_EQ(device->CommandCount(cmdKeyReadStop), 1);
    EXPECT_TRUE(errors.empty());
    window->SetForms(nullptr, nullptr);
}

TEST_F(WindowWorkflowTest, ReadsAndWritesGoIntoTheHistoryAndComeBackFromIt)
{
    // A history of this test's own, whatever earlier tests of this process recorded.
    UserSettings::SetHistory({true, QString::fromStdString(dir.File("history")), QString(), QStringLiteral("main")});
    struct TRestore {
        ~TRestore() { UserSettings::SetHistory({}); }
    } restore;
    Connect(5, 300, SampleImages("transmitter-binary.cfg"));
    Trigger(window->acRead);
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
    EXPECT_EQ(dialog->List->topLevelItem(1)->text(1), "Чтение");
    dialog->List->setCurrentItem(dialog->List->topLevelItem(1));
    dialog->OpenButton->click();
    EXPECT_EQ(Cell(Find("Общие параметры/Номер объекта")), "1234");
    EXPECT_EQ(window->ShownSerial, "12345678");
    EXPECT_TRUE(errors.empty());
}

TEST_F(WindowWorkflowTest, TypedSearchSelectsWithoutEditingAndFindsCollapsedRows)
{
    Connect(5, 300, SampleImages("transmitter-binary.cfg"));
    Trigger(window->acRead);
    window->VST1->collapseAll();
    PVirtualNode group = Find("Общие параметры");
    window->VST1->setCurrentIndex(window->VST1->Tree().IndexOf(group, 0));
    Settle();
    const QString before = Cell(Find("Общие параметры/Идентификатор конфигурации"));
    for (const QChar letter : QStringLiteral("Иден")) {
        QKeyEvent typed(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(letter));
        QApplication::sendEvent(window->VST1, &typed);
    }
    Settle(100);
    PVirtualNode found = window->VST1->FocusedNode();
    ASSERT_EQ(found, Find("Общие параметры/Идентификатор конфигурации"));
    EXPECT_TRUE(window->VST1->isExpanded(window->VST1->Tree().IndexOf(group, 0)));
    EXPECT_FALSE(window->VST1->EditLink()->Editing()); // the keystrokes were the search's
    EXPECT_EQ(Cell(found), before);
    // Enter or F2 opens the editor of the row found.
    QTest::keyClick(window->VST1, Qt::Key_F2);
    EXPECT_EQ(window->VST1->EditLink()->EditedNode(), found);

    // The context-menu key offers the current row's menu, even from its editor.
    window->VST1->expandAll();
    PVirtualNode key = Find("Ключи/Ключ/Ключ №3/Код ключа");
    QWidget *editor = StartEditing(key);
    ASSERT_NE(editor, nullptr);
    bool asked = false;
    QObject::connect(window->VST1, &QWidget::customContextMenuRequested, [&] { asked = true; });
    QTest::keyClick(editor, Qt::Key_Menu);
    EXPECT_TRUE(asked);
    ASSERT_TRUE(WaitFor([&] { return window->PopupMenu1->isVisible(); }));
    EXPECT_EQ(window->N3->text(), "Считать");
    EXPECT_EQ(window->PopupNode, key);
    window->PopupMenu1->hide();
}
