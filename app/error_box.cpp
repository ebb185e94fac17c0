#include "app/error_box.h"

#include <QMessageBox>
#include <QPushButton>

namespace {

std::function<void(TBoxKind, const QString &)> &handler()
{
    static std::function<void(TBoxKind, const QString &)> instance;
    return instance;
}

void show(TBoxKind kind, QWidget *parent, const QString &text)
{
    if (handler()) {
        handler()(kind, text);
        return;
    }
    // Messages carry Windows line ends; the toolkit wants plain ones.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const QMessageBox::Icon icon = kind == TBoxKind::Error         ? QMessageBox::Critical
                                   : kind == TBoxKind::Information ? QMessageBox::Information
                                                                   : QMessageBox::NoIcon;
    if (kind == TBoxKind::Plain) {
        // Shown while the program closes: it must be seen before the window goes.
        QMessageBox box(icon, kApplicationTitle, shown, QMessageBox::Ok, parent);
        box.exec();
        return;
    }
    // Window-modal without a nested event loop: the caller goes on at once.
    auto *box = new QMessageBox(icon, kApplicationTitle, shown, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

std::function<TSaveAnswer(const QString &)> &questionHandler()
{
    static std::function<TSaveAnswer(const QString &)> instance;
    return instance;
}

} // namespace

void AskSaveChanges(QWidget *parent, std::function<void(TSaveAnswer)> answered)
{
    const QString question = QStringLiteral("Сохранить изменения?");
    if (questionHandler()) {
        answered(questionHandler()(question));
        return;
    }
    auto *box = new QMessageBox(QMessageBox::Question, kApplicationTitle, question, QMessageBox::NoButton, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton *save = box->addButton(QStringLiteral("Сохранить"), QMessageBox::AcceptRole);
    QPushButton *discard = box->addButton(QStringLiteral("Не сохранять"), QMessageBox::DestructiveRole);
    QPushButton *cancel = box->addButton(QStringLiteral("Отмена"), QMessageBox::RejectRole);
    box->setDefaultButton(save);
    box->setEscapeButton(cancel);
    QObject::connect(box, &QMessageBox::buttonClicked, box, [=](QAbstractButton *button) {
        answered(button == save ? TSaveAnswer::Save : button == discard ? TSaveAnswer::Discard : TSaveAnswer::Cancel);
    });
    box->open();
}

void AskAlteredValues(QWidget *parent, const QString &values, std::function<void()> proceed)
{
    const QString question = QStringLiteral("Эти значения будут записаны иначе:\n") + values;
    if (questionHandler()) {
        if (questionHandler()(question) == TSaveAnswer::Save)
            proceed();
        return;
    }
    auto *box = new QMessageBox(QMessageBox::Warning, kApplicationTitle, question, QMessageBox::NoButton, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton *write = box->addButton(QStringLiteral("Записать"), QMessageBox::AcceptRole);
    QPushButton *cancel = box->addButton(QStringLiteral("Отмена"), QMessageBox::RejectRole);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    QObject::connect(box, &QMessageBox::buttonClicked, box, [=](QAbstractButton *button) {
        if (button == write)
            proceed();
    });
    box->open();
}

void SetSaveQuestionHandler(std::function<TSaveAnswer(const QString &)> handler_)
{
    questionHandler() = std::move(handler_);
}

QString ErrorBoxText(const QString &message)
{
    if (!message.isEmpty() && message.back() > QChar('.'))
        return message + '.';
    return message;
}

void ShowErrorBox(QWidget *parent, const QString &message)
{
    show(TBoxKind::Error, parent, ErrorBoxText(message));
}

void ShowInformationBox(QWidget *parent, const QString &message)
{
    show(TBoxKind::Information, parent, message);
}

void ShowPlainBox(QWidget *parent, const QString &message)
{
    show(TBoxKind::Plain, parent, message);
}

void SetMessageBoxHandler(std::function<void(TBoxKind, const QString &)> handler_)
{
    handler() = std::move(handler_);
}
