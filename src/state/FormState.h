#pragma once

#include "platform/Text.h"

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
    // Files of this run that were passed over (the server lacks them, the user protects them),
    // and how many of them came one after another with no file brought up to date between.
    int filesNotUpdated = 0;
    int filesNotUpdatedInARow = 0;
    // Files brought up to date in this run, and the first of those passed over with the
    // reason ("URL: reason"), for a summary.
    int filesUpdated = 0;
    QStringList notUpdatedReasons;
    static constexpr int kMaxReasonsKept = 100;
    QString sStarted;
    QString sFinished;
};

// Scheme and host of the two servers, with no trailing "/".
struct Origins
{
    QString assetServer;
    QString infoService;
};
