#include "http/Proxy.h"

#include "http/Fetcher.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace {

QString firstSet(const QProcessEnvironment& environment, std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        const QString value = environment.value(QString::fromLatin1(name)).trimmed();
        if (!value.isEmpty())
            return value;
    }
    return {};
}

bool excluded(const QString& host, const QString& noProxy)
{
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    QString name = host.toLower();
    if (name.endsWith(u'.'))
        name.chop(1);
    const QHostAddress address(name);
    for (QString entry : noProxy.split(separators, Qt::SkipEmptyParts)) {
        if (entry == u'*')
            return true;
        if (!address.isNull()) {
            const std::pair<QHostAddress, int> range = QHostAddress::parseSubnet(entry);
            if (entry.contains(u'/') ? address.isInSubnet(range)
                                     : QHostAddress(entry).isEqual(address))
                return true;
            continue;
        }
        entry = entry.toLower();
        if (entry.startsWith(u'.'))
            entry.remove(0, 1);
        if (entry.endsWith(u'.'))
            entry.chop(1);
        if (!entry.isEmpty() && (name == entry || name.endsWith(u'.' + entry)))
            return true;
    }
    return false;
}

} // namespace

QString proxyFromEnvironment(const QUrl& address, const QProcessEnvironment& environment)
{
    if (excluded(address.host(), firstSet(environment, {"no_proxy", "NO_PROXY"})))
        return {};
    const bool https = address.scheme().compare(u"https", Qt::CaseInsensitive) == 0;
    QString proxy = https ? firstSet(environment, {"https_proxy", "HTTPS_PROXY"})
                          : firstSet(environment, {"http_proxy"});
    if (proxy.isEmpty())
        proxy = firstSet(environment, {"all_proxy", "ALL_PROXY"});
    if (!proxy.isEmpty() && !proxy.contains(QStringLiteral("://")))
        proxy.prepend(QStringLiteral("http://"));
    return proxy;
}

QString shownProxy(const QString& proxyUrl)
{
    // libcurl's ports where none is written.
    const QUrl proxy(proxyUrl);
    const int defaultPort = proxy.scheme().compare(u"https", Qt::CaseInsensitive) == 0 ? 443 : 1080;
    return proxy.host() + u':' + QString::number(proxy.port(defaultPort));
}

ProxySetting Fetcher::proxyFor(const QString& url) const
{
    const QUrl address(url);
    const QString origin =
        address.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment).toString();
    auto known = m_proxies.constFind(origin);
    if (known == m_proxies.cend())
        known = m_proxies.insert(origin, systemProxyFor(address));
    return *known;
}

QString Fetcher::proxyUrlFor(const QString& url) const
{
    const ProxySetting setting = proxyFor(url);
    return setting.readByLibcurl
               ? proxyFromEnvironment(QUrl(url), QProcessEnvironment::systemEnvironment())
               : QString::fromUtf8(setting.url);
}
