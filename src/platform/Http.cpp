#include "platform/Http.h"

#include "platform/Inflate.h"
#include "platform/Sockets.h"
#include "platform/Text.h"

#include <QEventLoop>
#include <QProcessEnvironment>
#include <QScopedValueRollback>
#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <optional>
#include <vector>

namespace {

const QByteArray kUserAgentHeader = QByteArrayLiteral("User-Agent: kx-card-updater/" KX_VERSION);

bool isTransientStatus(long status)
{
    return status == 408 || status == 429 || status == 500 || status == 502 || status == 503 ||
           status == 504;
}

// Characters that cannot stand in a request line, and "#", which would end the address at a
// fragment, are percent-encoded; everything else goes as built.
QByteArray wireUrl(const QString& url)
{
    QByteArray wire;
    for (const char c : url.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7f || c == '#')
            wire += '%' + QByteArray::number(byte, 16).toUpper().rightJustified(2, '0');
        else
            wire += c;
    }
    return wire;
}

// Why a try failed, in plain words: the first row whose code matches, and whose text, where it
// has one, is in libcurl's message. Transient failures may pass when tried again. libcurl's own
// message is the fall-back for anything not listed.
struct PlainReason
{
    CURLcode code;
    const char* messageHolds; // nullptr: any message
    const char* reason;       // nullptr: libcurl's message
    bool transient;
};
const PlainReason kPlainReasons[] = {
    {CURLE_COULDNT_RESOLVE_HOST, nullptr, "the server's name could not be found", false},
    {CURLE_COULDNT_CONNECT, nullptr, "could not connect to the server", true},
    {CURLE_PARTIAL_FILE, nullptr, "the answer was cut short", true},
    {CURLE_GOT_NOTHING, nullptr, "the server closed the connection without answering", true},
    {CURLE_TOO_MANY_REDIRECTS, nullptr, "too many redirects", false},
    // A redirect to another scheme; any other refusal is of the status line.
    {CURLE_UNSUPPORTED_PROTOCOL, "not supported or disabled",
     "refused an address that is neither http nor https", false},
    {CURLE_UNSUPPORTED_PROTOCOL, nullptr, "the answer is not HTTP", false},
    {CURLE_URL_MALFORMAT, nullptr, "the address is not valid", false},
    // libcurl refuses a status line or header line over 100 KB as if memory ran out.
    {CURLE_OUT_OF_MEMORY, nullptr, "the answer's headers are too long", false},
    {CURLE_WEIRD_SERVER_REPLY, "Content-Length", "the answer's length cannot be read", false},
    {CURLE_WEIRD_SERVER_REPLY, "Nul byte", "the answer's headers are broken", false},
    {CURLE_RECV_ERROR, "chunked", "the answer's chunks are broken", false},
    {CURLE_RECV_ERROR, "Too large response headers", "the answer's headers are too long", false},
    {CURLE_RECV_ERROR, nullptr, nullptr, true},
    {CURLE_SEND_ERROR, nullptr, nullptr, true},
};

// "less than 1 KB arrived in 60 seconds"
QString stallReason(const Fetcher::StallRule& rule)
{
    const qint64 seconds = rule.window.count();
    return QStringLiteral("less than %1 KB arrived in %2")
        .arg(rule.bytes / 1024)
        .arg(seconds >= 120 && seconds % 60 == 0 ? QStringLiteral("%1 minutes").arg(seconds / 60)
                                                 : QStringLiteral("%1 seconds").arg(seconds));
}

// The scheme, host and port an address begins with, as written.
QString originOf(const QString& url)
{
    const qsizetype hostStart = url.indexOf(QLatin1String("://"));
    if (hostStart < 0)
        return {};
    const qsizetype pathStart = url.indexOf(u'/', hostStart + 3);
    return pathStart < 0 ? url : url.left(pathStart);
}

// The server as it is paced: its host and port.
QString serverKey(const QString& url)
{
    const QUrl address(url);
    const int defaultPort =
        address.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) ? 80 : 443;
    return address.host().toLower() + u':' + QString::number(address.port(defaultPort));
}

