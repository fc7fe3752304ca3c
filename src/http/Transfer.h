#pragma once

#include "http/Curl.h"
#include "http/Fetcher.h"
#include "http/Inflate.h"

#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <utility>

// One fetch, through all its tries.
struct Fetcher::Transfer
{
    Fetcher* owner = nullptr;
    Id id = 0;
    QString url;         // as the caller built it
    QString requestUrl;  // where it is asked: on the new origin where the old one moved
    CurlEasy easy;       // while a try is under way
    CurlHeaders headers; // of every try
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
    bool isKeptWaiting() const;

    static int onSocketOpened(void* self, curl_socket_t, curlsocktype purpose);

    void noteArrival(qint64 length)
    {
        arrived += length;
        sample();
    }
    void sample();
    // Counting starts afresh: at the start of a try, and when a held-back answer goes on.
    void restartStallClock() { samples.assign(1, {std::chrono::steady_clock::now(), arrived}); }
    // Less than the rule's bytes arrived in its window. Judged from the last sample at or
    // before the window's start, so that a transfer is never taken for stalled too early.
    bool hasStalled(const StallRule& rule) const;

    static size_t onBody(char* data, size_t size, size_t count, void* self);

    // Adds the bytes to the body, unless that would pass the size cap.
    bool keep(const char* data, qint64 length);

    // The memory the body holds, counted again after it changed.
    void recount()
    {
        owner->m_bytesHeld += body.capacity() - counted;
        counted = body.capacity();
    }

    // Room for the bytes: the announced length at once where the bodies' budget has room for
    // it (or the run waits for this one), else a quarter more each time, never past the cap, so
    // that the memory a body holds stays close to its size.
    void reserveFor(qint64 length);

    static int onProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

    static size_t onHeader(char* data, size_t size, size_t count, void* self);
};
