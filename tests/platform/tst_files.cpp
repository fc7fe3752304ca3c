#include "TestSupport.h"
#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QtTest>

class tst_Files : public QObject
{
    Q_OBJECT

private slots:
    void listingMatchesQuestionMarksIgnoringCaseAndSorts();
    void listingOfMissingFolderIsEmpty();
    void attributesAndLengths();
    void wholeFileWriteReplacesExactly();
    void wholeFileWriteFailuresKeepFormerFile();
    void wholeFileWriteFailingPartWayKeepsFormerFile();
    void textLinesEndInCrLfAndOpenLineContinues();
    void appendKeepsEarlierContent();
    void readingAcceptsEveryLineEnd();
    void readingFailures();
};

void tst_Files::listingMatchesQuestionMarksIgnoringCaseAndSorts()
{
    WorkFolder work;
    for (const char* folder :
         {"data/a0001", "data/A0002", "data/a001", "data/b0001", "data/a00010"})
        QDir().mkpath(work.file(folder));
    writeBytes(work.file("data/a0003"), "a file with a card's name");

    FolderListing listing(work.path() + QStringLiteral("\\data\\A????"));
    QStringList names;
    for (QString name = listing.next(); !name.isEmpty(); name = listing.next())
        names << name;
    QCOMPARE(names, QStringList({"a0001", "A0002", "a0003"}));
    QCOMPARE(listing.next(), QString());

    QVERIFY(matchesPattern("a0001", "A????"));
    QVERIFY(!matchesPattern("a001", "A????"));
    QVERIFY(!matchesPattern("b0001", "A????"));
}

void tst_Files::listingOfMissingFolderIsEmpty()
{
    WorkFolder work;
    FolderListing listing(work.path() + QStringLiteral("\\nowhere\\A????"));
    QCOMPARE(listing.next(), QString());
}

void tst_Files::attributesAndLengths()
{
    WorkFolder work;
    QDir().mkpath(work.file("a0001"));
    writeBytes(work.file("a0001/a0001c.jpg"), QByteArray(12345, 'x'));
    writeBytes(work.file("empty"), {});

    QCOMPARE(entryAttributes(work.path() + "\\a0001").value() & kFolderAttribute, kFolderAttribute);
    QCOMPARE(entryAttributes(work.path() + "\\a0001\\a0001c.jpg").value() & kFolderAttribute, 0);
    QVERIFY(!entryAttributes(work.path() + "\\missing").ok());

    QCOMPARE(fileLength(work.path() + "\\a0001\\a0001c.jpg").value(), 12345);
    QCOMPARE(fileLength(work.file("empty")).value(), 0);
    QVERIFY(!fileLength(work.file("missing")).ok());
    QVERIFY(!fileLength(work.file("a0001")).ok());
}

void tst_Files::wholeFileWriteReplacesExactly()
{
    WorkFolder work;
    QDir().mkpath(work.file("a0001"));
    const QString target = work.path() + "\\a0001\\a0001c.jpg";

    QVERIFY(writeWholeFile(target, "new body").ok());
    QCOMPARE(readBytes(work.file("a0001/a0001c.jpg")), QByteArray("new body"));

    writeBytes(work.file("a0001/a0001c.jpg"), QByteArray(50000, 'o'));
    QVERIFY(writeWholeFile(target, "short").ok());
    QCOMPARE(readBytes(work.file("a0001/a0001c.jpg")), QByteArray("short"));

    QVERIFY(writeWholeFile(target, {}).ok());
    QCOMPARE(QFileInfo(work.file("a0001/a0001c.jpg")).size(), 0);
    QCOMPARE(filesBelow(work.path()), QStringList({"a0001/a0001c.jpg"}));

    // A replaced file keeps its permissions; a new one gets what a plainly created file gets.
    const QFile::Permissions shared = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                      QFile::WriteGroup | QFile::ReadOther;
    QFile::setPermissions(work.file("a0001/a0001c.jpg"), shared);
    QVERIFY(writeWholeFile(target, "again").ok());
    const auto modeBits = [](QFile::Permissions permissions) {
        return permissions & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
    };
    QCOMPARE(modeBits(QFileInfo(work.file("a0001/a0001c.jpg")).permissions()), modeBits(shared));
    writeBytes(work.file("a0001/plain"), "x");
    QVERIFY(writeWholeFile(work.path() + "\\a0001\\a0001d.bmp", "new").ok());
    QCOMPARE(modeBits(QFileInfo(work.file("a0001/a0001d.bmp")).permissions()),
             modeBits(QFileInfo(work.file("a0001/plain")).permissions()));
}

