#include "platform/RunningApplications.h"

#include "platform/PropertyList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QThread>

#include <signal.h>

namespace {

QMutex backendMutex;
std::shared_ptr<RunningApplicationsBackend> currentBackend;

bool isInside(const QString &path, const QString &folder)
{
    if (path.isEmpty() || folder.isEmpty())
        return false;
    const QString cleanFolder = QDir::cleanPath(folder);
    return QDir::cleanPath(path).startsWith(cleanFolder + QLatin1Char('/'));
}

std::optional<QString> bundleIdentifierOf(const QString &bundle)
{
    const auto parsed = PropertyList::parseFile(bundle + QStringLiteral("/Contents/Info.plist"));
    if (!parsed.ok())
        return std::nullopt;
    const QVariant id = parsed.value.toMap().value(QStringLiteral("CFBundleIdentifier"));
    if (id.typeId() != QMetaType::QString)
        return std::nullopt;
    return id.toString();
}

} // namespace

namespace RunningApplications {

std::shared_ptr<RunningApplicationsBackend> backend()
{
    QMutexLocker lock(&backendMutex);
    if (!currentBackend)
        currentBackend = std::make_shared<ProcRunningApplications>();
    return currentBackend;
}

void setBackend(std::shared_ptr<RunningApplicationsBackend> backend)
{
    QMutexLocker lock(&backendMutex);
    currentBackend = std::move(backend);
}

QList<RunningApplication> withBundleIdentifier(const QString &bundleIdentifier, const std::optional<QString> &installPath)
{
    return backend()->runningApplications(bundleIdentifier, installPath);
}

} // namespace RunningApplications

// ---------------------------------------------------------------------------
// ProcRunningApplications

std::optional<QString> ProcRunningApplications::enclosingBundle(const QString &path)
{
    QString current = QDir::cleanPath(path);
    while (!current.isEmpty() && current != QLatin1String("/")) {
        if (current.endsWith(QLatin1String(".app")))
            return current;
        const qsizetype slash = current.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0)
            break;
        current.truncate(slash);
    }
    return std::nullopt;
}

std::optional<ProcRunningApplications::ProcessInfo> ProcRunningApplications::readProcess(qint64 pid) const
{
    const QString base = m_procRoot + QLatin1Char('/') + QString::number(pid);
    QFile statFile(base + QStringLiteral("/stat"));
    if (!statFile.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray stat = statFile.readAll();
    // "pid (comm) state ppid … starttime …": the name may hold blanks and
    // parentheses, so the fields are counted from the last ')'.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() < 20)
        return std::nullopt;
    ProcessInfo info;
    info.pid = pid;
    info.zombie = fields[0] == "Z" || fields[0] == "X";
    info.startTime = fields[19].toULongLong();
    info.executable = QFileInfo(base + QStringLiteral("/exe")).symLinkTarget();
    QFile cmdline(base + QStringLiteral("/cmdline"));
    if (cmdline.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = cmdline.read(64 * 1024);
        info.firstArgument = QFile::decodeName(bytes.left(bytes.indexOf('\0') < 0 ? bytes.size() : bytes.indexOf('\0')));
    }
    return info;
}

template<typename Belongs>
QList<RunningApplication> ProcRunningApplications::scan(Belongs belongs) const
{
    QList<RunningApplication> found;
    const qint64 self = QCoreApplication::applicationPid();
    const QStringList entries = QDir(m_procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric || pid == self)
            continue;
        const auto info = readProcess(pid);
        if (!info || info->zombie)
            continue;
        if (belongs(*info))
            found.append(RunningApplication{pid, info->executable, info->startTime});
    }
    return found;
}

