// Updates a large collection again and again while the server fails now and then, fetching
// ahead and trying transient failures again, and checks after every run that nothing was lost,
// half-written or miscounted.
#include "SampleCardServer.h"
#include "SampleCollection.h"
#include "TestSupport.h"
#include "WindowDriver.h"
#include "http/Fetcher.h"

#include <QDir>
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

// Every block of the log is closed, by a footer or by the closing of a stopped run.
bool everyBlockClosed(const QByteArray& log)
{
    return log.endsWith("#\r\n\r\n") &&
           log.count("\r\nStarted on: ") ==
               log.count("\r\nFinished on: ") + log.count("\r\nStopped on: ");
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
    sample::writeCollection(data.toStdString(), {kCards, kSeed, 10, 10});

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
    driver.fetcher().setTransferTimeout(std::chrono::seconds(1)); // a stall costs a second
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
        QVERIFY(everyBlockClosed(readBytes(work.file("KX-GET-CardDataUpdates.txt"))));
    }
    QCOMPARE(lostOrCorrupted, 0);
    QCOMPARE(boxes.texts.size(), runs - 1);
    qInfo("soak: %d runs, %zu requests, faults injected (404, 503, cut short, dropped, stall, "
          "redirect loop): %d %d %d %d %d %d",
          runs, server.requests().size(), injected[0], injected[1], injected[2], injected[3],
          injected[4], injected[5]);
}

QTEST_MAIN(tst_Soak)
#include "tst_soak.moc"