QByteArray headerValue(const QByteArray& line, const char* name)
{
    const qsizetype length = qsizetype(std::strlen(name));
    if (line.size() <= length || line[length] != ':' ||
        qstrnicmp(line.constData(), name, size_t(length)) != 0)
        return {};
    return line.mid(length + 1).trimmed();
}

} // namespace

// One fetch, through all its tries.
struct Fetcher::Transfer
{
    Fetcher* owner = nullptr;
    Id id = 0;
    QString url;        // as the caller built it
    QString requestUrl; // where it is asked: on the new origin where the old one moved
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    int tries = 0;
    std::optional<Result<QByteArray>> result; // set once the fetch is over
    // The server's host and port, paced as one, and the transfer's place in its pace.
    QString server;
    bool waiting = false;  // for its server's turn
    bool tryEnded = false; // reported by libcurl, not yet handled
    std::chrono::steady_clock::time_point sentAt;
    int underWayAtSend = 0; // requests to its server under way as this try went, itself included
    int overloadRetries = 0;

    // The answer of the current try, and the memory counted for it in the owner's bytes held:
    // the room the body holds, then the result's, until it is taken.
    QByteArray body;
    qint64 counted = 0;
    // Bytes of headers and body so far, and samples of that count at least a stall's sampling
    // interval apart, as far back as the longest stall rule looks.
    qint64 arrived = 0;
    std::deque<std::pair<std::chrono::steady_clock::time_point, qint64>> samples;
    bool paused = false; // held back while the bodies of other fetches use the memory
    bool heldBackThisTry = false;
    // Whether this try opened a connection of its own, and when (libcurl may hold a request
    // back before that), and whether the server left it waiting there while it answered later
    // requests on others (asked again, once a fetch).
    bool onNewConnection = false;
    std::chrono::steady_clock::time_point connectedAt;
    bool keptWaiting = false;
    bool leftAQueue = false;
    const StallRule* stalledBy = nullptr;
    qint64 announced = -1;
    QString framingFault;
    bool chunked = false;
    QString reasonPhrase;
    long retryAfterSeconds = -1;
    bool tooLarge = false;
    // A body the server compressed although nobody asked it to, decoded as it arrives.
    std::unique_ptr<Inflater> inflater;
    char error[CURL_ERROR_SIZE] = {};
    // Where the try ended: the address asked last (after redirects), and the proxy's answer to
    // a tunnel to it.
    QString lastAddress;
    long proxyStatus = 0;
    // The first redirect, where it is a permanent one (301, 308), and where it leads.
    bool redirected = false;
    bool movedPermanently = false;
    QString movedTo;

    // A server with a fixed number of workers, each holding a kept-alive connection, leaves a
    // request on a new connection unanswered in its queue while it answers those sent later on
    // its other connections; a request that is merely slow to answer is seldom on a new one.
    bool isKeptWaiting() const
    {
        return arrived == 0 && onNewConnection && !leftAQueue &&
               std::chrono::steady_clock::now() - connectedAt >= kQueueWait &&
               owner->serverOf(*this).lastAnswerSentAt > connectedAt;
    }

    static int onSocketOpened(void* self, curl_socket_t, curlsocktype purpose)
    {
        if (purpose == CURLSOCKTYPE_IPCXN) {
            auto& transfer = *static_cast<Transfer*>(self);
            transfer.onNewConnection = true;
            transfer.connectedAt = std::chrono::steady_clock::now();
        }
        return CURL_SOCKOPT_OK;
    }

    void noteArrival(qint64 length)
    {
        arrived += length;
        sample();
    }
    void sample()
    {
        const auto now = std::chrono::steady_clock::now();
        const auto rules = owner->stallRules();
        if (samples.empty() || now - samples.back().first >= rules.front().window / 60)
            samples.emplace_back(now, arrived);
        // One sample at or before the start of the longest window is all that is needed of it.
        while (samples.size() > 1 && samples[1].first <= now - rules.back().window)
            samples.pop_front();
    }
    // Counting starts afresh: at the start of a try, and when a held-back answer goes on.
    void restartStallClock() { samples.assign(1, {std::chrono::steady_clock::now(), arrived}); }
    // Less than the rule's bytes arrived in its window. Judged from the last sample at or
    // before the window's start, so that a transfer is never taken for stalled too early.
    bool hasStalled(const StallRule& rule) const
    {
        const auto since = std::chrono::steady_clock::now() - rule.window;
        const auto after = std::upper_bound(samples.begin(), samples.end(), since,
                                            [](std::chrono::steady_clock::time_point time,
                                               const auto& s) { return time < s.first; });
        return after != samples.begin() && arrived - std::prev(after)->second < rule.bytes;
    }

