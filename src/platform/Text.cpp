#include "platform/Text.h"

#include <cmath>
#include <limits>

QString trimSpaces(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == u' ')
        ++first;
    while (last > first && text[last - 1] == u' ')
        --last;
    return text.mid(first, last - first);
}

QString oneLineOf(const QString& text, qsizetype maxLength)
{
    QString line = text;
    line.removeIf([](QChar c) {
        return !c.isPrint() || c.category() == QChar::Separator_Line ||
               c.category() == QChar::Separator_Paragraph;
    });
    return line.trimmed().left(maxLength);
}

QString sizeText(double size)
{
    if (std::trunc(size) == size && std::fabs(size) < 9.0e15)
        return QString::number(static_cast<qint64>(size));
    QString text = QString::number(size, 'f', 10);
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        text.chop(1);
    return text;
}

namespace {
constexpr std::int64_t kUnitsPerWhole = 10000;
}

bool Currency::add(double value)
{
    const double scaled = std::nearbyint(value * kUnitsPerWhole);
    // 2^63 is exactly representable; anything at or beyond it cannot be held.
    constexpr double kLimit = 9223372036854775808.0;
    if (!std::isfinite(scaled) || scaled >= kLimit || scaled < -kLimit)
        return false;
    const auto units = static_cast<std::int64_t>(scaled);
    std::int64_t sum = 0;
    if (__builtin_add_overflow(m_units, units, &sum))
        return false;
    m_units = sum;
    return true;
}

QString Currency::text() const
{
    const bool negative = m_units < 0;
    // Work on the magnitude unsigned, so that the smallest value has one too.
    const std::uint64_t magnitude =
        negative ? std::uint64_t(0) - static_cast<std::uint64_t>(m_units) : m_units;
    QString text = QString::number(magnitude / kUnitsPerWhole);
    if (const std::uint64_t fraction = magnitude % kUnitsPerWhole) {
        QString decimals = QStringLiteral("%1").arg(fraction, 4, 10, QLatin1Char('0'));
        while (decimals.endsWith(u'0'))
            decimals.chop(1);
        text += u'.' + decimals;
    }
    return negative ? u'-' + text : text;
}
