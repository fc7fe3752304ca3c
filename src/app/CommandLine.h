#pragma once

#include <QStringList>

#include <optional>

// What the program's command line asks for.
struct CommandLine
{
    int connections = 0; // 0: the default
    bool checkPictures = false;
    bool inDocuments = false; // work in the user's Documents folder
    // Set when the program is to exit at once with this code (after --help, --version, or a
    // command line it cannot read); the text is what it prints.
    std::optional<int> exitCode;
    QString output;
};

// Reads the arguments that follow the program's name.
CommandLine readCommandLine(const QStringList& arguments);
