#include "cards/UpdateCard.h"

#include "cards/AssetKinds.h"
#include "cards/FetchAhead.h"
#include "cards/WholePicture.h"
#include "log/RunLog.h"
#include "platform/CheckValue.h"
#include "platform/Files.h"
#include "platform/HeldUpdates.h"
#include "ui_Form1.h"

QString localFilePath(const QString& dataPath, const QString& card, const QString& suffix)
{
    return dataPath + card + u'\\' + card + suffix;
}

QString assetUrl(const QString& assetServerOrigin, const QString& card, const QString& suffix)
{
    return assetServerOrigin + QStringLiteral("/free/sets/") + card +
           QStringLiteral("/illustrations/") + card + suffix;
}

QString infoUrl(const QString& infoServiceOrigin, const QString& key, const QString& userName,
                const QString& card)
{
    return infoServiceOrigin + QStringLiteral("/bof/bof.php?cmd=cardinfo&zumikey=") + key +
           QStringLiteral("&zumiusername=") + userName + QStringLiteral("&cardids=") + card +
           QStringLiteral("&xmlonly=1");
}

namespace {

// A missing or unreadable file measures 0.
double sizeOnDisk(const QString& path)
{
    const Result<qint64> length = fileLength(path);
    return length ? double(length.value()) : 0;
}

// A picture on disk that is not whole. One too large to read is not judged: no answer that
// could replace it would be taken either; nor is one that cannot be read.
bool isDamagedPicture(const QString& path, double size)
{
    if (size > double(Fetcher::kDefaultMaxBodySize))
        return false;
    const Result<QByteArray> bytes = readWholeFile(path, Fetcher::kDefaultMaxBodySize);
    return bytes && !wholePictureFault(bytes.value()).isEmpty();
}

// Whether a picture's bytes are read, besides its size, to decide.
enum class Judging
{
    BySize,
    ByBytesAsAsked // where the run checks pictures
};

// Overwrite mode, or the kind's size rule (both are always evaluated), or, where asked for, a
// picture that passes its size rule but is not whole.
bool fetchesNow(const RunContext& run, const AssetKind& kind, const QString& path, double dSize,
                Judging judging)
{
    const bool sizeRuleHolds = kind.sizeRuleFetches(dSize);
    const bool overwrite = run.ui.oHow_1->isChecked();
    return overwrite || sizeRuleHolds ||
           (judging == Judging::ByBytesAsAsked && run.checkPictures && kind.picturesOnly &&
            isDamagedPicture(path, dSize));
}

// Where a card's files come from and where they go.
class CardNames
{
public:
    CardNames(const RunContext& run, const QString& card) : m_run(run), m_card(card) {}

    QString localPath(const char* suffix) const
    {
        return localFilePath(m_run.state.sDataPath, m_card, QString::fromLatin1(suffix));
    }
    // The info URL is rebuilt from the current key and user name every time.
    QString url(const AssetKind& kind, const char* suffix) const
    {
        return kind.source == AssetSource::InfoService
                   ? infoUrl(m_run.origins.infoService, m_run.state.sKey, m_run.state.sUserName,
                             m_card)
                   : assetUrl(m_run.origins.assetServer, m_card, QString::fromLatin1(suffix));
    }

private:
    const RunContext& m_run;
    const QString& m_card;
};

// One card's update. The asset under test lives here and dies with it.
class CardUpdate
{
public:
    CardUpdate(RunContext& run, const QString& card) : m_run(run), m_ui(run.ui), m_names(run, card)
    {}

    Status update(const AssetKind& kind)
    {
        if (Status probed = probe(kind); !probed)
            return probed;
        if (!fetchesNow(m_run, kind, sLocalFile, dSize, Judging::ByBytesAsAsked))
            return {};
        for (const AssetDownload& download : kind.downloads) {
            if (Status stored = fetchAndStore(kind, download); !stored)
                return stored;
        }
        return {};
    }

private:
    // Measures the kind's file and logs its size; a missing file counts as 0.
    Status probe(const AssetKind& kind)
    {
        sLocalFile = m_names.localPath(kind.probeSuffix);
        dSize = sizeOnDisk(sLocalFile);
        if (Status logged = m_run.log.writeSizeLine(sLocalFile, dSize); !logged)
            return logged;
        holdText(m_ui.Text1, sizeText(dSize));
        return kind.extraPumps ? pumpEvents(m_run) : Status();
    }

    Status fetchAndStore(const AssetKind& kind, const AssetDownload& download)
    {
        const QString url = m_names.url(kind, download.fetchSuffix);
        Result<QByteArray> body = m_run.fetches.take(url);
        if (!m_run.stopRequest.isEmpty())
            return Status::failure(m_run.stopRequest);
        if (!body)
            return fetchFailed(kind, download, url, body);
        const QByteArray bData = std::move(body).value();
        if (kind.picturesOnly) {
            if (const QString fault = wholePictureFault(bData); !fault.isEmpty())
                return passOver(kind, download, fault, Cause::Server);
        }

        const QString firstUrl = m_names.url(kind, download.storeSuffixes.front());
        if (Status logged = m_run.log.writeDownloadLine(firstUrl); !logged)
            return logged;
        holdText(m_ui.Text2, QStringLiteral("Get ") + firstUrl);
        if (kind.extraPumps) {
            if (Status going = pumpEvents(m_run); !going)
                return going;
        }
        qsizetype stored = 0;
        for (const char* suffix : download.storeSuffixes) {
            sLocalFile = m_names.localPath(suffix);
            if (Status written = writeWholeFile(sLocalFile, bData); !written) {
                if (written.reach() == Reach::ThisItem)
                    return record(kind, download, stored, written.error(), Cause::Disk);
                return Status::failure(
                    QStringLiteral("could not write %1: %2").arg(sLocalFile, written.error()));
            }
            ++stored;
        }
        return record(kind, download, stored);
    }

