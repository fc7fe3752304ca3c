// The program as a separate process, killed or held to a file-size limit in the middle of a
// run: nothing stored half-way, and the run log lags the files by at most the kind in hand.
#include "RealServers.h"
#include "SampleCardServer.h"
#include "SampleCollection.h"
#include "TestSupport.h"
#include "WindowDriver.h"
#include "app/Program.h"
#include "cards/FetchAhead.h"
#include "http/ServerPace.h"
#include "log/RunLog.h"
#include "platform/Console.h"
#include "platform/Files.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <optional>
#include <set>
#include <sys/resource.h>
#include <unistd.h>

Q_DECLARE_METATYPE(SampleCardServer::Limits)

namespace {

// In the child: one overwrite run of every card in the data folder, then the status line. The
// window hears stop signals as the program's does.
int runChild(const QString& origin, const QString& data, long fileSizeLimit)
{
    FileSizeLimit limit(fileSizeLimit > 0 ? fileSizeLimit : RLIM_INFINITY);
    MessageBoxRecorder boxes;
    WindowDriver driver(origin);
    StopRequests stops;
    closeOnStopRequests(driver.window(), stops);
    driver.prepare(data, kAssetBoxes, true);
    driver.runUpdate();
    std::printf("%s\n", qPrintable(driver.text("Text2")));
    return 0;
}

// In the program started with `--program --clicked ORIGIN ARGUMENTS...`: once its window is
// up, one run of "Card images" in "Only Missing Files" mode on the saved info, then the status
// line.
void clickUpdateOnceTheWindowIsUp()
{
    auto* poll = new QTimer(QCoreApplication::instance());
    QObject::connect(poll, &QTimer::timeout, [poll] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* window = qobject_cast<Form1*>(widget);
            if (!window || !window->isVisible())
                continue;
            poll->stop();
            window->runUpdate({{true, false, false, false, false}, {}, false});
            std::printf("%s\n", qPrintable(window->statusText()));
            window->close();
        }
    });
    poll->start(50);
}

} // namespace

