#include "RunHarness.h"
#include "SampleCardServer.h"
#include "SampleCollection.h"
#include "TestSupport.h"
#include "cards/UpdateCard.h"

#include <QDir>
#include <QTimer>
#include <QtTest>

#include <memory>

using Answer = SampleCardServer::Answer;

namespace {

QString assetPath(const std::string& card, const std::string& suffix)
{
    return QString::fromStdString("/free/sets/" + card + "/illustrations/" + card + suffix);
}

} // namespace

class tst_UpdateCard : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void sizeRules_data();
    void sizeRules();
    void overwriteReplacesLongerFileExactly();
    void everyKindMissingMakesSixFetchesAndSevenFiles();
    void infoFilesFetchOnceAndCountOnce();
    void thumbnailsAreRepairedOnlyWithTheirDBmp();
    void keyAndUserNameGoIntoTheInfoUrlUnchanged();
    void cardNameIsShownTrimmedButUsedAsGiven();
    void failedFetchOnThirdKindKeepsWhatCameBefore();
    void storeIntoMissingCardFolderFailsAfterItsDownloadLine();
    void emptyBodyIsStoredAsEmptyFile();
    void failuresInOverwriteModeKeepFormerFile_data();
    void failuresInOverwriteModeKeepFormerFile();
    void boxChangedDuringPumpIsHonouredFromNextKind();

private:
    QString local(const QString& card, const QString& suffix) const
    {
        return m_work->file(card + "/" + card + suffix);
    }
    QString dataPath() const { return m_work->path() + "\\"; }

    std::unique_ptr<WorkFolder> m_work;
    std::unique_ptr<SampleCardServer> m_server;
    std::unique_ptr<RunHarness> m_run;
};

void tst_UpdateCard::init()
{
    m_work = std::make_unique<WorkFolder>();
    m_server = std::make_unique<SampleCardServer>();
    m_run = std::make_unique<RunHarness>(*m_server, dataPath());
    QDir().mkpath(m_work->file("a0001"));
}

void tst_UpdateCard::cleanup()
{
    m_run.reset();
    m_server.reset();
    m_work.reset();
}

void tst_UpdateCard::sizeRules_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<int>("size"); // -1: missing
    QTest::addColumn<bool>("overwrite");
    QTest::addColumn<bool>("fetched");

    struct Edge
    {
        const char* box;
        const char* suffix;
        int size;
        bool fetched;
    };
    const Edge edges[] = {
        {"cbCI", "c.jpg", -1, true},         {"cbCI", "c.jpg", 0, true},
        {"cbCI", "c.jpg", 11999, true},      {"cbCI", "c.jpg", 12000, false},
        {"cbTI", "d.bmp", -1, true},         {"cbTI", "d.bmp", 0, true},
        {"cbTI", "d.bmp", 1, false},         {"cbTI", "d.bmp", 8000, false},
        {"cbTI", "d.bmp", 8001, true},       {"cbINF", ".woxinf", -1, true},
        {"cbINF", ".woxinf", 0, true},       {"cbINF", ".woxinf", 8000, false},
        {"cbINF", ".woxinf", 8001, true},    {"cbCX", ".xml", -1, true},
        {"cbCX", ".xml", 0, true},           {"cbCX", ".xml", 1, false},
        {"cbCP", "_full.png", 0, true},      {"cbCP", "_full.png", 10999, true},
        {"cbCP", "_full.png", 11000, false}, {"cbCP", "_full.png", -1, true},
    };
    for (const Edge& edge : edges) {
        for (const bool overwrite : {false, true}) {
            QTest::addRow("%s %d %s", edge.suffix, edge.size, overwrite ? "overwrite" : "missing")
                << edge.box << edge.suffix << edge.size << overwrite << (overwrite || edge.fetched);
        }
    }
}

