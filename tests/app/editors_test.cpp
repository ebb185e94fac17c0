// In-place editing through the grid's edit link.
#include "tests/app/gui_fixture.h"
#include "tests/model/value_cases.h"

TEST_F(WindowTest, ListsStoreTheChosenEntrysValueAndSwitchElementsAndSpinsKeepWhatIsStored)
{
    OpenSettings(kGuiSettings);
    const struct {
        const char *path;
        const char *preset; // none: the settings' value
        const char *current;
        const char *chosen;
        const char *stored;
        bool grey; // element 1, switched off by its "Вкл", afterwards
    } cases[] = {
        {"B/Флаг", nullptr, "Да", "Нет", "0", true},
        // Any text but "0" selects "Да" in the list, though the cell shows "Да" for "1" only.
        {"B/Флаг", "2", "Да", "Да", "1", true},
        {"B/Режим", nullptr, "Авто", "Вкл", "1", true},
        // A value matching no choice selects nothing and stays as it was.
        {"B/Режим", "9", "", "", "9", true},
        // An edited on/off switch switches its array element on and off.
        {"B/Эл/Эл №1/Вкл", nullptr, "Нет", "Да", "1", false},
        {"B/Эл/Эл №1/Вкл", nullptr, "Да", "Нет", "0", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.path) + " = " + (c.preset ? c.preset : "as read") + " → " + c.chosen);
        if (c.preset)
            window->VST1->Tree().Data(Find(c.path)).Value.SetText(c.preset);
        auto *list = qobject_cast<QComboBox *>(StartEditing(Find(c.path)));
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->currentText(), c.current);
        list->setCurrentIndex(list->findText(c.chosen));
        Enter(list);
        EXPECT_EQ(Value(c.path), c.stored);
        EXPECT_EQ(Cell(c.path), c.chosen);
        EXPECT_EQ(window->VST1->Tree().Data(Find("B/Эл/Эл №1")).Gray, c.grey);
    }

    // The spin editor shows any stored number, keeps its limits for typing and refuses other texts.
    auto *spin = qobject_cast<TIntSpinEdit *>(StartEditing(Find("B/Число")));
    ASSERT_NE(spin, nullptr);
    spin->stepBy(100);
    EXPECT_EQ(spin->Value(), 100);
    // Cleared, it takes the lower limit.
    spin->SetText(QString());
    window->VST1->EndEditNode();
    EXPECT_EQ(Value("B/Число"), "5");

    // The top of the four-byte range is shown and kept as stored.
    spin = qobject_cast<TIntSpinEdit *>(StartEditing(Find("B/Без границ")));
    ASSERT_NE(spin, nullptr);
    EXPECT_EQ(spin->Text(), "4294967295");
    window->VST1->EndEditNode();
    EXPECT_EQ(Value("B/Без границ"), "4294967295");
    // A text that is no number opens no editor and says why.
    window->VST1->Tree().Data(Find("B/Число")).Value.SetText("abc");
    window->VST1->setCurrentIndex(window->VST1->Tree().IndexOf(Find("B/Число"), 1));
    ASSERT_TRUE(WaitFor([&] { return !errors.empty(); }, 2000));
    EXPECT_EQ(errors[0], "'abc' is not a valid integer value.");
    EXPECT_FALSE(Editing());
}

TEST_F(WindowTest, TextIsCutAt1023CharactersAndUpMovesUpAcceptingTheEdit)
{
    OpenSettings(kGuiSettings);
    for (const int length : {1023, 1024}) {
        auto *edit = qobject_cast<QLineEdit *>(StartEditing(Find("B/Строка")));
        ASSERT_NE(edit, nullptr);
        edit->setMaxLength(5000);
        edit->setText(QString(length, QChar(0x0416)));
        Enter(edit);
        EXPECT_EQ(QString::fromStdString(Value("B/Строка")).size(), 1023) << length;
    }
    // Shift+Up stays in the editor; Up takes the edit and moves to the row above.
    QWidget *editor = Type("B/Строка", "новое");
    QTest::keyClick(editor, Qt::Key_Up, Qt::ShiftModifier);
    Settle(50);
    EXPECT_EQ(window->VST1->EditLink()->EditedNode(), Find("B/Строка"));
    QTest::keyClick(editor, Qt::Key_Up);
    ASSERT_TRUE(WaitFor([&] { return window->VST1->EditLink()->EditedNode() == Find("B/Без границ"); }, 2000));
    EXPECT_EQ(Value("B/Строка"), "новое");
}

TEST_F(WindowTest, EditorsTakeOnlyWhatTheFieldHoldsAndSayWhyNot)
{
    dir.Write("cases.xml", ValueCasesDevice());
    Open();
    TConfigModelPtr model = CreateConfigModel(dir.Path(), 20, 1);
    ASSERT_TRUE(model);
    DecodeBlocks(*model, {Bytes(static_cast<std::size_t>(model->BlockSize(model->GetBlock(0))), 0)});
    model->SaveToFile(dir.File("cases.cfg"));
    window->FileOpen1Accept(QString::fromStdString(dir.File("cases.cfg")));
    auto *reason = window->findChild<QLabel *>("sbEntry");
    ASSERT_NE(reason, nullptr);

    const auto &cases = ValueCases();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const TValueCase &c = cases[i];
        SCOPED_TRACE(c.typed);
        const std::string path = "B/" + ValueCaseCaption(i);
        const std::string before = Value(path);
        EditText(path, QString::fromUtf8(c.typed));
        if (!c.message) {
            EXPECT_FALSE(Editing());
            EXPECT_EQ(Value(path), c.typed);
            continue;
        }
        // Refused: the editor stays open with the reason beside it, and Escape restores the value.
        EXPECT_TRUE(Editing());
        EXPECT_EQ(reason->text().toStdString(), ValueCaseCaption(i) + ": " + c.message);
        EXPECT_EQ(Value(path), before);
        QTest::keyClick(window->VST1->EditLink()->Editor(), Qt::Key_Escape);
        Settle();
        EXPECT_FALSE(Editing());
        EXPECT_TRUE(reason->text().isEmpty());
    }
    EXPECT_TRUE(errors.empty());
}
