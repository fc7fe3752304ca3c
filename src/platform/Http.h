#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>

class QNetworkReply;

// Fetches whole HTTP bodies one at a time over kept-alive connections. While it waits for a
// body the window keeps handling its events.
//
// A fetch fails on a network error, an HTTP status other than 2xx after redirects, a body
// shorter than announced, no data for the transfer time-out, or a body over the size cap.
class Fetcher final : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kDefaultTransferTimeout{60'000};
    static constexpr qint64 kDefaultMaxBodySize = qint64(256) << 20;
    static constexpr int kDefaultMaxRedirects = 10;

    explicit Fetcher(QObject* parent = nullptr);

    // The URL is taken as built: characters that cannot stand in a request are
    // percent-encoded on the wire, the rest is sent as it is.
    Result<QByteArray> fetch(const QString& url);

    // Ends the fetch under way, if any; it fails and nothing of it is returned.
    void abort();

    void setTransferTimeout(std::chrono::milliseconds timeout) { m_transferTimeout = timeout; }
    void setMaxBodySize(qint64 bytes) { m_maxBodySize = bytes; }
    void setMaxRedirects(int count) { m_maxRedirects = count; }

private:
    // One request and its answer.
    struct Exchange
    {
        QString failure;
        int status = 0;
        QUrl location;
        QByteArray body;
    };
    Exchange get(const QUrl& target);
    QString checkAnswer(const QNetworkReply& reply, Exchange& exchange) const;

    QNetworkAccessManager m_manager;
    QTimer m_showHeldTimer;
    QPointer<QNetworkReply> m_current;
    bool m_abortRequested = false;
    std::chrono::milliseconds m_transferTimeout = kDefaultTransferTimeout;
    qint64 m_maxBodySize = kDefaultMaxBodySize;
    int m_maxRedirects = kDefaultMaxRedirects;
};
