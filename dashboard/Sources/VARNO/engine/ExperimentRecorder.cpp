#include "engine/ExperimentRecorder.h"

#include "base/Async.h"
#include "engine/VARNOProcess.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>

#include <exception>

namespace {

QMutex hookMutex;
std::function<void(const QString &)> &finishedHook()
{
    static std::function<void(const QString &)> hook;
    return hook;
}

QStringList argumentsFor(const QString &event)
{
    QStringList arguments;
    arguments << QStringLiteral("experiment") << QStringLiteral("record") << QStringLiteral("--event") << event;
    return arguments;
}

QCoro::Task<void> recordDetached(QString event)
{
    co_await ExperimentRecorder::send(event);
    std::function<void(const QString &)> hook;
    {
        QMutexLocker lock(&hookMutex);
        hook = finishedHook();
    }
    if (hook)
        hook(event);
}

} // namespace

namespace ExperimentRecorder {

QCoro::Task<void> send(QString event)
{
    const QStringList arguments = argumentsFor(event);
    try {
        co_await VARNOProcess::run(arguments, 120.0);
    } catch (...) {
        // The event is lost; nobody is told.
    }
}

void record(const QString &event)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    // Queued even on the application's own thread, so that the caller gets
    // control back before the engine is started.
    QMetaObject::invokeMethod(
        app, [event] { Async::detach(recordDetached(event)); }, Qt::QueuedConnection);
}

void setFinishedHookForTesting(std::function<void(const QString &event)> hook)
{
    QMutexLocker lock(&hookMutex);
    finishedHook() = std::move(hook);
}

} // namespace ExperimentRecorder
