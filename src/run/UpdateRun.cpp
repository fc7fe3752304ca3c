#include "run/UpdateRun.h"

#include "cards/UpdateCard.h"
#include "platform/CheckValue.h"
#include "platform/Clock.h"
#include "platform/EventPump.h"
#include "platform/Files.h"
#include "platform/HeldUpdates.h"
#include "platform/MessageBox.h"
#include "run/RunLog.h"
#include "run/RunProgress.h"
#include "ui_Form1.h"

#include <cstdint>

namespace {

const QString kDone = QStringLiteral("DONE !");

Status stopIfClosing(const RunContext& run)
{
    return run.stopRequested ? Status::failure(windowClosedReason()) : Status();
}

const QString kCardPatternTail = QStringLiteral("????");

// The card folders the walk will visit, for the progress bar.
int countCardFolders(const QString& dataPath)
{
    int folders = 0;
    for (const char letter : {'A', 'B', 'C', 'D'})
        folders += countFolders(dataPath + QChar(letter) + kCardPatternTail);
    return folders;
}

// The logged part of a run: the header, the cards of "A" to "D" and then the one card, the
// footer.
Status updateCards(RunContext& run)
{
    Ui::Form1& ui = run.ui;
    FormState& state = run.state;

    if (Status opened = run.log.open(); !opened)
        return opened;
    state.sStarted = Clock::stamp();
    if (Status written = run.log.writeRunHeader(state.sStarted); !written)
        return written;
    run.progress.start();

    if (ui.oWhat_0->isChecked()) {
        run.progress.addCards(countCardFolders(state.sDataPath));
        for (std::int16_t iLetter = 'A'; iLetter <= 'D'; ++iLetter) {
            const QString sLetter = QChar(iLetter);
            const QString sPattern = state.sDataPath + sLetter + kCardPatternTail;
            FolderListing listing(sPattern);
            QString sCard = listing.next();
            while (!sCard.isEmpty()) {
                if (sCard != u"." && sCard != u"..") {
                    const Result<int> attributes = entryAttributes(state.sDataPath + sCard);
                    if (!attributes)
                        return Status::failure(
                            QStringLiteral("could not read %1: %2")
                                .arg(state.sDataPath + sCard, attributes.error()));
                    if (attributes.value() & kFolderAttribute) {
                        if (Status written = run.log.writeCardNameLine(sCard); !written)
                            return written;
                        if (Status updated = UpdateCard(run, sCard); !updated)
                            return updated;
                        run.progress.cardDone();
                    }
                }
                sCard = listing.next();
                pumpEvents();
                if (Status going = stopIfClosing(run); !going)
                    return going;
            }
        }
    }

    if (ui.oWhat_1->isChecked()) {
        showHeldUpdates(); // the card the walk showed last is the one read here
        const QString sCard = trimSpaces(ui.Text3->text());
        run.progress.addCards(1);
        if (Status updated = UpdateCard(run, sCard); !updated)
            return updated;
        run.progress.cardDone();
    }

    state.sFinished = Clock::stamp();
    if (Status written = run.log.writeRunFooter(state.sStarted, state.sFinished, state.cTotalBytes);
        !written)
        return written;
    return run.log.close();
}

void reportStop(RunContext& run, QString reason)
{
    if (run.log.isOpen()) {
        if (Status closed = run.log.closeStopped(Clock::stamp(), reason); !closed)
            reason +=
                QStringLiteral(" (and the run log could not be completed: %1)").arg(closed.error());
    }
    run.ui.Text2->setText(QStringLiteral("Update stopped: ") + reason);
    if (!run.stopRequested)
        MessageBox::show(run.window, run.ui.Text2->text());
}

} // namespace

void Command1_Click(RunContext& run)
{
    Ui::Form1& ui = run.ui;
    FormState& state = run.state;

    ui.Command1->setEnabled(false);
    ui.Command3->setEnabled(false);
    ui.Check1->setEnabled(false);
    pumpEvents();

    state.cTotalBytes = Currency();
    state.sKey = trimSpaces(ui.tKEY->text());
    state.sUserName = trimSpaces(ui.tUSERNAME->text());
    state.sDataPath = trimSpaces(ui.tDATA->text());
    if (!state.sDataPath.endsWith(u'\\')) {
        state.sDataPath += u'\\';
        ui.tDATA->setText(state.sDataPath);
        pumpEvents();
    }

    const int boxesTicked = checkValue(ui.cbCI) + checkValue(ui.cbTI) + checkValue(ui.cbCP) +
                            checkValue(ui.cbCX) + checkValue(ui.cbINF);
    if (boxesTicked == 0) {
        ui.Text2->setText(QStringLiteral("Nothing to GET. Please Check what to Get!"));
        if (!run.stopRequested)
            MessageBox::show(run.window, ui.Text2->text());
        ui.Command1->setText(kDone);
    } else {
        Status updated = stopIfClosing(run);
        if (updated)
            updated = updateCards(run);
        run.progress.finish();
        showHeldUpdates(); // the last card's texts, before the run's closing ones
        if (!updated) {
            reportStop(run, updated.error());
        } else {
            ui.Text2->setText(kDone);
            ui.Command1->setText(kDone);
        }
    }

    ui.Command2->setEnabled(true);
    pumpEvents();
}
