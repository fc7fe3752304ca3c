#include "SampleCardServer.h"

#include "SampleCollection.h"
#include "cards/CardAddresses.h"

#include <httplib.h> // brings the system's socket calls

#include <algorithm>
#include <stdexcept>

namespace {
// Every request for this path is redirected to it again.
const std::string kLoopPath = "/redirect-loop";
// Clients fetch over several kept-alive connections at once, and each open connection holds a
// worker: enough workers, and a backlog deep enough, that a burst of connections is never
// refused or kept waiting.
constexpr std::size_t kWorkers = 64;
constexpr int kBacklog = 128;
} // namespace

SampleCardServer::SampleCardServer(std::set<std::string> cards, int port)
    : m_server(std::make_unique<httplib::Server>()), m_cards(std::move(cards))
{
    sample::drawPictures(); // Qt's writers stay off the server's threads
    // Without it every kept-alive answer waits on delayed ACKs.
    m_server->set_tcp_nodelay(true);
    // The default closes every fifth request's connection.
    m_server->set_keep_alive_max_count(1000000);
    // A client that holds an answer back, reading none of it for a while, is waited for as web
    // servers wait (a minute), not the library's 5 seconds.
    m_server->set_write_timeout(60, 0);
    m_server->new_task_queue = [] {
        return new httplib::ThreadPool(kWorkers);
    };
    socket_t listening = INVALID_SOCKET;
    m_server->set_socket_options([&listening](socket_t socket) {
        listening = socket;
        int yes = 1; // what the library's own socket options would have set
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes),
                     sizeof(yes));
    });
    m_server->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
        serve(request, response);
    });
    m_port = port == 0 ? m_server->bind_to_any_port("127.0.0.1")
                       : (m_server->bind_to_port("127.0.0.1", port) ? port : -1);
    if (m_port <= 0)
        throw std::runtime_error("the sample card server could not listen on 127.0.0.1");
    // The library listens with a backlog of 5; listening again deepens it.
    ::listen(listening, kBacklog);
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // stop() before the server runs would leave the join hanging.
    while (!m_server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

SampleCardServer::~SampleCardServer()
{
    m_stopping = true;
    m_server->stop();
    m_thread.join();
}

std::string SampleCardServer::origin() const
{
    return "http://127.0.0.1:" + std::to_string(m_port);
}

void SampleCardServer::setAnswer(const std::string& target, Answer answer)
{
    const std::lock_guard lock(m_mutex);
    m_answers[target] = std::move(answer);
}

void SampleCardServer::clearAnswers()
{
    const std::lock_guard lock(m_mutex);
    m_answers.clear();
}

void SampleCardServer::setInjector(Injector injector)
{
    const std::lock_guard lock(m_mutex);
    m_injector = std::move(injector);
}

std::vector<SampleCardServer::Request> SampleCardServer::requests() const
{
    const std::lock_guard lock(m_mutex);
    return m_requests;
}

std::vector<std::string> SampleCardServer::targets() const
{
    std::vector<std::string> targets;
    for (const Request& request : requests())
        targets.push_back(request.target);
    return targets;
}

std::vector<std::string> SampleCardServer::abandoned() const
{
    const std::lock_guard lock(m_mutex);
    return m_abandoned;
}

void SampleCardServer::clearRequests()
{
    const std::lock_guard lock(m_mutex);
    m_requests.clear();
    m_abandoned.clear();
}

SampleCardServer::Answer SampleCardServer::collectionAnswer(const std::string& path,
                                                            const std::string& cardIds) const
{
    const auto known = [this](const std::string& card) {
        return m_cards.empty() || m_cards.count(card) > 0;
    };
    Answer answer;
    const std::string sets(layout::kAssetSets);
    const std::string illustrations(layout::kAssetIllustrations);
    const std::size_t cardEnd = path.find('/', sets.size());
    if (path.rfind(sets, 0) == 0 && cardEnd != std::string::npos &&
        path.compare(cardEnd, illustrations.size(), illustrations) == 0) {
        const std::string card = path.substr(sets.size(), cardEnd - sets.size());
        const std::string file = path.substr(cardEnd + illustrations.size());
        for (const std::string& suffix : sample::kServedSuffixes) {
            if (known(card) && file == card + suffix) {
                answer.body = sample::assetBody(card, suffix);
                return answer;
            }
        }
    } else if (path == layout::kInfoPath && known(cardIds)) {
        answer.body = sample::infoBody(cardIds);
        return answer;
    }
    answer.status = 404;
    answer.body = "<html><body>404 Not Found</body></html>";
    return answer;
}

std::optional<SampleCardServer::Answer> SampleCardServer::overrideFor(const std::string& target,
                                                                      const std::string& path) const
{
    const std::lock_guard lock(m_mutex);
    if (m_injector) {
        if (std::optional<Answer> injected = m_injector(target))
            return injected;
    }
    if (auto found = m_answers.find(target); found != m_answers.end())
        return found->second;
    if (auto found = m_answers.find(path); found != m_answers.end())
        return found->second;
    return std::nullopt;
}

bool SampleCardServer::leftEarly(const std::string& target)
{
    const std::lock_guard lock(m_mutex);
    m_abandoned.push_back(target);
    return false;
}

void SampleCardServer::setLimits(Limits limits)
{
    const std::lock_guard lock(m_mutex);
    m_limits = std::move(limits);
}

int SampleCardServer::refused() const
{
    const std::lock_guard lock(m_mutex);
    return m_refused;
}

bool SampleCardServer::admitted()
{
    const std::lock_guard lock(m_mutex);
    const auto now = std::chrono::steady_clock::now();
    double excess = 0;
    if (m_limits.perSecond > 0 && m_lastAdmitted != std::chrono::steady_clock::time_point{}) {
        // Each request adds one; the rate drains them; beyond the burst is too many.
        const double seconds = std::chrono::duration<double>(now - m_lastAdmitted).count();
        excess = std::max(0.0, m_excess - seconds * m_limits.perSecond + 1);
    }
    const bool tooMany = (m_limits.requestsAtOnce > 0 && m_underWay >= m_limits.requestsAtOnce) ||
                         (m_limits.perSecond > 0 && excess > m_limits.burst);
    if (tooMany) {
        ++m_refused;
        return false;
    }
    m_excess = excess;
    m_lastAdmitted = now;
    ++m_underWay;
    return true;
}

void SampleCardServer::finished()
{
    const std::lock_guard lock(m_mutex);
    --m_underWay;
}

void SampleCardServer::waitFor(std::chrono::milliseconds duration) const
{
    // In short steps, so that stopping the server does not wait for a long stall.
    const auto until = std::chrono::steady_clock::now() + duration;
    for (auto now = std::chrono::steady_clock::now(); !m_stopping && now < until;
         now = std::chrono::steady_clock::now())
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            until - now, std::chrono::milliseconds(5)));
}

