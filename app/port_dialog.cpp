#include "app/port_dialog.h"

#include "link/serial.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

namespace {

TPortLister &testLister()
{
    static TPortLister lister;
    return lister;
}

QString entryText(const TPortEntry &entry)
{
    const QString name = QString::fromStdString(entry.name);
    return entry.description.empty() ? name : name + QStringLiteral(" — ") + QString::fromStdString(entry.description);
}

} // namespace

std::vector<TPortEntry> ListPorts()
{
    return testLister() ? testLister()() : ListSerialPorts();
}

void SetPortListerForTest(TPortLister lister)
{
    testLister() = std::move(lister);
}

QString FirstPortName()
{
    const auto ports = ListPorts();
    return ports.empty() ? QString() : QString::fromStdString(ports.front().name);
}

TPortDialog::TPortDialog(QWidget *parent, const QString &portName, std::optional<int> baudRate) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Настройка подключения"));
    PortBox = new QComboBox(this);
    PortBox->setEditable(true);
    PortBox->setInsertPolicy(QComboBox::NoInsert);
    PortBox->setMinimumContentsLength(40);
    RefreshButton = new QPushButton(QStringLiteral("Обновить"), this);
    SpeedBox = new QComboBox(this);
    SpeedBox->addItem(QStringLiteral("как в системе"));
    for (const int speed : kLineSpeeds)
        SpeedBox->addItem(QString::number(speed), speed);
    if (baudRate)
        SpeedBox->setCurrentIndex(std::max(0, SpeedBox->findData(*baudRate)));

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    OkButton = buttons->button(QDialogButtonBox::Ok);
    auto *portRow = new QHBoxLayout;
    portRow->addWidget(PortBox, 1);
    portRow->addWidget(RefreshButton);
    auto *form = new QFormLayout(this);
    form->addRow(QStringLiteral("Порт:"), portRow);
    form->addRow(QStringLiteral("Скорость:"), SpeedBox);
    form->addRow(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(RefreshButton, &QPushButton::clicked, this, &TPortDialog::Refresh);
    // A port has to be named before it can be kept.
    connect(PortBox, &QComboBox::editTextChanged, this,
            [this](const QString &text) { OkButton->setEnabled(!text.trimmed().isEmpty()); });

    Refresh();
    // The current port shown as its entry when present, as typed otherwise.
    const QString device = QString::fromStdString(DeviceName(portName.toStdString()));
    int current = PortBox->findData(portName);
    if (current < 0)
        current = PortBox->findData(device);
    PortBox->setCurrentIndex(current);
    if (current < 0)
        PortBox->setEditText(portName);
}

QString TPortDialog::PortName() const
{
    const QString text = PortBox->currentText().trimmed();
    const int index = PortBox->findText(text);
    return index >= 0 ? PortBox->itemData(index).toString() : text;
}

std::optional<int> TPortDialog::BaudRate() const
{
    const QVariant speed = SpeedBox->currentData();
    return speed.isValid() ? std::optional<int>(speed.toInt()) : std::nullopt;
}

void TPortDialog::Refresh()
{
    const QString typed = PortBox->currentText();
    PortBox->clear();
    for (const auto &entry : ListPorts())
        PortBox->addItem(entryText(entry), QString::fromStdString(entry.name));
    PortBox->setCurrentIndex(PortBox->findText(typed));
    PortBox->setEditText(typed);
    OkButton->setEnabled(!typed.trimmed().isEmpty());
}
