#include "app/UnattendedRun.h"

#include "cards/AssetKinds.h"
#include "cards/CardAddresses.h"
#include "cards/FetchAhead.h"
#include "http/Fetcher.h"
#include "log/RunLog.h"
#include "platform/Console.h"
#include "platform/EventPump.h"
#include "platform/Files.h"
#include "run/RunProgress.h"
#include "run/UpdateRun.h"
#include "settings/SavedSettings.h"

#include <QDir>
#include <QElapsedTimer>

namespace {

const QString kProgram = QStringLiteral("kx-card-updater");

// "12.3 MB"
QString bytesText(double bytes)
{
    if (bytes < 1000)
        return QStringLiteral("%1 bytes").arg(qint64(bytes));
    const char* units[] = {"KB", "MB", "GB", "TB"};
    int unit = 0;
    for (bytes /= 1000; bytes >= 1000 && unit < 3; bytes /= 1000)
        ++unit;
    return QStringLiteral("%1 %2").arg(bytes, 0, 'f', 1).arg(QLatin1String(units[unit]));
}

// "1 h 5 min", "3 min 20 s", "12 s"
QString durationText(qint64 milliseconds)
{
    const qint64 seconds = (milliseconds + 500) / 1000;
    if (seconds >= 3600)
        return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds % 3600 / 60);
    if (seconds >= 60)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 s").arg(seconds);
}

// The run's progress on standard error: on a terminal one line rewritten in place, a few
// times a second at most; elsewhere a line every 10 seconds or every 5% of the cards.
class ProgressLines
{
public:
    static constexpr qint64 kTerminalEveryMs = 200;
    static constexpr qint64 kLogEveryMs = 10'000;

    ProgressLines(const RunProgress& progress, const FormState& state, const ConsoleOutput& console)
        : m_progress(progress), m_state(state), m_console(console)
    {
        m_sinceShown.start();
    }

    void update()
    {
        const int total = m_progress.cardsTotal();
        const int done = m_progress.cardsDone();
        const int step = total > 0 ? done * 20 / total : 0; // in 5% steps
        const bool due = m_console.errorIsTerminal
                             ? m_sinceShown.elapsed() >= kTerminalEveryMs || done == total
                             : m_sinceShown.elapsed() >= kLogEveryMs || step != m_shownStep;
        if (!due || total == 0 || (done == m_shownDone && total == m_shownTotal))
            return;
        m_sinceShown.start();
        m_shownStep = step;
        m_shownDone = done;
        m_shownTotal = total;
        QString line = text();
        if (!m_console.errorIsTerminal) {
            m_console.error(line + u'\n');
            return;
        }
        // Spaces over what is left of a longer line before.
        const qsizetype length = line.size();
        if (length < m_lineLength)
            line += QString(m_lineLength - length, u' ');
        m_lineLength = length;
        m_console.error(u'\r' + line);
    }

    // Ends the line rewritten in place.
    void finish()
    {
        if (m_console.errorIsTerminal && m_lineLength > 0)
            m_console.error(QStringLiteral("\n"));
        m_lineLength = 0;
    }

private:
    QString text() const
    {
        QString line = QStringLiteral("%1 of %2 cards, %3 files fetched (%4)")
                           .arg(m_progress.cardsDone())
                           .arg(m_progress.cardsTotal())
                           .arg(m_state.files.updated)
                           .arg(bytesText(m_state.cTotalBytes.text().toDouble()));
        if (m_state.files.notUpdated > 0)
            line += QStringLiteral(", %1 not brought up to date").arg(m_state.files.notUpdated);
        if (const QString left = m_progress.estimate(); !left.isEmpty())
            line += QStringLiteral(", ") + left;
        return line;
    }

    const RunProgress& m_progress;
    const FormState& m_state;
    const ConsoleOutput& m_console;
    QElapsedTimer m_sinceShown;
    int m_shownStep = -1;
    int m_shownDone = -1;
    int m_shownTotal = -1;
    qsizetype m_lineLength = 0;
};

// The command line's choices and the saved info, as the run asks for them; the run's texts,
// of which the console shows the progress and the end.
class ConsoleFront final : public ChoicesNow, public RunDisplay
{
public:
    ConsoleFront(const RunChoices& choices, const FormState& saved)
        : m_choices(choices), m_key(saved.sKey), m_userName(saved.sUserName),
          m_dataPath(saved.sDataPath)
    {}

    // Called whenever the count of cards changes.
    std::function<void()> onProgress;
    const QString& runEnd() const { return m_runEnd; }

    int kindValue(std::size_t kind) const override
    {
        const bool ticked = m_choices.kinds.empty()
                                ? assetKinds().at(kind).tickedAtStart
                                : kind < m_choices.kinds.size() && m_choices.kinds[kind];
        return ticked ? kTicked : kUnticked;
    }
    bool allCardsChosen() const override { return m_choices.card.isEmpty(); }
    bool oneCardChosen() const override { return !m_choices.card.isEmpty(); }
    QString oneCardName() const override { return m_choices.card; }
    bool overwrite() const override { return m_choices.overwrite; }
    QString keyCode() const override { return m_key; }
    QString userName() const override { return m_userName; }
    QString dataPath() const override { return m_dataPath; }

