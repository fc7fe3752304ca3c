#include "state/RunContext.h"

QString windowClosedReason()
{
    return QStringLiteral("the window was closed");
}

Status giveWindowATurn(const RunContext& run)
{
    run.display.giveTurn();
    return run.stopRequest.isEmpty() ? Status() : Status::failure(run.stopRequest);
}

void tellUser(const RunContext& run, const QString& text)
{
    if (run.stopRequest.isEmpty())
        run.display.tell(text);
}
