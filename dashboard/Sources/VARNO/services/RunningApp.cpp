#include "services/AppMetadata.h"
#include "services/DiagnosticsReport.h"

#include "engine/VARNOProcess.h"
#include "platform/MainBundle.h"
#include "platform/ResourceLocator.h"
#include "platform/VarnoPaths.h"

#include <QCoreApplication>
#include <QMutex>
#include <QMutexLocker>

// What the version facts and the support report read of the running app.

namespace {

struct RunningAppCache {
    QMutex mutex;
    std::optional<QString> version;
    std::optional<QString> build;
    std::optional<QString> installedDateLabel;
};

RunningAppCache &runningAppCache()
{
    static RunningAppCache c;
    return c;
}

// Computed once under the lock; the sources are quick to read.
template<typename Compute>
QString cached(std::optional<QString> RunningAppCache::*slot, Compute compute)
{
    RunningAppCache &c = runningAppCache();
    QMutexLocker lock(&c.mutex);
    if (!(c.*slot))
        c.*slot = compute();
    return *(c.*slot);
}

} // namespace

AppMetadata::Sources AppMetadata::Sources::current()
{
    Sources sources;
    sources.bundleInfo = MainBundle::infoDictionary();
    sources.developmentInfoPlist = ResourceLocator::cachedInfoPlistURL();
    const QStringList arguments = QCoreApplication::instance() ? QCoreApplication::arguments() : QStringList();
    sources.executablePath = arguments.value(0);
    return sources;
}

std::optional<QString> AppMetadata::bundleValue(const QString &key)
{
    return bundleValue(Sources::current(), key);
}

QString AppMetadata::version()
{
    return cached(&RunningAppCache::version, [] { return version(Sources::current()); });
}

QString AppMetadata::build()
{
    return cached(&RunningAppCache::build, [] { return build(Sources::current()); });
}

QString AppMetadata::shortVersionLabel()
{
    return QStringLiteral("v") + version();
}

QString AppMetadata::installedDateLabel()
{
    return cached(&RunningAppCache::installedDateLabel, [] { return installedDateLabel(Sources::current()); });
}

void AppMetadata::resetForTesting()
{
    RunningAppCache &c = runningAppCache();
    QMutexLocker lock(&c.mutex);
    c.version.reset();
    c.build.reset();
    c.installedDateLabel.reset();
}

DiagnosticsReport::Inputs DiagnosticsReport::Inputs::current()
{
    Inputs inputs;
    inputs.home = VarnoPaths::home();
    inputs.python3 = VARNOProcess::python3();
    inputs.bundlePath = MainBundle::path().value_or(QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                                                                 : QString());
    inputs.bundleIdentifier = MainBundle::infoString(QStringLiteral("CFBundleIdentifier"));
    inputs.version = AppMetadata::version();
    inputs.build = AppMetadata::build();
    if (qEnvironmentVariableIsSet("PATH"))
        inputs.path = qEnvironmentVariable("PATH");
    return inputs;
}

QString DiagnosticsReport::gather()
{
    return gather(Inputs::current());
}

QCoro::Task<QString> DiagnosticsReport::gatherAsync()
{
    // The inputs are read on the caller's thread (the app's bundle and the
    // engine bridge's interpreter choice), the slow part runs elsewhere.
    Inputs inputs = Inputs::current();
    const QString report = co_await gatherAsync(std::move(inputs));
    co_return report;
}
