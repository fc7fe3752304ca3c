#include "SampleCardServer.h"
#include "SampleCollection.h"
#include "TestSupport.h"
#include "WindowDriver.h"
#include "app/UnattendedRun.h"
#include "http/Fetcher.h"
#include "log/RunLog.h"
#include "platform/Files.h"

#include <QDir>
#include <QProgressBar>
#include <QSysInfo>
#include <QtTest>

using Answer = SampleCardServer::Answer;

// Every stamp of runs whose logs are compared byte for byte.
const QDateTime kStamp(QDate(2026, 12, 8), QTime(2, 0));

class tst_UpdateRun : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void walkVisitsCardFoldersFromAToDOnly();
    void runStopsBeforeWritingAnywhereElse_data();
    void runStopsBeforeWritingAnywhereElse();
    void closingStopsAtOnce_data();
    void closingStopsAtOnce();
    void fetchingAheadChangesNothingButTheTime();
    void aSeriesOfPassedOverFilesStopsOnlyABrokenServer_data();
    void aSeriesOfPassedOverFilesStopsOnlyABrokenServer();
    void aLockNoRunningCopyHoldsIsTakenOver();
    void unattendedRunIsTheWindowsRun_data();
    void unattendedRunIsTheWindowsRun();
    void unattendedRunTellsHowItWent_data();
    void unattendedRunTellsHowItWent();

private:
    QString data() const { return m_work->file("Data"); }
    // The sample collection afresh, and no run log yet.
    void freshCollection(const sample::CollectionLayout& layout) const
    {
        QDir(data()).removeRecursively();
        QDir().mkpath(data());
        sample::writeCollection(data().toStdString(), layout);
        QFile::remove("KX-GET-CardDataUpdates.txt");
    }
    // The saved info of the working folder, its first lines only where asked.
    void saveInfo(int lines = 7, const QString& typo = {}) const
    {
        const QStringList all{"# KX Card Update Saved Info",
                              "# UserName",
                              "USERNAME",
                              "# Key Code",
                              "KEYCODEPLACEHOLDER",
                              "# Path to Data Folder",
                              data() + typo};
        writeBytes("KXSavedInfo.txt", textFileBytes(all.mid(0, lines)));
    }
    // A run without a window: its exit status, and all it printed, what on standard error too.
    int runUnattended(const QStringList& arguments, QString& printed,
                      QString* errors = nullptr) const
    {
        const auto print = [&](const QString& text) {
            printed += text;
        };
        const auto error = [&](const QString& text) {
            printed += text;
            if (errors)
                *errors += text;
        };
        const QString origin = QString::fromStdString(m_server->origin());
        return ::runUnattended(readCommandLine(arguments), {origin, origin}, {print, error, false});
    }
    void startDriver(int connections = 0)
    {
        m_driver = std::make_unique<WindowDriver>(QString::fromStdString(m_server->origin()));
        if (connections > 0)
            m_driver->window().setConnections(connections);
    }

    std::unique_ptr<WorkFolder> m_work;
    std::unique_ptr<SampleCardServer> m_server;
    std::unique_ptr<WindowDriver> m_driver;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
    EveryPumpPasses m_everyPump;
};

