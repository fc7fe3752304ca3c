// Updates a large collection again and again while the server fails now and then, fetching
// ahead and trying transient failures again, and checks after every run that nothing was lost,
// half-written or miscounted.
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
constexpr std::uint32_t kSeed = 20261207;
constexpr int kFaultPerMille = 30;

QMap<QString, QByteArray> snapshot(const QString& folder)
{
    QMap<QString, QByteArray> files;
    for (const QString& file : filesBelow(folder))
        files.insert(file, readBytes(folder + "/" + file));
    return files;
}

// What the server serves for a local file, by its name.
QByteArray servedBytes(const QString& name)
{
    return toBytes(sample::localFileBody(name.left(5).toStdString(), name.mid(5).toStdString()));
}

// Each block of the log is closed by a footer whose total is the sum of its new sizes (the
// ".woxdld" twin counted once), or by the closing of a stopped run.
QString checkLog(const QString& log)
{
    static const QRegularExpression block(
        "\\r\\n#{47}\\r\\nStarted on: [^\\r\\n]{19}\\r\\n\\r\\n((?:[^\\r\\n]+\\r\\n)*)\\r\\n"
        "(?:Finished on: .{19}\\r\\nStart : .{19} to Finish : .{19}\\r\\nTotal Bytes Downloaded = "
        "(\\d+)|Stopped on: .{19}\\r\\nReason: [^\\r\\n]+)\\r\\n#{47}\\r\\n\\r\\n");
    static const QRegularExpression newSize("^Download File: \\S+?(\\.woxdld)? New size (\\d+)$");
    qsizetype at = 0;
    for (auto match = block.match(log); match.hasMatch() && match.capturedStart() == at;
         match = block.match(log, at)) {
        qint64 sum = 0;
        for (const QString& line : match.captured(1).split("\r\n", Qt::SkipEmptyParts)) {
            const auto size = newSize.match(line);
            if (size.hasMatch() && size.captured(1).isEmpty())
                sum += size.captured(2).toLongLong();
        }
        if (!match.captured(2).isEmpty() && match.captured(2).toLongLong() != sum)
            return QString("a total of %1 for %2 bytes").arg(match.captured(2)).arg(sum);
        at = match.capturedEnd();
    }
    return at == log.size() ? QString() : "a broken block: " + log.mid(at, 600);
}

} // namespace

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
    QDir().mkpath(data);
    sample::CollectionLayout layout;
    layout.cards = kCards;
    layout.seed = kSeed;
    layout.missingPercent = 10;
    layout.damagedPercent = 10;
    sample::writeCollection(data.toStdString(), layout);

    SampleCardServer server;
    std::mutex faultMutex;
    std::mt19937 random(kSeed);
    std::map<int, int> injected;
    server.setInjector([&](const std::string& target) -> std::optional<Answer> {
        const std::lock_guard lock(faultMutex);
        if (target == "/redirect-loop" || int(random() % 1000) >= kFaultPerMille)
            return std::nullopt;
        const int kind = int(random() % 6);
        ++injected[kind];
        const Answer faults[] = {{404, "gone"},
                                 {503, "busy"},
                                 {200, std::string(20000, 'x'), Fault::Truncate, 700},
                                 {200, std::string(20000, 'x'), Fault::Drop},
                                 {200, "late", Fault::Stall, 0, std::chrono::seconds(3)},
                                 {200, "", Fault::RedirectLoop}};
        return faults[kind];
    });

    MessageBoxRecorder boxes;
    WindowDriver driver(QString::fromStdString(server.origin()));
    driver.prepare(data, kAssetBoxes);
    int runs = 0;
    int lostOrCorrupted = 0;
    for (; driver.text("Text2") != "DONE !"; ++runs) {
        QVERIFY2(runs < 100, "the soak does not come to an end");
        driver.pressReset();
        const QMap<QString, QByteArray> before = snapshot(data);
        driver.runUpdate();
        const QMap<QString, QByteArray> after = snapshot(data);
        for (const QString& file : before.keys())
            lostOrCorrupted += !after.contains(file);
        for (auto file = after.cbegin(); file != after.cend(); ++file) {
            const QString name = QFileInfo(file.key()).fileName();
            if (name.contains("kx-part") ||
                (file.value() != before.value(file.key()) && file.value() != servedBytes(name))) {
                ++lostOrCorrupted;
                qWarning() << "neither former nor served bytes:" << file.key();
            }
        }
        const QString logFault =
            checkLog(QString::fromUtf8(readBytes(work.file("KX-GET-CardDataUpdates.txt"))));
        QVERIFY2(logFault.isEmpty(), qPrintable(logFault));
    }
    QCOMPARE(lostOrCorrupted, 0);
    QCOMPARE(boxes.texts.size(), runs - 1);
    qInfo().noquote() << QString("soak: %1 cards, %2 runs, %3 requests, faults injected "
                                 "(404, 503, cut short, dropped, stall, redirect loop): %4 %5 %6 "
                                 "%7 %8 %9")
                             .arg(kCards)
                             .arg(runs)
                             .arg(server.requests().size())
                             .arg(injected[0])
                             .arg(injected[1])
                             .arg(injected[2])
                             .arg(injected[3])
                             .arg(injected[4])
                             .arg(injected[5]);
}

QTEST_MAIN(tst_Soak)
#include "tst_soak.moc"
