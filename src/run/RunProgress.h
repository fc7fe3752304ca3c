#pragma once

#include "state/RunFaces.h"

#include <QElapsedTimer>
#include <QString>

#include <functional>

// Counts how many cards of the run are done out of how many, and shows it, once a minute has
// passed with about how long the rest will take. After a run it keeps the count it reached.
class RunProgress
{
public:
    // Milliseconds since the run began; a steady clock unless a test gives its own.
    using Elapsed = std::function<qint64()>;

    static constexpr qint64 kEstimateAfterMs = 60'000;

    explicit RunProgress(RunDisplay& display, Elapsed elapsed = {});
    // Starts counting for a new run.
    void start();
    // More cards are to be updated in this run.
    void addCards(int count);
    void cardDone();
    // The run is over: the count it reached stays.
    void finish();
    // The walk found no card folder in the folder: the bar says so rather than "0 of 0".
    void foundNoCardFolders(const QString& folder);

    int cardsDone() const { return m_done; }
    int cardsTotal() const { return m_total; }
    // "about 5 minutes left" once a minute has passed, else empty.
    QString estimate() const;
    // What is said instead of a count of no cards, if anything.
    const QString& note() const { return m_note; }

private:
    void show();

    RunDisplay& m_display;
    Elapsed m_elapsed;
    QElapsedTimer m_clock;
    int m_total = 0;
    int m_done = 0;
    bool m_finished = false;
    QString m_note; // shown instead of the count
};
