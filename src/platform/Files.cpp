#include "platform/Files.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSaveFile>

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

Result<int> entryAttributes(const QString& path)
{
    const QFileInfo info(nativePath(path));
    if (!info.exists())
        return Result<int>::failure(QStringLiteral("no such file or folder"));
    return info.isDir() ? kFolderAttribute : 0;
}

Result<qint64> fileLength(const QString& path)
{
    const QFileInfo info(nativePath(path));
    if (!info.exists())
        return Result<qint64>::failure(QStringLiteral("no such file"));
    if (info.isDir())
        return Result<qint64>::failure(QStringLiteral("it is a folder"));
    return info.size();
}

namespace {
// The mode bits only: WriteUser reflects what the current user may do, and root may do all.
constexpr QFile::Permissions kAnyWrite = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
} // namespace

Status writeWholeFile(const QString& path, const QByteArray& bytes)
{
    const QString target = nativePath(path);
    const QFileInfo info(target);
    if (info.isDir())
        return Status::failure(QStringLiteral("a folder has that name"));
    // Judged from the permission bits, not from access(): a read-only file must stay
    // untouched even for an administrator, and a rename would silently replace it.
    if (info.exists() && !(info.permissions() & kAnyWrite))
        return Status::failure(QStringLiteral("the file is read-only"));
    if (!info.dir().exists())
        return Status::failure(QStringLiteral("the folder does not exist"));

    QSaveFile file(target);
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
