#include "app/FolderCompleter.h"

#include "platform/Files.h"

#include <QDir>
#include <QFileSystemModel>
#include <QLineEdit>

FolderCompleter::FolderCompleter(QLineEdit* box)
    : QCompleter(box), m_folders(new QFileSystemModel(this)), m_box(box)
{
    m_folders->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    m_folders->setRootPath(QString());
    setModel(m_folders);
    setCaseSensitivity(fileNameCase());
    connect(box, &QLineEdit::textEdited, this, &FolderCompleter::readAlongTypedPath);
    // The model says a folder is read before it has added all its rows: both are a reason to
    // look again.
    connect(m_folders, &QFileSystemModel::directoryLoaded, this,
            &FolderCompleter::readAlongTypedPath);
    connect(m_folders, &QFileSystemModel::rowsInserted, this, &FolderCompleter::readAlongTypedPath);
}

namespace {

// A path without a trailing separator, "/" as separator: "C:" for "C:\\", but "/" stays.
QString barePath(const QString& path)
{
    QString bare = QDir::fromNativeSeparators(path);
    while (bare.size() > 1 && bare.endsWith(u'/'))
        bare.chop(1);
    return bare;
}

} // namespace

void FolderCompleter::readAlongTypedPath()
{
    // The folders the typed text passes through; its last part is the name being typed.
    const QStringList parts = splitPath(m_box->text());
    QModelIndex folder; // the top: the drives, or "/"
    QString path;       // of the folder the walk looks into next
    for (qsizetype part = 0; part < parts.size(); ++part) {
        if (m_folders->canFetchMore(folder)) {
            m_folders->fetchMore(folder); // read on the model's thread; directoryLoaded follows
            return;
        }
        if (part + 1 == parts.size())
            break;
        // Drives are named for showing, " (C:)": folders are told by their paths.
        path = part == 0 ? barePath(parts[0])
                         : (path.endsWith(u'/') ? path : path + u'/') + parts[part];
        QModelIndex next;
        for (int row = 0; row < m_folders->rowCount(folder) && !next.isValid(); ++row) {
            const QModelIndex child = m_folders->index(row, 0, folder);
            if (barePath(m_folders->filePath(child)).compare(barePath(path), fileNameCase()) == 0)
                next = child;
        }
        if (!next.isValid())
            return; // no such folder
        folder = next;
    }
    if (m_box->hasFocus()) {
        setCompletionPrefix(m_box->text());
        complete();
    }
}
