#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

// "Сравнение настроек": the differences between the shown configuration and a
// settings file, one a line, to read and copy from.
class TfrmCompare : public QDialog {
    Q_OBJECT
public:
    TfrmCompare(QWidget *parent, const QString &text);

    QPlainTextEdit *Memo1 = nullptr;
    QPushButton *btnClose = nullptr;
};
