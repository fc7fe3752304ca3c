#pragma once

#include "platform/Result.h"
#include "state/RunContext.h"

#include <QStringList>

// Brings one card folder up to date: each ticked kind is measured, fetched when the size
// rule or overwrite mode asks for it, stored, measured again and counted in the run total,
// every step written to the open run log. The files of one kind are stored together or not at
// all. A file that cannot be brought up to date on its own account (the server does not have
// it or sends no whole picture or info file, the user protects the card file) is passed over:
// logged with the reason, counted, its former file kept. Fails, with the reason, at the first
// other failure of a fetch, store or log write, when the window is closed, or when
// kMaxFilesNotUpdatedInARow files in a row were passed over and a server they came from no
// longer answers with a file it has whole; what was stored before stays stored.
Status UpdateCard(RunContext& run, const QString& MyCard);

// A series of files passed over this long makes the run ask the servers concerned for a file
// they have whole: one that no longer comes means the server address is wrong or the server is
// broken, and the rest would go the same way. A series on the disk's account alone stops the
// run at once.
inline constexpr int kMaxFilesNotUpdatedInARow = 25;
