#include "platform/VarnoPaths.h"

#include <QDir>
#include <QMutex>
#include <QMutexLocker>

namespace {

QMutex overrideMutex;
std::optional<QString> homeOverride;

} // namespace

namespace VarnoPaths {

QString home()
{
    {
        QMutexLocker lock(&overrideMutex);
        if (homeOverride)
            return *homeOverride;
    }
    // QDir::homePath() reads $HOME on every call, so a test that sets HOME
    // before touching anything gets its own folder.
    return QDir::homePath();
}

QString inHome(const QString &relative)
{
    return QDir::cleanPath(home() + QLatin1Char('/') + relative);
}

QString engineDir()
{
    return inHome(QStringLiteral(".varno"));
}
QString engineScript()
{
    return inHome(QStringLiteral(".varno/varno.py"));
}
QString appSupportDir()
{
    return inHome(QStringLiteral("Library/Application Support/VARNO"));
}
QString engineBytecodeDir()
{
    return inHome(QStringLiteral("Library/Application Support/VARNO/bytecode"));
}
QString logsDir()
{
    return inHome(QStringLiteral("Library/Logs/VARNO"));
}
QString localBinDir()
{
    return inHome(QStringLiteral(".local/bin"));
}

void setHomeOverride(std::optional<QString> newHome)
{
    QMutexLocker lock(&overrideMutex);
    homeOverride = std::move(newHome);
}

} // namespace VarnoPaths