void tst_Files::wholeFileWriteFailuresKeepFormerFile()
{
    WorkFolder work;
    // A missing card folder is never created.
    const Status intoMissingFolder = writeWholeFile(work.path() + "\\a0009\\a0009c.jpg", "body");
    QVERIFY(!intoMissingFolder.ok());
    QVERIFY(!intoMissingFolder.error().isEmpty());
    QVERIFY(!QFileInfo::exists(work.file("a0009")));
    QCOMPARE(intoMissingFolder.error(), QString("the folder does not exist"));

    // A part left over by an interrupted store does not stand in the way.
    writeBytes(work.file("a0001/.a0001c.jpg.kx-part"), "left over");
    QVERIFY(writeWholeFile(work.path() + "\\a0001\\a0001c.jpg", "whole").ok());
    QCOMPARE(readBytes(work.file("a0001/a0001c.jpg")), QByteArray("whole"));
    QFile::remove(work.file("a0001/a0001c.jpg"));

    // A read-only file stays as it was, even for an administrator.
    writeBytes(work.file("a0001/a0001d.bmp"), "former");
    QFile::setPermissions(work.file("a0001/a0001d.bmp"), QFile::ReadOwner | QFile::ReadGroup);
    QVERIFY(!writeWholeFile(work.path() + "\\a0001\\a0001d.bmp", "replacement").ok());
    QCOMPARE(readBytes(work.file("a0001/a0001d.bmp")), QByteArray("former"));

    // A folder in the file's place.
    QDir().mkpath(work.file("a0001/a0001e.bmp"));
    QVERIFY(!writeWholeFile(work.path() + "\\a0001\\a0001e.bmp", "body").ok());

    QCOMPARE(filesBelow(work.path()), QStringList({"a0001/a0001d.bmp"}));
}

void tst_Files::wholeFileWriteFailingPartWayKeepsFormerFile()
{
    WorkFolder work;
    writeBytes(work.file("a0001/a0001_full.png"), "former picture");

    Status written;
    {
        FileSizeLimit limit(64 * 1024);
        written = writeWholeFile(work.path() + "\\a0001\\a0001_full.png", QByteArray(1 << 20, 'p'));
    }

    QVERIFY(!written.ok());
    QCOMPARE(readBytes(work.file("a0001/a0001_full.png")), QByteArray("former picture"));
    QCOMPARE(filesBelow(work.path()), QStringList({"a0001/a0001_full.png"}));
}

void tst_Files::textLinesEndInCrLfAndOpenLineContinues()
{
    WorkFolder work;
    TextFile file;
    QVERIFY(file.open("out.txt", TextFile::Mode::Output).ok());
    QVERIFY(file.writeLine("first").ok());
    QVERIFY(file.writeOpenLine("Download File: http://x/a").ok());
    QVERIFY(file.writeLine(" New size 12").ok());
    QVERIFY(file.writeLine(QString()).ok());
    QVERIFY(file.writeLine(QStringLiteral("caf\u00e9")).ok());
    QVERIFY(file.close().ok());
    QCOMPARE(readBytes(work.file("out.txt")),
             QByteArray("first\r\nDownload File: http://x/a New size 12\r\n\r\ncaf\xc3\xa9\r\n"));

    // Output empties an existing file.
    QVERIFY(file.open("out.txt", TextFile::Mode::Output).ok());
    QVERIFY(file.writeLine("only").ok());
    QVERIFY(file.close().ok());
    QCOMPARE(readBytes(work.file("out.txt")), QByteArray("only\r\n"));
}

void tst_Files::appendKeepsEarlierContent()
{
    WorkFolder work;
    TextFile file;
    QVERIFY(file.open("log.txt", TextFile::Mode::Append).ok());
    QVERIFY(file.writeLine("one").ok());
    QVERIFY(file.close().ok());
    QVERIFY(file.open("log.txt", TextFile::Mode::Append).ok());
    QVERIFY(file.writeLine("two").ok());
    QVERIFY(file.close().ok());
    QCOMPARE(readBytes(work.file("log.txt")), QByteArray("one\r\ntwo\r\n"));
}

void tst_Files::readingAcceptsEveryLineEnd()
{
    WorkFolder work;
    writeBytes(work.file("in.txt"), "crlf\r\nlf\nlone cr\r\r\nlast without end");
    TextFile file;
    QVERIFY(file.open("in.txt", TextFile::Mode::Input).ok());
    QStringList lines;
    for (Result<QString> line = file.readLine(); line.ok(); line = file.readLine())
        lines << line.value();
    QCOMPARE(lines, QStringList({"crlf", "lf", "lone cr", "", "last without end"}));
}

void tst_Files::readingFailures()
{
    WorkFolder work;
    TextFile file;
    QVERIFY(!file.open("missing.txt", TextFile::Mode::Input).ok());
    QDir().mkpath(work.file("folder.txt"));
    QVERIFY(!file.open("folder.txt", TextFile::Mode::Input).ok());

    writeBytes(work.file("long.txt"), QByteArray(5000, 'k') + "\r\nnext\r\n");
    QVERIFY(file.open("long.txt", TextFile::Mode::Input).ok());
    QVERIFY(!file.readLine(4096).ok());

    writeBytes(work.file("one.txt"), "only line\r\n");
    QVERIFY(file.open("one.txt", TextFile::Mode::Input).ok());
    QCOMPARE(file.readLine().value(), QString("only line"));
    QVERIFY(!file.readLine().ok());
}

QTEST_GUILESS_MAIN(tst_Files)
#include "tst_files.moc"
