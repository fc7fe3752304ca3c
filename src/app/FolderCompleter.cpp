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

void FolderCompleter::readAlongTypedPath()
{
    // The folders the typed text passes through; its last part is the name being typed.
    const QStringList parts = splitPath(m_box->text());
    QModelIndex folder; // the top: the drives, or "/"
    QString path;
    for (qsizetype part = 0; part < parts.size(); ++part) {
        if (m_folders->canFetchMore(folder)) {
            m_folders->fetchMore(folder); // read on the model's thread; directoryLoaded follows
            return;
        }
        if (part + 1 == parts.size())
            break;
        path = part == 0 ? parts[0] : QDir(path).filePath(parts[part]);
        QModelIndex next;
        for (int row = 0; row < m_folders->rowCount(folder) && !next.isValid(); ++row) {
            const QModelIndex child = m_folders->index(row, 0, folder);
            if (QDir::cleanPath(m_folders->filePath(child))
                    .compare(QDir::cleanPath(QDir::fromNativeSeparators(path)), fileNameCase()) ==
                0)
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
