#include "engine/CLIBootstrap.h"

#include "base/Async.h"
#include "base/Logging.h"
#include "base/Utf8Text.h"
#include "engine/EngineGate.h"
#include "engine/EngineManifest.h"
#include "engine/ShellLauncher.h"
#include "engine/UpdateLogWriter.h"
#include "engine/VARNOError.h"
#include "engine/VARNOProcess.h"
#include "platform/ChildProcesses.h"
#include "platform/Clock.h"
#include "platform/MainBundle.h"
#include "platform/VarnoPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <qcoro/qcorofuture.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>

namespace {

// Whole runs, one at a time, whichever thread calls.
QMutex bootstrapMutex;

QMutex timingMutex;
CLIBootstrap::Timing currentTiming;

const QFileDevice::Permissions privateFolder = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

// The bootstrap's own thread, so that a run never waits for (or holds up)
// the global pool.
QThreadPool &bootstrapPool()
{
    static QThreadPool *pool = Async::newPool(QStringLiteral("org.varno.cli-bootstrap"), 1);
    return *pool;
}

std::optional<QString> readTrimmed(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    const auto text = Utf8Text::decode(bytes);
    if (!text)
        return std::nullopt;
    return text->trimmed();
}

QString describeBootstrapArguments(const QStringList &arguments)
{
    QStringList quoted;
    for (QString argument : arguments) {
        argument.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
        argument.replace(QLatin1Char('"'), QStringLiteral("\\\""));
        quoted.append(QLatin1Char('"') + argument + QLatin1Char('"'));
    }
    return QLatin1Char('[') + quoted.join(QStringLiteral(", ")) + QLatin1Char(']');
}

[[noreturn]] void failCopy(const QString &path, const QString &reason)
{
    throw CLIBootstrapError::copyFailed(QStringLiteral("\u201c%1\u201d couldn't be written: %2").arg(path, reason),
                                        QStringLiteral("copy into %1 failed: %2").arg(path, reason));
}

void copyFile(const QString &source, const QString &destination)
{
    // Whatever sits at the destination goes first; the copy decides.
    QFile::remove(destination);
    QFile file(source);
    if (!file.copy(destination))
        failCopy(destination, file.errorString());
}

void makeFolder(const QString &path)
{
    if (QFileInfo(path).isDir())
        return;
    if (!QDir().mkpath(path))
        failCopy(path, QStringLiteral("the folder could not be created"));
}

// Copies the tree at source to destination, folders before their contents.
void copyTree(const QString &source, const QString &destination)
{
    makeFolder(destination);
    QDirIterator it(source, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    const QString prefix = source + QLatin1Char('/');
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = path.startsWith(prefix) ? path.mid(prefix.size()) : it.fileName();
        const QString target = destination + QLatin1Char('/') + relative;
        if (it.fileInfo().isDir()) {
            makeFolder(target);
        } else {
            makeFolder(QFileInfo(target).absolutePath());
            copyFile(path, target);
        }
    }
}

// Standard error of a setup step: the first stderrCap bytes.
struct StderrCapture {
    QByteArray data;
    bool truncated = false;

    void append(const QByteArray &chunk)
    {
        if (chunk.isEmpty())
            return;
        const qsizetype room = CLIBootstrap::stderrCap - data.size();
        if (room <= 0) {
            truncated = true;
            return;
        }
        if (chunk.size() <= room) {
            data.append(chunk);
        } else {
            data.append(chunk.constData(), room);
            truncated = true;
        }
    }

    QString text() const
    {
        if (!truncated)
            return Utf8Text::decode(data).value_or(QString());
        // A cut inside a character loses that character, not the whole text.
        return Utf8Text::decode(Utf8Text::withoutIncompleteTail(data)).value_or(QString())
            + QStringLiteral("\n[stderr truncated at 1 MB]");
    }
};

void removeTree(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink() || (info.exists() && !info.isDir()))
        QFile::remove(path);
    else if (info.exists())
        QDir(path).removeRecursively();
}

