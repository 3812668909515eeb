#include "base/Async.h"

#include <QMutex>
#include <QMutexLocker>

namespace Async {

namespace {

QMutex observerMutex;

std::function<void(const char *)> &observer()
{
    static std::function<void(const char *)> function;
    return function;
}

} // namespace

QThreadPool *toolPool()
{
    // Each call waits on a tool rather than a core, so there are more threads
    // than cores; a call past them waits for one to come free.
    static QThreadPool *pool = newPool(QStringLiteral("org.varno.tools"), 32);
    return pool;
}

QThreadPool *newPool(const QString &name, int maxThreadCount, int expiryTimeoutMs)
{
    auto *pool = new QThreadPool;
    pool->setObjectName(name);
    pool->setMaxThreadCount(maxThreadCount);
    pool->setExpiryTimeout(expiryTimeoutMs);
    return pool;
}

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

} // namespace Async
