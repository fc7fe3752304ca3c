#include "TestSupport.h"
#include "platform/Clock.h"
#include "platform/Text.h"

#include <QRegularExpression>
#include <QtTest>

class tst_Text : public QObject
{
    Q_OBJECT

private slots:
    void trimRemovesSpacesOnly();
    void sizesArePlainDigits();
    void totalAddsAndRefusesOverflow();
    void stampsHaveTheirFixedForm();
};

void tst_Text::trimRemovesSpacesOnly()
{
    QCOMPARE(trimSpaces("  a0001  "), QString("a0001"));
    QCOMPARE(trimSpaces("   "), QString(""));
    QCOMPARE(trimSpaces("\ta b\t"), QString("\ta b\t"));
    QCOMPARE(trimSpaces(" key with  inner spaces "), QString("key with  inner spaces"));
}

void tst_Text::sizesArePlainDigits()
{
    QCOMPARE(sizeText(0), QString("0"));
    QCOMPARE(sizeText(48213), QString("48213"));
    QCOMPARE(sizeText(1234567890123.0), QString("1234567890123"));
    QCOMPARE(sizeText(1e16), QString("10000000000000000"));
}

void tst_Text::totalAddsAndRefusesOverflow()
{
    Currency total;
    QCOMPARE(total.text(), QString("0"));
    QVERIFY(total.add(48213));
    QVERIFY(total.add(1187));
    QVERIFY(total.add(0));
    QCOMPARE(total.text(), QString("49400"));
    QVERIFY(total.add(0.5));
    QCOMPARE(total.text(), QString("49400.5"));

    Currency nearLimit = Currency::fromUnits(std::numeric_limits<std::int64_t>::max() - 5);
    QVERIFY(!nearLimit.add(1));
    QCOMPARE(nearLimit.units(), std::numeric_limits<std::int64_t>::max() - 5);
    QVERIFY(!nearLimit.add(1e300));
    QCOMPARE(Currency::fromUnits(-12345678).text(), QString("-1234.5678"));
}

void tst_Text::stampsHaveTheirFixedForm()
{
    const QRegularExpression form("^\\d\\d-\\d\\d-\\d{4} \\d\\d:\\d\\d:\\d\\d$");
    QVERIFY(form.match(Clock::stamp()).hasMatch());
    QCOMPARE(Clock::stamp().size(), 19);
    {
        FixedClock clock({QDateTime(QDate(2024, 6, 1), QTime(21, 5, 9)),
                          QDateTime(QDate(2024, 12, 31), QTime(7, 0, 0))});
        QCOMPARE(Clock::stamp(), QString("06-01-2024 21:05:09"));
        QCOMPARE(Clock::dateString(), QString("12-31-2024"));
        QCOMPARE(Clock::timeString(), QString("07:00:00"));
    }
    QVERIFY(Clock::now().date().year() >= 2024);
}

QTEST_GUILESS_MAIN(tst_Text)
#include "tst_text.moc"
