#pragma once

#include <QCompleter>

class QFileSystemModel;
class QLineEdit;

// Completes folder names in a text box as they are typed, in the system's case rule. Folders
// are read on the file-system model's own thread, one at a time along the typed path (also one
// pasted whole), so that a slow or disconnected network drive never holds the window up; the
// box changes only when the user takes a completion.
class FolderCompleter final : public QCompleter
{
    Q_OBJECT

public:
    explicit FolderCompleter(QLineEdit* box);

private:
    // Asks for the first folder along the typed path that is not read yet; once all are, shows
    // what completes the name being typed.
    void readAlongTypedPath();

    QFileSystemModel* m_folders;
    QLineEdit* m_box;
};