    static size_t onBody(char* data, size_t size, size_t count, void* self)
    {
        auto& transfer = *static_cast<Transfer*>(self);
        Fetcher& owner = *transfer.owner;
        const auto length = qint64(size * count);
        // Only the body the run waits for may grow past the bodies' budget, or nothing would
        // ever free it.
        if (transfer.id != owner.m_awaited && owner.m_bytesHeld + length > kMaxBytesHeld) {
            transfer.paused = true;
            transfer.heldBackThisTry = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        transfer.noteArrival(length);
        if (!transfer.inflater)
            return transfer.keep(data, length) ? size_t(length) : 0;
        const bool decoded =
            transfer.inflater->feed(data, size_t(length), [&](const char* piece, size_t pieceSize) {
                return transfer.keep(piece, qint64(pieceSize));
            });
        if (!decoded && !transfer.tooLarge)
            transfer.framingFault = transfer.inflater->error();
        return decoded ? size_t(length) : 0; // 0 ends the transfer
    }

    // Adds the bytes to the body, unless that would pass the size cap.
    bool keep(const char* data, qint64 length)
    {
        if (body.size() + length > owner->m_maxBodySize) {
            tooLarge = true;
            return false;
        }
        reserveFor(length);
        body.append(data, qsizetype(length));
        recount();
        return true;
    }

    // The memory the body holds, counted again after it changed.
    void recount()
    {
        owner->m_bytesHeld += body.capacity() - counted;
        counted = body.capacity();
    }

    // Room for the bytes: the announced length at once where the bodies' budget has room for
    // it (or the run waits for this one), else a quarter more each time, never past the cap, so
    // that the memory a body holds stays close to its size.
    void reserveFor(qint64 length)
    {
        const qint64 needed = body.size() + length;
        if (needed <= body.capacity())
            return;
        const qint64 cap = owner->m_maxBodySize;
        // A compressed body's length says nothing of the decoded one.
        const qint64 announcedRoom = announced > 0 && !inflater ? std::min(announced, cap) : 0;
        const bool budgetAllows =
            id == owner->m_awaited ||
            owner->m_bytesHeld - counted + announcedRoom <= Fetcher::kMaxBytesHeld;
        const qint64 room = announcedRoom > 0 && budgetAllows
                                ? announcedRoom
                                : std::min(cap, body.size() + body.size() / 4 + 65536);
        body.reserve(qsizetype(std::max(needed, room)));
    }

    static int onProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
    {
        auto& transfer = *static_cast<Transfer*>(self);
        if (transfer.paused)
            return 0;
        if (transfer.isKeptWaiting()) {
            transfer.keptWaiting = transfer.leftAQueue = true;
            return 1;
        }
        transfer.sample();
        for (const StallRule& rule : transfer.owner->stallRules()) {
            if (transfer.hasStalled(rule)) {
                transfer.stalledBy = &rule;
                return 1; // ends the transfer; libcurl reports it as aborted by this callback
            }
        }
        return 0;
    }

    static size_t onHeader(char* data, size_t size, size_t count, void* self)
    {
        auto& transfer = *static_cast<Transfer*>(self);
        transfer.noteArrival(qint64(size * count));
        const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
        if (line.startsWith("HTTP/")) { // a new answer, after a redirect or a 100 Continue
            const int status = line.split(' ').value(1).toInt();
            transfer.movedPermanently = !transfer.redirected && (status == 301 || status == 308);
            transfer.redirected = transfer.redirected || (status >= 300 && status < 400);
            transfer.announced = -1;
            transfer.chunked = false;
            transfer.framingFault.clear();
            transfer.retryAfterSeconds = -1;
            transfer.inflater.reset();
            // Shown in the status line and written to the run log.
            transfer.reasonPhrase = oneLineOf(QString::fromLatin1(line).section(u' ', 2), 64);
        } else if (const QByteArray length = headerValue(line, "content-length");
                   !length.isEmpty()) {
            bool ok = false;
            const qint64 value = length.toLongLong(&ok);
            if (!ok || value < 0 || !std::all_of(length.begin(), length.end(), ::isdigit))
                transfer.framingFault = QStringLiteral("the answer's length cannot be read");
            else if (transfer.announced >= 0 && transfer.announced != value)
                transfer.framingFault = QStringLiteral("the answer announces two lengths");
            else
                transfer.announced = value;
        } else if (!headerValue(line, "transfer-encoding").isEmpty()) {
            transfer.chunked = true;
        } else if (const QByteArray encoding = headerValue(line, "content-encoding").toLower();
                   !encoding.isEmpty() && encoding != "identity") {
            // Asked for plain, some servers compress all the same: such a body is decoded.
            if (encoding == "gzip" || encoding == "x-gzip")
                transfer.inflater = std::make_unique<Inflater>(Inflater::Format::Gzip);
            else if (encoding == "deflate")
                transfer.inflater = std::make_unique<Inflater>(Inflater::Format::Deflate);
            else
                transfer.framingFault =
                    QStringLiteral("the answer is encoded (%1), which this program cannot read")
                        .arg(QString::fromLatin1(encoding));
        } else if (const QByteArray location = headerValue(line, "location");
                   transfer.movedPermanently && transfer.movedTo.isEmpty() && !location.isEmpty()) {
            transfer.movedTo = QString::fromLatin1(location);
        } else if (const QByteArray after = headerValue(line, "retry-after"); !after.isEmpty()) {
            bool ok = false;
            const long seconds = after.toLong(&ok);
            transfer.retryAfterSeconds = ok ? seconds : -1;
        }
        // A message framed two ways is how requests are smuggled (RFC 9112, 6.3).
        if (transfer.chunked && transfer.announced >= 0)
            transfer.framingFault = QStringLiteral("the answer announces both chunks and a length");
        // A broken answer is not read any further.
        return transfer.framingFault.isEmpty() ? size * count : 0;
    }
};

// The notifiers of one socket. Kept for the socket's number once made: a notifier must not be
// deleted while it is signalling, and the system reuses socket numbers.
struct Fetcher::Watch
{
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
};

// libcurl's callbacks, with the exact types it calls them with.
struct Fetcher::Callbacks
{
    static int onSocket(CURL* /*easy*/, curl_socket_t socket, int what, void* self, void* /*watch*/)
    {
        static_cast<Fetcher*>(self)->watchSocket(qintptr(socket), what);
        return 0;
    }
    static int onTimer(CURLM* /*multi*/, long timeoutMs, void* self)
    {
        static_cast<Fetcher*>(self)->setTimer(timeoutMs);
        return 0;
    }
};

Fetcher::Fetcher(QObject* parent) : QObject(parent)
{
    setTransferTimeout(kDefaultTransferTimeout);
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    Q_UNUSED(initialised);
    m_multi = curl_multi_init();
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &Callbacks::onSocket);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &Callbacks::onTimer);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, 16L);

    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { socketAction(CURL_SOCKET_TIMEOUT, 0); });
    m_stillWaitingTimer.setSingleShot(true);
    m_stillWaitingTimer.setInterval(kStillWaitingAfter);
    connect(&m_stillWaitingTimer, &QTimer::timeout, this, &Fetcher::stillWaiting);
    m_dispatchTimer.setSingleShot(true);
    connect(&m_dispatchTimer, &QTimer::timeout, this, &Fetcher::dispatch);
}

