#include "app/CommandLine.h"

#include "cards/AssetKinds.h"
#include "cards/FetchAhead.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace {

constexpr int kMaxConnections = FetchAhead::kMaxConnections;
const QString kProgram = QStringLiteral("kx-card-updater");

// The program's options, each named once here and nowhere else.
struct Options
{
    QCommandLineOption run{QStringLiteral("run"),
                           QStringLiteral("update the data folder without a window, from the "
                                          "saved info in the working folder")};
    QCommandLineOption get{QStringLiteral("get"),
                           QStringLiteral("with --run: what to get, a comma-separated list of "
                                          "these, or all (default images,thumbs,info, the "
                                          "window's own):") +
                               kindsHelp(),
                           QStringLiteral("KINDS")};
    QCommandLineOption card{QStringLiteral("card"),
                            QStringLiteral("with --run: update only this card, such as a0001 "
                                           "(default every card)"),
                            QStringLiteral("NAME")};
    QCommandLineOption overwrite{QStringLiteral("overwrite"),
                                 QStringLiteral("with --run: \"OverWrite - Replace All\" "
                                                "(default \"Only Missing Files\")")};
    QCommandLineOption quiet{QStringLiteral("quiet"),
                             QStringLiteral("with --run: print nothing but errors")};
    QCommandLineOption connections{
        QStringLiteral("connections"),
        QStringLiteral("fetch over at most N connections at once (1 to %1, default %2; 1 "
                       "fetches one file at a time)")
            .arg(kMaxConnections)
            .arg(FetchAhead::kDefaultConnections),
        QStringLiteral("N")};
    QCommandLineOption checkPictures{
        QStringLiteral("check-pictures"),
        QStringLiteral("in \"Only Missing Files\" mode, also read every picture that passes its "
                       "size rule and fetch it again when it is not a whole picture (slower: "
                       "every picture is read)")};
    QCommandLineOption inDocuments{
        QStringLiteral("in-documents"),
        QStringLiteral("keep the saved info and the run log in your Documents folder, wherever "
                       "the system keeps it, rather than in the folder the program starts in")};
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("show this help and exit")};
    QCommandLineOption version{QStringLiteral("version"),
                               QStringLiteral("show the program's version and the commit it was "
                                              "built from, and exit")};

    // In the order the help lists them.
    QList<const QCommandLineOption*> all() const
    {
        return {&run,         &get,           &card,        &overwrite, &quiet,
                &connections, &checkPictures, &inDocuments, &help,      &version};
    }
    // Those that only a run without a window takes.
    QList<const QCommandLineOption*> runOnly() const { return {&get, &card, &overwrite, &quiet}; }

private:
    static QString kindsHelp()
    {
        QString kinds;
        for (const AssetKind& kind : assetKinds())
            kinds += QStringLiteral("\n%1: %2")
                         .arg(QLatin1String(kind.optionName), QLatin1String(kind.optionHelp));
        return kinds;
    }
};

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

// One entry of two columns: its left side, then its words wrapped beside it from `column` on.
void addColumns(QString& text, const QString& left, const QString& right, qsizetype column)
{
    const QString indent(column, u' ');
    QStringList lines = wrapped(right, 80 - indent.size());
    if (left.size() < indent.size())
        text += left.leftJustified(indent.size()) + lines.takeFirst() + u'\n';
    else
        text += left + u'\n';
    for (const QString& line : lines)
        text += indent + line + u'\n';
}

// Each option's names, with its help beside them, and what each exit status means.
QString usage(const Options& options)
{
    QString text = QStringLiteral(
        "Usage: kx-card-updater [options]\n"
        "Brings the card folders of a KX data folder up to date from the card asset\n"
        "server and the card-info service: in the window, or with --run without one.\n\n"
        "Options:\n");
    for (const QCommandLineOption* option : options.all()) {
        QStringList names;
        for (const QString& name : option->names())
            names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
        QString left = QStringLiteral("  ") + names.join(QStringLiteral(", "));
        if (!option->valueName().isEmpty())
            left += u' ' + option->valueName();
        addColumns(text, left, option->description(), 22);
    }
    text += QStringLiteral("\nExit status:\n");
    for (const ExitStatus::Meaning& meaning : ExitStatus::kMeanings)
        addColumns(text, QStringLiteral("  ") + QString::number(meaning.status),
                   QLatin1String(meaning.text), 7);
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
    const Options options;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const QCommandLineOption* option : options.all())
        parser.addOption(*option);
    if (!parser.parse(QStringList{kProgram} + arguments))
        return usageError(parser.errorText());
    if (parser.isSet(options.help))
        return exitWith(ExitStatus::kDone, title() + usage(options));
    if (parser.isSet(options.version))
        return exitWith(ExitStatus::kDone,
                        title() + QStringLiteral("commit %1\n").arg(QStringLiteral(KX_COMMIT)));
    if (!parser.positionalArguments().isEmpty())
        return usageError(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));

    CommandLine result;
    result.checkPictures = parser.isSet(options.checkPictures);
    result.inDocuments = parser.isSet(options.inDocuments);
    if (parser.isSet(options.connections)) {
        bool ok = false;
        result.connections = parser.value(options.connections).toInt(&ok);
        if (!ok || result.connections < 1 || result.connections > kMaxConnections)
            return usageError(QStringLiteral("--connections takes a whole number from 1 to %1")
                                  .arg(kMaxConnections));
    }

    result.run = parser.isSet(options.run);
    for (const QCommandLineOption* runOnly : options.runOnly()) {
        if (!result.run && parser.isSet(*runOnly))
            return usageError(QStringLiteral("--%1 goes with --run").arg(runOnly->names().first()));
    }
    if (parser.isSet(options.get)) {
        QString unknown;
        const auto kinds = kindsNamed(parser.values(options.get), unknown);
        if (!kinds)
            return usageError(QStringLiteral("--get knows no kind '%1'; it takes %2 or all")
                                  .arg(unknown, kindNames()));
        result.choices.kinds = *kinds;
    }
    if (parser.isSet(options.card)) {
        // One card folder's name: a letter and four letters or digits. Anything else would go
        // to the servers as it is and come back as files passed over.
        static const QRegularExpression cardName(QStringLiteral("^[A-Za-z][A-Za-z0-9]{4}$"));
        const QStringList cards = parser.values(options.card);
        if (cards.size() > 1)
            return usageError(
                QStringLiteral("--card takes one card; it was given %1 times").arg(cards.size()));
        result.choices.card = cards.first().trimmed();
        if (!cardName.match(result.choices.card).hasMatch())
            return usageError(QStringLiteral("--card takes the name of one card folder, a letter "
                                             "and four letters or digits such as a0001, not '%1'")
                                  .arg(cards.first()));
    }

    result.choices.overwrite = parser.isSet(options.overwrite);
    result.quiet = parser.isSet(options.quiet);
    return result;
}
