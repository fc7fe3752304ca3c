#include "state/PassedOverSeries.h"

void PassedOverSeries::passedOver(Cause cause, std::size_t source, const QString& reason,
                                  bool forItsPartner)
{
    if (cause == Cause::Disk) {
        ++m_series.fromDisk;
        if (!forItsPartner)
            m_series.lastDiskReason = reason;
        return;
    }
    ++m_series.fromServers;
    m_series.tooLarge += cause == Cause::TooLarge;
    m_series.webPages += cause == Cause::WebPage;
    m_series.sources[source] = true;
    if (!forItsPartner)
        m_series.lastServerReason = reason;
}

void PassedOverSeries::knownWhole(std::size_t source, const QString& url, int kind)
{
    m_knownWhole[source] = {url, kind};
}

std::vector<PassedOverSeries::KnownWhole> PassedOverSeries::filesToAskFor() const
{
    std::vector<KnownWhole> files;
    for (std::size_t source = 0; source < kSources; ++source) {
        if (m_series.sources[source])
            files.push_back(m_knownWhole[source]);
    }
    return files;
}

// "25 files in a row were not on the server or were not whole pictures (the last: ...): is the
// server address right?", with what the question to a server that had a file before answered.
QString PassedOverSeries::reason(const QString& askedFailure) const
{
    const Series& series = m_series;
    const QString asked =
        askedFailure.isEmpty()
            ? QString()
            : QStringLiteral(", nor did the server answer with a file it has whole (%1)")
                  .arg(askedFailure);
    if (series.fromDisk == 0 && series.tooLarge == series.fromServers)
        return QStringLiteral("%1 files in a row were larger than the program takes for a card "
                              "file (the last: %2)%3: the server sends other files than card "
                              "files, or card files have grown larger than this version takes")
            .arg(length())
            .arg(series.lastServerReason, asked);
    if (series.fromDisk == 0 && series.webPages == series.fromServers)
        return QStringLiteral("%1 files in a row were web pages, not card files (the last: %2)%3: "
                              "is the server address right, or does this network want a sign-in "
                              "on a web page first (a captive portal, as in hotels, trains and "
                              "some offices)?")
            .arg(length())
            .arg(series.lastServerReason, asked);
    if (series.fromDisk == 0)
        return QStringLiteral("%1 files in a row were not on the server or were not whole "
                              "pictures (the last: %2)%3: is the server address right?")
            .arg(length())
            .arg(series.lastServerReason, asked);
    if (series.fromServers == 0)
        return QStringLiteral("%1 files in a row could not be replaced (the last: %2): may this "
                              "user change the card files?")
            .arg(length())
            .arg(series.lastDiskReason);
    return QStringLiteral("%1 files in a row could not be brought up to date (%2 were not on the "
                          "server or were not whole pictures, the last: %3; %4 could not be "
                          "replaced, the last: %5)%6: is the server address right, and may this "
                          "user change the card files?")
        .arg(length())
        .arg(series.fromServers)
        .arg(series.lastServerReason)
        .arg(series.fromDisk)
        .arg(series.lastDiskReason, asked);
}
