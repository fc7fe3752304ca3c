#include "http/Fetcher.h"

#include "http/Transfer.h"
#include "http/TryFailures.h"
#include "http/Urls.h"

#include <QEventLoop>
#include <QScopedValueRollback>

#include <algorithm>

namespace {
const QByteArray kUserAgentHeader = QByteArrayLiteral("User-Agent: kx-card-updater/" KX_VERSION);
} // namespace

void Fetcher::aim(Transfer& transfer) const
{
    const QString origin = originOf(transfer.url);
    const auto moved = m_movedOrigins.constFind(origin);
    transfer.requestUrl =
        moved != m_movedOrigins.cend() ? *moved + transfer.url.mid(origin.size()) : transfer.url;
    transfer.server = serverKey(transfer.requestUrl);
}

bool Fetcher::mayBegin(const Transfer& transfer, ServerPace::Clock::time_point now)
{
    const Server& server = serverOf(transfer);
    const int underWay = underWayTo(transfer.server);
    // One request until the server has answered one: its answer tells whether it takes every
    // request on one connection (HTTP/2) and whether its origin moved, before more are opened.
    return server.pace.mayStart(underWay, now) && (server.hasAnswered || underWay == 0);
}

Fetcher::Id Fetcher::start(const QString& url)
{
    auto transfer = std::make_unique<Transfer>();
    transfer->owner = this;
    transfer->id = m_nextId++;
    transfer->url = url;
    aim(*transfer);
    appendHeader(transfer->headers, "Accept-Encoding: identity");
    // Servers behind bot filters refuse or challenge a request that names no program.
    appendHeader(transfer->headers, kUserAgentHeader.constData());
    transfer->waiting = true;
    const Id id = transfer->id;
    m_transfers.emplace(id, std::move(transfer));
    dispatch();
    return id;
}

void Fetcher::setRequestsPerServer(int requests)
{
    m_requestsPerServer = std::max(1, requests);
    for (auto& [key, server] : m_servers)
        server.pace.setCeiling(m_requestsPerServer);
}

void Fetcher::requeueHeldBack(const QString& server)
{
    for (const auto& [id, transfer] : m_transfers) {
        if (!transfer->paused || !transfer->easy || transfer->server != server)
            continue;
        release(*transfer);
        transfer->body = QByteArray();
        transfer->recount();
        transfer->paused = false;
        --transfer->tries; // begun again, not tried again
        transfer->waiting = true;
    }
}

Fetcher::Server& Fetcher::serverOf(const Transfer& transfer)
{
    auto found = m_servers.find(transfer.server);
    if (found == m_servers.end())
        found = m_servers.emplace(transfer.server, Server{ServerPace(m_requestsPerServer)}).first;
    return found->second;
}

int Fetcher::underWayTo(const QString& server) const
{
    return int(std::count_if(m_transfers.begin(), m_transfers.end(), [&](const auto& entry) {
        return entry.second->easy && !entry.second->tryEnded && entry.second->server == server;
    }));
}

void Fetcher::dispatch()
{
    std::vector<Transfer*> waiting;
    for (const auto& [id, transfer] : m_transfers) {
        if (transfer->waiting)
            waiting.push_back(transfer.get());
    }
    std::sort(waiting.begin(), waiting.end(), [this](const Transfer* a, const Transfer* b) {
        return std::pair(a->id != m_awaited, a->id) < std::pair(b->id != m_awaited, b->id);
    });
    const auto now = ServerPace::Clock::now();
    std::optional<ServerPace::Clock::time_point> wakeAt;
    for (Transfer* transfer : waiting) {
        aim(*transfer); // where its origin has moved since, or moved back
        const ServerPace& pace = serverOf(*transfer).pace;
        // Fetches held back for the bodies' budget wait for the one the run waits for; where
        // they hold every place its server has, they give theirs up and begin again later.
        if (transfer->id == m_awaited && now >= pace.resumeAt() && !mayBegin(*transfer, now))
            requeueHeldBack(transfer->server);
        if (mayBegin(*transfer, now)) {
            transfer->waiting = false;
            begin(*transfer);
        } else if (pace.resumeAt() > now) {
            wakeAt = std::min(wakeAt.value_or(pace.resumeAt()), pace.resumeAt());
        }
    }
    if (wakeAt) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*wakeAt - now);
        if (!m_dispatchTimer.isActive() || m_dispatchTimer.remainingTime() > wait.count())
            m_dispatchTimer.start(int(wait.count()));
    }
}

