#include "platform/Files.h"

#include "platform/FilesPrivate.h"

#include "platform/Clock.h"
#include "platform/Text.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSysInfo>

#include <algorithm>

QString nativePath(const QString& path)
{
    if (QDir::separator() == u'\\')
        return path;
    QString native = path;
    native.replace(u'\\', u'/');
    return native;
}

bool isRegularFile(const QString& path)
{
    return entryKindOf(path) == EntryKind::RegularFile;
}

void enterDocumentsFolder()
{
    const QString documents = documentsFolder();
    if (documents.isEmpty() || !QDir::setCurrent(documents))
        QDir::setCurrent(QDir::homePath());
}

bool matchesPattern(const QString& name, const QString& pattern)
{
    if (name.size() != pattern.size())
        return false;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (pattern[i] != u'?' && name[i].toCaseFolded() != pattern[i].toCaseFolded())
            return false;
    }
    return true;
}

QString plainSystemMessage(const QString& message)
{
    static const QRegularExpression placeHolder(QStringLiteral("%[0-9!a-z]+!?|%%"));
    QString plain = QString(message).remove(placeHolder).simplified();
    plain.replace(QStringLiteral(" ."), QStringLiteral("."));
    plain.replace(QStringLiteral(" ,"), QStringLiteral(","));
    if (plain.endsWith(u'.'))
        plain.chop(1);
    return plain;
}

void sortByName(QList<FolderEntry>& entries)
{
    std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
        const int order = QString::compare(a.name, b.name, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a.name < b.name;
    });
}

void removeLeftoverParts(const QString& folder, PartFiles which)
{
    const Result<QList<FolderEntry>> listed = listFolder(folder);
    if (!listed)
        return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const FolderEntry& entry : listed.value()) {
        if (!entry.name.startsWith(u'.') || !entry.name.endsWith(QStringLiteral(".kx-part")))
            continue;
        const QString path = folder + u'\\' + entry.name;
        // A time in the future (another computer's clock) is no sign of age.
        if (which == PartFiles::Abandoned &&
            QFileInfo(nativePath(path)).lastModified().toUTC().secsTo(now) < kAbandonedPartSeconds)
            continue;
        removeFileQuietly(path);
    }
}

namespace {

// What a holder writes into its lock file: its process, the program, its computer (the lines
// Qt's QLockFile writes, which former versions used) and the time it took it.
QByteArray lockHolder()
{
    return QStringLiteral("%1\nkx-card-updater\n%2\n%3\n")
        .arg(QCoreApplication::applicationPid())
        .arg(QSysInfo::machineHostName(), Clock::stamp())
        .toUtf8();
}

QString heldReason(const QString& path, const QByteArray& holder)
{
    // Written by whichever computer holds the lock: shown in one status line, so nothing in
    // it may break or flood that line.
    const QStringList lines = QString::fromUtf8(holder).split(u'\n');
    const QString host = oneLineOf(lines.value(2), 64);
    const QString since = oneLineOf(lines.value(3), 64);
    QString reason = QStringLiteral("another update of this data folder is running");
    if (!host.isEmpty())
        reason += QStringLiteral(", on %1 since %2").arg(host, since);
    return reason + QStringLiteral(": wait for it to end (a copy that was stopped, or whose "
                                   "computer went off, lets go within minutes; if it does not, "
                                   "remove %1)")
                        .arg(nativePath(path));
}

} // namespace

FolderLock::~FolderLock()
{
    if (isHeld())
        releaseLockFile(m_handle, m_path);
}

