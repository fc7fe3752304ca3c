#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

// File system services. Paths are written with "\" as separator everywhere in the program;
// on systems whose separator is "/" every "\" is read as "/".

QString nativePath(const QString& path);

// Makes the user's Documents folder the working folder, as the system keeps it now (on Windows
// the known folder, which OneDrive or a policy may have moved), or the home folder where there
// is none.
void enterDocumentsFolder();

// Whether the system tells file names apart by case (Linux) or not (Windows).
Qt::CaseSensitivity fileNameCase();

// Whether a name matches a pattern in which each "?" stands for exactly one character.
// Case is ignored.
bool matchesPattern(const QString& name, const QString& pattern);

struct FolderEntry
{
    QString name;
    // A real folder: a link, even one to a folder, is not one.
    bool isFolder = false;
};

// The entries of a folder, "." and ".." left out, sorted by name with case ignored. A folder
// that does not exist lists nothing; one that cannot be read fails.
Result<QList<FolderEntry>> listFolder(const QString& folder);

// The length of a file in bytes; fails for a missing entry or anything but a file.
Result<qint64> fileLength(const QString& path);

// The bytes of a regular file, at most maxBytes of them; a pipe, device or folder in its place
// is refused without waiting on it.
Result<QByteArray> readWholeFile(const QString& path, qsizetype maxBytes);

// Replaces the file's whole content with the bytes, or leaves the former file as it was.
// Never creates a folder, refuses a target that is read-only, and never writes through a link:
// a link in the file's place is replaced by the file.
Status writeWholeFile(const QString& path, const QByteArray& bytes);

// Whether a regular file has the path itself, not through a link.
bool isRegularFile(const QString& path);

// Gives a regular file that has grown past the size the other name, replacing a file that has
// it. Only the file measured is moved: two copies of the program doing so at the same moment
// move it once, never the file the first one starts afresh under the former name.
Status moveAsideWhenLarger(const QString& from, const QString& to, qint64 size);

// Which part files a visit of a card folder removes.
enum class PartFiles
{
    All,      // no other copy of the program can be writing: the folder is held
    Abandoned // only those last written so long ago that no running copy is still writing them
};
// A store writes its part file in one go and renames it at once: one untouched for this long
// was left by a copy that was killed.
inline constexpr int kAbandonedPartSeconds = 3600;

// Removes what stores in the folder that were killed part-way left behind.
void removeLeftoverParts(const QString& folder, PartFiles which);

// A file-size limit makes a write fail instead of ending the program.
void failWritesPastFileSizeLimit();

// Keeps other copies of the program out of a folder while it is held, on this computer or on
// another that shares the folder. The lock is a file that the holder keeps open for the whole
// run (on Windows without letting anyone else write or delete it, elsewhere under flock()), so
// the system itself tells whether its holder still runs: a lock file that no running copy
// holds, such as one left by a killed copy or a computer that went off, is taken over.
class FolderLock
{
public:
    static constexpr const char* kFileName = ".kx-update.lock";

    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Fails only when another running copy holds the folder, saying which computer runs it and
    // since when; a folder where no lock can be made (missing, read-only) is not locked, since
    // nothing can be written there either.
    Status lock(const QString& folder);
    // Whether the folder is held; false where no lock could be made.
    bool isHeld() const { return m_handle != -1; }
    // Whether the lock was left by a copy that was killed: it may have left part files.
    bool tookOverStaleLock() const { return m_tookOver; }
    // Whether lock() failed because another running copy holds the folder.
    bool heldByAnotherCopy() const { return m_heldByAnother; }

private:
    qintptr m_handle = -1; // the system's file descriptor or handle
    QString m_path;
    bool m_tookOver = false;
    bool m_heldByAnother = false;
};

// Whether a text file can hold the text: every character has its place in the system's 8-bit
// encoding (always so where that is UTF-8; not so for Cyrillic under a Western code page).
bool fitsTextFile(const QString& text);

// The lines as a text file holds them: the system's 8-bit encoding, CR LF after each.
QByteArray textFileBytes(const QStringList& lines);

// A sequential text file in the system's 8-bit encoding. Written lines end in CR LF; the
// open-line form writes no line end, so that the next string continues the same line. Each
// write reaches the file at once. Only regular files are opened: a pipe, device or folder in
// the file's place is refused without waiting on it.
class TextFile
{
public:
    enum class Mode
    {
        Input,
        Append
    };

    TextFile() = default;
    ~TextFile();
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;

    Status open(const QString& path, Mode mode);
    bool isOpen() const { return m_handle != -1; }
    Status writeLine(const QString& text);
    Status writeOpenLine(const QString& text);
    // The next line without its line end (CR LF, LF or a lone CR); fails past the last line.
    Result<QString> readLine();
    // Safe to call on a closed file.
    Status close();

private:
    Status write(const QString& text);

    qintptr m_handle = -1; // the system's file descriptor or handle
    QByteArray m_input;    // an input file is read whole: it is small, and capped
    qsizetype m_inputPosition = 0;
};