Fetcher::~Fetcher()
{
    for (auto& [id, transfer] : m_transfers) {
        release(*transfer);
        curl_slist_free_all(transfer->headers);
    }
    curl_multi_cleanup(m_multi);
}

void Fetcher::setTransferTimeout(std::chrono::seconds timeout)
{
    m_transferTimeout = timeout;
    m_stallRules = {StallRule{kStallBytes, timeout},
                    StallRule{kTrickleBytes, kTrickleTimeouts * timeout}};
}

void Fetcher::watchSocket(qintptr socket, int what)
{
    std::unique_ptr<Watch>& watch = m_watches[socket];
    if (!watch)
        watch = std::make_unique<Watch>();
    const auto want = [&](std::unique_ptr<QSocketNotifier>& notifier, QSocketNotifier::Type type,
                          bool wanted, int event) {
        if (!notifier && wanted) {
            notifier = std::make_unique<QSocketNotifier>(socket, type);
            connect(notifier.get(), &QSocketNotifier::activated, this,
                    [this, socket, event] { socketAction(socket, event); });
        }
        if (notifier)
            notifier->setEnabled(wanted);
    };
    const bool remove = what == CURL_POLL_REMOVE;
    want(watch->read, QSocketNotifier::Read, !remove && (what & CURL_POLL_IN), CURL_CSELECT_IN);
    want(watch->write, QSocketNotifier::Write, !remove && (what & CURL_POLL_OUT), CURL_CSELECT_OUT);
}

