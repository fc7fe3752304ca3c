#include "Pictures.h"
#include "SampleCardServer.h"
#include "SampleCollection.h"
#include "TestSupport.h"
#include "WindowDriver.h"
#include "cards/CardAddresses.h"
#include "cards/UpdateCard.h"

#include <QDir>
#include <QtTest>

namespace {

// How a log line ends for a file passed over.
const QString kNotUpdated("Not brought up to date: %1; the file on disk is left as it was");

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
    void onlyWholeAnswersReplaceFiles_data();
    void onlyWholeAnswersReplaceFiles();
    void filesThatCannotBeUpdatedArePassedOver();

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
    QTest::addColumn<int>("size");             // -1: missing
    QTest::addColumn<QString>("soundPartner"); // the kind's other file, present and sound
    QTest::addColumn<bool>("fetched");
    const struct
    {
        const char* box;
        const char* suffix;
        int size;
        bool fetched;
        const char* soundPartner = "";
    } edges[] = {
        {"cbCI", "c.jpg", 11999, true},
        {"cbCI", "c.jpg", 12000, false},
        {"cbTI", "d.bmp", -1, true, "e.bmp"},
        {"cbTI", "d.bmp", 0, true, "e.bmp"},
        {"cbTI", "d.bmp", 8000, false, "e.bmp"},
        {"cbTI", "d.bmp", 8001, true, "e.bmp"},
        {"cbINF", ".woxinf", 0, true, ".woxdld"},
        {"cbINF", ".woxinf", 8000, false, ".woxdld"},
        {"cbINF", ".woxinf", 8001, true, ".woxdld"},
        {"cbCX", ".xml", 0, true},
        {"cbCX", ".xml", 1, false},
        {"cbCP", "_full.png", 10999, true},
        {"cbCP", "_full.png", 11000, false},
        // A pair is mended together: a missing or empty partner fetches its kind.
        {"cbTI", "e.bmp", -1, true, "d.bmp"},
        {"cbTI", "e.bmp", 0, true, "d.bmp"},
        {"cbTI", "e.bmp", 1, false, "d.bmp"},
        {"cbINF", ".woxdld", -1, true, ".woxinf"},
        {"cbINF", ".woxdld", 0, true, ".woxinf"},
        {"cbINF", ".woxdld", 1, false, ".woxinf"},
    };
    for (const auto& edge : edges)
        QTest::addRow("%s %d", edge.suffix, edge.size)
            << edge.box << edge.suffix << edge.size << edge.soundPartner << edge.fetched;
}

void tst_UpdateCard::sizeRulesDecideInOnlyMissingMode()
{
    QFETCH(QString, box);
    QFETCH(QString, suffix);
    QFETCH(int, size);
    QFETCH(QString, soundPartner);
    QFETCH(bool, fetched);
    if (size >= 0)
        writeBytes(local(suffix), QByteArray(size, 'f'));
    if (!soundPartner.isEmpty())
        writeBytes(local(soundPartner), QByteArray(100, 'f'));

    for (const bool overwrite : {false, true}) {
        m_server->clearRequests();
        m_driver->prepare(m_work->path(), {box}, overwrite);
        m_driver->runOneCard("a0001");
        QCOMPARE(m_driver->text("Text2"), QString("DONE !"));
        QCOMPARE(!m_server->requests().empty(), overwrite || fetched);
        if (fetched && !soundPartner.isEmpty())
            QVERIFY(QFileInfo(local(suffix)).size() > 1); // stored with its partner
        m_driver->pressReset();
    }
}

