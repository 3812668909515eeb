#pragma once

#include <QDateTime>

#include <functional>

// The one source of "now" for code whose results depend on the time of day
// (incident times, file names with time stamps, relative labels). Tests fix it.
namespace Clock {

QDateTime now();

// Replaces the clock; an empty function restores the system clock.
void setSource(std::function<QDateTime()> source);

} // namespace Clock