void Fetcher::setTimer(long timeoutMs)
{
    if (timeoutMs < 0)
        m_timer.stop();
    else
        m_timer.start(int(timeoutMs));
}

void Fetcher::socketAction(qintptr socket, int events)
{
    int running = 0;
    curl_multi_socket_action(m_multi, curl_socket_t(socket), events, &running);
    collectFinished();
}

void Fetcher::collectFinished()
{
    // Collected first: finishing one may start others, which must not disturb this reading.
    std::vector<std::pair<Id, CURLcode>> done;
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(m_multi, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        Transfer* transfer = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
        transfer->tryEnded = true; // no longer under way, for the servers' pace
        done.emplace_back(transfer->id, message->data.result);
    }
    for (const auto& [id, code] : done) {
        if (const auto found = m_transfers.find(id); found != m_transfers.end())
            complete(*found->second, code);
    }
    if (!done.empty()) {
        resumeHeldBack();
        dispatch();
    }
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
    curl_easy_pause(transfer.easy, CURLPAUSE_CONT);
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

ProxySetting Fetcher::proxyFor(const QString& url) const
{
    const QUrl address(url);
    const QString origin =
        address.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment).toString();
    auto known = m_proxies.constFind(origin);
    if (known == m_proxies.cend())
        known = m_proxies.insert(origin, systemProxyFor(address));
    return *known;
}

QString Fetcher::proxyUrlFor(const QString& url) const
{
    const ProxySetting setting = proxyFor(url);
    return setting.readByLibcurl
               ? proxyFromEnvironment(QUrl(url), QProcessEnvironment::systemEnvironment())
               : QString::fromUtf8(setting.url);
}

Fetcher::TryFailure Fetcher::proxyFailure(const Transfer& transfer, int resultCode,
                                          long status) const
{
    // Only what a proxy may have caused is asked of it: every answer comes through here.
    const auto code = CURLcode(resultCode);
    const bool proxyAsks = status == 407 || transfer.proxyStatus == 407;
    if (!proxyAsks && code != CURLE_COULDNT_CONNECT && code != CURLE_COULDNT_RESOLVE_PROXY)
        return {};
    const QString proxyUrl =
        proxyUrlFor(transfer.lastAddress.isEmpty() ? transfer.requestUrl : transfer.lastAddress);
    if (proxyUrl.isEmpty())
        return {};
    const QString proxy = shownProxy(proxyUrl);
    if (proxyAsks) {
        const QString answer = QStringLiteral("407 ") + transfer.reasonPhrase;
        return {QUrl(proxyUrl).userName().isEmpty()
                    ? QStringLiteral("the proxy %1 asks for a user name and password (%2): give "
                                     "them in the proxy setting")
                          .arg(proxy, answer.trimmed())
                    : QStringLiteral("the proxy %1 refused the user name and password it was "
                                     "given (%2)")
                          .arg(proxy, answer.trimmed())};
    }
    if (code == CURLE_COULDNT_CONNECT)
        return {QStringLiteral("could not connect to the proxy %1").arg(proxy), true};
    if (code == CURLE_COULDNT_RESOLVE_PROXY)
        return {QStringLiteral("the proxy's name could not be found (%1)").arg(proxy)};
    return {};
}

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
    transfer->headers = curl_slist_append(nullptr, "Accept-Encoding: identity");
    // Servers behind bot filters refuse or challenge a request that names no program.
    transfer->headers = curl_slist_append(transfer->headers, kUserAgentHeader.constData());
    transfer->waiting = true;
    const Id id = transfer->id;
    m_transfers.emplace(id, std::move(transfer));
    dispatch();
    return id;
}

