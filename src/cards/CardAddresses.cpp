#include "cards/CardAddresses.h"

namespace {

QString fromView(std::string_view text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

// The part of a card-info address that carries the credentials.
QString credentials(const QString& key, const QString& userName)
{
    return QStringLiteral("zumikey=") + key + QStringLiteral("&zumiusername=") + userName;
}

} // namespace

QString assetUrl(const QString& assetServerOrigin, const QString& card, const QString& suffix)
{
    return assetServerOrigin + fromView(layout::kAssetSets) + card +
           fromView(layout::kAssetIllustrations) + card + suffix;
}

QString infoUrl(const QString& infoServiceOrigin, const QString& key, const QString& userName,
                const QString& card)
{
    return infoServiceOrigin + fromView(layout::kInfoPath) + QStringLiteral("?cmd=cardinfo&") +
           credentials(key, userName) + u'&' + fromView(layout::kInfoCard) + u'=' + card +
           QStringLiteral("&xmlonly=1");
}

QString withCredentialsMasked(QString text, const QString& key, const QString& userName)
{
    const QString hidden = QStringLiteral("********");
    return text.replace(credentials(key, userName), credentials(hidden, hidden));
}
