#include "TestSupport.h"
#include "WindowDriver.h"

#include <QDir>
#include <QRandomGenerator>
#include <QtTest>

namespace {

const QString kInitialUser = "USERNAME";
const QString kInitialKey = "KEYCODEPLACEHOLDER";
const QString kInitialData = "C:\\Documents and Settings\\NAME\\Application Data\\zumi\\Data\\";

QByteArray settingsFile(const QByteArray& user, const QByteArray& key, const QByteArray& data)
{
    return "# KX Card Update Saved Info\r\n# UserName\r\n" + user + "\r\n# Key Code\r\n" + key +
           "\r\n# Path to Data Folder\r\n" + data + "\r\n";
}

} // namespace

class tst_Settings : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void loadFillsTheBoxes_data();
    void loadFillsTheBoxes();
    void shortOrMissingFileChangesNoBox_data();
    void shortOrMissingFileChangesNoBox();
    void badFilesNeitherCrashNorHang_data();
    void badFilesNeitherCrashNorHang();
    void randomFilesFollowTheLoadRules();
    void saveWritesSevenLinesExactly();
    void saveKeepsOnlyTheLastValues();
    void savedValuesReloadAtNextStart();
    void failedSaveIsReportedAndNextSaveWorks();

private:
    void checkBoxes(const WindowDriver& driver, const QString& user, const QString& key,
                    const QString& data)
    {
        QCOMPARE(driver.text("tUSERNAME"), user);
        QCOMPARE(driver.text("tKEY"), key);
        QCOMPARE(driver.text("tDATA"), data);
    }
    // The window is usable after start-up: the confirmation unlocks the buttons.
    void checkUsable(WindowDriver& driver)
    {
        QVERIFY(!driver.button("Command1")->isEnabled());
        driver.box("Check1")->click();
        QVERIFY(driver.button("Command1")->isEnabled());
        QVERIFY(driver.button("Command3")->isEnabled());
        QCOMPARE(driver.text("Text2"), QString());
    }

    std::unique_ptr<WorkFolder> m_work;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
};

void tst_Settings::init()
{
    m_work = std::make_unique<WorkFolder>();
    m_boxes = std::make_unique<MessageBoxRecorder>();
}

void tst_Settings::cleanup()
{
    QVERIFY(m_boxes->texts.isEmpty());
    m_boxes.reset();
    m_work.reset();
}

void tst_Settings::loadFillsTheBoxes_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("data");

    QTest::newRow("as saved") << settingsFile("jdoe", "K3Y", "D:\\Data\\") << "jdoe"
                              << "K3Y"
                              << "D:\\Data\\";
    QTest::newRow("other label text")
        << QByteArray("x\r\ny\r\njdoe\r\nz\r\nK3Y\r\n\r\nD:\\Data\r\n") << "jdoe"
        << "K3Y"
        << "D:\\Data";
    QTest::newRow("more than seven lines")
        << settingsFile("jdoe", "K3Y", "D:\\Data\\") + "extra\r\nlines\r\n"
        << "jdoe"
        << "K3Y"
        << "D:\\Data\\";
    QTest::newRow("last line without CR LF")
        << QByteArray("1\r\n2\r\njdoe\r\n4\r\nK3Y\r\n6\r\nD:\\My Data\\") << "jdoe"
        << "K3Y"
        << "D:\\My Data\\";
    QTest::newRow("spaces kept on load")
        << settingsFile("  jdoe ", " K3Y", "D:\\Data\\   ") << "  jdoe "
        << " K3Y"
        << "D:\\Data\\   ";
    QTest::newRow("LF and lone CR line ends")
        << QByteArray("1\n2\rjdoe\n4\r\nK3Y\r6\nD:\\Data\\\n") << "jdoe"
        << "K3Y"
        << "D:\\Data\\";
    QTest::newRow("empty values") << settingsFile("", "", "") << ""
                                  << ""
                                  << "";
    QTest::newRow("long line") << settingsFile(QByteArray(100000, 'u'), "K", "D")
                               << QString(100000, 'u') << "K"
                               << "D";
}

void tst_Settings::loadFillsTheBoxes()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, user);
    QFETCH(QString, key);
    QFETCH(QString, data);
    writeBytes(m_work->file("KXSavedInfo.txt"), file);
    WindowDriver driver;
    checkBoxes(driver, user, key, data);
    checkUsable(driver);
}

void tst_Settings::shortOrMissingFileChangesNoBox_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("missing") << QByteArray();
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("six lines") << QByteArray("1\r\n2\r\njdoe\r\n4\r\nK3Y\r\n6\r\n");
    QTest::newRow("three lines") << QByteArray("1\r\n2\r\njdoe\r\n");
}

void tst_Settings::shortOrMissingFileChangesNoBox()
{
    QFETCH(QByteArray, file);
    if (!file.isNull())
        writeBytes(m_work->file("KXSavedInfo.txt"), file);
    WindowDriver driver;
    checkBoxes(driver, kInitialUser, kInitialKey, kInitialData);
    checkUsable(driver);
    // A save after a failed load works.
    driver.button("Command3")->click();
    QCOMPARE(driver.text("Text2"), QString("You Info was Saved !"));
}

void tst_Settings::badFilesNeitherCrashNorHang_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("loads"); // 1 loads, 0 changes no box, -1 either
    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary.append(char(QRandomGenerator(7 + i).bounded(256)));
    QTest::newRow("binary") << binary << -1;
    QTest::newRow("NUL bytes") << settingsFile(QByteArray("j\0d", 3), QByteArray("\0", 1), "D")
                               << 1;
    QTest::newRow("no line ends") << QByteArray(3 << 20, 'x') << 0;
    QTest::newRow("several megabytes of lines") << QByteArray("line\r\n").repeated(1 << 20) << 1;
    QTest::newRow("value line over a megabyte")
        << settingsFile(QByteArray(2 << 20, 'u'), "K", "D") << 0;
    QTest::newRow("lone CRs only") << QByteArray(10000, '\r') << 1;
}

