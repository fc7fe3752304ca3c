#include "run/RunProgress.h"

#include "platform/Files.h"

RunProgress::RunProgress(RunDisplay& display, Elapsed elapsed)
    : m_display(display), m_elapsed(std::move(elapsed))
{
    if (!m_elapsed)
        m_elapsed = [this] {
            return m_clock.elapsed();
        };
}

void RunProgress::start()
{
    m_clock.start();
    m_note.clear();
    m_finished = false;
    m_total = 0;
    m_done = 0;
    show();
}

void RunProgress::addCards(int count)
{
    m_total += count;
    show();
}

void RunProgress::cardDone()
{
    m_done = qMin(m_done + 1, m_total);
    show();
}

void RunProgress::finish()
{
    m_finished = true;
    show();
}

void RunProgress::foundNoCardFolders(const QString& folder)
{
    m_note = QStringLiteral("No card folder (a0001 ...) was found in %1").arg(nativePath(folder));
    show();
}

QString RunProgress::estimate() const
{
    const qint64 elapsed = m_elapsed();
    if (m_finished || elapsed < kEstimateAfterMs || m_done == 0 || m_done >= m_total)
        return {};
    const qint64 secondsLeft = elapsed * (m_total - m_done) / m_done / 1000;
    if (secondsLeft < 60)
        return QStringLiteral("less than a minute left");
    const qint64 minutesLeft = (secondsLeft + 30) / 60;
    if (minutesLeft == 1)
        return QStringLiteral("about a minute left");
    if (minutesLeft < 120)
        return QStringLiteral("about %1 minutes left").arg(minutesLeft);
    return QStringLiteral("about %1 h %2 min left").arg(minutesLeft / 60).arg(minutesLeft % 60);
}

void RunProgress::show()
{
    const QString left = estimate();
    // A card may still come: the one card, chosen while the walk went on.
    const QString text = !m_note.isEmpty() && m_total == 0
                             ? m_note
                             : QStringLiteral("%1 of %2 cards").arg(m_done).arg(m_total) +
                                   (left.isEmpty() ? QString() : QStringLiteral(", ") + left);
    m_display.showProgress(m_done, m_total, text);
}
