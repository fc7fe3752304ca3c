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

// Sorts a folder's entries by name, case ignored, the order a file manager shows.
void sortByName(QList<FolderEntry>& entries);

// A text file's handle (a file descriptor or a Windows handle): opened only when the file is
// a regular one, never waiting on a pipe; for appending, made when missing.
Result<qintptr> openTextFile(const QString& path, bool append);
// Reads at most size bytes; 0 at the end of the file.
Result<qsizetype> readFromFile(qintptr handle, char* data, qsizetype size);
Status writeToFile(qintptr handle, const QByteArray& bytes);
Status closeFile(qintptr handle);
