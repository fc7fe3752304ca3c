#include "app/CommandLine.h"
#include "app/Form1.h"
#include "app/UnattendedRun.h"
#include "platform/Console.h"
#include "platform/Files.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // Read before the window system is reached, so that --help works without a display.
    const CommandLine commandLine = readCommandLine(arguments);
    if (commandLine.exitCode) {
        writeText(*commandLine.exitCode == 0 ? Stream::Output : Stream::Error, commandLine.output);
        return *commandLine.exitCode;
    }

    // A run without a window needs no display: from cron, over SSH, from a scheduled task.
    // Its standard error is for its own progress and errors, not for Qt's remarks.
    if (commandLine.run) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type == QtCriticalMsg || type == QtFatalMsg)
                writeText(Stream::Error, text + u'\n');
        });
    }
    QApplication application(argc, argv);
    // Before the window loads the saved info from the working folder.
    if (commandLine.inDocuments)
        enterDocumentsFolder();
    const Origins origins{QStringLiteral(KX_ASSET_SERVER_ORIGIN),
                          QStringLiteral(KX_INFO_SERVICE_ORIGIN)};
    if (commandLine.run)
        return runUnattended(commandLine, origins, standardConsole());

    Form1 window(origins.assetServer, origins.infoService);
    if (commandLine.connections > 0)
        window.setConnections(commandLine.connections);
    window.setCheckPictures(commandLine.checkPictures);
    window.show();
    return application.exec();
}
