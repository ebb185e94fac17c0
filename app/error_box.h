#pragma once

#include <QString>

#include <functional>

class QWidget;

// The boxes the window shows. Every one goes through here, so tests capture
// the messages instead of blocking on them.
enum class TBoxKind {
    Error,       // the application's error box: stop icon, one OK button
    Information, // "Настройки записаны"
    Plain,       // a plain box without an icon
};

// The application's error box: titled "Конфигуратор", stop icon, one OK
// button; a full stop is added when the message ends in a character that
// sorts after ".".
void ShowErrorBox(QWidget *parent, const QString &message);
void ShowInformationBox(QWidget *parent, const QString &message);
void ShowPlainBox(QWidget *parent, const QString &message);

// The text the error box shows for a message.
QString ErrorBoxText(const QString &message);

// The answers to "Сохранить изменения?".
enum class TSaveAnswer { Save, Discard, Cancel };

// Asks "Сохранить изменения?" with Сохранить / Не сохранять / Отмена,
// window-modal; answered runs with the answer once it is given.
void AskSaveChanges(QWidget *parent, std::function<void(TSaveAnswer answer)> answered);
// Asks "Эти значения будут записаны иначе: …" with Записать / Отмена,
// window-modal, listing the values one a line; proceed runs on Записать.
// The test handler's Save answers Записать.
void AskAlteredValues(QWidget *parent, const QString &values, std::function<void()> proceed);
// Replaces the questions by a handler that answers at once (tests); an empty one restores it.
void SetSaveQuestionHandler(std::function<TSaveAnswer(const QString &question)> handler);

// Replaces the boxes; an empty handler restores them.
void SetMessageBoxHandler(std::function<void(TBoxKind kind, const QString &text)> handler);

inline const QString kApplicationTitle = QStringLiteral("Конфигуратор");
