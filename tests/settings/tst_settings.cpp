#include "TestSupport.h"
#include "WindowDriver.h"

#include <QDir>
#include <QtTest>

namespace {

const QStringList kInitialValues{
    "USERNAME", "KEYCODEPLACEHOLDER",
    "C:\\Documents and Settings\\NAME\\Application Data\\zumi\\Data\\"};

QByteArray settingsFile(const QByteArray& user, const QByteArray& key, const QByteArray& data)
{
    return "# KX Card Update Saved Info\r\n# UserName\r\n" + user + "\r\n# Key Code\r\n" + key +
           "\r\n# Path to Data Folder\r\n" + data + "\r\n";
}

QStringList boxes(const WindowDriver& driver)
{
    return {driver.text("tUSERNAME"), driver.text("tKEY"), driver.text("tDATA")};
}

} // namespace

class tst_Settings : public QObject
{
    Q_OBJECT

private slots:
    void loadTakesLinesThreeFiveAndSevenOrNothing_data();
    void loadTakesLinesThreeFiveAndSevenOrNothing();
    void saveWritesTrimmedValuesWholeOrNotAtAll();
    void cardApplicationValuesFillOnlyWhatIsNotSaved_data();
    void cardApplicationValuesFillOnlyWhatIsNotSaved();
};

void tst_Settings::loadTakesLinesThreeFiveAndSevenOrNothing_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("values"); // empty: the boxes keep their initial texts
    const QStringList jdoe{"jdoe", "K3Y", "D:\\Data\\"};
    QTest::newRow("as saved") << settingsFile("jdoe", "K3Y", "D:\\Data\\") << jdoe;
    QTest::newRow("other labels, more lines, no last line end")
        << QByteArray("x\r\ny\r\njdoe\r\nz\r\nK3Y\r\n\r\nD:\\Data\\\r\nmore\r\nlines") << jdoe;
    QTest::newRow("last line without line end")
        << QByteArray("1\r\n2\r\njdoe\r\n4\r\nK3Y\r\n6\r\nD:\\Data\\") << jdoe;
    QTest::newRow("LF and lone CR") << QByteArray("1\n2\rjdoe\n4\r\nK3Y\r6\nD:\\Data\\\n") << jdoe;
    QTest::newRow("spaces kept") << settingsFile("  jdoe ", " K3Y", "D:\\Data\\ ")
                                 << QStringList{"  jdoe ", " K3Y", "D:\\Data\\ "};
    QTest::newRow("missing") << QByteArray() << QStringList();
    QTest::newRow("six lines") << QByteArray("1\r\n2\r\njdoe\r\n4\r\nK3Y\r\n6\r\n")
                               << QStringList();
    QTest::newRow("a line past a megabyte")
        << settingsFile(QByteArray(2 << 20, 'u'), "K", "D") << QStringList();
    QTest::newRow("a pipe") << QByteArray("<pipe>") << QStringList();
}

void tst_Settings::loadTakesLinesThreeFiveAndSevenOrNothing()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, values);
    WorkFolder work;
    if (file == "<pipe>") {
        if (!makePipe("KXSavedInfo.txt")) // it must not hold the start up
            QSKIP("this system makes no pipes in folders");
    } else if (!file.isNull())
        writeBytes("KXSavedInfo.txt", file);
    WindowDriver driver;
    QCOMPARE(boxes(driver), values.isEmpty() ? kInitialValues : values);
    QCOMPARE(driver.text("Text2"), QString());
}

void tst_Settings::saveWritesTrimmedValuesWholeOrNotAtAll()
{
    WorkFolder work;
    {
        WindowDriver driver;
        driver.type("tUSERNAME", "  J. Doe  ");
        driver.type("tKEY", "   ");
        driver.type("tDATA", " D:\\My Cards ");
        driver.box("Check1")->click();
        driver.button("Command3")->click();
        QCOMPARE(driver.text("Text2"), QString("You Info was Saved !"));
        QCOMPARE(driver.text("tUSERNAME"), QString("  J. Doe  "));
    }
    const QByteArray saved = settingsFile("J. Doe", "", "D:\\My Cards");
    QCOMPARE(readBytes("KXSavedInfo.txt"), saved);
    WindowDriver driver;
    QCOMPARE(boxes(driver), QStringList({"J. Doe", "", "D:\\My Cards"}));

    // A save cut short by a full disk, or by another program holding the file, keeps the
    // former file, and says why in plain words.
    driver.box("Check1")->click();
    driver.type("tUSERNAME", "someone else");
    {
        FileSizeLimit limit(20);
        HeldOpen held("KXSavedInfo.txt");
        driver.button("Command3")->click();
    }
    QCOMPARE(driver.text("Text2"),
             QString("Could not save your info: ") + (HeldOpen::available()
                                                          ? "the file is in use by another program"
                                                          : "File too large"));
    QCOMPARE(readBytes("KXSavedInfo.txt"), saved);
    QCOMPARE(filesBelow("."), QStringList{"KXSavedInfo.txt"});
    driver.button("Command3")->click();
    QCOMPARE(readBytes("KXSavedInfo.txt"), settingsFile("someone else", "", "D:\\My Cards"));

    // A path the system's 8-bit encoding cannot hold (Cyrillic under a Western code page) is
    // refused, never saved with "?" in its place.
    driver.type("tDATA", "D:\\Данные");
    driver.button("Command3")->click();
    if (driver.text("Text2") != "You Info was Saved !") {
        QCOMPARE(driver.text("Text2"),
                 QString("Could not save your info: the data folder path has characters that text "
                         "files on this computer cannot hold (the language for non-Unicode "
                         "programs)"));
        QCOMPARE(readBytes("KXSavedInfo.txt"), settingsFile("someone else", "", "D:\\My Cards"));
    } else {
        QCOMPARE(boxes(WindowDriver()).last(), QString("D:\\Данные"));
    }
}

