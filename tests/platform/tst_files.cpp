#include "TestSupport.h"
#include "platform/Files.h"
#include "platform/FilesPrivate.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

class tst_Files : public QObject
{
    Q_OBJECT

private slots:
    void storesAreWholeOrNothing();
    void linksPipesAndPermissionBits();
    void windowsPathsTagsAndMessages();
};

void tst_Files::storesAreWholeOrNothing()
{
    WorkFolder work;
    const QString card = work.file("a0001");
    QDir().mkpath(card);
    const QString target = card + "/a0001c.jpg";

    // A longer former file ends up holding exactly the new bytes; no part file stays behind.
    writeBytes(target, QByteArray(5000, 'x'));
    QVERIFY(writeWholeFile(target, "new"));
    QCOMPARE(readBytes(target), QByteArray("new"));
    QCOMPARE(filesBelow(card), QStringList{"a0001c.jpg"});

    // A file held by another program is tried for a moment, then left as it was.
    if (HeldOpen::available()) {
        HeldOpen held(target);
        QCOMPARE(writeWholeFile(target, "other").error(),
                 QString("the file is in use by another program"));
    }
    QCOMPARE(readBytes(target), QByteArray("new"));
    QCOMPARE(filesBelow(card), QStringList{"a0001c.jpg"});

    // A read-only file is never replaced; a missing folder is never created.
    QFile::setPermissions(target, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    QCOMPARE(writeWholeFile(target, "other").error(), QString("the file is read-only"));
    QCOMPARE(readBytes(target), QByteArray("new"));
    QVERIFY(!writeWholeFile(work.file("b0001/b0001c.jpg"), "x"));
    QVERIFY(!QFileInfo::exists(work.file("b0001")));

    // Paths past Windows' old limit of 260 characters, written the program's way.
    QString deep = work.path();
    while (deep.size() < 330)
        deep += "\\a-folder-name-of-thirty-chars";
    QVERIFY(QDir().mkpath(nativePath(deep)));
    QVERIFY(writeWholeFile(deep + "\\a0001c.jpg", "deep"));
    QCOMPARE(fileLength(deep + "\\a0001c.jpg").value(), qint64(4));
    QCOMPARE(listFolder(deep).value().size(), qsizetype(1));
}

void tst_Files::linksPipesAndPermissionBits()
{
#ifdef Q_OS_WIN
    QSKIP("links, pipes and permission bits are POSIX's; on Windows they are left to review");
#else
    const auto modeOf = [](const QString& path) {
        struct stat status = {};
        return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode : 0;
    };
    WorkFolder work;
    const QString card = work.file("a0001");
    QDir().mkpath(card);
    const QString target = card + "/a0001c.jpg";

    // A replaced file keeps its permission bits less set-user-ID.
    writeBytes(target, "old");
    ::chmod(QFile::encodeName(target).constData(), 04755);
    QVERIFY(writeWholeFile(target, "new"));
    QCOMPARE(modeOf(target) & 07777, mode_t(0755));

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

    // This user may not change another account's files, whatever their folder lets it do.
    const QString others = qEnvironmentVariable("KX_FILES_OF_ANOTHER_ACCOUNT");
    if (!others.isEmpty()) {
        QCOMPARE(writeWholeFile(others + "/a0001c.jpg", "x").error(),
                 QString("this user may not change the file (another account owns it)"));
        const Status sticky = writeWholeFile(others + "/sticky/a0001c.jpg", "x");
        QCOMPARE(int(sticky.reach()), int(Reach::ThisItem));
        QCOMPARE(readBytes(others + "/a0001c.jpg") + readBytes(others + "/sticky/a0001c.jpg"),
                 QByteArray("keepkeep"));
    }

    // A pipe in a text file's place is refused at once, never waited on.
    QVERIFY(makePipe("pipe"));
    TextFile file;
    QCOMPARE(file.open("pipe", TextFile::Mode::Append).error(),
             QString("it is not a regular file"));
#endif
}

void tst_Files::windowsPathsTagsAndMessages()
{
    // A system message with places for values it was not given, over several lines.
    QCOMPARE(plainSystemMessage("The file %1 could not be opened.\r\nTry %2!s! again.\r\n"),
             QString("The file could not be opened. Try again"));
#ifndef Q_OS_WIN
    QSKIP("reparse points and \\\\?\\ paths are Windows'");
#else
    // Only name surrogates lead elsewhere: symbolic links and junctions, not cloud-file
    // placeholders, deduplicated or compressed (WOF) files, or app execution aliases.
    for (const quint32 link : {0xA000000Cu, 0xA0000003u})
        QVERIFY(reparseTagIsLink(link));
    for (const quint32 plain : {0x9000601Au, 0x9000001Au, 0x80000013u, 0x80000017u, 0x8000001Bu})
        QVERIFY(!reparseTagIsLink(plain));

    // A data folder typed in the \\?\ form, with its final "\\" as the run adds it, holds
    // the lock against a second copy.
    WorkFolder work;
    const QString data = "\\\\?\\" + QDir::toNativeSeparators(work.path()) + "\\";
    FolderLock first;
    QVERIFY(first.lock(data));
    QVERIFY(first.isHeld());
    FolderLock second;
    QVERIFY(second.lock(data).error().startsWith("another update of this data folder is running"));
#endif
}

QTEST_GUILESS_MAIN(tst_Files)
#include "tst_files.moc"