void Fetcher::resume(Transfer& transfer)
{
    transfer.paused = false;
    transfer.restartStallClock();
    // Hands over the bytes held back at once; they may hold the transfer back again.
    curl_easy_pause(transfer.easy.get(), CURLPAUSE_CONT);
}

void Fetcher::resumeHeldBack()
{
    // In the order the fetches were started, which is the order the run asks for them.
    std::vector<Id> paused;
    for (const auto& [id, transfer] : m_transfers) {
        if (transfer->paused)
            paused.push_back(id);
    }
    std::sort(paused.begin(), paused.end());
    for (const Id id : paused) {
        if (m_bytesHeld >= kMaxBytesHeld)
            break;
        if (const auto found = m_transfers.find(id); found != m_transfers.end())
            resume(*found->second);
    }
}

bool Fetcher::tryAgainLater(Transfer& transfer, const QString& failure)
{
    if (transfer.tries > m_retryDelays.size())
        return false;
    // A server's Retry-After may ask for a longer pause, never for a shorter one: a busy
    // server that says "0" would otherwise have every try used up at once.
    std::chrono::milliseconds delay = m_retryDelays[transfer.tries - 1];
    if (transfer.retryAfterSeconds >= 0 && transfer.retryAfterSeconds <= 60)
        delay = std::max<std::chrono::milliseconds>(
            delay, std::chrono::seconds(transfer.retryAfterSeconds));
    emit retrying(transfer.url, failure, delay);
    QTimer::singleShot(delay, this, [this, id = transfer.id] {
        const auto found = m_transfers.find(id);
        if (found != m_transfers.end() && !found->second->result) {
            found->second->waiting = true;
            dispatch();
        }
    });
    return true;
}

Fetcher::Overload Fetcher::overloadedBy(Transfer& transfer, int resultCode, long status)
{
    Server& server = serverOf(transfer);
    const auto code = CURLcode(resultCode);
    const bool connectionLost = code == CURLE_COULDNT_CONNECT || code == CURLE_GOT_NOTHING ||
                                code == CURLE_RECV_ERROR || code == CURLE_SEND_ERROR;
    const bool overload =
        status == 503 || status == 429 || (status == 0 && connectionLost && server.hasAnswered);
    if (!overload) {
        if (status > 0) {
            server.hasAnswered = true;
            server.lastAnswerSentAt = std::max(server.lastAnswerSentAt, transfer.sentAt);
            server.pace.answeredWell();
        }
        return Overload::None;
    }
    server.hasAnswered = true;
    // The pause doubles with each overload in a row (the answers to requests sent before the
    // last cut are of the same one); the server's Retry-After may be longer.
    std::chrono::milliseconds pause{};
    const int step = server.pace.overloadsInARow() - (server.pace.isLate(transfer.sentAt) ? 1 : 0);
    if (!m_retryDelays.isEmpty())
        pause = m_retryDelays[std::clamp(step, 0, int(m_retryDelays.size()) - 1)];
    if (transfer.retryAfterSeconds >= 0 && transfer.retryAfterSeconds <= 60)
        pause = std::max<std::chrono::milliseconds>(
            pause, std::chrono::seconds(transfer.retryAfterSeconds));
    server.pace.overloaded(transfer.sentAt, underWayTo(transfer.server) + 1, pause,
                           ServerPace::Clock::now());
    return transfer.underWayAtSend == 1 ? Overload::Alone
           : !m_retryDelays.isEmpty() && transfer.overloadRetries < kMaxOverloadRetries
               ? Overload::FewerMayHelp
               : Overload::Crowded;
}