class tst_Integrity : public QObject
{
    Q_OBJECT

private slots:
    void killedRunLosesAtMostTheKindInHand();
    void fileSizeLimitStopsTheRunCleanly();
    void aReadOnlyFileIsKeptFromRootToo();
    void aConsoleRunEndsWithItsOwnStatus_data();
    void aConsoleRunEndsWithItsOwnStatus();
    void noDisplayIsSaidInPlainWords();
    void twoCopiesInOneWorkingFolderWriteWholeLogLines();
    void theWindowTakesItsOptions_data();
    void theWindowTakesItsOptions();
    void aRealSiteThatCompressesAnyway();
    void aServerWithFewWorkersGetsTheConnectionsItServes();
    void serversThatLimitClientsAreWaitedFor_data();
    void serversThatLimitClientsAreWaitedFor();

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

void tst_Integrity::killedRunLosesAtMostTheKindInHand()
{
    WorkFolder work;
    const QString data = work.file("Data");
    for (int card = 0; card < 400; ++card)
        QDir().mkpath(data + "/" + QString::fromStdString(sample::cardName(card)));
    SampleCardServer server;
    // The last card's picture never comes before the kill, however fast the run is.
    const std::string last = sample::cardName(399);
    server.setAnswer(
        "/free/sets/" + last + "/illustrations/" + last + "c.jpg",
        {200, "late", SampleCardServer::Answer::Fault::Stall, 0, std::chrono::seconds(50)});
    QProcess* child = startChild(QString::fromStdString(server.origin()), data);
    QTRY_VERIFY_WITH_TIMEOUT(server.requests().size() > 300, 60000);
    child->kill();
    QVERIFY(child->waitForFinished());

    // Every file there is holds the server's whole answer.
    QSet<QString> stored;
    for (const QString& file : filesBelow(data)) {
        if (file.contains("kx-part") || file == ".kx-update.lock")
            continue; // gone, or taken over, at the next run
        const QString name = QFileInfo(file).fileName();
        QCOMPARE(readBytes(data + "/" + file), servedBytes(name));
        if (!name.endsWith(".woxdld")) // its line is written with its partner's
            stored << name;
    }
    // A kind's files are stored together and logged once both are: every logged file is
    // stored, and the files stored but not logged are those of the one kind in hand.
    static const QRegularExpression loggedFile(
        "^Download File: .*(?:/|cardids=)([^/&=]+?)(&xmlonly=1)? New size \\d+$");
    QSet<QString> logged;
    for (const QString& line : logLines()) {
        const QRegularExpressionMatch match = loggedFile.match(line);
        if (match.hasMatch() && !match.captured(1).endsWith("woxdld"))
            logged << match.captured(1) + (match.capturedLength(2) ? ".xml" : "");
    }
    QVERIFY(logged.size() > 0);
    QVERIFY(stored.contains(logged));
    const auto kindOf = [](const QString& name) {
        return name.left(5) + (name.endsWith(".bmp") ? QString("bmp") : name.mid(5));
    };
    QSet<QString> kindsInHand;
    for (const QString& name : stored - logged)
        kindsInHand << kindOf(name);
    QVERIFY2(kindsInHand.size() <= 1, qPrintable(QStringList(kindsInHand.values()).join(' ')));

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

void tst_Integrity::aReadOnlyFileIsKeptFromRootToo()
{
    // This suite runs as the system runs it, as root in CI.
    WorkFolder work;
    writeBytes(work.file("a0001c.jpg"), "kept");
    QFile::setPermissions(work.file("a0001c.jpg"),
                          QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    QCOMPARE(writeWholeFile(work.file("a0001c.jpg"), "new").error(),
             QString("the file is read-only"));
    QCOMPARE(readBytes(work.file("a0001c.jpg")), QByteArray("kept"));
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
    // "": --run writing to files; "gone": to a reader that goes away; "full": to a full disk;
    // "window": the window, as started from a terminal.
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("signal");     // sent once the run is under way
    QTest::addColumn<bool>("atOnce");    // the signal comes before the program's first step
    QTest::addColumn<QString>("reason"); // why it stopped; empty: it went through
    QTest::newRow("SIGTERM") << "" << int(SIGTERM) << false << "stopped by SIGTERM";
    QTest::newRow("SIGHUP") << "" << int(SIGHUP) << false
                            << "stopped: the terminal was closed (SIGHUP)";
    QTest::newRow("SIGTERM at once") << "" << int(SIGTERM) << true << "stopped by SIGTERM";
    QTest::newRow("reader gone (| head)") << "gone" << 0 << false << "";
    QTest::newRow("streams to a full disk") << "full" << 0 << false << "";
    QTest::newRow("window, SIGINT")
        << "window" << int(SIGINT) << false << "stopped by Ctrl+C (SIGINT)";
    QTest::newRow("window, SIGTERM") << "window" << int(SIGTERM) << false << "stopped by SIGTERM";
    QTest::newRow("window, SIGHUP")
        << "window" << int(SIGHUP) << false << "stopped: the terminal was closed (SIGHUP)";
    QTest::newRow("window, SIGTERM before a run") << "window" << int(SIGTERM) << true << "";
}

void tst_Integrity::aConsoleRunEndsWithItsOwnStatus()
{
    QFETCH(QString, how);
    QFETCH(int, signal);
    QFETCH(bool, atOnce);
    QFETCH(QString, reason);
    WorkFolder work;
    const QString data = collection(work, 200);
    SampleCardServer server;
    server.setDelay(std::chrono::milliseconds(5)); // long enough to be read and stopped
    if (signal && !atOnce) {
        // The last card's picture comes only after the signal, however fast the run is.
        const std::string last = sample::cardName(199);
        server.setAnswer(
            "/free/sets/" + last + "/illustrations/" + last + "c.jpg",
            {200, "late", SampleCardServer::Answer::Fault::Stall, 0, std::chrono::seconds(50)});
    }
    const QString self = QCoreApplication::applicationFilePath();
    const QStringList arguments = programArguments(server, {"--run", "--get", "all"});
    QProcess child;
    if (how != "window") {
        // A console run loads no window system: there is none, and the one named does not exist.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.insert("QT_QPA_PLATFORM", "no-such-platform");
        child.setProcessEnvironment(environment);
    }
    if (how == "window") {
        // Before a run: the program's own window; during one: a window driven by the test.
        startProgram(
            child, self,
            atOnce ? programArguments(server, {})
                   : QStringList{"--child", QString::fromStdString(server.origin()), data, "0"},
            atOnce ? signal : 0);
    } else if (how == "gone") {
        startProgram(child, "bash",
                     QStringList{"-c",
                                 "\"$0\" \"$@\" 2>&1 | head -c 10 >/dev/null; "
                                 "exit \"${PIPESTATUS[0]}\"",
                                 self} +
                         arguments);
    } else {
        if (how == "full") {
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
    if (how == "window") {
        QCOMPARE(child.exitCode(), 0);
        if (atOnce) { // the window closed before anything was asked
            QVERIFY(server.requests().empty());
            return;
        }
        QCOMPARE(QString::fromLocal8Bit(child.readAllStandardOutput()).trimmed(),
                 "Update stopped: " + reason);
    } else {
        QCOMPARE(child.exitCode(), reason.isEmpty() ? 0 : 130);
        if (!reason.isEmpty())
            QVERIFY(QString::fromLocal8Bit(child.readAllStandardError())
                        .endsWith("kx-card-updater: Update stopped: " + reason + "\n"));
    }

    // Whole files, no part file, the lock let go, the log block closed: with the reason, or
    // with the footer of a run that went through. A stop that comes at once may come before the
    // run opened its log.
    for (const QString& file : filesBelow(data))
        QCOMPARE(readBytes(data + "/" + file), servedBytes(QFileInfo(file).fileName()));
    const QStringList lines = logLines();
    if (atOnce && lines.isEmpty())
        return;
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
    // Each on a data folder of its own, so that each holds its own lock, appending to one log
    // that has grown large enough to be moved aside as they start.
    WorkFolder work;
    SampleCardServer server;
    const QByteArray largeLog(RunLog::kMoveAsideAtBytes + 1, '-');
    writeBytes("KX-GET-CardDataUpdates.txt", largeLog);
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
    // Moved aside once: neither copy moves the log the other one started afresh.
    QVERIFY(readBytes("KX-GET-CardDataUpdates.old.txt") == largeLog);
    const QStringList lines = logLines();
    QCOMPARE(lines.filter("Download File: ").size(), 2 * 60 * 7);
    for (const QString& line : lines)
        QVERIFY2(wholeLine.match(line).hasMatch(), qPrintable(line));
}

void tst_Integrity::theWindowTakesItsOptions_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("picturesOnDisk"); // whole but one; else all missing
    QTest::addColumn<int>("fetched");
    QTest::addColumn<bool>("oneConnection");
    QTest::newRow("as it starts") << QStringList() << true << 0 << false;
    QTest::newRow("--check-pictures") << QStringList{"--check-pictures"} << true << 1 << false;
    QTest::newRow("as it starts, all missing") << QStringList() << false << 20 << false;
    QTest::newRow("--connections 1") << QStringList{"--connections", "1"} << false << 20 << true;
}

void tst_Integrity::theWindowTakesItsOptions()
{
    QFETCH(QStringList, options);
    QFETCH(bool, picturesOnDisk);
    QFETCH(int, fetched);
    QFETCH(bool, oneConnection);
    WorkFolder work;
    const QString data = collection(work, 20);
    for (int card = 0; card < 20 && picturesOnDisk; ++card) {
        const QString name = QString::fromStdString(sample::cardName(card)) + "c.jpg";
        const QByteArray picture = servedBytes(name);
        writeBytes(data + "/" + name.left(5) + "/" + name, card ? picture : picture.chopped(2));
    }
    SampleCardServer server;
    server.setDelay(std::chrono::milliseconds(20)); // many in flight where many may be
    QProcess child;
    startProgram(child, QCoreApplication::applicationFilePath(),
                 QStringList{"--program", "--clicked", QString::fromStdString(server.origin())} +
                     options);
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(QString::fromLocal8Bit(child.readAllStandardOutput()).trimmed(), QString("DONE !"));
    std::set<int> connections;
    for (const SampleCardServer::Request& request : server.requests())
        connections.insert(request.remotePort);
    QCOMPARE(int(server.requests().size()), fetched);
    if (fetched > 1)
        QCOMPARE(connections.size() == 1, oneConnection);
}

void tst_Integrity::aServerWithFewWorkersGetsTheConnectionsItServes()
{
    if (!Apache::installed())
        QSKIP("Apache with PHP is not installed (Debian's apache2 and libapache2-mod-php)");
    // Four workers, each holding its kept-alive connection for 5 s: a connection beyond them
    // waits in Apache's queue until one of those falls idle.
    WorkFolder work;
    const int cards = 20;
    const QString data = collection(work, cards);
    Apache apache({}, "StartServers 4\nMinSpareServers 4\nMaxSpareServers 4\nServerLimit 4\n"
                      "MaxRequestWorkers 4\nKeepAlive On\nKeepAliveTimeout 5\n");
    QVERIFY2(apache.port() != 0, apache.errorLog().constData());
    writeCardSite(apache.www(), cards);
    writeBytes(apache.www() + "/bof/bof.php",
               "<?php\nheader('Content-Type: text/xml');\n"
               "readfile(__DIR__ . '/../info/' . basename($_GET['cardids']) . '.xml');\n");
    QProcess child;
    startProgram(child, QCoreApplication::applicationFilePath(),
                 {"--program", apache.origin(), "--run", "--get", "all"});
    QVERIFY(child.waitForFinished(120000));
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             child.readAllStandardError().constData());
    QCOMPARE(filesBelow(data).size(), qsizetype(cards * 7));
    // The connections a run opens at first, and one more now and then to see whether the
    // server serves more at once; not a new one whenever a kept-alive one fell idle.
    std::set<QByteArray> clientPorts;
    const QList<QByteArray> requests = apache.accessLog().trimmed().split('\n');
    for (const QByteArray& request : requests)
        clientPorts.insert(request.split(' ').value(1));
    QCOMPARE_LE(qsizetype(clientPorts.size()),
                FetchAhead::kDefaultConnections + FetchAhead::kInfoConnections +
                    requests.size() / ServerPace::kAnswersBeforeProbing);
}

void tst_Integrity::aRealSiteThatCompressesAnyway()
{
    if (!Apache::installed())
        QSKIP("Apache with PHP is not installed (Debian's apache2 and libapache2-mod-php)");
    WorkFolder work;
    const QString data = collection(work, 20);
    // Pictures and info files compressed by mod_deflate told to compress for every client, and
    // a card-info page that gzips its answer whatever the request asks for.
    Apache apache({"filter", "deflate", "env"},
                  "<Location /free>\n  SetOutputFilter DEFLATE\n  SetEnv force-gzip 1\n"
                  "</Location>");
    QVERIFY2(apache.port() != 0, apache.errorLog().constData());
    const QString www = apache.www();
    writeCardSite(www, 20);
    writeBytes(www + "/bof/bof.php",
               "<?php\n"
               "$card = $_GET['cardids'] ?? '';\n"
               "if (!preg_match('/^[a-z][0-9]{4}$/', $card)) { http_response_code(404); exit; }\n"
               "header('Content-Type: text/xml');\n"
               "header('Content-Encoding: gzip');\n"
               "echo gzencode(file_get_contents(__DIR__ . \"/../info/$card.xml\"));\n");
    QProcess child;
    startProgram(child, QCoreApplication::applicationFilePath(),
                 {"--program", apache.origin(), "--run", "--get", "all"});
    QVERIFY(child.waitForFinished(60000));
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             child.readAllStandardError().constData());
    QCOMPARE(filesBelow(data).size(), qsizetype(20 * 7));
    for (const QString& file : filesBelow(data))
        QCOMPARE(readBytes(data + "/" + file), servedBytes(QFileInfo(file).fileName()));
}

void tst_Integrity::serversThatLimitClientsAreWaitedFor_data()
{
    QTest::addColumn<QString>("zone");   // nginx's http directives
    QTest::addColumn<QString>("limits"); // its server directives; none: the sample server's
    QTest::addColumn<SampleCardServer::Limits>("sampleLimits");
    QTest::addColumn<int>("cards");
    QTest::addColumn<QString>("stop"); // empty: the run goes through
    // As shared hosts and small servers limit one client: connections at once, requests a
    // second (answered 429 with a Retry-After), or everything busy. The sample server's own
    // limits do the same where nginx is not installed.
    const SampleCardServer::Limits none;
    QTest::newRow("connections") << "limit_conn_zone $binary_remote_addr zone=c:1m;"
                                 << "limit_conn c 2; limit_conn_status 503; limit_rate 32k;" << none
                                 << 10 << "";
    QTest::newRow("request rate") << "limit_req_zone $binary_remote_addr zone=r:1m rate=5r/s;"
                                  << "limit_req zone=r burst=5; limit_req_status 429; "
                                     "add_header Retry-After 1 always;"
                                  << none << 10 << "";
    QTest::newRow("busy for everything")
        << ""
        << "return 503;" << none << 2 << "it is too busy for now; run the update again later\n";
    QTest::newRow("sample: 2 at once, 503")
        << ""
        << "" << SampleCardServer::Limits{2, 0, 0, 503, ""} << 10 << "";
    QTest::newRow("sample: 5 a second, 429, Retry-After 2")
        << ""
        << "" << SampleCardServer::Limits{0, 5, 5, 429, "2"} << 6 << "";
    QTest::newRow("sample: 3 at once, 10 a second, 503")
        << ""
        << "" << SampleCardServer::Limits{3, 10, 5, 503, ""} << 10 << "";
}

void tst_Integrity::serversThatLimitClientsAreWaitedFor()
{
    QFETCH(QString, zone);
    QFETCH(QString, limits);
    QFETCH(SampleCardServer::Limits, sampleLimits);
    QFETCH(int, cards);
    QFETCH(QString, stop);
    std::optional<Nginx> nginx;
    SampleCardServer sample;
    QString origin = QString::fromStdString(sample.origin());
    if (limits.isEmpty()) {
        sample.setLimits(sampleLimits);
        sample.setDelay(std::chrono::milliseconds(20)); // so that answers overlap
    } else {
        // The card-info service's answers as static files, by the card asked for.
        nginx.emplace(zone, limits + " location = /bof/bof.php { try_files /info/$arg_cardids.xml "
                                     "=404; }");
        if (nginx->port() == 0)
            QSKIP("nginx is not installed (Debian's nginx-light)");
        writeCardSite(nginx->www(), cards);
        origin = nginx->origin();
    }
    WorkFolder work;
    const QString data = collection(work, cards);
    QProcess child;
    startProgram(child, QCoreApplication::applicationFilePath(),
                 {"--program", origin, "--run", "--get", "all"});
    QVERIFY(child.waitForFinished(120000));
    const QString errors = QString::fromLocal8Bit(child.readAllStandardError());
    if (!stop.isEmpty()) {
        QCOMPARE(child.exitCode(), 1);
        QVERIFY2(errors.endsWith(stop), qPrintable(errors));
        return;
    }
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             qPrintable(errors));
    QCOMPARE(filesBelow(data).size(), qsizetype(cards * 7));
    for (const QString& file : filesBelow(data))
        QCOMPARE(readBytes(data + "/" + file), servedBytes(QFileInfo(file).fileName()));
    // The server did refuse some: the limits were met, and waited for.
    QVERIFY(nginx ? nginx->accessLog().contains("\" 503 ") || nginx->accessLog().contains("\" 429 ")
                  : sample.refused() > 0);
}

int main(int argc, char* argv[])
{
    // The program itself, talking to the given server: `--program ORIGIN ARGUMENTS...`.
    if (argc >= 3 && std::strcmp(argv[1], "--program") == 0) {
        if (argc >= 4 && std::strcmp(argv[2], "--clicked") == 0) {
            qAddPreRoutine(&clickUpdateOnceTheWindowIsUp);
            const QString origin = QString::fromLocal8Bit(argv[3]);
            argv[3] = argv[0];
            int programArgc = argc - 3;
            return runProgram(programArgc, argv + 3, {origin, origin});
        }
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
