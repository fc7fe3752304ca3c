#include "platform/Files.h"
#include "run/RunProgress.h"

#include <QtTest>

// Keeps what the run last showed of its progress.
class ProgressShown final : public RunDisplay
{
public:
    int done = -1;
    int total = -1;
    QString text;

    void showProgress(int shownDone, int shownTotal, const QString& shownText) override
    {
        done = shownDone;
        total = shownTotal;
        text = shownText;
    }
    void lockControls() override {}
    void showDataPath(const QString&) override {}
    void showCard(const QString&) override {}
    void showSize(const QString&) override {}
    void showStatus(const QString&) override {}
    void showRunEnd(const QString&) override {}
    void showDone() override {}
    void tell(const QString&) override {}
    void unlockReset() override {}
    void giveTurn() override {}
    void showHeld() override {}
};

class tst_Progress : public QObject
{
    Q_OBJECT

private slots:
    void timeLeftIsEstimatedAfterAMinute_data();
    void timeLeftIsEstimatedAfterAMinute();
    void aCardAfterAnEmptyWalkIsCounted();
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
    ProgressShown shown;
    qint64 elapsed = 0;
    RunProgress progress(shown, [&] { return elapsed; });
    progress.start();
    progress.addCards(total);
    for (int card = 1; card < done; ++card)
        progress.cardDone();
    elapsed = qint64(elapsedSeconds) * 1000;
    progress.cardDone();
    QCOMPARE(shown.text, text);
    QCOMPARE(shown.done, done);
    QCOMPARE(shown.total, total);
}

// The walk found no card folder, and then the one card is updated: the count, not the note.
void tst_Progress::aCardAfterAnEmptyWalkIsCounted()
{
    ProgressShown shown;
    RunProgress progress(shown);
    progress.start();
    progress.addCards(0);
    progress.foundNoCardFolders(QStringLiteral("D:\\Data\\"));
    QCOMPARE(shown.text, "No card folder (a0001 ...) was found in " + nativePath("D:\\Data\\"));
    progress.addCards(1);
    progress.cardDone();
    QCOMPARE(shown.text, QStringLiteral("1 of 1 cards"));
}

QTEST_MAIN(tst_Progress)
#include "tst_progress.moc"