// The engine compiles its modules once and keeps the bytecode in its data
// folder, where an entry is taken whenever its stored source matches the file.
// The manifest vouches for the sources, not for that code: every install
// starts without it, and the engine compiles again from the verified files.
void clearEngineBytecode()
{
    const QString cache = VarnoPaths::engineBytecodeDir();
    removeTree(cache);
    const QFileInfo left(cache);
    if (left.exists() || left.isSymLink())
        throw CLIBootstrapError::copyFailed(QStringLiteral("\u201c%1\u201d couldn't be removed").arg(cache),
                                            QStringLiteral("removing the engine's bytecode at %1 failed").arg(cache));
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Puts the staged tree where the installed one is, in one step where the
// system can exchange two folders; the previous tree ends up at `staging`.
bool exchange(const QString &staging, const QString &target)
{
    const QByteArray from = QFile::encodeName(staging);
    const QByteArray to = QFile::encodeName(target);
#ifdef RENAME_EXCHANGE
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
#endif
    // No exchange on this system or file system: two renames.
    const QByteArray aside = QFile::encodeName(target + QStringLiteral(".previous"));
    removeTree(QFile::decodeName(aside));
    if (std::rename(to.constData(), aside.constData()) != 0)
        return false;
    if (std::rename(from.constData(), to.constData()) != 0) {
        const int error = errno;
        std::rename(aside.constData(), to.constData());
        errno = error;
        return false;
    }
    return std::rename(aside.constData(), from.constData()) == 0 || (removeTree(QFile::decodeName(aside)), true);
}

struct Outcome {
    std::exception_ptr error;
};

Outcome runGuarded(const QString &engineDir)
{
    try {
        CLIBootstrap::runRecorded(engineDir);
        return {};
    } catch (...) {
        return {std::current_exception()};
    }
}

} // namespace

QString CLIBootstrap::varnoDir()
{
    return VarnoPaths::engineDir();
}

std::optional<QString> CLIBootstrap::bundledCLI()
{
    const auto resources = MainBundle::resourcesPath();
    if (!resources)
        return std::nullopt;
    return *resources + QStringLiteral("/cli");
}

std::optional<QString> CLIBootstrap::bundledVersion()
{
    const auto cli = bundledCLI();
    if (!cli)
        return std::nullopt;
    return readTrimmed(*cli + QStringLiteral("/.cli_version"));
}

std::optional<QString> CLIBootstrap::installedVersion()
{
    return readTrimmed(varnoDir() + QStringLiteral("/.cli_version"));
}

CLIBootstrap::Timing CLIBootstrap::timing()
{
    QMutexLocker lock(&timingMutex);
    return currentTiming;
}

void CLIBootstrap::setTiming(const Timing &timing)
{
    QMutexLocker lock(&timingMutex);
    currentTiming = timing;
}

void CLIBootstrap::bootstrapIfNeeded()
{
    const QString engineDir = varnoDir();
    EngineGate::bootstrapStarted(engineDir);
    runRecorded(engineDir);
}

void CLIBootstrap::runRecorded(const QString &engineDir)
{
    if (QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread())
        qCWarning(lcVarno, "the engine bootstrap runs on the GUI thread and blocks it");
    QMutexLocker lock(&bootstrapMutex);
    try {
        unsafeBootstrap();
    } catch (...) {
        EngineGate::bootstrapFinished(engineDir, std::current_exception());
        throw;
    }
    EngineGate::bootstrapFinished(engineDir, nullptr);
}

bool CLIBootstrap::waitForRunToEnd(int graceMs)
{
    return bootstrapPool().waitForDone(qMax(0, graceMs));
}

QCoro::Task<void> CLIBootstrap::bootstrap()
{
    // From now on engine commands wait for this run (and fail if it fails).
    const QString engineDir = varnoDir();
    EngineGate::bootstrapStarted(engineDir);
    Async::Work<Outcome> running = Async::offThread(nullptr, &bootstrapPool(),
                                                    [engineDir] { return runGuarded(engineDir); });
    const Outcome outcome = co_await running;
    if (outcome.error)
        std::rethrow_exception(outcome.error);
}

