// Which port the window opens, and the dialog that chooses it.
#include "app/port_dialog.h"
#include "tests/app/gui_fixture.h"

TEST_F(WindowTest, PortNameComesFromTheRunTheStoreThePortsPresentOrCom16)
{
    std::vector<TPortEntry> present;
    SetPortListerForTest([&] { return present; });
    EXPECT_EQ(Open().PortThread->PortName(), "COM16");
    present = {{"/dev/ttyUSB0", "FT232R USB UART"}, {"/dev/ttyS0", "serial"}};
    EXPECT_EQ(Open().PortThread->PortName(), "/dev/ttyUSB0");
    UserSettings::SetPortName("ttyUSB3");
    EXPECT_EQ(Open().PortThread->PortName(), "ttyUSB3");
    TMainOptions options = QuietOptions();
    options.port = "/dev/pts/9";
    EXPECT_EQ(Open(options).PortThread->PortName(), "/dev/pts/9");
    // A name for this run is never stored.
    EXPECT_EQ(UserSettings::PortName(), "ttyUSB3");
}

TEST_F(WindowTest, PortDialogListsThePortsPresentAndOkKeepsPortAndSpeed)
{
    std::vector<TPortEntry> present = {{"/dev/ttyUSB0", "FT232R USB UART"}, {"/dev/ttyS0", "serial"}};
    SetPortListerForTest([&] { return present; });
    TfrmMain &w = Open();
    w.mnPort->trigger();
    auto *dialog = w.findChild<TPortDialog *>();
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(dialog->PortBox->count(), 2);
    EXPECT_EQ(dialog->PortBox->currentText(), "/dev/ttyUSB0 — FT232R USB UART");
    present.push_back({"/dev/ttyACM0", "Arduino"});
    dialog->RefreshButton->click();
    ASSERT_EQ(dialog->PortBox->count(), 3);
    // A typed name is kept as typed.
    dialog->PortBox->setEditText("ttyUSB7");
    EXPECT_EQ(dialog->PortName(), "ttyUSB7");
    dialog->PortBox->setCurrentIndex(2);
    dialog->SpeedBox->setCurrentText("57600");
    dialog->OkButton->click();
    Settle();
    EXPECT_EQ(w.PortThread->PortName(), "/dev/ttyACM0");
    EXPECT_EQ(w.PortThread->BaudRate(), 57600);
    EXPECT_EQ(UserSettings::PortName(), "/dev/ttyACM0");
    EXPECT_EQ(UserSettings::BaudRate(), 57600);
}