void tst_UpdateCard::onlyWholeAnswersReplaceFiles_data()
{
    using namespace pictures;
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QByteArray>("served");
    QTest::addColumn<QString>("failure"); // null: stored as served

    const auto stored = [](const char* name, const char* suffix, const QByteArray& picture) {
        QTest::newRow(name) << suffix << picture << QString();
    };
    // A picture's failure is what follows "(N bytes".
    const auto refused = [](const QString& name, const char* suffix, const QByteArray& served,
                            const QString& failure) {
        QTest::newRow(qPrintable(name)) << suffix << served
                                        << QString("the answer is not a whole picture (%1 bytes%2)")
                                               .arg(served.size())
                                               .arg(failure);
    };
    const auto refusedInfo = [](const char* name, const char* suffix, const QByteArray& served,
                                const QString& failure) {
        QTest::newRow(name) << suffix << served << failure;
    };
    // Each picture is stored as served, and refused when cut at half.
    const auto picture = [&](const char* name, const char* suffix, const QByteArray& bytes,
                             const char* format) {
        stored(name, suffix, bytes);
        refused(QString("%1, cut at half").arg(name), suffix, bytes.left(bytes.size() / 2),
                QString(", a %1 cut short").arg(format));
    };

    const QByteArray jpeg = written(drawn(40, 30), "JPG");
    qsizetype thumbnailEnd = 0;
    const QByteArray exifJpeg = withThumbnail(jpeg, thumbnailEnd);
    picture("baseline JPEG", "c.jpg", jpeg, "JPEG");
    picture("progressive JPEG", "c.jpg", written(drawn(40, 30), "JPG", true), "JPEG");
    picture("JPEG with an EXIF thumbnail", "c.jpg", exifJpeg, "JPEG");
    stored("JPEG with a phone's trailer", "c.jpg", jpeg + "SEFH" + QByteArray(300, 'x') + "SEFT");
    stored("JPEG with a motion photo", "c.jpg",
           jpeg +
               QByteArray("\0\0\0\x18"
                          "ftypmp42",
                          12) +
               QByteArray(20000, 'v'));
    stored("JPEG padded with zeros", "c.jpg", jpeg + QByteArray(100, '\0'));
    stored("JPEG padded with FF", "c.jpg", jpeg + QByteArray(64, '\xFF'));
    refused("JPEG cut after its thumbnail", "c.jpg", exifJpeg.left(thumbnailEnd),
            ", a JPEG cut short");
    refused("JPEG markers alone", "c.jpg", "\xFF\xD8\xFF\xD9", ", a damaged JPEG");

    const QByteArray png = written(drawn(40, 30), "PNG");
    picture("interlaced PNG", "_full.png", interlaced(png), "PNG");
    picture("16-bit PNG as .jpg", "c.jpg", written(drawn(8, 6, QImage::Format_RGBA64), "PNG"),
            "PNG");
    picture("PNG with text after its pixels", "_full.png",
            beforeEnd(png, pngChunk("tEXt", QByteArray("Comment\0after the pixels", 24))), "PNG");
    QByteArray wrongCrc = png;
    wrongCrc[32] = char(wrongCrc[32] ^ 1); // the header chunk's CRC
    refused("PNG with a wrong CRC", "_full.png", wrongCrc, ", a damaged PNG");
    stored("PNG and a line end", "_full.png", png + "\n");
    stored("PNG and data after IEND", "_full.png", png + QByteArray(3000, 'd'));

    const QByteArray masks16("\0\xF8\0\0\xE0\x07\0\0\x1F\0\0\0", 12);
    const QByteArray masks32("\0\0\xFF\0\0\xFF\0\0\xFF\0\0\0", 12);
    const QByteArray palette(256 * 4, '\x7F');
    // A run of four pixels, a line end, four pixels as they are, the end of the bitmap.
    const QByteArray runs("\x04\x01\0\0\0\x04\x01\0\x01\0\0\x01", 12);
    picture("BMP, core header", "d.bmp", bmp(12, 2, 24, 0, {}, QByteArray(24, 'p')), "BMP");
    picture("BMP, 40-byte header", "d.bmp", written(drawn(40, 30), "BMP"), "BMP");
    picture("BMP, V5 header", "d.bmp", bmp(124, 2, 32, 3, {}, QByteArray(32, 'p')), "BMP");
    picture("BMP, top-down", "d.bmp", bmp(40, -2, 24, 0, {}, QByteArray(24, 'p')), "BMP");
    picture("BMP, 16-bit bit-fields", "d.bmp", bmp(40, 2, 16, 3, masks16, QByteArray(16, 'p')),
            "BMP");
    picture("BMP, 32-bit bit-fields", "d.bmp", bmp(40, 2, 32, 3, masks32, QByteArray(32, 'p')),
            "BMP");
    picture("BMP, RLE8", "d.bmp", bmp(40, 2, 8, 1, palette, runs), "BMP");
    picture("BMP, 1-bit", "d.bmp", written(drawn(40, 30, QImage::Format_Mono), "BMP"), "BMP");
    refused("RLE BMP without pixels", "d.bmp", bmp(40, 2, 8, 1, palette, {}), ", a BMP cut short");
    QByteArray huge = written(drawn(40, 30), "BMP");
    for (const int at : {18, 22}) // width and height of 2^31 - 1 pixels
        huge.replace(at, 4, QByteArray("\xFF\xFF\xFF\x7F", 4));
    refused("BMP of absurd size", "d.bmp", huge, ", a BMP cut short");

    // Pixels as raw bytes, among them the trailer's ";" (0x3B).
    QByteArray pixels;
    for (int i = 0; i < 600; ++i)
        pixels += char(i * 7);
    const QByteArray frame = QByteArray("\x21\xF9\x04\x04\x0A\0\0\0", 8) + gifImage(pixels);
    const QByteArray animated =
        gif("GIF89a", QByteArray("\x21\xFF\x0BNETSCAPE2.0\x03\x01\0\0\0", 19) + frame + frame);
    picture("GIF87a as .jpg", "c.jpg", gif("GIF87a", gifImage(pixels)), "GIF");
    picture("animated GIF89a", "_full.png", animated, "GIF");
    stored("GIF padded with zeros", "_full.png", animated + QByteArray(100, '\0'));
    refused("GIF cut after a ; in its pixels", "_full.png",
            animated.left(animated.indexOf(';', animated.indexOf("\x2C")) + 1),
            ", a GIF cut short");

    refused("PNG without its end chunk", "_full.png", png.chopped(12), ", a PNG cut short");
    refused("JPEG with a frame and no scan", "c.jpg",
            jpeg.left(jpeg.indexOf("\xFF\xDA")) + "\xFF\xD9", ", a damaged JPEG");
    refused("GIF without an image", "_full.png", gif("GIF89a", {}), ", a damaged GIF");
    refused("HTML page", "c.jpg", "<html><body>Error: database is down</body></html>",
            ", begins with \"<html><body>Erro\"");
    refused("empty picture", "_full.png", "", "");
    refused("binary", "c.jpg", QByteArray("\0\x01\r\n", 4),
            ", begins with \"\\x00\\x01\\x0D\\x0A\"");
    // Info files are stored as served, but never when they are empty or an error page.
    stored("info file", ".inf", "[card]\nname=a0001\n");
    refusedInfo("empty info file", ".inf", "", "the answer is empty");
    refusedInfo("info file as an error page", ".inf", "\n <!DOCTYPE HTML PUBLIC>",
                "the answer is an HTML page, not an info file (24 bytes, begins with "
                "\"\\x0A <!DOCTYPE HTML\")");
    refusedInfo("info file as an XHTML page", ".inf",
                "<?xml version=\"1.0\"?>\n<!DOCTYPE html><html></html>",
                "the answer is an HTML page, not an info file (50 bytes, begins with "
                "\"<?xml version=\"1\")");
    refusedInfo("info file as a page after a comment", ".inf", "<!-- 404 --><html>Not found</html>",
                "the answer is an HTML page, not an info file (34 bytes, begins with "
                "\"<!-- 404 --><htm\")");
    refusedInfo("info file as a page in UTF-16", ".inf",
                QByteArray(reinterpret_cast<const char*>(u"\uFEFF<html>Not found</html>"), 46),
                "the answer is an HTML page, not an info file (46 bytes, begins with "
                "\"\\xFF\\xFE<\\x00h\\x00t\\x00m\\x00l\\x00>\\x00N\\x00\")");
    refusedInfo("info file of white space", ".inf", " \r\n\t", "the answer is only white space");
    stored("info file beginning with white space", ".inf", "\n  <card name=\"a0001\"/>\n");
    stored("XML", ".xml", "<?xml version=\"1.0\"?><cards><card id=\"a0001\"/></cards>\n");
    refusedInfo("empty XML", ".xml", "", "the answer is empty, not an XML document");
    refusedInfo("XML cut short", ".xml", "<cards><card id=\"a0001\"/>",
                "the answer is not an XML document (25 bytes, begins with \"<cards><card id=\")");
    // Refused before any entity is expanded: a few bytes can expand to gigabytes.
    refusedInfo("XML declaring entities", ".xml",
                "<!DOCTYPE c [<!ENTITY e \"ee\">]><c>&e;&e;&e;</c>",
                "the answer declares entities, which no card's info has (47 bytes, begins with "
                "\"<!DOCTYPE c [<!E\")");
    refusedInfo("XML as an error page", ".xml", "<html><body>Not found</body></html>",
                "the answer is not an XML document (35 bytes, begins with \"<html><body>Not \")");
}

