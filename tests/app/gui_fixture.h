#pragma once

#include "app/main.h"
#include "tests/tools/device_fixture.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QString>

#include <memory>
#include <vector>

// A window over a scratch catalogue, with its message boxes captured.
class WindowTest : public ::testing::Test, protected TServedDevice {
protected:
    void SetUp() override;
    void TearDown() override;

    // A window whose worker never polls (tests post its reports themselves).
    TfrmMain &Open(TMainOptions options = {});
    TMainOptions QuietOptions() const;
    // Quiet options on the served device's port, with these poll interval and read time-out.
    TMainOptions ServedOptions(int pollMilliseconds, int readMilliseconds) const;

    // Writes a settings file and opens it in the window.
    void OpenSettings(const std::string &text);
    // The node reached by captions separated by "/".
    PVirtualNode Find(const std::string &path);
    // Selects node's row and waits for its editor.
    QWidget *StartEditing(PVirtualNode node);
    QString Cell(PVirtualNode node, int column = 1);
    // Lets queued messages and timers run for a while.
    static void Settle(int milliseconds = 20);
    static bool WaitFor(const std::function<bool()> &condition, int milliseconds = 5000);
    // Triggers a device command and waits until its job has ended.
    void Trigger(QAction *action);

    TTempDir dir;
    std::filesystem::path previousDir; // FORM.INI goes to the scratch folder
    std::unique_ptr<TfrmMain> window;
    std::vector<QString> errors;
    std::vector<QString> informations;
    std::vector<QString> plains;
};

// A binary device (hw 10) with an item of every kind the grid shows.
extern const char *const kGuiDevice;
// Its settings file.
extern const char *const kGuiSettings;
// An XML device (hw 11) with a variable array of at most two elements and a readable item.
extern const char *const kGuiXmlDevice;
extern const char *const kGuiXmlSettings;