void CLIBootstrap::unsafeBootstrap()
{
    const auto cli = bundledCLI();
    const QFileInfo cliInfo(cli.value_or(QString()));
    // Without a shipped engine there is nothing to install, and nothing that
    // could vouch for whatever sits in ~/.varno: that is a failure, not a pass.
    if (!cli || !cliInfo.exists())
        throw CLIBootstrapError::bundledCLIMissing();

    const bool firstInstall = !installedVersion().has_value();

    clearEngineBytecode();

    // Copied into a staging folder, verified there, then swapped into place:
    // a damaged engine never replaces a sound one, and what is installed is
    // exactly the verified copy.
    installBundledCLI(*cli);
    QFile::setPermissions(varnoDir(), privateFolder);
    rotateScanLog();

    const Timing timing = CLIBootstrap::timing();
    runBundledCLICommand({QStringLiteral("migrate")}, timing.setupTimeout,
                         [](int code, const QString &text) { return CLIBootstrapError::migrationFailed(code, text); });
    runBundledCLICommand({QStringLiteral("selftest")}, timing.setupTimeout,
                         [](int code, const QString &text) { return CLIBootstrapError::selftestFailed(code, text); });

    hardenDataDirectoryPermissions();
    if (firstInstall)
        installShellAlias();
}

QString CLIBootstrap::stagingDir()
{
    return varnoDir() + QStringLiteral(".staging");
}

void CLIBootstrap::installBundledCLI(const QString &source)
{
    // The shipped tree must be a folder that can be listed.
    const QFileInfo sourceInfo(source);
    if (!sourceInfo.isDir() || !sourceInfo.isReadable() || !sourceInfo.isExecutable())
        throw CLIBootstrapError::copyFailedBundledCLIMissing();

    const QString target = varnoDir();
    const QString staging = stagingDir();
    // What an interrupted run left behind goes first.
    removeTree(staging);
    try {
        copyTree(source, staging);
        QFile::setPermissions(staging, privateFolder);
        verifyCLIHash(staging);
    } catch (...) {
        // The installed engine stays as it was.
        removeTree(staging);
        throw;
    }

    const QFileInfo targetInfo(target);
    if (!targetInfo.exists() && !targetInfo.isSymLink()) {
        if (!QDir().rename(staging, target)) {
            const QString reason = systemError();
            removeTree(staging);
            failCopy(target, reason);
        }
        return;
    }
    if (!exchange(staging, target)) {
        const QString reason = systemError();
        removeTree(staging);
        failCopy(target, reason);
    }
    // The previous tree is now at the staging path. The background scan's log
    // is the install's data, not the engine's: it moves over.
    const QString oldLogs = staging + QStringLiteral("/logs");
    const QString newLogs = target + QStringLiteral("/logs");
    if (QFileInfo(oldLogs).isDir() && !QFileInfo::exists(newLogs))
        QDir().rename(oldLogs, newLogs);
    removeTree(staging);
}

void CLIBootstrap::verifyCLIHash(const QString &installDir)
{
    EngineManifest::verify(EngineManifest::bundledManifestPath(), installDir);
}

void CLIBootstrap::rotateScanLog()
{
    const QString log = varnoDir() + QStringLiteral("/logs/scan.err");
    if (!QFileInfo::exists(log))
        return;
    const QString previous = log + QStringLiteral(".prev");
    QFile::remove(previous);
    QFile::rename(log, previous);
}

