#include "model/QuitAndUpdateFlow.h"

#include <QMutex>
#include <QMutexLocker>
#include <QtConcurrent>

#include <qcoro/qcorofuture.h>

namespace {

QMutex timingMutex;
QuitAndUpdateFlow::Timing currentTiming;

} // namespace

namespace QuitAndUpdateFlow {

Attempt terminateRunningInstances(const QString &bundleId, const std::optional<QString> &installPath)
{
    auto backend = RunningApplications::backend();
    Attempt attempt;
    for (const RunningApplication &app : backend->runningApplications(bundleId, installPath)) {
        if (!backend->isTerminated(app))
            attempt.asked.append(app);
    }
    if (attempt.asked.isEmpty())
        return attempt;
    bool everyoneAgreed = true;
    for (const RunningApplication &app : std::as_const(attempt.asked)) {
        if (!backend->terminate(app))
            everyoneAgreed = false;
    }
    attempt.result = everyoneAgreed ? TerminateAttempt::asked : TerminateAttempt::refused;
    return attempt;
}

QCoro::Task<bool> isStillRunning(QString bundleId, std::optional<QString> installPath,
                                 QList<RunningApplication> asked)
{
    auto backend = RunningApplications::backend();
    auto check = [backend, bundleId, installPath, asked] {
        for (const RunningApplication &app : asked) {
            if (!backend->isTerminated(app))
                return true;
        }

        return !backend->runningApplications(bundleId, installPath).isEmpty();
    };
    const bool running = co_await QtConcurrent::run(check);
    co_return running;
}

Timing timing()
{
    QMutexLocker lock(&timingMutex);
    return currentTiming;
}

void setTimingForTesting(const Timing &timing)
{
    QMutexLocker lock(&timingMutex);
    currentTiming = timing;
}

} // namespace QuitAndUpdateFlow
