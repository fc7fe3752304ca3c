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
