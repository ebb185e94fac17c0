#pragma once

#include <QWidget>

#include <cstdint>

class QPlainTextEdit;
class TfrmMain;
class TFormSize;

// "Протокол": a tool window of the main window listing the serial numbers of the
// devices connected during the run. Its visibility is kept between runs, and
// the main window's menu item follows it.
class TfrmProtocol : public QWidget {
    Q_OBJECT
public:
    explicit TfrmProtocol(QWidget *parent = nullptr);

    // One line: the serial number in hexadecimal, at least 8 digits.
    void AddSerialNumber(std::uint64_t serial);
    // Tells the main window whether this window is visible, now and from now on.
    void SetMainWindow(TfrmMain *mainWindow);
    // Stores the visibility; raises EConfigError when the store cannot be written.
    void SaveVisibility();

    QPlainTextEdit *Memo1 = nullptr;
    TFormSize *FormSize1 = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void PostVisible(bool visible);

    TfrmMain *m_mainWindow = nullptr;
};
