#include "app/CommandLine.h"

#include "cards/AssetKinds.h"
#include "cards/FetchAhead.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace {

constexpr int kMaxConnections = FetchAhead::kMaxConnections;
const QString kProgram = QStringLiteral("kx-card-updater");

// One option: its names, the name of its value (empty: none), and what the help says of it.
struct Option
{
    QStringList names;
    QString valueName;
    QString help;
};

QList<Option> options()
{
    QString kinds;
    for (const AssetKind& kind : assetKinds())
        kinds += QStringLiteral("\n%1: %2")
                     .arg(QLatin1String(kind.optionName), QLatin1String(kind.optionHelp));
    return {
        {{QStringLiteral("run")},
         {},
         QStringLiteral("update the data folder without a window, "
                        "from the saved info in the working folder")},
        {{QStringLiteral("get")},
         QStringLiteral("KINDS"),
         QStringLiteral("with --run: what to get, a comma-separated list of these, or all "
                        "(default images,thumbs,info, the window's own):") +
             kinds},
        {{QStringLiteral("card")},
         QStringLiteral("NAME"),
         QStringLiteral("with --run: update only this card, such as a0001 (default every card)")},
        {{QStringLiteral("overwrite")},
         {},
         QStringLiteral(
             "with --run: \"OverWrite - Replace All\" (default \"Only Missing Files\")")},
        {{QStringLiteral("quiet")}, {}, QStringLiteral("with --run: print nothing but errors")},
        {{QStringLiteral("connections")},
         QStringLiteral("N"),
         QStringLiteral("fetch over at most N connections at once (1 to %1, default %2; 1 "
                        "fetches one file at a time)")
             .arg(kMaxConnections)
             .arg(FetchAhead::kDefaultConnections)},
        {{QStringLiteral("check-pictures")},
         {},
         QStringLiteral("in \"Only Missing Files\" mode, also read every picture that passes its "
                        "size rule and fetch it again when it is not a whole picture (slower: "
                        "every picture is read)")},
        {{QStringLiteral("in-documents")},
         {},
         QStringLiteral("keep the saved info and the run log in your Documents folder, wherever "
                        "the system keeps it, rather than in the folder the program starts in")},
        {{QStringLiteral("h"), QStringLiteral("help")},
         {},
         QStringLiteral("show this help and exit")},
        {{QStringLiteral("version")},
         {},
         QStringLiteral("show the program's version and the commit it was built from, and exit")},
    };
}

QString title()
{
    return QStringLiteral("%1 %2\n").arg(kProgram, QStringLiteral(KX_VERSION));
}

// The text's words in lines of at most `width` characters; each line of the text starts one.
QStringList wrapped(const QString& text, qsizetype width)
{
    QStringList lines;
    for (const QString& paragraph : text.split(u'\n')) {
        QString line;
        for (const QString& word : paragraph.split(u' ', Qt::SkipEmptyParts)) {
            if (!line.isEmpty() && line.size() + 1 + word.size() > width) {
                lines << line;
                line.clear();
            }
            line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
        }
        lines << line;
    }
    return lines;
}

// Each option's names, with its help beside them.
QString usage()
{
    QString text = QStringLiteral(
        "Usage: kx-card-updater [options]\n"
        "Brings the card folders of a KX data folder up to date from the card asset\n"
        "server and the card-info service: in the window, or with --run without one.\n\n"
        "Options:\n");
    const QString indent(22, u' ');
    for (const Option& option : options()) {
        QStringList names;
        for (const QString& name : option.names)
            names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
        QString left = QStringLiteral("  ") + names.join(QStringLiteral(", "));
        if (!option.valueName.isEmpty())
            left += u' ' + option.valueName;
        QStringList lines = wrapped(option.help, 80 - indent.size());
        if (left.size() < indent.size())
            text += left.leftJustified(indent.size()) + lines.takeFirst() + u'\n';
        else
            text += left + u'\n';
        for (const QString& line : lines)
            text += indent + line + u'\n';
    }
    text += QStringLiteral(
        "\nExit status:\n"
        "  0    every file was brought up to date (or none needed to be)\n"
        "  1    the run stopped, or could not start; the reason is on standard error\n"
        "  2    the command line could not be read\n"
        "  3    the run went through, but files could not be brought up to date (the run\n"
        "       log says which and why); the next run tries them again\n"
        "  4    another copy of the program is updating the data folder\n"
        "  130  stopped by Ctrl+C, SIGTERM or a closed console; what was stored is whole\n");
    return text;
}

