// The program as a separate process, killed or held to a file-size limit in the middle of a
// run: nothing stored half-way, and the run log lags the files by at most the line in hand.
#include "SampleCardServer.h"
#include "SampleCollection.h"
#include "TestSupport.h"
#include "WindowDriver.h"
#include "app/Program.h"
#include "platform/Files.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QtTest>

#include <csignal>
#include <cstring>
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
    void aConsoleRunEndsWithItsOwnStatus_data();
    void aConsoleRunEndsWithItsOwnStatus();
    void noDisplayIsSaidInPlainWords();
    void twoCopiesInOneWorkingFolderWriteWholeLogLines();

private:
    QProcess* startChild(const QString& origin, const QString& data, long fileSizeLimit = 0)
    {
        auto* child = new QProcess(this);
        child->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child->start(QCoreApplication::applicationFilePath(),
                     {"--child", origin, data, QString::number(fileSizeLimit)});
        return child;
    }
    // The program itself (`program` names it), in the working folder with its saved info
    // there, started as a shell starts it: signals as the system sets them, less one held back.
    static void startProgram(QProcess& child, const QString& program, const QStringList& arguments,
                             int heldBack = 0)
    {
        child.setChildProcessModifier([heldBack] {
            std::signal(SIGPIPE, SIG_DFL); // this test ignores it, and its children would too
            sigset_t blocked;
            sigemptyset(&blocked);
            if (heldBack)
                sigaddset(&blocked, heldBack);
            ::sigprocmask(SIG_SETMASK, &blocked, nullptr);
        });
        child.start(program, arguments);
    }
    static QStringList programArguments(const SampleCardServer& server, const QStringList& more)
    {
        return QStringList{"--program", QString::fromStdString(server.origin())} + more;
    }
    // Empty card folders, and the saved info that names their data folder.
    static QString collection(const WorkFolder& work, int cards)
    {
        const QString data = work.file("Data");
        for (int card = 0; card < cards; ++card)
            QDir().mkpath(data + "/" + QString::fromStdString(sample::cardName(card)));
        writeBytes("KXSavedInfo.txt", textFileBytes({"#", "#", "user", "#", "key", "#", data}));
        return data;
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
             "Update stopped: could not write " + nativePath(data + "\\a0001\\a0001c.jpg") +
                 ": File too large");
    QCOMPARE(filesBelow(data), QStringList{"a0001/a0001c.jpg"});
    QCOMPARE(readBytes(data + "/a0001/a0001c.jpg"), QByteArray("former"));
    QVERIFY(readBytes(work.file("KX-GET-CardDataUpdates.txt")).contains("Reason: could not write"));
}

void tst_Integrity::aConsoleRunEndsWithItsOwnStatus_data()
{
    QTest::addColumn<QString>("streams"); // "": a file; "gone": a reader that goes away; "full"
    QTest::addColumn<int>("signal");      // sent once the run is under way
    QTest::addColumn<bool>("atOnce");     // the signal comes before the program's first step
    QTest::addColumn<QString>("reason");  // why it stopped; empty: it went through
    QTest::newRow("SIGTERM") << "" << int(SIGTERM) << false << "stopped by SIGTERM";
    QTest::newRow("SIGHUP") << "" << int(SIGHUP) << false
                            << "stopped: the terminal was closed (SIGHUP)";
    QTest::newRow("SIGTERM at once") << "" << int(SIGTERM) << true << "stopped by SIGTERM";
    QTest::newRow("reader gone (| head)") << "gone" << 0 << false << "";
    QTest::newRow("streams to a full disk") << "full" << 0 << false << "";
}

