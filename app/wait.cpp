#include "app/wait.h"

#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kWidth = 333;
constexpr int kHeight = 138;

} // namespace

TForm1::TForm1(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName("Form1");
    setWindowTitle(QStringLiteral("Ожидание ввода ключа"));
    setModal(false);
    resize(kWidth, kHeight);
    auto *layout = new QVBoxLayout(this);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    Button1 = new QPushButton(QStringLiteral("Отмена"), this);
    Button1->setObjectName("Button1");
    layout->addWidget(ProgressBar1);
    layout->addWidget(Button1, 0, Qt::AlignHCenter);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
}

void TForm1::Button1Click()
{
    if (OnCancel)
        OnCancel();
}

void TForm1::reject()
{
    Button1Click();
}
