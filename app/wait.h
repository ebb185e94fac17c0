#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

// "Ожидание ввода ключа": shown while the device waits for a key to be
// presented; the main window drives it and takes no input meanwhile.
class TForm1 : public QDialog {
    Q_OBJECT
public:
    explicit TForm1(QWidget *parent = nullptr);

    void Button1Click();

    QLabel *Label1 = nullptr; // what the technician is to do
    QProgressBar *ProgressBar1 = nullptr;
    QPushButton *Button1 = nullptr;
    // What "Отмена" does (the main window ends the wait and stops the device).
    std::function<void()> OnCancel;

protected:
    // Escape means "Отмена"; the dialog has no close button of its own.
    void reject() override;
};
