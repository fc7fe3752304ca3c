#pragma once

#include "app/Form1.h"

#include <QStringList>

#include <optional>

// What the program's command line asks for.
struct CommandLine
{
    int connections = 0; // 0: the default
    bool checkPictures = false;
    bool inDocuments = false; // work in the user's Documents folder
    // One update run without a window, with these choices.
    bool run = false;
    RunChoices choices;
    bool quiet = false;
    // Set when the program is to exit at once with this code (after --help, --version, or a
    // command line it cannot read); the text is what it prints.
    std::optional<int> exitCode;
    QString output;
};

// Exit statuses of the program, as scripts and schedulers read them. They stay as they are.
namespace ExitStatus {
inline constexpr int kDone = 0;
inline constexpr int kStopped = 1;
inline constexpr int kUsage = 2;
inline constexpr int kFilesNotUpdated = 3;
inline constexpr int kFolderHeld = 4;
inline constexpr int kInterrupted = 130;

// What each means, as the help says it.
struct Meaning
{
    int status;
    const char* text;
};
inline constexpr Meaning kMeanings[] = {
    {kDone, "every file was brought up to date (or none needed to be)"},
    {kStopped, "the run stopped, or could not start; the reason is on standard error"},
    {kUsage, "the command line could not be read"},
    {kFilesNotUpdated, "the run went through, but files could not be brought up to date (the "
                       "run log says which and why); the next run tries them again"},
    {kFolderHeld, "another copy of the program is updating the data folder"},
    {kInterrupted, "stopped by Ctrl+C, SIGTERM or a closed console; what was stored is whole"},
};
} // namespace ExitStatus

// Reads the arguments that follow the program's name.
CommandLine readCommandLine(const QStringList& arguments);
