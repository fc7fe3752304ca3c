#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>

#include <memory>

// File system services. Paths are written with "\" as separator everywhere in the program;
// on systems whose separator is "/" every "\" is read as "/".

QString nativePath(const QString& path);

// The attribute bit that marks a folder.
inline constexpr int kFolderAttribute = 16;

// Whether a name matches a pattern in which each "?" stands for exactly one character.
// Case is ignored.
bool matchesPattern(const QString& name, const QString& pattern);

// The entries of one folder whose names match the pattern's last part, files and folders
// alike, sorted by name with case ignored. A folder that does not exist lists nothing.
class FolderListing
{
public:
    explicit FolderListing(const QString& pattern);
    // The next name, or an empty string once the listing is exhausted.
    QString next();

private:
    QStringList m_names;
    qsizetype m_position = 0;
};

// How many folders match the pattern, "." and ".." left out.
int countFolders(const QString& pattern);

// The attribute bits of an entry (kFolderAttribute for a folder); fails for a missing entry.
Result<int> entryAttributes(const QString& path);

// The length of a file in bytes; fails for a missing entry or a folder.
Result<qint64> fileLength(const QString& path);

// Replaces the file's whole content with the bytes, or leaves the former file as it was.
// Never creates a folder, and refuses a target that is read-only.
Status writeWholeFile(const QString& path, const QByteArray& bytes);

// A sequential text file in the system's 8-bit encoding. Written lines end in CR LF; the
// open-line form writes no line end, so that the next string continues the same line.
// Reading accepts CR LF, LF or a lone CR as a line end.
class TextFile
{
public:
    enum class Mode
    {
        Output,
        Input,
        Append
    };

    TextFile();
    ~TextFile();
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;

    Status open(const QString& path, Mode mode);
    bool isOpen() const;
    Status writeLine(const QString& text);
    Status writeOpenLine(const QString& text);
    // The next line without its line end; fails past the last line and for a line longer
    // than the limit (so that a stray huge file cannot exhaust memory).
    Result<QString> readLine(qsizetype maxLength = 1 << 20);
    // Writes out what is buffered and closes; safe to call on a closed file.
    Status close();

private:
    Status write(const QString& text);
    QString failure(const QString& what) const;

    QFile m_file;
    QStringEncoder m_encoder;
    QStringDecoder m_decoder;
    bool m_writeFailed = false;
};
