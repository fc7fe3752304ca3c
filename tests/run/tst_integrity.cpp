// The program as a separate process, killed or held to a file-size limit in the middle of a
// run: nothing stored half-way, and the run log lags the files by at most the line in hand.
#include "SampleCardServer.h"
#include "SampleCollection.h"
#include "TestSupport.h"
#include "WindowDriver.h"
#include "app/UnattendedRun.h"
#include "platform/Files.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QtTest>

#include <sys/resource.h>

namespace {

// In the child: one overwrite run of every card in the data folder, then the status line.
int runChild(const QString& origin, const QString& data, long fileSizeLimit)
{
    FileSizeLimit limit(fileSizeLimit > 0 ? fileSizeLimit : RLIM_INFINITY);
    MessageBoxRecorder boxes;
    WindowDriver driver(origin);
    driver.prepare(data, kAssetBoxes, true);
    driver.runUpdate();
    std::printf("%s\n", qPrintable(driver.text("Text2")));
    return 0;
}

} // namespace

class tst_Integrity : public QObject
{
    Q_OBJECT

private slots:
    void killedRunLosesAtMostTheLineInHand();
    void fileSizeLimitStopsTheRunCleanly();
    void sigtermStopsAnUnattendedRunCleanly();

private:
    QProcess* startChild(const QString& origin, const QString& data, long fileSizeLimit = 0)
    {
        auto* child = new QProcess(this);
        child->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child->start(QCoreApplication::applicationFilePath(),
                     {"--child", origin, data, QString::number(fileSizeLimit)});
        return child;
    }
};

void tst_Integrity::killedRunLosesAtMostTheLineInHand()
{
    WorkFolder work;
    const QString data = work.file("Data");
    for (int card = 0; card < 400; ++card)
        QDir().mkpath(data + "/" + QString::fromStdString(sample::cardName(card)));
    SampleCardServer server;
    QProcess* child = startChild(QString::fromStdString(server.origin()), data);
    QTRY_VERIFY_WITH_TIMEOUT(server.requests().size() > 300, 60000);
    child->kill();
    QVERIFY(child->waitForFinished());

    // Every file there is holds the server's whole answer.
    int stored = 0;
    for (const QString& file : filesBelow(data)) {
        if (file.contains("kx-part") || file == ".kx-update.lock")
            continue; // gone, or taken over, at the next run
        const QString name = QFileInfo(file).fileName();
        QCOMPARE(readBytes(data + "/" + file), servedBytes(name));
        stored += !name.endsWith(".woxdld");
    }
    const QByteArray log = readBytes(work.file("KX-GET-CardDataUpdates.txt"));
    const int logged = int(log.count(" New size ") - log.count(".woxdld New size "));
    QVERIFY2(stored - logged >= 0 && stored - logged <= 1,
             qPrintable(QString("%1 stored, %2 logged").arg(stored).arg(logged)));

    // The next run takes the killed copy's lock over and clears what its stores left.
    writeBytes(data + "/d0100/.d0100c.jpg.99999.kx-part", "half");
    MessageBoxRecorder boxes;
    WindowDriver next(QString::fromStdString(server.origin()));
    next.prepare(data, {"cbCX"});
    next.runUpdate();
    QCOMPARE(next.text("Text2"), QString("DONE !"));
    QVERIFY(!filesBelow(data).join(' ').contains("kx-part"));
    QVERIFY(!QFileInfo::exists(data + "/.kx-update.lock"));
}

void tst_Integrity::fileSizeLimitStopsTheRunCleanly()
{
    WorkFolder work;
    const QString data = work.file("Data");
    QDir().mkpath(data + "/a0001");
    writeBytes(data + "/a0001/a0001c.jpg", "former");
    SampleCardServer server;
    // The served picture is larger than the limit; the run log stays below it.
    QProcess* child = startChild(QString::fromStdString(server.origin()), data, 10000);
    QVERIFY(child->waitForFinished(60000));
    QCOMPARE(child->exitStatus(), QProcess::NormalExit);
    QCOMPARE(QString::fromLocal8Bit(child->readAllStandardOutput()).trimmed(),
             "Update stopped: could not write " + data + "\\a0001\\a0001c.jpg: File too large");
    QCOMPARE(filesBelow(data), QStringList{"a0001/a0001c.jpg"});
    QCOMPARE(readBytes(data + "/a0001/a0001c.jpg"), QByteArray("former"));
    QVERIFY(readBytes(work.file("KX-GET-CardDataUpdates.txt")).contains("Reason: could not write"));
}

void tst_Integrity::sigtermStopsAnUnattendedRunCleanly()
{
    WorkFolder work;
    const QString data = work.file("Data");
    for (int card = 0; card < 400; ++card)
        QDir().mkpath(data + "/" + QString::fromStdString(sample::cardName(card)));
    writeBytes("KXSavedInfo.txt", textFileBytes({"#", "#", "user", "#", "key", "#", data}));
    SampleCardServer server;
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {"--unattended", QString::fromStdString(server.origin()), "--run", "--get", "all"});
    QTRY_VERIFY_WITH_TIMEOUT(server.requests().size() > 100, 60000);
    child.terminate(); // SIGTERM, as systemd and kill send it
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 130);
    QVERIFY(QString::fromLocal8Bit(child.readAllStandardError())
                .endsWith("kx-card-updater: Update stopped: stopped by SIGTERM\n"));

    // Whole files, no part file, the lock let go, the log block closed with the reason.
    for (const QString& file : filesBelow(data))
        QCOMPARE(readBytes(data + "/" + file), servedBytes(QFileInfo(file).fileName()));
    const QStringList lines = logLines();
    QVERIFY(lines.at(lines.size() - 4).startsWith("Stopped on: "));
    QCOMPARE(lines.at(lines.size() - 3), QString("Reason: stopped by SIGTERM"));
}

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.value(1) == "--unattended") // the program's run without a window
        return runUnattended(readCommandLine(arguments.mid(3)),
                             {arguments.value(2), arguments.value(2)}, standardConsole());
    if (arguments.value(1) == "--child")
        return runChild(arguments.value(2), arguments.value(3), arguments.value(4).toLong());
    tst_Integrity test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_integrity.moc"
