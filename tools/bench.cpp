// Measures a full run of the real window against its baselines on the same machine and data:
// the scan of a complete collection against a plain loop doing the same file work, and the
// downloads against curl fetching the same addresses into the same files, run by turns.
#include "RealServers.h"
#include "SampleCollection.h"
#include "TestSupport.h"
#include "WindowDriver.h"
#include "cards/CardAddresses.h"
#include "cards/WholePicture.h"
#include "platform/Files.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

struct Options
{
    int scanCards = 10000;
    int downloadCards = 1000;
    int latencyCards = 200;
    int latencyMs = 10;
    int remoteCards = 100;
    int remoteMs = 50;
    int lineCards = 200;
    int lineMs = 50;
    int lineMbit = 10;
    int limitedCards = 60;
    int memoryCards = 24;
    int rateCards = 100;
    int runs = 5;
    bool warmUp = true;
    int movedCards = 100;
    QString inside;        // the figure this process runs inside namespaces of its own
    QStringList arguments; // as given, for that process
    QStringList only;
};

const char* const kProbed[] = {"c.jpg", "d.bmp", ".woxinf", ".xml", "_full.png"};

double medianOf(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Runs the measurement after an optional warm-up, `runs` times, and gives the median seconds.
double measure(const Options& options, const std::function<void()>& prepare,
               const std::function<void()>& work)
{
    std::vector<double> seconds;
    for (int run = options.warmUp ? -1 : 0; run < options.runs; ++run) {
        prepare();
        QElapsedTimer clock;
        clock.start();
        work();
        if (run >= 0)
            seconds.push_back(double(clock.nsecsElapsed()) / 1e9);
    }
    return medianOf(seconds);
}

QString cardName(int index)
{
    return QString::fromStdString(sample::cardName(std::size_t(index)));
}

// The peak resident memory of this process since the last reset, in MiB.
double peakMemoryMiB()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

void resetPeakMemory()
{
    QFile clear("/proc/self/clear_refs");
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// The window, ready for a run over the data folder: the clock runs from the press of the
// update button to "DONE !".
class ReadyWindow
{
public:
    void prepare(const QString& origin, const QString& dataFolder, int connections = 0,
                 bool checkPictures = false)
    {
        m_driver = std::make_unique<WindowDriver>(origin, WindowDriver::Faults::AsShipped);
        if (connections > 0)
            m_driver->window().setConnections(connections);
        m_driver->window().setCheckPictures(checkPictures);
        m_driver->type("tDATA", dataFolder);
        m_driver->tickOnly(kAssetBoxes);
        m_driver->box("Check1")->click();
        QCoreApplication::processEvents();
    }
    void press()
    {
        m_driver->button("Command1")->click();
        if (m_driver->text("Text2") != "DONE !") {
            std::cerr << "kx-bench: the run did not finish: "
                      << m_driver->text("Text2").toStdString() << "\n";
            std::exit(1);
        }
    }

private:
    std::unique_ptr<WindowDriver> m_driver;
};

void printRow(const char* figure, const QString& what, double seconds, const QString& baseline,
              double baselineSeconds, double peakMiB)
{
    std::printf("%-17s %-26s %8.3f s   %-30s %8.3f s   ratio %5.2f   peak memory %.1f MiB\n",
                figure, qPrintable(what), seconds, qPrintable(baseline), baselineSeconds,
                seconds / baselineSeconds, peakMiB);
    std::fflush(stdout);
}

// A collection where every file is good: sizes pass every rule. The files are sparse, so a
// large collection costs no disk space.
void makeGoodCollection(const QString& folder, int cards)
{
    const std::vector<std::pair<const char*, qint64>> files{
        {"c.jpg", 30000},  {"d.bmp", 4000}, {"e.bmp", 4000},     {".woxinf", 2000},
        {".woxdld", 2000}, {".xml", 600},   {"_full.png", 40000}};
    for (int i = 0; i < cards; ++i) {
        const QString card = cardName(i);
        QDir().mkpath(folder + "/" + card);
        for (const auto& [suffix, size] : files) {
            QFile file(folder + "/" + card + "/" + card + suffix);
            if (!file.open(QIODevice::WriteOnly) || !file.resize(size)) {
                std::cerr << "kx-bench: cannot write " << file.fileName().toStdString() << "\n";
                std::exit(1);
            }
        }
    }
}

// The least a scan must do: list the folders, measure five files a card and write the lines,
// each reaching the file as it is made (as the program's run log must, so that a killed run
// loses no line).
void scanFloor(const QString& dataPath, const QString& logPath)
{
    QFile log(logPath);
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        std::exit(1);
    const auto writeLine = [&](const QString& line) {
        log.write((line + "\r\n").toLocal8Bit());
    };
    for (const char letter : {'A', 'B', 'C', 'D'}) {
        QStringList cards;
        QDirIterator entries(nativePath(dataPath), QDir::AllEntries | QDir::Hidden | QDir::System);
        while (entries.hasNext()) {
            entries.next();
            const QString name = entries.fileName();
            if (name.size() == 5 && name[0].toUpper() == QChar(letter))
                cards << name;
        }
        cards.sort(Qt::CaseInsensitive);
        for (const QString& card : cards) {
            if (!QFileInfo(nativePath(dataPath + card)).isDir())
                continue;
            writeLine(card);
            for (const char* suffix : kProbed) {
                const QString path = dataPath + card + "\\" + card + suffix;
                writeLine(path + " size " + QString::number(QFileInfo(nativePath(path)).size()));
            }
        }
    }
}

void benchScan(const Options& options, const QString& work)
{
    const QString data = work + "/scan";
    makeGoodCollection(data, options.scanCards);
    const QString logPath = work + "/KX-GET-CardDataUpdates.txt";
    const auto clearLog = [&] {
        QFile::remove(logPath);
    };
    ReadyWindow window;
    double peak = 0;
    const double program = measure(
        options,
        [&] {
            clearLog();
            window.prepare("http://127.0.0.1:9", data);
            resetPeakMemory();
        },
        [&] {
            window.press();
            peak = std::max(peak, peakMemoryMiB());
        });
    const double floor = measure(options, clearLog, [&] { scanFloor(data + "\\", logPath); });
    printRow("scan", QString("%1 cards, program").arg(options.scanCards), program, "plain loop",
             floor, peak);
    QDir(data).removeRecursively();
}

// What --check-pictures adds to a scan: the same window run over a complete collection of
// whole pictures, with the option and without it.
void benchCheckPictures(const Options& options, const QString& work)
{
    const QString data = work + "/check";
    QDir().mkpath(data);
    sample::writeCollection(data.toStdString(), {std::size_t(options.scanCards), 1, 0, 0});
    const auto scan = [&](bool checkPictures) {
        ReadyWindow window;
        return measure(
            options,
            [&] {
                QFile::remove(work + "/KX-GET-CardDataUpdates.txt");
                window.prepare("http://127.0.0.1:9", data, 0, checkPictures);
            },
            [&] { window.press(); });
    };
    const double checking = scan(true);
    const double plain = scan(false);
    printRow("check-pictures", QString("%1 cards, checking").arg(options.scanCards), checking,
             "the same, not checking", plain, peakMemoryMiB());
    QDir(data).removeRecursively();
}

class SampleServerProcess
{
public:
    SampleServerProcess(int cards, int delayMs)
    {
        const QString program = QCoreApplication::applicationDirPath() + "/kx-sample-server";
        m_process.start(
            program, {"--cards", QString::number(cards), "--delay-ms", QString::number(delayMs)});
        if (!m_process.waitForStarted() || !m_process.waitForReadyRead(10000)) {
            std::cerr << "kx-bench: cannot start " << program.toStdString() << "\n";
            std::exit(1);
        }
        const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
        m_origin = line.section(' ', -1);
    }
    ~SampleServerProcess()
    {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }
    QString origin() const { return m_origin; }

private:
    QProcess m_process;
    QString m_origin;
};

void emptyCardFolders(const QString& data, int cards)
{
    QDir(data).removeRecursively();
    for (int i = 0; i < cards; ++i)
        QDir().mkpath(data + "/" + cardName(i));
}

// The peer a download figure is compared with.
enum class Peer
{
    CurlOneConnection,
    CurlParallel, // curl --parallel --parallel-max 6
    LatencyFloor  // requests x delay / connections: what no client can beat
};

constexpr int kPeerConnections = 6;

QString peerName(Peer peer)
{
    switch (peer) {
    case Peer::CurlOneConnection:
        return "curl, one connection";
    case Peer::CurlParallel:
        return "curl --parallel-max 6";
    case Peer::LatencyFloor:
        break;
    }
    return "latency floor";
}

// Every address a run over the cards fetches, with the card and the name of the file it is
// stored as (the ".inf" answer as ".woxinf"; a peer has no second name for it).
void forEachAddress(
    const QString& origin, int cards,
    const std::function<void(const QString& url, const QString& card, const QString& file)>& fetch)
{
    for (int i = 0; i < cards; ++i) {
        const QString card = cardName(i);
        for (const char* suffix : {"c.jpg", "d.bmp", "e.bmp"})
            fetch(assetUrl(origin, card, suffix), card, card + suffix);
        fetch(assetUrl(origin, card, ".inf"), card, card + ".woxinf");
        fetch(infoUrl(origin, "KEY", "user", card), card, card + ".xml");
        fetch(assetUrl(origin, card, "_full.png"), card, card + "_full.png");
    }
}

// One curl process fetching the same addresses into the same file names.
double curlRun(const QString& origin, const QString& data, int cards, const QString& work,
               bool parallel, const QStringList& more = {})
{
    const QString configPath = work + "/curl.config";
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::exit(1);
    QTextStream out(&config);
    forEachAddress(origin, cards,
                   [&](const QString& url, const QString& card, const QString& file) {
                       out << "url = \"" << url << "\"\noutput = \"" << data << "/" << card << "/"
                           << file << "\"\n";
                   });
    config.close();
    QStringList arguments{"--silent", "--show-error", "--no-progress-meter",
                          "--fail",   "--config",     configPath};
    if (parallel)
        arguments << "--parallel"
                  << "--parallel-max" << QString::number(kPeerConnections);
    arguments << more;
    QElapsedTimer clock;
    clock.start();
    const int status = QProcess::execute("curl", arguments);
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    if (status != 0) {
        std::cerr << "kx-bench: curl failed (" << status << ")\n";
        std::exit(1);
    }
    return seconds;
}

// aria2c fetching the same addresses into the same file names, six at a time.
double aria2Run(const QString& origin, const QString& data, int cards, const QString& work)
{
    const QString listPath = work + "/aria2.list";
    QFile list(listPath);
    if (!list.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::exit(1);
    QTextStream out(&list);
    forEachAddress(
        origin, cards, [&](const QString& url, const QString& card, const QString& file) {
            out << url << "\n  dir=" << data << "/" << card << "\n  out=" << file << "\n";
        });
    list.close();
    QElapsedTimer clock;
    clock.start();
    const int status =
        QProcess::execute("aria2c", {"--quiet", "--input-file", listPath, "-j",
                                     QString::number(kPeerConnections), "--allow-overwrite=true",
                                     "--auto-file-renaming=false", "--file-allocation=none"});
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    if (status != 0) {
        std::cerr << "kx-bench: aria2c failed (" << status << ")\n";
        std::exit(1);
    }
    return seconds;
}

// wget fetching the same addresses one at a time, trying a busy answer again after a pause of
// 1 s, then 2 s (its way with --waitretry), as a careful script would.
double wgetRun(const QString& origin, const QString& data, int cards, const QString& work)
{
    const QString listPath = work + "/wget.list";
    QFile list(listPath);
    if (!list.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::exit(1);
    QTextStream out(&list);
    forEachAddress(origin, cards,
                   [&](const QString& url, const QString&, const QString&) { out << url << "\n"; });
    list.close();
    QElapsedTimer clock;
    clock.start();
    const int status =
        QProcess::execute("wget", {"--quiet", "--input-file", listPath, "--directory-prefix",
                                   data + "/wget", "--force-directories", "--tries", "5",
                                   "--waitretry", "2", "--retry-on-http-error", "429,503"});
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    if (status != 0) {
        std::cerr << "kx-bench: wget failed (" << status << ")\n";
        std::exit(1);
    }
    return seconds;
}

struct Turns
{
    double program = 0; // median seconds
    double peer = 0;    // median seconds
    double peakMiB = 0; // the program's
};

// Every file the run stored is the served one, byte for byte: the site's asset file, its ".inf"
// under both of its names, its card-info answer.
void verifyStored(const QString& data, const QString& www, int cards)
{
    for (int i = 0; i < cards; ++i) {
        const QString card = cardName(i);
        const std::pair<const char*, QString> files[] = {
            {"c.jpg", assetUrl(www, card, "c.jpg")},
            {"d.bmp", assetUrl(www, card, "d.bmp")},
            {"e.bmp", assetUrl(www, card, "e.bmp")},
            {".woxinf", assetUrl(www, card, ".inf")},
            {".woxdld", assetUrl(www, card, ".inf")},
            {".xml", QString("%1/info/%2.xml").arg(www, card)},
            {"_full.png", assetUrl(www, card, "_full.png")}};
        for (const auto& [suffix, served] : files) {
            if (readBytes(QString("%1/%2/%2%3").arg(data, card, suffix)) != readBytes(served)) {
                std::cerr << "kx-bench: " << qPrintable(card + suffix)
                          << " is not the file served\n";
                std::exit(1);
            }
        }
    }
}

// The program's download into empty card folders, then the peer's, taking turns so that both
// see the machine in the same state. Where the served files lie (a real server's site), the
// program's are compared with them.
Turns takeTurns(const Options& options, const QString& origin, const QString& data, int cards,
                int connections, const std::function<double()>& peer,
                const QString& served = QString())
{
    ReadyWindow window;
    std::vector<double> programSeconds;
    std::vector<double> peerSeconds;
    Turns turns;
    for (int run = options.warmUp ? -1 : 0; run < options.runs; ++run) {
        emptyCardFolders(data, cards);
        window.prepare(origin, data, connections);
        resetPeakMemory();
        QElapsedTimer clock;
        clock.start();
        window.press();
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        turns.peakMiB = std::max(turns.peakMiB, peakMemoryMiB());
        if (!served.isEmpty())
            verifyStored(data, served, cards);
        emptyCardFolders(data, cards);
        const double peerRun = peer();
        if (run >= 0) {
            programSeconds.push_back(seconds);
            peerSeconds.push_back(peerRun);
        }
    }
    turns.program = medianOf(programSeconds);
    turns.peer = medianOf(peerSeconds);
    return turns;
}

void benchDownload(const Options& options, const QString& work, const char* figure, int cards,
                   int delayMs, Peer peer, int connections)
{
    SampleServerProcess server(cards, delayMs);
    const QString data = work + "/download";
    const int requests = cards * 6;
    // At its own number of connections, then at the peer's.
    const std::vector<int> counts =
        connections == 0 ? std::vector<int>{0, kPeerConnections} : std::vector<int>{connections};
    for (const int count : counts) {
        const Turns turns = takeTurns(options, server.origin(), data, cards, count, [&] {
            return peer == Peer::LatencyFloor
                       ? requests * delayMs / 1000.0 / kPeerConnections
                       : curlRun(server.origin(), data, cards, work, peer == Peer::CurlParallel);
        });
        printRow(
            figure,
            QString("%1 cards%2, %3")
                .arg(cards)
                .arg(delayMs ? QString(", %1 ms").arg(delayMs) : QString())
                .arg(count == connections ? QString("program") : QString("%1 conn.").arg(count)),
            turns.program, peerName(peer), turns.peer, turns.peakMiB);
    }
    QDir(data).removeRecursively();
}

// The card-info service's answers as static files of nginx's site, by the card asked for.
const QString kNginxInfoLocation =
    "location = /bof/bof.php { try_files /info/$arg_cardids.xml =404; }";

// Debian's nginx serving the cards' site within the given limits; none, with the figure's line
// saying why, where nginx is not installed.
std::unique_ptr<Nginx> nginxCardSite(const char* figure, const QString& httpDirectives,
                                     const QString& limits, int cards)
{
    auto nginx = std::make_unique<Nginx>(httpDirectives, limits + "\n" + kNginxInfoLocation);
    if (nginx->port() == 0) {
        std::printf("%-17s skipped: nginx is not installed (Debian's nginx-light)\n", figure);
        return nullptr;
    }
    writeCardSite(nginx->www(), cards);
    return nginx;
}

// A real server that limits one client as shared hosts do: Debian's nginx allowing 6 connections
// at once (503 beyond them), each at 16 KB/s. The program at its own 12 + 2 connections, and
// at the server's 6, against curl at the server's 6 and trying busy answers again as the program
// does (`--retry`, which honours Retry-After).
void benchLimited(const Options& options, const QString& work)
{
    const int cards = options.limitedCards;
    const auto nginx =
        nginxCardSite("limited", "limit_conn_zone $binary_remote_addr zone=c:1m;",
                      "limit_conn c 6; limit_conn_status 503; limit_rate 16k;", cards);
    if (!nginx)
        return;
    const QString data = work + "/limited";
    for (const int connections : {0, kPeerConnections}) {
        const Turns turns = takeTurns(
            options, nginx->origin(), data, cards, connections,
            [&] {
                return curlRun(nginx->origin(), data, cards, work, true, {"--retry", "5"});
            },
            nginx->www());
        printRow(
            "limited",
            QString("%1 cards, 6 allowed, %2").arg(cards).arg(connections ? "6 conn." : "program"),
            turns.program, "curl -Z 6 --retry 5", turns.peer, turns.peakMiB);
    }
    if (!QStandardPaths::findExecutable("aria2c").isEmpty()) {
        const Turns aria2 = takeTurns(
            options, nginx->origin(), data, cards, 0,
            [&] { return aria2Run(nginx->origin(), data, cards, work); }, nginx->www());
        printRow("limited", QString("%1 cards, 6 allowed, program").arg(cards), aria2.program,
                 "aria2c -j6", aria2.peer, aria2.peakMiB);
    }
    QDir(data).removeRecursively();
}

// A server that limits the requests a second, as nginx's limit_req does: 5 a second with a
// burst of 5, busy answers beyond. The program at its own 12 + 2 connections against wget one
// request at a time, which a rate limit favours.
void benchRate(const Options& options, const QString& work)
{
    if (QStandardPaths::findExecutable("wget").isEmpty()) {
        std::printf("rate              skipped: wget is not installed\n");
        return;
    }
    const int cards = options.rateCards;
    const auto nginx =
        nginxCardSite("rate", "limit_req_zone $binary_remote_addr zone=r:1m rate=5r/s;",
                      "limit_req zone=r burst=5 nodelay; limit_req_status 503;", cards);
    if (!nginx)
        return;
    const QString data = work + "/rate";
    for (const int connections : {0, 1}) {
        const Turns turns = takeTurns(
            options, nginx->origin(), data, cards, connections,
            [&] { return wgetRun(nginx->origin(), data, cards, work); }, nginx->www());
        printRow(
            "rate",
            QString("%1 cards, 5 a second, %2").arg(cards).arg(connections ? "1 conn." : "program"),
            turns.program, "wget, one at a time", turns.peer, turns.peakMiB);
    }
    QDir(data).removeRecursively();
}

// A server with few workers, as a small Apache is set up: 4 prefork workers, each holding its
// kept-alive connection 5 s, so that a connection beyond them waits in its queue. The program at
// its own 12 + 2 connections against curl at 6, each on its own.
void benchWorkers(const Options& options, const QString& work)
{
    Apache apache({"rewrite"},
                  "StartServers 4\nMinSpareServers 4\nMaxSpareServers 4\nServerLimit 4\n"
                  "MaxRequestWorkers 4\nKeepAlive On\nKeepAliveTimeout 5\n"
                  "RewriteEngine On\nRewriteCond %{QUERY_STRING} cardids=([a-z][0-9]{4})\n"
                  "RewriteRule ^/bof/bof.php$ /info/%1.xml [L]\n");
    if (apache.port() == 0) {
        std::printf("workers           skipped: %s\n",
                    Apache::installed() ? "Apache did not start"
                                        : "Apache is not installed (Debian's apache2)");
        return;
    }
    const int cards = options.limitedCards;
    writeCardSite(apache.www(), cards);
    const QString data = work + "/workers";
    for (const int connections : {0, kPeerConnections}) {
        const Turns turns = takeTurns(
            options, apache.origin(), data, cards, connections,
            [&] { return curlRun(apache.origin(), data, cards, work, true); }, apache.www());
        printRow(
            "workers",
            QString("%1 cards, 4 workers, %2").arg(cards).arg(connections ? "6 conn." : "program"),
            turns.program, "curl --parallel-max 6", turns.peer, turns.peakMiB);
    }
    if (!QStandardPaths::findExecutable("aria2c").isEmpty()) {
        const Turns aria2 = takeTurns(
            options, apache.origin(), data, cards, 0,
            [&] { return aria2Run(apache.origin(), data, cards, work); }, apache.www());
        printRow("workers", QString("%1 cards, 4 workers, program").arg(cards), aria2.program,
                 "aria2c -j6", aria2.peer, aria2.peakMiB);
    }
    QDir(data).removeRecursively();
}

// A whole PNG of noise, which no compression shrinks, just under the bytes given.
QByteArray noisePicture(qint64 bytes)
{
    const int side = int(std::sqrt(double(bytes) / 3)) - 8;
    QImage image(side, side, QImage::Format_RGB888);
    QRandomGenerator noise(7);
    for (int row = 0; row < side; ++row)
        noise.fillRange(reinterpret_cast<quint32*>(image.scanLine(row)),
                        image.bytesPerLine() / int(sizeof(quint32)));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG", 0);
    return png;
}

// Pictures of 8 MB from Debian's nginx at 1 to 64 connections: the program's peak memory, which
// the bodies in flight and those held share, against curl at as many connections.
void benchMemory(const Options& options, const QString& work)
{
    const int cards = options.memoryCards;
    const auto nginx = nginxCardSite("memory", "", "", cards);
    if (!nginx)
        return;
    const QByteArray picture = noisePicture(8000000);
    for (int card = 0; card < cards; ++card)
        writeBytes(assetUrl(nginx->www(), cardName(card), "_full.png"), picture);
    const QString data = work + "/memory";
    for (const int connections : {1, 6, 12, 32, 64}) {
        const Turns turns = takeTurns(
            options, nginx->origin(), data, cards, connections,
            [&] {
                return curlRun(nginx->origin(), data, cards, work, true,
                               {"--parallel-max", QString::number(connections)});
            },
            nginx->www());
        printRow("memory", QString("%1 cards of 8 MB, %2 conn.").arg(cards).arg(connections),
                 turns.program, QString("curl -Z %1").arg(connections), turns.peer, turns.peakMiB);
    }
    QDir(data).removeRecursively();
}

// Bytes the namespace's loopback has sent, as its queueing discipline counts them.
qint64 lineBytesSent()
{
    QProcess tc;
    tc.start("tc", {"-s", "qdisc", "show", "dev", "lo"});
    tc.waitForFinished();
    const QString shown = QString::fromUtf8(tc.readAllStandardOutput());
    const QRegularExpressionMatch sent = QRegularExpression("Sent (\\d+) bytes").match(shown);
    return sent.hasMatch() ? sent.captured(1).toLongLong() : -1;
}

// Inside a network namespace of its own: its loopback is the line, shaped by a token bucket
// to the rate (a line of 1500-byte packets), and the server holds every answer back. The floor
// is the bytes the program sent through the line at the line's rate; curl and aria2c, as
// peers, fetch the same files on the same line, each against the bytes it sent.
int benchLineInside(const Options& options, const QString& work)
{
    const QString rate = QString("%1mbit").arg(options.lineMbit);
    if (QProcess::execute("ip", {"link", "set", "lo", "up", "mtu", "1500"}) != 0 ||
        QProcess::execute("tc", {"qdisc", "add", "dev", "lo", "root", "tbf", "rate", rate, "burst",
                                 "32kbit", "latency", "400ms"}) != 0 ||
        lineBytesSent() < 0) {
        std::printf("line              skipped: the line could not be shaped (ip, tc)\n");
        return 0;
    }
    const int cards = options.lineCards;
    SampleServerProcess server(cards, options.lineMs);
    const QString data = work + "/line";
    const auto floorOf = [&](qint64 bytes) {
        return double(bytes) * 8 / (options.lineMbit * 1e6);
    };
    const QString what =
        QString("%1 cards, %2 Mbit/s, %3 ms").arg(cards).arg(options.lineMbit).arg(options.lineMs);
    ReadyWindow window;
    double peak = 0;
    // Each client on the same line, each against the bytes it sent: the program at its own
    // number of connections and at the peers', then the peers.
    struct Client
    {
        QString name;
        std::function<double()> run;
        std::vector<double> seconds;
        std::vector<double> floor;
    };
    std::vector<Client> clients;
    for (const int connections : {0, kPeerConnections}) {
        clients.push_back({connections ? QString("program %1 conn.").arg(connections) : "program",
                           [&, connections] {
                               window.prepare(server.origin(), data, connections);
                               resetPeakMemory();
                               QElapsedTimer clock;
                               clock.start();
                               window.press();
                               peak = std::max(peak, peakMemoryMiB());
                               return double(clock.nsecsElapsed()) / 1e9;
                           },
                           {},
                           {}});
    }
    clients.push_back(
        {"curl -Z 6", [&] { return curlRun(server.origin(), data, cards, work, true); }, {}, {}});
    if (!QStandardPaths::findExecutable("aria2c").isEmpty())
        clients.push_back(
            {"aria2c -j6", [&] { return aria2Run(server.origin(), data, cards, work); }, {}, {}});
    for (int run = options.warmUp ? -1 : 0; run < options.runs; ++run) {
        for (Client& client : clients) {
            emptyCardFolders(data, cards);
            const qint64 before = lineBytesSent();
            const double seconds = client.run();
            const double floor = floorOf(lineBytesSent() - before);
            if (run >= 0) {
                client.seconds.push_back(seconds);
                client.floor.push_back(floor);
            }
        }
    }
    for (const Client& client : clients)
        printRow("line", what + ", " + client.name, medianOf(client.seconds),
                 "its bytes at the line's rate", medianOf(client.floor), peak);
    QDir(data).removeRecursively();
    return 0;
}

// Runs the figure again in a process with namespaces of its own (`unshare`), which only root
// may make; that process prints the figure's rows.
void benchInside(const Options& options, const char* figure, const char* needs,
                 const QString& namespaces)
{
    if (::geteuid() != 0 || QStandardPaths::findExecutable("unshare").isEmpty()) {
        std::printf("%-17s skipped: %s, which only root may make (and unshare)\n", figure, needs);
        std::fflush(stdout);
        return;
    }
    std::fflush(stdout);
    QProcess inside;
    inside.setProcessChannelMode(QProcess::ForwardedChannels);
    inside.start("unshare", QStringList{namespaces, "--", QCoreApplication::applicationFilePath(),
                                        "--inside", figure} +
                                options.arguments);
    if (!inside.waitForFinished(-1) || inside.exitCode() != 0)
        std::printf("%-17s skipped: the namespace could not be made\n", figure);
}

// Runs a helper program, quietly; whether it succeeded.
bool runQuietly(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// TCP connections in nginx's log of connection numbers, which it then forgets.
int connectionsLogged(const QString& log)
{
    QSet<QByteArray> connections;
    for (const QByteArray& line : readBytes(log).split('\n')) {
        if (!line.isEmpty())
            connections.insert(line);
    }
    QFile(log).resize(0);
    return int(connections.size());
}

// Inside a mount namespace of its own, where a test certificate is trusted (bound over the
// system's CA bundle, which the program trusts): Debian's nginx speaking HTTP/2 over TLS, its
// plain address moving every request there (301). The program, asked at the plain address,
// against curl following the move at 12 at once; the TCP connections each opened, from nginx.
int benchMovedInside(const Options& options, const QString& work)
{
    const QString systemBundle = "/etc/ssl/certs/ca-certificates.crt";
    const QString key = work + "/key.pem";
    const QString certificate = work + "/certificate.pem";
    const QString bundle = work + "/bundle.pem";
    if (!runQuietly("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                                "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                                "-keyout", key, "-out", certificate})) {
        std::printf("moved             skipped: no test certificate (openssl)\n");
        return 0;
    }
    writeBytes(bundle, readBytes(systemBundle) + readBytes(certificate));
    if (!runQuietly("mount", {"--bind", bundle, systemBundle})) {
        std::printf("moved             skipped: the test certificate could not be trusted\n");
        return 0;
    }
    const int cards = options.movedCards;
    const QString www = work + "/moved-www";
    writeCardSite(www, cards);
    const quint16 tlsPort = unusedLocalPort();
    const QString log = work + "/connections.log";
    Nginx nginx(QString("log_format connection '$connection';\n"
                        "server { listen 127.0.0.1:%1 ssl http2; ssl_certificate %2;\n"
                        "  ssl_certificate_key %3; root %4; access_log %5 connection;\n"
                        "  %6 }")
                    .arg(tlsPort)
                    .arg(certificate, key, www, log, kNginxInfoLocation),
                QString("access_log %1 connection; return 301 https://127.0.0.1:%2$request_uri;")
                    .arg(log)
                    .arg(tlsPort));
    if (nginx.port() == 0 || !listensSoon(tlsPort)) {
        std::printf("moved             skipped: nginx is not installed (Debian's nginx-light)\n");
        return 0;
    }
    const QString data = work + "/moved";
    ReadyWindow window;
    std::vector<double> program, curl;
    int programConnections = 0;
    int curlConnections = 0;
    double peak = 0;
    for (int run = options.warmUp ? -1 : 0; run < options.runs; ++run) {
        emptyCardFolders(data, cards);
        window.prepare(nginx.origin(), data);
        resetPeakMemory();
        connectionsLogged(log);
        QElapsedTimer clock;
        clock.start();
        window.press();
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        programConnections = std::max(programConnections, connectionsLogged(log));
        verifyStored(data, www, cards);
        peak = std::max(peak, peakMemoryMiB());
        emptyCardFolders(data, cards);
        const double curlSeconds = curlRun(nginx.origin(), data, cards, work, true,
                                           {"--location", "--parallel-max", "12"});
        curlConnections = std::max(curlConnections, connectionsLogged(log));
        if (run >= 0) {
            program.push_back(seconds);
            curl.push_back(curlSeconds);
        }
    }
    printRow("moved",
             QString("%1 cards, HTTP/2 behind 301, %2 conn.").arg(cards).arg(programConnections),
             medianOf(program), QString("curl -Z 12 -L, %1 conn.").arg(curlConnections),
             medianOf(curl), peak);
    QDir(data).removeRecursively();
    return 0;
}

int usage()
{
    std::cerr << "usage: kx-bench [--quick] [--runs N] [--scan-cards N] [--download-cards N]\n"
                 "                [--latency-cards N] [--latency-ms N] [--remote-cards N]\n"
                 "                [--remote-ms N] [--line-cards N] [--line-ms N] [--line-mbit N]\n"
                 "                [--limited-cards N] [--memory-cards N] [--rate-cards N]\n"
                 "                [--moved-cards N] [--only FIGURE]...\n"
                 "figures: scan check-pictures download download-latency download-remote\n"
                 "         sequential line moved limited rate workers memory\n"
                 "         user-reg picture-check\n";
    return 2;
}

// What judging each fetched picture whole costs, against the least any store does with its
// bytes: one copy of them.
void benchPictureCheck(const Options& options)
{
    std::vector<QByteArray> pictures;
    for (int card = 0; card < options.downloadCards; ++card) {
        for (const char* suffix : {"c.jpg", "d.bmp", "e.bmp", "_full.png"})
            pictures.push_back(QByteArray::fromStdString(
                sample::assetBody(sample::cardName(std::size_t(card)), suffix)));
    }
    qint64 bytes = 0;
    for (const QByteArray& picture : pictures)
        bytes += picture.size();
    const double mebibytes = double(bytes) / (1 << 20);
    std::size_t faults = 0;
    const double checking = measure(
        options, [] {},
        [&] {
            for (const QByteArray& picture : pictures)
                faults += !wholePictureFault(picture).isEmpty();
        });
    qint64 copied = 0;
    const double copying = measure(
        options, [] {},
        [&] {
            for (const QByteArray& picture : pictures) {
                QByteArray copy(picture.constData(), picture.size());
                copied += copy.size();
            }
        });
    if (faults != 0 || copied == 0) {
        std::cerr << "kx-bench: a served picture was judged not whole\n";
        std::exit(1);
    }
    // Per 100 MiB of pictures: the walk's time grows with the bytes.
    printRow("picture-check", "check 100 MiB of pictures", 100 * checking / mebibytes,
             "copy 100 MiB once", 100 * copying / mebibytes, peakMemoryMiB());
}

// A Wine prefix's user.reg as Wine writes it: keys of about 30 string values, the card
// application's key among them at the middle; or, for the worst file that is read, nothing but
// short values of that key up to the size the program reads at most.
void writeUserReg(const QString& path, qint64 lines, bool worst)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::exit(1);
    const QByteArray dlm = "[Software\\\\Kelvo\\\\zumi\\\\DLM] 1700000000\n#time=1d9a1b2c3d4e5f6\n"
                           "\"key\"=\"K3Y-0001\"\n\"username\"=\"jdoe\"\n";
    QByteArray text = "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0\n\n"
                      "#arch=win64\n\n";
    if (worst) {
        text += dlm;
        const QByteArray line = "\"k\"=\"v\"\n";
        while (text.size() + line.size() <= lines)
            text += line;
    } else {
        for (qint64 line = 0; line < lines;) {
            if (line >= lines / 2 && line - 30 < lines / 2)
                text += dlm;
            text += QStringLiteral("\n[Software\\\\Wine\\\\Key%1] 1700000000\n#time=1d9\n")
                        .arg(line)
                        .toLatin1();
            for (int value = 0; value < 28; ++value, ++line)
                text += QStringLiteral("\"Value%1\"=\"some text of a setting %2\"\n")
                            .arg(value)
                            .arg(line)
                            .toLatin1();
        }
    }
    file.write(text);
}

// What reading the card application's values costs the start: the window made with a Wine
// prefix's user.reg, against the window made without one.
void benchUserReg(const Options& options, const QString& work)
{
    const QString none = work + "/no-prefix";
    const auto start = [&](const QString& prefix) {
        qputenv("WINEPREFIX", prefix.toLocal8Bit());
        return measure(
            options, [] {}, [] { WindowDriver driver; });
    };
    const double without = start(none);
    const struct
    {
        const char* what;
        qint64 size; // lines, or bytes for the worst cases
        bool worst;
    } cases[] = {{"60,000 lines", 60000, false},
                 {"64 MiB worst", qint64(64) << 20, true},
                 {"255 MiB", qint64(255) << 20, true}};
    for (const auto& userReg : cases) {
        const QString prefix = work + "/prefix";
        writeUserReg(prefix + "/user.reg", userReg.size, userReg.worst);
        const double with = start(prefix);
        printRow("user-reg", QString("start, %1").arg(userReg.what), with,
                 "start without a user.reg", without, peakMemoryMiB());
        QDir(prefix).removeRecursively();
    }
    qunsetenv("WINEPREFIX");
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    Options options;
    QStringList arguments = application.arguments().mid(1);
    if (arguments.size() >= 2 && arguments.first() == "--inside") { // a figure's own process
        options.inside = arguments.at(1);
        arguments = arguments.mid(2);
    }
    options.arguments = arguments;
    while (!arguments.isEmpty()) {
        const QString option = arguments.takeFirst();
        if (option == "--no-warm-up") {
            options.warmUp = false;
            continue;
        }
        if (option == "--quick") {
            options.scanCards = 400;
            options.downloadCards = 40;
            options.latencyCards = 10;
            options.remoteCards = 10;
            options.lineCards = 10;
            options.limitedCards = 6;
            options.memoryCards = 4;
            options.rateCards = 6;
            options.movedCards = 10;
            options.runs = 1;
            options.warmUp = false;
            continue;
        }
        if (arguments.isEmpty())
            return usage();
        const QString value = arguments.takeFirst();
        bool ok = true;
        const std::pair<const char*, int*> counts[] = {{"--runs", &options.runs},
                                                       {"--scan-cards", &options.scanCards},
                                                       {"--download-cards", &options.downloadCards},
                                                       {"--latency-cards", &options.latencyCards},
                                                       {"--latency-ms", &options.latencyMs},
                                                       {"--remote-cards", &options.remoteCards},
                                                       {"--remote-ms", &options.remoteMs},
                                                       {"--line-cards", &options.lineCards},
                                                       {"--line-ms", &options.lineMs},
                                                       {"--line-mbit", &options.lineMbit},
                                                       {"--limited-cards", &options.limitedCards},
                                                       {"--memory-cards", &options.memoryCards},
                                                       {"--rate-cards", &options.rateCards},
                                                       {"--moved-cards", &options.movedCards}};
        const auto count = std::find_if(std::begin(counts), std::end(counts),
                                        [&](const auto& named) { return option == named.first; });
        if (count != std::end(counts))
            *count->second = value.toInt(&ok);
        else if (option == "--only")
            options.only << value;
        else
            return usage();
        if (!ok || options.runs < 1)
            return usage();
    }

    QTemporaryDir work;
    if (!work.isValid() || !QDir::setCurrent(work.path()))
        return 1;
    if (options.inside == "line")
        return benchLineInside(options, work.path());
    if (options.inside == "moved")
        return benchMovedInside(options, work.path());
    std::printf("median of %d run(s)%s\n", options.runs, options.warmUp ? " after a warm-up" : "");
    const auto wanted = [&](const char* figure) {
        return options.only.isEmpty() || options.only.contains(figure);
    };
    if (wanted("scan"))
        benchScan(options, work.path());
    if (wanted("check-pictures"))
        benchCheckPictures(options, work.path());
    if (wanted("download"))
        benchDownload(options, work.path(), "download", options.downloadCards, 0,
                      Peer::CurlParallel, 0);
    if (wanted("download-latency"))
        benchDownload(options, work.path(), "download-latency", options.latencyCards,
                      options.latencyMs, Peer::CurlParallel, 0);
    if (wanted("download-remote"))
        benchDownload(options, work.path(), "download-remote", options.remoteCards,
                      options.remoteMs, Peer::LatencyFloor, 0);
    if (wanted("sequential"))
        benchDownload(options, work.path(), "sequential", options.latencyCards, options.latencyMs,
                      Peer::CurlOneConnection, 1);
    if (wanted("line"))
        benchInside(options, "line", "a shaped line needs a network namespace", "--net");
    if (wanted("moved"))
        benchInside(options, "moved", "trusting a test certificate needs a mount namespace",
                    "--mount");
    if (wanted("limited"))
        benchLimited(options, work.path());
    if (wanted("rate"))
        benchRate(options, work.path());
    if (wanted("workers"))
        benchWorkers(options, work.path());
    if (wanted("memory"))
        benchMemory(options, work.path());
    if (wanted("user-reg"))
        benchUserReg(options, work.path());
    // Last: it holds every picture at once, which would show in the others' peak memory.
    if (wanted("picture-check"))
        benchPictureCheck(options);
    return 0;
}
