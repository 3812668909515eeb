#include "base/BlockingWork.h"

#include <QMutex>
#include <QMutexLocker>

namespace BlockingWork {

namespace {

QMutex observerMutex;

std::function<void(const char *)> &observer()
{
    static std::function<void(const char *)> function;
    return function;
}

} // namespace

void setObserverForTesting(std::function<void(const char *what)> function)
{
    QMutexLocker lock(&observerMutex);
    observer() = std::move(function);
}

void notify(const char *what)
{
    std::function<void(const char *)> function;
    {
        QMutexLocker lock(&observerMutex);
        function = observer();
    }
    if (function)
        function(what);
}

} // namespace BlockingWork
