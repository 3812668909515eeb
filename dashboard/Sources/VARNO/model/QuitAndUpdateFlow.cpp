#include "model/QuitAndUpdateFlow.h"

#include "base/Async.h"
#include "platform/MainBundle.h"
#include "platform/VarnoPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

#include <qcoro/qcorofuture.h>

namespace {

QMutex quitTimingMutex;
QuitAndUpdateFlow::Timing currentQuitTiming;

// Whether `folder` is `path` itself or one of the folders above it.
bool isSameOrAbove(const QString &folder, const QString &path)
{
    if (folder.isEmpty() || path.isEmpty())
        return false;
    const QString cleanFolder = QDir::cleanPath(folder);
    const QString cleanPath = QDir::cleanPath(path);
    if (cleanFolder == cleanPath || cleanFolder == QLatin1String("/"))
        return true;
    return cleanPath.startsWith(cleanFolder + QLatin1Char('/'));
}

bool isBundleName(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    return name.size() > 4 && name.endsWith(QLatin1String(".app"));
}

// The places a bundle to be quit must not be or hold.
QStringList protectedPaths()
{
    QStringList paths;
    const QString home = VarnoPaths::home();
    paths << home << QFileInfo(home).canonicalFilePath();
    if (QCoreApplication::instance()) {
        const QString self = QCoreApplication::applicationFilePath();
        paths << self << QFileInfo(self).canonicalFilePath();
    }
    if (const auto bundle = MainBundle::path())
        paths << *bundle << QFileInfo(*bundle).canonicalFilePath();
    paths.removeAll(QString());
    return paths;
}

bool passes(const QString &path, const QStringList &protectedList)
{
    if (!QDir::isAbsolutePath(path) || path == QLatin1String("/") || !isBundleName(path))
        return false;
    for (const QString &kept : protectedList) {
        if (isSameOrAbove(path, kept))
            return false;
    }
    return true;
}

} // namespace

namespace QuitAndUpdateFlow {

std::optional<QString> quittableBundle(const std::optional<QString> &installPath)
{
    if (!installPath || installPath->isEmpty() || !QDir::isAbsolutePath(*installPath))
        return std::nullopt;
    const QString clean = QDir::cleanPath(*installPath);
    const QFileInfo info(clean);
    if (!info.isDir())
        return std::nullopt;
    const QString canonical = info.canonicalFilePath();
    const QStringList kept = protectedPaths();
    if (canonical.isEmpty() || !passes(clean, kept) || !passes(canonical, kept))
        return std::nullopt;
    return canonical;
}

Attempt terminateRunningInstances(const QString &bundlePath)
{
    auto backend = RunningApplications::backend();
    Attempt attempt;
    const QList<RunningApplication> listed = backend->runningInside(bundlePath);
    bool refused = false;
    for (const RunningApplication &app : listed) {
        if (backend->terminate(app))
            attempt.asked.append(app);
        else if (!backend->isTerminated(app))
            refused = true;
        // else: it ended by itself after the listing; nothing to ask.
    }
    if (refused)
        attempt.result = TerminateAttempt::refused;
    else if (!attempt.asked.isEmpty())
        attempt.result = TerminateAttempt::asked;
    return attempt;
}

QCoro::Task<Attempt> requestQuit(QString bundlePath)
{
    auto request = [bundlePath] { return terminateRunningInstances(bundlePath); };
    Async::Work<Attempt> requesting = Async::offThread(nullptr, request);
    Attempt attempt = co_await requesting;
    co_return attempt;
}

QCoro::Task<bool> isStillRunning(QString bundlePath, QList<RunningApplication> asked)
{
    auto backend = RunningApplications::backend();
    auto check = [backend, bundlePath, asked] {
        for (const RunningApplication &app : asked) {
            if (!backend->isTerminated(app))
                return true;
        }
        return !backend->runningInside(bundlePath).isEmpty();
    };
    Async::Work<bool> checking = Async::offThread(nullptr, check);
    const bool running = co_await checking;
    co_return running;
}

Timing timing()
{
    QMutexLocker lock(&quitTimingMutex);
    return currentQuitTiming;
}

void setTimingForTesting(const Timing &timing)
{
    QMutexLocker lock(&quitTimingMutex);
    currentQuitTiming = timing;
}

} // namespace QuitAndUpdateFlow
