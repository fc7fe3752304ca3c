#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

// An HTTP server on 127.0.0.1 that serves the sample collection under the card asset and
// card-info paths, answers per path as a test tells it, and records what it was asked.
class SampleCardServer
{
public:
    // How the server answers one request.
    struct Answer
    {
        enum class Fault
        {
            None,
            Truncate,        // announce the whole body, send only truncateAt bytes, close
            Stall,           // send nothing for `stall`, then answer
            Drop,            // send the headers, then close the connection before the body
            RedirectLoop,    // redirect to an address that redirects to itself, forever
            Trickle,         // send the body trickleBytes at a time, every trickleEvery
            Flood,           // announce 256 MiB and send filler until the client leaves
            FloodUnannounced // the same without a length, chunked
        };
        int status = 200;
        std::string body;
        Fault fault = Fault::None;
        std::size_t truncateAt = 0;
        std::chrono::milliseconds stall{0};
        std::string location; // a redirect target, sent with status 3xx
        std::size_t trickleBytes = 64;
        std::chrono::milliseconds trickleEvery{10};
        std::size_t burstBytes = 0; // of a trickle, sent at once before it starts
        std::string retryAfter;     // a Retry-After header's value, if any
        std::size_t floodBytes = std::size_t(256) << 20; // what a Flood announces and sends
    };

    struct Request
    {
        std::string target; // as received: path and query, percent-encoding kept
        int remotePort = 0; // tells connections apart
        std::string userAgent;
    };

    // What the server allows one client at most, as servers that limit their clients do; a
    // request beyond it is answered `busyStatus` at once, with `retryAfter` as its Retry-After
    // if not empty. Zero allows any number.
    struct Limits
    {
        int requestsAtOnce = 0; // answers under way at once, as nginx's limit_conn counts
        int perSecond = 0;      // with `burst` more at once, as nginx's limit_req nodelay
        int burst = 0;
        int busyStatus = 503;
        std::string retryAfter;
    };

    // Decides a request's answer before the overrides and the collection do; for fault
    // injection. Called on the server's threads.
    using Injector = std::function<std::optional<Answer>(const std::string& target)>;

    // Serves every card of the given list, or any card name when the list is empty.
    explicit SampleCardServer(std::set<std::string> cards = {}, int port = 0);
    ~SampleCardServer();
    SampleCardServer(const SampleCardServer&) = delete;
    SampleCardServer& operator=(const SampleCardServer&) = delete;

    int port() const { return m_port; }
    // "http://127.0.0.1:<port>"
    std::string origin() const;

    // Answers requests for this target ("/free/sets/...", or a path with its query as sent)
    // this way from now on.
    void setAnswer(const std::string& target, Answer answer);
    void clearAnswers();
    void setInjector(Injector injector);
    // Holds every answer back this long, like a distant server.
    void setDelay(std::chrono::milliseconds delay) { m_delayMs = int(delay.count()); }
    void setLimits(Limits limits);
    // Requests answered busy for the limits so far.
    int refused() const;

    std::vector<Request> requests() const;
    // Targets of trickled or flooded answers whose client left before the end, in order.
    std::vector<std::string> abandoned() const;
    std::vector<std::string> targets() const;
    void clearRequests();

    // The standard answer for a target: the collection's bytes, or 404.
    Answer collectionAnswer(const std::string& path, const std::string& cardIds) const;

private:
    void serve(const httplib::Request& request, httplib::Response& response);
    std::optional<Answer> overrideFor(const std::string& target, const std::string& path) const;
    void waitFor(std::chrono::milliseconds duration) const;
    // Records that the client of the target left before the answer's end; always false, so
    // that the answer ends there.
    bool leftEarly(const std::string& target);
    // Whether the limits let one more request be answered now; if so, it counts as under way
    // until finished() is called.
    bool admitted();
    void finished();

    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    std::set<std::string> m_cards;
    std::atomic<int> m_delayMs{0};
    std::atomic<bool> m_stopping{false};

    mutable std::mutex m_mutex;
    std::unordered_map<std::string, Answer> m_answers;
    Injector m_injector;
    std::vector<Request> m_requests;
    std::vector<std::string> m_abandoned;
    Limits m_limits;
    int m_underWay = 0;
    int m_refused = 0;
    double m_excess = 0; // requests beyond the rate, as nginx counts them
    std::chrono::steady_clock::time_point m_lastAdmitted{};
};
