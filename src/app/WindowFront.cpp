#include "app/WindowFront.h"

#include "app/CheckValue.h"
#include "app/HeldUpdates.h"
#include "app/MessageBox.h"
#include "cards/AssetKinds.h"
#include "platform/EventPump.h"
#include "run/UpdateRun.h"
#include "ui_Form1.h"

WindowFront::WindowFront(QWidget& window, Ui::Form1& ui) : m_window(window), m_ui(ui)
{
    for (const AssetKind& kind : assetKinds())
        m_kindBoxes.push_back(window.findChild<QCheckBox*>(QString::fromLatin1(kind.box)));
}

void WindowFront::clearProgress()
{
    holdUntilShown(m_ui.ProgressBar1, [] {});
    m_ui.ProgressBar1->reset();
    m_ui.ProgressBar1->setFormat(QStringLiteral("%v of %m cards"));
    m_ui.ProgressBar1->setTextVisible(false);
}

int WindowFront::kindValue(std::size_t kind) const
{
    return checkValue(m_kindBoxes.at(kind));
}

bool WindowFront::allCardsChosen() const
{
    return m_ui.oWhat_0->isChecked();
}

bool WindowFront::oneCardChosen() const
{
    return m_ui.oWhat_1->isChecked();
}

QString WindowFront::oneCardName() const
{
    return m_ui.Text3->text();
}

bool WindowFront::overwrite() const
{
    return m_ui.oHow_1->isChecked();
}

QString WindowFront::keyCode() const
{
    return m_ui.tKEY->text();
}

QString WindowFront::userName() const
{
    return m_ui.tUSERNAME->text();
}

QString WindowFront::dataPath() const
{
    return m_ui.tDATA->text();
}

void WindowFront::lockControls()
{
    m_ui.Command1->setEnabled(false);
    m_ui.Command3->setEnabled(false);
    m_ui.Check1->setEnabled(false);
}

void WindowFront::showDataPath(const QString& path)
{
    m_ui.tDATA->setText(path);
}

void WindowFront::showCard(const QString& card)
{
    holdText(m_ui.Text3, card);
}

void WindowFront::showSize(const QString& size)
{
    holdText(m_ui.Text1, size);
}

void WindowFront::showStatus(const QString& text)
{
    holdText(m_ui.Text2, text);
}

void WindowFront::showProgress(int done, int total, const QString& text)
{
    holdUntilShown(m_ui.ProgressBar1, [bar = m_ui.ProgressBar1, done, total, text] {
        bar->setTextVisible(true);
        // A range of 0 to 0 would turn the bar into a busy indicator.
        bar->setRange(0, qMax(total, 1));
        bar->setValue(done);
        bar->setFormat(text);
    });
}

void WindowFront::showRunEnd(const QString& text)
{
    m_ui.Text2->setText(text);
}

void WindowFront::showDone()
{
    m_ui.Command1->setText(QString::fromUtf16(kDoneText));
}

void WindowFront::tell(const QString& text)
{
    MessageBox::show(&m_window, text);
}

void WindowFront::unlockReset()
{
    m_ui.Command2->setEnabled(true);
}

void WindowFront::giveTurn()
{
    pumpEvents(&showHeldUpdates);
}

void WindowFront::showHeld()
{
    showHeldUpdates();
}
