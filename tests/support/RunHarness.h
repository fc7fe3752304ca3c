#pragma once

#include "SampleCardServer.h"
#include "app/FormState.h"
#include "platform/Http.h"
#include "run/RunContext.h"
#include "run/RunLog.h"
#include "run/RunProgress.h"
#include "ui_Form1.h"

#include <QWidget>

// The form's controls and state on a bare widget, with the run log open, so that a test can
// call UpdateCard the way a run does and look at everything it touched.
class RunHarness
{
public:
    RunHarness(const SampleCardServer& server, const QString& dataPath);

    // Ticks exactly the named boxes ("cbCI", "cbTI", "cbINF", "cbCX", "cbCP").
    void tickOnly(const QStringList& boxes);
    void setOverwrite(bool overwrite);
    // Calls UpdateCard as a run does.
    Status update(const QString& card);
    // Closes the log and returns its lines (without their CR LF); the file must end in CR LF.
    QStringList logLines();

    QWidget window;
    Ui::Form1 ui;
    FormState state;
    RunLog log;
    Fetcher fetcher;
    RunProgress progress;
    bool stopRequested = false;
    RunContext context;
};
