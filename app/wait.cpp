#include "app/wait.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// Wide enough for the title with the program's name after it, and the instruction.
constexpr int kWidth = 420;
constexpr int kHeight = 150;

} // namespace

// No system menu, close, minimise or maximise button: "Отмена" is the way out.
TForm1::TForm1(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName("Form1");
    setWindowTitle(QStringLiteral("Ожидание ввода ключа"));
    setModal(false);
    setWindowFlag(Qt::WindowMinMaxButtonsHint, false);
    setWindowFlag(Qt::WindowCloseButtonHint, false);
    resize(kWidth, kHeight);
    auto *layout = new QVBoxLayout(this);
    Label1 = new QLabel(QStringLiteral("Приложите ключ к считывателю устройства"), this);
    Label1->setObjectName("Label1");
    Label1->setAlignment(Qt::AlignHCenter);
    layout->addWidget(Label1);
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