void Fetcher::complete(Transfer& transfer, int resultCode)
{
    long status = 0;
    curl_easy_getinfo(transfer.easy.get(), CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(transfer.easy.get(), CURLINFO_HTTP_CONNECTCODE, &transfer.proxyStatus);
    const char* lastAddress = nullptr;
    curl_easy_getinfo(transfer.easy.get(), CURLINFO_EFFECTIVE_URL, &lastAddress);
    transfer.lastAddress = lastAddress ? QString::fromUtf8(lastAddress) : QString();
    release(transfer);
    const TryFailure failure = failureOf(endOf(transfer, resultCode, status));
    const Overload overload = overloadedBy(transfer, resultCode, status);
    if (failure.reason.isEmpty()) {
        noteMovedOrigin(transfer);
        transfer.body.squeeze(); // a body grown without a length may hold spare room
        transfer.recount();
        settle(transfer, std::move(transfer.body));
    } else if (transfer.keptWaiting) {
        // Asked again where the server answers, which gets about as many requests at once as it
        // was answering (ServerPace::keptWaiting), the try not spent.
        const int answering =
            int(std::count_if(m_transfers.begin(), m_transfers.end(), [&](const auto& entry) {
                const Transfer& other = *entry.second;
                return other.easy && !other.tryEnded && other.server == transfer.server &&
                       (other.arrived > 0 || !other.onNewConnection);
            }));
        serverOf(transfer).pace.keptWaiting(transfer.connectedAt, answering,
                                            underWayTo(transfer.server) + 1,
                                            ServerPace::Clock::now());
        --transfer.tries;
        transfer.waiting = true;
    } else if (transfer.requestUrl != transfer.url && failure.reach == Reach::Everything) {
        // Where the origin moved fails as a whole: forget the move, and ask as built again,
        // which follows whatever the origin says now, the try not spent.
        m_movedOrigins.remove(originOf(transfer.url));
        aim(transfer);
        --transfer.tries;
        transfer.waiting = true;
    } else if (failure.transient &&
               (overload == Overload::FewerMayHelp ||
                (transfer.heldBackThisTry && transfer.overloadRetries < kMaxOverloadRetries))) {
        // Tried again as soon as the server's pace allows, the try not spent: fewer at once may
        // pass, and an answer this program held back may have been given up by the server.
        ++transfer.overloadRetries;
        --transfer.tries;
        emit retrying(transfer.url, failure.reason,
                      std::chrono::ceil<std::chrono::milliseconds>(
                          std::max(serverOf(transfer).pace.resumeAt() - ServerPace::Clock::now(),
                                   ServerPace::Clock::duration::zero())));
        transfer.waiting = true;
    } else if (!failure.transient || !tryAgainLater(transfer, failure.reason)) {
        QString reason = failure.reason;
        if (transfer.tries > 1)
            reason += overload == Overload::Alone
                          ? QStringLiteral(" (%1 tries, one request at a time)").arg(transfer.tries)
                          : QStringLiteral(" (%1 tries)").arg(transfer.tries);
        if (overload == Overload::Alone)
            reason += QStringLiteral(": it is too busy for now; run the update again later");
        else if (overload == Overload::Crowded)
            reason += QStringLiteral(": it is too busy for now; run the update again later, or "
                                     "with fewer connections at once (--connections)");
        settle(transfer, Result<QByteArray>::failure(reason, failure.reach));
    }
}

void Fetcher::settle(Transfer& transfer, Result<QByteArray> result)
{
    if (!result) {
        transfer.body = QByteArray();
        transfer.recount();
    }
    transfer.result = std::move(result);
    transfer.waiting = false;
    emit finished(transfer.id);
}

void Fetcher::noteMovedOrigin(const Transfer& transfer)
{
    // Only a move of the whole origin: the same path and query, asked on another origin.
    if (transfer.movedTo.isEmpty())
        return;
    const QString asked = QString::fromUtf8(wireUrl(transfer.requestUrl));
    const QString from = originOf(asked);
    const QString to = originOf(transfer.movedTo);
    if (to.isEmpty() || to == from || transfer.movedTo.mid(to.size()) != asked.mid(from.size()))
        return;
    // The caller's origin, which later requests are built with.
    m_movedOrigins.insert(originOf(transfer.url), to);
}

TryEnd Fetcher::endOf(const Transfer& transfer, int code, long status) const
{
    TryEnd end;
    end.code = code;
    end.message = QString::fromLocal8Bit(transfer.error);
    end.status = status;
    end.reasonPhrase = transfer.reasonPhrase;
    end.framingFault = transfer.framingFault;
    end.tooLarge = transfer.tooLarge;
    end.compressedCutShort = transfer.inflater && !transfer.inflater->isComplete();
    end.stall = transfer.stalledBy ? *transfer.stalledBy : stallRules().front();
    end.requestUrl = QString::fromUtf8(wireUrl(transfer.requestUrl));
    end.lastAddress = transfer.lastAddress;
    end.proxyStatus = transfer.proxyStatus;
    end.maxBodySize = m_maxBodySize;
    if (mayConcernProxy(end))
        end.proxyUrl =
            proxyUrlFor(end.lastAddress.isEmpty() ? transfer.requestUrl : end.lastAddress);
    return end;
}

bool Fetcher::isFinished(Id id) const
{
    const auto found = m_transfers.find(id);
    return found == m_transfers.end() || found->second->result.has_value();
}

Result<QByteArray> Fetcher::take(Id id)
{
    // The run takes bodies that have arrived without waiting: the other transfers get their
    // turn here, or they would stand still until the run next waits.
    serviceSockets();
    const auto awaited = m_transfers.find(id);
    if (awaited == m_transfers.end())
        return Result<QByteArray>::failure(QStringLiteral("the download was cancelled"));
    if (!isFinished(id)) {
        const QScopedValueRollback waitingFor(m_awaited, id);
        if (awaited->second->paused)
            resume(*awaited->second);
        dispatch(); // its server takes it before the others waiting
        QEventLoop loop;
        const QMetaObject::Connection done =
            connect(this, &Fetcher::finished, &loop, [&](Id finished) {
                if (finished == id)
                    loop.quit();
            });
        m_stillWaitingTimer.start();
        loop.exec();
        m_stillWaitingTimer.stop();
        disconnect(done);
    }
    const auto found = m_transfers.find(id);
    if (found == m_transfers.end() || !found->second->result)
        return Result<QByteArray>::failure(QStringLiteral("the program is closing"));
    Result<QByteArray> result = std::move(*found->second->result);
    m_bytesHeld -= found->second->counted;
    m_transfers.erase(found);
    resumeHeldBack();
    dispatch();
    return result;
}

void Fetcher::discard(Id id)
{
    const auto found = m_transfers.find(id);
    if (found == m_transfers.end())
        return;
    Transfer& transfer = *found->second;
    release(transfer);
    m_bytesHeld -= transfer.counted;
    m_transfers.erase(found);
    resumeHeldBack();
    dispatch();
}

void Fetcher::abort()
{
    std::vector<Id> underWay;
    for (const auto& [id, transfer] : m_transfers) {
        if (!transfer->result)
            underWay.push_back(id);
    }
    for (const Id id : underWay) {
        Transfer& transfer = *m_transfers.at(id);
        release(transfer);
        settle(transfer, Result<QByteArray>::failure(QStringLiteral("the download was cancelled")));
    }
}
