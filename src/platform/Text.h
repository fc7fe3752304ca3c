#pragma once

#include <QString>

#include <cstdint>

// Removes leading and trailing space characters (only " ", not tabs or other blanks).
QString trimSpaces(const QString& text);

// Text another computer wrote, made fit for one line of the window or the run log: characters
// that are not printable or that break lines (line and paragraph separators too) removed,
// trimmed, and at most maxLength characters kept.
QString oneLineOf(const QString& text, qsizetype maxLength);

// A size in bytes as plain decimal digits: no sign for whole non-negative values, no
// separators, no exponent and no decimal point for a whole number.
QString sizeText(double size);

// A fixed-point amount with four decimal places, the run's total of bytes written. It holds
// what a signed 64-bit count of ten-thousandths holds.
class Currency
{
public:
    Currency() = default;

    // Adds the value; an addition that would overflow leaves the amount unchanged and
    // returns false.
    bool add(double value);
    // Plain digits of the whole part, and a decimal point only when there is a fraction.
    QString text() const;

private:
    std::int64_t m_units = 0;
};
