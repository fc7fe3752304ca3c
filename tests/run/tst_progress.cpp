#include "SampleCollection.h"
#include "TestSupport.h"
#include "WindowDriver.h"
#include "platform/HeldUpdates.h"
#include "run/RunProgress.h"

#include <QDir>
#include <QProgressBar>
#include <QTimer>
#include <QtTest>

class tst_Progress : public QObject
{
    Q_OBJECT

private slots:
    void countsCardsAndEstimatesAfterAMinute();
    void walkCountsItsCardFoldersAndOneCardAddsOne();
    void oneCardAloneCountsOne();
};

void tst_Progress::countsCardsAndEstimatesAfterAMinute()
{
    QProgressBar bar;
    qint64 elapsed = 0;
    RunProgress progress(&bar, [&] { return elapsed; });
    // The bar shows new counts at the window's next turn.
    const auto shown = [&] {
        showHeldUpdates();
        return bar.text();
    };
    progress.start();
    QCOMPARE(shown(), QString("0 of 0 cards"));
    QVERIFY(bar.isTextVisible());
    QVERIFY(bar.maximum() > bar.minimum()); // never the busy indicator

    progress.addCards(4);
    QCOMPARE(shown(), QString("0 of 4 cards"));
    elapsed = 59'000;
    progress.cardDone();
    QCOMPARE(shown(), QString("1 of 4 cards"));
    QCOMPARE(bar.value(), 1);
    QCOMPARE(bar.maximum(), 4);

    elapsed = 120'000; // two minutes a card so far, three cards to go
    progress.cardDone();
    QCOMPARE(shown(), QString("2 of 4 cards, about 2 minutes left"));
    elapsed = 121'000;
    progress.cardDone();
    QCOMPARE(shown(), QString("3 of 4 cards, less than a minute left"));
    progress.addCards(1);
    QCOMPARE(shown(), QString("3 of 5 cards, about a minute left"));
    progress.addCards(199);
    QCOMPARE(shown(), QString("3 of 204 cards, about 2 h 15 min left"));

    progress.cardDone();
    progress.finish(); // a count still held is dropped
    showHeldUpdates();
    QVERIFY(!bar.isTextVisible());
    QCOMPARE(bar.value(), bar.minimum() - 1);
}

void tst_Progress::walkCountsItsCardFoldersAndOneCardAddsOne()
{
    WorkFolder work;
    for (const char* card : {"a0001", "B0001", "d0001"})
        QDir().mkpath(work.file(QString("Data/") + card));
    QDir().mkpath(work.file("Data/e0001"));
    writeBytes(work.file("Data/c0001"), "a file");
    EveryPumpPasses exactPumps;
    WindowDriver driver;
    driver.type("tDATA", work.file("Data"));
    // A grayed box counts for the run but is never processed: the cards are walked and
    // counted without a single download.
    driver.tickOnly({});
    driver.box("cbCX")->setCheckState(Qt::PartiallyChecked);

    // What the bar says at every pump of the run; "Update One Card" is chosen during the walk.
    auto* bar = driver.control<QProgressBar>("ProgressBar1");
    QStringList seen;
    QTimer everyPump;
    QObject::connect(&everyPump, &QTimer::timeout, bar, [&] {
        if (bar->isTextVisible() && (seen.isEmpty() || seen.last() != bar->text()))
            seen << bar->text();
        if (bar->text() == "1 of 3 cards" && !driver.button("oWhat_1")->isChecked())
            driver.choose("oWhat_1");
    });
    everyPump.start(0);
    driver.runUpdate();
    everyPump.stop();

    QCOMPARE(driver.text("Text2"), QString("DONE !"));
    QCOMPARE(seen, QStringList({"0 of 3 cards", "1 of 3 cards", "2 of 3 cards", "3 of 3 cards",
                                "3 of 4 cards"}));
    QVERIFY(!bar->isTextVisible());
    QCOMPARE(bar->value(), bar->minimum() - 1);
    QVERIFY(!readBytes(work.file("KX-GET-CardDataUpdates.txt")).contains("cards"));
}

void tst_Progress::oneCardAloneCountsOne()
{
    WorkFolder work;
    QDir().mkpath(work.file("Data/a0001"));
    EveryPumpPasses exactPumps;
    WindowDriver driver;
    driver.type("tDATA", work.file("Data"));
    driver.choose("oWhat_1");
    driver.type("Text3", " a0001 "); // shown trimmed once its update begins
    driver.tickOnly({});
    driver.box("cbCX")->setCheckState(Qt::PartiallyChecked);
    auto* bar = driver.control<QProgressBar>("ProgressBar1");
    QString seen;
    QObject::connect(driver.edit("Text3"), &QLineEdit::textChanged, bar,
                     [&] { seen = bar->text(); });
    driver.runUpdate();
    QCOMPARE(seen, QString("0 of 1 cards"));
    QVERIFY(!bar->isTextVisible());
}

QTEST_MAIN(tst_Progress)
#include "tst_progress.moc"
