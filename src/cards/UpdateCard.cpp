#include "cards/UpdateCard.h"

#include "cards/AssetKinds.h"
#include "platform/CheckValue.h"
#include "platform/EventPump.h"
#include "platform/Files.h"
#include "platform/HeldUpdates.h"
#include "platform/Http.h"
#include "run/RunLog.h"
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

class CardUpdate
{
public:
    CardUpdate(RunContext& run, const QString& card)
        : m_run(run), m_ui(run.ui), m_state(run.state), m_card(card)
    {}

    Status update(const AssetKind& kind)
    {
        if (kind.source == AssetSource::InfoService)
            m_state.sInfoURL =
                infoUrl(m_run.origins.infoService, m_state.sKey, m_state.sUserName, m_card);
        probe(localPath(kind.probeSuffix), kind.extraPumps);

        const bool sizeRuleHolds = kind.sizeRuleFetches(m_state.dSize);
        const bool overwrite = m_ui.oHow_1->isChecked();
        if (!(overwrite || sizeRuleHolds))
            return {};
        for (const AssetDownload& download : kind.downloads) {
            if (Status stored = fetchAndStore(kind, download); !stored)
                return stored;
        }
        return {};
    }

private:
    QString localPath(const char* suffix) const
    {
        return localFilePath(m_state.sDataPath, m_card, QString::fromLatin1(suffix));
    }

    QString urlOf(const AssetKind& kind, const char* suffix) const
    {
        return kind.source == AssetSource::InfoService
                   ? m_state.sInfoURL
                   : assetUrl(m_run.origins.assetServer, m_card, QString::fromLatin1(suffix));
    }

    // Measures the file; a missing or unreadable one counts as 0 and nothing here fails.
    void probe(const QString& path, bool pumpAfter)
    {
        m_state.sLocalFile = path;
        m_state.dSize = 0;
        if (const Result<qint64> length = fileLength(path))
            m_state.dSize = double(length.value());
        (void)m_run.log.writeSizeLine(path, m_state.dSize);
        holdText(m_ui.Text1, sizeText(m_state.dSize));
        if (pumpAfter)
            pumpEvents();
    }

    Status fetchAndStore(const AssetKind& kind, const AssetDownload& download)
    {
        if (m_run.stopRequested)
            return Status::failure(windowClosedReason());
        const QString url = urlOf(kind, download.fetchSuffix);
        Result<QByteArray> body = m_run.Inet1.fetch(url);
        if (!body)
            return Status::failure(
                m_run.stopRequested
                    ? windowClosedReason()
                    : QStringLiteral("could not get %1: %2").arg(url, body.error()));
        m_state.bData = std::move(body).value();

        const QString firstUrl = urlOf(kind, download.storeSuffixes.front());
        if (Status logged = m_run.log.writeDownloadLine(firstUrl); !logged)
            return logged;
        holdText(m_ui.Text2, QStringLiteral("Get ") + firstUrl);
        if (kind.extraPumps) {
            pumpEvents();
            if (m_run.stopRequested)
                return Status::failure(windowClosedReason());
        }
        for (const char* suffix : download.storeSuffixes) {
            m_state.sLocalFile = localPath(suffix);
            if (Status written = writeWholeFile(m_state.sLocalFile, m_state.bData); !written)
                return Status::failure(QStringLiteral("could not write %1: %2")
                                           .arg(m_state.sLocalFile, written.error()));
        }

        // From here on nothing fails: the files are stored, the rest is bookkeeping.
        if (const Result<qint64> length = fileLength(m_state.sLocalFile))
            m_state.dSize = double(length.value());
        bool first = true;
        for (const char* suffix : download.storeSuffixes) {
            if (!first)
                (void)m_run.log.writeDownloadLine(urlOf(kind, suffix));
            first = false;
            (void)m_run.log.writeNewSizeLine(m_state.dSize);
        }
        holdText(m_ui.Text1, sizeText(m_state.dSize));
        pumpEvents();
        m_state.cTotalBytes.add(m_state.dSize);
        return {};
    }

    RunContext& m_run;
    Ui::Form1& m_ui;
    FormState& m_state;
    const QString& m_card;
};

} // namespace

Status UpdateCard(RunContext& run, const QString& MyCard)
{
    holdText(run.ui.Text3, trimSpaces(MyCard));
    pumpEvents();
    CardUpdate card(run, MyCard);
    for (const AssetKind& kind : assetKinds()) {
        if (checkValue(run.ui.*kind.box) != kTicked)
            continue;
        if (Status updated = card.update(kind); !updated)
            return updated;
    }
    return {};
}
