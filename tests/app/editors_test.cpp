// In-place editing through the grid's edit link.
#include "editors/int_spin.h"
#include "editors/vteditor.h"
#include "tests/app/gui_fixture.h"
#include "tests/model/value_cases.h"
#include "workflow/workflow.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

namespace {

class EditorTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        OpenSettings(kGuiSettings);
        ASSERT_TRUE(errors.empty());
    }

    std::string Value(const char *path) { return window->VST1->Tree().Data(Find(path)).Value.Text(); }
    void Enter(QWidget *editor)
    {
        QTest::keyClick(editor, Qt::Key_Return);
        Settle();
    }
};

} // namespace

TEST_F(EditorTest, ListsShowTheChoiceAndStoreTheChosenEntrysValue)
{
    const struct {
        const char *path;
        const char *preset; // none: the settings' value
        int count;
        int current;
        const char *currentText;
        int chosen;
        const char *stored;
        const char *shown;
    } cases[] = {
        {"B/Флаг", nullptr, 2, 1, "Да", 0, "0", "Нет"},
        // Any text but "0" selects "Да" in the list, though the cell shows "Да" for "1" only.
        {"B/Флаг", "2", 2, 1, "Да", 1, "1", "Да"},
        {"B/Режим", nullptr, 3, 2, "Авто", 1, "1", "Вкл"},
        // A value matching no choice selects nothing and stays as it was.
        {"B/Режим", "9", 3, -1, "", -1, "9", ""},
    };
    for (const auto &c : cases) {
        if (c.preset)
            window->VST1->Tree().Data(Find(c.path)).Value.SetText(c.preset);
        auto *list = qobject_cast<QComboBox *>(StartEditing(Find(c.path)));
        ASSERT_NE(list, nullptr) << c.path;
        EXPECT_EQ(list->count(), c.count) << c.path;
        EXPECT_EQ(list->currentIndex(), c.current) << c.path;
        EXPECT_EQ(list->currentText(), c.currentText) << c.path;
        list->setCurrentIndex(c.chosen);
        Enter(list);
        EXPECT_EQ(Value(c.path), c.stored) << c.path;
        EXPECT_EQ(Cell(Find(c.path)), c.shown) << c.path;
        EXPECT_FALSE(window->VST1->EditLink()->Editing()) << c.path;
    }
}

TEST_F(EditorTest, SpinEditorKeepsLimitsAndTheLowerOneWhenCleared)
{
    auto *spin = qobject_cast<TIntSpinEdit *>(StartEditing(Find("B/Число")));
    ASSERT_NE(spin, nullptr);
    EXPECT_EQ(spin->Value(), 50);
    EXPECT_EQ(spin->MinValue(), 5);
    EXPECT_EQ(spin->MaxValue(), 100);
    spin->stepBy(100);
    EXPECT_EQ(spin->Value(), 100);
    spin->SetText(QString());
    window->VST1->EndEditNode();
    EXPECT_EQ(Value("B/Число"), "5");
}

TEST_F(EditorTest, SpinEditorShowsAndKeepsValuesOutsideItsLimitsAndTheWholeFourByteRange)
{
    window->VST1->Tree().Data(Find("B/Число")).Value.SetText("500");
    for (const char *path : {"B/Без границ", "B/Число"}) {
        const std::string before = Value(path);
        auto *spin = qobject_cast<TIntSpinEdit *>(StartEditing(Find(path)));
        ASSERT_NE(spin, nullptr) << path;
        EXPECT_EQ(spin->Text().toStdString(), before) << path;
        window->VST1->EndEditNode();
        EXPECT_EQ(Value(path), before) << path;
    }
    EXPECT_EQ(Value("B/Без границ"), "4294967295");
}

TEST_F(EditorTest, NonIntegerValueRefusesToEditWithTheConversionMessage)
{
    window->VST1->Tree().Data(Find("B/Число")).Value.SetText("abc");
    window->VST1->setCurrentIndex(window->VST1->Tree().IndexOf(Find("B/Число"), 1));
    ASSERT_TRUE(WaitFor([&] { return !errors.empty(); }, 2000));
    EXPECT_EQ(errors[0], "'abc' is not a valid integer value.");
    EXPECT_FALSE(window->VST1->EditLink()->Editing());
}

TEST_F(EditorTest, EscapeKeepsTheValue)
{
    auto *edit = qobject_cast<QLineEdit *>(StartEditing(Find("B/Строка")));
    ASSERT_NE(edit, nullptr);
    edit->setText("другое");
    QTest::keyClick(edit, Qt::Key_Escape);
    Settle();
    EXPECT_EQ(Value("B/Строка"), "текст");
    EXPECT_FALSE(window->VST1->EditLink()->Editing());
}

