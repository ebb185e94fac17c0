// Which port the window opens, and the dialog that chooses it.
#include "app/port_dialog.h"
#include "tests/app/gui_fixture.h"

TEST_F(WindowTest, PortNameComesFromTheRunTheStoreThePortsPresentOrCom16AndTheDialogKeepsPortAndSpeed)
{
    std::vector<TPortEntry> present;
    SetPortListerForTest([&] { return present; });
    EXPECT_EQ(Open().PortThread->PortName(), "COM16");
    present = {{"/dev/ttyUSB0", "FT232R USB UART"}, {"/dev/ttyS0", "serial"}};
    TfrmMain &w = Open();
    EXPECT_EQ(w.PortThread->PortName(), "/dev/ttyUSB0");

    // The dialog lists the ports present, and a typed name is kept as typed.
    w.mnPort->trigger();
    auto *dialog = w.findChild<TPortDialog *>();
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(dialog->PortBox->count(), 2);
    EXPECT_EQ(dialog->PortBox->currentText(), "/dev/ttyUSB0 — FT232R USB UART");
    dialog->PortBox->setEditText("ttyUSB7");
    EXPECT_EQ(dialog->PortName(), "ttyUSB7");
    dialog->PortBox->setCurrentIndex(1);
    dialog->SpeedBox->setCurrentText("57600");
    dialog->OkButton->click();
    Settle();
    EXPECT_EQ(w.PortThread->PortName(), "/dev/ttyS0");
    EXPECT_EQ(w.PortThread->BaudRate(), 57600);
    EXPECT_EQ(UserSettings::BaudRate(), 57600);

    // The stored name comes before the ports present; a name for this run is never stored.
    EXPECT_EQ(Open().PortThread->PortName(), "/dev/ttyS0");
    TMainOptions options = QuietOptions();
    options.port = "/dev/pts/9";
    EXPECT_EQ(Open(options).PortThread->PortName(), "/dev/pts/9");
    EXPECT_EQ(UserSettings::PortName(), "/dev/ttyS0");
}
