#include "TestSupport.h"

#include "engine/VARNOProcess.h"
#include "platform/Clock.h"
#include "platform/MainBundle.h"
#include "platform/VarnoPaths.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QThread>

#include <atomic>
#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace VarnoTest {

TempHome::TempHome()
{
    if (!m_dir.isValid())
        qFatal("Couldn't create a temporary home folder: %s", qPrintable(m_dir.errorString()));
    const QByteArray home = QFile::encodeName(m_dir.path());
    setEnv("HOME", home);
    setEnv("XDG_CONFIG_HOME", home + "/.config");
    setEnv("XDG_DATA_HOME", home + "/.local/share");
    setEnv("XDG_CACHE_HOME", home + "/.cache");
    setEnv("XDG_STATE_HOME", home + "/.local/state");
    QDir().mkpath(m_dir.path() + QStringLiteral("/.runtime"));
    QFile::setPermissions(m_dir.path() + QStringLiteral("/.runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    setEnv("XDG_RUNTIME_DIR", home + "/.runtime");
    setEnv("VARNO_SETTINGS_FILE", QFile::encodeName(settingsFile()));
    VarnoPaths::setHomeOverride(std::nullopt);
}

TempHome::~TempHome()
{
    for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it) {
        if (it.value())
            qputenv(it.key().constData(), *it.value());
        else
            qunsetenv(it.key().constData());
    }
}

void TempHome::setEnv(const char *name, const QByteArray &value)
{
    if (!m_saved.contains(name))
        m_saved.insert(name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
    qputenv(name, value);
}

QString TempHome::filePath(const QString &relative) const
{
    return QDir::cleanPath(m_dir.path() + QLatin1Char('/') + relative);
}

QString TempHome::mkpath(const QString &relative) const
{
    const QString path = filePath(relative);
    QDir().mkpath(path);
    return path;
}

QString TempHome::settingsFile() const
{
    return filePath(QStringLiteral(".config/VARNO/org.varno.workshop.ini"));
}

FakeTools::FakeTools()
{
    if (!m_dir.isValid())
        qFatal("Couldn't create a folder for fake tools: %s", qPrintable(m_dir.errorString()));
}

QString FakeTools::write(const QString &name, const QByteArray &body)
{
    const QString path = m_dir.filePath(name);
    const QByteArray script = body.startsWith("#!") ? body : QByteArray("#!/bin/sh\n") + body;
    if (!writeFile(path, script))
        qFatal("Couldn't write the fake tool %s", qPrintable(path));
    QFile::setPermissions(path,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                              | QFileDevice::ReadGroup | QFileDevice::ExeGroup);
    return path;
}

FixedClock::FixedClock(QDateTime now)
    : m_now(std::make_shared<QDateTime>(std::move(now)))
{
    Clock::setSource([clock = m_now] { return *clock; });
}

FixedClock::~FixedClock()
{
    Clock::setSource({});
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QString stagedBundlePath()
{
    return QStringLiteral(VARNO_BUNDLE_DIR);
}

QString sourcePath(const QString &relative)
{
    const QString root = QStringLiteral(VARNO_SOURCE_DIR);
    return relative.isEmpty() ? root : QDir::cleanPath(root + QLatin1Char('/') + relative);
}

ShellInterpreter::ShellInterpreter()
{
    VARNOProcess::setPython3OverrideForTesting(QStringLiteral("/bin/sh"));
}

ShellInterpreter::~ShellInterpreter()
{
    VARNOProcess::setPython3OverrideForTesting(std::nullopt);
}

namespace {

QMutex captureMutex;
QStringList *captured = nullptr;
QtMessageHandler previousHandler = nullptr;

void captureHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        QMutexLocker lock(&captureMutex);
        if (captured)
            captured->append(message);
    }
    if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

LogCapture::LogCapture()
{
    QMutexLocker lock(&captureMutex);
    captured = new QStringList;
    previousHandler = qInstallMessageHandler(captureHandler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previousHandler);
    QMutexLocker lock(&captureMutex);
    delete captured;
    captured = nullptr;
    previousHandler = nullptr;
}

QStringList LogCapture::messages() const
{
    QMutexLocker lock(&captureMutex);
    return captured ? *captured : QStringList();
}

int LogCapture::count(const QString &message) const
{
    return int(messages().count(message));
}

int LogCapture::countStartingWith(const QString &prefix) const
{
    int n = 0;
    for (const QString &message : messages())
        n += message.startsWith(prefix) ? 1 : 0;
    return n;
}

bool copyTree(const QString &from, const QString &to)
{
    if (!QDir().mkpath(to))
        return false;
    QDirIterator it(from, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = to + path.mid(from.size());
        if (it.fileInfo().isDir()) {
            if (!QDir().mkpath(target))
                return false;
        } else {
            QDir().mkpath(QFileInfo(target).absolutePath());
            QFile::remove(target);
            if (!QFile::copy(path, target))
                return false;
        }
    }
    return true;
}

bool installStagedEngine()
{
    const QString source = stagedBundlePath() + QStringLiteral("/Contents/Resources/cli");
    if (!QFileInfo::exists(source + QStringLiteral("/varno.py")))
        return false;
    const QString target = VarnoPaths::engineDir();
    QDirIterator it(source, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (file.contains(QStringLiteral("/__pycache__/")))
            continue;
        const QString destination = target + QLatin1Char('/') + QDir(source).relativeFilePath(file);
        QDir().mkpath(QFileInfo(destination).absolutePath());
        QFile::remove(destination);
        if (!QFile::copy(file, destination))
            return false;
    }
    return true;
}

EngineRun runEngine(const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    process.setWorkingDirectory(VarnoPaths::engineDir());
    process.start(QStringLiteral("/usr/bin/python3"), QStringList{VarnoPaths::engineScript()} + arguments);
    EngineRun run;
    if (!process.waitForStarted(timeoutMs))
        return run;
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.standardOutput = process.readAllStandardOutput();
    run.standardError = process.readAllStandardError();
    return run;
}

bool prepareSimulatedMac()
{
    if (!installStagedEngine())
        return false;
    return runEngine({QStringLiteral("migrate")}).exitCode == 0
        && runEngine({QStringLiteral("sim"), QStringLiteral("knobs"), QStringLiteral("speed"), QStringLiteral("0")}).exitCode
        == 0;
}

bool processIsAlive(qint64 pid)
{
    if (pid <= 0)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0 || close + 2 >= line.size())
        return false;
    const char state = line.at(close + 2);
    return state != 'Z' && state != 'X';
}

void killProcesses(const QList<qint64> &pids)
{
    for (const qint64 pid : pids) {
        if (processIsAlive(pid))
            ::kill(pid_t(pid), SIGKILL);
    }
}

QList<qint64> readPids(const QString &path)
{
    QList<qint64> pids;
    for (const QByteArray &word : readFile(path).simplified().split(' ')) {
        bool ok = false;
        const qint64 pid = word.toLongLong(&ok);
        if (ok && pid > 0)
            pids.append(pid);
    }
    return pids;
}

struct ReadySignal::State {
    QByteArray fifo;
    std::atomic<bool> ready{false};
    std::atomic<bool> done{false};
    QThread *reader = nullptr;
};

ReadySignal::ReadySignal(const QString &path)
    : m_state(std::make_shared<State>())
{
    m_state->fifo = QFile::encodeName(path);
    if (::mkfifo(m_state->fifo.constData(), 0600) != 0)
        qFatal("Couldn't make the pipe %s", m_state->fifo.constData());
    const std::shared_ptr<State> state = m_state;
    m_state->reader = QThread::create([state] {
        QFile pipe(QFile::decodeName(state->fifo));
        if (pipe.open(QIODevice::ReadOnly)) { // blocks until the engine opens it
            pipe.readLine();
            state->ready = true;
        }
        state->done = true;
    });
    m_state->reader->start();
}

ReadySignal::~ReadySignal()
{
    if (!m_state->done) {
        // The engine never wrote: release the waiting thread.
        const int fd = ::open(m_state->fifo.constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    }
    m_state->reader->wait();
    delete m_state->reader;
}

bool ReadySignal::isReady() const
{
    return m_state->ready;
}

bool ReadySignal::wait(std::chrono::milliseconds timeout) const
{
    const std::shared_ptr<State> state = m_state;
    return waitUntil([state] { return bool(state->ready); }, timeout);
}

bool ReadySignal::waitHoldingEvents(std::chrono::milliseconds timeout) const
{
    // The reader thread ends once it has read the engine's line.
    m_state->reader->wait(QDeadlineTimer(timeout));
    return m_state->ready;
}

bool waitUntil(const std::function<bool()> &predicate, std::chrono::milliseconds timeout)
{
    QDeadlineTimer deadline(timeout);
    while (!predicate()) {
        if (deadline.hasExpired())
            return predicate();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

AppRecord makeRecord(const QByteArray &json)
{
    const auto record = AppRecord::fromJson(QJsonDocument::fromJson(json).object());
    if (!record)
        qFatal("test record does not decode: %s", json.constData());
    return *record;
}

QList<QStringList> engineCommands()
{
    QList<QStringList> entries;
    const QByteArray text = runEngine({QStringLiteral("sim"), QStringLiteral("journal")}).standardOutput;
    for (const QByteArray &line : text.split('\n')) {
        // Time, exit status, duration and the arguments as a JSON array,
        // tab-separated.
        const QList<QByteArray> parts = line.split('\t');
        if (parts.size() < 4)
            continue;
        QStringList argv;
        const QJsonArray array = QJsonDocument::fromJson(parts.mid(3).join('\t')).array();
        for (const QJsonValue &value : array)
            argv.append(value.toString());
        if (argv.size() >= 2 && argv.at(0) == QLatin1String("--engine-contract-version"))
            argv.remove(0, 2);
        entries.append(argv);
    }
    return entries;
}

} // namespace VarnoTest