void tst_Settings::cardApplicationValuesFillOnlyWhatIsNotSaved_data()
{
    QTest::addColumn<QByteArray>("userReg");
    QTest::addColumn<QStringList>("saved");  // the user name and key code saved before, if any
    QTest::addColumn<QStringList>("values"); // the user name and key code boxes after start-up
    QTest::addColumn<QString>("said");
    QTest::addColumn<QString>("prefix"); // WINEPREFIX as the user set it; null: the test's own
    const QByteArray key = "[Software\\\\Kelvo\\\\zumi\\\\DLM] 1700000000\n#time=1d\n";
    const QByteArray bob = key + "\"key\"=\"K-1\"\n\"username\"=\"bob\"\n";
    const QStringList initial = kInitialValues.mid(0, 2);
    const QStringList saved{"jdoe", "K3Y"};
    const QString filled = "The %1 filled in from the card application "
                           "(HKCU\\Software\\Kelvo\\zumi\\DLM): check %2 before you tick the box.";
    const QString both = filled.arg("key code and user name were", "them");
    const auto row = [](const char* name, const QByteArray& userReg, const QStringList& saved,
                        const QStringList& values, const QString& said,
                        const QString& prefix = {}) {
        QTest::newRow(name) << userReg << saved << values << said << prefix;
    };
    row("nothing saved", bob, {}, {"bob", "K-1"}, both);
    row("saved info wins", bob, saved, saved,
        "The card application holds another key code and user name than your saved info (it "
        "may have been registered again): the saved ones are kept.");
    // Compared as a run takes them, without spaces around.
    row("as saved", key + "\"key\"=\" K3Y\"\n\"username\"=\"jdoe\"\n", {" jdoe ", "K3Y "},
        {" jdoe ", "K3Y "}, {});
    row("too long, not a string",
        key + "\"key\"=\"" + QByteArray(257, 'k') + "\"\n\"username\"=dword:7\n", {}, initial, {});
    row("no key", {}, {}, initial, {});
    // Wine's own file, as Wine writes it: escapes, names in any case, other keys, damage.
    row("Wine's escapes", key + "\"Key\"=\"a\\\\b\\\"c\\x00e9\"\n\"UserName\"=\"jo\"\n", {},
        {"jo", "a\\b\"c\u00e9"}, both);
    row("Wine's key in another case",
        "[software\\\\KELVO\\\\Zumi\\\\dlm] 1\n\"key\"=\"K-1\"\n\"username\"=\"bob\"\n", {},
        {"bob", "K-1"}, both);
    row("garbage and other keys",
        "[Software\\\\Kelvo\\\\zumi] 1\n\"key\"=\"other\"\n\x01\xff[\n" + key +
            "\"username\"=\"no end\n\"key\"=str(2):\"%x%\"\n\"key\"=\"a\\nb\"\n",
        {}, initial, {});
    // Values that would show other than they are, or not at all, are never put in a box.
    row("zero-width space, undecodable byte",
        key + "\"key\"=\"K\\x200b1\"\n\"username\"=\"b\xffob\"\n", {}, initial, {});
    row("half a surrogate, DEL", key + "\"key\"=\"K\\xd8001\"\n\"username\"=\"bo\\x007fb\"\n", {},
        initial, {});
    row("right-to-left override, only spaces",
        key + "\"key\"=\"\\x202e1-K\"\n\"username\"=\"   \"\n", {}, initial, {});
    // Where Wine looks: ~/.wine when WINEPREFIX is empty; nowhere when it is not absolute.
    row("empty WINEPREFIX", bob, {}, {"bob", "K-1"}, both, "");
    row("relative WINEPREFIX", bob, {}, initial, {}, "wine");
}

void tst_Settings::cardApplicationValuesFillOnlyWhatIsNotSaved()
{
    QFETCH(QByteArray, userReg);
    QFETCH(QStringList, saved);
    QFETCH(QStringList, values);
    QFETCH(QString, said);
    QFETCH(QString, prefix);
#ifdef Q_OS_WIN
    if (QString(QTest::currentDataTag()).contains("Wine") || !prefix.isNull() ||
        QString(QTest::currentDataTag()).contains("garbage") || userReg.contains("\\x") ||
        userReg.contains('\xff'))
        QSKIP("the text of Wine's registry file is read on Linux only");
#endif
    WorkFolder work;
    if (!saved.isEmpty())
        writeBytes("KXSavedInfo.txt",
                   settingsFile(saved[0].toUtf8(), saved[1].toUtf8(), "D:\\Data\\"));
    CardApplication application("WINE REGISTRY Version 2\n\n" + userReg);
    const Change userPrefix(
        [&] {
            if (prefix.isNull())
                return;
            qputenv("WINEPREFIX", prefix.toLocal8Bit());
            qputenv("HOME", QDir::current().absolutePath().toLocal8Bit());
            if (prefix.isEmpty()) // where the home folder's prefix is
                QDir().rename("wine", ".wine");
        },
        [former = qgetenv("HOME")] { qputenv("HOME", former); });
    WindowDriver driver;
    QCOMPARE(boxes(driver).mid(0, 2), values);
    QCOMPARE(driver.text("Text2"), said);
}

QTEST_MAIN(tst_Settings)
#include "tst_settings.moc"
