#include "run/UpdateRun.h"

#include "cards/AssetKinds.h"
#include "cards/FetchAhead.h"
#include "cards/UpdateCard.h"
#include "log/RunLog.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "run/RunProgress.h"

#include <QRegularExpression>

#include <cstdint>

namespace {

const QString kDone = QString::fromUtf16(kDoneText);
const QString kCardPatternTail = QStringLiteral("????");
// Card folders begin with one of these letters, and are visited in this order.
constexpr char kFirstCardLetter = 'A';
constexpr char kLastCardLetter = 'D';

// A name that can only stand for a folder directly inside the data folder, keeps the run log's
// lines whole, and means the same folder on every system. Windows reads some names as devices
// (NUL, COM1, ... with any extension) or as another file (a trailing dot or space is dropped,
// "name:x" is a stream of "name"); such a name is never a card's.
bool isCardFolderName(const QString& name)
{
    if (name.endsWith(u'.') || name.endsWith(u' ')) // "." and ".." too
        return false;
    const bool oddCharacter = std::any_of(name.begin(), name.end(), [](QChar c) {
        return c.unicode() < 0x20 || c.unicode() == 0x7f || QStringView(u"\\/:<>\"|?*").contains(c);
    });
    if (oddCharacter)
        return false;
    static const QRegularExpression device(
        QStringLiteral("^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])(\\..*)?$"),
        QRegularExpression::CaseInsensitiveOption);
    return !device.match(name).hasMatch();
}

// Every card folder from "A" to "D", in walk order. Anything else in the data folder whose name
// matches (files, links, entries that cannot be read, odd names) is passed over.
Status walkAllCards(RunContext& run)
{
    FormState& state = run.state;
    const Result<QList<FolderEntry>> listed = listFolder(state.sDataPath);
    if (!listed)
        return Status::failure(QStringLiteral("could not read %1: %2")
                                   .arg(nativePath(state.sDataPath), listed.error()));

    // The entries the walk visits, letter by letter.
    QList<FolderEntry> visited;
    for (std::int16_t iLetter = kFirstCardLetter; iLetter <= kLastCardLetter; ++iLetter) {
        const QString sLetter = QChar(iLetter);
        const QString sPattern = sLetter + kCardPatternTail;
        for (const FolderEntry& entry : listed.value()) {
            if (matchesPattern(entry.name, sPattern))
                visited << entry;
        }
    }
    const auto isCard = [](const FolderEntry& entry) {
        return entry.isFolder && isCardFolderName(entry.name);
    };
    QStringList cards;
    for (const FolderEntry& entry : visited) {
        if (isCard(entry))
            cards << entry.name;
    }
    run.progress.addCards(int(cards.size()));
    if (cards.isEmpty())
        run.progress.foundNoCardFolders(state.sDataPath);
    run.fetches.planCards(run, cards);

    int cardIndex = 0;
    for (const FolderEntry& entry : visited) {
        if (isCard(entry)) {
            const QString& sCard = entry.name;
            if (Status written = run.log.writeCardNameLine(sCard); !written)
                return written;
            run.fetches.reachedCard(cardIndex++);
            if (Status updated = UpdateCard(run, sCard); !updated)
                return updated;
            run.progress.cardDone();
        }
        if (Status going = giveWindowATurn(run); !going)
            return going;
    }
    return {};
}

Status updateOneCard(RunContext& run)
{
    run.display.showHeld(); // the card the walk showed last is the one read here
    const QString sCard = trimSpaces(run.choices.oneCardName());
    // An empty name would have the servers' answers stored in the data folder itself.
    if (sCard.isEmpty())
        return Status::failure(
            QStringLiteral("no card is named: type the name of a card folder, such as a0001"));
    if (!isCardFolderName(sCard))
        return Status::failure(QStringLiteral("%1 is not a card folder name").arg(sCard));
    run.progress.addCards(1);
    run.fetches.planCards(run, {sCard});
    if (Status updated = UpdateCard(run, sCard); !updated)
        return updated;
    run.progress.cardDone();
    return {};
}

// Only a copy of the program that was killed leaves part files, and its lock tells: then every
// card folder is cleaned before anything else. Where no lock can be held, another copy may be
// storing files in the same folders, so a visit removes only part files abandoned long ago.
void removeLeftovers(RunContext& run, const FolderLock& lock)
{
    run.removeLeftoversOnVisit = !lock.isHeld();
    if (!lock.tookOverStaleLock())
        return;
    if (const Result<QList<FolderEntry>> listed = listFolder(run.state.sDataPath)) {
        for (const FolderEntry& entry : listed.value()) {
            if (entry.isFolder)
                removeLeftoverParts(run.state.sDataPath + entry.name, PartFiles::All);
        }
    }
}

// The logged part of a run: the header, the cards of "A" to "D" and then the one card, the
// footer. The data folder is held against other copies of the program meanwhile.
Status updateCards(RunContext& run)
{
    FormState& state = run.state;
    FolderLock lock;
    if (Status locked = lock.lock(state.sDataPath); !locked) {
        if (lock.heldByAnotherCopy())
            run.outcome = RunOutcome::FolderHeld;
        return locked;
    }
    removeLeftovers(run, lock);
    if (Status opened = run.log.open(); !opened)
        return opened;
    state.sStarted = Clock::stamp();
    if (Status written = run.log.writeRunHeader(state.sStarted); !written)
        return written;
    run.progress.start();

    if (run.choices.allCardsChosen()) {
        if (Status walked = walkAllCards(run); !walked)
            return walked;
    }
    if (run.choices.oneCardChosen()) {
        if (Status updated = updateOneCard(run); !updated)
            return updated;
    }

    state.sFinished = Clock::stamp();
    if (Status written = run.log.writeRunFooter(state.sStarted, state.sFinished, state.cTotalBytes,
                                                state.files.notUpdated);
        !written)
        return written;
    return run.log.close();
}

// The end of a run that passed files over: "DONE !" would say that all is well.
QString doneWithFilesNotUpdated(int count)
{
    return QStringLiteral("DONE, but %1 could not be brought up to date: the run log %2 says "
                          "which and why")
        .arg(count == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(count),
             QString::fromUtf16(RunLog::kFileName));
}

void reportStop(RunContext& run, QString reason)
{
    if (run.log.isOpen()) {
        if (Status closed = run.log.closeStopped(Clock::stamp(), reason); !closed)
            reason +=
                QStringLiteral(" (and the run log could not be completed: %1)").arg(closed.error());
    }
    const QString said = QStringLiteral("Update stopped: ") + reason;
    run.display.showRunEnd(said);
    tellUser(run, said);
}

} // namespace

