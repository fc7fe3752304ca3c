#pragma once

#include "platform/Result.h"
#include "state/RunContext.h"

#include <QStringList>

// Brings one card folder up to date: each ticked kind is measured, fetched when the size
// rule or overwrite mode asks for it, stored, measured again and counted in the run total,
// every step written to the open run log. Fails, with the reason, at the first fetch, store
// or log write that fails, or when the window is closed; what was stored before stays stored.
Status UpdateCard(RunContext& run, const QString& MyCard);

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
