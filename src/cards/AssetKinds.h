#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// Where a kind's files are fetched from.
enum class AssetSource
{
    AssetServer, // the asset URL of the fetched suffix
    InfoService  // the card-info URL of the card
};

// One fetch, and the files its body is stored into, in order. The run log names each stored
// file by its own URL.
struct AssetDownload
{
    const char* fetchSuffix; // unused for the info service
    std::vector<const char*> storeSuffixes;
};

// One of the five kinds of asset file a card folder holds.
struct AssetKind
{
    // The window's box of the kind, by its object name, and whether it starts ticked.
    const char* box;
    bool tickedAtStart;
    // How the command line names the kind, and what its help says of it.
    const char* optionName;
    const char* optionHelp;
    const char* probeSuffix;
    // Whether a file of this size is fetched in only-missing mode.
    bool (*sizeRuleFetches)(double size);
    AssetSource source;
    // Why an answer cannot be stored as this kind's file (empty: it can): a picture that is not
    // whole, an info file that is empty or an error page. Such an answer is passed over.
    QString (*answerFault)(const QByteArray& body);
    // Its files are pictures, which --check-pictures reads on disk.
    bool picturesOnly;
    // The window gets a turn after the probe and before the store.
    bool extraPumps;
    std::vector<AssetDownload> downloads;
};

// The five kinds, in the order in which a card is updated.
const std::vector<AssetKind>& assetKinds();
