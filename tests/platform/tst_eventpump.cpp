#include "platform/EventPump.h"
#include "platform/HeldUpdates.h"

#include <QLineEdit>

#include <QTimer>
#include <QtTest>

class tst_EventPump : public QObject
{
    Q_OBJECT

private slots:
    void passesAtMostOncePerInterval();
    void heldChangesAreMadeAtTheNextPassInOrder();
    void heldChangesAreMadeBeforeTheWindowPaints();
};

void tst_EventPump::passesAtMostOncePerInterval()
{
    int handled = 0;
    const auto post = [&] {
        QTimer::singleShot(0, this, [&] { ++handled; });
    };

    setPumpInterval(std::chrono::milliseconds(0));
    post();
    pumpEvents();
    QCOMPARE(handled, 1);

    // Long intervals, so that a slow machine cannot blur what is too soon.
    setPumpInterval(std::chrono::seconds(10));
    post();
    pumpEvents(); // too soon after the last pass
    QCOMPARE(handled, 1);
    QTest::qWait(0);
    QCOMPARE(handled, 2);

    setPumpInterval(std::chrono::milliseconds(20));
    QThread::msleep(30);
    post();
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

void tst_EventPump::heldChangesAreMadeAtTheNextPassInOrder()
{
    QLineEdit first;
    QLineEdit second;
    QStringList changes;
    connect(&first, &QLineEdit::textChanged, this,
            [&](const QString& text) { changes << "first " + text; });
    connect(&second, &QLineEdit::textChanged, this,
            [&](const QString& text) { changes << "second " + text; });

    holdText(&first, "1");
    holdText(&second, "2");
    holdText(&first, "3"); // replaces the held "1" and keeps its place
    QVERIFY(changes.isEmpty());
    QCOMPARE(first.text(), QString());

    setPumpInterval(std::chrono::milliseconds(0));
    pumpEvents();
    setPumpInterval(kDefaultPumpInterval);
    QCOMPARE(changes, QStringList({"first 3", "second 2"}));

    // A box gone before its turn is passed over.
    auto gone = std::make_unique<QLineEdit>();
    holdText(gone.get(), "lost");
    gone.reset();
    holdText(&second, "4");
    showHeldUpdates();
    QCOMPARE(second.text(), QString("4"));
    showHeldUpdates();
    QCOMPARE(changes.size(), 3);
}

void tst_EventPump::heldChangesAreMadeBeforeTheWindowPaints()
{
    QWidget window;
    auto* status = new QLineEdit(&window);
    showHeldUpdatesBeforePainting(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QString painted;
    struct PaintSpy : QObject
    {
        QString* painted = nullptr;
        QLineEdit* box = nullptr;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Paint)
                *painted = box->text();
            return false;
        }
    } spy;
    spy.painted = &painted;
    spy.box = status;
    status->installEventFilter(&spy);

    holdText(status, "latest");
    window.repaint(); // a paint that no pump asked for
    QCOMPARE(painted, QString("latest"));
}

QTEST_MAIN(tst_EventPump)
#include "tst_eventpump.moc"