void tst_Integrity::aConsoleRunEndsWithItsOwnStatus()
{
    QFETCH(QString, streams);
    QFETCH(int, signal);
    QFETCH(bool, atOnce);
    QFETCH(QString, reason);
    WorkFolder work;
    const QString data = collection(work, 200);
    SampleCardServer server;
    server.setDelay(std::chrono::milliseconds(5)); // long enough to be read and stopped
    const QString self = QCoreApplication::applicationFilePath();
    const QStringList arguments = programArguments(server, {"--run", "--get", "all"});
    QProcess child;
    if (streams == "gone") {
        startProgram(child, "bash",
                     QStringList{"-c",
                                 "\"$0\" \"$@\" 2>&1 | head -c 10 >/dev/null; "
                                 "exit \"${PIPESTATUS[0]}\"",
                                 self} +
                         arguments);
    } else {
        if (streams == "full") {
            child.setStandardOutputFile("/dev/full");
            child.setStandardErrorFile("/dev/full");
        }
        // Held back until the program catches it, as a signal that comes while it starts.
        startProgram(child, self, arguments, atOnce ? signal : 0);
    }
    QVERIFY(child.waitForStarted());
    if (signal && !atOnce)
        QTRY_VERIFY_WITH_TIMEOUT(server.requests().size() > 100, 60000);
    if (signal)
        ::kill(pid_t(child.processId()), signal);
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), reason.isEmpty() ? 0 : 130);
    if (!reason.isEmpty())
        QVERIFY(QString::fromLocal8Bit(child.readAllStandardError())
                    .endsWith("kx-card-updater: Update stopped: " + reason + "\n"));

    // Whole files, no part file, the lock let go, the log block closed: with the reason, or
    // with the footer of a run that went through.
    for (const QString& file : filesBelow(data))
        QCOMPARE(readBytes(data + "/" + file), servedBytes(QFileInfo(file).fileName()));
    const QStringList lines = logLines();
    if (reason.isEmpty())
        QCOMPARE(filesBelow(data).size(), qsizetype(200 * 7));
    QCOMPARE(lines.at(lines.size() - 3), reason.isEmpty()
                                             ? lines.filter("Total Bytes Downloaded = ").value(0)
                                             : "Reason: " + reason);
}

void tst_Integrity::noDisplayIsSaidInPlainWords()
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(name);
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {"--program", "http://127.0.0.1:9"});
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 1);
    QCOMPARE(QString::fromLocal8Bit(child.readAllStandardError()),
             QString("kx-card-updater: the window cannot open: no display was found. "
                     "kx-card-updater --run updates the data folder without a window or a "
                     "display; --help lists the options.\n"));
}

void tst_Integrity::twoCopiesInOneWorkingFolderWriteWholeLogLines()
{
    // Each on a data folder of its own, so that each holds its own lock, appending to one log.
    WorkFolder work;
    SampleCardServer server;
    std::vector<QProcess*> children; // the test's own
    for (const char* folder : {"One", "Two"}) {
        const QString data = work.file(folder);
        for (int card = 0; card < 60; ++card)
            QDir().mkpath(data + "/" + QString::fromStdString(sample::cardName(card)));
        children.push_back(startChild(QString::fromStdString(server.origin()), data));
    }
    for (QProcess* child : children) {
        QVERIFY(child->waitForFinished(60000));
        QCOMPARE(QString::fromLocal8Bit(child->readAllStandardOutput()).trimmed(), "DONE !");
    }
    static const QRegularExpression wholeLine(
        "^(|#{47}|Started on: .{19}|Finished on: .{19}|Start : .{19} to Finish : .{19}|"
        "Total Bytes Downloaded = \\d+|[a-d]\\d{4}|/[^ ]+ size \\d+|"
        "Download File: http://[^ ]+ New size \\d+)$");
    const QStringList lines = logLines();
    QCOMPARE(lines.filter("Download File: ").size(), 2 * 60 * 7);
    for (const QString& line : lines)
        QVERIFY2(wholeLine.match(line).hasMatch(), qPrintable(line));
}

int main(int argc, char* argv[])
{
    // The program itself, talking to the given server: `--program ORIGIN ARGUMENTS...`.
    if (argc >= 3 && std::strcmp(argv[1], "--program") == 0) {
        const QString origin = QString::fromLocal8Bit(argv[2]);
        argv[2] = argv[0];
        int programArgc = argc - 2;
        return runProgram(programArgc, argv + 2, {origin, origin});
    }
    QApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.value(1) == "--child")
        return runChild(arguments.value(2), arguments.value(3), arguments.value(4).toLong());
    tst_Integrity test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_integrity.moc"
