#include "app/CommandLine.h"

#include <QtTest>

namespace {

// What the command line asks for, in a few words.
QString described(const CommandLine& line)
{
    if (line.exitCode)
        return QStringLiteral("exit %1: %2").arg(*line.exitCode).arg(line.output.trimmed());
    QStringList words;
    if (line.connections)
        words << QStringLiteral("connections=%1").arg(line.connections);
    QString kinds;
    for (const bool kind : line.choices.kinds)
        kinds += kind ? u'1' : u'0';
    if (!kinds.isEmpty())
        words << QStringLiteral("kinds=") + kinds;
    if (!line.choices.card.isEmpty())
        words << QStringLiteral("card=") + line.choices.card;
    const std::pair<bool, const char*> flags[] = {{line.checkPictures, "check-pictures"},
                                                  {line.inDocuments, "in-documents"},
                                                  {line.run, "run"},
                                                  {line.choices.overwrite, "overwrite"},
                                                  {line.quiet, "quiet"}};
    for (const auto& [set, word] : flags) {
        if (set)
            words << word;
    }
    return words.join(u' ');
}

} // namespace

class tst_CommandLine : public QObject
{
    Q_OBJECT

private slots:
    void eachOptionSetsWhatItNames_data();
    void eachOptionSetsWhatItNames();
    void helpAndVersion();
};

void tst_CommandLine::eachOptionSetsWhatItNames_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");
    const QString usage = "\nTry kx-card-updater --help.";
    const auto row = [](const char* name, const QStringList& arguments, const QString& expected) {
        QTest::newRow(name) << arguments << expected;
    };
    row("none", {}, "");
    row("check pictures", {"--check-pictures"}, "check-pictures");
    row("in documents", {"--in-documents"}, "in-documents");
    row("connections", {"--connections", "1"}, "connections=1");
    row("connections=", {"--connections=64"}, "connections=64");
    const QString bounds = "exit 2: kx-card-updater: --connections takes a whole number from 1 "
                           "to 64" +
                           usage;
    row("no connections", {"--connections=0"}, bounds);
    row("too many connections", {"--connections", "65"}, bounds);
    row("connections without a value", {"--connections"},
        "exit 2: kx-card-updater: Missing value after '--connections'." + usage);
    row("unknown option", {"--check-picture"},
        "exit 2: kx-card-updater: Unknown option 'check-picture'." + usage);
    row("an argument", {"a0001"}, "exit 2: kx-card-updater: unexpected argument 'a0001'" + usage);
    row("run with the window's choices", {"--run"}, "run");
    row("kinds", {"--run", "--get", "xml,images", "--get=png"}, "kinds=10011 run");
    row("every kind", {"--run", "--get", "all"}, "kinds=11111 run");
    row("unknown kind", {"--run", "--get", "images,pictures"},
        "exit 2: kx-card-updater: --get knows no kind 'pictures'; it takes "
        "images,thumbs,info,xml,png or all" +
            usage);
    row("one card, overwrite, quiet", {"--run", "--card", "b0002", "--overwrite", "--quiet"},
        "card=b0002 run overwrite quiet");
    // A name that cannot be a card folder's never reaches a server.
    for (const char* card : {" ", "a0001 b0001", "zz99", "a00012", "a0/01"})
        row(qPrintable(QString("card '%1'").arg(card)), {"--run", "--card", card},
            QString("exit 2: kx-card-updater: --card takes the name of one card folder, a letter "
                    "and four letters or digits such as a0001, not '%1'")
                    .arg(card) +
                usage);
    row("two cards", {"--run", "--card", "a0001", "--card=a0002"},
        "exit 2: kx-card-updater: --card takes one card; it was given 2 times" + usage);
    for (const char* runOnly : {"--get=all", "--card=a0001", "--overwrite", "--quiet"})
        row(runOnly, {runOnly},
            QString("exit 2: kx-card-updater: %1 goes with --run")
                    .arg(QString(runOnly).section(u'=', 0, 0)) +
                usage);
}

void tst_CommandLine::eachOptionSetsWhatItNames()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    QCOMPARE(described(readCommandLine(arguments)), expected);
}

void tst_CommandLine::helpAndVersion()
{
    const CommandLine help = readCommandLine({"-h"});
    QCOMPARE(help.exitCode, std::optional<int>(0));
    QVERIFY(help.output.contains("png: PNG's (_full.png)\n") &&
            help.output.contains("  3    the run went through"));
    for (const QString& line : help.output.split(u'\n'))
        QVERIFY2(line.size() <= 80, qPrintable(line));

    const CommandLine version = readCommandLine({"--version"});
    QCOMPARE(version.exitCode, std::optional<int>(0));
    QVERIFY2(version.output.contains(QRegularExpression(
                 "^kx-card-updater \\d+\\.\\d+\\.\\d+\ncommit ([0-9a-f]{40}|unknown)")),
             qPrintable(version.output));
}

QTEST_APPLESS_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
