// Конфигуратор: the program start.
#include "app/error_box.h"
#include "app/main.h"
#include "app/protocol.h"
#include "app/translations.h"
#include "app/wait.h"
#include "workflow/workflow.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("configurator"));
    QApplication::setApplicationDisplayName(kApplicationTitle);
    QApplication::setApplicationVersion(QStringLiteral(CONFIGURATOR_VERSION));
    InstallRussianTranslations();
    // The grid's incremental search takes keystrokes up to half a second apart.
    QApplication::setKeyboardInputInterval(500);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reads, edits and writes the configuration of alarm transmitters over a serial port.\n"
        "Device descriptions (*.xml) are taken from the program's folder."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Use port <name> for this run; the stored port stays as it is."),
                                  QStringLiteral("name"));
    parser.addOption(port);
    parser.process(application);

    RegisterConfigModels();
    TMainOptions options;
    if (parser.isSet(port))
        options.port = parser.value(port);

    // The forms in their order: main window, protocol window, key wait dialog.
    TfrmMain frmMain(options);
    TfrmProtocol frmProtocol(&frmMain);
    TForm1 form1(&frmMain);
    frmMain.SetForms(&frmProtocol, &form1);
    frmMain.show();
    return application.exec();
}
