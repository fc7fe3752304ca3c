#include "platform/Files.h"

#include "platform/FilesPrivate.h"

#include <QDir>

#include <windows.h>
// After windows.h, which they need.
#include <knownfolders.h>
#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Another program (the card application showing the card, a virus scanner) may hold a card
// file open for a moment; a store tries to replace it for about a second, as libcurl does.
constexpr int kReplaceTries = 20;
constexpr DWORD kReplacePauseMs = 50;

QString systemError(DWORD error)
{
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const QString message =
        length ? plainSystemMessage(QString::fromWCharArray(text, int(length))) : QString();
    ::LocalFree(text);
    return message.isEmpty() ? QStringLiteral("system error %1").arg(error) : message;
}

QString lastError()
{
    return systemError(::GetLastError());
}

// The path as the wide-character calls take it at any length: absolute, after "\\?\" (or
// "\\?\UNC\" for a network share), so that paths past 260 characters work too. The system
// leaves a path already in that form as it is, so one typed so has its doubled separators
// folded here, as the system folds them in every other form.
std::wstring systemPath(const QString& path)
{
    const std::wstring given =
        QDir::toNativeSeparators(path.isEmpty() ? QStringLiteral(".") : path).toStdWString();
    if (given.rfind(L"\\\\?\\", 0) == 0) {
        std::wstring folded = given.substr(0, 4);
        for (std::size_t i = 4; i < given.size(); ++i) {
            if (given[i] != L'\\' || folded.back() != L'\\')
                folded += given[i];
        }
        return folded;
    }
    const DWORD needed = ::GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return given;
    std::wstring full(needed, L'\0');
    full.resize(::GetFullPathNameW(given.c_str(), needed, full.data(), nullptr));
    if (full.rfind(L"\\\\.\\", 0) == 0) // a device: never prefixed into a file's name
        return full;
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// What is at the path leads to another place (see reparseTagIsLink). A reparse point whose tag
// cannot be read is taken for a link: nothing is ever written through one.
bool isLink(const std::wstring& path, DWORD attributes)
{
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    WIN32_FIND_DATAW found = {};
    const HANDLE search = ::FindFirstFileW(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return true;
    ::FindClose(search);
    return reparseTagIsLink(found.dwReserved0);
}

// Whether another program holds the file open so that it cannot be replaced now: a rename over
// it is refused as "access denied" both then and when this user may not replace it at all.
bool heldOpenByAnotherProgram(const std::wstring& path)
{
    const HANDLE file = ::CreateFileW(
        path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(file);
        return false;
    }
    return ::GetLastError() == ERROR_SHARING_VIOLATION;
}

Status writeAll(HANDLE file, const char* data, qsizetype size)
{
    while (size > 0) {
        const DWORD chunk = DWORD(std::min<qsizetype>(size, 1 << 30));
        DWORD written = 0;
        if (!::WriteFile(file, data, chunk, &written, nullptr))
            return Status::failure(lastError());
        if (written == 0)
            return Status::failure(systemError(ERROR_DISK_FULL));
        data += written;
        size -= written;
    }
    return {};
}

// Whether a store may replace what is at the target, judged without following links.
Status mayReplace(const std::wstring& target)
{
    const DWORD former = ::GetFileAttributesW(target.c_str());
    if (former != INVALID_FILE_ATTRIBUTES && !isLink(target, former)) {
        if (former & FILE_ATTRIBUTE_DIRECTORY)
            return Status::failure(QStringLiteral("a folder has that name"), Reach::ThisItem);
        // Checked here rather than left to the rename: Windows refuses to replace a read-only
        // file, but not every system that runs this program does.
        if (former & FILE_ATTRIBUTE_READONLY)
            return Status::failure(QStringLiteral("the file is read-only"), Reach::ThisItem);
    }
    const std::wstring folder = target.substr(0, target.find_last_of(L'\\'));
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return Status::failure(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                                   ? QStringLiteral("the folder does not exist")
                                   : systemError(error));
    }
    if (isLink(folder, attributes)) // a symbolic link or a junction
        return Status::failure(QStringLiteral("the card folder is a link to another place"));
    return {};
}

// Creates the part file afresh; one of this process id left by a killed store is replaced.
HANDLE createPart(const std::wstring& part)
{
    const auto create = [&] {
        return ::CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    };
    HANDLE file = create();
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_EXISTS) {
        ::DeleteFileW(part.c_str());
        file = create();
    }
    return file;
}

// A file or card folder that this user may not change; others may well be.
Status accessDenied()
{
    return Status::failure(QStringLiteral("access is denied: this user may not replace the file "
                                          "(another account may own it)"),
                           Reach::ThisItem);
}

