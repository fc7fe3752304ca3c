#include "platform/Http.h"

#include "platform/EventPump.h"
#include "platform/HeldUpdates.h"

#include <QEventLoop>
#include <QHash>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <memory>

namespace {

// The system's proxy settings, looked up once per server: a lookup costs more than a
// request on a fast line, and a run asks thousands of times for the same two servers.
class SystemProxyFactory final : public QNetworkProxyFactory
{
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override
    {
        const QString server = query.url()
                                   .adjusted(QUrl::RemovePath | QUrl::RemoveQuery |
                                             QUrl::RemoveFragment | QUrl::RemoveUserInfo)
                                   .toString();
        auto known = m_known.constFind(server);
        if (known == m_known.cend())
            known = m_known.insert(server, systemProxyForQuery(query));
        return *known;
    }

private:
    QHash<QString, QList<QNetworkProxy>> m_known;
};

QString statusFailure(const QNetworkReply& reply, int status)
{
    const QString phrase =
        reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString().trimmed();
    return phrase.isEmpty() ? QStringLiteral("the server answered %1").arg(status)
                            : QStringLiteral("the server answered %1 %2").arg(status).arg(phrase);
}

} // namespace

Fetcher::Fetcher(QObject* parent) : QObject(parent)
{
    m_showHeldTimer.setSingleShot(true);
    m_showHeldTimer.setInterval(kDefaultPumpInterval);
    connect(&m_showHeldTimer, &QTimer::timeout, this, &showHeldUpdates);
    m_manager.setProxyFactory(new SystemProxyFactory); // the manager owns it
}

void Fetcher::abort()
{
    if (m_current) {
        m_abortRequested = true;
        m_current->abort();
    }
}

namespace {

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

} // namespace

Result<QByteArray> Fetcher::fetch(const QString& url)
{
    using Failure = Result<QByteArray>;
    QUrl target(url, QUrl::TolerantMode);
    if (!target.isValid())
        return Failure::failure(QStringLiteral("the address is not valid"));

    m_abortRequested = false;
    // Redirects are followed here rather than by Qt, so that each hop is checked the same way.
    for (int redirects = 0;; ++redirects) {
        Exchange exchange = get(target);
        if (!exchange.failure.isEmpty())
            return Failure::failure(exchange.failure);
        if (!isRedirect(exchange.status))
            return std::move(exchange.body);
        if (redirects >= m_maxRedirects)
            return Failure::failure(QStringLiteral("too many redirects"));
        const QUrl next = target.resolved(exchange.location);
        const QString scheme = next.scheme().toLower();
        if (exchange.location.isEmpty() || (scheme != u"http" && scheme != u"https"))
            return Failure::failure(
                QStringLiteral("refused a redirect to %1").arg(next.toString()));
        target = next;
    }
}

Fetcher::Exchange Fetcher::get(const QUrl& target)
{
    QNetworkRequest request(target);
    // Stored bytes must be exactly the served bytes, and their length checkable.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(int(m_transferTimeout.count()));

    // Deleted here rather than by deleteLater(), which never runs inside a nested loop.
    const std::unique_ptr<QNetworkReply> reply(m_manager.get(request));
    m_current = reply.get();
    Exchange exchange;
    const auto failWith = [&](const QString& reason) {
        if (exchange.failure.isEmpty())
            exchange.failure = reason;
        reply->abort();
    };
    const QString tooLarge =
        QStringLiteral("the answer is larger than %1 bytes").arg(m_maxBodySize);

    connect(reply.get(), &QNetworkReply::metaDataChanged, this, [&] {
        const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
        if (announced.isValid() && announced.toLongLong() > m_maxBodySize)
            failWith(tooLarge);
    });
    // The body stays in the reply until it is complete; only its size is watched.
    connect(reply.get(), &QNetworkReply::readyRead, this, [&] {
        if (reply->bytesAvailable() > m_maxBodySize)
            failWith(tooLarge);
    });

    if (!reply->isFinished()) {
        QEventLoop loop;
        connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        // A download that takes a moment shows what the run held back before it.
        m_showHeldTimer.start();
        loop.exec();
        m_showHeldTimer.stop();
        if (!reply->isFinished())
            failWith(QStringLiteral("the program is closing"));
    }
    m_current = nullptr;
    if (!exchange.failure.isEmpty())
        return exchange;
    if (m_abortRequested) {
        exchange.failure = QStringLiteral("the download was cancelled");
        return exchange;
    }
    if (reply->isReadable())
        exchange.body = reply->readAll();
    exchange.failure = checkAnswer(*reply, exchange);
    return exchange;
}

QString Fetcher::checkAnswer(const QNetworkReply& reply, Exchange& exchange) const
{
    if (reply.error() == QNetworkReply::OperationCanceledError)
        return QStringLiteral("no data arrived for %1 seconds")
            .arg(double(m_transferTimeout.count()) / 1000.0);
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    exchange.status = status.toInt();
    if (status.isValid() && isRedirect(exchange.status)) {
        exchange.location = reply.header(QNetworkRequest::LocationHeader).toUrl();
        return {};
    }
    if (status.isValid() && (exchange.status < 200 || exchange.status > 299))
        return statusFailure(reply, exchange.status);
    if (reply.error() != QNetworkReply::NoError)
        return reply.errorString();
    if (!status.isValid())
        return QStringLiteral("the server sent no HTTP answer");
    const QVariant announced = reply.header(QNetworkRequest::ContentLengthHeader);
    if (announced.isValid() && announced.toLongLong() != exchange.body.size())
        return QStringLiteral("the answer was cut short (%1 of %2 bytes)")
            .arg(exchange.body.size())
            .arg(announced.toLongLong());
    return {};
}