void tst_Settings::badFilesNeitherCrashNorHang()
{
    QFETCH(QByteArray, file);
    QFETCH(int, loads);
    writeBytes(m_work->file("KXSavedInfo.txt"), file);
    WindowDriver driver;
    if (loads == 0)
        checkBoxes(driver, kInitialUser, kInitialKey, kInitialData);
    else if (loads == 1)
        QVERIFY(driver.text("tUSERNAME") != kInitialUser);
    checkUsable(driver);
}

void tst_Settings::randomFilesFollowTheLoadRules()
{
    // A thousand files of random lines: random bytes with NULs and broken characters, line
    // ends of every kind, now and then a line over the one-megabyte limit. Either all three
    // boxes take lines 3, 5 and 7, or none changes.
    QRandomGenerator random(20261206);
    const QByteArray ends[] = {"\r\n", "\n", "\r"};
    for (int round = 0; round < 1000; ++round) {
        QList<QByteArray> lines;
        const int count = random.bounded(11);
        for (int line = 0; line < count; ++line) {
            const bool huge = random.bounded(100) == 0;
            QByteArray text(huge ? (1 << 20) + 1 : random.bounded(60), 'h');
            if (!huge) {
                for (char& c : text) {
                    c = char(random.bounded(256));
                    if (c == '\r' || c == '\n')
                        c = '\0';
                }
            }
            lines << text;
        }
        QByteArray file;
        for (int line = 0; line < count; ++line) {
            const bool last = line == count - 1;
            QByteArray end = last && random.bounded(2) ? QByteArray() : ends[random.bounded(3)];
            // A lone CR followed by an LF is one CR LF line end.
            if (file.endsWith('\r') && lines[line].isEmpty() && end == "\n")
                end = "\r\n";
            file += lines[line] + end;
        }
        writeBytes(m_work->file("KXSavedInfo.txt"), file);

        WindowDriver driver;
        bool readable = count >= 7;
        for (int line = 0; line < qMin(count, 7); ++line)
            readable = readable && lines[line].size() <= (1 << 20);
        // The system's 8-bit encoding is UTF-8 here.
        if (readable)
            checkBoxes(driver, QString::fromUtf8(lines[2]), QString::fromUtf8(lines[4]),
                       QString::fromUtf8(lines[6]));
        else
            checkBoxes(driver, kInitialUser, kInitialKey, kInitialData);
        if (QTest::currentTestFailed()) {
            qWarning() << "round" << round << "file" << file.left(200).toHex();
            return;
        }
    }
}

void tst_Settings::saveWritesSevenLinesExactly()
{
    WindowDriver driver;
    driver.type("tUSERNAME", "  J. Doe  ");
    driver.type("tKEY", "   ");
    driver.type("tDATA", " D:\\My Cards\\Data ");
    driver.box("Check1")->click();
    driver.button("Command3")->click();
    QCOMPARE(driver.text("Text2"), QString("You Info was Saved !"));
    QCOMPARE(readBytes(m_work->file("KXSavedInfo.txt")),
             QByteArray("# KX Card Update Saved Info\r\n# UserName\r\nJ. Doe\r\n# Key Code\r\n"
                        "\r\n# Path to Data Folder\r\nD:\\My Cards\\Data\r\n"));
    // The boxes keep what was typed; the state stays Ready.
    QCOMPARE(driver.text("tUSERNAME"), QString("  J. Doe  "));
    QVERIFY(driver.button("Command1")->isEnabled());
    QVERIFY(driver.button("Command3")->isEnabled());
}

void tst_Settings::saveKeepsOnlyTheLastValues()
{
    WindowDriver driver;
    driver.box("Check1")->click();
    driver.type("tUSERNAME", "first user with a much longer name");
    driver.button("Command3")->click();
    driver.type("tUSERNAME", "second");
    driver.button("Command3")->click();
    QCOMPARE(readBytes(m_work->file("KXSavedInfo.txt")),
             settingsFile("second", kInitialKey.toUtf8(), kInitialData.toUtf8()));
}

void tst_Settings::savedValuesReloadAtNextStart()
{
    {
        WindowDriver driver;
        driver.box("Check1")->click();
        driver.type("tUSERNAME", "Jo  Doe");
        driver.type("tKEY", "A-B C=D&E");
        driver.type("tDATA", "/home/jo/zumi data");
        driver.button("Command3")->click();
    }
    WindowDriver next;
    checkBoxes(next, "Jo  Doe", "A-B C=D&E", "/home/jo/zumi data");
}

void tst_Settings::failedSaveIsReportedAndNextSaveWorks()
{
    QDir().mkpath(m_work->file("KXSavedInfo.txt"));
    WindowDriver driver;
    checkBoxes(driver, kInitialUser, kInitialKey, kInitialData);
    driver.box("Check1")->click();
    driver.button("Command3")->click();
    QVERIFY2(driver.text("Text2").startsWith("Could not save your info: "),
             qPrintable(driver.text("Text2")));

    QDir(m_work->file("KXSavedInfo.txt")).removeRecursively();
    driver.button("Command3")->click();
    QCOMPARE(driver.text("Text2"), QString("You Info was Saved !"));
    QCOMPARE(readBytes(m_work->file("KXSavedInfo.txt")),
             settingsFile(kInitialUser.toUtf8(), kInitialKey.toUtf8(), kInitialData.toUtf8()));
}

QTEST_MAIN(tst_Settings)
#include "tst_settings.moc"
