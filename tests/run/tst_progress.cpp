#include "platform/HeldUpdates.h"
#include "run/RunProgress.h"

#include <QProgressBar>
#include <QtTest>

class tst_Progress : public QObject
{
    Q_OBJECT

private slots:
    void timeLeftIsEstimatedAfterAMinute_data();
    void timeLeftIsEstimatedAfterAMinute();
};

void tst_Progress::timeLeftIsEstimatedAfterAMinute_data()
{
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("elapsedSeconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("before a minute") << 1 << 4 << 59 << "1 of 4 cards";
    QTest::newRow("under a minute left")
        << 3 << 4 << 177 << "3 of 4 cards, less than a minute left";
    QTest::newRow("a minute left") << 3 << 4 << 180 << "3 of 4 cards, about a minute left";
    QTest::newRow("rounds half up") << 2 << 4 << 150 << "2 of 4 cards, about 3 minutes left";
    QTest::newRow("rounds down") << 2 << 4 << 149 << "2 of 4 cards, about 2 minutes left";
    QTest::newRow("hours") << 3 << 204 << 121 << "3 of 204 cards, about 2 h 15 min left";
}

void tst_Progress::timeLeftIsEstimatedAfterAMinute()
{
    QFETCH(int, done);
    QFETCH(int, total);
    QFETCH(int, elapsedSeconds);
    QFETCH(QString, text);
    QProgressBar bar;
    qint64 elapsed = 0;
    RunProgress progress(&bar, [&] { return elapsed; });
    progress.start();
    progress.addCards(total);
    for (int card = 1; card < done; ++card)
        progress.cardDone();
    elapsed = qint64(elapsedSeconds) * 1000;
    progress.cardDone();
    showHeldUpdates();
    QCOMPARE(bar.text(), text);
    QCOMPARE(bar.value(), done);
}

QTEST_MAIN(tst_Progress)
#include "tst_progress.moc"
