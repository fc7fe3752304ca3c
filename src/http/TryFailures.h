#pragma once

#include "http/Fetcher.h"
#include "platform/Result.h"

#include <QString>

// How one try of a fetch ended, as far as saying why it failed goes.
struct TryEnd
{
    int code = 0;    // libcurl's result (a CURLcode)
    QString message; // libcurl's own words for it
    long status = 0; // of the last answer; 0 for none
    QString reasonPhrase;
    QString framingFault; // why the answer's framing or encoding cannot be read
    bool tooLarge = false;
    bool compressedCutShort = false;
    Fetcher::StallRule stall{}; // the rule a stall broke
    QString requestUrl;         // as sent
    QString lastAddress;        // asked last, after redirects
    long proxyStatus = 0;       // a proxy's answer to a tunnel through it
    QString proxyUrl;           // the proxy in between, with its credentials; empty for none
    qint64 maxBodySize = 0;
};

// Why a try failed, in plain words (empty when it did not), whether another try may succeed,
// and what the failure means for other fetches.
struct TryFailure
{
    QString reason;
    bool transient = false;
    Reach reach = Reach::Everything;
};

// Whether the failure may be a proxy's doing: only then is the proxy looked up.
bool mayConcernProxy(const TryEnd& end);

TryFailure failureOf(const TryEnd& end);

// Statuses a later try may pass: a timeout, rate limits, a server error or one in between.
bool isTransientStatus(long status);
