#include "http/Fetcher.h"

#include "http/Sockets.h"
#include "http/Transfer.h"
#include "http/Urls.h"

// libcurl driven from the Qt event loop: its sockets watched by notifiers, its timer a QTimer,
// and each try's options.

void Fetcher::MultiCleanup::operator()(void* multi) const
{
    curl_multi_cleanup(multi);
}

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
    m_multi.reset(curl_multi_init());
    curl_multi_setopt(m_multi.get(), CURLMOPT_SOCKETFUNCTION, &Callbacks::onSocket);
    curl_multi_setopt(m_multi.get(), CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi.get(), CURLMOPT_TIMERFUNCTION, &Callbacks::onTimer);
    curl_multi_setopt(m_multi.get(), CURLMOPT_TIMERDATA, this);
    curl_multi_setopt(m_multi.get(), CURLMOPT_MAXCONNECTS, 16L);

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
    }
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
    curl_multi_socket_action(m_multi.get(), curl_socket_t(socket), events, &running);
    collectFinished();
}

void Fetcher::collectFinished()
{
    // Collected first: finishing one may start others, which must not disturb this reading.
    std::vector<std::pair<Id, CURLcode>> done;
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(m_multi.get(), &left)) {
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

    transfer.easy.reset(curl_easy_init());
    CURL* easy = transfer.easy.get();
    curl_easy_setopt(easy, CURLOPT_URL, wireUrl(transfer.requestUrl).constData());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, &transfer);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer.error);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer.headers.get());
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
    curl_multi_add_handle(m_multi.get(), easy);
    // Sent now rather than at the next turn of the event loop: one request at a time feels
    // every round trip. What finishes meanwhile is reported from the event loop, never from
    // inside start().
    int running = 0;
    curl_multi_socket_action(m_multi.get(), CURL_SOCKET_TIMEOUT, 0, &running);
    QMetaObject::invokeMethod(this, &Fetcher::collectFinished, Qt::QueuedConnection);
}

void Fetcher::release(Transfer& transfer)
{
    if (transfer.easy) {
        curl_multi_remove_handle(m_multi.get(), transfer.easy.get());
        transfer.easy.reset();
    }
}
