#pragma once

#include "history/history.h"

#include <QDialog>

#include <functional>
#include <thread>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

// "История устройства": the recorded versions of one device, newest first
// (time, action, operator, station, firmware version), to open into the grid,
// compare with the shown configuration or write into the device. The shared
// history is fetched in the background before the list is shown.
class TfrmHistory : public QDialog {
    Q_OBJECT
public:
    TfrmHistory(QWidget *parent, THistoryOptions options, std::string serialNumber);
    ~TfrmHistory() override;

    // What the buttons do with the chosen version, exported as a settings file.
    std::function<void(const QString &file)> OnOpen;
    std::function<void(const QString &file)> OnCompare;
    std::function<void(const QString &file)> OnWrite;

    QTreeWidget *List = nullptr;
    QLabel *Status = nullptr;
    QPushButton *OpenButton = nullptr;
    QPushButton *CompareButton = nullptr;
    QPushButton *WriteButton = nullptr;

private:
    void Show(const std::vector<THistoryVersion> &versions, const QString &status);
    void Export(const std::function<void(const QString &)> &then);

    THistoryOptions m_options;
    std::string m_serialNumber;
    std::thread m_loader;
};

// "Настройки истории": whether the history is kept, where, and the shared repository.
class TfrmHistorySettings : public QDialog {
    Q_OBJECT
public:
    explicit TfrmHistorySettings(QWidget *parent);

    QCheckBox *Enabled = nullptr;
    QLineEdit *Folder = nullptr;
    QLineEdit *Remote = nullptr;
    QLineEdit *Branch = nullptr;

protected:
    void accept() override;
};

// The history options the user settings give.
THistoryOptions HistoryOptionsFromSettings();
