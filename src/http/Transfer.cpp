#include "http/Transfer.h"

#include "http/Urls.h"
#include "platform/Text.h"

#include <algorithm>

bool Fetcher::Transfer::isKeptWaiting() const
{
    return arrived == 0 && onNewConnection && !leftAQueue &&
           std::chrono::steady_clock::now() - connectedAt >= kQueueWait &&
           owner->serverOf(*this).lastAnswerSentAt > connectedAt;
}

int Fetcher::Transfer::onSocketOpened(void* self, curl_socket_t, curlsocktype purpose)
{
    if (purpose == CURLSOCKTYPE_IPCXN) {
        auto& transfer = *static_cast<Transfer*>(self);
        transfer.onNewConnection = true;
        transfer.connectedAt = std::chrono::steady_clock::now();
    }
    return CURL_SOCKOPT_OK;
}

void Fetcher::Transfer::sample()
{
    const auto now = std::chrono::steady_clock::now();
    const auto rules = owner->stallRules();
    if (samples.empty() || now - samples.back().first >= rules.front().window / 60)
        samples.emplace_back(now, arrived);
    // One sample at or before the start of the longest window is all that is needed of it.
    while (samples.size() > 1 && samples[1].first <= now - rules.back().window)
        samples.pop_front();
}

bool Fetcher::Transfer::hasStalled(const StallRule& rule) const
{
    const auto since = std::chrono::steady_clock::now() - rule.window;
    const auto after = std::upper_bound(
        samples.begin(), samples.end(), since,
        [](std::chrono::steady_clock::time_point time, const auto& s) { return time < s.first; });
    return after != samples.begin() && arrived - std::prev(after)->second < rule.bytes;
}

size_t Fetcher::Transfer::onBody(char* data, size_t size, size_t count, void* self)
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

bool Fetcher::Transfer::keep(const char* data, qint64 length)
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

void Fetcher::Transfer::reserveFor(qint64 length)
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

int Fetcher::Transfer::onProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
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

size_t Fetcher::Transfer::onHeader(char* data, size_t size, size_t count, void* self)
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
    } else if (const QByteArray length = headerValue(line, "content-length"); !length.isEmpty()) {
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
