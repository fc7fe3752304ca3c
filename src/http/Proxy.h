#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QUrl>

// How requests reach the servers through a proxy.
struct ProxySetting
{
    // The proxy variables of the environment, which libcurl reads itself for every address it
    // asks (the target of a redirect too), exactly as curl does: nothing is set.
    bool readByLibcurl = false;
    // Otherwise the proxy as "scheme://[user:password@]host:port"; empty for none.
    QByteArray url;
    // A proxy that asks for the Windows sign-in (NTLM, Negotiate) gets the user's own, as
    // browsers do, where no user name was given for it.
    bool systemSignIn = false;
};

// The proxy for requests to the address as this system has it: on Windows the Internet
// settings (a manual proxy, a configuration script, automatic detection); elsewhere the proxy
// variables.
ProxySetting systemProxyFor(const QUrl& address);

// The proxy the proxy variables name for the address, as curl reads them: "http_proxy" for
// http (never "HTTP_PROXY", which a web server's CGI could set), "https_proxy" or
// "HTTPS_PROXY" for https, else "all_proxy" or "ALL_PROXY"; none where "no_proxy" or
// "NO_PROXY" is "*" or names the host, a domain it is in, or an address range holding it. A
// proxy written without a scheme is "http://". Empty for none.
QString proxyFromEnvironment(const QUrl& address, const QProcessEnvironment& environment);

// The proxy as messages name it: its host and port, never a user name or password.
QString shownProxy(const QString& proxyUrl);
