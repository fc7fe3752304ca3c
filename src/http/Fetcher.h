#pragma once

#include "http/Proxy.h"
#include "http/ServerPace.h"
#include "platform/Result.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <array>
#include <chrono>
#include <map>
#include <memory>
#include <unordered_map>

struct TryEnd;

// Fetches whole HTTP bodies over libcurl, any number at once, driven from the Qt event loop.
// While the program waits for a body the window keeps handling its events.
//
// A fetch succeeds only with status 200 and a well-framed body, after at most 10 redirects to
// http or https addresses. It fails on a network error, any other status, a body whose framing
// is broken (a Content-Length that cannot be read or that disagrees with itself or with the
// body, a bad chunk, both chunks and a length, compressed data that is broken, cut short or in
// an encoding it cannot read), a body over the size cap (decoded, where a server compressed it
// although asked for the plain answer), or a stall: less than 1 KB arrived in the last transfer
// time-out, or less than 100 KB in the last ten of them (a trickle that would hold one file for
// days), however the rest came. Transient failures (a refused or dropped connection, a stall,
// status 408, 429, 500, 502, 503 or 504) are tried again after a pause, at least as long as the
// program's own, however short a Retry-After the server asks for. An error status is judged by
// the status, whatever its body. A failure that concerns only the file asked for (404, 410,
// 451, a body over the cap) reaches this item only; 403 is the server's refusal of this item,
// 401 of this client. Every request names the program in its User-Agent. Where a first redirect
// moved an address permanently (301, 308) to the same path on another origin, and the fetch
// went through, the later requests to that origin go to the new one directly, until one fails
// there as a whole (it is then asked as built again).
//
// Each server (host and port) is paced as a whole (ServerPace): signs of overload (503, 429,
// and, from a server that has answered before, a refused, reset or unanswered connection)
// halve the requests it gets at once and pause every request to it, for a Retry-After too. A
// request that met such a sign while others were under way is tried again without spending
// one of its tries, since fewer at once may pass; alone, it spends them as any other failure.
// A request left unanswered on a new connection for kQueueWait while the server answers later
// ones waits in its queue (a server with a fixed number of workers, each holding a kept-alive
// connection): it is asked again, once, without spending a try, and the server gets about as
// many requests at once as it was answering (at least half as many as before). Fetches held
// back for the memory budget give their places up to the one the caller waits for.
//
// Memory is bounded whatever servers send and however many fetches run: each body is capped,
// and bodies not yet taken hold at most kMaxBytesHeld between them, arriving ones included
// with the room reserved for them. A fetch that would pass it is held back (its connection not
// read) until bodies are taken; the one the caller waits for is never held back. A transient
// failure of a fetch that was held back (a server gives up on a client that reads nothing for a
// minute) does not spend one of its tries.
class Fetcher final : public QObject
{
    Q_OBJECT

public:
    using Id = quint64;

    static constexpr std::chrono::seconds kDefaultTransferTimeout{60};
    // Far above any card file, and low enough that the answers of every connection at once stay
    // a small part of the memory of a small laptop.
    static constexpr qint64 kDefaultMaxBodySize = qint64(8) << 20;
    static constexpr qint64 kMaxBytesHeld = qint64(32) << 20;
    static constexpr int kMaxRedirects = 10;
    // A transfer stalls when less than this arrived in the last transfer time-out, or less than
    // kTrickleBytes in the last kTrickleTimeouts of them.
    static constexpr qint64 kStallBytes = 1024;
    static constexpr qint64 kTrickleBytes = 100 * 1024;
    static constexpr int kTrickleTimeouts = 10;

    // At least this many bytes in every window of this length.
    struct StallRule
    {
        qint64 bytes;
        std::chrono::seconds window;
    };

    explicit Fetcher(QObject* parent = nullptr);
    ~Fetcher() override;

    // Starts fetching the URL as built: characters that cannot stand in a request, and "#",
    // are percent-encoded on the wire, the rest is sent as it is.
    Id start(const QString& url);
    bool isFinished(Id id) const;
    // Waits until the fetch is complete, then hands its body over and forgets it.
    Result<QByteArray> take(Id id);
    // Ends the fetch if it is under way and forgets it.
    void discard(Id id);
    // start() and take() in one.
    Result<QByteArray> fetch(const QString& url) { return take(start(url)); }
    // Memory of bodies held: arrived, or arriving (with the room reserved for them), and not yet
    // taken. Past kMaxBytesHeld only by the body being waited for.
    qint64 bytesHeld() const { return m_bytesHeld; }

    // Ends every fetch under way; each fails and nothing of it is returned.
    void abort();