void Fetcher::begin(Transfer& transfer)
{
    ++transfer.tries;
    transfer.tryEnded = false;
    transfer.sentAt = ServerPace::Clock::now();
    transfer.underWayAtSend = underWayTo(transfer.server) + 1;
    transfer.body = QByteArray();
    transfer.recount();
    transfer.announced = -1;
    transfer.framingFault.clear();
    transfer.reasonPhrase.clear();
    transfer.retryAfterSeconds = -1;
    transfer.tooLarge = false;
    transfer.redirected = false;
    transfer.movedPermanently = false;
    transfer.movedTo.clear();
    transfer.inflater.reset();
    transfer.paused = false;
    transfer.heldBackThisTry = false;
    transfer.onNewConnection = false;
    transfer.keptWaiting = false;
    transfer.stalledBy = nullptr;
    transfer.arrived = 0;
    transfer.restartStallClock();
    transfer.error[0] = '\0';

    CURL* easy = curl_easy_init();
    transfer.easy = easy;
    curl_easy_setopt(easy, CURLOPT_URL, wireUrl(transfer.requestUrl).constData());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, &transfer);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer.error);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer.headers);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, long(kMaxRedirects));
    // The stall rule is the progress callback's; libcurl's own rate limit, at one byte a
    // second, only wakes the callback every second and ends a silent transfer.
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Transfer::onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_SOCKOPTFUNCTION, &Transfer::onSocketOpened);
    curl_easy_setopt(easy, CURLOPT_SOCKOPTDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, long(m_transferTimeout.count()));
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, long(m_transferTimeout.count()));
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(m_maxBodySize));
    // A server that speaks HTTP/2 takes every request on one connection: wait for it to say so
    // rather than open a connection for each request started meanwhile.
    curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L);
    if (const ProxySetting proxy = proxyFor(transfer.requestUrl); !proxy.readByLibcurl) {
        curl_easy_setopt(easy, CURLOPT_PROXY, proxy.url.constData()); // "" for none
        if (proxy.systemSignIn) { // the Windows sign-in of the user, through SSPI
            curl_easy_setopt(easy, CURLOPT_PROXYAUTH, CURLAUTH_NEGOTIATE | CURLAUTH_NTLM);
            curl_easy_setopt(easy, CURLOPT_PROXYUSERPWD, ":");
        } else if (proxy.url.contains('@')) {
            curl_easy_setopt(easy, CURLOPT_PROXYAUTH, CURLAUTH_ANY);
        }
    }
    curl_multi_add_handle(m_multi, easy);
    // Sent now rather than at the next turn of the event loop: one request at a time feels
    // every round trip. What finishes meanwhile is reported from the event loop, never from
    // inside start().
    int running = 0;
    curl_multi_socket_action(m_multi, CURL_SOCKET_TIMEOUT, 0, &running);
    QMetaObject::invokeMethod(this, &Fetcher::collectFinished, Qt::QueuedConnection);
}