CommandLine exitWith(int code, const QString& output)
{
    CommandLine result;
    result.exitCode = code;
    result.output = output;
    return result;
}

CommandLine usageError(const QString& message)
{
    return exitWith(ExitStatus::kUsage,
                    QStringLiteral("%1: %2\nTry %1 --help.\n").arg(kProgram, message));
}

// "images,thumbs,info,xml,png"
QString kindNames()
{
    QStringList names;
    for (const AssetKind& kind : assetKinds())
        names << QLatin1String(kind.optionName);
    return names.join(u',');
}

// The kinds named in the --get values, in the order the kinds are handled.
std::optional<std::vector<bool>> kindsNamed(const QStringList& values, QString& unknown)
{
    std::vector<bool> kinds(assetKinds().size(), false);
    for (const QString& value : values) {
        for (const QString& name : value.split(u',')) {
            const QString wanted = name.trimmed();
            bool known = wanted == u"all";
            for (std::size_t kind = 0; kind < kinds.size(); ++kind) {
                if (wanted == u"all" || wanted == QLatin1String(assetKinds()[kind].optionName)) {
                    kinds[kind] = true;
                    known = true;
                }
            }
            if (!known) {
                unknown = wanted;
                return std::nullopt;
            }
        }
    }
    return kinds;
}

} // namespace

CommandLine readCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const Option& option : options())
        parser.addOption(QCommandLineOption(option.names, option.help, option.valueName));
    if (!parser.parse(QStringList{kProgram} + arguments))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        return exitWith(ExitStatus::kDone, title() + usage());
    if (parser.isSet(QStringLiteral("version")))
        return exitWith(ExitStatus::kDone,
                        title() + QStringLiteral("commit %1\n").arg(QStringLiteral(KX_COMMIT)));
    if (!parser.positionalArguments().isEmpty())
        return usageError(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));

    CommandLine result;
    result.checkPictures = parser.isSet(QStringLiteral("check-pictures"));
    result.inDocuments = parser.isSet(QStringLiteral("in-documents"));
    if (parser.isSet(QStringLiteral("connections"))) {
        bool ok = false;
        result.connections = parser.value(QStringLiteral("connections")).toInt(&ok);
        if (!ok || result.connections < 1 || result.connections > kMaxConnections)
            return usageError(QStringLiteral("--connections takes a whole number from 1 to %1")
                                  .arg(kMaxConnections));
    }

    result.run = parser.isSet(QStringLiteral("run"));
    for (const char* runOnly : {"get", "card", "overwrite", "quiet"}) {
        if (!result.run && parser.isSet(QLatin1String(runOnly)))
            return usageError(QStringLiteral("--%1 goes with --run").arg(QLatin1String(runOnly)));
    }
    if (parser.isSet(QStringLiteral("get"))) {
        QString unknown;
        const auto kinds = kindsNamed(parser.values(QStringLiteral("get")), unknown);
        if (!kinds)
            return usageError(QStringLiteral("--get knows no kind '%1'; it takes %2 or all")
                                  .arg(unknown, kindNames()));
        result.choices.kinds = *kinds;
    }
    if (parser.isSet(QStringLiteral("card"))) {
        // One card folder's name: a letter and four letters or digits. Anything else would go
        // to the servers as it is and come back as files passed over.
        static const QRegularExpression cardName(QStringLiteral("^[A-Za-z][A-Za-z0-9]{4}$"));
        const QStringList cards = parser.values(QStringLiteral("card"));
        if (cards.size() > 1)
            return usageError(
                QStringLiteral("--card takes one card; it was given %1 times").arg(cards.size()));
        result.choices.card = cards.first().trimmed();
        if (!cardName.match(result.choices.card).hasMatch())
            return usageError(QStringLiteral("--card takes the name of one card folder, a letter "
                                             "and four letters or digits such as a0001, not '%1'")
                                  .arg(cards.first()));
    }

    result.choices.overwrite = parser.isSet(QStringLiteral("overwrite"));
    result.quiet = parser.isSet(QStringLiteral("quiet"));
    return result;
}
