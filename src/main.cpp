#include "app/CommandLine.h"
#include "app/Form1.h"
#include "platform/Files.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // Read before the window system is reached, so that --help works without a display.
    const CommandLine commandLine = readCommandLine(arguments);
    if (commandLine.exitCode) {
        std::fputs(commandLine.output.toLocal8Bit().constData(),
                   *commandLine.exitCode == 0 ? stdout : stderr);
        return *commandLine.exitCode;
    }

    QApplication application(argc, argv);
    // Before the window loads the saved info from the working folder.
    if (commandLine.inDocuments)
        enterDocumentsFolder();
    Form1 window(QStringLiteral(KX_ASSET_SERVER_ORIGIN), QStringLiteral(KX_INFO_SERVICE_ORIGIN));
    if (commandLine.connections > 0)
        window.setConnections(commandLine.connections);
    window.setCheckPictures(commandLine.checkPictures);
    window.show();
    return application.exec();
}
