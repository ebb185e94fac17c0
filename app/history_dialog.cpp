#include "app/history_dialog.h"

#include "app/error_box.h"
#include "app/user_settings.h"
#include "model/model.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 360;

QString qtext(const std::string &text)
{
    return QString::fromStdString(text);
}

} // namespace

THistoryOptions HistoryOptionsFromSettings()
{
    const UserSettings::THistorySettings settings = UserSettings::History();
    THistoryOptions options;
    options.enabled = settings.enabled;
    options.folder = PathFromUtf8(settings.folder.toStdString());
    options.remote = settings.remote.toStdString();
    options.branch = settings.branch.isEmpty() ? options.branch : settings.branch.toStdString();
    return options;
}

TfrmHistory::TfrmHistory(QWidget *parent, THistoryOptions options, std::string serialNumber)
    : QDialog(parent), m_options(std::move(options)), m_serialNumber(std::move(serialNumber))
{
    setObjectName("frmHistory");
    setWindowTitle(QStringLiteral("История устройства %1").arg(qtext(m_serialNumber)));
    resize(kWidth, kHeight);
    auto *layout = new QVBoxLayout(this);
    List = new QTreeWidget(this);
    List->setObjectName("List");
    List->setRootIsDecorated(false);
    List->setHeaderLabels({QStringLiteral("Время"), QStringLiteral("Действие"), QStringLiteral("Оператор"),
                           QStringLiteral("Станция"), QStringLiteral("Версия"), QStringLiteral("Ревизия")});
    List->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(List, 1);
    Status = new QLabel(QStringLiteral("Загрузка истории..."), this);
    layout->addWidget(Status);

    auto *buttons = new QHBoxLayout();
    OpenButton = new QPushButton(QStringLiteral("Открыть"), this);
    CompareButton = new QPushButton(QStringLiteral("Сравнить с показанными"), this);
    WriteButton = new QPushButton(QStringLiteral("Записать в устройство"), this);
    auto *close = new QPushButton(QStringLiteral("Закрыть"), this);
    for (QPushButton *button : {OpenButton, CompareButton, WriteButton}) {
        button->setEnabled(false);
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(OpenButton, &QPushButton::clicked, this, [this] { Export(OnOpen); });
    connect(CompareButton, &QPushButton::clicked, this, [this] { Export(OnCompare); });
    connect(WriteButton, &QPushButton::clicked, this, [this] { Export(OnWrite); });
    connect(List, &QTreeWidget::itemSelectionChanged, this, [this] {
        const bool chosen = !List->selectedItems().isEmpty();
        for (QPushButton *button : {OpenButton, CompareButton, WriteButton})
            button->setEnabled(chosen);
    });

    // The shared history may take a while to reach: the dialog stays usable meanwhile.
    m_loader = std::thread([this, options = m_options, serial = m_serialNumber] {
        std::vector<THistoryVersion> versions;
        QString status;
        try {
            if (const auto warning = SyncHistory(options))
                status = qtext(*warning);
            versions = THistoryStore(options).Versions(serial);
            if (versions.empty())
                status = QStringLiteral("В истории нет версий этого устройства.");
        } catch (const std::exception &e) {
            status = QString::fromUtf8(e.what());
        }
        QMetaObject::invokeMethod(this, [this, versions, status] { Show(versions, status); }, Qt::QueuedConnection);
    });
}

TfrmHistory::~TfrmHistory()
{
    if (m_loader.joinable())
        m_loader.join();
}

void TfrmHistory::Show(const std::vector<THistoryVersion> &versions, const QString &status)
{
    Status->setText(status);
    Status->setVisible(!status.isEmpty());
    for (const THistoryVersion &version : versions) {
        auto *item = new QTreeWidgetItem(List, {qtext(HistoryTimeText(version.time)), qtext(version.action),
                                                qtext(version.operatorName), qtext(version.station),
                                                QString::number(version.firmwareVersion), qtext(version.shortRevision)});
        item->setData(0, Qt::UserRole, qtext(version.revision));
    }
}

void TfrmHistory::Export(const std::function<void(const QString &)> &then)
{
    const QList<QTreeWidgetItem *> chosen = List->selectedItems();
    if (chosen.isEmpty() || !then)
        return;
    const std::string revision = chosen.front()->data(0, Qt::UserRole).toString().toStdString();
    const QString file = QDir::temp().filePath(
        QStringLiteral("configurator-%1-%2.cfg").arg(qtext(m_serialNumber), qtext(revision.substr(0, 12))));
    try {
        THistoryStore(m_options).Export(m_serialNumber, revision, PathFromUtf8(file.toStdString()));
    } catch (const std::exception &e) {
        ShowErrorBox(this, QString::fromUtf8(e.what()));
        return;
    }
    then(file);
}

TfrmHistorySettings::TfrmHistorySettings(QWidget *parent) : QDialog(parent)
{
    setObjectName("frmHistorySettings");
    setWindowTitle(QStringLiteral("Настройки истории"));
    const UserSettings::THistorySettings settings = UserSettings::History();
    auto *layout = new QVBoxLayout(this);
    Enabled = new QCheckBox(QStringLiteral("Сохранять историю настроек устройств"), this);
    Enabled->setChecked(settings.enabled);
    layout->addWidget(Enabled);
    auto *form = new QFormLayout();
    Folder = new QLineEdit(settings.folder, this);
    Folder->setPlaceholderText(QString::fromStdString(DefaultHistoryFolder().string()));
    Remote = new QLineEdit(settings.remote, this);
    Remote->setPlaceholderText(QStringLiteral("ssh://git@server/srv/git/configurator-history.git"));
    Branch = new QLineEdit(settings.branch, this);
    form->addRow(QStringLiteral("Папка:"), Folder);
    form->addRow(QStringLiteral("Общий репозиторий:"), Remote);
    form->addRow(QStringLiteral("Ветка:"), Branch);
    layout->addLayout(form);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void TfrmHistorySettings::accept()
{
    UserSettings::SetHistory({Enabled->isChecked(), Folder->text().trimmed(), Remote->text().trimmed(),
                              Branch->text().trimmed().isEmpty() ? QStringLiteral("main") : Branch->text().trimmed()});
    QDialog::accept();
}