Fetcher::TryFailure Fetcher::describe(const Transfer& transfer, int resultCode) const
{
    const auto code = CURLcode(resultCode);
    if (code == CURLE_OPERATION_TIMEDOUT || code == CURLE_ABORTED_BY_CALLBACK)
        return {stallReason(transfer.stalledBy ? *transfer.stalledBy : stallRules().front()), true};
    const QString message = transfer.error[0] ? QString::fromLocal8Bit(transfer.error)
                                              : QString::fromLatin1(curl_easy_strerror(code));
    // After a redirect, the address that failed is named: it is not the one the caller asked.
    const QString at =
        code != CURLE_TOO_MANY_REDIRECTS && !transfer.lastAddress.isEmpty() &&
                transfer.lastAddress != QString::fromUtf8(wireUrl(transfer.requestUrl))
            ? QStringLiteral(" (at %1)").arg(transfer.lastAddress)
            : QString();
    for (const PlainReason& row : kPlainReasons) {
        if (row.code != code ||
            (row.messageHolds && !message.contains(QLatin1String(row.messageHolds))))
            continue;
        return {(row.reason ? QString::fromLatin1(row.reason) : message) + at, row.transient};
    }
    return {message + at};
}

void Fetcher::release(Transfer& transfer)
{
    if (transfer.easy) {
        curl_multi_remove_handle(m_multi, transfer.easy);
        curl_easy_cleanup(transfer.easy);
        transfer.easy = nullptr;
    }
}

Fetcher::TryFailure Fetcher::failureOf(const Transfer& transfer, int resultCode, long status) const
{
    const auto code = CURLcode(resultCode);
    if (TryFailure proxy = proxyFailure(transfer, resultCode, status); !proxy.reason.isEmpty())
        return proxy;
    if (!transfer.framingFault.isEmpty())
        return {transfer.framingFault};
    // An error answer says what it is by its status, whatever its body (too large, cut short).
    if (status >= 400)
        return failureOfStatus(transfer, status);
    // Too large for a card file: that file is not what it should be, the next one may be.
    if (transfer.tooLarge || code == CURLE_FILESIZE_EXCEEDED)
        return {QStringLiteral("the answer is larger than %1 bytes").arg(m_maxBodySize), false,
                Reach::TooLarge};
    if (code != CURLE_OK)
        return describe(transfer, code);
    if (transfer.inflater && !transfer.inflater->isComplete())
        return {QStringLiteral("the answer's compressed data was cut short"), true};
    if (status == 200)
        return {};
    return failureOfStatus(transfer, status);
}

Fetcher::TryFailure Fetcher::failureOfStatus(const Transfer& transfer, long status) const
{
    QString reason = QStringLiteral("the server answered %1").arg(status);
    if (!transfer.reasonPhrase.isEmpty())
        reason += u' ' + transfer.reasonPhrase;
    // The server does not have the file (404, 410), may not give it (451), will not (403), or
    // refuses this client (401).
    const Reach reach = status == 404 || status == 410 || status == 451 ? Reach::ThisItem
                        : status == 403                                 ? Reach::Forbidden
                        : status == 401                                 ? Reach::Refused
                                                                        : Reach::Everything;
    return {reason, isTransientStatus(status), reach};
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
    curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(transfer.easy, CURLINFO_HTTP_CONNECTCODE, &transfer.proxyStatus);
    const char* lastAddress = nullptr;
    curl_easy_getinfo(transfer.easy, CURLINFO_EFFECTIVE_URL, &lastAddress);
    transfer.lastAddress = lastAddress ? QString::fromUtf8(lastAddress) : QString();
    release(transfer);
    const TryFailure failure = failureOf(transfer, resultCode, status);
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

bool Fetcher::isFinished(Id id) const
{
    const auto found = m_transfers.find(id);
    return found == m_transfers.end() || found->second->result.has_value();
}

void Fetcher::serviceSockets()
{
    std::vector<SocketWatch> sockets;
    for (const auto& [socket, watch] : m_watches) {
        const bool read = watch->read && watch->read->isEnabled();
        const bool write = watch->write && watch->write->isEnabled();
        if (read || write)
            sockets.push_back({socket, read, write});
    }
    if (!readySockets(sockets))
        return;
    for (const SocketWatch& ready : sockets) {
        const int events = (ready.readable ? CURL_CSELECT_IN : 0) |
                           (ready.writable ? CURL_CSELECT_OUT : 0) |
                           (ready.failed ? CURL_CSELECT_ERR : 0);
        if (events)
            socketAction(ready.socket, events);
    }
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
    curl_slist_free_all(found->second->headers);
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
    curl_slist_free_all(transfer.headers);
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
