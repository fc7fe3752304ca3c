#include "cards/UpdateCard.h"

#include "cards/AssetKinds.h"
#include "cards/FetchAhead.h"
#include "cards/FetchPlan.h"
#include "cards/InfoAnswers.h"
#include "log/RunLog.h"
#include "platform/Files.h"

namespace {

using Cause = PassedOverSeries::Cause;

// One file of a kind that is fetched, in the order the run log names them.
struct KindFile
{
    std::size_t download; // the index of the download whose body it is stored from
    const char* suffix;
    bool stored = false;
    QString notUpdatedReason; // empty while nothing keeps it from being stored
    Cause cause = Cause::Server;
    bool forItsPartner = false; // passed over because another file of the kind was
};

std::vector<KindFile> filesOf(const AssetKind& kind)
{
    std::vector<KindFile> files;
    for (std::size_t download = 0; download < kind.downloads.size(); ++download) {
        for (const char* suffix : kind.downloads[download].storeSuffixes)
            files.push_back({download, suffix, false, {}, Cause::Server, false});
    }
    return files;
}

// One card's update. The asset under test lives here and dies with it.
class CardUpdate
{
public:
    CardUpdate(RunContext& run, const QString& card) : m_run(run), m_names(run, card) {}

    Status update(const AssetKind& kind)
    {
        if (Status probed = probe(kind); !probed)
            return probed;
        if (!fetchesNow(m_run, kind, m_names, dSize, Judging::ByBytesAsAsked)) {
            knownWhole(kind, kind.downloads.front());
            return {};
        }
        // Every body of the kind first: its files are stored together or not at all, so that
        // the file its size rule measures asks for the others again in the next run.
        std::vector<QByteArray> bodies;
        for (std::size_t download = 0; download < kind.downloads.size(); ++download) {
            const QString url = m_names.url(kind, kind.downloads[download].fetchSuffix);
            Result<QByteArray> body = m_run.fetches.take(url);
            if (!m_run.stopRequest.isEmpty())
                return Status::failure(m_run.stopRequest);
            if (!body && !passesOver(kind, body.reach()))
                return fetchFailed(kind, url, body);
            const QString fault = body ? kind.answerFault(body.value()) : body.error();
            if (!fault.isEmpty())
                return passOver(kind, download, fault,
                                body.reach() == Reach::TooLarge   ? Cause::TooLarge
                                : body && isWebPage(body.value()) ? Cause::WebPage
                                                                  : Cause::Server);
            bodies.push_back(std::move(body).value());
        }
        return store(kind, bodies);
    }

private:
    // Measures the kind's file and logs its size; a missing file counts as 0.
    Status probe(const AssetKind& kind)
    {
        sLocalFile = m_names.localPath(kind.probeSuffix);
        dSize = sizeOnDisk(sLocalFile);
        if (Status logged = m_run.log.writeSizeLine(sLocalFile, dSize); !logged)
            return logged;
        m_run.display.showSize(sizeText(dSize));
        return kind.extraPumps ? giveWindowATurn(m_run) : Status();
    }

    // Whether a failed fetch concerns that file alone: the server lacks it, or an asset server
    // will not give it (object stores answer 403 for a file they do not hold). The card-info
    // service's 403 is a refusal of the key code.
    static bool passesOver(const AssetKind& kind, Reach reach)
    {
        return reach == Reach::ThisItem || reach == Reach::TooLarge ||
               (reach == Reach::Forbidden && kind.source == AssetSource::AssetServer);
    }

    Status fetchFailed(const AssetKind& kind, const QString& url, const Result<QByteArray>& body)
    {
        const bool refused = body.reach() == Reach::Refused || body.reach() == Reach::Forbidden;
        if (refused && kind.source == AssetSource::InfoService)
            return Status::failure(QStringLiteral("could not get %1: the card-info service refused "
                                                  "the key code and user name (%2): check both")
                                       .arg(url, body.error()));
        return Status::failure(QStringLiteral("could not get %1: %2").arg(url, body.error()));
    }

    // The server's answer for one download cannot be stored: nothing of the kind is.
    Status passOver(const AssetKind& kind, std::size_t failed, const QString& reason, Cause cause)
    {
        std::vector<KindFile> files = filesOf(kind);
        const QString failedName = fileName(kind.downloads[failed].storeSuffixes.front());
        for (KindFile& file : files) {
            file.forItsPartner = file.download != failed;
            file.notUpdatedReason = file.forItsPartner ? storedTogether(failedName) : reason;
            file.cause = cause;
        }
        if (Status logged = m_run.log.writeDownloadLine(m_names.url(kind, files.front().suffix));
            !logged)
            return logged;
        return record(kind, files);
    }

    // Stores the bodies, the kind's last file first, so that the file its size rule measures
    // is replaced only once the others are.
    Status store(const AssetKind& kind, const std::vector<QByteArray>& bodies)
    {
        std::vector<KindFile> files = filesOf(kind);
        const QString firstUrl = m_names.url(kind, files.front().suffix);
        if (Status logged = m_run.log.writeDownloadLine(firstUrl); !logged)
            return logged;
        m_run.display.showStatus(QStringLiteral("Get ") + firstUrl);
        if (kind.extraPumps) {
            if (Status going = giveWindowATurn(m_run); !going)
                return going;
        }
        for (auto file = files.rbegin(); file != files.rend(); ++file) {
            sLocalFile = m_names.localPath(file->suffix);
            const Status written = writeWholeFile(sLocalFile, bodies[file->download]);
            if (written) {
                file->stored = true;
                continue;
            }
            if (written.reach() != Reach::ThisItem)
                return Status::failure(QStringLiteral("could not write %1: %2")
                                           .arg(nativePath(sLocalFile), written.error()));
            file->notUpdatedReason = written.error();
            for (auto earlier = std::next(file); earlier != files.rend(); ++earlier) {
                earlier->notUpdatedReason = storedTogether(fileName(file->suffix));
                earlier->forItsPartner = true;
            }
            for (auto passed = file; passed != files.rend(); ++passed)
                passed->cause = Cause::Disk;
            break;
        }
        return record(kind, files);
    }

