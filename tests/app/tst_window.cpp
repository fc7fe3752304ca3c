#include "TestSupport.h"
#include "WindowDriver.h"

#include <QAccessible>
#include <QApplication>
#include <QCompleter>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

class tst_Window : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void buttonsFollowTheConfirmationAndReset();
    void oneCardBoxShowsOnlyInOneCardMode();
    void refusalIsShownInARealModalBox();
    void captionsFitAndBoxesAreNamedByTheirPrompts();
    void dataFolderBoxCompletesFolderNames();

private:
    QStringList enabled() const
    {
        QStringList names;
        for (const char* name : {"Command1", "Command2", "Command3", "Check1"})
            if (m_driver->control(name)->isEnabled())
                names << name;
        return names;
    }

    std::unique_ptr<WorkFolder> m_work;
    std::unique_ptr<WindowDriver> m_driver;
};

void tst_Window::init()
{
    m_work = std::make_unique<WorkFolder>();
    m_driver = std::make_unique<WindowDriver>();
}

void tst_Window::cleanup()
{
    m_driver.reset();
    m_work.reset();
}

void tst_Window::buttonsFollowTheConfirmationAndReset()
{
    QCOMPARE(enabled(), QStringList{"Check1"});
    m_driver->box("Check1")->click();
    QCOMPARE(enabled(), QStringList({"Command1", "Command3", "Check1"}));
    m_driver->box("Check1")->setChecked(false); // the program's own change counts too
    QCOMPARE(enabled(), QStringList{"Check1"});

    MessageBoxRecorder boxes;
    m_driver->tickOnly({});
    m_driver->runUpdate();
    QCOMPARE(enabled(), QStringList{"Command2"});
    QCOMPARE(m_driver->text("Command1"), QString("DONE !"));
    m_driver->pressReset();
    QCOMPARE(enabled(), QStringList{"Check1"});
    QVERIFY(!m_driver->box("Check1")->isChecked());
    QCOMPARE(m_driver->text("Command1"), QString("Update KX Card Data"));
    QCOMPARE(m_driver->text("Text2"), QString());
}

void tst_Window::oneCardBoxShowsOnlyInOneCardMode()
{
    QWidget* card = m_driver->control("Text3");
    QVERIFY(!card->isVisible() && !m_driver->control("Label8")->isVisible());
    m_driver->choose("oWhat_1");
    QVERIFY(card->isVisible() && m_driver->control("Label8")->isVisible());
    m_driver->type("Text3", "b0042");
    m_driver->choose("oWhat_0");
    QVERIFY(!card->isVisible() && !m_driver->control("Label8")->isVisible());
    m_driver->choose("oWhat_1");
    QCOMPARE(m_driver->text("Text3"), QString("b0042"));
}

void tst_Window::refusalIsShownInARealModalBox()
{
    QString text;
    QString caption;
    // The box is looked for until it is there: the run pumps events before it shows one.
    QTimer answer;
    connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            answer.stop();
            text = box->text();
            caption = box->windowTitle();
            box->accept();
        }
    });
    answer.start(10);
    m_driver->tickOnly({});
    m_driver->runUpdate();
    QCOMPARE(text, QString("Nothing to GET. Please Check what to Get!"));
    QCOMPARE(caption, QString("Riz-OD-Odor1"));
    QVERIFY(!QFileInfo::exists("KX-GET-CardDataUpdates.txt"));
}

void tst_Window::captionsFitAndBoxesAreNamedByTheirPrompts()
{
    // With the installed fonts every caption fits its control whole: a check box or option
    // with its mark, a button's text inside its frame. Wine draws offscreen without Arial's
    // metrics; Linux checks them with Liberation Sans, which has the same.
    for (QAbstractButton* button : m_driver->window().findChildren<QAbstractButton*>()) {
        const int needed = qobject_cast<QPushButton*>(button)
                               ? button->fontMetrics().horizontalAdvance(button->text()) + 8
                               : button->sizeHint().width();
        QVERIFY2(runsOnWine() || needed <= button->width(),
                 qPrintable(QString("%1 needs %2 pixels, has %3")
                                .arg(button->objectName())
                                .arg(needed)
                                .arg(button->width())));
    }

    // The keyboard starts at the guide picture, and each box is announced by its prompt.
    m_driver->window().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&m_driver->window()));
    QCOMPARE(QApplication::focusWidget(), m_driver->control("Picture1"));
    for (const auto& [box, prompt] : {std::pair{"tKEY", "value of key from registry: "},
                                      std::pair{"tUSERNAME", "value of username from registry: "},
                                      std::pair{"Text3", "What Card? Example: a0000"}}) {
        QAccessibleInterface* accessible =
            QAccessible::queryAccessibleInterface(m_driver->control(box));
        QCOMPARE(accessible->text(QAccessible::Name).trimmed(), QString(prompt).trimmed());
    }
}

void tst_Window::dataFolderBoxCompletesFolderNames()
{
    for (const char* folder : {"Cards-One", "Cards-Two", "cards-lower"})
        QDir().mkpath(m_work->file(folder));
    writeBytes(m_work->file("Cards-File"), "not a folder");
    const QString typed = QDir::toNativeSeparators(m_work->path() + "/") + "Cards-";
    QLineEdit* box = m_driver->edit("tDATA");
    m_driver->window().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&m_driver->window()));
    box->setFocus();
    m_driver->type("tDATA", typed.chopped(1));
    QTest::keyClicks(box, "-");
    QCompleter* completer = box->completer();
    // Folders only, in the system's case rule: "cards-lower" is one of them on Windows.
    QTRY_COMPARE(completer->completionCount(), QDir::separator() == u'\\' ? 3 : 2);
    QCOMPARE(box->text(), typed); // until a completion is taken
}

QTEST_MAIN(tst_Window)
#include "tst_window.moc"
