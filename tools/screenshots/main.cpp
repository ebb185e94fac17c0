// Makes the README's pictures: the real window on the simulated sample
// device, photographed as a person would see it.
#include "app/main.h"
#include "app/protocol.h"
#include "app/wait.h"
#include "app/workflow.h"
#include "tools/simulator/pty_server.h"

#include <QApplication>
#include <QDir>
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

// The window as shown on the screen, or as rendered where there is no screen to grab.
bool photograph(QWidget &window, const QString &path)
{
    QPixmap picture;
    if (QScreen *screen = window.screen(); screen && QGuiApplication::platformName() == "xcb")
        picture = screen->grabWindow(0, window.frameGeometry().x(), window.frameGeometry().y(),
                                     window.frameGeometry().width(), window.frameGeometry().height());
    if (picture.isNull())
        picture = window.grab();
    const bool saved = picture.save(path);
    std::cout << (saved ? "wrote " : "cannot write ") << path.toStdString() << "\n";
    return saved;
}

void expand(TfrmMain &window, const QStringList &captions)
{
    TVstModel &tree = window.VST1->Tree();
    PVirtualNode node = nullptr;
    for (const QString &caption : captions) {
        PVirtualNode found = nullptr;
        for (int i = 0; i < tree.ChildCount(node) && !found; ++i)
            if (QString::fromStdString(tree.Data(tree.Child(node, i)).Caption) == caption)
                found = tree.Child(node, i);
        if (!found)
            return;
        node = found;
        window.VST1->expand(tree.IndexOf(node));
    }
}

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
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
    TfrmProtocol protocol;
    TForm1 waitDialog(&window);
    window.SetForms(&protocol, &waitDialog);
    window.move(40, 40);
    window.show();
    QElapsedTimer timer;
    timer.start();
    while (!window.Connected && timer.elapsed() < 5000)
        settle(20);
    window.acRead->trigger();
    expand(window, {"Общие параметры"});
    expand(window, {"Зоны", "Зона", "Зона №1"});
    expand(window, {"Зоны", "Зона", "Зона №4"});
    window.VST1->setCurrentIndex(QModelIndex());
    settle(300);
    return photograph(window, outDir + "/main.png") ? 0 : 1;
}
