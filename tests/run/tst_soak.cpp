#include "SampleCardServer.h"
#include "SampleCollection.h"
#include "TestSupport.h"
#include "WindowDriver.h"
#include "platform/Http.h"

#include <QDir>
#include <QRegularExpression>
#include <QtTest>

#include <map>
#include <mutex>
#include <random>

using Answer = SampleCardServer::Answer;
using Fault = Answer::Fault;

namespace {

constexpr std::size_t kCards = 1000;
constexpr std::uint32_t kSeed = 20261206;
constexpr int kFaultPerMille = 30;

const QStringList kFaultNames{"404", "500", "truncated", "dropped", "stall", "redirect loop"};

// What the server should have served for a local file, by its name.
QByteArray servedBytes(const QString& fileName)
{
    for (const std::string& suffix : sample::kLocalSuffixes) {
        const QString qsuffix = QString::fromStdString(suffix);
        if (fileName.endsWith(qsuffix) && fileName.size() == 5 + qsuffix.size())
            return toBytes(sample::localFileBody(fileName.left(5).toStdString(), suffix));
    }
    return {};
}

QMap<QString, QByteArray> snapshot(const QString& folder)
{
    QMap<QString, QByteArray> files;
    for (const QString& file : filesBelow(folder))
        files.insert(file, readBytes(folder + "/" + file));
    return files;
}

void copyTree(const QString& from, const QString& to)
{
    for (const QString& file : filesBelow(from))
        writeBytes(to + "/" + file, readBytes(from + "/" + file));
    for (const QString& folder : QDir(from).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        QDir().mkpath(to + "/" + folder);
}

// Checks every block of the run log; returns a description of the first fault found, or an
// empty string. Counts completed blocks and adds their totals.
QString checkLog(const QByteArray& bytes, int& completed, qint64& totals)
{
    static const QRegularExpression stamp("^\\d\\d-\\d\\d-\\d{4} \\d\\d:\\d\\d:\\d\\d$");
    static const QRegularExpression sizeLine("^.+ size \\d+$");
    static const QRegularExpression downloadLine("^Download File: (\\S+) New size (\\d+)$");
    static const QRegularExpression openDownload("^Download File: \\S+$");
    static const QRegularExpression card("^[A-Da-d].{4}$");
    const QString rule(47, u'#');
    if (!bytes.endsWith("\r\n"))
        return "the log does not end with a line end";
    QStringList lines = QString::fromUtf8(bytes).split("\r\n");
    lines.removeLast();
    qsizetype i = 0;
    while (i < lines.size()) {
        if (lines.mid(i, 2) != QStringList({"", rule}) ||
            !lines.value(i + 2).startsWith("Started on: ") ||
            !stamp.match(lines[i + 2].mid(12)).hasMatch() || lines.value(i + 3) != "")
            return QString("no header at line %1").arg(i + 1);
        i += 4;
        qint64 sum = 0;
        for (; i < lines.size() && !lines[i].isEmpty(); ++i) {
            const QRegularExpressionMatch download = downloadLine.match(lines[i]);
            if (download.hasMatch()) {
                const QString url = download.captured(1);
                if (!url.endsWith(".woxdld"))
                    sum += download.captured(2).toLongLong();
                continue;
            }
            const bool lastBeforeStop = lines.value(i + 1).isEmpty() &&
                                        lines.value(i + 2).isEmpty() &&
                                        lines.value(i + 3).startsWith("Stopped on: ");
            if (!card.match(lines[i]).hasMatch() && !sizeLine.match(lines[i]).hasMatch() &&
                !(lastBeforeStop && openDownload.match(lines[i]).hasMatch()))
                return QString("line %1 is not an entry: %2").arg(i + 1).arg(lines[i]);
            if (lastBeforeStop && openDownload.match(lines[i]).hasMatch())
                ++i; // the unfinished line was ended by an empty one
        }
        if (lines.value(i + 1).startsWith("Finished on: ")) {
            const QString total = lines.value(i + 3);
            if (!lines.value(i + 2).startsWith("Start : ") ||
                !total.startsWith("Total Bytes Downloaded = ") || lines.value(i + 4) != rule ||
                lines.value(i + 5) != "")
                return QString("bad footer at line %1").arg(i + 1);
            if (total.mid(25).toLongLong() != sum)
                return QString("footer total %1 is not the %2 bytes downloaded")
                    .arg(total.mid(25))
                    .arg(sum);
            ++completed;
            totals += sum;
            i += 6;
        } else if (lines.value(i + 1).startsWith("Stopped on: ")) {
            if (!lines.value(i + 2).startsWith("Reason: ") || lines.value(i + 3) != rule ||
                lines.value(i + 4) != "")
                return QString("bad closing of a stopped run at line %1").arg(i + 1);
            i += 5;
        } else {
            return QString("block without footer or closing at line %1").arg(i + 1);
        }
    }
    return {};
}

} // namespace

// Runs updates over a large collection while the server fails now and then, and checks after
// every run that nothing was lost, half-written or miscounted.
class tst_Soak : public QObject
{
    Q_OBJECT

private slots:
    void faultsNeverLoseOrCorruptFiles();
};

void tst_Soak::faultsNeverLoseOrCorruptFiles()
{
    WorkFolder work;
    const QString data = work.file("Data");
    const QString reference = work.file("Reference");
    QDir().mkpath(data);
    sample::CollectionLayout layout;
    layout.cards = kCards;
    layout.seed = kSeed;
    layout.missingPercent = 10;
    layout.damagedPercent = 10;
    sample::writeCollection(data.toStdString(), layout);
    QDir().mkpath(data + "/e0001"); // never visited
    writeBytes(data + "/b9999", "a file named like a card");
    copyTree(data, reference);

    std::set<std::string> cards;
    for (std::size_t i = 0; i < kCards; ++i)
        cards.insert(sample::cardName(i));
    SampleCardServer server(cards);
    std::mutex faultMutex;
    std::mt19937 random(kSeed);
    std::map<int, int> injected;
    server.setInjector([&](const std::string& target) -> std::optional<Answer> {
        const std::lock_guard lock(faultMutex);
        if (target == "/redirect-loop" || int(random() % 1000) >= kFaultPerMille)
            return std::nullopt;
        const int kind = int(random() % 6);
        ++injected[kind];
        Answer answer;
        answer.body = std::string(20000, 'x');
        switch (kind) {
        case 0:
            answer.status = 404;
            break;
        case 1:
            answer.status = 500;
            break;
        case 2:
            answer.fault = Fault::Truncate;
            answer.truncateAt = 700;
            break;
        case 3:
            answer.fault = Fault::Drop;
            break;
        case 4:
            answer.fault = Fault::Stall;
            answer.stall = std::chrono::milliseconds(800);
            break;
        default:
            answer.fault = Fault::RedirectLoop;
            break;
        }
        return answer;
    });

    MessageBoxRecorder boxes;
    WindowDriver driver(QString::fromStdString(server.origin()));
    driver.fetcher().setTransferTimeout(std::chrono::milliseconds(250));
    driver.type("tDATA", data);
    driver.tickOnly({"cbCI", "cbTI", "cbINF", "cbCX", "cbCP"});

    int runs = 0;
    qint64 filesChecked = 0;
    int lostOrCorrupted = 0;
    QSet<QString> thumbsLeftBehind; // e.bmp files whose fetch failed right after their d.bmp
    static const QRegularExpression stoppedAtThumb(
        "could not get \\S+/illustrations/(\\S{5})e\\.bmp:");
    for (;;) {
        QVERIFY2(runs < 300, "the soak does not come to an end");
        const QMap<QString, QByteArray> before = snapshot(data);
        driver.runUpdate();
        ++runs;
        const QMap<QString, QByteArray> after = snapshot(data);
        for (auto file = before.cbegin(); file != before.cend(); ++file) {
            if (!after.contains(file.key())) {
                ++lostOrCorrupted;
                qWarning() << "lost" << file.key();
            }
        }
        for (auto file = after.cbegin(); file != after.cend(); ++file) {
            ++filesChecked;
            const QString name = QFileInfo(file.key()).fileName();
            if (file.value() != before.value(file.key(), QByteArray("\x01missing")) &&
                file.value() != servedBytes(name)) {
                ++lostOrCorrupted;
                qWarning() << "neither former nor served bytes:" << file.key()
                           << file.value().left(60) << file.value().size();
            }
        }
        int completed = 0;
        qint64 totals = 0;
        const QString logFault =
            checkLog(readBytes(work.file("KX-GET-CardDataUpdates.txt")), completed, totals);
        QVERIFY2(logFault.isEmpty(), qPrintable(logFault));
        if (driver.text("Text2") == "DONE !")
            break;
        QVERIFY2(driver.text("Text2").startsWith("Update stopped: "),
                 qPrintable(driver.text("Text2")));
        if (const auto match = stoppedAtThumb.match(driver.text("Text2")); match.hasMatch())
            thumbsLeftBehind.insert(match.captured(1));
        driver.pressReset();
    }
    QCOMPARE(boxes.texts.size(), runs - 1);
    QCOMPARE(lostOrCorrupted, 0);

    // The same collection updated without faults ends up the same, but for thumbnails whose
    // e.bmp failed right after their d.bmp was stored: a good d.bmp keeps them from being
    // fetched again.
    server.setInjector({});
    const qsizetype requestsWithFaults = qsizetype(server.requests().size());
    WindowDriver clean(QString::fromStdString(server.origin()));
    clean.type("tDATA", reference);
    clean.tickOnly({"cbCI", "cbTI", "cbINF", "cbCX", "cbCP"});
    clean.runUpdate();
    QCOMPARE(clean.text("Text2"), QString("DONE !"));
    const QMap<QString, QByteArray> soaked = snapshot(data);
    const QMap<QString, QByteArray> expected = snapshot(reference);
    QCOMPARE(soaked.keys(), expected.keys());
    int differing = 0;
    for (auto file = expected.cbegin(); file != expected.cend(); ++file) {
        if (soaked.value(file.key()) == file.value())
            continue;
        const QString name = QFileInfo(file.key()).fileName();
        if (name.endsWith("e.bmp") && thumbsLeftBehind.contains(name.left(5)))
            continue;
        ++differing;
        qWarning() << "differs from a fault-free run:" << file.key();
    }
    QCOMPARE(differing, 0);
    QVERIFY(!filesBelow(data).join('\n').contains(QRegularExpression("\\.[A-Za-z0-9]{6}$")));

    int completed = 0;
    qint64 totals = 0;
    QVERIFY(
        checkLog(readBytes(work.file("KX-GET-CardDataUpdates.txt")), completed, totals).isEmpty());
    QStringList faults;
    for (const auto& [kind, count] : injected)
        faults << QString("%1 %2").arg(kFaultNames[kind]).arg(count);
    qInfo().noquote() << QString(
                             "soak: %1 cards, %2 runs (%3 stopped), %4 requests, faults injected: "
                             "%5; %6 files checked, %7 lost or corrupted, %8 thumbnails left "
                             "behind by a stop between d.bmp and e.bmp")
                             .arg(kCards)
                             .arg(runs)
                             .arg(runs - 1)
                             .arg(requestsWithFaults)
                             .arg(faults.join(", "))
                             .arg(filesChecked)
                             .arg(lostOrCorrupted)
                             .arg(thumbsLeftBehind.size());
}

QTEST_MAIN(tst_Soak)
#include "tst_soak.moc"
