#include "platform/Clock.h"

namespace Clock {
namespace {
std::function<QDateTime()>& source()
{
    static std::function<QDateTime()> instance;
    return instance;
}
} // namespace

QString stamp()
{
    const QDateTime now = source() ? source()() : QDateTime::currentDateTime();
    return now.toString(QStringLiteral("MM-dd-yyyy HH:mm:ss"));
}

void setSource(std::function<QDateTime()> newSource)
{
    source() = std::move(newSource);
}

} // namespace Clock