void tst_UpdateCard::sizeRules()
{
    QFETCH(QString, box);
    QFETCH(QString, suffix);
    QFETCH(int, size);
    QFETCH(bool, overwrite);
    QFETCH(bool, fetched);

    const QByteArray former(qMax(size, 0), 'f');
    if (size >= 0)
        writeBytes(local("a0001", suffix), former);
    m_run->tickOnly({box});
    m_run->setOverwrite(overwrite);
    QVERIFY(m_run->update("a0001").ok());

    const QStringList log = m_run->logLines();
    QCOMPARE(log.first(),
             dataPath() + "a0001\\a0001" + suffix + " size " + QString::number(qMax(size, 0)));
    QCOMPARE(m_server->requests().empty(), !fetched);
    if (!fetched) {
        QCOMPARE(log.size(), 1);
        QCOMPARE(readBytes(local("a0001", suffix)), former);
        QCOMPARE(m_run->state.cTotalBytes.text(), QString("0"));
        return;
    }
    QVERIFY(log.size() >= 2);
    QVERIFY(log[1].startsWith("Download File: "));
    const QString storedSize = QString::number(QFileInfo(local("a0001", suffix)).size());
    QVERIFY(log[1].endsWith(" New size " + storedSize));
    QVERIFY(readBytes(local("a0001", suffix)) != former);
}

void tst_UpdateCard::overwriteReplacesLongerFileExactly()
{
    writeBytes(local("a0001", "c.jpg"), QByteArray(200000, 'L'));
    m_server->setAnswer(assetPath("a0001", "c.jpg").toStdString(),
                        Answer{200, "short body", {}, 0, {}, {}});
    m_run->tickOnly({"cbCI"});
    m_run->setOverwrite(true);
    QVERIFY(m_run->update("a0001").ok());
    QCOMPARE(readBytes(local("a0001", "c.jpg")), QByteArray("short body"));
    QCOMPARE(m_run->state.cTotalBytes.text(), QString("10"));
}

void tst_UpdateCard::everyKindMissingMakesSixFetchesAndSevenFiles()
{
    m_run->tickOnly({"cbCI", "cbTI", "cbINF", "cbCX", "cbCP"});
    QVERIFY(m_run->update("a0001").ok());

    const std::string origin = m_server->origin();
    const std::string info =
        "/bof/bof.php?cmd=cardinfo&zumikey=KEY&zumiusername=user&cardids=a0001&xmlonly=1";
    QCOMPARE(m_server->targets(),
             std::vector<std::string>({assetPath("a0001", "c.jpg").toStdString(),
                                       assetPath("a0001", "d.bmp").toStdString(),
                                       assetPath("a0001", "e.bmp").toStdString(),
                                       assetPath("a0001", ".inf").toStdString(), info,
                                       assetPath("a0001", "_full.png").toStdString()}));

    const auto asset = [&](const char* suffix) {
        return QString::fromStdString(origin) + assetPath("a0001", suffix);
    };
    const auto sizeOf = [&](const char* suffix) {
        return QString::number(QFileInfo(local("a0001", suffix)).size());
    };
    const QString d = dataPath() + "a0001\\a0001";
    const QStringList expected{
        d + "c.jpg size 0",
        "Download File: " + asset("c.jpg") + " New size " + sizeOf("c.jpg"),
        d + "d.bmp size 0",
        "Download File: " + asset("d.bmp") + " New size " + sizeOf("d.bmp"),
        "Download File: " + asset("e.bmp") + " New size " + sizeOf("e.bmp"),
        d + ".woxinf size 0",
        "Download File: " + asset(".woxinf") + " New size " + sizeOf(".woxdld"),
        "Download File: " + asset(".woxdld") + " New size " + sizeOf(".woxdld"),
        d + ".xml size 0",
        "Download File: " + QString::fromStdString(origin + info) + " New size " + sizeOf(".xml"),
        d + "_full.png size 0",
        "Download File: " + asset("_full.png") + " New size " + sizeOf("_full.png"),
    };
    QCOMPARE(m_run->logLines(), expected);

    for (const std::string& suffix : sample::kLocalSuffixes)
        QCOMPARE(readBytes(local("a0001", QString::fromStdString(suffix))),
                 toBytes(sample::localFileBody("a0001", suffix)));
    double total = 0;
    for (const char* counted : {"c.jpg", "d.bmp", "e.bmp", ".woxdld", ".xml", "_full.png"})
        total += QFileInfo(local("a0001", counted)).size();
    QCOMPARE(m_run->state.cTotalBytes.text(), QString::number(qint64(total)));
    QCOMPARE(m_run->ui.Text3->text(), QString("a0001"));
    QCOMPARE(m_run->ui.Text1->text(), sizeOf("_full.png"));
    QCOMPARE(m_run->ui.Text2->text(), "Get " + asset("_full.png"));
}

