#include "SampleCardServer.h"
#include "SampleCollection.h"
#include "TestSupport.h"
#include "WindowDriver.h"
#include "platform/Http.h"

#include <QDir>
#include <QRegularExpression>
#include <QtTest>

#include <memory>
#include <unistd.h>

using Answer = SampleCardServer::Answer;

// Disk faults and bad input: the run may stop, but with a plain reason, with every former file
// intact and nothing half-written left behind, and the window recovers.
class tst_Reliability : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void readOnlyCardFolder();
    void readOnlyAssetFile();
    void writeFailingPartWay();
    void unusualDataPaths_data();
    void unusualDataPaths();
    void unusualCardNames_data();
    void unusualCardNames();
    void redirectToLocalFileIsNotFollowed();
    void bodyOverTheCapIsRefused();

private:
    QString data(const QString& relative = {}) const { return m_work->file("Data/" + relative); }
    // Runs one card in overwrite mode with only the given box ticked.
    void runOneCard(const QString& card, const QString& box)
    {
        m_driver->choose("oWhat_1");
        m_driver->type("Text3", card);
        m_driver->tickOnly({box});
        m_driver->button("oHow_1")->click();
        m_driver->runUpdate();
    }
    void checkStoppedAndRecovers(const QString& reasonStart)
    {
        QVERIFY2(m_driver->text("Text2").startsWith("Update stopped: " + reasonStart),
                 qPrintable(m_driver->text("Text2")));
        QCOMPARE(m_boxes->texts.last(), m_driver->text("Text2"));
        QVERIFY(readBytes(m_work->file("KX-GET-CardDataUpdates.txt"))
                    .contains("\r\nReason: " + reasonStart.toUtf8()));
        m_driver->pressReset();
        QVERIFY(m_driver->box("Check1")->isEnabled());
        QCOMPARE(m_driver->text("Command1"), QString("Update KX Card Data"));
    }
    // No temporary file anywhere below the data folder.
    void checkOnlyCardFiles()
    {
        for (const QString& file : filesBelow(data()))
            QVERIFY2(
                QRegularExpression(
                    "^[^/]+/[^/]+(c\\.jpg|d\\.bmp|e\\.bmp|\\.woxinf|\\.woxdld|\\.xml|_full\\.png)$")
                    .match(file)
                    .hasMatch(),
                qPrintable(file));
    }

    std::unique_ptr<WorkFolder> m_work;
    std::unique_ptr<SampleCardServer> m_server;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
    std::unique_ptr<WindowDriver> m_driver;
};

void tst_Reliability::init()
{
    m_work = std::make_unique<WorkFolder>();
    m_server = std::make_unique<SampleCardServer>();
    m_boxes = std::make_unique<MessageBoxRecorder>();
    m_driver = std::make_unique<WindowDriver>(QString::fromStdString(m_server->origin()));
    QDir().mkpath(data());
    m_driver->type("tDATA", data());
}

