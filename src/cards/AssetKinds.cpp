#include "cards/AssetKinds.h"

#include "cards/InfoAnswers.h"
#include "cards/WholePicture.h"
#include "ui_Form1.h"

const std::vector<AssetKind>& assetKinds()
{
    static const std::vector<AssetKind> kinds{
        {"CardImage",
         "images",
         "card images (c.jpg)",
         &Ui::Form1::cbCI,
         "c.jpg",
         [](double size) { return size < 12000; },
         AssetSource::AssetServer,
         &wholePictureFault,
         true,
         false,
         {{"c.jpg", {"c.jpg"}}}},
        {"ThumbImages",
         "thumbs",
         "thumb images (d.bmp, e.bmp)",
         &Ui::Form1::cbTI,
         "d.bmp",
         [](double size) { return size == 0 || size > 8000; },
         AssetSource::AssetServer,
         &wholePictureFault,
         true,
         false,
         // "e.bmp" is never measured: it is fetched exactly when "d.bmp" is.
         {{"d.bmp", {"d.bmp"}}, {"e.bmp", {"e.bmp"}}}},
        {"InfoFiles",
         "info",
         "woxinf + woxdld",
         &Ui::Form1::cbINF,
         ".woxinf",
         [](double size) { return size == 0 || size > 8000; },
         AssetSource::AssetServer,
         &infAnswerFault,
         false,
         false,
         {{".inf", {".woxinf", ".woxdld"}}}},
        {"CardXml",
         "xml",
         "XML's, from the card-info service",
         &Ui::Form1::cbCX,
         ".xml",
         [](double size) { return size == 0; },
         AssetSource::InfoService,
         &xmlAnswerFault,
         false,
         true,
         {{nullptr, {".xml"}}}},
        {"FullPng",
         "png",
         "PNG's (_full.png)",
         &Ui::Form1::cbCP,
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

std::vector<QCheckBox*> assetBoxes(const Ui::Form1& ui)
{
    std::vector<QCheckBox*> boxes;
    for (const AssetKind& kind : assetKinds())
        boxes.push_back(ui.*kind.box);
    return boxes;
}
