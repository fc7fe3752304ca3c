#include "platform/Files.h"

#include "platform/FilesPrivate.h"

#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray encodedPath(const QString& path)
{
    return QFile::encodeName(nativePath(path));
}

// The folder part of a native path, "." when there is none.
QByteArray folderOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

Status writeAll(int fd, const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t count = ::write(fd, data, size_t(size));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return Status::failure(systemError(errno));
        if (count == 0)
            return Status::failure(systemError(ENOSPC));
        data += count;
        size -= count;
    }
    return {};
}

} // namespace

Result<QList<FolderEntry>> listFolder(const QString& folder)
{
    const QByteArray path = encodedPath(folder.isEmpty() ? QStringLiteral(".") : folder);
    DIR* dir = ::opendir(path.constData());
    if (!dir) {
        if (errno == ENOENT || errno == ENOTDIR)
            return QList<FolderEntry>();
        return Result<QList<FolderEntry>>::failure(systemError(errno));
    }
    QList<FolderEntry> entries;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) { // some file systems leave the kind to a stat
            struct stat status = {};
            isFolder = ::fstatat(::dirfd(dir), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                       S_ISDIR(status.st_mode);
        }
        entries.append({QFile::decodeName(entry->d_name), isFolder});
    }
    const int error = errno;
    ::closedir(dir);
    if (error != 0)
        return Result<QList<FolderEntry>>::failure(systemError(error));
    sortByName(entries);
    return entries;
}

Result<qint64> fileLength(const QString& path)
{
    struct stat status = {};
    if (::stat(encodedPath(path).constData(), &status) != 0)
        return Result<qint64>::failure(systemError(errno));
    if (!S_ISREG(status.st_mode))
        return Result<qint64>::failure(QStringLiteral("it is not a file"));
    return qint64(status.st_size);
}

namespace {

// A file this user may not replace concerns that file alone; anything else (a full disk, a
// read-only file system) would fail every later store as well.
Status storeFailure(int error)
{
    return Status::failure(systemError(error),
                           error == EACCES || error == EPERM ? Reach::ThisItem : Reach::Everything);
}

// Whether a store may replace what is at the target, judged without following links. A former
// regular file's permission bits are kept for the new one; anything else gives none.
Status mayReplace(const QByteArray& target, mode_t& keptMode)
{
    struct stat former = {};
    keptMode = 0;
    if (::lstat(target.constData(), &former) == 0) {
        if (S_ISDIR(former.st_mode))
            return Status::failure(QStringLiteral("a folder has that name"), Reach::ThisItem);
        // The rename would replace a file that only its folder lets this user change. A file
        // without any write permission bit was made read-only to keep it, and stays kept for
        // every account, root too, as Windows' read-only attribute stops administrators. Any
        // other file is asked of the system for this user: one of another account is kept,
        // but an administrator may replace it.
        const bool readOnly = S_ISREG(former.st_mode) && (former.st_mode & 0222) == 0;
        if (S_ISREG(former.st_mode) &&
            (readOnly ||
             (::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0 && errno == EACCES)))
            return Status::failure(readOnly || former.st_uid == ::geteuid()
                                       ? QStringLiteral("the file is read-only")
                                       : QStringLiteral("this user may not change the file "
                                                        "(another account owns it)"),
                                   Reach::ThisItem);
        if (S_ISREG(former.st_mode))
            keptMode = former.st_mode & 0777; // never set-user-ID or set-group-ID
    }
    struct stat folder = {};
    if (::lstat(folderOf(target).constData(), &folder) != 0)
        return Status::failure(errno == ENOENT ? QStringLiteral("the folder does not exist")
                                               : systemError(errno));
    if (S_ISLNK(folder.st_mode))
        return Status::failure(QStringLiteral("the card folder is a link to another place"));
    return {};
}

// Creates the part file afresh; one of this process id left by a killed store is replaced.
int createPart(const QByteArray& part)
{
    const auto open = [&] {
        return ::open(part.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    };
    int file = open();
    if (file < 0 && errno == EEXIST) {
        ::unlink(part.constData());
        file = open();
    }
    return file;
}

} // namespace

Status writeWholeFile(const QString& path, const QByteArray& bytes)
{
    const QByteArray target = encodedPath(path);
    mode_t keptMode = 0;
    if (Status allowed = mayReplace(target, keptMode); !allowed)
        return allowed;

    // Written beside the target and renamed over it once complete, so that a failure at any
    // point leaves the former file as it was. The process id keeps two copies of the program
    // apart. Not synced to disk: every card file can be fetched again, and a sync per file
    // would double the time of a large download.
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray part = target.left(slash + 1) + '.' + target.mid(slash + 1) + '.' +
                            QByteArray::number(qint64(::getpid())) + ".kx-part";
    const int file = createPart(part);
    if (file < 0)
        return storeFailure(errno);
    Status written = writeAll(file, bytes.constData(), bytes.size());
    if (written && keptMode && ::fchmod(file, keptMode) != 0)
        written = Status::failure(systemError(errno));
    if (::close(file) != 0 && written)
        written = Status::failure(systemError(errno));
    if (written && ::rename(part.constData(), target.constData()) != 0)
        written = storeFailure(errno);
    if (!written)
        ::unlink(part.constData());
    return written;
}

Status moveAsideWhenLarger(const QString& from, const QString& to, qint64 size)
{
    const QByteArray native = encodedPath(from);
    const int fd =
        ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0)
        return Status::failure(systemError(errno));
    const auto failed = [fd](int error) {
        ::close(fd);
        return Status::failure(systemError(error));
    };
    struct stat opened = {};
    if (::fstat(fd, &opened) != 0)
        return failed(errno);
    if (!S_ISREG(opened.st_mode) || opened.st_size <= size) {
        ::close(fd);
        return {};
    }
    // Copies that find the file large at the same moment take turns; the ones after the first
    // find another file at the name, or none, and leave it.
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR)
            return failed(errno);
    }
    struct stat atName = {};
    const bool stillThere = ::lstat(native.constData(), &atName) == 0 &&
                            atName.st_ino == opened.st_ino && atName.st_dev == opened.st_dev;
    if (stillThere && ::rename(native.constData(), encodedPath(to).constData()) != 0)
        return failed(errno);
    ::close(fd); // and with it the lock
    return {};
}