void CLIBootstrap::runBundledCLICommand(const QStringList &arguments, double timeout,
                                        const std::function<CLIBootstrapError(int, const QString &)> &mapFailure)
{
    const QString root = varnoDir();
    std::unique_ptr<QProcess> process = VARNOProcess::makeProcess(root + QStringLiteral("/varno.py"), root, arguments);
    process->setStandardOutputFile(QProcess::nullDevice());

    StderrCapture captured;
    QObject::connect(process.get(), &QProcess::readyReadStandardError, process.get(),
                     [&captured, p = process.get()] { captured.append(p->readAllStandardError()); });

    QEventLoop loop;
    QObject::connect(process.get(), &QProcess::finished, &loop, &QEventLoop::quit);

    // Registered from the fork on: a quit from the GUI thread while this one
    // still waits for the start ends the step and what it started.
    ChildProcesses::Registration registration;
    if (!registration.start(*process))
        throw ProcessLaunchError(QStringLiteral("VARNO is quitting."));
    if (!process->waitForStarted(-1) && process->error() == QProcess::FailedToStart)
        throw ProcessLaunchError(process->errorString());
    // The setup steps read nothing; one that tries gets end of file at once.
    process->closeWriteChannel();

    // At the deadline the step's process group is asked to stop, and killed
    // when it is still running after the grace.
    ChildProcesses::Stopper stopper(process.get(), timing().killGraceMs);
    bool timedOut = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, process.get(), [&, p = process.get()] {
        if (p->state() == QProcess::NotRunning)
            return;
        qCWarning(lcVarno, "bootstrap subprocess exceeded %.0fs timeout (args=%s), terminating", timeout,
                  qUtf8Printable(describeBootstrapArguments(arguments)));
        timedOut = true;
        stopper.stop();
    });
    deadline.start(int(qBound(0.0, timeout * 1000.0, double(std::numeric_limits<int>::max()))));

    // QProcess reads what the step left in its pipe and closes it when the
    // step exits, so a grandchild holding standard error cannot keep us here.
    if (process->state() != QProcess::NotRunning)
        loop.exec();
    deadline.stop();
    stopper.childFinished();
    registration.remove();
    captured.append(process->readAllStandardError());

    int status = process->exitCode();
    const bool exitedCleanly = process->exitStatus() == QProcess::NormalExit && status == 0;
    // A step ended by its deadline has not done its work, even when it
    // handles the request and exits 0.
    if (exitedCleanly && !timedOut)
        return;
    if (status == 0)
        status = 15;
    throw mapFailure(status, captured.text());
}

void CLIBootstrap::installShellAlias()
{
    ShellLauncher::install();
}

void CLIBootstrap::hardenDataDirectoryPermissions(const std::optional<QStringList> &paths)
{
    const QStringList folders = paths.value_or(QStringList{
        VarnoPaths::inHome(QStringLiteral("Library/Application Support/VARNO")),
        VarnoPaths::inHome(QStringLiteral("Library/Logs/VARNO")),
        VarnoPaths::inHome(QStringLiteral("Library/Caches/VARNO")),
    });
    for (const QString &path : folders) {
        const QFileInfo info(path);
        const bool isLink = info.isSymLink();
        const bool exists = info.exists(); // follows links
        const bool isFolder = exists && info.isDir();
        if (isLink && isFolder) {
            const QString target = info.canonicalFilePath();
            QFile::setPermissions(target.isEmpty() ? path : target, privateFolder);
        } else if (isLink || (exists && !isFolder)) {
            // A dangling link, a link to something else, or a file where the
            // folder belongs: a real folder takes its place.
            QFile::remove(path);
            QDir().mkpath(path);
            QFile::setPermissions(path, privateFolder);
        } else if (!exists) {
            QDir().mkpath(path);
            QFile::setPermissions(path, privateFolder);
        } else {
            QFile::setPermissions(path, privateFolder);
        }
    }
}

QString CLIBootstrap::failureMessage(const std::exception &error)
{
    if (const auto *bootstrap = dynamic_cast<const CLIBootstrapError *>(&error))
        return bootstrap->errorDescription();
    return localizedDescription(error);
}

void CLIBootstrap::logBootstrapFailure(const std::exception &error)
{
    const QString folder = VarnoPaths::logsDir();
    QDir().mkpath(folder);
    QString entry = QLatin1Char('[') + Clock::now().toUTC().toString(Qt::ISODate) + QStringLiteral("] ")
        + failureMessage(error) + QLatin1Char('\n');
    if (const auto *bootstrap = dynamic_cast<const CLIBootstrapError *>(&error)) {
        const auto detail = bootstrap->detail();
        if (detail && !detail->isEmpty())
            entry += *detail + QLatin1Char('\n');
    }
    entry += QLatin1Char('\n');
    const QByteArray bytes = entry.toUtf8();
    const QString path = folder + QStringLiteral("/bootstrap.err");
    // A failure's detail may be a megabyte of the engine's standard error.
    UpdateLogWriter::rotateForRoom(path, bytes.size());
    QFile log(path);
    if (log.open(QIODevice::WriteOnly | QIODevice::Append))
        log.write(bytes);
}

void CLIBootstrap::logBootstrapFailure(std::exception_ptr error)
{
    if (!error)
        return;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &e) {
        logBootstrapFailure(e);
    } catch (...) {
        logBootstrapFailure(std::runtime_error("unknown failure"));
    }
}