void tst_UpdateCard::onlyWholeAnswersReplaceFiles()
{
    QFETCH(QString, suffix);
    QFETCH(QByteArray, served);
    QFETCH(QString, failure);
    const QString local = suffix == ".inf" ? ".woxinf" : suffix;
    writeBytes(this->local(local), "former");
    const std::string target = suffix == ".xml" ? "/bof/bof.php" : assetPath(suffix.toStdString());
    m_server->setInjector([target, body = served.toStdString()](const std::string& asked) {
        return asked.rfind(target, 0) == 0 ? std::optional(SampleCardServer::Answer{200, body})
                                           : std::nullopt;
    });
    const QString box = suffix == "c.jpg"       ? "cbCI"
                        : suffix == "_full.png" ? "cbCP"
                        : suffix == "d.bmp"     ? "cbTI"
                        : suffix == ".xml"      ? "cbCX"
                                                : "cbINF";
    // A grayed box is not a ticked one: its kind is never fetched.
    const QString grayed = box == "cbCX" ? "cbCI" : "cbCX";
    m_driver->prepare(m_work->path(), {box, grayed}, true);
    m_driver->box(grayed)->setCheckState(Qt::PartiallyChecked);
    m_driver->runOneCard("a0001");

    // An answer that cannot be the file is passed over, the former file kept, and the other
    // file of the kind with it.
    const QString passedOver =
        QString("DONE, but %1 could not be brought up to date: the run log "
                "KX-GET-CardDataUpdates.txt says which and why")
            .arg(suffix == "d.bmp" || suffix == ".inf" ? "2 files" : "1 file");
    QCOMPARE(m_driver->text("Text2"), failure.isNull() ? QString("DONE !") : passedOver);
    QCOMPARE(readBytes(this->local(local)), failure.isNull() ? served : QByteArray("former"));
    if (!failure.isNull())
        QCOMPARE(logLines().filter(kNotUpdated.arg(failure)).size(), suffix == ".inf" ? 2 : 1);
    QCOMPARE(logLines().filter(grayed == "cbCX" ? ".xml" : "c.jpg"), QStringList());
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
    FixedClock clock({start, start, start.addSecs(5)}); // the lock's, the start, the finish
    m_driver->type("tKEY", " K&=y ");
    m_driver->type("tUSERNAME", " a user ");
    m_driver->prepare(m_work->path(), kAssetBoxes);
    m_driver->type("tDATA", m_work->path()); // without its final separator: the run adds it
    m_driver->runOneCard("  a0001 ");
    QCOMPARE(m_driver->text("Text3"), QString("a0001"));
    QCOMPARE(m_driver->text("tDATA"), m_work->path() + "\\");

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

void tst_UpdateCard::filesThatCannotBeUpdatedArePassedOver()
{
    // The server lacks a file of each kind but the last, whose picture it serves cut short,
    // and one card file is read-only; a second card is whole on the server.
    QDir().mkpath(m_work->file("a0002"));
    writeBytes(local(".xml"), "old xml");
    QFile::setPermissions(local(".xml"), QFile::ReadOwner);
    m_server->setAnswer(assetPath("c.jpg"), {404, "not here"});
    m_server->setAnswer(assetPath("e.bmp"), {404, "not here"});
    m_server->setAnswer(assetPath(".inf"), {410, "gone"});
    const std::string png = sample::assetBody("a0001", "_full.png");
    m_server->setAnswer(assetPath("_full.png"), {200, png.substr(0, png.size() / 2)});
    const QDateTime start(QDate(2024, 6, 1), QTime(21, 5, 9));
    FixedClock clock({start, start, start.addSecs(5)});
    m_driver->prepare(m_work->path(), kAssetBoxes, true);
    m_driver->runUpdate();

    const QString missing = kNotUpdated.arg("the server answered 404 Not Found");
    const QString gone = kNotUpdated.arg("the server answered 410 Gone");
    const QString path = m_work->path() + "\\a0001\\a0001";
    const QString assets = QString::fromStdString(m_server->origin() + assetPath(""));
    const QString info = infoUrl(QString::fromStdString(m_server->origin()), "KEYCODEPLACEHOLDER",
                                 "USERNAME", "a0001");
    const QString together = "it is stored only together with a0001e.bmp, which was not";
    const QStringList lines = logLines();
    const qsizetype first = lines.indexOf("a0001");
    QCOMPARE(
        lines.mid(first, lines.indexOf("a0002") - first),
        QStringList(
            {"a0001", path + "c.jpg size 0",
             QString("Download File: %1c.jpg %2").arg(assets, missing), path + "d.bmp size 0",
             QString("Download File: %1d.bmp %2").arg(assets, kNotUpdated.arg(together)),
             QString("Download File: %1e.bmp %2").arg(assets, missing), path + ".woxinf size 0",
             QString("Download File: %1.woxinf %2").arg(assets, gone),
             QString("Download File: %1.woxdld %2").arg(assets, gone), path + ".xml size 7",
             QString("Download File: %1 %2").arg(info, kNotUpdated.arg("the file is read-only")),
             path + "_full.png size 0",
             QString("Download File: %1_full.png %2")
                 .arg(assets, kNotUpdated.arg(QString("the answer is not a whole picture (%1 "
                                                      "bytes, a PNG cut short)")
                                                  .arg(png.size() / 2)))}));
    qsizetype total = sample::infoBody("a0002").size();
    for (const char* suffix : {"c.jpg", "d.bmp", "e.bmp", ".inf", "_full.png"})
        total += sample::assetBody("a0002", suffix).size();
    QCOMPARE(lines.mid(lines.size() - 4),
             QStringList({QString("Total Bytes Downloaded = %1").arg(total),
                          "Files not brought up to date = 7", QString(47, u'#'), ""}));

    const QString done = "DONE, but 7 files could not be brought up to date: the run log "
                         "KX-GET-CardDataUpdates.txt says which and why";
    QCOMPARE(m_driver->text("Text2"), done);
    QCOMPARE(m_boxes->texts, QStringList{done});
    QCOMPARE(readBytes(local(".xml")), QByteArray("old xml"));
    QCOMPARE(filesBelow(m_work->file("a0001")), QStringList({"a0001.xml"}));
    QCOMPARE(filesBelow(m_work->file("a0002")).size(), qsizetype(7));

    // Once the server has them, the next run in "Only Missing Files" mode brings every file
    // passed over up to date: a kind's files were stored together or not at all.
    m_server->clearAnswers();
    m_driver->pressReset();
    m_driver->prepare(m_work->path(), {"cbCI", "cbTI", "cbINF", "cbCP"});
    m_driver->runOneCard("a0001");
    QCOMPARE(m_driver->text("Text2"), QString("DONE !"));
    QCOMPARE(filesBelow(m_work->file("a0001")).size(), qsizetype(7));
}

QTEST_MAIN(tst_UpdateCard)
#include "tst_updatecard.moc"
