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
inline constexpr int kDone = 0;            // every file brought up to date, or nothing to do
inline constexpr int kStopped = 1;         // the run stopped, or could not start; why on stderr
inline constexpr int kUsage = 2;           // the command line cannot be read
inline constexpr int kFilesNotUpdated = 3; // the run went through, passing files over
inline constexpr int kFolderHeld = 4;      // another copy of the program holds the data folder
inline constexpr int kInterrupted = 130;   // Ctrl+C, SIGTERM, the console closed
} // namespace ExitStatus

// Reads the arguments that follow the program's name.
CommandLine readCommandLine(const QStringList& arguments);
