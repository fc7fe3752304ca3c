#pragma once

#include <chrono>

// How many requests one server gets at once, and when. A server that shows it is overloaded
// (busy answers, refused or dropped connections) gets half as many requests at once, down to
// one, and none at all until the pause it asked for, or ours, is over. While it answers well it
// gets one more at a time for every round of answers, up to one fewer than it was refused at;
// beyond that, where a server's fixed limit most likely lies, one more only after
// kAnswersBeforeProbing good answers, and never beyond the ceiling.
class ServerPace
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kAnswersBeforeProbing = 100;

    explicit ServerPace(int ceiling) : m_ceiling(ceiling), m_limit(ceiling), m_probeFrom(ceiling) {}

    // Requests at once never beyond this.
    void setCeiling(int ceiling);
    int limit() const { return m_limit; }
    // Whether one more request may go now, with this many under way.
    bool mayStart(int underWay, Clock::time_point now) const
    {
        return underWay < m_limit && now >= m_resumeAt;
    }
    Clock::time_point resumeAt() const { return m_resumeAt; }
    // Overloads in a row, each of which doubled our pause; 0 after a good answer.
    int overloadsInARow() const { return m_overloadsInARow; }
    // Whether a request sent then went before the last cut, at the former rate: its overload
    // answer is part of the one that made the cut.
    bool isLate(Clock::time_point sentAt) const { return sentAt < m_lastCut; }

    // An overload answer to a request sent at `sentAt`, with `underWay` requests to the server
    // then (that one included). Late answers neither cut again nor count as another overload.
    // No request goes before `pause` is over.
    void overloaded(Clock::time_point sentAt, int underWay, std::chrono::milliseconds pause,
                    Clock::time_point now);
    // A request on a connection opened at `connectedAt`, left waiting in the server's queue
    // while `answering` of the `underWay` requests were answered: the server serves about that
    // many at once, but never fewer than half as many are asked of it as before. No pause, and
    // slow growth from there. Requests on connections opened before the last cut are part of
    // the one that made it.
    void keptWaiting(Clock::time_point connectedAt, int answering, int underWay,
                     Clock::time_point now);
    // A good answer.
    void answeredWell();

private:
    int m_ceiling;
    int m_limit;
    int m_probeFrom;       // at and beyond this limit, growth is slow
    int m_goodAnswers = 0; // since the limit last changed
    int m_overloadsInARow = 0;
    Clock::time_point m_lastCut{};
    Clock::time_point m_resumeAt{};
};
