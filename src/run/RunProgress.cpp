#include "run/RunProgress.h"

#include "platform/Files.h"
#include "platform/HeldUpdates.h"

#include <QProgressBar>

namespace {
const QString kCardsFormat = QStringLiteral("%v of %m cards");
}

RunProgress::RunProgress(QProgressBar* bar, Elapsed elapsed)
    : m_bar(bar), m_elapsed(std::move(elapsed))
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
    m_bar->setTextVisible(true);
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

void RunProgress::clear()
{
    holdUntilShown(m_bar, [] {}); // drop a count still held
    m_bar->reset();
    m_bar->setFormat(kCardsFormat);
    m_bar->setTextVisible(false);
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
    holdUntilShown(m_bar, [bar = m_bar, done = m_done, total = m_total, text] {
        // A range of 0 to 0 would turn the bar into a busy indicator.
        bar->setRange(0, qMax(total, 1));
        bar->setValue(done);
        bar->setFormat(text);
    });
    if (m_listener)
        m_listener();
}
