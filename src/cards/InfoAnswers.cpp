#include "cards/InfoAnswers.h"

#include "cards/WholePicture.h"

#include <QStringDecoder>
#include <QXmlStreamReader>

#include <optional>

namespace {

QString shown(const QByteArray& bytes)
{
    return QStringLiteral("%1 bytes, begins with \"%2\"").arg(bytes.size()).arg(beginningOf(bytes));
}

// The start of an answer as text: in UTF-16 or UTF-32 where its byte-order mark says so, or
// where the zero bytes of its first characters do (a page a server writes in UTF-16 without
// one); otherwise as UTF-8, which reads the markup of any 8-bit page alike.
QString startAsText(const QByteArray& bytes)
{
    const QByteArray start = bytes.left(4096);
    std::optional<QStringConverter::Encoding> encoding = QStringConverter::encodingForData(start);
    if (!encoding && start.size() >= 4 && start.left(4).contains('\0'))
        encoding = start[0] == '\0' ? QStringConverter::Utf16BE : QStringConverter::Utf16LE;
    QStringDecoder decoder(encoding.value_or(QStringConverter::Utf8));
    return decoder.decode(start);
}

// Leaves out what may stand before a page's document type or root element: white space, a
// byte-order mark, an XML declaration or processing instruction, comments.
QStringView pastProlog(QStringView text)
{
    for (;;) {
        text = text.trimmed();
        if (text.startsWith(u'\uFEFF')) {
            text = text.mid(1);
            continue;
        }
        const auto skipPast = [&text](QStringView open, QStringView close) {
            if (!text.startsWith(open))
                return false;
            const qsizetype end = text.indexOf(close, open.size());
            text = end < 0 ? QStringView() : text.mid(end + close.size());
            return true;
        };
        if (!skipPast(u"<?", u"?>") && !skipPast(u"<!--", u"-->"))
            return text;
    }
}

} // namespace

QString xmlAnswerFault(const QByteArray& bytes)
{
    // An error page written as XHTML is well-formed too, but no card's info. A document type
    // that declares entities is refused before any is expanded: no card's info needs one, and
    // a small answer whose entities are referenced many times expands to gigabytes.
    QXmlStreamReader reader(bytes);
    bool rootSeen = false;
    bool htmlRoot = false;
    bool declaresEntities = false;
    while (!reader.atEnd() && !rootSeen && !declaresEntities) {
        switch (reader.readNext()) {
        case QXmlStreamReader::DTD:
            declaresEntities = !reader.entityDeclarations().isEmpty() ||
                               reader.text().contains(u"<!ENTITY", Qt::CaseInsensitive);
            break;
        case QXmlStreamReader::StartElement:
            rootSeen = true;
            htmlRoot = reader.name().compare(u"html", Qt::CaseInsensitive) == 0;
            break;
        default:
            break;
        }
    }
    if (declaresEntities)
        return QStringLiteral("the answer declares entities, which no card's info has (%1)")
            .arg(shown(bytes));
    while (!reader.atEnd())
        reader.readNext();
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
    if (bytes.trimmed().isEmpty())
        return QStringLiteral("the answer is only white space");
    if (isWebPage(bytes))
        return QStringLiteral("the answer is an HTML page, not an info file (%1)")
            .arg(shown(bytes));
    return {};
}

// Web pages begin with their document type or their root element, after white space, an XML
// declaration or comments at most, in whatever encoding the server writes them.
bool isWebPage(const QByteArray& bytes)
{
    const QString text = startAsText(bytes);
    const QStringView start = pastProlog(text);
    for (const QStringView html : {u"<!doctype html", u"<html", u"<head", u"<body"}) {
        if (start.startsWith(html, Qt::CaseInsensitive))
            return true;
    }
    return false;
}