QList<RunningApplication> ProcRunningApplications::runningApplications(const QString &bundleIdentifier,
                                                                       const std::optional<QString> &installPath)
{
    return scan([&](const ProcessInfo &info) {
        for (const QString &program : {info.executable, info.firstArgument}) {
            if (!QDir::isAbsolutePath(program))
                continue;
            if (installPath && !installPath->isEmpty() && isInside(program, *installPath))
                return true;
            if (const auto bundle = enclosingBundle(program)) {
                if (bundleIdentifierOf(*bundle) == bundleIdentifier)
                    return true;
            }
        }
        return false;
    });
}

QList<RunningApplication> ProcRunningApplications::runningInside(const QString &bundlePath)
{
    if (bundlePath.isEmpty())
        return {};
    return scan([&](const ProcessInfo &info) {
        return QDir::isAbsolutePath(info.executable) && isInside(info.executable, bundlePath);
    });
}

bool ProcRunningApplications::terminate(const RunningApplication &application)
{
    if (isTerminated(application))
        return false;
    return ::kill(static_cast<pid_t>(application.pid), SIGTERM) == 0;
}

bool ProcRunningApplications::isTerminated(const RunningApplication &application)
{
    const auto info = readProcess(application.pid);
    return !info || info->zombie || info->startTime != application.startTime;
}

// ---------------------------------------------------------------------------
// FakeRunningApplications

RunningApplication FakeRunningApplications::addInstance(const QString &bundleIdentifier, bool agrees, bool quits,
                                                        const std::optional<QString> &executable, bool endsWhenListed)
{
    QMutexLocker lock(&m_mutex);
    Instance instance;
    instance.bundleIdentifier = bundleIdentifier;
    const QString path = executable.value_or(
        QStringLiteral("/Applications/%1.app/Contents/MacOS/%1").arg(bundleIdentifier));
    instance.application = RunningApplication{m_nextPid++, path, 1};
    instance.agrees = agrees;
    instance.quits = quits;
    instance.endsWhenListed = endsWhenListed;
    m_instances.append(instance);
    return instance.application;
}

void FakeRunningApplications::listed(Instance &instance)
{
    if (instance.endsWhenListed)
        instance.terminated = true;
}

QList<RunningApplication> FakeRunningApplications::runningApplications(const QString &bundleIdentifier,
                                                                       const std::optional<QString> &)
{
    QMutexLocker lock(&m_mutex);
    m_listingThreads.append(QThread::currentThreadId());
    QList<RunningApplication> found;
    for (Instance &instance : m_instances) {
        if (instance.bundleIdentifier == bundleIdentifier && !instance.terminated) {
            found.append(instance.application);
            listed(instance);
        }
    }
    return found;
}

QList<RunningApplication> FakeRunningApplications::runningInside(const QString &bundlePath)
{
    QMutexLocker lock(&m_mutex);
    m_listingThreads.append(QThread::currentThreadId());
    QList<RunningApplication> found;
    for (Instance &instance : m_instances) {
        if (isInside(instance.application.executablePath, bundlePath) && !instance.terminated) {
            found.append(instance.application);
            listed(instance);
        }
    }
    return found;
}

QList<Qt::HANDLE> FakeRunningApplications::listingThreads() const
{
    QMutexLocker lock(&m_mutex);
    return m_listingThreads;
}

bool FakeRunningApplications::terminate(const RunningApplication &application)
{
    QMutexLocker lock(&m_mutex);
    m_requests.append(application.pid);
    for (Instance &instance : m_instances) {
        if (instance.application == application && !instance.terminated) {
            if (instance.agrees && instance.quits)
                instance.terminated = true;
            return instance.agrees;
        }
    }
    return false;
}

bool FakeRunningApplications::isTerminated(const RunningApplication &application)
{
    QMutexLocker lock(&m_mutex);
    for (const Instance &instance : std::as_const(m_instances)) {
        if (instance.application == application)
            return instance.terminated;
    }
    return true;
}

QList<qint64> FakeRunningApplications::terminateRequests() const
{
    QMutexLocker lock(&m_mutex);
    return m_requests;
}
