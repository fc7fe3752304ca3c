#include "cards/FetchPlan.h"

#include "cards/CardAddresses.h"
#include "cards/WholePicture.h"
#include "http/Fetcher.h"
#include "platform/Files.h"

QString localFilePath(const QString& dataPath, const QString& card, const QString& suffix)
{
    return dataPath + card + u'\\' + card + suffix;
}

double sizeOnDisk(const QString& path)
{
    const Result<qint64> length = fileLength(path);
    return length ? double(length.value()) : 0;
}

namespace {

// A picture on disk that is not whole. One too large to read is not judged: no answer that
// could replace it would be taken either; nor is one that cannot be read.
bool isDamagedPicture(const QString& path, double size)
{
    if (size > double(Fetcher::kDefaultMaxBodySize))
        return false;
    const Result<QByteArray> bytes = readWholeFile(path, Fetcher::kDefaultMaxBodySize);
    return bytes && !wholePictureFault(bytes.value()).isEmpty();
}

} // namespace

QString CardNames::localPath(const char* suffix) const
{
    return localFilePath(m_run.state.sDataPath, m_card, QString::fromLatin1(suffix));
}

QString CardNames::url(const AssetKind& kind, const char* suffix) const
{
    return kind.source == AssetSource::InfoService
               ? infoUrl(m_run.origins.infoService, m_run.state.sKey, m_run.state.sUserName, m_card)
               : assetUrl(m_run.origins.assetServer, m_card, QString::fromLatin1(suffix));
}

// Overwrite mode, or the kind's size rule (both are always evaluated), or a missing or empty
// file beside the one the rule measures (its partner is fetched with it, so the pair is mended
// only together), or, where asked for, a picture that passes its size rule but is not whole.
bool fetchesNow(const RunContext& run, const AssetKind& kind, const CardNames& names, double dSize,
                Judging judging)
{
    const bool sizeRuleHolds = kind.sizeRuleFetches(dSize);
    const bool overwrite = run.choices.overwrite();
    if (overwrite || sizeRuleHolds)
        return true;
    for (const AssetDownload& download : kind.downloads) {
        for (const char* suffix : download.storeSuffixes) {
            if (qstrcmp(suffix, kind.probeSuffix) != 0 && sizeOnDisk(names.localPath(suffix)) == 0)
                return true;
        }
    }
    return judging == Judging::ByBytesAsAsked && run.checkPictures && kind.picturesOnly &&
           isDamagedPicture(names.localPath(kind.probeSuffix), dSize);
}

QList<PredictedFetch> predictedFetches(const RunContext& run, const QString& card)
{
    const CardNames names(run, card);
    QList<PredictedFetch> fetches;
    for (std::size_t index = 0; index < assetKinds().size(); ++index) {
        const AssetKind& kind = assetKinds()[index];
        if (run.choices.kindValue(index) != kTicked)
            continue;
        // Pictures are not read here: damaged ones are rare, and are fetched when the run
        // reaches them, so each picture is read once.
        if (!fetchesNow(run, kind, names, sizeOnDisk(names.localPath(kind.probeSuffix)),
                        Judging::BySize))
            continue;
        for (const AssetDownload& download : kind.downloads)
            fetches.append(
                {names.url(kind, download.fetchSuffix), kind.source == AssetSource::InfoService});
    }
    return fetches;
}
