#include "SampleCardServer.h"
#include "TestSupport.h"
#include "WindowDriver.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

#include <memory>

// What the window does outside the body of a run: start-up, confirmation, scope and RESET.
class tst_WindowBehaviour : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startUpComposesInstructionsAndLocksButtons();
    void confirmationUnlocksAndLocks();
    void scopeShowsAndHidesTheCardBox();
    void buttonStatesThroughARun();
    void resetAfterRefusalNeedsANewTick();
    void refusalShowsARealModalBox();

private:
    struct Buttons
    {
        bool command1;
        bool command3;
        bool check1;
        bool command2;
        bool ticked;
        QString caption;
    };
    static Buttons buttons(const WindowDriver& driver)
    {
        return {driver.button("Command1")->isEnabled(), driver.button("Command3")->isEnabled(),
                driver.box("Check1")->isEnabled(),      driver.button("Command2")->isEnabled(),
                driver.box("Check1")->isChecked(),      driver.text("Command1")};
    }
    static void checkState(const WindowDriver& driver, const Buttons& expected)
    {
        const Buttons actual = buttons(driver);
        QCOMPARE(actual.command1, expected.command1);
        QCOMPARE(actual.command3, expected.command3);
        QCOMPARE(actual.check1, expected.check1);
        QCOMPARE(actual.command2, expected.command2);
        QCOMPARE(actual.ticked, expected.ticked);
        QCOMPARE(actual.caption, expected.caption);
    }

    std::unique_ptr<WorkFolder> m_work;
    std::unique_ptr<SampleCardServer> m_server;
    std::unique_ptr<WindowDriver> m_driver;
};

namespace {
const QString kUpdate = "Update KX Card Data";
}

void tst_WindowBehaviour::init()
{
    m_work = std::make_unique<WorkFolder>();
    m_server = std::make_unique<SampleCardServer>();
    m_driver = std::make_unique<WindowDriver>(QString::fromStdString(m_server->origin()));
    m_driver->type("tDATA", m_work->path());
}

void tst_WindowBehaviour::cleanup()
{
    m_driver.reset();
    m_server.reset();
    m_work.reset();
}

void tst_WindowBehaviour::startUpComposesInstructionsAndLocksButtons()
{
    checkState(*m_driver, {false, false, true, false, false, kUpdate});
    QCOMPARE(m_driver->text("Label1"),
             QString("Use the Picture below as a guide.\r\n"
                     "open regedit: HKCU\\Software\\Kelvo\\zumi\\DLM\r\n"
                     "copy the Values from key and username. store them in the boxes below"));
    QCOMPARE(
        m_driver->text("Label7"),
        QString("\r\n"
                "   Open registry editor and gather the required values. Type or copy them "
                "into the boxes.\r\n"
                "   Enter the path to your DATA folder and Make sure it ends with a \\ \r\n"
                "   This is a DUMB program and it relys on you filling in your correct "
                "info.\r\n"
                "   Then place check marks in What to get boxes.\r\n"
                "   For a Full Collection to get everything on a 10Mb speed it is 2 hours.\r\n"
                "   The PNG's take up about 400MB space. make sure you have the xtra space.\r\n"
                "   Make sure ALL is correct before you press the button."));
    QCOMPARE(m_driver->text("Text1"), QString("0"));
    QCOMPARE(m_driver->text("Text2"), QString());
}

void tst_WindowBehaviour::confirmationUnlocksAndLocks()
{
    QCheckBox* check1 = m_driver->box("Check1");
    QTest::mouseClick(check1, Qt::LeftButton, {}, QPoint(6, check1->height() / 2));
    checkState(*m_driver, {true, true, true, false, true, kUpdate});
    QTest::mouseClick(check1, Qt::LeftButton, {}, QPoint(6, check1->height() / 2));
    checkState(*m_driver, {false, false, true, false, false, kUpdate});

    // A grayed value set by the program locks the buttons too.
    check1->click();
    check1->setCheckState(Qt::PartiallyChecked);
    QVERIFY(!m_driver->button("Command1")->isEnabled());
    QVERIFY(!m_driver->button("Command3")->isEnabled());
    check1->setCheckState(Qt::Checked);
    QVERIFY(m_driver->button("Command1")->isEnabled());
}