    // Why files were passed over: the server's answer, or the card files on disk.
    enum class Cause
    {
        Server,
        Disk
    };

    Status fetchFailed(const AssetKind& kind, const AssetDownload& download, const QString& url,
                       const Result<QByteArray>& body)
    {
        if (body.reach() == Reach::ThisItem)
            return passOver(kind, download, body.error(), Cause::Server);
        if (body.reach() == Reach::Refused && kind.source == AssetSource::InfoService)
            return Status::failure(QStringLiteral("could not get %1: the card-info service refused "
                                                  "the key code and user name (%2): check both")
                                       .arg(url, body.error()));
        return Status::failure(QStringLiteral("could not get %1: %2").arg(url, body.error()));
    }

    // Nothing of the download is stored: each of its files is logged as passed over.
    Status passOver(const AssetKind& kind, const AssetDownload& download, const QString& reason,
                    Cause cause)
    {
        const QString firstUrl = m_names.url(kind, download.storeSuffixes.front());
        if (Status logged = m_run.log.writeDownloadLine(firstUrl); !logged)
            return logged;
        return record(kind, download, 0, reason, cause);
    }

    // The first `stored` files of the download are stored, the rest passed over for the reason;
    // what is left is bookkeeping. Each file is logged by its own URL (the first one's
    // DownloadLine is open), the stored ones all with the last stored file's size, counted
    // once in the total.
    Status record(const AssetKind& kind, const AssetDownload& download, qsizetype stored,
                  const QString& notUpdatedReason = {}, Cause cause = Cause::Server)
    {
        FormState::FileCounts& files = m_run.state.files;
        if (stored > 0)
            dSize = sizeOnDisk(m_names.localPath(download.storeSuffixes[size_t(stored - 1)]));
        for (qsizetype i = 0; i < qsizetype(download.storeSuffixes.size()); ++i) {
            const QString url = m_names.url(kind, download.storeSuffixes[size_t(i)]);
            if (i > 0) {
                if (Status logged = m_run.log.writeDownloadLine(url); !logged)
                    return logged;
            }
            if (Status logged = i < stored ? m_run.log.writeNewSizeLine(dSize)
                                           : m_run.log.writeNotUpdatedLine(notUpdatedReason);
                !logged)
                return logged;
            if (i >= stored && files.notUpdatedReasons.size() < files.kMaxReasonsKept)
                files.notUpdatedReasons << url + QStringLiteral(": ") + notUpdatedReason;
        }
        files.updated += int(stored);
        if (stored > 0) {
            holdText(m_ui.Text1, sizeText(dSize));
            m_run.state.cTotalBytes.add(dSize);
            files.notUpdatedInARow = 0;
        }
        const int passedOver = int(download.storeSuffixes.size()) - int(stored);
        files.notUpdated += passedOver;
        files.notUpdatedInARow += passedOver;
        if (files.notUpdatedInARow >= kMaxFilesNotUpdatedInARow)
            return tooManyInARow(notUpdatedReason, cause);
        return pumpEvents(m_run);
    }

    // A long series of files passed over says more about the server or the folder than about
    // the files: going on would only add to it.
    static Status tooManyInARow(const QString& lastReason, Cause cause)
    {
        if (cause == Cause::Server)
            return Status::failure(
                QStringLiteral("%1 files in a row were not on the server or were "
                               "not whole pictures (the last: %2): is the "
                               "server address right?")
                    .arg(kMaxFilesNotUpdatedInARow)
                    .arg(lastReason));
        return Status::failure(QStringLiteral("%1 files in a row could not be replaced (the last: "
                                              "%2): may this user change the card files?")
                                   .arg(kMaxFilesNotUpdatedInARow)
                                   .arg(lastReason));
    }

    RunContext& m_run;
    Ui::Form1& m_ui;
    CardNames m_names;
    QString sLocalFile;
    double dSize = 0;
};

} // namespace

Status UpdateCard(RunContext& run, const QString& MyCard)
{
    holdText(run.ui.Text3, trimSpaces(MyCard));
    if (Status going = pumpEvents(run); !going)
        return going;
    if (run.removeLeftoversOnVisit)
        removeLeftoverParts(run.state.sDataPath + MyCard, PartFiles::Abandoned);
    CardUpdate card(run, MyCard);
    for (const AssetKind& kind : assetKinds()) {
        if (checkValue(run.ui.*kind.box) != kTicked)
            continue;
        if (Status updated = card.update(kind); !updated)
            return updated;
    }
    return {};
}

QList<PredictedFetch> predictedFetches(const RunContext& run, const QString& card)
{
    const CardNames names(run, card);
    QList<PredictedFetch> fetches;
    for (const AssetKind& kind : assetKinds()) {
        if (checkValue(run.ui.*kind.box) != kTicked)
            continue;
        // Pictures are not read here: damaged ones are rare, and are fetched when the run
        // reaches them, so each picture is read once.
        const QString path = names.localPath(kind.probeSuffix);
        if (!fetchesNow(run, kind, path, sizeOnDisk(path), Judging::BySize))
            continue;
        for (const AssetDownload& download : kind.downloads)
            fetches.append(
                {names.url(kind, download.fetchSuffix), kind.source == AssetSource::InfoService});
    }
    return fetches;
}
