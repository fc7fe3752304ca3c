#include "platform/EventPump.h"

#include <QCoreApplication>

void pumpEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}