TEST_F(EditorTest, TextIsCutAt1023Characters)
{
    const struct {
        int length;
        int stored;
    } cases[] = {{1023, 1023}, {1024, 1023}, {1500, 1023}};
    for (const auto &c : cases) {
        auto *edit = qobject_cast<QLineEdit *>(StartEditing(Find("B/Строка")));
        ASSERT_NE(edit, nullptr);
        edit->setMaxLength(5000);
        edit->setText(QString(c.length, QChar(0x0416)));
        Enter(edit);
        EXPECT_EQ(QString::fromStdString(Value("B/Строка")).size(), c.stored) << c.length;
        window->VST1->setCurrentIndex(window->VST1->Tree().IndexOf(Find("B/Флаг"), 0));
        Settle();
        window->VST1->EndEditNode();
    }
}

TEST_F(EditorTest, DeactivatorEditSwitchesTheElementsGrey)
{
    PVirtualNode element = Find("B/Эл/Эл №1");
    ASSERT_TRUE(window->VST1->Tree().Data(element).Gray);
    auto *list = qobject_cast<QComboBox *>(StartEditing(Find("B/Эл/Эл №1/Вкл")));
    ASSERT_NE(list, nullptr);
    list->setCurrentIndex(1);
    Enter(list);
    EXPECT_EQ(Value("B/Эл/Эл №1/Вкл"), "1");
    EXPECT_FALSE(window->VST1->Tree().Data(element).Gray);

    list = qobject_cast<QComboBox *>(StartEditing(Find("B/Эл/Эл №1/Вкл")));
    ASSERT_NE(list, nullptr);
    list->setCurrentIndex(0);
    Enter(list);
    EXPECT_TRUE(window->VST1->Tree().Data(element).Gray);
}

TEST_F(EditorTest, UpMovesToThePreviousNodeAcceptingTheEdit)
{
    auto *edit = qobject_cast<QLineEdit *>(StartEditing(Find("B/Строка")));
    ASSERT_NE(edit, nullptr);
    edit->setText("новое");
    QTest::keyClick(edit, Qt::Key_Up);
    ASSERT_TRUE(WaitFor([&] { return window->VST1->EditLink()->EditedNode() == Find("B/Без границ"); }, 2000));
    EXPECT_EQ(Value("B/Строка"), "новое");
}

TEST_F(EditorTest, ShiftUpStaysInTheEditor)
{
    auto *edit = qobject_cast<QLineEdit *>(StartEditing(Find("B/Строка")));
    ASSERT_NE(edit, nullptr);
    QTest::keyClick(edit, Qt::Key_Up, Qt::ShiftModifier);
    Settle(50);
    EXPECT_EQ(window->VST1->EditLink()->EditedNode(), Find("B/Строка"));
}

TEST_F(WindowTest, EditorsTakeOnlyWhatTheFieldHoldsAndSayWhyNot)
{
    dir.Write("cases.xml", ValueCasesDevice());
    Open(QuietOptions());
    TConfigModelPtr model = CreateConfigModel(dir.Path(), 20, 1);
    ASSERT_TRUE(model);
    DecodeBlocks(*model, {Bytes(static_cast<std::size_t>(model->BlockSize(model->GetBlock(0))), 0)});
    model->SaveToFile(dir.File("cases.cfg"));
    window->FileOpen1Accept(QString::fromStdString(dir.File("cases.cfg")));
    ASSERT_TRUE(errors.empty()) << errors.front().toStdString();
    auto *reason = window->findChild<QLabel *>("sbEntry");
    ASSERT_NE(reason, nullptr);

    const auto &cases = ValueCases();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const TValueCase &c = cases[i];
        const std::string path = "B/" + ValueCaseCaption(i);
        const std::string before = window->VST1->Tree().Data(Find(path)).Value.Text();
        QWidget *editor = StartEditing(Find(path));
        ASSERT_NE(editor, nullptr) << path;
        if (auto *edit = qobject_cast<QLineEdit *>(editor))
            edit->setText(QString::fromUtf8(c.typed));
        else if (auto *spin = qobject_cast<TIntSpinEdit *>(editor))
            spin->SetText(QString::fromUtf8(c.typed));
        QTest::keyClick(editor, Qt::Key_Return);
        Settle();
        const std::string stored = window->VST1->Tree().Data(Find(path)).Value.Text();
        if (!c.message) {
            EXPECT_FALSE(window->VST1->EditLink()->Editing()) << c.typed;
            EXPECT_EQ(stored, c.typed);
            continue;
        }
        // Refused: the editor stays open with the reason beside it, and Escape restores the value.
        EXPECT_TRUE(window->VST1->EditLink()->Editing()) << c.typed;
        EXPECT_EQ(reason->text().toStdString(), ValueCaseCaption(i) + ": " + c.message);
        EXPECT_EQ(stored, before) << c.typed;
        QTest::keyClick(window->VST1->EditLink()->Editor(), Qt::Key_Escape);
        Settle();
        EXPECT_FALSE(window->VST1->EditLink()->Editing()) << c.typed;
        EXPECT_EQ(window->VST1->Tree().Data(Find(path)).Value.Text(), before) << c.typed;
        EXPECT_TRUE(reason->text().isEmpty()) << c.typed;
    }
    EXPECT_TRUE(errors.empty());
}
