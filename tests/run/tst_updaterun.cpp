#include "SampleCardServer.h"
#include "SampleCollection.h"
#include "TestSupport.h"
#include "WindowDriver.h"
#include "platform/Http.h"

#include <QDir>
#include <QTimer>
#include <QtTest>

#include <memory>

using Answer = SampleCardServer::Answer;

namespace {

const QString kRule(47, u'#');

std::string assetTarget(const std::string& card, const std::string& suffix)
{
    return "/free/sets/" + card + "/illustrations/" + card + suffix;
}

QStringList linesOf(const QByteArray& bytes)
{
    QStringList lines = QString::fromUtf8(bytes).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

class tst_UpdateRun : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void allCardsRunOverMixedCollection();
    void nothingToGetIsRefused();
    void dataPathIsTrimmedAndGetsItsBackslash();
    void emptyOrMissingDataFolderGivesEmptyRun();
    void oneCardModeTrimsTheName();
    void oneCardModeWithEmptyName();
    void oneCardWithoutFolderStopsAtFirstStore();
    void oneCardChosenDuringWalkFollowsIt();
    void fetchFailureMidWalkStopsAndWindowRecovers();
    void closingTheWindowDuringAFetchStopsAtOnce();

private:
    QString data(const QString& relative = {}) const { return m_work->file("Data/" + relative); }
    QString dataPath() const { return m_work->path() + "/Data\\"; }
    QString origin() const { return QString::fromStdString(m_server->origin()); }
    QString assetUrl(const QString& card, const QString& suffix) const
    {
        return origin() + "/free/sets/" + card + "/illustrations/" + card + suffix;
    }
    QString sizeLine(const QString& card, const QString& suffix) const
    {
        return dataPath() + card + "\\" + card + suffix + " size " +
               QString::number(QFileInfo(data(card + "/" + card + suffix)).size());
    }
    QString downloadLine(const QString& card, const QString& suffix,
                         const QString& sizeSuffix = {}) const
    {
        const QString measured = sizeSuffix.isEmpty() ? suffix : sizeSuffix;
        return "Download File: " + assetUrl(card, suffix) + " New size " +
               QString::number(QFileInfo(data(card + "/" + card + measured)).size());
    }
    void writeGoodCard(const std::string& card)
    {
        for (const std::string& suffix : sample::kLocalSuffixes)
            writeBytes(data(QString::fromStdString(card + "/" + card + suffix)),
                       toBytes(sample::localFileBody(card, suffix)));
    }
    QStringList log() const
    {
        return linesOf(readBytes(m_work->file("KX-GET-CardDataUpdates.txt")));
    }

    std::unique_ptr<WorkFolder> m_work;
    std::unique_ptr<SampleCardServer> m_server;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
    std::unique_ptr<FixedClock> m_clock;
    std::unique_ptr<WindowDriver> m_driver;
};

void tst_UpdateRun::init()
{
    m_work = std::make_unique<WorkFolder>();
    m_server = std::make_unique<SampleCardServer>();
    m_boxes = std::make_unique<MessageBoxRecorder>();
    m_clock = std::make_unique<FixedClock>(
        QList<QDateTime>{QDateTime(QDate(2024, 6, 1), QTime(21, 5, 9)),
                         QDateTime(QDate(2024, 6, 1), QTime(21, 7, 0))});
    QDir().mkpath(data());
    m_driver = std::make_unique<WindowDriver>(origin());
    m_driver->type("tDATA", dataPath());
}

void tst_UpdateRun::cleanup()
{
    m_driver.reset();
    m_clock.reset();
    m_boxes.reset();
    m_server.reset();
    m_work.reset();
}

void tst_UpdateRun::allCardsRunOverMixedCollection()
{
    writeGoodCard("a0001");
    QFile::remove(data("a0001/a0001c.jpg")); // missing
    writeGoodCard("A0002");
    writeBytes(data("A0002/A0002d.bmp"), QByteArray(9000, 'd')); // grown past its rule
    const QByteArray damagedE(7, 'e');
    writeBytes(data("A0002/A0002e.bmp"), damagedE);
    writeGoodCard("b0001");
    writeBytes(data("c0003"), "a file named like a card");
    writeGoodCard("e0001");
    QFile::remove(data("e0001/e0001c.jpg")); // never visited
    QDir().mkpath(data("D0004"));
    QDir().mkpath(data("b001")); // too short a name

    m_driver->runUpdate();

    QCOMPARE(m_server->targets(),
             std::vector<std::string>({assetTarget("a0001", "c.jpg"), assetTarget("A0002", "d.bmp"),
                                       assetTarget("A0002", "e.bmp"), assetTarget("D0004", "c.jpg"),
                                       assetTarget("D0004", "d.bmp"), assetTarget("D0004", "e.bmp"),
                                       assetTarget("D0004", ".inf")}));
    const QStringList expected{
        "",
        kRule,
        "Started on: 06-01-2024 21:05:09",
        "",
        "a0001",
        dataPath() + "a0001\\a0001c.jpg size 0",
        downloadLine("a0001", "c.jpg"),
        sizeLine("a0001", "d.bmp"),
        sizeLine("a0001", ".woxinf"),
        "A0002",
        sizeLine("A0002", "c.jpg"),
        dataPath() + "A0002\\A0002d.bmp size 9000",
        downloadLine("A0002", "d.bmp"),
        downloadLine("A0002", "e.bmp"),
        sizeLine("A0002", ".woxinf"),
        "b0001",
        sizeLine("b0001", "c.jpg"),
        sizeLine("b0001", "d.bmp"),
        sizeLine("b0001", ".woxinf"),
        "D0004",
        dataPath() + "D0004\\D0004c.jpg size 0",
        downloadLine("D0004", "c.jpg"),
        dataPath() + "D0004\\D0004d.bmp size 0",
        downloadLine("D0004", "d.bmp"),
        downloadLine("D0004", "e.bmp"),
        dataPath() + "D0004\\D0004.woxinf size 0",
        downloadLine("D0004", ".woxinf", ".woxdld"),
        downloadLine("D0004", ".woxdld"),
        "",
        "Finished on: 06-01-2024 21:07:00",
        "Start : 06-01-2024 21:05:09 to Finish : 06-01-2024 21:07:00",
        "Total Bytes Downloaded = ", // completed below
        kRule,
        "",
    };
    const QStringList actual = log();
    QCOMPARE(actual.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        if (expected[i] != "Total Bytes Downloaded = ")
            QCOMPARE(actual[i], expected[i]);
    }

    qint64 total = 0;
    for (const auto& [card, suffix] :
         std::vector<std::pair<QString, QString>>{{"a0001", "c.jpg"},
                                                  {"A0002", "d.bmp"},
                                                  {"A0002", "e.bmp"},
                                                  {"D0004", "c.jpg"},
                                                  {"D0004", "d.bmp"},
                                                  {"D0004", "e.bmp"},
                                                  {"D0004", ".woxdld"}}) {
        const std::string served =
            card.toStdString() + "/" + card.toStdString() + suffix.toStdString();
        QCOMPARE(readBytes(data(QString::fromStdString(served))),
                 toBytes(sample::localFileBody(card.toStdString(), suffix.toStdString())));
        total += QFileInfo(data(QString::fromStdString(served))).size();
    }
    QCOMPARE(actual[expected.indexOf("Total Bytes Downloaded = ")],
             "Total Bytes Downloaded = " + QString::number(total));
    QVERIFY(!QFileInfo::exists(data("e0001/e0001c.jpg")));
    QCOMPARE(readBytes(data("c0003")), QByteArray("a file named like a card"));

    // Done: only RESET is usable.
    QCOMPARE(m_driver->text("Command1"), QString("DONE !"));
    QVERIFY(!m_driver->button("Command1")->isEnabled());
    QVERIFY(!m_driver->button("Command3")->isEnabled());
    QVERIFY(!m_driver->box("Check1")->isEnabled());
    QVERIFY(m_driver->box("Check1")->isChecked());
    QVERIFY(m_driver->button("Command2")->isEnabled());
    QCOMPARE(m_driver->text("Text2"), QString("DONE !"));
    QCOMPARE(m_driver->text("Text3"), QString("D0004"));
    QCOMPARE(m_driver->text("Text1"),
             QString::number(QFileInfo(data("D0004/D0004.woxdld")).size()));
    QVERIFY(m_boxes->texts.isEmpty());
}

void tst_UpdateRun::nothingToGetIsRefused()
{
    writeGoodCard("a0001");
    m_driver->tickOnly({});
    m_driver->runUpdate();

    const QString refusal = "Nothing to GET. Please Check what to Get!";
    QCOMPARE(m_driver->text("Text2"), refusal);
    QCOMPARE(m_boxes->texts, QStringList({refusal}));
    QCOMPARE(m_boxes->captions, QStringList({"Riz-OD-Odor1"}));
    QCOMPARE(m_driver->text("Command1"), QString("DONE !"));
    QVERIFY(m_driver->button("Command2")->isEnabled());
    QVERIFY(!QFileInfo::exists(m_work->file("KX-GET-CardDataUpdates.txt")));
    QVERIFY(m_server->requests().empty());

    m_driver->pressReset();
    QCOMPARE(m_driver->text("Command1"), QString("Update KX Card Data"));
    QCOMPARE(m_driver->text("Text2"), QString());
    m_driver->tickOnly({"cbCX"});
    m_driver->runUpdate();
    QCOMPARE(m_driver->text("Text2"), QString("DONE !"));
    QVERIFY(log().contains("a0001"));
}

void tst_UpdateRun::dataPathIsTrimmedAndGetsItsBackslash()
{
    writeGoodCard("a0001");
    m_driver->type("tDATA", "  " + m_work->path() + "/Data  ");
    m_driver->tickOnly({"cbCX"});
    m_driver->runUpdate();
    QCOMPARE(m_driver->text("tDATA"), m_work->path() + "/Data\\");
    QVERIFY(log().contains(dataPath() + "a0001\\a0001.xml size " +
                           QString::number(sample::infoBody("a0001").size())));

    m_driver->pressReset();
    const QString typed = "   " + dataPath() + " ";
    m_driver->type("tDATA", typed);
    m_driver->runUpdate();
    QCOMPARE(m_driver->text("tDATA"), typed); // already ends in "\" once trimmed
    QCOMPARE(log().filter(dataPath() + "a0001\\a0001.xml size ").size(), 2);
}

void tst_UpdateRun::emptyOrMissingDataFolderGivesEmptyRun()
{
    const QString missing = m_work->path() + "/nowhere\\";
    m_driver->type("tDATA", missing);
    m_driver->runUpdate();
    QCOMPARE(m_driver->text("Text2"), QString("DONE !"));
    const QStringList lines = log();
    QCOMPARE(lines.size(), 10);
    QCOMPARE(lines[4], QString());
    QCOMPARE(lines[7], QString("Total Bytes Downloaded = 0"));
    QCOMPARE(m_driver->text("tDATA"), missing);
    m_driver->pressReset();

    // An empty box stands for the root folder; with nothing ticked the run is refused before
    // any walk, so this never lists or writes the root of the machine running the test.
    QFile::remove(m_work->file("KX-GET-CardDataUpdates.txt"));
    m_driver->type("tDATA", "   ");
    m_driver->tickOnly({});
    m_driver->runUpdate();
    QCOMPARE(m_driver->text("tDATA"), QString("\\"));
    QCOMPARE(m_driver->text("Text2"), QString("Nothing to GET. Please Check what to Get!"));
    QVERIFY(!QFile::exists(m_work->file("KX-GET-CardDataUpdates.txt")));
}

void tst_UpdateRun::oneCardModeTrimsTheName()
{
    writeGoodCard("a0001");
    QFile::remove(data("a0001/a0001.xml"));
    m_driver->choose("oWhat_1");
    m_driver->type("Text3", "  a0001  ");
    m_driver->tickOnly({"cbCI", "cbCX"});
    m_driver->runUpdate();

    const QStringList lines = log();
    QCOMPARE(lines[4], sizeLine("a0001", "c.jpg"));
    QCOMPARE(lines[5], dataPath() + "a0001\\a0001.xml size 0");
    QVERIFY(!lines.contains("a0001"));
    QCOMPARE(m_driver->text("Text3"), QString("a0001"));
    QCOMPARE(readBytes(data("a0001/a0001.xml")), toBytes(sample::infoBody("a0001")));
}

void tst_UpdateRun::oneCardModeWithEmptyName()
{
    m_driver->choose("oWhat_1");
    m_driver->type("Text3", "  ");
    m_driver->tickOnly({"cbCI"});
    m_driver->runUpdate();
    // Every path is the data folder, "\" and the suffix; whatever the server answers is stored.
    QCOMPARE(m_server->targets(), std::vector<std::string>({"/free/sets//illustrations/c.jpg"}));
    QCOMPARE(log()[4], dataPath() + "\\c.jpg size 0");
    QCOMPARE(readBytes(data("c.jpg")), toBytes(sample::assetBody("", "c.jpg")));
    QCOMPARE(m_driver->text("Text2"), QString("DONE !"));
}

void tst_UpdateRun::oneCardWithoutFolderStopsAtFirstStore()
{
    m_driver->choose("oWhat_1");
    m_driver->type("Text3", "a0999");
    m_driver->runUpdate();

    const QString reason = "could not write " + dataPath() + "a0999\\a0999c.jpg: ";
    QVERIFY2(m_driver->text("Text2").startsWith("Update stopped: " + reason),
             qPrintable(m_driver->text("Text2")));
    QCOMPARE(m_boxes->texts, QStringList({m_driver->text("Text2")}));
    QCOMPARE(m_boxes->captions, QStringList({"Riz-OD-Odor1"}));
    const QStringList lines = log();
    QCOMPARE(lines[lines.size() - 6], "Download File: " + assetUrl("a0999", "c.jpg"));
    QCOMPARE(lines[lines.size() - 5], QString());
    QCOMPARE(lines[lines.size() - 4], QString("Stopped on: 06-01-2024 21:07:00"));
    QVERIFY(lines[lines.size() - 3].startsWith("Reason: " + reason));
    QCOMPARE(lines[lines.size() - 2], kRule);
    QCOMPARE(lines.last(), QString());
    QVERIFY(!QFileInfo::exists(data("a0999")));

    // Stopped but recoverable: the caption stays, RESET is enabled and works.
    QCOMPARE(m_driver->text("Command1"), QString("Update KX Card Data"));
    QVERIFY(!m_driver->button("Command1")->isEnabled());
    QVERIFY(m_driver->button("Command2")->isEnabled());
    m_driver->pressReset();
    QVERIFY(m_driver->box("Check1")->isEnabled());
    QVERIFY(!m_driver->box("Check1")->isChecked());
    QCOMPARE(m_driver->text("Text2"), QString());
}

void tst_UpdateRun::oneCardChosenDuringWalkFollowsIt()
{
    EveryPumpPasses exactPumps;
    writeGoodCard("a0001");
    writeGoodCard("b0001");
    bool chosen = false;
    QObject::connect(m_driver->edit("Text3"), &QLineEdit::textChanged, m_driver->edit("Text3"),
                     [&] {
                         if (!chosen) {
                             chosen = true;
                             QTimer::singleShot(0, m_driver->edit("Text3"),
                                                [&] { m_driver->choose("oWhat_1"); });
                         }
                     });
    m_driver->tickOnly({"cbCI"});
    m_driver->runUpdate();

    QVERIFY(m_driver->edit("Text3")->isVisible());
    const QStringList lines = log();
    QCOMPARE(lines.mid(4, 5),
             QStringList({"a0001", sizeLine("a0001", "c.jpg"), "b0001", sizeLine("b0001", "c.jpg"),
                          sizeLine("b0001", "c.jpg")}));
    QCOMPARE(lines[9], QString());
    QVERIFY(lines[10].startsWith("Finished on: "));
}

void tst_UpdateRun::fetchFailureMidWalkStopsAndWindowRecovers()
{
    for (const char* card : {"a0001", "b0001", "c0001"}) {
        writeGoodCard(card);
        writeBytes(data(QString(card) + "/" + card + "c.jpg"), QByteArray(100, 's'));
    }
    m_server->setAnswer(assetTarget("b0001", "c.jpg"), Answer{500, "oops", {}, 0, {}, {}});
    m_driver->tickOnly({"cbCI"});
    m_driver->runUpdate();

    QVERIFY(m_driver->text("Text2").startsWith("Update stopped: could not get " +
                                               assetUrl("b0001", "c.jpg") +
                                               ": the server answered 500"));
    QCOMPARE(readBytes(data("b0001/b0001c.jpg")), QByteArray(100, 's'));
    QCOMPARE(readBytes(data("c0001/c0001c.jpg")), QByteArray(100, 's'));
    QCOMPARE(m_server->targets(), std::vector<std::string>({assetTarget("a0001", "c.jpg"),
                                                            assetTarget("b0001", "c.jpg")}));
    QStringList lines = log();
    QCOMPARE(lines.mid(lines.size() - 7, 3),
             QStringList({"b0001", dataPath() + "b0001\\b0001c.jpg size 100", ""}));
    QVERIFY(lines[lines.size() - 4].startsWith("Stopped on: "));

    m_driver->pressReset();
    m_server->clearAnswers();
    m_driver->runUpdate();
    QCOMPARE(m_driver->text("Text2"), QString("DONE !"));
    lines = log();
    const qsizetype second = lines.lastIndexOf("Started on: 06-01-2024 21:07:00");
    QCOMPARE(lines[second - 2], QString());
    QCOMPARE(lines[second - 3], QString());
    QCOMPARE(lines.mid(second + 2),
             QStringList({"a0001", sizeLine("a0001", "c.jpg"), "b0001",
                          dataPath() + "b0001\\b0001c.jpg size 100", downloadLine("b0001", "c.jpg"),
                          "c0001", dataPath() + "c0001\\c0001c.jpg size 100",
                          downloadLine("c0001", "c.jpg"), "", "Finished on: 06-01-2024 21:07:00",
                          "Start : 06-01-2024 21:07:00 to Finish : 06-01-2024 21:07:00",
                          "Total Bytes Downloaded = " +
                              QString::number(QFileInfo(data("b0001/b0001c.jpg")).size() +
                                              QFileInfo(data("c0001/c0001c.jpg")).size()),
                          kRule, ""}));
}

void tst_UpdateRun::closingTheWindowDuringAFetchStopsAtOnce()
{
    writeGoodCard("a0001");
    const QByteArray former(10, 'f');
    writeBytes(data("a0001/a0001c.jpg"), former);
    writeGoodCard("b0001");
    QFile::remove(data("b0001/b0001c.jpg"));
    Answer slow;
    slow.fault = Answer::Fault::Stall;
    slow.stall = std::chrono::milliseconds(1500);
    slow.body = std::string(20000, 'n');
    m_server->setAnswer(assetTarget("a0001", "c.jpg"), slow);
    m_driver->fetcher().setTransferTimeout(std::chrono::milliseconds(5000));
    m_driver->tickOnly({"cbCI"});

    QTimer::singleShot(200, &m_driver->window(), [this] { m_driver->window().close(); });
    QElapsedTimer clock;
    clock.start();
    m_driver->runUpdate();
    QVERIFY(clock.elapsed() < 1400);

    QVERIFY(!m_driver->window().isVisible());
    QVERIFY(m_boxes->texts.isEmpty());
    QCOMPARE(readBytes(data("a0001/a0001c.jpg")), former);
    QVERIFY(!QFileInfo::exists(data("b0001/b0001c.jpg")));
    const QStringList lines = log();
    QCOMPARE(lines.mid(lines.size() - 6),
             QStringList({dataPath() + "a0001\\a0001c.jpg size 10", "",
                          "Stopped on: 06-01-2024 21:07:00", "Reason: the window was closed", kRule,
                          ""}));
}

QTEST_MAIN(tst_UpdateRun)
#include "tst_updaterun.moc"
