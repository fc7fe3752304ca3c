#include "TestSupport.h"
#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <sys/stat.h>

namespace {

mode_t modeOf(const QString& path)
{
    struct stat status = {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode : 0;
}

} // namespace

class tst_Files : public QObject
{
    Q_OBJECT

private slots:
    void storesAreWholeAndStayInTheirFolder();
};

void tst_Files::storesAreWholeAndStayInTheirFolder()
{
    WorkFolder work;
    const QString card = work.file("a0001");
    QDir().mkpath(card);
    const QString target = card + "/a0001c.jpg";

    // A longer former file ends up holding exactly the new bytes, with its permission bits
    // less set-user-ID; no part file stays behind.
    writeBytes(target, QByteArray(5000, 'x'));
    ::chmod(QFile::encodeName(target).constData(), 04755);
    QVERIFY(writeWholeFile(target, "new"));
    QCOMPARE(readBytes(target), QByteArray("new"));
    QCOMPARE(modeOf(target) & 07777, mode_t(0755));

    // A read-only file is never replaced; a missing folder is never created.
    ::chmod(QFile::encodeName(target).constData(), 0444);
    QCOMPARE(writeWholeFile(target, "other").error(), QString("the file is read-only"));
    QCOMPARE(readBytes(target), QByteArray("new"));
    QVERIFY(!writeWholeFile(work.file("b0001/b0001c.jpg"), "x"));
    QVERIFY(!QFileInfo::exists(work.file("b0001")));

    // A link in a card file's place is replaced by a file; what it pointed at is untouched and
    // lends the new file none of its bits.
    writeBytes(work.file("outside"), "keep");
    ::chmod(QFile::encodeName(work.file("outside")).constData(), 04777);
    QFile::link(work.file("outside"), card + "/a0001d.bmp");
    QVERIFY(writeWholeFile(card + "/a0001d.bmp", "thumb"));
    QCOMPARE(modeOf(card + "/a0001d.bmp") & 07000, mode_t(0));
    QCOMPARE(readBytes(work.file("outside")), QByteArray("keep"));

    // A card folder that is a link leads elsewhere: nothing is written through it.
    QDir().mkpath(work.file("elsewhere"));
    QFile::link(work.file("elsewhere"), work.file("c0001"));
    QVERIFY(!writeWholeFile(work.file("c0001/c0001c.jpg"), "x"));
    QVERIFY(filesBelow(work.file("elsewhere")).isEmpty());

    // A pipe in a text file's place is refused at once, never waited on.
    QVERIFY(::mkfifo("pipe", 0666) == 0);
    TextFile file;
    QCOMPARE(file.open("pipe", TextFile::Mode::Append).error(),
             QString("it is not a regular file"));
}

QTEST_GUILESS_MAIN(tst_Files)
#include "tst_files.moc"