Qt::CaseSensitivity fileNameCase()
{
    return Qt::CaseSensitive;
}

void failWritesPastFileSizeLimit()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

QString documentsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

EntryKind entryKindOf(const QString& path)
{
    struct stat status = {};
    if (::lstat(encodedPath(path).constData(), &status) != 0)
        return EntryKind::Missing;
    return S_ISREG(status.st_mode)   ? EntryKind::RegularFile
           : S_ISDIR(status.st_mode) ? EntryKind::Folder
                                     : EntryKind::Other;
}

void removeFileQuietly(const QString& path)
{
    ::unlink(encodedPath(path).constData());
}

Result<qintptr> openTextFile(const QString& path, bool append)
{
    const QByteArray native = encodedPath(path);
    struct stat existing = {};
    if (::stat(native.constData(), &existing) == 0 && !S_ISREG(existing.st_mode))
        return Result<qintptr>::failure(S_ISDIR(existing.st_mode)
                                            ? QStringLiteral("a folder has that name")
                                            : QStringLiteral("it is not a regular file"));
    // Non-blocking, so that a pipe in the file's place cannot hold the program up; a regular
    // file ignores the flag.
    const int flags =
        (append ? O_WRONLY | O_CREAT | O_APPEND : O_RDONLY) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    const int fd = ::open(native.constData(), flags, 0666);
    if (fd < 0)
        return Result<qintptr>::failure(systemError(errno));
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return Result<qintptr>::failure(QStringLiteral("it is not a regular file"));
    }
    return qintptr(fd);
}

Result<qsizetype> readFromFile(qintptr handle, char* data, qsizetype size)
{
    for (;;) {
        const ssize_t count = ::read(int(handle), data, size_t(size));
        if (count >= 0)
            return qsizetype(count);
        if (errno != EINTR)
            return Result<qsizetype>::failure(systemError(errno));
    }
}

Status writeToFile(qintptr handle, const QByteArray& bytes)
{
    return writeAll(int(handle), bytes.constData(), bytes.size());
}

Status closeFile(qintptr handle)
{
    if (::close(int(handle)) != 0)
        return Status::failure(systemError(errno));
    return {};
}

LockFileAttempt takeLockFile(const QString& path, const QByteArray& holder)
{
    const QByteArray native = encodedPath(path);
    // A holder removes the file while it still holds it, so a lock taken on a file that is no
    // longer at the path is no lock: then it is tried again.
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int fd =
            ::open(native.constData(),
                   O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK, 0644);
        if (fd < 0)
            return {};
        struct stat opened = {};
        struct stat atPath = {};
        if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            ::close(fd);
            return {};
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            LockFileAttempt held{LockFileAttempt::Held, -1, QByteArray(4096, '\0')};
            const ssize_t count =
                errno == EWOULDBLOCK ? ::pread(fd, held.holder.data(), 4096, 0) : -1;
            ::close(fd);
            if (count < 0)
                return {};
            held.holder.truncate(count);
            return held;
        }
        if (::lstat(native.constData(), &atPath) != 0 || atPath.st_ino != opened.st_ino ||
            atPath.st_dev != opened.st_dev) {
            ::close(fd);
            continue;
        }
        const bool leftBehind = opened.st_size > 0;
        if (::ftruncate(fd, 0) != 0 ||
            ::pwrite(fd, holder.constData(), size_t(holder.size()), 0) != holder.size()) {
            ::unlink(native.constData());
            ::close(fd);
            return {};
        }
        return {leftBehind ? LockFileAttempt::TakenOver : LockFileAttempt::Taken, qintptr(fd), {}};
    }
    return {};
}

void releaseLockFile(qintptr handle, const QString& path)
{
    ::unlink(encodedPath(path).constData());
    ::close(int(handle));
}