    // Logs each file by its own URL (the first one's DownloadLine is open): a stored one with
    // the size of its download's last stored file, counted once per download in the total.
    Status record(const AssetKind& kind, const std::vector<KindFile>& files)
    {
        FormState::FileCounts& counts = m_run.state.files;
        PassedOverSeries& series = counts.passedOver;
        for (std::size_t i = 0; i < files.size(); ++i) {
            const KindFile& file = files[i];
            const QString url = m_names.url(kind, file.suffix);
            const bool startsDownload = i == 0 || files[i - 1].download != file.download;
            if (startsDownload)
                dSize = sizeOfLastStored(files, file.download);
            if (i > 0) {
                if (Status logged = m_run.log.writeDownloadLine(url); !logged)
                    return logged;
                if (startsDownload && file.stored)
                    m_run.display.showStatus(QStringLiteral("Get ") + url);
            }
            if (Status logged = file.stored ? m_run.log.writeNewSizeLine(dSize)
                                            : m_run.log.writeNotUpdatedLine(file.notUpdatedReason);
                !logged)
                return logged;
            if (file.stored) {
                ++counts.updated;
                series.end();
                knownWhole(kind, kind.downloads[file.download]);
                if (startsDownload || !files[i - 1].stored) {
                    m_run.display.showSize(sizeText(dSize));
                    m_run.state.cTotalBytes.add(dSize);
                }
                continue;
            }
            ++counts.notUpdated;
            if (counts.notUpdatedReasons.size() < counts.kMaxReasonsKept)
                counts.notUpdatedReasons << url + QStringLiteral(": ") + file.notUpdatedReason;
            series.passedOver(file.cause, std::size_t(kind.source), file.notUpdatedReason,
                              file.forItsPartner);
        }
        if (series.length() >= kMaxFilesNotUpdatedInARow)
            return seriesOfPassedOverFiles();
        return giveWindowATurn(m_run);
    }

    // A long series of files passed over says more about the server or the folder than about
    // the files, unless the server still answers with a file it has whole: a collection may
    // hold many cards the server lacks files of, among cards whose files are whole and need
    // nothing. The run goes on when each server the series concerns answers so.
    Status seriesOfPassedOverFiles()
    {
        PassedOverSeries& series = m_run.state.files.passedOver;
        const std::vector<PassedOverSeries::KnownWhole> files = series.filesToAskFor();
        QString askedFailure;
        bool everyServerAnswered = !files.empty();
        for (const PassedOverSeries::KnownWhole& known : files) {
            if (known.url.isEmpty()) {
                everyServerAnswered = false;
                continue;
            }
            const Result<QByteArray> answer = m_run.fetches.fetchNow(known.url);
            if (!m_run.stopRequest.isEmpty())
                return Status::failure(m_run.stopRequest);
            const QString fault =
                answer ? assetKinds()[std::size_t(known.kind)].answerFault(answer.value())
                       : answer.error();
            if (!fault.isEmpty()) {
                everyServerAnswered = false;
                askedFailure = known.url + QStringLiteral(": ") + fault;
            }
        }
        if (everyServerAnswered) {
            series.end();
            return giveWindowATurn(m_run);
        }
        return Status::failure(series.reason(askedFailure));
    }

    void knownWhole(const AssetKind& kind, const AssetDownload& download)
    {
        const auto kindIndex = std::distance(assetKinds().data(), &kind);
        m_run.state.files.passedOver.knownWhole(
            std::size_t(kind.source), m_names.url(kind, download.fetchSuffix), int(kindIndex));
    }

    double sizeOfLastStored(const std::vector<KindFile>& files, std::size_t download) const
    {
        double size = 0;
        for (const KindFile& file : files) {
            if (file.download == download && file.stored)
                size = sizeOnDisk(m_names.localPath(file.suffix));
        }
        return size;
    }

    QString fileName(const char* suffix) const
    {
        return m_names.card() + QString::fromLatin1(suffix);
    }

    static QString storedTogether(const QString& partner)
    {
        return QStringLiteral("it is stored only together with %1, which was not").arg(partner);
    }

    RunContext& m_run;
    CardNames m_names;
    QString sLocalFile;
    double dSize = 0;
};

} // namespace

Status UpdateCard(RunContext& run, const QString& MyCard)
{
    run.display.showCard(trimSpaces(MyCard));
    if (Status going = giveWindowATurn(run); !going)
        return going;
    if (run.removeLeftoversOnVisit)
        removeLeftoverParts(run.state.sDataPath + MyCard, PartFiles::Abandoned);
    CardUpdate card(run, MyCard);
    for (std::size_t kind = 0; kind < assetKinds().size(); ++kind) {
        if (run.choices.kindValue(kind) != kTicked)
            continue;
        if (Status updated = card.update(assetKinds()[kind]); !updated)
            return updated;
    }
    return {};
}
