#include "platform/Clock.h"

namespace Clock {
namespace {
std::function<QDateTime()>& source()
{
    static std::function<QDateTime()> instance;
    return instance;
}
} // namespace

QDateTime now()
{
    return source() ? source()() : QDateTime::currentDateTime();
}

QString dateString()
{
    return now().toString(QStringLiteral("MM-dd-yyyy"));
}

QString timeString()
{
    return now().toString(QStringLiteral("HH:mm:ss"));
}

QString stamp()
{
    return now().toString(QStringLiteral("MM-dd-yyyy HH:mm:ss"));
}

void setSource(std::function<QDateTime()> newSource)
{
    source() = std::move(newSource);
}

} // namespace Clock
