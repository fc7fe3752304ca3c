#include "http/ServerPace.h"

#include <algorithm>

void ServerPace::setCeiling(int ceiling)
{
    m_ceiling = std::max(1, ceiling);
    // As many as allowed, unless the server asked for fewer.
    const bool neverCut = m_lastCut == Clock::time_point{};
    m_limit = neverCut ? m_ceiling : std::min(m_limit, m_ceiling);
    if (neverCut)
        m_probeFrom = m_ceiling;
}

void ServerPace::overloaded(Clock::time_point sentAt, int underWay, std::chrono::milliseconds pause,
                            Clock::time_point now)
{
    m_resumeAt = std::max(m_resumeAt, now + pause);
    if (isLate(sentAt))
        return;
    ++m_overloadsInARow;
    m_limit = std::max(1, std::min(m_limit, underWay) / 2);
    m_probeFrom = std::max(1, underWay - 1);
    m_goodAnswers = 0;
    m_lastCut = now;
}

void ServerPace::keptWaiting(Clock::time_point connectedAt, int answering, int underWay,
                             Clock::time_point now)
{
    if (isLate(connectedAt))
        return;
    const int asked = std::min(m_limit, underWay);
    m_limit = std::max(1, std::min(asked, std::max(answering, asked / 2)));
    m_probeFrom = m_limit;
    m_goodAnswers = 0;
    m_lastCut = now;
}

void ServerPace::answeredWell()
{
    m_overloadsInARow = 0;
    const int answersForMore = m_limit < m_probeFrom ? m_limit : kAnswersBeforeProbing;
    if (m_limit < m_ceiling && ++m_goodAnswers >= answersForMore) {
        ++m_limit;
        m_goodAnswers = 0;
    }
}
