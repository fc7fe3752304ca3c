#include "Nginx.h"

#include "SampleCollection.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

quint16 unusedLocalPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

bool listensSoon(quint16 port)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(100))
            return true;
        QThread::msleep(100);
    }
    return false;
}

Nginx::Nginx(const QString& httpDirectives, const QString& serverDirectives)
{
    const quint16 port = unusedLocalPort();
    if (!QFileInfo::exists(QStringLiteral("/usr/sbin/nginx")) || port == 0)
        return;
    QDir().mkpath(www());
    const QString dir = m_dir.path();
    writeBytes(m_dir.filePath(QStringLiteral("nginx.conf")),
               QStringLiteral("daemon off; master_process off; pid %1/nginx.pid;\n"
                              "error_log %1/error.log;\nevents { worker_connections 256; }\n"
                              "http { access_log %1/access.log; client_body_temp_path %1/body;\n"
                              "  proxy_temp_path %1/proxy; fastcgi_temp_path %1/fastcgi;\n"
                              "  uwsgi_temp_path %1/uwsgi; scgi_temp_path %1/scgi;\n  %3\n"
                              "  server { listen 127.0.0.1:%2; root %1/www;\n    %4\n  } }\n")
                   .arg(dir)
                   .arg(port)
                   .arg(httpDirectives, serverDirectives)
                   .toUtf8());
    m_nginx.setProcessChannelMode(QProcess::ForwardedChannels);
    m_nginx.start(QStringLiteral("/usr/sbin/nginx"),
                  {QStringLiteral("-c"), m_dir.filePath(QStringLiteral("nginx.conf")),
                   QStringLiteral("-p"), dir});
    if (listensSoon(port))
        m_port = port;
}

Nginx::~Nginx()
{
    m_nginx.terminate();
    m_nginx.waitForFinished(10000);
}

QByteArray Nginx::accessLog() const
{
    return readBytes(m_dir.filePath(QStringLiteral("access.log")));
}

void writeCardSite(const QString& www, int cards)
{
    for (int card = 0; card < cards; ++card) {
        const std::string name = sample::cardName(std::size_t(card));
        for (const char* suffix : {"c.jpg", "d.bmp", "e.bmp", ".inf", "_full.png"})
            writeBytes(QStringLiteral("%1/free/sets/%2/illustrations/%2%3")
                           .arg(www, QString::fromStdString(name), QLatin1String(suffix)),
                       toBytes(sample::assetBody(name, suffix)));
        writeBytes(QStringLiteral("%1/info/%2.xml").arg(www, QString::fromStdString(name)),
                   toBytes(sample::infoBody(name)));
    }
}
