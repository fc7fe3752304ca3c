#pragma once

#include "app/FormState.h"

namespace Ui {
class Form1;
}
class Fetcher;
class QWidget;
class RunLog;
class RunProgress;

// What an update run works with: the window's controls, the form-level state, the open
// run log and the window's fetcher.
struct RunContext
{
    QWidget* window;
    Ui::Form1& ui;
    FormState& state;
    RunLog& log;
    Fetcher& Inet1;
    RunProgress& progress;
    Origins origins;
    // Set when the user closes the window during the run; the run then stops at once.
    const bool& stopRequested;
};

// The reason given when the window is closed during a run.
inline QString windowClosedReason()
{
    return QStringLiteral("the window was closed");
}
