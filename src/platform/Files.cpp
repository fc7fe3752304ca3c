#include "platform/Files.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <system_error>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

namespace {

// Calls back for every entry of the pattern's folder whose name matches its last part.
template <class Visit> void forEachMatch(const QString& pattern, Visit visit)
{
    const QString native = nativePath(pattern);
    const qsizetype slash = native.lastIndexOf(u'/');
    const QString folder = slash < 0 ? QStringLiteral(".") : native.left(slash + 1);
    const QString namePattern = native.mid(slash + 1);

    QDirIterator entries(folder, QDir::AllEntries | QDir::Hidden | QDir::System);
    while (entries.hasNext()) {
        entries.next();
        if (matchesPattern(entries.fileName(), namePattern))
            visit(entries);
    }
}

} // namespace

int countFolders(const QString& pattern)
{
    int folders = 0;
    forEachMatch(pattern, [&](const QDirIterator& entry) {
        const QString name = entry.fileName();
        if (name != u"." && name != u".." && entry.fileInfo().isDir())
            ++folders;
    });
    return folders;
}

FolderListing::FolderListing(const QString& pattern)
{
    forEachMatch(pattern, [this](const QDirIterator& entry) { m_names.append(entry.fileName()); });
    std::sort(m_names.begin(), m_names.end(), [](const QString& a, const QString& b) {
        const int order = QString::compare(a, b, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a < b;
    });
}

QString FolderListing::next()
{
    return m_position < m_names.size() ? m_names[m_position++] : QString();
}

// isDir() and isFile() come from one stat of the entry; exists() would add a second call
// to the file system, and a run makes these queries for every file of every card.

Result<int> entryAttributes(const QString& path)
{
    const QFileInfo info(nativePath(path));
    if (info.isDir())
        return kFolderAttribute;
    if (!info.isFile() && !info.exists())
        return Result<int>::failure(QStringLiteral("no such file or folder"));
    return 0;
}

Result<qint64> fileLength(const QString& path)
{
    const QFileInfo info(nativePath(path));
    if (info.isFile())
        return info.size();
    return Result<qint64>::failure(info.isDir() ? QStringLiteral("it is a folder")
                                                : QStringLiteral("no such file"));
}

namespace {
// The mode bits only: WriteUser reflects what the current user may do, and root may do all.
constexpr QFile::Permissions kAnyWrite = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
} // namespace

#ifdef Q_OS_UNIX
namespace {

QString systemError(int error)
{
    return QString::fromStdString(std::generic_category().message(error));
}

// Writes the whole file under a new name beside the target, then renames it over the target.
// Plain system calls: a large download stores thousands of files, and each call saved counts.
Status writeBesideAndRename(const QFileInfo& target, const QByteArray& bytes)
{
    const QByteArray targetName = QFile::encodeName(target.filePath());
    const QByteArray partName = QFile::encodeName(
        target.dir().filePath(QStringLiteral(".%1.kx-part").arg(target.fileName())));
    struct stat former = {};
    const bool replacing = ::stat(targetName.constData(), &former) == 0;
    const auto open = [&] {
        return ::open(partName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    };
    int file = open();
    if (file < 0 && errno == EEXIST) { // left over by an interrupted store
        ::unlink(partName.constData());
        file = open();
    }
    if (file < 0)
        return Status::failure(errno == ENOENT ? QStringLiteral("the folder does not exist")
                                               : systemError(errno));

    int error = 0;
    for (qsizetype written = 0; written < bytes.size() && !error;) {
        const ssize_t count =
            ::write(file, bytes.constData() + written, size_t(bytes.size() - written));
        if (count > 0)
            written += count;
        else if (count < 0 && errno != EINTR)
            error = errno;
    }
    // A replaced file keeps its permissions; a new one gets what the user's umask allows.
    if (!error && replacing && ::fchmod(file, former.st_mode & 07777) != 0)
        error = errno;
    if (::close(file) != 0 && !error)
        error = errno;
    if (!error && ::rename(partName.constData(), targetName.constData()) != 0)
        error = errno;
    if (error) {
        ::unlink(partName.constData());
        return Status::failure(systemError(error));
    }
    return {};
}

} // namespace
#endif

Status writeWholeFile(const QString& path, const QByteArray& bytes)
{
    const QFileInfo info(nativePath(path));
    if (info.isDir())
        return Status::failure(QStringLiteral("a folder has that name"));
    // Judged from the permission bits, not from access(): a read-only file must stay
    // untouched even for an administrator, and the rename would silently replace it.
    if (info.exists() && !(info.permissions() & kAnyWrite))
        return Status::failure(QStringLiteral("the file is read-only"));

#ifdef Q_OS_UNIX
    // Written beside the target and renamed over it once complete, so that a failure at any
    // point leaves the former file as it was. Not synced to disk: every card file can be
    // fetched again, and a sync per file would double the time of a large download.
    return writeBesideAndRename(info, bytes);
#else
    if (!info.dir().exists())
        return Status::failure(QStringLiteral("the folder does not exist"));
    QSaveFile file(info.filePath());
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return Status::failure(file.errorString());
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return Status::failure(reason);
    }
    if (!file.commit())
        return Status::failure(file.errorString());
    return {};
#endif
}

// Stateless, so that a broken character at the end of one line cannot spill into the next.
TextFile::TextFile()
    : m_encoder(QStringConverter::System, QStringConverter::Flag::Stateless),
      m_decoder(QStringConverter::System, QStringConverter::Flag::Stateless)
{}

TextFile::~TextFile()
{
    (void)close();
}

Status TextFile::open(const QString& path, Mode mode)
{
    (void)close();
    m_writeFailed = false;
    const QString native = nativePath(path);
    if (QFileInfo(native).isDir())
        return Status::failure(QStringLiteral("a folder has that name"));
    m_file.setFileName(native);
    QIODevice::OpenMode openMode = QIODevice::ReadOnly;
    if (mode == Mode::Output)
        openMode = QIODevice::WriteOnly | QIODevice::Truncate;
    else if (mode == Mode::Append)
        openMode = QIODevice::WriteOnly | QIODevice::Append;
    if (!m_file.open(openMode))
        return Status::failure(m_file.errorString());
    return {};
}

bool TextFile::isOpen() const
{
    return m_file.isOpen();
}

QString TextFile::failure(const QString& what) const
{
    return m_file.isOpen() ? m_file.errorString() : what;
}

Status TextFile::write(const QString& text)
{
    if (!m_file.isOpen() || !m_file.isWritable())
        return Status::failure(QStringLiteral("the file is not open for writing"));
    const QByteArray bytes = m_encoder(text);
    if (m_file.write(bytes) != bytes.size()) {
        m_writeFailed = true;
        return Status::failure(failure(QStringLiteral("write failed")));
    }
    return {};
}

Status TextFile::writeLine(const QString& text)
{
    return write(text + QStringLiteral("\r\n"));
}

Status TextFile::writeOpenLine(const QString& text)
{
    return write(text);
}

Result<QString> TextFile::readLine(qsizetype maxLength)
{
    if (!m_file.isOpen() || !m_file.isReadable())
        return Result<QString>::failure(QStringLiteral("the file is not open for reading"));
    if (m_file.atEnd())
        return Result<QString>::failure(QStringLiteral("read past the last line"));
    QByteArray line;
    char c = 0;
    while (m_file.getChar(&c)) {
        if (c == '\n')
            break;
        if (c == '\r') {
            char following = 0;
            if (m_file.peek(&following, 1) == 1 && following == '\n')
                m_file.getChar(&following);
            break;
        }
        if (line.size() >= maxLength)
            return Result<QString>::failure(QStringLiteral("a line is too long"));
        line.append(c);
    }
    return QString(m_decoder(line));
}

Status TextFile::close()
{
    if (!m_file.isOpen())
        return {};
    const bool flushed = !m_file.isWritable() || m_file.flush();
    const QString reason = m_file.errorString();
    m_file.close();
    if (!flushed || m_writeFailed)
        return Status::failure(reason);
    return {};
}
