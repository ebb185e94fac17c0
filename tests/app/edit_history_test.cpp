// The technician's edits in the window: what is modified, undo and redo,
// the question before edits are lost, and the filter (undo is with the popup menu's tests).
#include "tests/app/gui_fixture.h"

namespace {

class EditsTest : public WindowTest {
protected:
    bool Bold(const std::string &path)
    {
        TVstModel &tree = window->VST1->Tree();
        return tree.data(tree.IndexOf(Find(path), 1), Qt::FontRole).value<QFont>().bold();
    }
    bool Shown(const std::string &path)
    {
        const QModelIndex index = window->VST1->Tree().IndexOf(Find(path));
        return !window->VST1->isRowHidden(index.row(), index.parent());
    }
};

} // namespace

TEST_F(EditsTest, FilterMatchesCaptionOrValueAndChangedValuesAreBoldCountedAndMarkTheTitleUntilSaved)
{
    OpenSettings(kGuiSettings);
    // The filter keeps rows matching by caption or value, with their parents.
    window->FilterEdit->setText("ключ");
    EXPECT_TRUE(Shown("B"));
    EXPECT_TRUE(Shown("B/Ключ"));
    EXPECT_FALSE(Shown("B/Флаг"));
    EXPECT_FALSE(Shown("B/Эл/Эл №1"));
    // By value too: "текст" is the value of "Строка".
    window->FilterEdit->setText("текст");
    EXPECT_TRUE(Shown("B/Строка"));
    window->FilterEdit->clear();

    EditText("B/Строка", "новый");
    EditText("B/Эл/Эл №1/Значение", "9");
    EXPECT_TRUE(Bold("B/Строка"));
    EXPECT_TRUE(Bold("B/Эл/Эл №1/Значение"));
    EXPECT_FALSE(Bold("B/Эл/Эл №2/Значение"));
    EXPECT_EQ(window->findChild<QLabel *>("sbModified")->text(), "Изменено: 2");
    EXPECT_TRUE(window->windowTitle().endsWith("opened.cfg *"));
    // Typing the old text back is no change at all.
    EditText("B/Строка", "текст");
    EXPECT_FALSE(Bold("B/Строка"));
    // The filter can show the changed values alone, with their parents.
    window->OnlyModified->setChecked(true);
    EXPECT_TRUE(Shown("B/Эл/Эл №1/Значение"));
    EXPECT_FALSE(Shown("B/Эл/Эл №1/Вкл"));
    EXPECT_FALSE(Shown("B/Эл/Эл №2"));
    EXPECT_FALSE(Shown("B/Строка"));
    window->FileSaveAs1Accept(QString::fromStdString(dir.File("saved.cfg")));
    EXPECT_FALSE(Bold("B/Эл/Эл №1/Значение"));
    EXPECT_TRUE(window->windowTitle().endsWith("saved.cfg"));
    EXPECT_EQ(window->RecentMenu->actions().front()->text(), "&1 " + QString::fromStdString(dir.File("saved.cfg")));
}

TEST_F(EditsTest, EditsAreAskedAboutBeforeTheyAreLost)
{
    const struct {
        TSaveAnswer answer;
        bool closes;
        bool saved;
    } cases[] = {
        {TSaveAnswer::Cancel, false, false},
        {TSaveAnswer::Discard, true, false},
        {TSaveAnswer::Save, true, true},
    };
    for (const auto &c : cases) {
        window.reset();
        questions.clear();
        OpenSettings(kGuiSettings);
        // Nothing changed: no question.
        window->RecentMenu->actions().front()->trigger();
        EXPECT_TRUE(questions.empty());
        EditText("B/Строка", "новый");
        answer = c.answer;
        const bool closed = window->close();
        if (c.answer == TSaveAnswer::Save) {
            auto *dialog = window->findChild<QFileDialog *>();
            ASSERT_NE(dialog, nullptr);
            dialog->selectFile(QString::fromStdString(dir.File("kept.cfg")));
            QMetaObject::invokeMethod(dialog, "accept");
            Settle();
        }
        Settle();
        EXPECT_EQ(questions, std::vector<QString>{"Сохранить изменения?"});
        EXPECT_FALSE(closed); // the answer comes first
        EXPECT_EQ(!window->isVisible(), c.closes);
        EXPECT_EQ(std::filesystem::exists(dir.Path() / "kept.cfg"), c.saved);
    }
}
