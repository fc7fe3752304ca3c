#pragma once

#include "platform/Result.h"
#include "state/FormState.h"
#include "state/RunFaces.h"

class FetchAhead;
class RunLog;
class RunProgress;

// How a run ended.
enum class RunOutcome
{
    Done,                    // every file brought up to date ("DONE !")
    DoneWithFilesNotUpdated, // the run went through, passing files over
    NothingToGet,            // no asset box ticked
    Stopped,                 // trouble every later file would meet, or a stop request
    FolderHeld               // another copy of the program holds the data folder
};

// What an update run works with: the choices and the display of the front end that started
// it, the form-level state, the open run log and the fetches of the run.
struct RunContext
{
    const ChoicesNow& choices;
    RunDisplay& display;
    FormState& state;
    RunLog& log;
    FetchAhead& fetches;
    RunProgress& progress;
    Origins origins;
    // Not empty once the run is asked to stop (the window closed, Ctrl+C): it then stops at
    // once, with this as its reason.
    const QString& stopRequest;
    // Pictures that pass their size rule are read and fetched again when not whole.
    bool checkPictures = false;
    // How the run ended, and why it stopped; set as it ends.
    RunOutcome outcome = RunOutcome::Done;
    // Where the data folder cannot be held, abandoned part files are looked for in every card
    // folder as it is visited.
    bool removeLeftoversOnVisit = false;
};

// The reason given when the window is closed during a run.
QString windowClosedReason();

// Gives the front end its turn, then fails if a stop was asked for meanwhile or before (the
// window closed, Ctrl+C), so that the run stops right there.
Status giveWindowATurn(const RunContext& run);

// Tells the user the text, unless the run is being stopped.
void tellUser(const RunContext& run, const QString& text);
