#include "platform/DebugLog.h"

#include "base/Logging.h"
#include "platform/Clock.h"
#include "platform/MainBundle.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#include <unistd.h>

namespace {

struct Frozen {
    QMutex mutex;
    std::optional<bool> enabled;
    std::optional<QDateTime> startTime;
};

Frozen &frozen()
{
    static Frozen values;
    return values;
}

bool computeEnabled()
{
    std::optional<QByteArray> variable;
    if (qEnvironmentVariableIsSet("VARNO_DEBUG"))
        variable = qgetenv("VARNO_DEBUG");
    return DebugLog::isEnabledFor(variable, MainBundle::infoString(QStringLiteral("CFBundleShortVersionString")));
}

} // namespace

namespace DebugLog {

bool isEnabledFor(const std::optional<QByteArray> &debugVariable, const std::optional<QString> &versionString)
{
    if (debugVariable && *debugVariable == "1")
        return true;
    return versionString && versionString->contains(QStringLiteral("debug"), Qt::CaseSensitive);
}

bool enabled()
{
    Frozen &values = frozen();
    QMutexLocker lock(&values.mutex);
    if (!values.enabled)
        values.enabled = computeEnabled();
    return *values.enabled;
}

std::optional<QDateTime> startTime()
{
    Frozen &values = frozen();
    QMutexLocker lock(&values.mutex);
    return values.startTime;
}

int residentMegabytes()
{
    // /proc/self/statm: size resident shared text lib data dt, in pages.
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().simplified().split(' ');
    if (fields.size() < 2)
        return -1;
    bool ok = false;
    const qint64 pages = fields.at(1).toLongLong(&ok);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (!ok || pages < 0 || pageSize <= 0)
        return -1;
    return int((pages * qint64(pageSize)) / 1048576);
}

QString formatLine(double elapsedSeconds, int megabytes, const QString &phase, const std::optional<QString> &detail)
{
    const QString extra = detail ? QStringLiteral(" | ") + *detail : QString();
    return QString::asprintf("[VARNO/dbg] +%.2fs | %d MB | phase=", elapsedSeconds, megabytes) + phase + extra;
}

void breadcrumb(const QString &phase, const std::optional<QString> &detail)
{
    if (!enabled())
        return;
    QDateTime start;
    {
        Frozen &values = frozen();
        QMutexLocker lock(&values.mutex);
        if (!values.startTime)
            values.startTime = Clock::now();
        start = *values.startTime;
    }
    const double elapsed = double(start.msecsTo(Clock::now())) / 1000.0;
    qCInfo(lcVarno).noquote() << formatLine(elapsed, residentMegabytes(), phase, detail);
}

void resetForTesting()
{
    Frozen &values = frozen();
    QMutexLocker lock(&values.mutex);
    values.enabled.reset();
    values.startTime.reset();
}

} // namespace DebugLog
