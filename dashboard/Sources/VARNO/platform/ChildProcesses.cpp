#include "platform/ChildProcesses.h"

#include "base/Logging.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QSet>
#include <QThread>

#include <cerrno>
#include <csignal>

#include <sys/types.h>
#include <unistd.h>

namespace ChildProcesses {

namespace {

struct Registry {
    QMutex mutex;
    QSet<qint64> groups;
    bool shuttingDown = false;
};

Registry &registry()
{
    static Registry *instance = new Registry; // outlives every static destructor
    return *instance;
}

#ifdef Q_OS_LINUX
// The state letter and the process group of one /proc/<pid>/stat line:
// "pid (comm) S ppid pgrp ...", where comm may itself hold blanks and parentheses.
bool readStat(const QString &path, char *state, qint64 *group)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = file.read(1024);
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0)
        return false;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    if (fields.size() < 3 || fields.at(0).isEmpty())
        return false;
    *state = fields.at(0).at(0);
    bool ok = false;
    *group = fields.at(2).toLongLong(&ok);
    return ok;
}
#endif

} // namespace

void placeInOwnGroup(QProcess &process)
{
    // Runs in the child between fork and exec: only async-signal-safe calls.
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
}

void signalGroup(qint64 pid, int signal)
{
    if (pid <= 0)
        return;
    if (::kill(-pid_t(pid), signal) != 0 && errno == ESRCH) {
        // A leader that could not make its own group (it exited at once)
        // is still reached by its own id.
        ::kill(pid_t(pid), signal);
    }
}

bool groupIsAlive(qint64 pid)
{
    if (pid <= 0)
        return false;
#ifdef Q_OS_LINUX
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        if (entry.isEmpty() || !entry.at(0).isDigit())
            continue;
        char state = 0;
        qint64 group = 0;
        if (!readStat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"), &state, &group))
            continue;
        if (group == pid && state != 'Z' && state != 'X')
            return true;
    }
    return false;
#else
    return ::kill(-pid_t(pid), 0) == 0;
#endif
}

Registration::~Registration()
{
    remove();
}

bool Registration::start(QProcess &process)
{
    remove();
    if (isShuttingDown())
        return false;
    process.start();
    return add(process.processId());
}

bool Registration::add(qint64 pid)
{
    remove();
    if (pid <= 0)
        return true;
    // The child makes its own group between fork and exec, but need not have
    // run yet. Making it from here as well means the group exists before the
    // quit path can signal it, whichever of the two runs first; once the
    // child has run its exec (and so made the group) this call fails, and
    // nothing is lost.
    ::setpgid(pid_t(pid), pid_t(pid));
    Registry &r = registry();
    {
        QMutexLocker lock(&r.mutex);
        if (!r.shuttingDown) {
            r.groups.insert(pid);
            m_pid = pid;
            return true;
        }
    }
    signalGroup(pid, SIGKILL);
    return false;
}

void Registration::remove()
{
    if (m_pid <= 0)
        return;
    Registry &r = registry();
    QMutexLocker lock(&r.mutex);
    r.groups.remove(m_pid);
    m_pid = 0;
}

void shutDown(int graceMs)
{
    Registry &r = registry();
    QList<qint64> groups;
    {
        QMutexLocker lock(&r.mutex);
        r.shuttingDown = true;
        groups = r.groups.values();
    }
    if (groups.isEmpty())
        return;
    qCInfo(lcVarno, "quitting: asking %d child process(es) to stop", int(groups.size()));
    for (const qint64 pid : groups)
        signalGroup(pid, SIGTERM);

    const QDeadlineTimer deadline(qMax(0, graceMs));
    for (;;) {
        QList<qint64> alive;
        for (const qint64 pid : groups) {
            if (groupIsAlive(pid))
                alive.append(pid);
        }
        groups = alive;
        if (groups.isEmpty() || deadline.hasExpired())
            break;
        QThread::msleep(qMin<qint64>(25, qMax<qint64>(1, deadline.remainingTime())));
    }
    for (const qint64 pid : groups) {
        qCWarning(lcVarno, "quitting: child process %lld did not stop, killing", static_cast<long long>(pid));
        signalGroup(pid, SIGKILL);
    }
}

bool isShuttingDown()
{
    Registry &r = registry();
    QMutexLocker lock(&r.mutex);
    return r.shuttingDown;
}

int runningCount()
{
    Registry &r = registry();
    QMutexLocker lock(&r.mutex);
    return int(r.groups.size());
}

void resetForTesting()
{
    Registry &r = registry();
    QMutexLocker lock(&r.mutex);
    r.shuttingDown = false;
}

// --- Stopper -------------------------------------------------------------------

Stopper::Stopper(QProcess *process, int graceMs)
    : m_process(process)
    , m_graceMs(graceMs)
    , m_pid(process->processId())
{
    m_killTimer.setSingleShot(true);
    QObject::connect(&m_killTimer, &QTimer::timeout, &m_killTimer, [this] { kill(); });
}

Stopper::~Stopper() = default;

void Stopper::stop()
{
    if (m_requested || m_process->state() == QProcess::NotRunning)
        return;
    m_requested = true;
    if (const qint64 pid = m_process->processId(); pid > 0)
        m_pid = pid;
    signalGroup(m_pid, SIGTERM);
    m_killTimer.start(qMax(0, m_graceMs));
}

void Stopper::kill()
{
    if (m_process->state() == QProcess::NotRunning)
        return;
    qCWarning(lcVarno, "subprocess ignored the termination request, killing");
    m_killed = true;
    signalGroup(m_pid, SIGKILL);
}

void Stopper::childFinished()
{
    m_killTimer.stop();
    // The child has gone; what it started in its group goes with it, whether
    // the child was asked to stop or exited on its own: a grandchild that
    // outlives its run (holding the run's pipes or not) belongs to nobody.
    // A helper the engine means to keep starts a session of its own.
    if (m_pid > 0 && groupIsAlive(m_pid))
        signalGroup(m_pid, SIGKILL);
}

} // namespace ChildProcesses
