#pragma once

#include <QString>

#include <functional>

class QWidget;

// The application's error box: titled "Конфигуратор", stop icon, one OK
// button; a full stop is added when the message ends in a character that
// sorts after ".". Every failure the window reports goes through here.
void ShowErrorBox(QWidget *parent, const QString &message);

// The text the box shows for a message.
QString ErrorBoxText(const QString &message);

// Replaces the box (tests capture the messages instead of blocking on them);
// an empty handler restores it.
void SetErrorBoxHandler(std::function<void(const QString &text)> handler);

// An information box with one OK button.
void ShowInformationBox(QWidget *parent, const QString &message);
void SetInformationBoxHandler(std::function<void(const QString &text)> handler);

inline const QString kApplicationTitle = QStringLiteral("Конфигуратор");
