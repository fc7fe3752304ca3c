#include "SampleCardServer.h"
#include "TestSupport.h"
#include "WindowDriver.h"
#include "run/RunLog.h"

#include <QDir>
#include <QtTest>

using Answer = SampleCardServer::Answer;

namespace {
const QByteArray kRule(47, '#');
}

class tst_RunLog : public QObject
{
    Q_OBJECT

private slots:
    void workedExampleByteForByte();
    void runsAppendBlocksSeparatedByTwoEmptyLines();
    void stoppedRunEndsItsOpenLineAndSaysWhy();
    void entriesAreKeptWhenTheRunStopsAtAFailedWrite();
};

void tst_RunLog::workedExampleByteForByte()
{
    WorkFolder work;
    SampleCardServer server;
    const QByteArray origin = QByteArray::fromStdString(server.origin());
    // "D:\Cards\Data\" reads as a relative folder on systems whose separator is "/".
    writeBytes(work.file("D:/Cards/Data/a0001/a0001c.jpg"), QByteArray(2314, 'c'));
    writeBytes(work.file("D:/Cards/Data/a0001/a0001.xml"), QByteArray(1620, 'x'));
    server.setAnswer("/free/sets/a0001/illustrations/a0001c.jpg",
                     Answer{200, std::string(48213, 'C'), {}, 0, {}, {}});
    server.setAnswer("/free/sets/a0001/illustrations/a0001.inf",
                     Answer{200, std::string(1187, 'I'), {}, 0, {}, {}});

    FixedClock clock({QDateTime(QDate(2024, 6, 1), QTime(21, 5, 9)),
                      QDateTime(QDate(2024, 6, 1), QTime(21, 5, 14))});
    WindowDriver driver(QString::fromStdString(server.origin()));
    driver.type("tDATA", "D:\\Cards\\Data\\");
    driver.tickOnly({"cbCI", "cbINF", "cbCX"});
    driver.runUpdate();

    const QByteArray expected = "\r\n" + kRule +
                                "\r\n"
                                "Started on: 06-01-2024 21:05:09\r\n"
                                "\r\n"
                                "a0001\r\n"
                                "D:\\Cards\\Data\\a0001\\a0001c.jpg size 2314\r\n"
                                "Download File: " +
                                origin +
                                "/free/sets/a0001/illustrations/a0001c.jpg New size 48213\r\n"
                                "D:\\Cards\\Data\\a0001\\a0001.woxinf size 0\r\n"
                                "Download File: " +
                                origin +
                                "/free/sets/a0001/illustrations/a0001.woxinf New size 1187\r\n"
                                "Download File: " +
                                origin +
                                "/free/sets/a0001/illustrations/a0001.woxdld New size 1187\r\n"
                                "D:\\Cards\\Data\\a0001\\a0001.xml size 1620\r\n"
                                "\r\n"
                                "Finished on: 06-01-2024 21:05:14\r\n"
                                "Start : 06-01-2024 21:05:09 to Finish : 06-01-2024 21:05:14\r\n"
                                "Total Bytes Downloaded = 49400\r\n" +
                                kRule +
                                "\r\n"
                                "\r\n";
    QCOMPARE(readBytes(work.file("KX-GET-CardDataUpdates.txt")), expected);
    QCOMPARE(driver.text("Text2"), QString("DONE !"));
}

void tst_RunLog::runsAppendBlocksSeparatedByTwoEmptyLines()
{
    WorkFolder work;
    QDir().mkpath(work.file("data"));
    writeBytes(work.file("KX-GET-CardDataUpdates.txt"), "earlier content\r\n");
    FixedClock clock({QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5))});
    WindowDriver driver;
    driver.type("tDATA", work.file("data"));
    for (int run = 0; run < 2; ++run) {
        driver.runUpdate();
        driver.pressReset();
    }
    const QByteArray block = "\r\n" + kRule +
                             "\r\nStarted on: 01-02-2024 03:04:05\r\n\r\n"
                             "\r\nFinished on: 01-02-2024 03:04:05\r\n"
                             "Start : 01-02-2024 03:04:05 to Finish : 01-02-2024 03:04:05\r\n"
                             "Total Bytes Downloaded = 0\r\n" +
                             kRule + "\r\n\r\n";
    QCOMPARE(readBytes(work.file("KX-GET-CardDataUpdates.txt")),
             "earlier content\r\n" + block + block);
}

void tst_RunLog::stoppedRunEndsItsOpenLineAndSaysWhy()
{
    WorkFolder work;
    RunLog log;
    QVERIFY(log.open().ok());
    QVERIFY(log.writeRunHeader("06-01-2024 21:05:09").ok());
    QVERIFY(log.writeSizeLine("D:\\a0001\\a0001c.jpg", 0).ok());
    QVERIFY(log.writeDownloadLine("http://h/a0001c.jpg").ok());
    QVERIFY(log.closeStopped("06-01-2024 21:05:11", "could not write D:\\a0001\\a0001c.jpg: full")
                .ok());
    QVERIFY(!log.isOpen());
    QCOMPARE(readBytes(work.file("KX-GET-CardDataUpdates.txt")),
             "\r\n" + kRule +
                 "\r\nStarted on: 06-01-2024 21:05:09\r\n\r\n"
                 "D:\\a0001\\a0001c.jpg size 0\r\n"
                 "Download File: http://h/a0001c.jpg\r\n"
                 "\r\nStopped on: 06-01-2024 21:05:11\r\n"
                 "Reason: could not write D:\\a0001\\a0001c.jpg: full\r\n" +
                 kRule + "\r\n\r\n");
}

void tst_RunLog::entriesAreKeptWhenTheRunStopsAtAFailedWrite()
{
    WorkFolder work;
    // A folder in the log's place cannot be opened: the run stops before any card.
    QDir().mkpath(work.file("KX-GET-CardDataUpdates.txt"));
    MessageBoxRecorder boxes;
    WindowDriver driver;
    driver.type("tDATA", work.path());
    driver.runUpdate();
    QVERIFY2(driver.text("Text2").startsWith(
                 "Update stopped: could not write KX-GET-CardDataUpdates.txt"),
             qPrintable(driver.text("Text2")));
    QCOMPARE(boxes.texts, QStringList({driver.text("Text2")}));
    QVERIFY(driver.button("Command2")->isEnabled());
}

QTEST_MAIN(tst_RunLog)
#include "tst_runlog.moc"
