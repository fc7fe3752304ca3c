#pragma once

#include "platform/Result.h"
#include "state/RunContext.h"

#include <QStringList>

// Brings one card folder up to date: each ticked kind is measured, fetched when the size
// rule or overwrite mode asks for it, stored, measured again and counted in the run total,
// every step written to the open run log. A file that cannot be brought up to date on its own
// account (the server does not have it or sends no whole picture, the user protects the card
// file) is passed over: logged with the reason, counted, its former file kept. Fails, with the
// reason, at the first other failure of a fetch, store or log write, when the window is closed,
// or when kMaxFilesNotUpdatedInARow files in a row were passed over; what was stored before
// stays stored.
Status UpdateCard(RunContext& run, const QString& MyCard);

// A series of files passed over this long stops the run: the server address is wrong, or the
// server or the folder is broken, and the rest would go the same way.
inline constexpr int kMaxFilesNotUpdatedInARow = 25;

// A fetch UpdateCard would make.
struct PredictedFetch
{
    QString url;
    bool fromInfoService = false;
};

// The fetches UpdateCard would make for the card now, in order, judged from the files on disk
// and the boxes as they are.
QList<PredictedFetch> predictedFetches(const RunContext& run, const QString& card);

// The names built from a card name, used exactly as given.
QString localFilePath(const QString& dataPath, const QString& card, const QString& suffix);
QString assetUrl(const QString& assetServerOrigin, const QString& card, const QString& suffix);
QString infoUrl(const QString& infoServiceOrigin, const QString& key, const QString& userName,
                const QString& card);
