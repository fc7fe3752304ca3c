#pragma once

#include "platform/Files.h"
#include "platform/Text.h"

// The plain-text journal of update runs, appended to and never read. Every line reaches the
// file in one write as soon as it is ended, so a killed program loses at most the line it was
// writing.
class RunLog
{
public:
    static constexpr char16_t kFileName[] = u"KX-GET-CardDataUpdates.txt";
    // A log that has grown past this when a run starts is moved aside to this name, replacing
    // the one moved aside before, so that the log stays a size a person can open (a nightly
    // run of a large collection adds megabytes).
    static constexpr qint64 kMoveAsideAtBytes = qint64(20) << 20;
    static constexpr char16_t kOlderFileName[] = u"KX-GET-CardDataUpdates.old.txt";

    Status open();
    bool isOpen() const { return m_file.isOpen(); }

    Status writeRunHeader(const QString& started);
    Status writeCardNameLine(const QString& card);
    Status writeSizeLine(const QString& localFile, double size);
    // Opens a line that the next NewSizeLine ends.
    Status writeDownloadLine(const QString& url);
    Status writeNewSizeLine(double size);
    // Ends a DownloadLine whose file was passed over, with the reason.
    Status writeNotUpdatedLine(const QString& reason);
    // The footer; a line counting the files passed over follows the total when there were any.
    Status writeRunFooter(const QString& started, const QString& finished, const Currency& total,
                          int filesNotUpdated);
    Status close();

    // Closes the block of a run that ended early: ends an unfinished line, says when and
    // why the run stopped, and closes the file.
    Status closeStopped(const QString& stopped, const QString& reason);

private:
    Status writeLine(const QString& text);
    Status writeOpenLine(const QString& text);
    Status failed(const Status& status) const;

    TextFile m_file;
    bool m_lineOpen = false;
    QString m_openLine; // the start of a line that the next entry ends
};
