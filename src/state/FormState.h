#pragma once

#include "platform/Text.h"
#include "state/PassedOverSeries.h"

#include <QString>
#include <QStringList>

// Values that live as long as the window and that the load, the run and the card update
// share. The names are the ones the whole program uses for them.
struct FormState
{
    // The settings record, refilled from the boxes (trimmed) by every run.
    QString sUserName;
    QString sKey;
    QString sDataPath; // ends with "\" once a run has fixed it

    Currency cTotalBytes; // the run's total of bytes written
    // The files of this run: brought up to date, and passed over (the server lacks them, the
    // user protects them), the first of them with the reason ("URL: reason"), for a summary.
    struct FileCounts
    {
        static constexpr int kMaxReasonsKept = 100;
        int updated = 0;
        int notUpdated = 0;
        QStringList notUpdatedReasons;
        PassedOverSeries passedOver; // the latest of them, one after another
    };
    FileCounts files;
    QString sStarted;
    QString sFinished;
};

// Scheme and host of the two servers, with no trailing "/".
struct Origins
{
    QString assetServer;
    QString infoService;
};
