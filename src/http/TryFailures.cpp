#include "http/TryFailures.h"

#include "http/Proxy.h"

#include <QUrl>

#include <curl/curl.h>

namespace {

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

TryFailure describe(const TryEnd& end)
{
    const auto code = CURLcode(end.code);
    if (code == CURLE_OPERATION_TIMEDOUT || code == CURLE_ABORTED_BY_CALLBACK)
        return {stallReason(end.stall), true};
    const QString message =
        end.message.isEmpty() ? QString::fromLatin1(curl_easy_strerror(code)) : end.message;
    // After a redirect, the address that failed is named: it is not the one the caller asked.
    const QString at = code != CURLE_TOO_MANY_REDIRECTS && !end.lastAddress.isEmpty() &&
                               end.lastAddress != end.requestUrl
                           ? QStringLiteral(" (at %1)").arg(end.lastAddress)
                           : QString();
    for (const PlainReason& row : kPlainReasons) {
        if (row.code != code ||
            (row.messageHolds && !message.contains(QLatin1String(row.messageHolds))))
            continue;
        return {(row.reason ? QString::fromLatin1(row.reason) : message) + at, row.transient};
    }
    return {message + at};
}

TryFailure failureOfStatus(const TryEnd& end)
{
    QString reason = QStringLiteral("the server answered %1").arg(end.status);
    if (!end.reasonPhrase.isEmpty())
        reason += u' ' + end.reasonPhrase;
    // The server does not have the file (404, 410), may not give it (451), will not (403), or
    // refuses this client (401).
    const long status = end.status;
    const Reach reach = status == 404 || status == 410 || status == 451 ? Reach::ThisItem
                        : status == 403                                 ? Reach::Forbidden
                        : status == 401                                 ? Reach::Refused
                                                                        : Reach::Everything;
    return {reason, isTransientStatus(status), reach};
}

bool proxyAsksForSignIn(const TryEnd& end)
{
    return end.status == 407 || end.proxyStatus == 407;
}

// A proxy's refusal or absence, where a proxy stands between; empty otherwise.
TryFailure proxyFailure(const TryEnd& end)
{
    if (!mayConcernProxy(end) || end.proxyUrl.isEmpty())
        return {};
    const QString proxy = shownProxy(end.proxyUrl);
    if (proxyAsksForSignIn(end)) {
        const QString answer = (QStringLiteral("407 ") + end.reasonPhrase).trimmed();
        return {QUrl(end.proxyUrl).userName().isEmpty()
                    ? QStringLiteral("the proxy %1 asks for a user name and password (%2): give "
                                     "them in the proxy setting")
                          .arg(proxy, answer)
                    : QStringLiteral("the proxy %1 refused the user name and password it was "
                                     "given (%2)")
                          .arg(proxy, answer)};
    }
    if (end.code == CURLE_COULDNT_CONNECT)
        return {QStringLiteral("could not connect to the proxy %1").arg(proxy), true};
    return {QStringLiteral("the proxy's name could not be found (%1)").arg(proxy)};
}

} // namespace

bool isTransientStatus(long status)
{
    return status == 408 || status == 429 || status == 500 || status == 502 || status == 503 ||
           status == 504;
}

bool mayConcernProxy(const TryEnd& end)
{
    // Only what a proxy may have caused is asked of it: every answer comes through here.
    return proxyAsksForSignIn(end) || end.code == CURLE_COULDNT_CONNECT ||
           end.code == CURLE_COULDNT_RESOLVE_PROXY;
}

TryFailure failureOf(const TryEnd& end)
{
    const auto code = CURLcode(end.code);
    if (TryFailure proxy = proxyFailure(end); !proxy.reason.isEmpty())
        return proxy;
    if (!end.framingFault.isEmpty())
        return {end.framingFault};
    // An error answer says what it is by its status, whatever its body (too large, cut short).
    if (end.status >= 400)
        return failureOfStatus(end);
    // Too large for a card file: that file is not what it should be, the next one may be.
    if (end.tooLarge || code == CURLE_FILESIZE_EXCEEDED)
        return {QStringLiteral("the answer is larger than %1 bytes").arg(end.maxBodySize), false,
                Reach::TooLarge};
    if (code != CURLE_OK)
        return describe(end);
    if (end.compressedCutShort)
        return {QStringLiteral("the answer's compressed data was cut short"), true};
    if (end.status == 200)
        return {};
    return failureOfStatus(end);
}
