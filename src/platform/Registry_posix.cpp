#include "platform/FilesPrivate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>

namespace {

// A registry file this large is no user's: it is not read at all.
constexpr qint64 kMaxFileSize = qint64(256) << 20;
constexpr qint64 kMaxLineLength = 64 * 1024;

// The text between the quotes that start `text` at `from`, with Wine's escapes undone (\\, \",
// \n and the like, \xNNNN); none where the quotes do not close. `end` is set past the closing
// quote.
std::optional<QString> quoted(const QString& text, qsizetype from, qsizetype& end)
{
    if (from >= text.size() || text[from] != u'"')
        return std::nullopt;
    QString value;
    for (qsizetype i = from + 1; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'"') {
            end = i + 1;
            return value;
        }
        if (c != u'\\' || i + 1 >= text.size()) {
            value += c;
            continue;
        }
        const QChar escaped = text[++i];
        if (escaped == u'x') {
            qsizetype digits = 0;
            uint code = 0;
            while (digits < 4 && i + 1 < text.size() && isxdigit(text[i + 1].toLatin1())) {
                code = code * 16 + uint(QString(text[++i]).toUInt(nullptr, 16));
                ++digits;
            }
            value += digits ? QChar(char16_t(code)) : QChar(u'x');
        } else {
            const QString controls = QStringLiteral("abefnrtv0");
            const char16_t codes[] = {7, 8, 27, 12, 10, 13, 9, 11, 0};
            const qsizetype control = controls.indexOf(escaped);
            value += control >= 0 ? QChar(codes[control]) : escaped;
        }
    }
    return std::nullopt;
}

} // namespace

CardApplicationValues registeredValues()
{
    CardApplicationValues values;
    const QString prefix =
        qEnvironmentVariable("WINEPREFIX", QDir::homePath() + QStringLiteral("/.wine"));
    const QFileInfo info(prefix + QStringLiteral("/user.reg"));
    // A pipe or a device in its place is never opened: it could hold the window up.
    if (!info.isFile() || info.size() > kMaxFileSize)
        return values;
    QFile file(info.filePath());
    if (!file.open(QIODevice::ReadOnly))
        return values;
    // Key names are written with their "\" doubled: [Software\\Kelvo\\zumi\\DLM] 1700000000
    const QString section = QStringLiteral(R"([Software\\Kelvo\\zumi\\DLM])");
    bool inSection = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine(kMaxLineLength)).trimmed();
        if (line.startsWith(u'[')) {
            inSection = line.section(u' ', 0, 0).compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        qsizetype end = 0;
        const std::optional<QString> name = inSection ? quoted(line, 0, end) : std::nullopt;
        if (!name || line.mid(end, 1) != u"=")
            continue;
        // Only plain strings: "name"="value"; str(2):, dword: and hex: values are not.
        qsizetype valueEnd = 0;
        const std::optional<QString> value = quoted(line, end + 1, valueEnd);
        if (!value || valueEnd != line.size())
            continue;
        if (name->compare(QStringLiteral("key"), Qt::CaseInsensitive) == 0)
            values.key = *value;
        else if (name->compare(QStringLiteral("username"), Qt::CaseInsensitive) == 0)
            values.userName = *value;
    }
    return values;
}
