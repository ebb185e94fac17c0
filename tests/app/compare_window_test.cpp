// "Сравнить с файлом..." in the window: the shown configuration against a settings file.
#include "app/compare_dialog.h"
#include "tests/app/gui_fixture.h"


namespace {

class CompareWindowTest : public WindowTest {
protected:
    TfrmCompare *Dialog() const { return window->findChild<TfrmCompare *>(); }
};

} // namespace

TEST_F(CompareWindowTest, TheShownSettingsWithTheEditInProgressMatchDifferOrAreOfAnotherDevice)
{
    std::string differing = kGuiSettings;
    differing.replace(differing.find("<e><value>2</value></e>"), 23, "<e><value>1</value></e>");
    const struct {
        const char *what;
        const std::string &file;
        const char *typed; // left in the open editor of "Число"
        std::vector<QString> informations;
        std::vector<QString> errors;
        QString listed; // empty: no dialog
    } cases[] = {
        {"same", kGuiSettings, nullptr, {"Настройки совпадают."}, {}, ""},
        {"one value differs", differing, nullptr, {}, {}, "B / Режим: Авто → Вкл\n"},
        {"another device", kGuiXmlSettings, nullptr, {}, {"Версия устройства не совпадает с версией настроек."}, ""},
        {"an edit in progress", kGuiSettings, "60", {}, {}, "B / Число: 60 → 50\n"},
    };
    OpenSettings(kGuiSettings);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        informations.clear();
        errors.clear();
        if (c.typed)
            Type("B/Число", c.typed);
        window->FileCompare1Accept(QString::fromStdString(dir.Write("other.cfg", c.file)));
        EXPECT_EQ(informations, c.informations);
        EXPECT_EQ(errors, c.errors);
        TfrmCompare *dialog = Dialog();
        ASSERT_EQ(dialog != nullptr, !c.listed.isEmpty());
        if (!dialog)
            continue;
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->Memo1->toPlainText(), c.listed);
        dialog->btnClose->click();
        Settle();
        EXPECT_EQ(Dialog(), nullptr);
    }
}