void tst_UpdateRun::aLockNoRunningCopyHoldsIsTakenOver()
{
    // Left by a copy on another computer that went off years ago, with its part file.
    const QString lock = data() + "/.kx-update.lock";
    writeBytes(lock, "4242\nkx-card-updater\nother-pc\n01-01-2020 10:00:00\n");
    writeBytes(data() + "/a0001/.a0001c.jpg.4242.kx-part", "half a picture");
    m_driver->prepare(data(), {"cbCI"});
    m_driver->runOneCard("a0001");
    QCOMPARE(m_driver->text("Text2"), QString("DONE !"));
    QCOMPARE(filesBelow(data()), QStringList{"a0001/a0001c.jpg"});

    // Where no lock can be held (a data folder this user may not add to), another copy may be
    // storing files: a visit removes only the part files no copy can still be writing.
    writeBytes(data() + "/a0001/.a0001c.jpg.4242.kx-part", "killed long ago");
    writeBytes(data() + "/a0001/.a0001d.bmp.4343.kx-part", "being written");
    QFile abandoned(data() + "/a0001/.a0001c.jpg.4242.kx-part");
    QVERIFY(abandoned.open(QIODevice::ReadWrite) &&
            abandoned.setFileTime(QDateTime::currentDateTime().addSecs(-kAbandonedPartSeconds - 60),
                                  QFileDevice::FileModificationTime));
    abandoned.close();
    QFile::remove(lock);
    QFile::setPermissions(data(), QFile::ReadOwner | QFile::ExeOwner);
    if (QFile probe(data() + "/probe"); probe.open(QIODevice::WriteOnly)) {
        probe.remove();
        QSKIP("this user may add to every folder");
    }
    m_driver->pressReset();
    m_driver->runOneCard("a0001");
    QFile::setPermissions(data(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(m_driver->text("Text2"), QString("DONE !"));
    QCOMPARE(filesBelow(data()),
             QStringList({"a0001/.a0001d.bmp.4343.kx-part", "a0001/a0001c.jpg"}));
}

void tst_UpdateRun::init()
{
    m_work = std::make_unique<WorkFolder>();
    m_server = std::make_unique<SampleCardServer>();
    m_boxes = std::make_unique<MessageBoxRecorder>();
    QDir().mkpath(data());
    startDriver();
}

void tst_UpdateRun::cleanup()
{
    m_driver.reset();
    m_boxes.reset();
    m_server.reset();
    m_work.reset();
}

void tst_UpdateRun::walkVisitsCardFoldersFromAToDOnly()
{
    for (const char* folder : {"d0001", "B0002", "a0002", "e0001", "a000", "A0001", "c0001"})
        QDir().mkpath(data() + "/" + folder);
    writeBytes(data() + "/b0001", "a file named like a card");
    // Entries that are not card folders are passed over and never stop the walk.
    QFile::link(data() + "/nowhere", data() + "/b0003");
    QDir().mkpath(data() + "/a\\001");
    QDir().mkpath(data() + "/a\r001");
    // Names Windows reads as a device or as another file.
    for (const char* odd : {"aux.1", "a000.", "b000 ", "c:001", "d|001"})
        QDir().mkpath(data() + "/" + odd);

    m_driver->prepare(data(), {"cbCX"});
    m_driver->runUpdate();
    QCOMPARE(m_driver->text("Text2"), QString("DONE !"));
    const QStringList cards = logLines().filter(QRegularExpression("^.{5}$"));
    QCOMPARE(cards, QStringList({"A0001", "a0002", "B0002", "c0001", "d0001"}));
    QCOMPARE(m_server->requests().size(), std::size_t(5));
    QCOMPARE(m_driver->control<QProgressBar>("ProgressBar1")->text(), QString("5 of 5 cards"));

    m_driver->pressReset();
    QCOMPARE(m_driver->control<QProgressBar>("ProgressBar1")->value(), -1);

    // A mistyped data folder: the run is as ever, and the bar says where it looked.
    m_driver->prepare(data() + "-typo", {"cbCX"});
    m_driver->runUpdate();
    QCOMPARE(m_driver->text("Text2"), QString("DONE !"));
    QCOMPARE(m_driver->control<QProgressBar>("ProgressBar1")->text(),
             "No card folder (a0001 ...) was found in " + nativePath(data() + "-typo\\"));

    QDir(data() + "-typo").removeRecursively();
}

void tst_UpdateRun::runStopsBeforeWritingAnywhereElse_data()
{
    QTest::addColumn<QString>("card"); // one-card mode; empty: all cards
    QTest::addColumn<QString>("reason");
    for (const char* name : {"..", "..\\..", ".", "a/b", "x\\a0001", "nul.txt", "COM1", "a0001.",
                             "a0001:x", "a<01>", "a|b", "a0?01"})
        QTest::addRow("%s", name) << name << QString("%1 is not a card folder name").arg(name);
    QTest::newRow("spaces only")
        << "   "
        << "no card is named: type the name of a card folder, such as a0001";
    QTest::newRow("locked")
        << ""
        << "another update of this data folder is running, on HOST since 06-01-2024 21:05:09: "
           "wait for it to end (a copy that was stopped, or whose computer went off, lets go "
           "within minutes; if it does not, remove DATASEP.kx-update.lock)";
    // What another computer wrote into the lock file never breaks the status line.
    QTest::newRow("locked by a hostile host")
        << ""
        << "another update of this data folder is running, on evil[2Jpc since 2024-06-01: "
           "wait for it to end (a copy that was stopped, or whose computer went off, lets go "
           "within minutes; if it does not, remove DATASEP.kx-update.lock)";
    // Trouble that every later file would meet stops the run at once; so do many files in a
    // row that are not on the server.
    QTest::newRow("card-info refuses")
        << ""
        << "could not get ORIGIN/bof/bof.php?cmd=cardinfo&zumikey=KEYCODEPLACEHOLDER&zumiusername="
           "USERNAME&cardids=a0001&xmlonly=1: the card-info service refused the key code and user "
           "name (the server answered 403 Forbidden): check both";
    QTest::newRow("nothing on the server")
        << ""
        << "26 files in a row were not on the server or were not whole pictures (the last: the "
           "server answered 404 Not Found): is the server address right?";
    QTest::newRow("lock is a pipe") << ""
                                    << "could not lock DATASEP: it is not a regular file";
    QTest::newRow("unreadable") << ""
                                << "could not read DATASEP: Permission denied";
    const QString logFails = "could not write KX-GET-CardDataUpdates.txt: File too large (and the "
                             "run log could not be completed: could not write "
                             "KX-GET-CardDataUpdates.txt: File too large)";
    QTest::newRow("log fails") << "" << logFails;
    QTest::newRow("size line fails") << "" << logFails;
}

void tst_UpdateRun::runStopsBeforeWritingAnywhereElse()
{
    QFETCH(QString, card);
    QFETCH(QString, reason);
    QDir().mkpath(data() + "/a0001");
    // A server that answers anything with a picture.
    const QString tag = QTest::currentDataTag();
    const int status = tag == "card-info refuses" ? 403 : 200;
    m_server->setInjector([status](const std::string&) {
        return Answer{status, sample::assetBody("a0001", "c.jpg")};
    });
    if (tag == "nothing on the server") {
        // Four cards of seven files each, every one of them a 404.
        for (const char* card : {"a0002", "a0003", "a0004"})
            QDir().mkpath(data() + "/" + card);
        m_server->setInjector([](const std::string&) { return Answer{404, "not here"}; });
    }
    FolderLock otherCopy;
    std::unique_ptr<FileSizeLimit> limit;
    if (QTest::currentDataTag() == QString("locked")) {
        const QDateTime since(QDate(2024, 6, 1), QTime(21, 5, 9));
        FixedClock clock({since});
        QVERIFY(otherCopy.lock(data()));
    }
    if (QTest::currentDataTag() == QString("locked by a hostile host")) {
        QVERIFY(otherCopy.lock(data()));
#ifdef Q_OS_WIN
        QSKIP("a held lock file cannot be written on Windows");
#endif
        writeBytes(data() + "/.kx-update.lock", "1\nkx\nevil\r\x1b[2J\u2028pc\n2024-06-01\a\u2029" +
                                                    QByteArray(5000, '\t') + "\n");
    }
    if (QTest::currentDataTag() == QString("lock is a pipe") &&
        !makePipe(data() + "/.kx-update.lock"))
        QSKIP("this system makes no pipes in folders");
    if (QTest::currentDataTag() == QString("unreadable")) {
        QFile::setPermissions(data(), QFile::WriteOwner | QFile::ExeOwner);
        if (QDir(data()).entryList(QDir::AllEntries).size() > 0)
            QSKIP("this user reads every folder");
    }
    if (QString(QTest::currentDataTag()).endsWith("fails") && !FileSizeLimit::available())
        QSKIP("this system has no file-size limits");
    if (QTest::currentDataTag() == QString("log fails")) {
        writeBytes("KX-GET-CardDataUpdates.txt", QByteArray(50000, '-'));
        limit = std::make_unique<FileSizeLimit>(50040);
    }
    if (QTest::currentDataTag() == QString("size line fails")) {
        // Room for the header (86 bytes) and the card's name (7), not for its first size. One
        // request at a time, so that nothing is fetched ahead of the run.
        startDriver(1);
        writeBytes("KX-GET-CardDataUpdates.txt", QByteArray(50000, '-'));
        limit = std::make_unique<FileSizeLimit>(50000 + 86 + 7 + 10);
    }
    auto before = snapshot(m_work->path());
    before.remove("KX-GET-CardDataUpdates.txt");

    m_driver->prepare(data(), tag == "card-info refuses" ? QStringList{"cbCX"} : kAssetBoxes);
    if (card.isEmpty())
        m_driver->runUpdate();
    else
        m_driver->runOneCard(card);
    limit.reset();
    QFile::setPermissions(data(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // Paths are shown with the system's own separators.
    reason.replace("DATASEP", nativePath(data() + "\\"))
        .replace("HOST", QSysInfo::machineHostName())
        .replace("ORIGIN", QString::fromStdString(m_server->origin()));
    QCOMPARE(m_driver->text("Text2"), "Update stopped: " + reason);
    QVERIFY(m_driver->button("Command2")->isEnabled());
    auto after = snapshot(m_work->path());
    after.remove("KX-GET-CardDataUpdates.txt");
    QCOMPARE(after, before);
    if (!card.isEmpty() || QTest::currentDataTag() == QString("size line fails"))
        QVERIFY(m_server->requests().empty());
}

void tst_UpdateRun::closingStopsAtOnce_data()
{
    QTest::addColumn<QString>("control"); // closed when this control shows the text
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QString>("lastEntry"); // a pattern
    const QStringList firstCard{"a0001/a0001c.jpg", "a0001/a0001d.bmp", "a0001/a0001e.bmp"};
    QTest::newRow("at a card") << "Text3"
                               << "b0001" << firstCard << "^b0001$";
    // The bar counts a card as done between cards.
    QTest::newRow("between cards") << "ProgressBar1"
                                   << "1" << firstCard << "a0001e.bmp New size \\d+$";
    QTest::newRow("between downloads")
        << "Text2"
        << "a0001c.jpg" << QStringList{"a0001/a0001c.jpg"} << "a0001c.jpg New size \\d+$";
    QTest::newRow("during a download") << ""
                                       << "" << QStringList{} << "a0001c.jpg size 0$";
}

void tst_UpdateRun::closingStopsAtOnce()
{
    QFETCH(QString, control);
    QFETCH(QString, text);
    QFETCH(QStringList, stored);
    QFETCH(QString, lastEntry);
    for (const char* card : {"a0001", "b0001"})
        QDir().mkpath(data() + "/" + card);
    const std::string slowPath = "/free/sets/a0001/illustrations/a0001c.jpg";
    if (control.isEmpty()) {
        // One request at a time, so that the run is waiting for this one when it arrives. It
        // comes slowly but steadily: only a close abandons it early.
        startDriver(1);
        Form1* window = &m_driver->window();
        m_server->setInjector(
            [window, slowPath](const std::string& target) -> std::optional<Answer> {
                if (target != slowPath)
                    return std::nullopt;
                QMetaObject::invokeMethod(window, &QWidget::close, Qt::QueuedConnection);
                return Answer{200, sample::assetBody("a0001", "c.jpg") + std::string(200000, 'x'),
                              Answer::Fault::Trickle};
            });
    } else if (control == "ProgressBar1") {
        connect(m_driver->control<QProgressBar>(control), &QProgressBar::valueChanged, this,
                [&](int done) {
                    if (done == text.toInt())
                        m_driver->window().close();
                });
    } else {
        connect(m_driver->edit(control), &QLineEdit::textChanged, this, [&](const QString& shown) {
            if (shown.contains(text))
                m_driver->window().close();
        });
    }

    m_driver->prepare(data(), {"cbCI", "cbTI"});
    m_driver->runUpdate();
    QVERIFY(!m_driver->window().isVisible());
    QVERIFY(m_boxes->texts.isEmpty());
    QCOMPARE(filesBelow(data()), stored);
    const QStringList lines = logLines();
    QVERIFY(lines.at(lines.size() - 4).startsWith("Stopped on: "));
    QCOMPARE(lines.at(lines.size() - 3), QString("Reason: the window was closed"));
    QVERIFY2(lines.at(lines.size() - 6).contains(QRegularExpression(lastEntry)),
             qPrintable(lines.join('\n')));
    if (control.isEmpty())
        QTRY_COMPARE(m_server->abandoned(), std::vector<std::string>{slowPath});
}

void tst_UpdateRun::fetchingAheadChangesNothingButTheTime()
{
    QStringList logs;
    QList<QMap<QString, QByteArray>> folders;
    for (const int connections : {1, 6}) {
        freshCollection({40, 1, 30, 20});
        FixedClock clock({kStamp});
        startDriver(connections);
        // The user changes the boxes and the mode while the run goes on; each change counts
        // from the next place the run reads it.
        connect(m_driver->edit("Text3"), &QLineEdit::textChanged, this, [&](const QString& card) {
            if (card == "b0003")
                m_driver->box("cbTI")->click();
            if (card == "c0005")
                m_driver->choose("oHow_1");
            if (card == "d0008")
                m_driver->choose("oWhat_1");
        });
        m_driver->prepare(data(), kAssetBoxes);
        m_driver->box("cbCP")->click();
        m_driver->runUpdate();
        QCOMPARE(m_driver->text("Text2"), QString("DONE !"));
        logs << QString::fromUtf8(readBytes("KX-GET-CardDataUpdates.txt"));
        folders << snapshot(data());
    }
    QCOMPARE(logs[1], logs[0]);
    QCOMPARE(folders[1], folders[0]);
}

void tst_UpdateRun::aSeriesOfPassedOverFilesStopsOnlyABrokenServer_data()
{
    // One card picture a card: m not on the server, f forbidden by it, L larger than the program
    // takes, H a captive portal's page, s served, w whole on disk, r read-only on disk, p in a
    // card folder this user may not change.
    QTest::addColumn<QString>("cards");
    QTest::addColumn<int>("everyAnswer"); // 0: as the cards say
    QTest::addColumn<QString>("stop");    // empty: the run goes through
    const QString lacking = "%1 files in a row were not on the server or were not whole pictures "
                            "(the last: the server answered %2)%3: is the server address right?";
    const QString probe = ", nor did the server answer with a file it has whole (ORIGIN/free/sets/"
                          "a0000/illustrations/a0000c.jpg: the server answered %1)";
    const QString m24(24, u'm');
    QTest::newRow("24 in a row") << m24 + "s" << 0 << QString();
    QTest::newRow("25 in a row") << m24 + "ms" << 0 << lacking.arg(25).arg("404 Not Found", "");
    QTest::newRow("26 in a row") << m24 + "mm" << 0 << lacking.arg(25).arg("404 Not Found", "");
    QTest::newRow("a file stored between") << m24 + "s" + m24 << 0 << QString();
    QTest::newRow("forbidden and protected files") << "frps" << 0 << QString();
    QTest::newRow("a whole file vouches for the server") << "w" + m24 + "mmmmmm" << 0 << QString();
    QTest::newRow("a server that lacks everything")
        << "w" + m24 + "mmmmmm" << 404
        << lacking.arg(25).arg("404 Not Found", probe.arg("404 Not Found"));
    QTest::newRow("a server that refuses everything")
        << "w" + m24 + "mmmmmm" << 403
        << lacking.arg(25).arg("403 Forbidden", probe.arg("403 Forbidden"));
    QTest::newRow("files too large")
        << QString(25, u'L') + "s" << 0
        << "25 files in a row were larger than the program takes for a card file (the last: the "
           "answer is larger than 100000 bytes): the server sends other files than card files, or "
           "card files have grown larger than this version takes";
    QTest::newRow("web pages") << QString(25, u'H') + "s" << 0
                               << "25 files in a row were web pages, not card files (the last: the "
                                  "answer is not a whole picture (33 bytes, begins with "
                                  "\"<html><body>Sign\")): is the server address right, or does "
                                  "this network want a sign-in on a web page first (a captive "
                                  "portal, as in hotels, trains and some offices)?";
    QTest::newRow("protected and missing files")
        << "rrrrrrpppppp" + QString(13, u'm') << 0
        << "25 files in a row could not be brought up to date (13 were not on the server or were "
           "not whole pictures, the last: the server answered 404 Not Found; 12 could not be "
           "replaced, the last: Permission denied): is the server address right, and may this "
           "user change the card files?";
}

void tst_UpdateRun::aSeriesOfPassedOverFilesStopsOnlyABrokenServer()
{
    QFETCH(QString, cards);
    QFETCH(int, everyAnswer);
    QFETCH(QString, stop);
    const auto name = [](qsizetype card) {
        return QString("a%1").arg(card, 4, 10, QChar('0'));
    };
    for (qsizetype card = 0; card < cards.size(); ++card) {
        const QString folder = data() + "/" + name(card);
        QDir().mkpath(folder);
        if (cards[card] == 'w')
            writeBytes(folder + "/" + name(card) + "c.jpg", servedBytes(name(card) + "c.jpg"));
        if (cards[card] == 'r') {
            writeBytes(folder + "/" + name(card) + "c.jpg", "small");
            QFile::setPermissions(folder + "/" + name(card) + "c.jpg", QFile::ReadOwner);
        }
        if (cards[card] == 'p')
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    }
    if (cards.contains('p') && QFileInfo(data() + "/a0002").isWritable())
        QSKIP("this user may change every folder");
    m_server->setInjector([cards, everyAnswer](const std::string& target) {
        const auto card = std::stoul(target.substr(std::string("/free/sets/a").size(), 4));
        const QChar kind = card < std::size_t(cards.size()) ? cards[qsizetype(card)] : u's';
        const int status = everyAnswer ? everyAnswer : kind == 'm' ? 404 : kind == 'f' ? 403 : 0;
        if (kind == 'L')
            return std::optional(Answer{200, std::string(100001, 'L')});
        if (kind == 'H')
            return std::optional(Answer{200, "<html><body>Sign in</body></html>"});
        return status ? std::optional(Answer{status, "no"}) : std::nullopt;
    });
    startDriver(1); // nothing asked ahead of the run
    m_driver->fetcher().setMaxBodySize(100000);
    m_driver->prepare(data(), {"cbCI"});
    m_driver->runUpdate();
    for (qsizetype card = 0; card < cards.size(); ++card)
        QFile::setPermissions(data() + "/" + name(card),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    const qsizetype passedOver = cards.count('m') + cards.count('f') + cards.count('L') +
                                 cards.count('H') + cards.count('r') + cards.count('p');
    stop.replace("ORIGIN", QString::fromStdString(m_server->origin()));
    QCOMPARE(m_driver->text("Text2"),
             !stop.isEmpty() ? "Update stopped: " + stop
             : passedOver ? QString("DONE, but %1 files could not be brought up to date: the run "
                                    "log KX-GET-CardDataUpdates.txt says which and why")
                                .arg(passedOver)
                          : QString("DONE !"));
    // A stopped run asks for nothing after the file that ended the series; a whole file on disk
    // is asked for once, after the series.
    const qsizetype probes = cards.startsWith('w') ? 1 : 0;
    QCOMPARE(qsizetype(m_server->targets().size()),
             (stop.isEmpty() ? cards.size() - cards.count('w') : 25) + probes);
}

void tst_UpdateRun::unattendedRunIsTheWindowsRun_data()
{
    QTest::addColumn<QStringList>("get");   // the command line's choice of kinds
    QTest::addColumn<QStringList>("boxes"); // the window's; empty: as the window starts
    QTest::newRow("every kind") << QStringList{"--get", "all"} << kAssetBoxes;
    QTest::newRow("the boxes as they start") << QStringList() << QStringList();
}

// The same requests, files and log, whichever front end starts the run.
void tst_UpdateRun::unattendedRunIsTheWindowsRun()
{
    QFETCH(QStringList, get);
    QFETCH(QStringList, boxes);
    saveInfo();
    QStringList logs;
    QList<QMap<QString, QByteArray>> folders;
    QList<std::vector<std::string>> asked;
    for (const bool unattended : {false, true}) {
        freshCollection({12, 3, 30, 20});
        m_server->clearRequests();
        FixedClock clock({kStamp});
        QString printed;
        if (unattended) {
            QCOMPARE(runUnattended(QStringList{"--run"} + get, printed), 0);
            QVERIFY2(printed.contains("Cards: 12 of 12\nFiles fetched: "), qPrintable(printed));
            // Into a file, a progress line at every 5% of the cards (here every card).
            QCOMPARE(printed.count(" of 12 cards, "), 13);
        } else {
            if (!boxes.isEmpty())
                m_driver->tickOnly(boxes);
            m_driver->type("tDATA", data());
            m_driver->runUpdate();
        }
        logs << QString::fromUtf8(readBytes("KX-GET-CardDataUpdates.txt"));
        folders << snapshot(data());
        asked << m_server->targets();
        std::sort(asked.back().begin(), asked.back().end());
    }
    QCOMPARE(logs[1], logs[0]);
    QCOMPARE(folders[1], folders[0]);
    QVERIFY(asked[1] == asked[0]);

    // The collection is whole now: nothing more to fetch.
    QString printed;
    QCOMPARE(runUnattended(QStringList{"--run", "--quiet"} + get, printed), 0);
    QCOMPARE(printed, QString());
    QCOMPARE(snapshot(data()), folders[1]);
}

void tst_UpdateRun::unattendedRunTellsHowItWent_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said"); // in its output or on standard error
    const QStringList oneCard{"--run", "--card", "a0001", "--get", "images"};
    QTest::newRow("short saved info")
        << oneCard << 1 << "cannot run: KXSavedInfo.txt holds 3 lines, not 7 in ";
    // Quiet only when all went well; the key code and user name never printed.
    QTest::newRow("not on the server, quiet")
        << QStringList{"--run", "--card", "a0001", "--get", "images,xml", "--quiet"} << 3
        << "Files not brought up to date: 2 (the run log KX-GET-CardDataUpdates.txt says which "
           "and why; the next run tries them again)\n  ORIGIN/free/sets/a0001/illustrations/"
           "a0001c.jpg: the server answered 404 Not Found\n  ORIGIN/bof/bof.php?cmd=cardinfo&"
           "zumikey=********&zumiusername=********&cardids=a0001&xmlonly=1: the server answered "
           "404 Not Found\n";
    QTest::newRow("no collection there")
        << QStringList{"--run", "--quiet"} << 1
        << "kx-card-updater: No card folder (a0001 ...) was found in TYPO: is the data "
           "folder right?\n";
    QTest::newRow("a log grown large is moved aside") << oneCard << 0 << "Cards: 1 of 1";
    QTest::newRow("refused") << oneCard << 1
                             << "kx-card-updater: Update stopped: could not get ORIGIN/free/sets/"
                                "a0001/illustrations/a0001c.jpg: the server answered 401 "
                                "Unauthorized";
    QTest::newRow("held") << oneCard << 4
                          << "kx-card-updater: Update stopped: another update of this data "
                             "folder is running";
    // Only what is asked for: one card's XML and PNG, fetched again over one connection.
    QTest::newRow("one card, overwrite")
        << QStringList{"--run",       "--card",  "a0002",         "--get", "xml,png",
                       "--overwrite", "--quiet", "--connections", "1"}
        << 0 << "";
    // Pictures that pass their size rule: only a damaged one is fetched, and only when asked.
    QTest::newRow("pictures checked")
        << QStringList{"--run", "--card", "a0002", "--get", "images,png", "--check-pictures"} << 0
        << "Files fetched: 1";
    QTest::newRow("pictures not checked")
        << QStringList{"--run", "--card", "a0002", "--get", "images,png"} << 0
        << "Files fetched: 0";
}

void tst_UpdateRun::unattendedRunTellsHowItWent()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, said);
    const QString tag = QTest::currentDataTag();
    for (const char* card : {"a0001", "a0002"})
        QDir().mkpath(data() + "/" + card);
    writeBytes(data() + "/a0002/a0002.xml", "old");
    writeBytes(data() + "/a0002/a0002c.jpg", servedBytes("a0002c.jpg").chopped(2)); // not whole
    writeBytes(data() + "/a0002/a0002_full.png", servedBytes("a0002_full.png"));
    saveInfo(tag == "short saved info" ? 3 : 7, tag == "no collection there" ? "-typo" : "");
    if (tag.startsWith("not on the server") || tag == "refused")
        m_server->setInjector([status = tag == "refused" ? 401 : 404](const std::string& target) {
            return target.find("a0001") != std::string::npos ? std::optional(Answer{status, "no"})
                                                             : std::nullopt;
        });
    const QByteArray largeLog(RunLog::kMoveAsideAtBytes + 1, '-');
    if (tag == "a log grown large is moved aside")
        writeBytes("KX-GET-CardDataUpdates.txt", largeLog);
    FolderLock otherCopy;
    if (tag == "held")
        QVERIFY(otherCopy.lock(data()));

    QString printed;
    QString errors;
    QCOMPARE(runUnattended(arguments, printed, &errors), status);
    said.replace("ORIGIN", QString::fromStdString(m_server->origin()))
        .replace("TYPO", nativePath(data() + "-typo\\"));
    QVERIFY2((status == 0 ? printed : errors).contains(said), qPrintable(printed));
    if (tag == "a log grown large is moved aside") {
        QCOMPARE(readBytes("KX-GET-CardDataUpdates.old.txt"), largeLog);
        QCOMPARE(logLines().mid(0, 2), QStringList({"", QString(47, u'#')}));
    }
    if (tag == "one card, overwrite") {
        const std::vector<SampleCardServer::Request> requests = m_server->requests();
        QCOMPARE(requests.size(), std::size_t(2));
        QCOMPARE(requests[0].remotePort, requests[1].remotePort);
        QCOMPARE(readBytes(data() + "/a0002/a0002.xml"), servedBytes("a0002.xml"));
    }
    if (tag == "pictures checked")
        QCOMPARE(m_server->targets(),
                 std::vector<std::string>{"/free/sets/a0002/illustrations/a0002c.jpg"});
}

QTEST_MAIN(tst_UpdateRun)
#include "tst_updaterun.moc"
