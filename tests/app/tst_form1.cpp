#include "TestSupport.h"
#include "app/Form1.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <memory>

// The window as it is created: every control of the form with its place and first state.
class tst_Form1 : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void windowItself();
    void controls_data();
    void controls();
    void optionGroupsAreIndexed();
    void keyboardOrder();
    void pictureAndFonts();

private:
    std::unique_ptr<WorkFolder> m_work;
    std::unique_ptr<Form1> m_window;
};

void tst_Form1::init()
{
    m_work = std::make_unique<WorkFolder>();
    m_window = std::make_unique<Form1>("http://127.0.0.1:9", "http://127.0.0.1:9");
}

void tst_Form1::cleanup()
{
    m_window.reset();
    m_work.reset();
}

void tst_Form1::windowItself()
{
    QCOMPARE(m_window->objectName(), QString("Form1"));
    QCOMPARE(m_window->windowTitle(), QString("UpDate My KX Card Data Folder images"));
    QCOMPARE(m_window->size(), QSize(882, 586));
    QCOMPARE(m_window->minimumSize(), QSize(882, 586));
    QCOMPARE(m_window->maximumSize(), QSize(882, 586));
    QVERIFY(m_window->windowIcon().availableSizes().contains(QSize(48, 48)));
    QVERIFY(m_window->findChild<QObject*>("Inet1"));
}

void tst_Form1::controls_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<int>("value"); // check state 0/1, option selected 0/1, -1 where none

    const auto row = [](const char* name, const char* kind, const char* container,
                        const QString& text, int left, int top, int width, int height,
                        bool enabled = true, bool visible = true, int value = -1) {
        QTest::newRow(name) << QString(kind) << QString(container) << text
                            << QRect(left / 15, top / 15, width / 15, height / 15) << enabled
                            << visible << value;
    };
    row("Command1", "QPushButton", "Form1", "Update KX Card Data", 330, 120, 2160, 600, false);
    row("Command2", "QPushButton", "Form1", "RESET", 2580, 120, 1365, 600, false);
    row("Label2", "QLabel", "Form1", "value of key from registry: ", 285, 5520, 2400, 255);
    row("tKEY", "QLineEdit", "Form1", "KEYCODEPLACEHOLDER", 2745, 5490, 3960, 300);
    row("Label3", "QLabel", "Form1", "value of username from registry: ", 300, 5910, 2400, 255);
    row("tUSERNAME", "QLineEdit", "Form1", "USERNAME", 2745, 5880, 3960, 300);
    row("Label4", "QLabel", "Form1", "Path to your DATA Folder- must end with a \\  ", 735, 6300,
        1950, 465);
    row("tDATA", "QLineEdit", "Form1",
        "C:\\Documents and Settings\\NAME\\Application Data\\zumi\\Data\\", 2745, 6285, 6480, 300);
    row("Command3", "QPushButton", "Form1", "Save my Info", 6930, 5520, 1155, 435, false);
    row("Frame2", "QGroupBox", "Form1", "Instructions: ", 6525, 780, 6555, 4590);
    row("Frame1", "QGroupBox", "Form1", "Status Updates", 90, 6945, 12990, 1695);
    row("Frame3", "QGroupBox", "Frame2", "What to get: ", 105, 2040, 6300, 645);
    row("Frame4", "QGroupBox", "Frame2", "What Cards To Update: ", 105, 2790, 6300, 1275);
    row("Check1", "QCheckBox", "Frame2", "I read the Instructions and my Values are Correct", 120,
        4155, 3990, 285, true, true, 0);
    row("cbCI", "QCheckBox", "Frame3", "Card images", 135, 300, 1200, 210, true, true, 1);
    row("cbTI", "QCheckBox", "Frame3", "Thumb images", 1440, 300, 1395, 210, true, true, 1);
    row("cbINF", "QCheckBox", "Frame3", "woxinf + woxdld", 2835, 300, 1395, 210, true, true, 1);
    row("cbCP", "QCheckBox", "Frame3", "PNG's", 4440, 300, 795, 210, true, true, 0);
    row("cbCX", "QCheckBox", "Frame3", "XML's", 5250, 300, 750, 210, true, true, 0);
    row("oWhat_0", "QRadioButton", "Frame4", "Update All Cards", 150, 255, 1710, 285, true, true,
        1);
    row("oWhat_1", "QRadioButton", "Frame4", "Update One Card", 150, 810, 1590, 210, true, true, 0);
    row("Frame5", "QGroupBox", "Frame4", "How To Update: ", 1950, 120, 4170, 525);
    row("Label8", "QLabel", "Frame4", "What Card? Example: a0000", 1965, 810, 2235, 180, true,
        false);
    row("Text3", "QLineEdit", "Frame4", "a0001", 4125, 765, 750, 360, true, false);
    row("oHow_0", "QRadioButton", "Frame5", "Only Missing Files", 90, 210, 1605, 225, true, true,
        1);
    row("oHow_1", "QRadioButton", "Frame5", "OverWrite - Replace All", 2010, 195, 1980, 210, true,
        true, 0);
    row("Label5", "QLabel", "Frame1", "Size of file under test: ", 810, 300, 1965, 300);
    row("Text1", "QLineEdit", "Frame1", "0", 2835, 300, 6105, 300);
    row("Label6", "QLabel", "Frame1", "Progress:  ", 150, 690, 915, 375);
    row("Text2", "QLineEdit", "Frame1", "", 120, 1110, 12750, 375);
    row("ProgressBar1", "QProgressBar", "Frame1", QString(), 1140, 705, 11730, 300);
    // Captions filled at start-up; only their places are checked here.
    row("Label1", "QLabel", "Form1", QString(), 330, 1110, 6105, 870);
    row("Label7", "QLabel", "Frame2", QString(), 105, 255, 6300, 1680);
    row("Picture1", "QLabel", "Form1", QString(), 300, 2085, 6090, 3285);
}

