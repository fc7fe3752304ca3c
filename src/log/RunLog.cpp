#include "log/RunLog.h"

namespace {
const QString kRule(47, u'#');
}

Status RunLog::open()
{
    m_lineOpen = false;
    m_openLine.clear();
    // Only a file of its own: a link in its place leads to a file the user chose to keep. One
    // that cannot be moved aside grows on.
    const QString name = QString::fromUtf16(kFileName);
    if (isRegularFile(name))
        (void)moveAsideWhenLarger(name, QString::fromUtf16(kOlderFileName), kMoveAsideAtBytes);
    return failed(m_file.open(name, TextFile::Mode::Append));
}

Status RunLog::failed(const Status& status) const
{
    if (status)
        return status;
    return Status::failure(QStringLiteral("could not write %1: %2")
                               .arg(QString::fromUtf16(kFileName), status.error()));
}

Status RunLog::writeLine(const QString& text)
{
    const QString line = m_openLine + text;
    m_openLine.clear();
    m_lineOpen = false;
    return failed(m_file.writeLine(line));
}

// Kept until the line is ended, so that each line reaches the file in one write: two copies
// of the program appending to one log never cut each other's lines.
Status RunLog::writeOpenLine(const QString& text)
{
    if (!m_file.isOpen())
        return failed(m_file.writeOpenLine(text));
    m_openLine += text;
    m_lineOpen = true;
    return {};
}

Status RunLog::writeRunHeader(const QString& started)
{
    for (const QString& line :
         {QString(), kRule, QStringLiteral("Started on: ") + started, QString()}) {
        if (Status written = writeLine(line); !written)
            return written;
    }
    return {};
}

Status RunLog::writeCardNameLine(const QString& card)
{
    return writeLine(card);
}

Status RunLog::writeSizeLine(const QString& localFile, double size)
{
    return writeLine(localFile + QStringLiteral(" size ") + sizeText(size));
}

Status RunLog::writeDownloadLine(const QString& url)
{
    return writeOpenLine(QStringLiteral("Download File: ") + url);
}

Status RunLog::writeNewSizeLine(double size)
{
    return writeLine(QStringLiteral(" New size ") + sizeText(size));
}

Status RunLog::writeNotUpdatedLine(const QString& reason)
{
    return writeLine(
        QStringLiteral(" Not brought up to date: %1; the file on disk is left as it was")
            .arg(reason));
}

Status RunLog::writeRunFooter(const QString& started, const QString& finished,
                              const Currency& total, int filesNotUpdated)
{
    QStringList lines{
        QString(),
        QStringLiteral("Finished on: ") + finished,
        QStringLiteral("Start : ") + started + QStringLiteral(" to Finish : ") + finished,
        QStringLiteral("Total Bytes Downloaded = ") + total.text(),
    };
    if (filesNotUpdated > 0)
        lines << QStringLiteral("Files not brought up to date = %1").arg(filesNotUpdated);
    lines << kRule << QString();
    for (const QString& line : lines) {
        if (Status written = writeLine(line); !written)
            return written;
    }
    return {};
}

Status RunLog::close()
{
    m_lineOpen = false;
    m_openLine.clear();
    return failed(m_file.close());
}

Status RunLog::closeStopped(const QString& stopped, const QString& reason)
{
    QStringList lines;
    if (m_lineOpen)
        lines << QString();
    lines << QString() << QStringLiteral("Stopped on: ") + stopped
          << QStringLiteral("Reason: ") + reason << kRule << QString();
    Status outcome;
    for (const QString& line : lines) {
        if (outcome)
            outcome = writeLine(line);
    }
    const Status closed = close();
    return outcome ? closed : outcome;
}
