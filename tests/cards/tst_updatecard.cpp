#include "SampleCardServer.h"
#include "SampleCollection.h"
#include "TestSupport.h"
#include "WindowDriver.h"

#include <QDir>
#include <QtTest>

namespace {

std::string assetPath(const std::string& suffix)
{
    return "/free/sets/a0001/illustrations/a0001" + suffix;
}

} // namespace

class tst_UpdateCard : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void sizeRulesDecideInOnlyMissingMode_data();
    void sizeRulesDecideInOnlyMissingMode();
    void logBlockIsExactToTheByte();
    void onlyWholePicturesReplacePictures_data();
    void onlyWholePicturesReplacePictures();

private:
    QString local(const QString& suffix) const { return m_work->file("a0001/a0001" + suffix); }

    std::unique_ptr<WorkFolder> m_work;
    std::unique_ptr<SampleCardServer> m_server;
    std::unique_ptr<WindowDriver> m_driver;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
};

void tst_UpdateCard::init()
{
    m_work = std::make_unique<WorkFolder>();
    m_server = std::make_unique<SampleCardServer>();
    m_driver = std::make_unique<WindowDriver>(QString::fromStdString(m_server->origin()));
    m_boxes = std::make_unique<MessageBoxRecorder>();
    QDir().mkpath(m_work->file("a0001"));
}

void tst_UpdateCard::cleanup()
{
    m_driver.reset();
    m_boxes.reset();
    m_server.reset();
    m_work.reset();
}

void tst_UpdateCard::sizeRulesDecideInOnlyMissingMode_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<int>("size"); // -1: missing
    QTest::addColumn<bool>("fetched");
    const struct
    {
        const char* box;
        const char* suffix;
        int size;
        bool fetched;
    } edges[] = {
        {"cbCI", "c.jpg", 11999, true},      {"cbCI", "c.jpg", 12000, false},
        {"cbTI", "d.bmp", -1, true},         {"cbTI", "d.bmp", 0, true},
        {"cbTI", "d.bmp", 8000, false},      {"cbTI", "d.bmp", 8001, true},
        {"cbINF", ".woxinf", 0, true},       {"cbINF", ".woxinf", 8000, false},
        {"cbINF", ".woxinf", 8001, true},    {"cbCX", ".xml", 0, true},
        {"cbCX", ".xml", 1, false},          {"cbCP", "_full.png", 10999, true},
        {"cbCP", "_full.png", 11000, false},
    };
    for (const auto& edge : edges)
        QTest::addRow("%s %d", edge.suffix, edge.size)
            << edge.box << edge.suffix << edge.size << edge.fetched;
}

void tst_UpdateCard::sizeRulesDecideInOnlyMissingMode()
{
    QFETCH(QString, box);
    QFETCH(QString, suffix);
    QFETCH(int, size);
    QFETCH(bool, fetched);
    if (size >= 0)
        writeBytes(local(suffix), QByteArray(size, 'f'));

    for (const bool overwrite : {false, true}) {
        m_server->clearRequests();
        m_driver->prepare(m_work->path(), {box}, overwrite);
        m_driver->runOneCard("a0001");
        QCOMPARE(m_driver->text("Text2"), QString("DONE !"));
        QCOMPARE(!m_server->requests().empty(), overwrite || fetched);
        m_driver->pressReset();
    }
}

void tst_UpdateCard::onlyWholePicturesReplacePictures_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QByteArray>("served");
    QTest::addColumn<QString>("failure"); // empty: stored as served
    const QByteArray jpeg = toBytes(sample::assetBody("a0001", "c.jpg"));
    const QByteArray png = toBytes(sample::assetBody("a0001", "_full.png"));
    const QByteArray bmp = toBytes(sample::assetBody("a0001", "d.bmp"));
    const QByteArray gif = QByteArray("GIF89a\x01\0\x01\0\0\0\0;", 14);
    const QByteArray page = "<html><body>Error: database is down</body></html>";
    const auto row = [](const char* name, const char* suffix, const QByteArray& served,
                        const QString& failure) {
        QTest::newRow(name) << suffix << served << failure;
    };
    row("JPEG", "c.jpg", jpeg, "");
    row("PNG as .jpg", "c.jpg", png, "");
    row("GIF as .png", "_full.png", gif, "");
    row("BMP", "d.bmp", bmp, "");
    row("error page", "c.jpg", page,
        "the answer is not a whole picture (49 bytes, begins with \"<html><body>Erro\")");
    row("empty picture", "_full.png", "", "the answer is not a whole picture (0 bytes)");
    row("JPEG cut short", "c.jpg", jpeg.left(3000),
        "the answer is not a whole picture (3000 bytes, a JPEG cut short)");
    row("PNG cut short", "_full.png", png.chopped(1),
        QString("the answer is not a whole picture (%1 bytes, a PNG cut short)")
            .arg(png.size() - 1));
    row("BMP cut short", "d.bmp", bmp.chopped(1),
        QString("the answer is not a whole picture (%1 bytes, a BMP cut short)")
            .arg(bmp.size() - 1));
    QByteArray huge = bmp;
    for (const int at : {18, 22}) // width and height of 2^31 - 1 pixels
        huge.replace(at, 4, QByteArray("\xFF\xFF\xFF\x7F", 4));
    row("BMP of absurd size", "d.bmp", huge,
        QString("the answer is not a whole picture (%1 bytes, a BMP cut short)").arg(bmp.size()));
    row("GIF cut short", "_full.png", gif.chopped(1),
        "the answer is not a whole picture (13 bytes, a GIF cut short)");
    row("binary", "c.jpg", QByteArray("\0\x01\r\n", 4),
        "the answer is not a whole picture (4 bytes, begins with \"\\x00\\x01\\x0D\\x0A\")");
    row("info files as served", ".inf", "", "");
}

