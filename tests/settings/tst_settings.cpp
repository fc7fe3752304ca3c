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

QTEST_MAIN(tst_Settings)
#include "tst_settings.moc"
