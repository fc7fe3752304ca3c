#include "platform/Files.h"

#include "platform/FilesPrivate.h"

#include <QDir>
#include <QLockFile>

#include <algorithm>

QString nativePath(const QString& path)
{
    if (QDir::separator() == u'\\')
        return path;
    QString native = path;
    native.replace(u'\\', u'/');
    return native;
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

void sortByName(QList<FolderEntry>& entries)
{
    std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
        const int order = QString::compare(a.name, b.name, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a.name < b.name;
    });
}

void removeLeftoverParts(const QString& folder)
{
    const Result<QList<FolderEntry>> listed = listFolder(folder);
    if (!listed)
        return;
    for (const FolderEntry& entry : listed.value()) {
        if (entry.name.startsWith(u'.') && entry.name.endsWith(QStringLiteral(".kx-part")))
            removeFileQuietly(folder + u'\\' + entry.name);
    }
}

FolderLock::FolderLock() = default;
FolderLock::~FolderLock() = default;

Status FolderLock::lock(const QString& folder)
{
    const QString path = folder + QStringLiteral("\\.kx-update.lock");
    // Looked at without following a link: QLockFile reads what it finds there, and reading a
    // pipe would wait for ever.
    const EntryKind existing = entryKindOf(path);
    if (existing != EntryKind::Missing && existing != EntryKind::RegularFile)
        return Status::failure(
            QStringLiteral("could not lock %1: it is not a regular file").arg(folder));
    auto lock = std::make_unique<QLockFile>(nativePath(path));
    lock->setStaleLockTime(0); // only a lock whose copy is gone is stale, however old
    if (lock->tryLock(0)) {
        m_lock = std::move(lock);
        m_tookOver = existing == EntryKind::RegularFile;
        return {};
    }
    if (lock->error() != QLockFile::LockFailedError)
        return {};
    return Status::failure(QStringLiteral("another update of this data folder is running"));
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
