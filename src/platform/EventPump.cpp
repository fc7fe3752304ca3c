#include "platform/EventPump.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace {

struct PumpState
{
    std::chrono::milliseconds interval = kDefaultPumpInterval;
    QElapsedTimer sinceLastPass;
};

PumpState& state()
{
    static PumpState instance;
    return instance;
}

} // namespace

void pumpEvents(void (*beforePass)())
{
    PumpState& pump = state();
    if (pump.sinceLastPass.isValid() && pump.sinceLastPass.elapsed() < pump.interval.count())
        return;
    if (beforePass)
        beforePass();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    pump.sinceLastPass.start();
}

void setPumpInterval(std::chrono::milliseconds interval)
{
    state().interval = interval;
}
