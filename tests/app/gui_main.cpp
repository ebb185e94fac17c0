// The window tests' main: a QApplication on the offscreen platform, and user
// settings kept in a folder of this run's own, apart from the real user's and
// from other test processes running at the same time.
#include "app/translations.h"

#include <QtWidgets>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    QApplication application(argc, argv);
    // Qt's own dialogs speak Russian here as in the program.
    InstallRussianTranslations();
    QTemporaryDir settings;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    // The configuration history goes to this run's folder too.
    qputenv("XDG_DATA_HOME", QFile::encodeName(settings.path() + "/data"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