void tst_Form1::controls()
{
    QFETCH(QString, kind);
    QFETCH(QString, container);
    QFETCH(QString, text);
    QFETCH(QRect, geometry);
    QFETCH(bool, enabled);
    QFETCH(bool, visible);
    QFETCH(int, value);

    QWidget* control = m_window->findChild<QWidget*>(QTest::currentDataTag());
    QVERIFY(control);
    QCOMPARE(control->metaObject()->className(), kind);
    QCOMPARE(control->parentWidget()->objectName(), container);
    QCOMPARE(control->geometry(), geometry);
    QCOMPARE(control->isEnabled(), enabled);
    QCOMPARE(!control->isHidden(), visible);

    QString shown;
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        shown = button->text();
    else if (auto* edit = qobject_cast<QLineEdit*>(control))
        shown = edit->text();
    else if (auto* group = qobject_cast<QGroupBox*>(control))
        shown = group->title();
    else if (auto* label = qobject_cast<QLabel*>(control))
        shown = label->text();
    if (!text.isNull())
        QCOMPARE(shown, text);

    if (auto* box = qobject_cast<QCheckBox*>(control))
        QCOMPARE(box->checkState(), value == 1 ? Qt::Checked : Qt::Unchecked);
    else if (auto* option = qobject_cast<QRadioButton*>(control))
        QCOMPARE(option->isChecked(), value == 1);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        QCOMPARE(edit->echoMode(), QLineEdit::Normal); // the key code shows in clear
        QVERIFY(!edit->isReadOnly());
        QCOMPARE(edit->maxLength(), std::numeric_limits<int>::max());
    }
    if (auto* button = qobject_cast<QPushButton*>(control))
        QVERIFY(!button->isDefault() && !button->autoDefault());
    if (auto* bar = qobject_cast<QProgressBar*>(control)) {
        // Idle and empty outside a run.
        QVERIFY(!bar->isTextVisible());
        QCOMPARE(bar->value(), bar->minimum() - 1);
    }
}

void tst_Form1::optionGroupsAreIndexed()
{
    for (const char* name : {"oWhat", "oHow"}) {
        auto* group = m_window->findChild<QButtonGroup*>(name);
        QVERIFY(group);
        QCOMPARE(group->button(0)->objectName(), QString(name) + "_0");
        QCOMPARE(group->button(1)->objectName(), QString(name) + "_1");
        QVERIFY(group->exclusive());
        QCOMPARE(group->checkedId(), 0);
    }
}

void tst_Form1::keyboardOrder()
{
    const QStringList expected{"Command1", "tKEY",    "tUSERNAME", "tDATA",  "Text2",
                               "Text1",    "Check1",  "Command2",  "cbCI",   "cbTI",
                               "cbCP",     "cbCX",    "Text3",     "oHow_1", "oHow_0",
                               "oWhat_1",  "oWhat_0", "Command3",  "cbINF"};
    QStringList order;
    QWidget* widget = m_window->findChild<QWidget*>("Command1");
    do {
        if (expected.contains(widget->objectName()) && !order.contains(widget->objectName()))
            order << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget->objectName() != "Command1");
    QCOMPARE(order, expected);
    QCOMPARE(m_window->findChild<QWidget*>("Picture1")->focusPolicy(), Qt::NoFocus);
}

void tst_Form1::pictureAndFonts()
{
    auto* picture = m_window->findChild<QLabel*>("Picture1");
    QCOMPARE(picture->pixmap().size(), QSize(400, 221));
    QVERIFY(!picture->hasScaledContents());

    const QFont cardFont = m_window->findChild<QWidget*>("Text3")->font();
    QCOMPARE(cardFont.family(), QString("Arial"));
    QCOMPARE(cardFont.pointSizeF(), 9.75);
    QVERIFY(cardFont.bold());
    // Every other control keeps the window's font.
    QCOMPARE(m_window->findChild<QWidget*>("tKEY")->font(), m_window->font());
}

QTEST_MAIN(tst_Form1)
#include "tst_form1.moc"
