#pragma once

#include <QElapsedTimer>

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

private:
    void show();
    QString timeLeft() const;

    QProgressBar* m_bar;
    Elapsed m_elapsed;
    QElapsedTimer m_clock;
    int m_total = 0;
    int m_done = 0;
    bool m_finished = false;
};
