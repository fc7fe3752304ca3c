#include "state/RunContext.h"

#include "platform/EventPump.h"
#include "platform/MessageBox.h"

QString windowClosedReason()
{
    return QStringLiteral("the window was closed");
}

Status giveWindowATurn(const RunContext& run)
{
    pumpEvents();
    return run.stopRequest.isEmpty() ? Status() : Status::failure(run.stopRequest);
}

void tellUser(const RunContext& run, const QString& text)
{
    if (run.stopRequest.isEmpty())
        MessageBox::show(run.window, text);
}
