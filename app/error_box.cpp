#include "app/error_box.h"

#include <QMessageBox>

namespace {

std::function<void(const QString &)> &errorHandler()
{
    static std::function<void(const QString &)> handler;
    return handler;
}

std::function<void(const QString &)> &informationHandler()
{
    static std::function<void(const QString &)> handler;
    return handler;
}

// Messages carry Windows line ends; the toolkit wants plain ones.
QString displayed(const QString &text)
{
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

} // namespace

QString ErrorBoxText(const QString &message)
{
    if (!message.isEmpty() && message.back() > QChar('.'))
        return message + '.';
    return message;
}

void ShowErrorBox(QWidget *parent, const QString &message)
{
    const QString text = ErrorBoxText(message);
    if (errorHandler()) {
        errorHandler()(text);
        return;
    }
    QMessageBox::critical(parent, kApplicationTitle, displayed(text), QMessageBox::Ok);
}

void SetErrorBoxHandler(std::function<void(const QString &)> handler)
{
    errorHandler() = std::move(handler);
}

void ShowInformationBox(QWidget *parent, const QString &message)
{
    if (informationHandler()) {
        informationHandler()(message);
        return;
    }
    QMessageBox::information(parent, kApplicationTitle, displayed(message), QMessageBox::Ok);
}

void SetInformationBoxHandler(std::function<void(const QString &)> handler)
{
    informationHandler() = std::move(handler);
}
