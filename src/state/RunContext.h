#pragma once

#include "platform/Result.h"
#include "state/FormState.h"

namespace Ui {
class Form1;
}
class FetchAhead;
class QWidget;
class RunLog;
class RunProgress;

// What an update run works with: the window's controls, the form-level state, the open
// run log and the fetches of the run.
struct RunContext
{
    QWidget* window;
    Ui::Form1& ui;
    FormState& state;
    RunLog& log;
    FetchAhead& fetches;
    RunProgress& progress;
    Origins origins;
    // Set when the user closes the window during the run; the run then stops at once.
    const bool& stopRequested;
    // Pictures that pass their size rule are read and fetched again when not whole.
    bool checkPictures = false;
    // Where the data folder cannot be held, abandoned part files are looked for in every card
    // folder as it is visited.
    bool removeLeftoversOnVisit = false;
};

// The reason given when the window is closed during a run.
QString windowClosedReason();

// Lets the window handle its pending events; fails once the user has closed the window, so
// that the run stops right there.
Status pumpEvents(const RunContext& run);

// Shows the text in a message box, unless the window is closing.
void tellUser(const RunContext& run, const QString& text);