void tst_UpdateCard::infoFilesFetchOnceAndCountOnce()
{
    m_server->setAnswer(assetPath("a0001", ".inf").toStdString(),
                        Answer{200, std::string(1187, 'i'), {}, 0, {}, {}});
    m_run->tickOnly({"cbINF"});
    QVERIFY(m_run->update("a0001").ok());

    QCOMPARE(m_server->requests().size(), std::size_t(1));
    const QStringList log = m_run->logLines();
    QCOMPARE(log.size(), 3);
    QVERIFY(!log.join('\n').contains(".inf "));
    QVERIFY(log[1].endsWith(".woxinf New size 1187"));
    QVERIFY(log[2].endsWith(".woxdld New size 1187"));
    QCOMPARE(readBytes(local("a0001", ".woxinf")), QByteArray(1187, 'i'));
    QCOMPARE(readBytes(local("a0001", ".woxdld")), QByteArray(1187, 'i'));
    QCOMPARE(m_run->state.cTotalBytes.text(), QString("1187"));
    QVERIFY(m_run->ui.Text2->text().endsWith("a0001.woxinf"));
}

void tst_UpdateCard::thumbnailsAreRepairedOnlyWithTheirDBmp()
{
    // A good d.bmp beside a missing e.bmp, and a good .woxinf beside a missing .woxdld.
    writeBytes(local("a0001", "d.bmp"), QByteArray(500, 'd'));
    writeBytes(local("a0001", ".woxinf"), QByteArray(500, 'w'));
    m_run->tickOnly({"cbTI", "cbINF"});
    QVERIFY(m_run->update("a0001").ok());
    QVERIFY(m_server->requests().empty());
    QVERIFY(!QFileInfo::exists(local("a0001", "e.bmp")));
    QVERIFY(!QFileInfo::exists(local("a0001", ".woxdld")));
    QCOMPARE(m_run->logLines().size(), 2);
}

void tst_UpdateCard::keyAndUserNameGoIntoTheInfoUrlUnchanged()
{
    m_run->state.sKey = "K&ey=1 2";
    m_run->state.sUserName = "J. Doe&co";
    m_run->tickOnly({"cbCX"});
    QVERIFY(m_run->update("a0001").ok());

    const QString url = QString::fromStdString(m_server->origin()) +
                        "/bof/bof.php?cmd=cardinfo&zumikey=K&ey=1 2&zumiusername=J. Doe&co"
                        "&cardids=a0001&xmlonly=1";
    QCOMPARE(m_run->ui.Text2->text(), "Get " + url);
    QCOMPARE(m_run->state.sInfoURL, url);
    QVERIFY(m_run->logLines()[1].startsWith("Download File: " + url + " New size "));
    QCOMPARE(m_server->targets(),
             std::vector<std::string>({"/bof/bof.php?cmd=cardinfo&zumikey=K&ey=1%202&zumiusername="
                                       "J.%20Doe&co&cardids=a0001&xmlonly=1"}));
}

void tst_UpdateCard::cardNameIsShownTrimmedButUsedAsGiven()
{
    QDir().mkpath(m_work->file(" a0001 "));
    m_run->tickOnly({"cbCI"});
    QVERIFY(m_run->update(" a0001 ").ok());
    QCOMPARE(m_run->ui.Text3->text(), QString("a0001"));
    QCOMPARE(m_server->targets(),
             std::vector<std::string>({"/free/sets/%20a0001%20/illustrations/%20a0001%20c.jpg"}));
    QVERIFY(QFileInfo::exists(m_work->file(" a0001 / a0001 c.jpg")));
}

void tst_UpdateCard::failedFetchOnThirdKindKeepsWhatCameBefore()
{
    m_server->setAnswer(assetPath("a0001", ".inf").toStdString(),
                        Answer{404, "gone", {}, 0, {}, {}});
    m_run->tickOnly({"cbCI", "cbTI", "cbINF", "cbCX", "cbCP"});
    const Status updated = m_run->update("a0001");
    QVERIFY(!updated.ok());
    QVERIFY2(updated.error().startsWith("could not get " +
                                        QString::fromStdString(m_server->origin()) +
                                        assetPath("a0001", ".inf") + ": "),
             qPrintable(updated.error()));
    QVERIFY(updated.error().contains("404"));

    const QStringList log = m_run->logLines();
    QCOMPARE(log.last(), dataPath() + "a0001\\a0001.woxinf size 0");
    QCOMPARE(log.size(), 6);
    QCOMPARE(filesBelow(m_work->path()),
             QStringList({"KX-GET-CardDataUpdates.txt", "a0001/a0001c.jpg", "a0001/a0001d.bmp",
                          "a0001/a0001e.bmp"}));
}

