#include "state/RunContext.h"

#include "platform/EventPump.h"
#include "platform/MessageBox.h"

QString windowClosedReason()
{
    return QStringLiteral("the window was closed");
}

Status pumpEvents(const RunContext& run)
{
    pumpEvents();
    return run.stopRequested ? Status::failure(windowClosedReason()) : Status();
}

void tellUser(const RunContext& run, const QString& text)
{
    if (!run.stopRequested)
        MessageBox::show(run.window, text);
}
