#pragma once

#include <QByteArray>
#include <QString>

// The addresses as the fetcher handles them.

// The address as sent: characters that cannot stand in a request line, and "#", which would
// end the address at a fragment, are percent-encoded; everything else goes as built.
QByteArray wireUrl(const QString& url);

// The scheme, host and port an address begins with, as written.
QString originOf(const QString& url);

// The server as it is paced: its host and port.
QString serverKey(const QString& url);

// The value of the header line if it is the named header (any case), else empty.
QByteArray headerValue(const QByteArray& line, const char* name);