Status FolderLock::lock(const QString& folder)
{
    const QString path =
        (folder.endsWith(u'\\') ? folder : folder + u'\\') + QLatin1String(kFileName);
    // Looked at without following a link: a pipe in its place would hold the program up.
    const EntryKind existing = entryKindOf(path);
    if (existing != EntryKind::Missing && existing != EntryKind::RegularFile)
        return Status::failure(
            QStringLiteral("could not lock %1: it is not a regular file").arg(nativePath(folder)));
    const LockFileAttempt attempt = takeLockFile(path, lockHolder());
    switch (attempt.outcome) {
    case LockFileAttempt::Taken:
    case LockFileAttempt::TakenOver:
        m_handle = attempt.handle;
        m_path = path;
        m_tookOver = attempt.outcome == LockFileAttempt::TakenOver;
        return {};
    case LockFileAttempt::Held:
        m_heldByAnother = true;
        return Status::failure(heldReason(path, attempt.holder));
    case LockFileAttempt::Unavailable:
        break;
    }
    return {};
}

bool fitsTextFile(const QString& text)
{
    return QString::fromLocal8Bit(text.toLocal8Bit()) == text;
}

QByteArray textFileBytes(const QStringList& lines)
{
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += line.toLocal8Bit() + "\r\n";
    return bytes;
}

// A text file longer than this is read only this far: the program's own files are far
// smaller, and a stray huge file must not exhaust memory.
constexpr qsizetype kMaxTextFileRead = 1 << 20;

TextFile::~TextFile()
{
    (void)close();
}

namespace {

// What is left of the file, or its first maxBytes.
Result<QByteArray> readUpTo(qintptr handle, qsizetype maxBytes)
{
    QByteArray bytes;
    qsizetype filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (filled == maxBytes)
                break;
            bytes.resize(std::min(maxBytes, std::max<qsizetype>(qsizetype(64) << 10, 2 * filled)));
        }
        const Result<qsizetype> count =
            readFromFile(handle, bytes.data() + filled, bytes.size() - filled);
        if (!count)
            return Result<QByteArray>::failure(count.error());
        if (count.value() == 0)
            break;
        filled += count.value();
    }
    bytes.truncate(filled);
    return bytes;
}

} // namespace

Result<QByteArray> readWholeFile(const QString& path, qsizetype maxBytes)
{
    const Result<qintptr> handle = openTextFile(path, false);
    if (!handle)
        return Result<QByteArray>::failure(handle.error());
    Result<QByteArray> bytes = readUpTo(handle.value(), maxBytes);
    (void)closeFile(handle.value());
    return bytes;
}

Status TextFile::open(const QString& path, Mode mode)
{
    (void)close();
    const Result<qintptr> handle = openTextFile(path, mode == Mode::Append);
    if (!handle)
        return Status::failure(handle.error());
    m_handle = handle.value();
    if (mode == Mode::Input) {
        Result<QByteArray> input = readUpTo(m_handle, kMaxTextFileRead);
        if (!input) {
            (void)close();
            return Status::failure(input.error());
        }
        m_input = std::move(input).value();
        m_inputPosition = 0;
    }
    return {};
}

Status TextFile::write(const QString& text)
{
    if (!isOpen())
        return Status::failure(QStringLiteral("the file is not open"));
    return writeToFile(m_handle, text.toLocal8Bit());
}

Status TextFile::close()
{
    if (!isOpen())
        return {};
    const qintptr handle = m_handle;
    m_handle = -1;
    m_input.clear();
    return closeFile(handle);
}

Status TextFile::writeLine(const QString& text)
{
    return write(text + QStringLiteral("\r\n"));
}

Status TextFile::writeOpenLine(const QString& text)
{
    return write(text);
}

Result<QString> TextFile::readLine()
{
    if (m_inputPosition >= m_input.size())
        return Result<QString>::failure(QStringLiteral("read past the last line"));
    qsizetype end = m_inputPosition;
    while (end < m_input.size() && m_input[end] != '\n' && m_input[end] != '\r')
        ++end;
    const QByteArray line = m_input.mid(m_inputPosition, end - m_inputPosition);
    if (end < m_input.size() && m_input[end] == '\r' && end + 1 < m_input.size() &&
        m_input[end + 1] == '\n')
        ++end;
    m_inputPosition = end + 1;
    return QString::fromLocal8Bit(line);
}
