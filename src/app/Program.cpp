#include "app/Program.h"

#include "app/CommandLine.h"
#include "app/Form1.h"
#include "app/UnattendedRun.h"
#include "platform/Console.h"
#include "platform/Files.h"

#include <QApplication>

#include <cstdlib>

namespace {

// Qt ends a program whose window system cannot be reached with advice about reinstalling it;
// the user is told what is missing instead, and what works without it.
void onWindowSystemMessage(QtMsgType type, const QMessageLogContext&, const QString&)
{
    if (type != QtFatalMsg)
        return;
    writeText(Stream::Error,
              QStringLiteral("kx-card-updater: the window cannot open: no display was found. "
                             "kx-card-updater --run updates the data folder without a window or "
                             "a display; --help lists the options.\n"));
    std::_Exit(ExitStatus::kStopped);
}

} // namespace

void closeOnStopRequests(Form1& window, StopRequests& stops)
{
    QObject::connect(&stops, &StopRequests::requested, &window, [&window](const QString& reason) {
        window.stopRun(reason);          // the reason the run log gives
        QApplication::closeAllWindows(); // a message box too
    });
}

int runProgram(int& argc, char* argv[], const Origins& origins)
{
    prepareConsole();
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // Read before the window system is reached, so that --help works without a display.
    const CommandLine commandLine = readCommandLine(arguments);
    if (commandLine.exitCode) {
        writeText(*commandLine.exitCode == 0 ? Stream::Output : Stream::Error, commandLine.output);
        return *commandLine.exitCode;
    }

    // A run without a window needs no display and loads no window system: from cron, over SSH,
    // from a scheduled task. Its standard error is for its own progress and errors, not for
    // Qt's remarks.
    if (commandLine.run) {
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type == QtCriticalMsg || type == QtFatalMsg)
                writeText(Stream::Error, text + u'\n');
        });
        QCoreApplication application(argc, argv);
        // Before the saved info is read from the working folder.
        if (commandLine.inDocuments)
            enterDocumentsFolder();
        return runUnattended(commandLine, origins, standardConsole());
    }

    qInstallMessageHandler(&onWindowSystemMessage);
    QApplication application(argc, argv);
    qInstallMessageHandler(nullptr);
    // Before the window loads the saved info from the working folder.
    if (commandLine.inDocuments)
        enterDocumentsFolder();

    Form1 window(origins.assetServer, origins.infoService);
    if (commandLine.connections > 0)
        window.setConnections(commandLine.connections);
    window.setCheckPictures(commandLine.checkPictures);
    StopRequests stops;
    closeOnStopRequests(window, stops);
    window.show();
    const int status = application.exec();
    stops.finished();
    return status;
}
