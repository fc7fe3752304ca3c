#include "platform/RegistryPrivate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cctype>
#include <cstring>
#include <optional>

namespace {

// A registry file this large is no user's: it is not read at all. A real one is a few MB; the
// largest one read is scanned in well under a second.
constexpr qint64 kMaxFileSize = qint64(64) << 20;
constexpr qsizetype kMaxLineLength = 64 * 1024;

// Where Wine keeps the user's registry: in $WINEPREFIX, or in ~/.wine when it is unset or
// empty. Wine refuses a prefix that is not an absolute path, so no card application runs
// under one: nothing is read then, rather than a file beside the working folder.
QString userRegistryFile()
{
    const QString prefix = qEnvironmentVariable("WINEPREFIX");
    if (prefix.isEmpty())
        return QDir::homePath() + QStringLiteral("/.wine/user.reg");
    if (!QDir::isAbsolutePath(prefix))
        return {};
    return prefix + QStringLiteral("/user.reg");
}

QByteArrayView trimmed(QByteArrayView line)
{
    while (!line.isEmpty() && std::isspace(static_cast<unsigned char>(line.front())))
        line = line.sliced(1);
    while (!line.isEmpty() && std::isspace(static_cast<unsigned char>(line.back())))
        line.chop(1);
    return line;
}

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
    const QString path = userRegistryFile();
    const QFileInfo info(path);
    // A pipe or a device in its place is never opened: it could hold the window up.
    if (path.isEmpty() || !info.isFile() || info.size() > kMaxFileSize)
        return values;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return values;
    // Read, not mapped: a file cut short while mapped would end the program. Scanned as bytes
    // in one pass: only the lines of the one key are decoded.
    const QByteArray read = file.read(kMaxFileSize);
    const QByteArrayView bytes(read);

    // Key names are written with their "\" doubled: [Software\\Kelvo\\zumi\\DLM] 1700000000
    constexpr char kSection[] = R"([Software\\Kelvo\\zumi\\DLM])";
    constexpr qsizetype kSectionLength = sizeof(kSection) - 1;
    bool inSection = false;
    for (qsizetype from = 0; from < bytes.size();) {
        const auto* newline = static_cast<const char*>(
            std::memchr(bytes.data() + from, '\n', size_t(bytes.size() - from)));
        const qsizetype to = newline ? newline - bytes.data() : bytes.size();
        const QByteArrayView line = trimmed(bytes.sliced(from, to - from));
        from = to + 1;
        if (line.startsWith('[')) {
            const qsizetype nameEnd = line.indexOf(' ');
            const QByteArrayView name = nameEnd < 0 ? line : line.first(nameEnd);
            inSection = name.size() == kSectionLength &&
                        qstrnicmp(name.data(), kSection, size_t(kSectionLength)) == 0;
            continue;
        }
        // Wine writes names as they are but for characters past ASCII: only the two wanted
        // are decoded.
        const auto named = [&line](const char* prefix) {
            const auto length = qsizetype(std::strlen(prefix));
            return line.size() > length && qstrnicmp(line.data(), prefix, size_t(length)) == 0;
        };
        if (!inSection || !(named("\"key\"=") || named("\"username\"=")) ||
            line.size() > kMaxLineLength)
            continue;
        const QString text = QString::fromUtf8(line);
        qsizetype end = 0;
        const std::optional<QString> name = quoted(text, 0, end);
        if (!name || text.mid(end, 1) != u"=")
            continue;
        // Only plain strings: "name"="value"; str(2):, dword: and hex: values are not.
        qsizetype valueEnd = 0;
        const std::optional<QString> value = quoted(text, end + 1, valueEnd);
        if (!value || valueEnd != text.size())
            continue;
        if (name->compare(QStringLiteral("key"), Qt::CaseInsensitive) == 0)
            values.key = *value;
        else if (name->compare(QStringLiteral("username"), Qt::CaseInsensitive) == 0)
            values.userName = *value;
    }
    return values;
}
