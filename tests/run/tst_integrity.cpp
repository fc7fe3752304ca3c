// The program as a separate process, killed or held to a file-size limit in the middle of a
// run: nothing stored half-way, and the run log lags the files by at most the line in hand.
#include "SampleCardServer.h"
#include "SampleCollection.h"
#include "TestSupport.h"
#include "WindowDriver.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QtTest>

#include <sys/resource.h>
#include <sys/stat.h>

namespace {

// In the child: one overwrite run of every card in the data folder, then the status line.
int runChild(const QString& origin, const QString& data, long fileSizeLimit)
{
    if (fileSizeLimit > 0) {
        rlimit limit{rlim_t(fileSizeLimit), RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    MessageBoxRecorder boxes;
    WindowDriver driver(origin);
    driver.prepare(data, kAssetBoxes, true);
    driver.runUpdate();
    std::printf("%s\n", qPrintable(driver.text("Text2")));
    return 0;
}

ino_t inodeOf(const QString& path)
{
    struct stat status = {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_ino : 0;
}

} // namespace

class tst_Integrity : public QObject
{
    Q_OBJECT

private slots:
    void killedRunLosesAtMostTheLineInHand();
    void fileSizeLimitStopsTheRunCleanly();

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
    QDir().mkpath(data);
    sample::CollectionLayout layout;
    layout.cards = 400;
    sample::writeCollection(data.toStdString(), layout);
    QMap<QString, ino_t> inodes;
    QMap<QString, QByteArray> former;
    for (const QString& file : filesBelow(data)) {
        inodes.insert(file, inodeOf(data + "/" + file));
        former.insert(file, readBytes(data + "/" + file));
    }
    SampleCardServer server;
    QProcess* child = startChild(QString::fromStdString(server.origin()), data);
    QTRY_VERIFY_WITH_TIMEOUT(server.requests().size() > 300, 60000);
    child->kill();
    QVERIFY(child->waitForFinished());

    // Every file holds what it held or the server's whole answer; a stored file is a new one.
    int replaced = 0;
    for (const QString& file : filesBelow(data)) {
        if (file.contains("kx-part") || file == ".kx-update.lock")
            continue; // gone, or taken over, at the next run
        const QString name = QFileInfo(file).fileName();
        const QByteArray bytes = readBytes(data + "/" + file);
        QVERIFY2(bytes == former.value(file) ||
                     bytes == toBytes(sample::localFileBody(name.left(5).toStdString(),
                                                            name.mid(5).toStdString())),
                 qPrintable(file));
        if (inodeOf(data + "/" + file) != inodes.value(file) && !name.endsWith(".woxdld"))
            ++replaced;
    }
    const QByteArray log = readBytes(work.file("KX-GET-CardDataUpdates.txt"));
    const int logged = int(log.count(" New size ") - log.count(".woxdld New size "));
    QVERIFY2(replaced - logged >= 0 && replaced - logged <= 1,
             qPrintable(QString("%1 stored, %2 logged").arg(replaced).arg(logged)));

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
    server.setAnswer("/free/sets/a0001/illustrations/a0001c.jpg", {200, std::string(200000, 'c')});
    QProcess* child = startChild(QString::fromStdString(server.origin()), data, 100000);
    QVERIFY(child->waitForFinished(60000));
    QCOMPARE(child->exitStatus(), QProcess::NormalExit);
    QCOMPARE(QString::fromLocal8Bit(child->readAllStandardOutput()).trimmed(),
             "Update stopped: could not write " + data + "\\a0001\\a0001c.jpg: File too large");
    QCOMPARE(filesBelow(data), QStringList{"a0001/a0001c.jpg"});
    QCOMPARE(readBytes(data + "/a0001/a0001c.jpg"), QByteArray("former"));
    QVERIFY(readBytes(work.file("KX-GET-CardDataUpdates.txt")).contains("Reason: could not write"));
}

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.value(1) == "--child")
        return runChild(arguments.value(2), arguments.value(3), arguments.value(4).toLong());
    tst_Integrity test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_integrity.moc"
