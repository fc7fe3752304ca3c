// Measures a full run of the real window against its baselines on the same machine and data:
// the scan of a complete collection against a plain loop doing the same file work, and the
// downloads against curl fetching the same addresses over one kept-alive connection.
#include "SampleCollection.h"
#include "WindowDriver.h"
#include "platform/Files.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Options
{
    int scanCards = 10000;
    int downloadCards = 1000;
    int latencyCards = 200;
    int latencyMs = 10;
    int runs = 5;
    bool warmUp = true;
    QStringList only;
};

const QStringList kBoxes{"cbCI", "cbTI", "cbINF", "cbCX", "cbCP"};
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
    void prepare(const QString& origin, const QString& dataFolder)
    {
        m_driver = std::make_unique<WindowDriver>(origin);
        m_driver->type("tDATA", dataFolder);
        m_driver->tickOnly(kBoxes);
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
              double baselineSeconds, const QString& extra = {})
{
    std::printf("%-17s %-28s %8.3f s   %-24s %8.3f s   ratio %5.2f%s\n", figure, qPrintable(what),
                seconds, qPrintable(baseline), baselineSeconds, seconds / baselineSeconds,
                qPrintable(extra));
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

// The least a scan must do: list the folders, measure five files a card and write the lines.
void scanFloor(const QString& dataPath, const QString& logPath)
{
    QFile log(logPath);
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append))
        std::exit(1);
    QTextStream out(&log);
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
            out << card << "\r\n";
            for (const char* suffix : kProbed) {
                const QString path = dataPath + card + "\\" + card + suffix;
                out << path << " size " << QFileInfo(nativePath(path)).size() << "\r\n";
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
    const double program = measure(
        options,
        [&] {
            clearLog();
            window.prepare("http://127.0.0.1:9", data);
        },
        [&] { window.press(); });
    const double floor = measure(options, clearLog, [&] { scanFloor(data + "\\", logPath); });
    printRow("scan", QString("%1 cards, program").arg(options.scanCards), program, "plain loop",
             floor);
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

// One curl process fetching the same addresses, one after another, into the same file names.
double curlRun(const QString& origin, const QString& data, int cards, const QString& work)
{
    const QString configPath = work + "/curl.config";
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::exit(1);
    QTextStream out(&config);
    for (int i = 0; i < cards; ++i) {
        const QString card = cardName(i);
        const auto fetch = [&](const QString& url, const QString& suffix) {
            out << "url = \"" << url << "\"\noutput = \"" << data << "/" << card << "/" << card
                << suffix << "\"\n";
        };
        const QString assets = origin + "/free/sets/" + card + "/illustrations/" + card;
        fetch(assets + "c.jpg", "c.jpg");
        fetch(assets + "d.bmp", "d.bmp");
        fetch(assets + "e.bmp", "e.bmp");
        fetch(assets + ".inf", ".woxinf");
        fetch(origin + "/bof/bof.php?cmd=cardinfo&zumikey=KEY&zumiusername=user&cardids=" + card +
                  "&xmlonly=1",
              ".xml");
        fetch(assets + "_full.png", "_full.png");
    }
    config.close();
    QElapsedTimer clock;
    clock.start();
    const int status =
        QProcess::execute("curl", {"--silent", "--show-error", "--fail", "--config", configPath});
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    if (status != 0) {
        std::cerr << "kx-bench: curl failed (" << status << ")\n";
        std::exit(1);
    }
    return seconds;
}

void benchDownload(const Options& options, const QString& work, const char* figure, int cards,
                   int delayMs)
{
    SampleServerProcess server(cards, delayMs);
    const QString data = work + "/download";
    ReadyWindow window;
    std::vector<double> programSeconds;
    std::vector<double> curlSeconds;
    double peak = 0;
    // Program and curl take turns, so that both see the machine in the same state.
    for (int run = options.warmUp ? -1 : 0; run < options.runs; ++run) {
        emptyCardFolders(data, cards);
        window.prepare(server.origin(), data);
        resetPeakMemory();
        QElapsedTimer clock;
        clock.start();
        window.press();
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        peak = std::max(peak, peakMemoryMiB());
        emptyCardFolders(data, cards);
        const double curl = curlRun(server.origin(), data, cards, work);
        if (run >= 0) {
            programSeconds.push_back(seconds);
            curlSeconds.push_back(curl);
        }
    }
    const double program = medianOf(programSeconds);
    const int requests = cards * 6;
    printRow(figure, QString("%1 cards, program").arg(cards), program, "curl, one connection",
             medianOf(curlSeconds),
             QString("   %1 requests/s, peak memory %2 MiB")
                 .arg(requests / program, 0, 'f', 0)
                 .arg(peak, 0, 'f', 1));
    QDir(data).removeRecursively();
}

int usage()
{
    std::cerr << "usage: kx-bench [--quick] [--runs N] [--scan-cards N] [--download-cards N]\n"
                 "                [--latency-cards N] [--latency-ms N] [--only "
                 "scan|download|download-latency]\n";
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    Options options;
    QStringList arguments = application.arguments().mid(1);
    while (!arguments.isEmpty()) {
        const QString option = arguments.takeFirst();
        if (option == "--quick") {
            options.scanCards = 400;
            options.downloadCards = 40;
            options.latencyCards = 10;
            options.runs = 1;
            options.warmUp = false;
            continue;
        }
        if (arguments.isEmpty())
            return usage();
        const QString value = arguments.takeFirst();
        bool ok = true;
        if (option == "--runs")
            options.runs = value.toInt(&ok);
        else if (option == "--scan-cards")
            options.scanCards = value.toInt(&ok);
        else if (option == "--download-cards")
            options.downloadCards = value.toInt(&ok);
        else if (option == "--latency-cards")
            options.latencyCards = value.toInt(&ok);
        else if (option == "--latency-ms")
            options.latencyMs = value.toInt(&ok);
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
    std::printf("median of %d run(s)%s\n", options.runs, options.warmUp ? " after a warm-up" : "");
    const auto wanted = [&](const char* figure) {
        return options.only.isEmpty() || options.only.contains(figure);
    };
    if (wanted("scan"))
        benchScan(options, work.path());
    if (wanted("download"))
        benchDownload(options, work.path(), "download", options.downloadCards, 0);
    if (wanted("download-latency"))
        benchDownload(options, work.path(), "download-latency", options.latencyCards,
                      options.latencyMs);
    return 0;
}
