// Makes the README's pictures: the real window on the simulated sample
// device, photographed as a person would see it.
#include "app/edit_history.h"
#include "app/error_box.h"
#include "app/main.h"
#include "app/protocol.h"
#include "app/translations.h"
#include "app/wait.h"
#include "editors/vteditor.h"
#include "workflow/workflow.h"
#include "tools/simulator/pty_server.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QMenu>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QTreeView>

#include <fstream>
#include <iostream>
#include <iterator>

namespace {

void settle(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

Bytes readFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A part of the screen as a person sees it (popups and other windows
// included), or the window alone where there is no screen to grab.
bool photograph(QWidget &window, const QString &path, QRect area = QRect())
{
    if (area.isNull())
        area = window.frameGeometry();
    QPixmap picture;
    if (QScreen *screen = window.screen(); screen && QGuiApplication::platformName() == "xcb")
        picture = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    if (picture.isNull())
        picture = window.grab();
    const bool saved = picture.save(path);
    std::cout << (saved ? "wrote " : "cannot write ") << path.toStdString() << "\n";
    return saved;
}

PVirtualNode find(TfrmMain &window, const QStringList &captions)
{
    TVstModel &tree = window.VST1->Tree();
    PVirtualNode node = nullptr;
    for (const QString &caption : captions) {
        PVirtualNode found = nullptr;
        for (int i = 0; i < tree.ChildCount(node) && !found; ++i)
            if (QString::fromStdString(tree.Data(tree.Child(node, i)).Caption) == caption)
                found = tree.Child(node, i);
        if (!found)
            return nullptr;
        node = found;
    }
    return node;
}

void expand(TfrmMain &window, const QStringList &captions)
{
    for (int depth = 1; depth <= captions.size(); ++depth)
        if (PVirtualNode node = find(window, captions.mid(0, depth)))
            window.VST1->expand(window.VST1->Tree().IndexOf(node));
}

void collapseAll(TfrmMain &window)
{
    window.VST1->collapseAll();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    InstallRussianTranslations();
    const QString outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/images");
    QDir().mkpath(outDir);
    const std::filesystem::path bin = ExecutableDir();
    RegisterConfigModels();

    TDeviceConfig config;
    config.serialNumber = 0x0512A7C3;
    for (int block = 0; block < 5; ++block)
        config.blocks.push_back(
            readFile(bin / "samples" / "transmitter-binary" / ("block" + std::to_string(block) + ".bin")));
    TSimulatedDevice device(config);
    TPtyServer server(device);
    std::string error;
    if (!server.Start(&error)) {
        std::cerr << error << "\n";
        return 1;
    }

    TMainOptions options;
    options.port = QString::fromStdString(server.PortPath());
    TfrmMain window(options);
    TfrmProtocol protocol(&window);
    TForm1 waitDialog(&window);
    window.SetForms(&protocol, &waitDialog);
    window.move(40, 40);
    window.show();
    QElapsedTimer timer;
    timer.start();
    while (!window.Connected && timer.elapsed() < 5000)
        settle(20);
    window.acRead->trigger();
    while (window.JobRunning() && timer.elapsed() < 30000)
        settle(20);
    bool ok = true;

    // Reading: the configuration as read, its first block open.
    expand(window, {"Общие параметры"});
    expand(window, {"Зоны", "Зона", "Зона №1"});
    window.VST1->setCurrentIndex(QModelIndex());
    settle(300);
    ok = photograph(window, outDir + "/main.png") && ok;

    // Editing: a value's drop-down list open in the grid.
    collapseAll(window);
    expand(window, {"Общие параметры"});
    if (PVirtualNode mode = find(window, {"Общие параметры", "Режим работы"})) {
        window.VST1->setCurrentIndex(window.VST1->Tree().IndexOf(mode, 1));
        settle(300);
        if (auto *list = qobject_cast<QComboBox *>(window.VST1->EditLink()->Editor()))
            list->showPopup();
        settle(400);
        ok = photograph(window, outDir + "/editing.png") && ok;
        window.VST1->EditLink()->CancelEdit();
        settle(100);
    }

    // The filter: the rows about keys, with a changed value drawn bold.
    collapseAll(window);
    if (PVirtualNode number = find(window, {"Общие параметры", "Номер объекта"})) {
        window.VST1->Tree().Data(number).Value.SetText("4321");
        window.Edits->Changed(QStringLiteral("изменение"));
    }
    window.FilterEdit->setText(QStringLiteral("ключа"));
    window.VST1->setCurrentIndex(QModelIndex());
    settle(300);
    ok = photograph(window, outDir + "/filter.png") && ok;
    window.FilterEdit->clear();
    window.EditUndo->trigger(); // the device's configuration as read again
    settle(100);

    // Switched-off elements: the zones whose switch is off are drawn grey.
    collapseAll(window);
    expand(window, {"Зоны", "Зона"});
    window.VST1->setCurrentIndex(QModelIndex());
    settle(300);
    ok = photograph(window, outDir + "/grey.png") && ok;

    // The protocol window after three devices were connected one after another.
    protocol.move(window.frameGeometry().right() + 20, window.y());
    protocol.resize(300, 300);
    protocol.show();
    for (const std::uint64_t serial : {0x0512A7C4ULL, 0x0512A7C5ULL}) {
        device.SetSerialNumber(serial);
        settle(600);
    }
    ok = photograph(window, outDir + "/protocol.png",
                    window.frameGeometry().united(protocol.frameGeometry()).adjusted(-10, -10, 10, 10)) && ok;
    protocol.hide();

    // A read whose device answers late: the progress dialog, repeating a request.
    int reads = 0;
    server.SetFaultScript([&](const TExchangeInfo &info) {
        return info.command == cmdReadBlock && ++reads > 2 && reads < 6 ? TFault::Drop : TFault::None;
    });
    SetSaveQuestionHandler([](const QString &) { return TSaveAnswer::Discard; });
    window.acReadExecute();
    SetSaveQuestionHandler({});
    timer.restart();
    while (timer.elapsed() < 8000 && !window.JobProgress->Text->text().startsWith(QStringLiteral("Повтор")))
        settle(50);
    settle(200);
    ok = photograph(window, outDir + "/progress.png") && ok;
    window.JobProgress->CancelButton->click();
    while (window.JobRunning() && timer.elapsed() < 15000)
        settle(50);
    server.SetFaultScript(nullptr);
    settle(300);
    for (QWidget *box : QApplication::topLevelWidgets())
        if (box->inherits("QMessageBox"))
            box->close();

    // The key wait: "Считать" on a key item, the device waiting for a key.
    collapseAll(window);
    expand(window, {"Ключи", "Ключ", "Ключ №1"});
    if (PVirtualNode key = find(window, {"Ключи", "Ключ", "Ключ №1", "Код ключа"})) {
        window.VST1->setCurrentIndex(window.VST1->Tree().IndexOf(key, 0));
        settle(200);
        if (window.VST1GetPopupMenu(key, 0)) {
            window.N3->trigger();
            settle(2500);
            ok = photograph(window, outDir + "/keywait.png",
                            window.frameGeometry().united(waitDialog.frameGeometry()).adjusted(-10, -10, 10, 10)) && ok;
            waitDialog.Button1Click();
        }
    }
    settle(200);
    return ok ? 0 : 1;
}
