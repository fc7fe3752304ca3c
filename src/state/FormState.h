#pragma once

#include "platform/Text.h"

#include <QString>
#include <QStringList>

#include <array>

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

        // The files passed over one after another, nothing brought up to date between: how
        // many on the servers' account and on the disk's, the last reason of each, and from
        // which servers (by source) the servers' came.
        struct Series
        {
            int fromServers = 0;
            int tooLarge = 0; // of those from servers
            int webPages = 0; // of those from servers
            int fromDisk = 0;
            QString lastServerReason;
            QString lastDiskReason;
            std::array<bool, 2> sources{};
            int total() const { return fromServers + fromDisk; }
        };
        Series inARow;
        // For each server (by source), the last file it is known to have whole: one it served
        // in this run, or one whole on disk by its size rule. The kind is its index.
        struct KnownWhole
        {
            QString url;
            int kind = -1;
        };
        std::array<KnownWhole, 2> knownWhole;
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
