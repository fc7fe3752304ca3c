#include "platform/ServerPace.h"

#include <algorithm>

void ServerPace::setCeiling(int ceiling)
{
    m_ceiling = std::max(1, ceiling);
    // As many as allowed, unless the server asked for fewer.
    m_limit = m_lastCut == Clock::time_point{} ? m_ceiling : std::min(m_limit, m_ceiling);
}

void ServerPace::overloaded(Clock::time_point sentAt, int underWay, std::chrono::milliseconds pause,
                            Clock::time_point now)
{
    ++m_overloadsInARow;
    m_resumeAt = std::max(m_resumeAt, now + pause);
    if (sentAt < m_lastCut)
        return;
    m_limit = std::max(1, std::min(m_limit, underWay) / 2);
    m_goodAnswers = 0;
    m_lastCut = now;
}

void ServerPace::answeredWell()
{
    m_overloadsInARow = 0;
    if (m_limit < m_ceiling && ++m_goodAnswers >= m_limit) {
        ++m_limit;
        m_goodAnswers = 0;
    }
}
