#pragma once

#include "app/CommandLine.h"
#include "state/FormState.h"

#include <functional>

// Where an unattended run writes: standard output and standard error, or a test's strings.
struct ConsoleOutput
{
    std::function<void(const QString&)> output;
    std::function<void(const QString&)> error;
    // A progress line is rewritten in place on a terminal; elsewhere a line is added now and
    // then.
    bool errorIsTerminal = false;
};

// The standard streams of the process.
ConsoleOutput standardConsole();

// One update run without a window, for a console, a script or a scheduler: the run the
// window's button makes, with the saved info of the working folder and the choices of the
// command line. Progress goes to standard error, a summary to standard output,
// and the result is the exit status. Ctrl+C and the like stop it as closing the window does.
// Needs an application object, which may be a QCoreApplication.
int runUnattended(const CommandLine& commandLine, const Origins& origins,
                  const ConsoleOutput& console);
