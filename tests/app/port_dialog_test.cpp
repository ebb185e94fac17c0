#include "tests/app/gui_fixture.h"

#include "app/port_dialog.h"
#include "app/user_settings.h"

#include <QComboBox>
#include <QPushButton>

TEST_F(WindowTest, PortDialogListsThePortsPresentAndOkKeepsPortAndSpeed)
{
    std::vector<TPortEntry> present = {{"/dev/ttyUSB0", "FT232R USB UART"}, {"/dev/ttyS0", "serial"}};
    SetPortListerForTest([&] { return present; });
    struct Restore {
        ~Restore() { SetPortListerForTest({}); }
    } restore;

    // Nothing stored: the first port present instead of COM16.
    TfrmMain &w = Open(QuietOptions());
    EXPECT_EQ(w.PortThread->PortName(), "/dev/ttyUSB0");

    w.mnPort->trigger();
    auto *dialog = w.findChild<TPortDialog *>();
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(dialog->PortBox->count(), 2);
    EXPECT_EQ(dialog->PortBox->itemText(0), "/dev/ttyUSB0 — FT232R USB UART");
    EXPECT_EQ(dialog->PortBox->currentText(), "/dev/ttyUSB0 — FT232R USB UART");
    EXPECT_EQ(dialog->SpeedBox->currentText(), "как в системе");

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

    // A typed name is kept as typed; Cancel changes nothing.
    w.mnPort->trigger();
    dialog = w.findChild<TPortDialog *>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->SpeedBox->currentText(), "57600");
    dialog->PortBox->setEditText("ttyUSB7");
    EXPECT_EQ(dialog->PortName(), "ttyUSB7");
    dialog->reject();
    Settle();
    EXPECT_EQ(UserSettings::PortName(), "/dev/ttyACM0");
    EXPECT_EQ(w.PortThread->PortName(), "/dev/ttyACM0");
}
