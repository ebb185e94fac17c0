#pragma once

// The window speaks Russian whatever the system's language: Qt's own dialogs,
// buttons and context menus too. False when Qt's Russian translations are not
// installed (their package is a dependency of the program's).
bool InstallRussianTranslations();
