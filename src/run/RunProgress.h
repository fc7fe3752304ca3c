#pragma once

#include <QElapsedTimer>
#include <QString>

#include <functional>

class QProgressBar;

// Shows in the progress bar how many cards of the run are done out of how many, and once a
// minute has passed, about how long the rest will take. After a run it keeps the count the run
// reached until it is cleared.
class RunProgress
{
public:
    // Milliseconds since the run began; a steady clock unless a test gives its own.
    using Elapsed = std::function<qint64()>;

    static constexpr qint64 kEstimateAfterMs = 60'000;

    explicit RunProgress(QProgressBar* bar, Elapsed elapsed = {});
    // Starts counting for a new run.
    void start();
    // More cards are to be updated in this run.
    void addCards(int count);
    void cardDone();
    // The run is over: the count it reached stays.
    void finish();
    // Idle and empty again.
    void clear();
    // The walk found no card folder in the folder: the bar says so rather than "0 of 0".
    void foundNoCardFolders(const QString& folder);

    int cardsDone() const { return m_done; }
    int cardsTotal() const { return m_total; }
    // "about 5 minutes left" once a minute has passed, else empty.
    QString estimate() const;
    // What the bar says instead of a count of no cards, if anything.
    const QString& note() const { return m_note; }
    // Called whenever the count changes, for a console that shows it too.
    void setListener(std::function<void()> listener) { m_listener = std::move(listener); }

private:
    void show();

    QProgressBar* m_bar;
    Elapsed m_elapsed;
    std::function<void()> m_listener;
    QElapsedTimer m_clock;
    int m_total = 0;
    int m_done = 0;
    bool m_finished = false;
    QString m_note; // shown instead of the count
};
