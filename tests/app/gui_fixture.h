#pragma once

#include "app/error_box.h"
#include "app/main.h"
#include "app/protocol.h"
#include "app/user_settings.h"
#include "editors/int_spin.h"
#include "editors/vteditor.h"
#include "tests/tools/device_fixture.h"

#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>

// A window over a scratch catalogue, with its message boxes and questions captured.
class WindowTest : public ::testing::Test, protected TServedDevice {
protected:
    void SetUp() override;
    void TearDown() override;

    // A window whose worker never polls (tests post its reports themselves).
    TfrmMain &Open(TMainOptions options);
    TfrmMain &Open() { return Open(QuietOptions()); }
    TMainOptions QuietOptions() const;
    // Quiet options on the served device's port, with these poll interval and read time-out.
    TMainOptions ServedOptions(int pollMilliseconds, int readMilliseconds) const;

    // Writes a settings file and opens it in the window.
    void OpenSettings(const std::string &text);
    // The node reached by captions separated by "/".
    PVirtualNode Find(const std::string &path);
    std::string Value(const std::string &path) { return window->VST1->Tree().Data(Find(path)).Value.Text(); }
    QString Cell(const std::string &path, int column = 1);
    bool Editing() const { return window->VST1->EditLink()->Editing(); }

    // Selects node's row and waits for its editor.
    QWidget *StartEditing(PVirtualNode node);
    // Opens path's editor and types text into it, or picks the list entry of that caption; the editor stays open.
    QWidget *Type(const std::string &path, const QString &text);
    // Types text into path's editor, or picks it in a list, and takes it with Enter.
    void EditText(const std::string &path, const QString &text) { Enter(Type(path, text)); }
    static void Enter(QWidget *editor);
    // Offers path's context menu, as a right click on its caption does, and takes its one item.
    void PickMenuItem(const std::string &path);

    // Lets queued messages and timers run for a while.
    static void Settle(int milliseconds = 20) { WaitFor([] { return false; }, milliseconds); }
    static bool WaitFor(const std::function<bool()> &condition, int milliseconds = 5000);
    // Triggers a device command and waits until its job has ended.
    void Trigger(QAction *action);

    TTempDir dir;
    std::filesystem::path previousDir; // FORM.INI goes to the scratch folder
    std::unique_ptr<TfrmMain> window;
    std::vector<QString> errors;
    std::vector<QString> informations;
    std::vector<QString> plains;
    // "Сохранить изменения?" and the like, answered with answer.
    std::vector<QString> questions;
    TSaveAnswer answer = TSaveAnswer::Cancel;
};

// Settings of the binary device of data/gui.xml (hw 10), which has an item of every kind the grid shows.
extern const std::string kGuiSettings;
// Settings of the XML device of data/guixml.xml (hw 11): a variable array of one or two elements and a readable item.
extern const std::string kGuiXmlSettings;
