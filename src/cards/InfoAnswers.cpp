#include "cards/InfoAnswers.h"

#include "cards/WholePicture.h"

#include <QXmlStreamReader>

namespace {

QString shown(const QByteArray& bytes)
{
    return QStringLiteral("%1 bytes, begins with \"%2\"").arg(bytes.size()).arg(beginningOf(bytes));
}

} // namespace

QString xmlAnswerFault(const QByteArray& bytes)
{
    // An error page written as XHTML is well-formed too, but no card's info.
    QXmlStreamReader reader(bytes);
    bool rootSeen = false;
    bool htmlRoot = false;
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement && !rootSeen) {
            rootSeen = true;
            htmlRoot = reader.name().compare(u"html", Qt::CaseInsensitive) == 0;
        }
    }
    if (!reader.hasError() && rootSeen && !htmlRoot)
        return {};
    if (bytes.isEmpty())
        return QStringLiteral("the answer is empty, not an XML document");
    return QStringLiteral("the answer is not an XML document (%1)").arg(shown(bytes));
}

QString infAnswerFault(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return QStringLiteral("the answer is empty");
    // Error pages begin with their document type or their root element, after a byte-order
    // mark or white space at most.
    QByteArray start = bytes.left(64).trimmed();
    if (start.startsWith("\xEF\xBB\xBF"))
        start = start.mid(3).trimmed();
    start = start.toLower();
    for (const char* html : {"<!doctype html", "<html", "<head", "<body"}) {
        if (start.startsWith(html))
            return QStringLiteral("the answer is an HTML page, not an info file (%1)")
                .arg(shown(bytes));
    }
    return {};
}
