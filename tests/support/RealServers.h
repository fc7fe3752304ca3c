#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// For every real server the tests start on loopback: a port nobody uses now (0 where none is
// free), and whether the server listens on it within ten seconds.
quint16 unusedLocalPort();
bool listensSoon(quint16 port);

// Debian's nginx on a loopback port of its own, serving `www` below its folder, with the given
// directives in its http block and its server block, and an access log. Port 0 where nginx is
// not installed.
class Nginx
{
public:
    Nginx(const QString& httpDirectives, const QString& serverDirectives);
    ~Nginx();

    quint16 port() const { return m_port; }
    QString origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    // Where the served files go, before or after the start.
    QString www() const { return m_dir.filePath(QStringLiteral("www")); }
    QByteArray accessLog() const;

private:
    QTemporaryDir m_dir;
    QProcess m_nginx;
    quint16 m_port = 0;
};

// Debian's Apache (prefork, with PHP where installed) on a loopback port of its own, serving
// `www` below its folder, with the given modules and directives besides, and an access log
// that names each client's port (one port a connection). Port 0 where it is not installed or
// does not start; errorLog() then says why.
class Apache
{
public:
    Apache(const QStringList& modules, const QString& directives);
    ~Apache();
    static bool installed();

    quint16 port() const { return m_port; }
    QString origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    QString www() const { return m_dir.filePath(QStringLiteral("www")); }
    QByteArray accessLog() const;
    QByteArray errorLog() const;

private:
    QTemporaryDir m_dir;
    QProcess m_apache;
    quint16 m_port = 0;
};

// The files of the cards as the sample server serves them, laid out for a static server: the
// asset server's paths, and the card-info answers as info/CARD.xml.
void writeCardSite(const QString& www, int cards);