void tst_UpdateCard::onlyWholePicturesReplacePictures()
{
    QFETCH(QString, suffix);
    QFETCH(QByteArray, served);
    QFETCH(QString, failure);
    const QString local = suffix == ".inf" ? ".woxinf" : suffix;
    writeBytes(this->local(local), "former");
    m_server->setAnswer(assetPath(suffix.toStdString()), {200, served.toStdString()});
    const QString box = suffix == "c.jpg"       ? "cbCI"
                        : suffix == "_full.png" ? "cbCP"
                        : suffix == "d.bmp"     ? "cbTI"
                                                : "cbINF";
    // A grayed box is not a ticked one: its kind is never fetched.
    m_driver->prepare(m_work->path(), {box, "cbCX"}, true);
    m_driver->box("cbCX")->setCheckState(Qt::PartiallyChecked);
    m_driver->runOneCard("a0001");

    const QString url =
        QString::fromStdString(m_server->origin() + assetPath(suffix.toStdString()));
    QCOMPARE(m_driver->text("Text2"),
             failure.isEmpty() ? "DONE !"
                               : "Update stopped: could not get " + url + ": " + failure);
    QCOMPARE(readBytes(this->local(local)), failure.isEmpty() ? served : QByteArray("former"));
    QVERIFY(!logLines().join('\n').contains(".xml"));
}

void tst_UpdateCard::logBlockIsExactToTheByte()
{
    // Every kind of a card with three files damaged: "d.bmp" and ".woxinf" too large, the
    // ".xml" empty. One ".inf" fetch is stored twice, logged under both names, counted once.
    writeBytes(local("d.bmp"), QByteArray(8001, 'd'));
    writeBytes(local("e.bmp"), "good e.bmp is never looked at");
    writeBytes(local(".xml"), "");
    writeBytes(local("c.jpg"), QByteArray(30000, 'c'));
    writeBytes(local(".woxinf"), QByteArray(8001, 'w'));
    writeBytes(local("_full.png"), QByteArray(20000, 'p'));
    const QDateTime start(QDate(2024, 6, 1), QTime(21, 5, 9));
    FixedClock clock({start, start.addSecs(5)});
    m_driver->type("tKEY", " K&=y ");
    m_driver->type("tUSERNAME", " a user ");
    m_driver->prepare(m_work->path(), kAssetBoxes);
    m_driver->runOneCard("  a0001 ");
    QCOMPARE(m_driver->text("Text3"), QString("a0001"));

    const QString data = m_work->path() + "\\a0001\\a0001";
    const QString assets = QString::fromStdString(m_server->origin() + assetPath(""));
    const QString info = QString::fromStdString(m_server->origin()) +
                         "/bof/bof.php?cmd=cardinfo&zumikey=K&=y&zumiusername=a user&cardids=a0001"
                         "&xmlonly=1";
    const qsizetype d = sample::assetBody("a0001", "d.bmp").size();
    const qsizetype e = sample::assetBody("a0001", "e.bmp").size();
    const qsizetype x = sample::infoBody("a0001").size();
    const qsizetype inf = sample::assetBody("a0001", ".inf").size();
    const QString rule(47, u'#');
    QCOMPARE(logLines(),
             QStringList({"",
                          rule,
                          "Started on: 06-01-2024 21:05:09",
                          "",
                          data + "c.jpg size 30000",
                          data + "d.bmp size 8001",
                          QString("Download File: %1d.bmp New size %2").arg(assets).arg(d),
                          QString("Download File: %1e.bmp New size %2").arg(assets).arg(e),
                          data + ".woxinf size 8001",
                          QString("Download File: %1.woxinf New size %2").arg(assets).arg(inf),
                          QString("Download File: %1.woxdld New size %2").arg(assets).arg(inf),
                          data + ".xml size 0",
                          QString("Download File: %1 New size %2").arg(info).arg(x),
                          data + "_full.png size 20000",
                          "",
                          "Finished on: 06-01-2024 21:05:14",
                          "Start : 06-01-2024 21:05:09 to Finish : 06-01-2024 21:05:14",
                          QString("Total Bytes Downloaded = %1").arg(d + e + inf + x),
                          rule,
                          ""}));
}

QTEST_MAIN(tst_UpdateCard)
#include "tst_updatecard.moc"