void tst_Reliability::cleanup()
{
    m_driver.reset();
    m_boxes.reset();
    m_server.reset();
    // Let the temporary folder go even where a test made parts of it read-only.
    for (const QString& file : filesBelow(m_work->path()))
        QFile::setPermissions(m_work->file(file), QFile::ReadOwner | QFile::WriteOwner);
    QDirIterator folders(m_work->path(), QDir::Dirs | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
    while (folders.hasNext())
        QFile::setPermissions(folders.next(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_work.reset();
}

void tst_Reliability::readOnlyCardFolder()
{
    if (geteuid() == 0)
        QSKIP("root may write into any folder; CTest runs this suite as an unprivileged user");
    writeBytes(data("a0001/a0001c.jpg"), "former");
    QFile::setPermissions(data("a0001"), QFile::ReadOwner | QFile::ExeOwner);
    runOneCard("a0001", "cbCI");
    QFile::setPermissions(data("a0001"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(readBytes(data("a0001/a0001c.jpg")), QByteArray("former"));
    checkOnlyCardFiles();
    checkStoppedAndRecovers("could not write " + data() + "\\a0001\\a0001c.jpg: ");
}

void tst_Reliability::readOnlyAssetFile()
{
    writeBytes(data("a0001/a0001d.bmp"), "former");
    QFile::setPermissions(data("a0001/a0001d.bmp"), QFile::ReadOwner | QFile::ReadGroup);
    runOneCard("a0001", "cbTI");
    QCOMPARE(readBytes(data("a0001/a0001d.bmp")), QByteArray("former"));
    checkOnlyCardFiles();
    checkStoppedAndRecovers("could not write " + data() +
                            "\\a0001\\a0001d.bmp: the file is read-only");
}

void tst_Reliability::writeFailingPartWay()
{
    const QByteArray former = toBytes(sample::fillerBytes(20000, 3));
    writeBytes(data("a0001/a0001_full.png"), former);
    m_server->setAnswer("/free/sets/a0001/illustrations/a0001_full.png",
                        Answer{200, sample::fillerBytes(300000, 4), {}, 0, {}, {}});
    {
        FileSizeLimit limit(128 * 1024);
        runOneCard("a0001", "cbCP");
    }

    QCOMPARE(readBytes(data("a0001/a0001_full.png")), former);
    checkOnlyCardFiles();
    checkStoppedAndRecovers("could not write " + data() + "\\a0001\\a0001_full.png: ");
}

void tst_Reliability::unusualDataPaths_data()
{
    QTest::addColumn<QString>("folder"); // below the working folder; empty: none is made
    QTest::addColumn<QString>("typed");  // with {} for the working folder
    QTest::addColumn<bool>("hasCard");
    QTest::newRow("does not exist") << ""
                                    << "{}/nowhere" << false;
    QTest::newRow("names a file") << ""
                                  << "{}/KXSavedInfo.txt" << false;
    QTest::newRow("spaces") << "My Card Data"
                            << " {}/My Card Data\\ " << true;
    QTest::newRow("dot dot") << "Real"
                             << "{}/Other/../Real" << true;
    QTest::newRow("non-ASCII") << "D\u00e4t\u00e4 \u30c7\u30fc\u30bf"
                               << "{}/D\u00e4t\u00e4 \u30c7\u30fc\u30bf" << true;
    const QString deep = QString("deep/").repeated(40) + QString(60, 'n');
    QTest::newRow("over 300 characters") << deep << "{}/" + deep << true;
}

void tst_Reliability::unusualDataPaths()
{
    QFETCH(QString, folder);
    QFETCH(QString, typed);
    QFETCH(bool, hasCard);
    writeBytes(m_work->file("KXSavedInfo.txt"), "not a card folder");
    if (!folder.isEmpty())
        writeBytes(m_work->file(folder + "/a0001/a0001c.jpg"), "short");
    QDir().mkpath(m_work->file("Other"));
    typed.replace("{}", m_work->path());
    QVERIFY(typed.size() < 300 || hasCard);
    m_driver->type("tDATA", typed);
    m_driver->tickOnly({"cbCI"});
    m_driver->runUpdate();

    QCOMPARE(m_driver->text("Text2"), QString("DONE !"));
    const QByteArray log = readBytes(m_work->file("KX-GET-CardDataUpdates.txt"));
    QCOMPARE(log.contains("\r\na0001\r\n"), hasCard);
    if (hasCard)
        QCOMPARE(readBytes(m_work->file(folder + "/a0001/a0001c.jpg")),
                 toBytes(sample::assetBody("a0001", "c.jpg")));
    QCOMPARE(readBytes(m_work->file("KXSavedInfo.txt")), QByteArray("not a card folder"));
}

void tst_Reliability::unusualCardNames_data()
{
    QTest::addColumn<QString>("card");
    QTest::addColumn<QString>("folder");     // made below the data folder
    QTest::addColumn<QString>("stopReason"); // empty: the run completes
    QTest::newRow("empty") << ""
                           << ""
                           << "";
    QTest::newRow("only spaces") << "     "
                                 << ""
                                 << "";
    // The address names no card: the server has nothing there.
    QTest::newRow("dot dot") << ".."
                             << ""
                             << "could not get ";
    QTest::newRow("non-ASCII") << "\u00e40001"
                               << "\u00e40001"
                               << "";
    QTest::newRow("very long") << QString(300, 'a') << ""
                               << "could not write ";
}

void tst_Reliability::unusualCardNames()
{
    QFETCH(QString, card);
    QFETCH(QString, folder);
    QFETCH(QString, stopReason);
    if (!folder.isEmpty())
        QDir().mkpath(data(folder));
    runOneCard(card, "cbCI");
    QCOMPARE(m_server->requests().size(), std::size_t(1));
    if (stopReason.isEmpty())
        QCOMPARE(m_driver->text("Text2"), QString("DONE !"));
    else
        checkStoppedAndRecovers(stopReason);
    QCOMPARE(filesBelow(m_work->path()).filter(QRegularExpression("c\\.jpg$")).size(),
             1 - int(!stopReason.isEmpty()));
    if (!folder.isEmpty())
        QCOMPARE(readBytes(data(folder + "/" + folder + "c.jpg")),
                 toBytes(sample::assetBody(folder.toStdString(), "c.jpg")));
}

void tst_Reliability::redirectToLocalFileIsNotFollowed()
{
    writeBytes(data("a0001/a0001c.jpg"), "former");
    m_server->setAnswer("/free/sets/a0001/illustrations/a0001c.jpg",
                        Answer{302, "", {}, 0, {}, "file:///etc/hostname"});
    runOneCard("a0001", "cbCI");
    QCOMPARE(readBytes(data("a0001/a0001c.jpg")), QByteArray("former"));
    checkStoppedAndRecovers(
        "could not get " + QString::fromStdString(m_server->origin()) +
        "/free/sets/a0001/illustrations/a0001c.jpg: refused a redirect to file:");
}

void tst_Reliability::bodyOverTheCapIsRefused()
{
    writeBytes(data("a0001/a0001c.jpg"), "former");
    m_driver->fetcher().setMaxBodySize(16 * 1024);
    runOneCard("a0001", "cbCI"); // the sample picture is larger than that
    QCOMPARE(readBytes(data("a0001/a0001c.jpg")), QByteArray("former"));
    checkOnlyCardFiles();
    checkStoppedAndRecovers("could not get ");
    QVERIFY(m_boxes->texts.last().contains("the answer is larger than 16384 bytes"));
}

QTEST_MAIN(tst_Reliability)
#include "tst_reliability.moc"
