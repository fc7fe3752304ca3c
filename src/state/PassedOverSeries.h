#pragma once

#include <QString>

#include <array>
#include <cstddef>
#include <vector>

// The files of a run passed over one after another, nothing brought up to date between them: how
// many on the servers' account and on the disk's, the last reason of each and the servers they
// came from; and for each server the last file it is known to have whole, which the run asks it
// for again once the series is long.
class PassedOverSeries
{
public:
    // Why a file was passed over: the server's answer (one too large, or a web page, among
    // them), or the card file on disk.
    enum class Cause
    {
        Server,
        TooLarge,
        WebPage,
        Disk
    };
    // A file a server is known to have whole, and the index of its kind.
    struct KnownWhole
    {
        QString url;
        int kind = -1;
    };

    int length() const { return m_series.fromServers + m_series.fromDisk; }
    // The file's server is `source` (the kinds' AssetSource). A file passed over only because
    // its partner was leaves the partner's reason as the last.
    void passedOver(Cause cause, std::size_t source, const QString& reason, bool forItsPartner);
    // A file brought up to date, or servers that still answer well, end the series.
    void end() { m_series = {}; }
    // One served in this run, or one whole on disk by its size rule.
    void knownWhole(std::size_t source, const QString& url, int kind);
    // For each server the series came from, the file to ask it for (an empty url where none is
    // known). None where the series is on the disk's account alone.
    std::vector<KnownWhole> filesToAskFor() const;
    // Why the run stops, with what asking a server for a file it has whole gave (empty: it was
    // not asked).
    QString reason(const QString& askedFailure) const;

private:
    static constexpr std::size_t kSources = 2;
    struct Series
    {
        int fromServers = 0;
        int tooLarge = 0; // of those from servers
        int webPages = 0; // of those from servers
        int fromDisk = 0;
        QString lastServerReason;
        QString lastDiskReason;
        std::array<bool, kSources> sources{};
    };
    Series m_series;
    std::array<KnownWhole, kSources> m_knownWhole;
};
