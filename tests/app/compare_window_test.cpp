// "Сравнить с файлом..." in the window: the shown configuration against a settings file.
#include "app/compare_dialog.h"
#include "editors/int_spin.h"
#include "editors/vteditor.h"
#include "tests/app/gui_fixture.h"

#include <QAction>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

class CompareWindowTest : public WindowTest {
protected:
    // The shown settings with one text replaced, written as another file.
    std::string Variant(const std::string &from, const std::string &to)
    {
        std::string text = kGuiSettings;
        const std::size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos)
            text.replace(at, from.size(), to);
        return dir.Write("other.cfg", text);
    }

    TfrmCompare *Dialog() const { return window->findChild<TfrmCompare *>(); }
};

} // namespace

TEST_F(CompareWindowTest, TheItemFollowsSaveAndWaitsForAConfiguration)
{
    TfrmMain &w = Open(QuietOptions());
    const QList<QAction *> items = w.menuBar()->actions().front()->menu()->actions();
    const int save = static_cast<int>(items.indexOf(w.FileSaveAs1));
    ASSERT_GE(save, 0);
    ASSERT_LT(save + 1, items.size());
    EXPECT_EQ(items[save + 1], w.FileCompare1);
    EXPECT_EQ(w.FileCompare1->text(), "Сравнить с файлом...");
    EXPECT_FALSE(w.FileCompare1->isEnabled());
    OpenSettings(kGuiSettings);
    EXPECT_TRUE(w.FileCompare1->isEnabled());
    // A file that cannot be shown leaves the item as it was.
    OpenSettings("<config/>");
    EXPECT_TRUE(w.FileCompare1->isEnabled());
}

TEST_F(CompareWindowTest, EqualSettingsAreSaidToMatch)
{
    OpenSettings(kGuiSettings);
    window->FileCompare1Accept(QString::fromStdString(dir.Write("same.cfg", kGuiSettings)));
    EXPECT_EQ(informations, std::vector<QString>{"Настройки совпадают."});
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(Dialog(), nullptr);
}

TEST_F(CompareWindowTest, DifferencesAreListedInADialog)
{
    OpenSettings(kGuiSettings);
    window->FileCompare1Accept(QString::fromStdString(Variant("<e><value>2</value></e>", "<e><value>1</value></e>")));
    TfrmCompare *dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->windowTitle(), "Сравнение настроек");
    EXPECT_TRUE(dialog->Memo1->isReadOnly());
    EXPECT_EQ(dialog->Memo1->toPlainText(), "B / Режим: Авто → Вкл\n");
    EXPECT_TRUE(informations.empty());
    dialog->btnClose->click();
    Settle();
    EXPECT_EQ(Dialog(), nullptr);
}

TEST_F(CompareWindowTest, AnEditInProgressIsComparedWithItsNewText)
{
    OpenSettings(kGuiSettings);
    auto *spin = qobject_cast<TIntSpinEdit *>(StartEditing(Find("B/Число")));
    ASSERT_NE(spin, nullptr);
    spin->SetText("60");
    window->FileCompare1Accept(QString::fromStdString(dir.Write("same.cfg", kGuiSettings)));
    ASSERT_NE(Dialog(), nullptr);
    EXPECT_EQ(Dialog()->Memo1->toPlainText(), "B / Число: 60 → 50\n");
}

TEST_F(CompareWindowTest, AnotherDeviceIsAnError)
{
    OpenSettings(kGuiSettings);
    window->FileCompare1Accept(QString::fromStdString(dir.Write("xml.cfg", kGuiXmlSettings)));
    EXPECT_EQ(errors, std::vector<QString>{"Версия устройства не совпадает с версией настроек."});
    EXPECT_EQ(Dialog(), nullptr);
}
