#pragma once

#include "cards/AssetKinds.h"
#include "state/RunContext.h"

#include <QList>
#include <QString>

// What a card's update fetches, judged from its files on disk and the window's choices as they
// are now: asked by the update itself before each fetch, and by the planner that fetches ahead.

// The names built from a card name, used exactly as given.
QString localFilePath(const QString& dataPath, const QString& card, const QString& suffix);

// A missing or unreadable file measures 0.
double sizeOnDisk(const QString& path);

// Whether a picture's bytes are read, besides its size, to decide.
enum class Judging
{
    BySize,
    ByBytesAsAsked // where the run checks pictures
};

// Where a card's files come from and where they go.
class CardNames
{
public:
    CardNames(const RunContext& run, const QString& card) : m_run(run), m_card(card) {}

    QString localPath(const char* suffix) const;
    // The info URL is rebuilt from the current key and user name every time.
    QString url(const AssetKind& kind, const char* suffix) const;
    const QString& card() const { return m_card; }

private:
    const RunContext& m_run;
    const QString& m_card;
};

// Overwrite mode, or the kind's size rule (both are always evaluated), or a missing or empty
// file beside the one the rule measures (its partner is fetched with it, so the pair is mended
// only together), or, where asked for, a picture that passes its size rule but is not whole.
bool fetchesNow(const RunContext& run, const AssetKind& kind, const CardNames& names, double dSize,
                Judging judging);

// A fetch UpdateCard would make.
struct PredictedFetch
{
    QString url;
    bool fromInfoService = false;
};

// The fetches UpdateCard would make for the card now, in order, judged from the files on disk
// and the boxes as they are.
QList<PredictedFetch> predictedFetches(const RunContext& run, const QString& card);