void updateKxCardData(RunContext& run)
{
    RunDisplay& display = run.display;
    FormState& state = run.state;

    display.lockControls();
    display.giveTurn();

    state.cTotalBytes = Currency();
    state.files = {};
    state.sKey = trimSpaces(run.choices.keyCode());
    state.sUserName = trimSpaces(run.choices.userName());
    state.sDataPath = trimSpaces(run.choices.dataPath());
    if (!state.sDataPath.endsWith(u'\\')) {
        state.sDataPath += u'\\';
        display.showDataPath(state.sDataPath);
        display.giveTurn();
    }

    int boxesTicked = 0;
    for (std::size_t kind = 0; kind < assetKinds().size(); ++kind)
        boxesTicked += run.choices.kindValue(kind);
    if (boxesTicked == 0) {
        const QString said = QStringLiteral("Nothing to GET. Please Check what to Get!");
        display.showRunEnd(said);
        tellUser(run, said);
        display.showDone();
        run.outcome = RunOutcome::NothingToGet;
    } else {
        Status updated = run.stopRequest.isEmpty() ? Status() : Status::failure(run.stopRequest);
        if (updated)
            updated = updateCards(run);
        run.fetches.finish();
        run.progress.finish();
        display.showHeld(); // the last card's texts, before the run's closing ones
        if (!updated) {
            if (run.outcome != RunOutcome::FolderHeld)
                run.outcome = RunOutcome::Stopped;
            reportStop(run, updated.error());
        } else {
            const int notUpdated = state.files.notUpdated;
            run.outcome = notUpdated ? RunOutcome::DoneWithFilesNotUpdated : RunOutcome::Done;
            const QString said = notUpdated ? doneWithFilesNotUpdated(notUpdated) : kDone;
            display.showRunEnd(said);
            if (notUpdated)
                tellUser(run, said);
            display.showDone();
        }
    }

    display.unlockReset();
    display.giveTurn();
}
