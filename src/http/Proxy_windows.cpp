#include "http/Proxy.h"

#include <QNetworkProxyFactory>

ProxySetting systemProxyFor(const QUrl& address)
{
    const QList<QNetworkProxy> proxies =
        QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(address));
    if (proxies.isEmpty() || (proxies.first().type() != QNetworkProxy::HttpProxy &&
                              proxies.first().type() != QNetworkProxy::Socks5Proxy))
        return {};
    const QNetworkProxy& chosen = proxies.first();
    QByteArray url = chosen.type() == QNetworkProxy::HttpProxy ? "http://" : "socks5h://";
    if (!chosen.user().isEmpty())
        url += QUrl::toPercentEncoding(chosen.user()) + ':' +
               QUrl::toPercentEncoding(chosen.password()) + '@';
    const QByteArray host = QUrl::toAce(chosen.hostName());
    url += (host.contains(':') ? '[' + host + ']' : host) + ':' + QByteArray::number(chosen.port());
    return {false, url, chosen.user().isEmpty()};
}
