#include "app/compare_dialog.h"

#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kWidth = 600;
constexpr int kHeight = 400;

} // namespace

TfrmCompare::TfrmCompare(QWidget *parent, const QString &text) : QDialog(parent)
{
    setObjectName("frmCompare");
    setWindowTitle(QStringLiteral("Сравнение настроек"));
    resize(kWidth, kHeight);
    auto *layout = new QVBoxLayout(this);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setReadOnly(true);
    // Long paths stay on one line each, as they are listed.
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setPlainText(text);
    layout->addWidget(Memo1);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    btnClose = buttons->button(QDialogButtonBox::Close);
    btnClose->setText(QStringLiteral("Закрыть"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}
