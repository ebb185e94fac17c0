// "Сравнить с файлом..." in the window: the shown configuration against a settings file.
#include "app/compare_dialog.h"
#include "tests/app/gui_fixture.h"

TEST_F(WindowTest, TheShownSettingsWithTheEditInProgressAreSaidToMatchOrListedWhereTheyDiffer)
{
    OpenSettings(kGuiSettings);
    const QString other = QString::fromStdString(dir.Write("other.cfg", kGuiSettings));
    window->FileCompare1Accept(other);
    EXPECT_EQ(informations, std::vector<QString>{"Настройки совпадают."});
    EXPECT_EQ(window->findChild<TfrmCompare *>(), nullptr);
    // The value left in the open editor is compared, not the one stored before.
    Type("B/Число", "60");
    window->FileCompare1Accept(other);
    auto *dialog = window->findChild<TfrmCompare *>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->Memo1->toPlainText(), "B / Число: 60 → 50\n");
    EXPECT_EQ(informations.size(), 1u);
    EXPECT_TRUE(errors.empty());
}
