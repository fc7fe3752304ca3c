#include "RealServers.h"

#include "SampleCollection.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

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

namespace {
const QString kApacheModules = QStringLiteral("/usr/lib/apache2/modules");

QString phpModule()
{
    const QStringList found = QDir(kApacheModules).entryList({QStringLiteral("libphp*.so")});
    return found.isEmpty() ? QString() : found.first();
}
} // namespace

bool Apache::installed()
{
    return QFileInfo::exists(QStringLiteral("/usr/sbin/apache2")) && !phpModule().isEmpty();
}

Apache::Apache(const QStringList& modules, const QString& directives)
{
    const quint16 port = unusedLocalPort();
    if (!installed() || port == 0)
        return;
    // Its workers run as another user where it is started by root.
    QFile::setPermissions(m_dir.path(), QFileDevice::Permissions(0x7755));
    QDir().mkpath(www());
    QString loads;
    for (const QString& module :
         QStringList{QStringLiteral("mpm_prefork"), QStringLiteral("authz_core")} + modules)
        loads += QStringLiteral("LoadModule %1_module %2/mod_%1.so\n").arg(module, kApacheModules);
    writeBytes(
        m_dir.filePath(QStringLiteral("apache2.conf")),
        QStringLiteral("ServerRoot %1\nServerName 127.0.0.1\nListen 127.0.0.1:%2\n"
                       "PidFile %1/apache2.pid\nDefaultRuntimeDir %1\nErrorLog %1/error.log\n"
                       "LogFormat \"%h %{remote}p \\\"%r\\\" %>s\" ports\n"
                       "CustomLog %1/access.log ports\n"
                       "User www-data\nGroup www-data\n%3"
                       "LoadModule php_module %4/%5\nDocumentRoot %1/www\n"
                       "<FilesMatch \\.php$>\n  SetHandler application/x-httpd-php\n"
                       "</FilesMatch>\n%6\n")
            .arg(m_dir.path())
            .arg(port)
            .arg(loads, kApacheModules, phpModule(), directives)
            .toUtf8());
    m_apache.setProcessChannelMode(QProcess::ForwardedChannels);
#ifdef Q_OS_UNIX
    m_apache.setChildProcessModifier([] { ::setsid(); }); // it stops its whole process group
#endif
    m_apache.start(QStringLiteral("/usr/sbin/apache2"),
                   {QStringLiteral("-f"), m_dir.filePath(QStringLiteral("apache2.conf")),
                    QStringLiteral("-DFOREGROUND")});
    if (listensSoon(port))
        m_port = port;
}

Apache::~Apache()
{
    m_apache.terminate();
    m_apache.waitForFinished(10000);
}

QByteArray Apache::accessLog() const
{
    return readBytes(m_dir.filePath(QStringLiteral("access.log")));
}

QByteArray Apache::errorLog() const
{
    return readBytes(m_dir.filePath(QStringLiteral("error.log")));
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
