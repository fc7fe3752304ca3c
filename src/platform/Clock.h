#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

// The system clock as the program's date and time strings. Tests replace the source of the
// current time to get fixed stamps.
namespace Clock {

// The date as "MM-dd-yyyy", one space and the time as "HH:mm:ss" (00:00:00 to 23:59:59),
// from one reading of the clock.
QString stamp();

// Test hook: every reading of the clock calls the source; an empty source restores the
// system clock.
void setSource(std::function<QDateTime()> source);

} // namespace Clock
