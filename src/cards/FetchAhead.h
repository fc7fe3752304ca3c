#pragma once

#include "http/Fetcher.h"
#include "platform/Result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <deque>

struct RunContext;

// The run's fetches. The run stores files and writes its log strictly in card order; only the
// network work runs ahead: the cards to come are looked at as the run would look at them (the
// same size probes, the boxes and mode as they are now), and the fetches they will ask for are
// started early on several connections. When the run asks for a body it re-decides with the
// values then current: a body it no longer asks for is dropped, a fetch nobody predicted is
// made then. A failed early fetch fails only when the run asks for it.
class FetchAhead
{
public:
    static constexpr int kDefaultConnections = 12;
    static constexpr int kMaxConnections = 64;
    // Connections to the card-info service, which answers more slowly per request.
    static constexpr int kInfoConnections = 2;
    // The planner starts no fetch while the fetcher holds this many bytes of bodies: half the
    // fetcher's own bound, the rest left to the bodies already under way.
    static constexpr qint64 kPlanWhileBytesHeldBelow = qint64(16) << 20;
    static constexpr int kMaxCardsAhead = 64;

    explicit FetchAhead(Fetcher& fetcher);

    // At most this many requests in flight to the asset server; 1 fetches one at a time and
    // never ahead.
    void setConnections(int connections);

    // The run will update these cards next, in this order.
    void planCards(const RunContext& run, const QStringList& cards);
    // The run has reached the card at this index of the planned list.
    void reachedCard(int index);
    // The body at the URL, from a fetch made ahead or made now.
    Result<QByteArray> take(const QString& url);
    // The body at the URL, fetched now, leaving what is planned as it is.
    Result<QByteArray> fetchNow(const QString& url) { return m_fetcher.fetch(url); }
    // The run is over: everything still fetched or held is dropped.
    void finish();

private:
    struct Planned
    {
        QString url;
        bool info = false;
        Fetcher::Id id = 0; // 0 until started
    };

    void topUp();
    void startWaiting();

    Fetcher& m_fetcher;
    int m_connections = kDefaultConnections;
    const RunContext* m_run = nullptr;
    QStringList m_cards;
    int m_nextCard = 0;
    int m_reachedCard = 0;
    int m_cardsWithoutFetches = 0; // in a row, as planned
    bool m_toppingUp = false;
    std::deque<Planned> m_queue;
};
