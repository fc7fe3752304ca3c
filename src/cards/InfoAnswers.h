#pragma once

#include <QByteArray>
#include <QString>

// Why an answer cannot be a card's info file, or an empty string when it can be one. A service
// that answers every request with an empty page or an error page must not wipe the info files
// of a whole collection.

// The card-info service's answer: a well-formed XML document.
QString xmlAnswerFault(const QByteArray& bytes);

// The asset server's ".inf" answer: not empty, and not an HTML page (what web servers answer
// in place of a file they do not have).
QString infAnswerFault(const QByteArray& bytes);

// Whether the bytes are a web page (an HTML or XHTML document), as error pages and the sign-in
// pages of captive portals are.
bool isWebPage(const QByteArray& bytes);
