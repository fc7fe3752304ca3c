#include "TestSupport.h"
#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

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
    void listingPassesOverLinksAndReportsUnreadableFolders();
    void textFilesRefusePipesWithoutWaiting();
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
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ::chmod(QFile::encodeName(target).constData(), 04755);
    QVERIFY(writeWholeFile(target, "new"));
    QCOMPARE(readBytes(target), QByteArray("new"));
    QCOMPARE(modeOf(target) & 07777, mode_t(0755));
    QCOMPARE(filesBelow(card), QStringList{"a0001c.jpg"});

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
    QVERIFY(S_ISREG(modeOf(card + "/a0001d.bmp")));
    QCOMPARE(modeOf(card + "/a0001d.bmp") & 07000, mode_t(0));
    QCOMPARE(readBytes(work.file("outside")), QByteArray("keep"));

    // A card folder that is a link leads elsewhere: nothing is written through it.
    QDir().mkpath(work.file("elsewhere"));
    QFile::link(work.file("elsewhere"), work.file("c0001"));
    QVERIFY(!writeWholeFile(work.file("c0001/c0001c.jpg"), "x"));
    QVERIFY(filesBelow(work.file("elsewhere")).isEmpty());

    // A store that hits a file-size limit fails in plain words and leaves the former file.
    writeBytes(card + "/a0001e.bmp", "former");
    failWritesPastFileSizeLimit();
    {
        FileSizeLimit limit(100);
        const Status stored = writeWholeFile(card + "/a0001e.bmp", QByteArray(200, 'z'));
        QCOMPARE(stored.error(), QString("File too large"));
    }
    QCOMPARE(readBytes(card + "/a0001e.bmp"), QByteArray("former"));

    // What a killed store left behind goes at the next visit.
    writeBytes(card + "/.a0001c.jpg.4242.kx-part", "half");
    removeLeftoverParts(card);
    QVERIFY(!filesBelow(card).join(' ').contains("kx-part"));
}

void tst_Files::listingPassesOverLinksAndReportsUnreadableFolders()
{
    WorkFolder work;
    QDir().mkpath(work.file("Data/b0001"));
    QDir().mkpath(work.file("Data/A0002"));
    writeBytes(work.file("Data/a0003"), "a file");
    QFile::link(work.file("Data/b0001"), work.file("Data/a0001"));
    QFile::link(work.file("nowhere"), work.file("Data/c0001"));

    const Result<QList<FolderEntry>> listed = listFolder(work.file("Data"));
    QVERIFY(listed);
    QStringList seen;
    for (const FolderEntry& entry : listed.value())
        seen << entry.name + (entry.isFolder ? "/" : "");
    QCOMPARE(seen, QStringList({"a0001", "A0002/", "a0003", "b0001/", "c0001"}));
    QVERIFY(listFolder(work.file("missing")));

    ::chmod(QFile::encodeName(work.file("Data")).constData(), 0);
    const bool privileged = QDir(work.file("Data")).entryList(QDir::AllEntries).size() > 0;
    const Result<QList<FolderEntry>> unreadable = listFolder(work.file("Data"));
    ::chmod(QFile::encodeName(work.file("Data")).constData(), 0755);
    if (privileged)
        QSKIP("this user reads every folder");
    QCOMPARE(unreadable.error(), QString("Permission denied"));
}

void tst_Files::textFilesRefusePipesWithoutWaiting()
{
    WorkFolder work;
    QVERIFY(::mkfifo("pipe", 0666) == 0);
    TextFile file;
    QCOMPARE(file.open("pipe", TextFile::Mode::Append).error(),
             QString("it is not a regular file"));
    QCOMPARE(file.open("pipe", TextFile::Mode::Input).error(), QString("it is not a regular file"));

    // Every line reaches the file as it is written; reading takes any line end.
    QVERIFY(file.open("log.txt", TextFile::Mode::Append));
    QVERIFY(file.writeOpenLine("Download File: x"));
    QCOMPARE(readBytes("log.txt"), QByteArray("Download File: x"));
    QVERIFY(file.writeLine(" New size 1"));
    writeBytes("in.txt", "one\r\ntwo\nthree\rfour");
    QVERIFY(file.open("in.txt", TextFile::Mode::Input));
    QStringList lines;
    while (Result<QString> line = file.readLine())
        lines << line.value();
    QCOMPARE(lines, QStringList({"one", "two", "three", "four"}));
}

QTEST_GUILESS_MAIN(tst_Files)
#include "tst_files.moc"
