// Which port the window opens, and the dialog that chooses it.
#include "app/port_dialog.h"
#include "tests/app/gui_fixture.h"

namespace {

// The ports the window finds present.
class PortTest : public WindowTest {
protected:
    std::vector<TPortEntry> present;
};

} // namespace

TEST_F(PortTest, PortNameComesFromTheRunTheStoreThePortsPresentOrCom16)
{
    SetPortListerForTest([&] { return present; });
    const struct {
        const char *what;
        std::vector<TPortEntry> present;
        std::optional<QString> stored;
        std::optional<QString> option;
        std::string expected;
    } cases[] = {
        {"nothing at all", {}, std::nullopt, std::nullopt, "COM16"},
        {"empty stored value", {}, QString(""), std::nullopt, "COM16"},
        {"ports present", {{"/dev/ttyUSB0", "FT232R USB UART"}, {"/dev/ttyS0", "serial"}}, std::nullopt, std::nullopt,
         "/dev/ttyUSB0"},
        {"stored name", {{"/dev/ttyS0", "serial"}}, QString("ttyUSB3"), std::nullopt, "ttyUSB3"},
        {"name for this run", {}, QString("ttyUSB3"), QString("/dev/pts/9"), "/dev/pts/9"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        present = c.present;
        QSettings(QSettings::IniFormat, QSettings::UserScope, "configurator", "configurator").clear();
        if (c.stored)
            UserSettings::SetPortName(*c.stored);
        TMainOptions options = QuietOptions();
        options.port = c.option;
        EXPECT_EQ(Open(options).PortThread->PortName(), c.expected);
        // A name for this run is never stored.
        EXPECT_EQ(UserSettings::PortName(), c.stored.value_or(QString()));
    }
}

TEST_F(PortTest, PortDialogListsThePortsPresentAndOkKeepsPortAndSpeed)
{
    present = {{"/dev/ttyUSB0", "FT232R USB UART"}, {"/dev/ttyS0", "serial"}};
    SetPortListerForTest([&] { return present; });
    TfrmMain &w = Open(QuietOptions());
    w.mnPort->trigger();
    auto *dialog = w.findChild<TPortDialog *>();
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(dialog->PortBox->count(), 2);
    EXPECT_EQ(dialog->PortBox->currentText(), "/dev/ttyUSB0 — FT232R USB UART");

    present.push_back({"/dev/ttyACM0", "Arduino"});
    dialog->RefreshButton->click();
    ASSERT_EQ(dialog->PortBox->count(), 3);
    dialog->PortBox->setCurrentIndex(2);
    dialog->SpeedBox->setCurrentText("57600");
    dialog->OkButton->click();
    Settle();
    EXPECT_EQ(w.PortThread->PortName(), "/dev/ttyACM0");
    EXPECT_EQ(w.PortThread->BaudRate(), 57600);
    EXPECT_EQ(UserSettings::PortName(), "/dev/ttyACM0");
    EXPECT_EQ(UserSettings::BaudRate(), 57600);

    // A typed name is kept as typed.
    w.mnPort->trigger();
    dialog = w.findChild<TPortDialog *>();
    ASSERT_NE(dialog, nullptr);
    dialog->PortBox->setEditText("ttyUSB7");
    EXPECT_EQ(dialog->PortName(), "ttyUSB7");
}