// Renames the part file over the target, waiting a moment for a program that holds it open.
Status replaceWith(const std::wstring& part, const std::wstring& target)
{
    for (int attempt = 1;; ++attempt) {
        if (::MoveFileExW(part.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
            return {};
        const DWORD error = ::GetLastError();
        const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                          error == ERROR_DELETE_PENDING ||
                          (error == ERROR_ACCESS_DENIED && heldOpenByAnotherProgram(target));
        if (error == ERROR_ACCESS_DENIED && !held)
            return accessDenied();
        if (!held)
            return Status::failure(systemError(error));
        if (attempt == kReplaceTries)
            return Status::failure(QStringLiteral("the file is in use by another program"),
                                   Reach::ThisItem);
        ::Sleep(kReplacePauseMs);
    }
}

} // namespace

bool reparseTagIsLink(quint32 tag)
{
    return IsReparseTagNameSurrogate(tag);
}

Result<QList<FolderEntry>> listFolder(const QString& folder)
{
    std::wstring pattern = systemPath(folder);
    if (pattern.back() != L'\\')
        pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW found = {};
    const HANDLE search =
        ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                           FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            error == ERROR_DIRECTORY || error == ERROR_INVALID_NAME)
            return QList<FolderEntry>();
        return Result<QList<FolderEntry>>::failure(systemError(error));
    }
    QList<FolderEntry> entries;
    do {
        const QString name = QString::fromWCharArray(found.cFileName);
        if (name == u"." || name == u"..")
            continue;
        const DWORD attributes = found.dwFileAttributes;
        const bool link =
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && reparseTagIsLink(found.dwReserved0);
        entries.append({name, (attributes & FILE_ATTRIBUTE_DIRECTORY) && !link});
    } while (::FindNextFileW(search, &found));
    const DWORD error = ::GetLastError();
    ::FindClose(search);
    if (error != ERROR_NO_MORE_FILES)
        return Result<QList<FolderEntry>>::failure(systemError(error));
    sortByName(entries);
    return entries;
}

