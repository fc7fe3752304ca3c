#include "cards/FetchAhead.h"

#include "cards/FetchPlan.h"
#include "state/RunContext.h"

#include <QScopedValueRollback>

#include <algorithm>

FetchAhead::FetchAhead(Fetcher& fetcher) : m_fetcher(fetcher)
{
    QObject::connect(&m_fetcher, &Fetcher::finished, &m_fetcher, [this] { topUp(); });
    setConnections(kDefaultConnections);
}

void FetchAhead::setConnections(int connections)
{
    m_connections = std::max(1, connections);
    // Where both services are one host, their requests are paced together.
    m_fetcher.setRequestsPerServer(m_connections + kInfoConnections);
}

void FetchAhead::planCards(const RunContext& run, const QStringList& cards)
{
    finish();
    if (m_connections <= 1)
        return;
    m_run = &run;
    m_cards = cards;
    topUp();
}

void FetchAhead::reachedCard(int index)
{
    m_reachedCard = index;
    topUp();
}

void FetchAhead::topUp()
{
    if (!m_run || !m_run->stopRequest.isEmpty() || m_toppingUp)
        return;
    const QScopedValueRollback busy(m_toppingUp, true);
    const auto queueFull = [&] {
        return int(m_queue.size()) >= 4 * m_connections ||
               m_fetcher.bytesHeld() >= kPlanWhileBytesHeldBelow;
    };
    while (!queueFull() && m_cardsWithoutFetches < kMaxCardsAhead && m_nextCard < m_cards.size() &&
           m_nextCard - m_reachedCard < kMaxCardsAhead) {
        const QList<PredictedFetch> fetches = predictedFetches(*m_run, m_cards[m_nextCard]);
        for (const PredictedFetch& fetch : fetches)
            m_queue.push_back({fetch.url, fetch.fromInfoService});
        m_cardsWithoutFetches = fetches.isEmpty() ? m_cardsWithoutFetches + 1 : 0;
        ++m_nextCard;
    }
    startWaiting();
}

void FetchAhead::startWaiting()
{
    int assetInFlight = 0;
    int infoInFlight = 0;
    for (const Planned& planned : m_queue) {
        if (planned.id != 0 && !m_fetcher.isFinished(planned.id))
            ++(planned.info ? infoInFlight : assetInFlight);
    }
    for (Planned& planned : m_queue) {
        if (m_fetcher.bytesHeld() >= kPlanWhileBytesHeldBelow)
            break;
        int& inFlight = planned.info ? infoInFlight : assetInFlight;
        const int limit = planned.info ? std::min(kInfoConnections, m_connections) : m_connections;
        if (planned.id == 0 && inFlight < limit) {
            planned.id = m_fetcher.start(planned.url);
            ++inFlight;
        }
    }
}

Result<QByteArray> FetchAhead::take(const QString& url)
{
    const auto found = std::find_if(m_queue.begin(), m_queue.end(),
                                    [&](const Planned& planned) { return planned.url == url; });
    if (found == m_queue.end()) {
        // Where the planner found nothing to fetch for a long stretch, it rests rather than
        // measure every file twice; a fetch it did not predict wakes it up.
        if (m_cardsWithoutFetches >= kMaxCardsAhead) {
            m_cardsWithoutFetches = 0;
            m_nextCard = std::max(m_nextCard, m_reachedCard + 1);
            topUp();
        }
        return m_fetcher.fetch(url);
    }
    // What was predicted before it and not asked for is no longer wanted.
    for (auto dropped = m_queue.begin(); dropped != found; ++dropped)
        m_fetcher.discard(dropped->id);
    const Planned wanted = *found;
    m_queue.erase(m_queue.begin(), std::next(found));
    const Fetcher::Id id = wanted.id != 0 ? wanted.id : m_fetcher.start(url);
    topUp();
    return m_fetcher.take(id);
}

void FetchAhead::finish()
{
    for (const Planned& planned : m_queue)
        m_fetcher.discard(planned.id);
    m_queue.clear();
    m_run = nullptr;
    m_cards.clear();
    m_nextCard = 0;
    m_reachedCard = 0;
    m_cardsWithoutFetches = 0;
}
