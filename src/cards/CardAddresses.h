#pragma once

#include <QString>

#include <string_view>

// Where the card asset server keeps a card's files and how the card-info service is asked: the
// program builds its addresses from this layout, the sample card server and the benchmark serve
// and ask the same one, and the console masks the credentials as the addresses hold them.
//   <origin>/free/sets/<card>/illustrations/<card><suffix>
//   <origin>/bof/bof.php?cmd=cardinfo&zumikey=<key>&zumiusername=<user>&cardids=<card>&xmlonly=1
namespace layout {
inline constexpr std::string_view kAssetSets = "/free/sets/";
inline constexpr std::string_view kAssetIllustrations = "/illustrations/";
inline constexpr std::string_view kInfoPath = "/bof/bof.php";
inline constexpr std::string_view kInfoCard = "cardids"; // the parameter naming the card
} // namespace layout

QString assetUrl(const QString& assetServerOrigin, const QString& card, const QString& suffix);
QString infoUrl(const QString& infoServiceOrigin, const QString& key, const QString& userName,
                const QString& card);
// The text with the key code and the user name hidden wherever a card-info address holds them:
// what a console prints is mailed by cron and kept by journals.
QString withCredentialsMasked(QString text, const QString& key, const QString& userName);