    void lockControls() override {}
    void showDataPath(const QString& path) override { m_dataPath = path; }
    void showCard(const QString&) override {}
    void showSize(const QString&) override {}
    void showStatus(const QString&) override {}
    void showProgress(int, int, const QString&) override
    {
        if (onProgress)
            onProgress();
    }
    void showRunEnd(const QString& text) override { m_runEnd = text; }
    void showDone() override {}
    // Said on standard error at the end instead: the run tells only its end or its stop.
    void tell(const QString&) override {}
    void unlockReset() override {}
    void giveTurn() override { pumpEvents(); }
    void showHeld() override {}

private:
    const RunChoices& m_choices;
    QString m_key;
    QString m_userName;
    QString m_dataPath;
    QString m_runEnd;
};

// The text with the run's key code and user name hidden.
QString masked(const FormState& state, const QString& text)
{
    return withCredentialsMasked(text, state.sKey, state.sUserName);
}

// What the run did.
QString summary(const RunContext& run, qint64 elapsedMs)
{
    const FormState& state = run.state;
    const RunProgress& progress = run.progress;
    QString text =
        QStringLiteral("Cards: %1 of %2\n").arg(progress.cardsDone()).arg(progress.cardsTotal());
    text += QStringLiteral("Files fetched: %1 (%2 bytes)\n")
                .arg(state.files.updated)
                .arg(state.cTotalBytes.text());
    if (state.files.notUpdated > 0) {
        text += QStringLiteral("Files not brought up to date: %1 (the run log %2 says which and "
                               "why; the next run tries them again)\n")
                    .arg(state.files.notUpdated)
                    .arg(QString::fromUtf16(RunLog::kFileName));
        for (const QString& reason : state.files.notUpdatedReasons)
            text += QStringLiteral("  ") + reason + u'\n';
        if (state.files.notUpdated > state.files.notUpdatedReasons.size())
            text += QStringLiteral("  and %1 more\n")
                        .arg(state.files.notUpdated - state.files.notUpdatedReasons.size());
    }
    text += QStringLiteral("Time: %1\n").arg(durationText(elapsedMs));
    return masked(state, text);
}

// How the run ended, as an exit status, and why when it is not 0.
int statusOf(const RunContext& run, const QString& runEnd, const CommandLine& commandLine,
             bool interrupted, QString& why)
{
    const RunProgress& progress = run.progress;
    why = masked(run.state, runEnd);
    switch (run.outcome) {
    case RunOutcome::Done:
    case RunOutcome::DoneWithFilesNotUpdated:
        // A collection that is not where the saved info says (a typo, a drive not mounted) is
        // no success, night after night.
        if (commandLine.choices.card.isEmpty() && progress.cardsTotal() == 0) {
            why = progress.note() + QStringLiteral(": is the data folder right?");
            return ExitStatus::kStopped;
        }
        why.clear();
        return run.outcome == RunOutcome::Done ? ExitStatus::kDone : ExitStatus::kFilesNotUpdated;
    case RunOutcome::NothingToGet:
        why.clear();
        return ExitStatus::kDone;
    case RunOutcome::FolderHeld:
        return ExitStatus::kFolderHeld;
    case RunOutcome::Stopped:
        break;
    }
    return interrupted ? ExitStatus::kInterrupted : ExitStatus::kStopped;
}

} // namespace

ConsoleOutput standardConsole()
{
    return {[](const QString& text) { writeText(Stream::Output, text); },
            [](const QString& text) { writeText(Stream::Error, text); }, isTerminal(Stream::Error)};
}

int runUnattended(const CommandLine& commandLine, const Origins& origins,
                  const ConsoleOutput& console)
{
    FormState state;
    if (const Status saved = loadSettings(state); !saved) {
        console.error(
            QStringLiteral("%1: cannot run: %2 in %3. Start %1 without --run, type the key code, "
                           "the user name and the data folder, tick \"I read the Instructions "
                           "and my Values are Correct\" and press \"Save my Info\"; it writes "
                           "the file.\n")
                .arg(kProgram, saved.error(), QDir::toNativeSeparators(QDir::currentPath())));
        return ExitStatus::kStopped;
    }
    failWritesPastFileSizeLimit();
    Fetcher fetcher;
    FetchAhead fetches(fetcher);
    if (commandLine.connections > 0)
        fetches.setConnections(commandLine.connections);
    ConsoleFront front(commandLine.choices, state);
    RunProgress progress(front);
    RunLog log;
    QString stopRequest;
    RunContext run{front,   front,       state,
                   log,     fetches,     progress,
                   origins, stopRequest, commandLine.checkPictures};

    StopRequests stops;
    bool interrupted = false;
    // A request from outside, also one made before the run began (it then stops at once).
    QObject::connect(&stops, &StopRequests::requested, &fetcher, [&](const QString& reason) {
        interrupted = true;
        if (!stopRequest.isEmpty())
            return;
        stopRequest = reason;
        fetcher.abort();
    });
    ProgressLines lines(progress, state, console);
    if (!commandLine.quiet)
        front.onProgress = [&lines] {
            lines.update();
        };

    QElapsedTimer clock;
    clock.start();
    updateKxCardData(run);
    front.onProgress = {};
    lines.finish();
    QString why;
    const int status = statusOf(run, front.runEnd(), commandLine, interrupted, why);
    // Quiet is for runs that went well: cron mails what any other run prints.
    if (!commandLine.quiet)
        console.output(summary(run, clock.elapsed()));
    else if (status != ExitStatus::kDone)
        console.error(summary(run, clock.elapsed()));
    stops.finished();
    if (!why.isEmpty())
        console.error(QStringLiteral("%1: %2\n").arg(kProgram, why));
    return status;
}
