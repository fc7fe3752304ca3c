#include "app/CommandLine.h"

#include "cards/FetchAhead.h"

namespace {

constexpr int kMaxConnections = FetchAhead::kMaxConnections;

QString title()
{
    return QStringLiteral("kx-card-updater %1\n").arg(QStringLiteral(KX_VERSION));
}

QString usage()
{
    return QStringLiteral(
               "Usage: kx-card-updater [--connections N] [--check-pictures] [--in-documents]\n"
               "Brings the card folders of a KX data folder up to date from the card asset\n"
               "server and the card-info service.\n\n"
               "Options:\n"
               "  --connections N  fetch over at most N connections at once (1 to %1,\n"
               "                   default %2; 1 fetches one file at a time)\n"
               "  --check-pictures in \"Only Missing Files\" mode, also read every picture\n"
               "                   that passes its size rule and fetch it again when it is\n"
               "                   not a whole picture (slower: every picture is read)\n"
               "  --in-documents   keep the saved info and the run log in your Documents\n"
               "                   folder, wherever the system keeps it, rather than in the\n"
               "                   folder the program starts in\n"
               "  -h, --help       show this help and exit\n"
               "  --version        show the program's version and the commit it was built\n"
               "                   from, and exit\n")
        .arg(kMaxConnections)
        .arg(FetchAhead::kDefaultConnections);
}

CommandLine exitWith(int code, const QString& output)
{
    CommandLine result;
    result.exitCode = code;
    result.output = output;
    return result;
}

} // namespace

CommandLine readCommandLine(const QStringList& arguments)
{
    CommandLine result;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == u"-h" || argument == u"--help")
            return exitWith(0, title() + usage());
        if (argument == u"--version")
            return exitWith(0,
                            title() + QStringLiteral("commit %1\n").arg(QStringLiteral(KX_COMMIT)));
        if (argument == u"--check-pictures" || argument == u"--in-documents") {
            (argument == u"--check-pictures" ? result.checkPictures : result.inDocuments) = true;
            continue;
        }
        QString value;
        if (argument == u"--connections" && i + 1 < arguments.size())
            value = arguments[++i];
        else if (argument.startsWith(u"--connections="))
            value = argument.section(u'=', 1);
        else
            return exitWith(2, QStringLiteral("Unknown option: %1\n\n").arg(argument) + usage());
        bool ok = false;
        result.connections = value.toInt(&ok);
        if (!ok || result.connections < 1 || result.connections > kMaxConnections)
            return exitWith(2, QStringLiteral("--connections takes a whole number from 1 to %1\n")
                                   .arg(kMaxConnections));
    }
    return result;
}
