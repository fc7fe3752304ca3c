#pragma once

#include <QObject>
#include <QString>

// What a program started from a command line, a script or a scheduler has of its console.

enum class Stream
{
    Output,
    Error
};

// Writes the text to standard output or standard error at once: to a console in its own
// characters, to a file or a pipe in the system's 8-bit encoding, as the program's text files.
// A write that fails (a pipe closed by its reader, a full disk) is dropped.
void writeText(Stream stream, const QString& text);

// Whether the stream is a terminal (a console window), where a progress line can be rewritten
// in place; not so for a file, a pipe or a scheduler's log.
bool isTerminal(Stream stream);

// Makes the process fit to be run from a console, a script or a scheduler; called first of
// all. What asks the program to stop is caught from now on (a request that comes before
// StopRequests exists is handed to it when it does), a write to a closed pipe or a full disk
// fails that write only, and a standard stream that was closed at start is opened on the null
// device, so that no file the program opens later takes its place.
void prepareConsole();

// Turns what asks the program to stop from outside (Ctrl+C, SIGTERM or SIGHUP, a console
// window closed, the user logging off) into a signal on the main thread, while it exists;
// the program then stops in its own time rather than being ended on the spot. Without
// prepareConsole() the system's own handling comes back when it goes.
class StopRequests final : public QObject
{
    Q_OBJECT

public:
    explicit StopRequests(QObject* parent = nullptr);
    ~StopRequests() override;
    StopRequests(const StopRequests&) = delete;
    StopRequests& operator=(const StopRequests&) = delete;

    // The program has done what a stop asks: a console that is closing waits for this (a few
    // seconds at most) before the system ends the program.
    void finished();

signals:
    // reason: what asked, in words for the run log, such as "stopped by Ctrl+C (SIGINT)".
    void requested(const QString& reason);
};
