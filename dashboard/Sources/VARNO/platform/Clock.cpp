#include "platform/Clock.h"

#include <QMutex>
#include <QMutexLocker>

namespace {

QMutex sourceMutex;
std::function<QDateTime()> clockSource;

} // namespace

namespace Clock {

QDateTime now()
{
    QMutexLocker lock(&sourceMutex);
    if (clockSource)
        return clockSource();
    return QDateTime::currentDateTimeUtc();
}

void setSource(std::function<QDateTime()> source)
{
    QMutexLocker lock(&sourceMutex);
    clockSource = std::move(source);
}

} // namespace Clock
