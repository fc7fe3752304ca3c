#include "platform/EventPump.h"

#include <QTimer>
#include <QtTest>

class tst_EventPump : public QObject
{
    Q_OBJECT

private slots:
    void passesAtMostOncePerInterval();
};

void tst_EventPump::passesAtMostOncePerInterval()
{
    int handled = 0;
    const auto post = [&] {
        QTimer::singleShot(0, this, [&] { ++handled; });
    };

    QTest::qWait(20); // nothing pumped lately
    post();
    pumpEvents();
    QCOMPARE(handled, 1);

    post();
    pumpEvents(); // too soon after the last pass
    QCOMPARE(handled, 1);
    QTest::qWait(0);
    QCOMPARE(handled, 2);

    post();
    QThread::msleep(kDefaultPumpInterval.count() + 5);
    pumpEvents();
    QCOMPARE(handled, 3);

    setPumpInterval(std::chrono::milliseconds(0));
    post();
    pumpEvents();
    post();
    pumpEvents();
    QCOMPARE(handled, 5);
    setPumpInterval(kDefaultPumpInterval);
}

QTEST_GUILESS_MAIN(tst_EventPump)
#include "tst_eventpump.moc"