Result<qint64> fileLength(const QString& path)
{
    const std::wstring native = systemPath(path);
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(native.c_str(), GetFileExInfoStandard, &data))
        return Result<qint64>::failure(lastError());
    if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) ||
        isLink(native, data.dwFileAttributes))
        return Result<qint64>::failure(QStringLiteral("it is not a file"));
    return (qint64(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

Status writeWholeFile(const QString& path, const QByteArray& bytes)
{
    const std::wstring target = systemPath(path);
    if (Status allowed = mayReplace(target); !allowed)
        return allowed;

    // Written beside the target and renamed over it once complete, so that a failure at any
    // point leaves the former file as it was. The process id keeps two copies apart.
    const std::size_t slash = target.find_last_of(L'\\');
    const std::wstring part = target.substr(0, slash + 1) + L'.' + target.substr(slash + 1) + L'.' +
                              std::to_wstring(::GetCurrentProcessId()) + L".kx-part";
    const HANDLE file = createPart(part);
    if (file == INVALID_HANDLE_VALUE)
        return ::GetLastError() == ERROR_ACCESS_DENIED ? accessDenied()
                                                       : Status::failure(lastError());
    Status written = writeAll(file, bytes.constData(), bytes.size());
    if (!::CloseHandle(file) && written)
        written = Status::failure(lastError());
    if (written)
        written = replaceWith(part, target);
    if (!written)
        ::DeleteFileW(part.c_str());
    return written;
}

Status moveAsideWhenLarger(const QString& from, const QString& to, qint64 size)
{
    // The file measured is the file renamed, through its handle: a copy that measured it too
    // and comes second renames it to the name it already has, never the file started afresh.
    // A file another copy writes to (it shares no deletion) is left where it is.
    const HANDLE file =
        ::CreateFileW(systemPath(from).c_str(), DELETE | FILE_READ_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Status::failure(lastError());
    BY_HANDLE_FILE_INFORMATION information = {};
    Status moved;
    if (!::GetFileInformationByHandle(file, &information)) {
        moved = Status::failure(lastError());
    } else if (!(information.dwFileAttributes &
                 (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
               ((qint64(information.nFileSizeHigh) << 32) | information.nFileSizeLow) > size) {
        const std::wstring target = systemPath(to);
        const std::size_t nameBytes = target.size() * sizeof(wchar_t);
        std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
        auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        rename->ReplaceIfExists = TRUE;
        rename->RootDirectory = nullptr;
        rename->FileNameLength = DWORD(nameBytes);
        std::memcpy(rename->FileName, target.c_str(), nameBytes + sizeof(wchar_t));
        if (!::SetFileInformationByHandle(file, FileRenameInfo, rename, DWORD(buffer.size())))
            moved = Status::failure(lastError());
    }
    ::CloseHandle(file);
    return moved;
}

Qt::CaseSensitivity fileNameCase()
{
    return Qt::CaseInsensitive;
}

void failWritesPastFileSizeLimit()
{
    // Windows has no file-size signal: a write past a quota simply fails.
}

QString documentsFolder()
{
    wchar_t* folder = nullptr;
    QString documents;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_Documents, KF_FLAG_DEFAULT, nullptr, &folder)))
        documents = QString::fromWCharArray(folder);
    ::CoTaskMemFree(folder);
    return documents;
}

EntryKind entryKindOf(const QString& path)
{
    const std::wstring native = systemPath(path);
    const DWORD attributes = ::GetFileAttributesW(native.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return EntryKind::Missing;
    if (isLink(native, attributes) || (attributes & FILE_ATTRIBUTE_DEVICE))
        return EntryKind::Other;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::Folder : EntryKind::RegularFile;
}

void removeFileQuietly(const QString& path)
{
    ::DeleteFileW(systemPath(path).c_str());
}

Result<qintptr> openTextFile(const QString& path, bool append)
{
    const std::wstring native = systemPath(path);
    const DWORD attributes = ::GetFileAttributesW(native.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Result<qintptr>::failure(QStringLiteral("a folder has that name"));
    // Another copy moving the file aside, or a virus scanner, may hold it for a moment.
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < kReplaceTries; ++attempt) {
        file = ::CreateFileW(native.c_str(), append ? FILE_APPEND_DATA : GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             append ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_SHARING_VIOLATION)
            break;
        ::Sleep(kReplacePauseMs);
    }
    if (file == INVALID_HANDLE_VALUE)
        return Result<qintptr>::failure(lastError());
    // A device or a pipe is never read or written as a text file.
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        return Result<qintptr>::failure(QStringLiteral("it is not a regular file"));
    }
    return reinterpret_cast<qintptr>(file);
}

Result<qsizetype> readFromFile(qintptr handle, char* data, qsizetype size)
{
    DWORD count = 0;
    if (!::ReadFile(reinterpret_cast<HANDLE>(handle), data,
                    DWORD(std::min<qsizetype>(size, 1 << 30)), &count, nullptr))
        return Result<qsizetype>::failure(lastError());
    return qsizetype(count);
}

Status writeToFile(qintptr handle, const QByteArray& bytes)
{
    return writeAll(reinterpret_cast<HANDLE>(handle), bytes.constData(), bytes.size());
}

Status closeFile(qintptr handle)
{
    if (!::CloseHandle(reinterpret_cast<HANDLE>(handle)))
        return Status::failure(lastError());
    return {};
}

LockFileAttempt takeLockFile(const QString& path, const QByteArray& holder)
{
    const std::wstring native = systemPath(path);
    // Held open for writing and deleting, others only reading: a second copy's open for
    // writing fails as a sharing violation while this one runs, also from another computer
    // through a share; when the holder ends, killed or not, the system closes its handle.
    const HANDLE file = ::CreateFileW(
        native.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (::GetLastError() != ERROR_SHARING_VIOLATION)
            return {};
        LockFileAttempt held{LockFileAttempt::Held, -1, {}};
        const HANDLE reader = ::CreateFileW(native.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (reader != INVALID_HANDLE_VALUE) {
            held.holder.resize(4096);
            DWORD count = 0;
            held.holder.truncate(::ReadFile(reader, held.holder.data(), 4096, &count, nullptr)
                                     ? qsizetype(count)
                                     : 0);
            ::CloseHandle(reader);
        }
        return held;
    }
    const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    LARGE_INTEGER size = {};
    const bool leftBehind = existed && ::GetFileSizeEx(file, &size) && size.QuadPart > 0;
    FILE_END_OF_FILE_INFO empty = {};
    Status written = ::SetFileInformationByHandle(file, FileEndOfFileInfo, &empty, sizeof(empty))
                         ? writeAll(file, holder.constData(), holder.size())
                         : Status::failure(lastError());
    if (!written) {
        releaseLockFile(reinterpret_cast<qintptr>(file), path);
        return {};
    }
    return {leftBehind ? LockFileAttempt::TakenOver : LockFileAttempt::Taken,
            reinterpret_cast<qintptr>(file),
            {}};
}

void releaseLockFile(qintptr handle, const QString& /*path*/)
{
    // Marked for deletion through the handle that holds it: nobody else can have it open for
    // writing, and it goes when the handle closes.
    const auto file = reinterpret_cast<HANDLE>(handle);
    FILE_DISPOSITION_INFO remove = {};
    remove.DeleteFile = TRUE;
    ::SetFileInformationByHandle(file, FileDispositionInfo, &remove, sizeof(remove));
    ::CloseHandle(file);
}
