#pragma once

// What the system-specific file code gives the code shared by every system.

#include "platform/Files.h"

#include <QString>

enum class EntryKind
{
    Missing,
    RegularFile,
    Folder,
    Other // a link, a pipe, a device, ...
};

// What is at the path, without following a link.
EntryKind entryKindOf(const QString& path);

// Removes the file if it can; a failure is of no consequence to the caller.
void removeFileQuietly(const QString& path);

// A system's message as one plain sentence: its line breaks and the places left for values it
// was not given ("%1") taken out, no full stop at the end.
QString plainSystemMessage(const QString& message);

// Windows: whether a reparse point with this tag leads to another place, as a symbolic link or
// a junction does (a name surrogate). Other reparse points, such as the placeholders of cloud
// files (OneDrive and other sync clients) and deduplicated files, are ordinary files and
// folders.
bool reparseTagIsLink(quint32 tag);

// The user's Documents folder as the system keeps it now; empty where there is none.
QString documentsFolder();

// What taking a lock file came to.
struct LockFileAttempt
{
    enum Outcome
    {
        Taken,     // made afresh
        TakenOver, // left by a copy that no longer runs
        Held,      // a running copy holds it; holder is what it wrote
        Unavailable
    };
    Outcome outcome = Unavailable;
    qintptr handle = -1;
    QByteArray holder;
};

// Takes the lock file at the path and holds it until releaseLockFile, with the bytes written
// into it.
LockFileAttempt takeLockFile(const QString& path, const QByteArray& holder);
// Removes the lock file while still holding it, then lets it go.
void releaseLockFile(qintptr handle, const QString& path);

// Sorts a folder's entries by name, case ignored, the order a file manager shows.
void sortByName(QList<FolderEntry>& entries);

// A text file's handle (a file descriptor or a Windows handle): opened only when the file is
// a regular one, never waiting on a pipe; for appending, made when missing.
Result<qintptr> openTextFile(const QString& path, bool append);
// Reads at most size bytes; 0 at the end of the file.
Result<qsizetype> readFromFile(qintptr handle, char* data, qsizetype size);
Status writeToFile(qintptr handle, const QByteArray& bytes);
Status closeFile(qintptr handle);
