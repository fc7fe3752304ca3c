#include "cards/AssetKinds.h"

#include "cards/InfoAnswers.h"
#include "cards/WholePicture.h"

const std::vector<AssetKind>& assetKinds()
{
    static const std::vector<AssetKind> kinds{
        {"cbCI", // CardImage
         true,
         "images",
         "card images (c.jpg)",
         "c.jpg",
         [](double size) { return size < 12000; },
         AssetSource::AssetServer,
         &wholePictureFault,
         true,
         false,
         {{"c.jpg", {"c.jpg"}}}},
        {"cbTI", // ThumbImages
         true,
         "thumbs",
         "thumb images (d.bmp, e.bmp)",
         "d.bmp",
         [](double size) { return size == 0 || size > 8000; },
         AssetSource::AssetServer,
         &wholePictureFault,
         true,
         false,
         // "e.bmp" is never measured: it is fetched exactly when "d.bmp" is.
         {{"d.bmp", {"d.bmp"}}, {"e.bmp", {"e.bmp"}}}},
        {"cbINF", // InfoFiles
         true,
         "info",
         "woxinf + woxdld",
         ".woxinf",
         [](double size) { return size == 0 || size > 8000; },
         AssetSource::AssetServer,
         &infAnswerFault,
         false,
         false,
         {{".inf", {".woxinf", ".woxdld"}}}},
        {"cbCX", // CardXml
         false,
         "xml",
         "XML's, from the card-info service",
         ".xml",
         [](double size) { return size == 0; },
         AssetSource::InfoService,
         &xmlAnswerFault,
         false,
         true,
         {{nullptr, {".xml"}}}},
        {"cbCP", // FullPng
         false,
         "png",
         "PNG's (_full.png)",
         "_full.png",
         [](double size) { return size == 0 || size < 11000; },
         AssetSource::AssetServer,
         &wholePictureFault,
         true,
         true,
         {{"_full.png", {"_full.png"}}}},
    };
    return kinds;
}
