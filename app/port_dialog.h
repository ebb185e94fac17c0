#pragma once

#include "link/port_list.h"

#include <QDialog>

#include <functional>
#include <optional>
#include <vector>

class QComboBox;
class QPushButton;

using TPortLister = std::function<std::vector<TPortEntry>()>;

// The ports present, as the window asks for them; tests replace the system's
// listing (an empty lister restores it).
std::vector<TPortEntry> ListPorts();
void SetPortListerForTest(TPortLister lister);

// The port used when none is stored or given: the first one present; empty when none is.
QString FirstPortName();

// "Настройка подключения": the port, picked from those present or typed, and
// the line speed. The caller reads the choice when the dialog is accepted.
class TPortDialog : public QDialog {
    Q_OBJECT
public:
    TPortDialog(QWidget *parent, const QString &portName, std::optional<int> baudRate);

    // The port picked or typed.
    QString PortName() const;
    // The speed picked; none for "как в системе".
    std::optional<int> BaudRate() const;
    // Lists the ports again, keeping what is typed.
    void Refresh();

    QComboBox *PortBox = nullptr;
    QComboBox *SpeedBox = nullptr;
    QPushButton *RefreshButton = nullptr;
    QPushButton *OkButton = nullptr;
};
