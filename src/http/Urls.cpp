#include "http/Urls.h"

#include <QUrl>

#include <cstring>

QByteArray wireUrl(const QString& url)
{
    QByteArray wire;
    for (const char c : url.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7f || c == '#')
            wire += '%' + QByteArray::number(byte, 16).toUpper().rightJustified(2, '0');
        else
            wire += c;
    }
    return wire;
}

QString originOf(const QString& url)
{
    const qsizetype hostStart = url.indexOf(QLatin1String("://"));
    if (hostStart < 0)
        return {};
    const qsizetype pathStart = url.indexOf(u'/', hostStart + 3);
    return pathStart < 0 ? url : url.left(pathStart);
}

QString serverKey(const QString& url)
{
    const QUrl address(url);
    const int defaultPort =
        address.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) ? 80 : 443;
    return address.host().toLower() + u':' + QString::number(address.port(defaultPort));
}

QByteArray headerValue(const QByteArray& line, const char* name)
{
    const qsizetype length = qsizetype(std::strlen(name));
    if (line.size() <= length || line[length] != ':' ||
        qstrnicmp(line.constData(), name, size_t(length)) != 0)
        return {};
    return line.mid(length + 1).trimmed();
}