void SampleCardServer::serve(const httplib::Request& request, httplib::Response& response)
{
    const std::string& target = request.target;
    const std::string& path = request.path;
    const std::string cardParameter(layout::kInfoCard);
    const std::string cardIds = request.has_param(cardParameter.c_str())
                                    ? request.get_param_value(cardParameter.c_str())
                                    : std::string();
    {
        const std::lock_guard lock(m_mutex);
        m_requests.push_back({target, request.remote_port, request.get_header_value("User-Agent")});
    }
    if (!admitted()) {
        const std::lock_guard lock(m_mutex);
        response.status = m_limits.busyStatus;
        if (!m_limits.retryAfter.empty())
            response.set_header("Retry-After", m_limits.retryAfter);
        response.set_content("<html><body>Too busy, try again later</body></html>", "text/html");
        return;
    }
    const std::unique_ptr<SampleCardServer, void (*)(SampleCardServer*)> underWay(
        this, [](SampleCardServer* server) { server->finished(); });
    Answer answer;
    if (path == kLoopPath)
        answer.fault = Answer::Fault::RedirectLoop;
    else
        answer = overrideFor(target, path).value_or(collectionAnswer(path, cardIds));
    if (const int delay = m_delayMs)
        waitFor(std::chrono::milliseconds(delay));

    using Fault = Answer::Fault;
    response.status = answer.status;
    if (!answer.retryAfter.empty())
        response.set_header("Retry-After", answer.retryAfter);
    const char* type = path == layout::kInfoPath ? "text/xml" : "application/octet-stream";
    switch (answer.fault) {
    case Fault::None:
        if (!answer.location.empty())
            response.set_header("Location", answer.location);
        response.set_content(answer.body, type);
        break;
    case Fault::Stall:
        waitFor(answer.stall);
        response.set_content(answer.body, type);
        break;
    case Fault::Truncate: {
        const std::string body = answer.body;
        const std::size_t cut = std::min(answer.truncateAt, body.size());
        response.set_content_provider(
            body.size(), type,
            [body, cut](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                if (offset >= cut)
                    return false;
                sink.write(body.data() + offset, std::min(length, cut - offset));
                return true;
            });
        break;
    }
    case Fault::Drop:
        // The headers announce the whole body; the connection closes before any of it.
        response.set_content_provider(
            answer.body.size(), type,
            [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
        break;
    case Fault::Trickle: {
        const std::string body = answer.body;
        response.set_content_provider(
            body.size(), type,
            [this, body, target, bytes = answer.trickleBytes, every = answer.trickleEvery,
             burst = answer.burstBytes](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                if (offset >= burst)
                    waitFor(every);
                const std::size_t length =
                    std::min(offset < burst ? burst - offset : bytes, body.size() - offset);
                return !m_stopping &&
                       (sink.write(body.data() + offset, length) || leftEarly(target));
            });
        break;
    }
    case Fault::Flood:
    case Fault::FloodUnannounced: {
        // Filler, a block at a time, never more than is left of the length announced.
        const auto flood = [this, target](std::size_t left, httplib::DataSink& sink) {
            static const std::string block = sample::fillerBytes(64 * 1024, 7);
            return !m_stopping &&
                   (sink.write(block.data(), std::min(block.size(), left)) || leftEarly(target));
        };
        if (answer.fault == Fault::Flood)
            response.set_content_provider(
                answer.floodBytes, type,
                [flood](std::size_t, std::size_t left, httplib::DataSink& sink) {
                    return flood(left, sink);
                });
        else
            response.set_chunked_content_provider(type,
                                                  [flood](std::size_t, httplib::DataSink& sink) {
                                                      return flood(std::string::npos, sink);
                                                  });
        break;
    }
    case Fault::RedirectLoop:
        response.status = 302;
        response.set_header("Location", kLoopPath);
        response.set_content("", "text/plain");
        break;
    }
}