    void setTransferTimeout(std::chrono::seconds timeout);
    // The stall rules, the shortest window first.
    const std::array<StallRule, 2>& stallRules() const { return m_stallRules; }
    void setMaxBodySize(qint64 bytes) { m_maxBodySize = bytes; }
    // The pauses before each further try; their count is the number of further tries.
    void setRetryDelays(QList<std::chrono::milliseconds> delays) { m_retryDelays = delays; }
    // At most this many requests under way to one server at once; fewer while it is overloaded.
    void setRequestsPerServer(int requests);
    // Tries a request may make without spending its own, while fewer at once may help.
    static constexpr int kMaxOverloadRetries = 8;
    // How long a request on a new connection may go unanswered while the server answers later
    // ones, before it is taken to wait in the server's queue.
    static constexpr std::chrono::seconds kQueueWait{1};
    static constexpr std::chrono::milliseconds kStillWaitingAfter{15};

signals:
    void finished(Fetcher::Id id);
    // A try failed and the fetch is tried again after the delay.
    void retrying(const QString& url, const QString& reason, std::chrono::milliseconds delay);
    // take() has been waiting for its body for kStillWaitingAfter: a window may show what it
    // held back before the wait.
    void stillWaiting();

private:
    struct Transfer;
    struct Watch;
    struct Server
    {
        ServerPace pace;
        bool hasAnswered = false; // with any status: its refusals of connections are overload
        // When the latest request it answered was sent.
        ServerPace::Clock::time_point lastAnswerSentAt{};
    };

    struct Callbacks;

    // Watches the socket for what libcurl asks (CURL_POLL_*).
    void watchSocket(qintptr socket, int what);
    void setTimer(long timeoutMs);
    void socketAction(qintptr socket, int events);
    // Moves every transfer on whose socket something is ready, without waiting.
    void serviceSockets();
    void collectFinished();
    void resume(Transfer& transfer);
    // Lets held-back fetches go on, first started first, while the bodies' budget allows.
    void resumeHeldBack();
    // Where the transfer is asked now: on the origin its own moved to, if it did.
    void aim(Transfer& transfer) const;
    bool mayBegin(const Transfer& transfer, ServerPace::Clock::time_point now);
    void begin(Transfer& transfer);
    // Begins the waiting transfers each server may take now, the one waited for first, then in
    // the order they were started; wakes up again when a server's pause ends.
    void dispatch();
    Server& serverOf(const Transfer& transfer);
    // Ends the held-back fetches to the server, which begin again when their turn comes.
    void requeueHeldBack(const QString& server);
    int underWayTo(const QString& server) const;
    // Notes the answer in its server's pace: whether it was a sign of overload, and if so
    // whether the request was alone then, or may be tried again without spending a try.
    enum class Overload
    {
        None,
        Alone,
        FewerMayHelp,
        Crowded // and out of such tries
    };
    Overload overloadedBy(Transfer& transfer, int code, long status);
    void complete(Transfer& transfer, int code);
    // How the try ended, for saying why it failed.
    TryEnd endOf(const Transfer& transfer, int code, long status) const;
    // Schedules another try, unless the tries are used up.
    bool tryAgainLater(Transfer& transfer, const QString& failure);
    // Ends the transfer's current try, if under way.
    void release(Transfer& transfer);
    void settle(Transfer& transfer, Result<QByteArray> result);
    // A first redirect that moved the whole origin, permanently, sends the later requests
    // built with that origin to the new one directly.
    void noteMovedOrigin(const Transfer& transfer);
    // The system's proxy for the address, asked once per origin.
    ProxySetting proxyFor(const QString& url) const;
    // The proxy a request to the address goes through, with its credentials; empty for none.
    QString proxyUrlFor(const QString& url) const;

    struct MultiCleanup
    {
        void operator()(void* multi) const;
    };
    std::unique_ptr<void, MultiCleanup> m_multi; // libcurl's multi handle
    QTimer m_timer;
    QTimer m_stillWaitingTimer;
    QTimer m_dispatchTimer;
    std::map<QString, Server> m_servers;
    int m_requestsPerServer = 1024;
    std::unordered_map<qintptr, std::unique_ptr<Watch>> m_watches;
    std::unordered_map<Id, std::unique_ptr<Transfer>> m_transfers;
    mutable QHash<QString, ProxySetting> m_proxies;
    QHash<QString, QString> m_movedOrigins; // as built, to where they moved
    Id m_nextId = 1;
    qint64 m_bytesHeld = 0;
    Id m_awaited = 0; // the fetch take() waits for
    std::chrono::seconds m_transferTimeout{};
    std::array<StallRule, 2> m_stallRules{};
    qint64 m_maxBodySize = kDefaultMaxBodySize;
    QList<std::chrono::milliseconds> m_retryDelays{std::chrono::seconds(1), std::chrono::seconds(2),
                                                   std::chrono::seconds(4)};
};