void tst_UpdateCard::storeIntoMissingCardFolderFailsAfterItsDownloadLine()
{
    m_run->tickOnly({"cbCI", "cbTI"});
    const Status updated = m_run->update("a0404");
    QVERIFY(!updated.ok());
    QVERIFY2(updated.error().startsWith("could not write " + dataPath() + "a0404\\a0404c.jpg: "),
             qPrintable(updated.error()));
    (void)m_run->log.close();
    const QByteArray log = readBytes(m_work->file("KX-GET-CardDataUpdates.txt"));
    // The download line stays open: the store failed before its new size was known.
    QVERIFY(log.endsWith(
        "a0404c.jpg size 0\r\nDownload File: " + QByteArray::fromStdString(m_server->origin()) +
        assetPath("a0404", "c.jpg").toUtf8()));
    QVERIFY(!QFileInfo::exists(m_work->file("a0404")));
    QCOMPARE(m_server->requests().size(), std::size_t(1));
}

void tst_UpdateCard::emptyBodyIsStoredAsEmptyFile()
{
    m_server->setAnswer(assetPath("a0001", "_full.png").toStdString(),
                        Answer{200, "", {}, 0, {}, {}});
    m_run->tickOnly({"cbCP"});
    QVERIFY(m_run->update("a0001").ok());
    QVERIFY(QFileInfo::exists(local("a0001", "_full.png")));
    QCOMPARE(QFileInfo(local("a0001", "_full.png")).size(), 0);
    QVERIFY(m_run->logLines()[1].endsWith(" New size 0"));
    QCOMPARE(m_run->state.cTotalBytes.text(), QString("0"));
}

void tst_UpdateCard::failuresInOverwriteModeKeepFormerFile_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("fault");
    QTest::newRow("404") << 404 << int(Answer::Fault::None);
    QTest::newRow("truncated") << 200 << int(Answer::Fault::Truncate);
}

void tst_UpdateCard::failuresInOverwriteModeKeepFormerFile()
{
    QFETCH(int, status);
    QFETCH(int, fault);
    const QByteArray former = toBytes(sample::fillerBytes(30000, 7));
    writeBytes(local("a0001", "c.jpg"), former);
    Answer answer{status, std::string(40000, 'n'), Answer::Fault(fault), 100, {}, {}};
    m_server->setAnswer(assetPath("a0001", "c.jpg").toStdString(), answer);
    m_run->tickOnly({"cbCI"});
    m_run->setOverwrite(true);
    QVERIFY(!m_run->update("a0001").ok());
    QCOMPARE(readBytes(local("a0001", "c.jpg")), former);
    QCOMPARE(filesBelow(m_work->path()),
             QStringList({"KX-GET-CardDataUpdates.txt", "a0001/a0001c.jpg"}));
    QCOMPARE(m_run->logLines(), QStringList({dataPath() + "a0001\\a0001c.jpg size 30000"}));
}

void tst_UpdateCard::boxChangedDuringPumpIsHonouredFromNextKind()
{
    EveryPumpPasses exactPumps;
    m_run->tickOnly({"cbCI", "cbTI", "cbINF"});
    // The user unticks "Thumb images" while the card image downloads; the click arrives at the
    // pump that follows the store.
    bool clicked = false;
    QObject::connect(m_run->ui.Text2, &QLineEdit::textChanged, m_run->ui.Text2, [&] {
        if (!clicked) {
            clicked = true;
            QTimer::singleShot(0, m_run->ui.cbTI, [this] { m_run->ui.cbTI->click(); });
        }
    });
    QVERIFY(m_run->update("a0001").ok());
    QCOMPARE(m_server->targets(),
             std::vector<std::string>({assetPath("a0001", "c.jpg").toStdString(),
                                       assetPath("a0001", ".inf").toStdString()}));
    QVERIFY(!m_run->logLines().join('\n').contains("d.bmp"));
}

QTEST_MAIN(tst_UpdateCard)
#include "tst_updatecard.moc"