void tst_WindowBehaviour::scopeShowsAndHidesTheCardBox()
{
    QWidget* text3 = m_driver->control("Text3");
    QWidget* label8 = m_driver->control("Label8");
    m_driver->choose("oWhat_1");
    QVERIFY(text3->isVisible() && label8->isVisible());
    m_driver->choose("oWhat_1"); // already selected: stays as it is
    QVERIFY(text3->isVisible() && label8->isVisible());
    m_driver->type("Text3", "b0042");
    m_driver->choose("oWhat_0");
    QVERIFY(!text3->isVisible() && !label8->isVisible());
    m_driver->choose("oWhat_0");
    QVERIFY(!text3->isVisible());
    m_driver->choose("oWhat_1");
    QCOMPARE(m_driver->text("Text3"), QString("b0042"));
}

void tst_WindowBehaviour::buttonStatesThroughARun()
{
    writeBytes(m_work->file("a0001/a0001c.jpg"), "short");
    m_driver->box("Check1")->click();
    checkState(*m_driver, {true, true, true, false, true, kUpdate}); // Ready

    // Running: seen from inside the run, when the card update first shows a status.
    std::optional<Buttons> running;
    QObject::connect(m_driver->edit("Text2"), &QLineEdit::textChanged, m_driver->edit("Text2"),
                     [&] {
                         if (!running)
                             running = buttons(*m_driver);
                     });
    m_driver->button("Command1")->click();
    QVERIFY(running);
    QCOMPARE(running->command1, false);
    QCOMPARE(running->command3, false);
    QCOMPARE(running->check1, false);
    QCOMPARE(running->command2, false);
    QCOMPARE(running->ticked, true);

    checkState(*m_driver, {false, false, false, true, true, "DONE !"}); // Done
    const QString text1 = m_driver->text("Text1");
    m_driver->pressReset();
    checkState(*m_driver, {false, false, true, false, false, kUpdate}); // Unconfirmed
    QCOMPARE(m_driver->text("Text2"), QString());
    QCOMPARE(m_driver->text("Text1"), text1); // RESET leaves the rest alone
    QCOMPARE(m_driver->text("Text3"), QString("a0001"));
    m_driver->box("Check1")->click();
    checkState(*m_driver, {true, true, true, false, true, kUpdate});
}

void tst_WindowBehaviour::resetAfterRefusalNeedsANewTick()
{
    MessageBoxRecorder boxes;
    m_driver->tickOnly({});
    m_driver->runUpdate();
    checkState(*m_driver, {false, false, false, true, true, "DONE !"});
    m_driver->pressReset();
    checkState(*m_driver, {false, false, true, false, false, kUpdate});
}

void tst_WindowBehaviour::refusalShowsARealModalBox()
{
    m_driver->tickOnly({});
    QString text, caption;
    QMessageBox::Icon icon = QMessageBox::Warning;
    int buttonCount = 0;
    bool seen = false;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, &answer, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen = true;
        text = box->text();
        caption = box->windowTitle();
        icon = box->icon();
        buttonCount = int(box->buttons().size());
        box->button(QMessageBox::Ok)->click();
    });
    answer.start(20);
    m_driver->runUpdate();
    answer.stop();

    QVERIFY(seen);
    QCOMPARE(text, QString("Nothing to GET. Please Check what to Get!"));
    QCOMPARE(caption, QString("Riz-OD-Odor1"));
    QCOMPARE(icon, QMessageBox::NoIcon);
    QCOMPARE(buttonCount, 1);
    QCOMPARE(m_driver->text("Command1"), QString("DONE !"));
}

QTEST_MAIN(tst_WindowBehaviour)
#include "tst_windowbehaviour.moc"
