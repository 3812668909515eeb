#include "engine/VARNOProcess.h"

#include "base/Async.h"
#include "base/Logging.h"
#include "base/StartWatcher.h"
#include "base/Utf8Text.h"
#include "engine/EngineGate.h"
#include "platform/ChildProcesses.h"
#include "platform/VarnoPaths.h"

#include <QByteArrayList>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QThread>
#include <QTimer>

#include <qcoro/qcorofuture.h>
#include <qcoro/qcoroprocess.h>
#include <qcoro/qcorosignal.h>

#include <climits>
#include <cmath>

namespace {

const QString kDefaultSearchPath = QStringLiteral("/usr/bin:/bin:/usr/sbin:/sbin");
const QString kFallbackPython3 = QStringLiteral("/usr/bin/python3");

// The interpreter and the environment are fixed at first use; the mutex makes
// that first use safe from any thread (the bootstrap runs off the GUI thread).
struct FrozenValues {
    QMutex mutex;
    std::optional<QString> python3Override;
    std::optional<QString> python3;
    std::optional<QProcessEnvironment> environment;
};

FrozenValues &frozenValues()
{
    static FrozenValues values;
    return values;
}

QMutex tuningMutex;
VARNOProcess::Tuning currentTuning;

// One output stream of a run: the first outputCap bytes are kept, the rest is
// read and dropped so that the child never blocks on a full pipe. The bytes
// are kept as the chunks they were read in; growing one buffer of megabytes
// would copy it (and fault in fresh pages) on the GUI thread, so the chunks
// are joined on the pool instead.
struct Capture {
    QByteArrayList chunks;
    qsizetype size = 0;
    bool truncated = false;

    void append(const QByteArray &chunk)
    {
        if (chunk.isEmpty())
            return;
        if (size >= VARNOProcess::outputCap) {
            truncated = true;
            return;
        }
        const qsizetype room = VARNOProcess::outputCap - size;
        if (chunk.size() <= room) {
            chunks.append(chunk);
            size += chunk.size();
        } else {
            chunks.append(chunk.left(room));
            size += room;
            truncated = true;
        }
    }
};

QByteArray joined(const QByteArrayList &chunks)
{
    if (chunks.size() == 1)
        return chunks.first();
    QByteArray bytes;
    qsizetype size = 0;
    for (const QByteArray &chunk : chunks)
        size += chunk.size();
    bytes.reserve(size);
    for (const QByteArray &chunk : chunks)
        bytes.append(chunk);
    return bytes;
}

// What a cancellation handler may touch, from whatever thread it runs on: the
// child and its stopper while the run still owns them.
struct ChildControl {
    QMutex mutex;
    QProcess *process = nullptr;
    ChildProcesses::Stopper *stopper = nullptr;
};

QString describeArguments(const QStringList &arguments)
{
    QStringList quoted;
    quoted.reserve(arguments.size());
    for (QString argument : arguments) {
        argument.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
        argument.replace(QLatin1Char('"'), QStringLiteral("\\\""));
        quoted.append(QLatin1Char('"') + argument + QLatin1Char('"'));
    }
    return QLatin1Char('[') + quoted.join(QStringLiteral(", ")) + QLatin1Char(']');
}

void terminateForCancel(QProcess *process, ChildProcesses::Stopper *stopper)
{
    if (process->state() == QProcess::NotRunning)
        return;
    qCInfo(lcVarno, "subprocess cancelled, terminating");
    stopper->stop();
}

// Arms the time-out of one run. QTimer takes whole milliseconds in an int, so
// a long time-out is reached in several steps against one deadline.
class TimeoutArm {
public:
    TimeoutArm(QProcess *process, ChildProcesses::Stopper *stopper, double seconds, bool *timedOut)
        : m_process(process)
        , m_stopper(stopper)
        , m_seconds(seconds)
        , m_timedOut(timedOut)
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { step(); });
    }

    void start()
    {
        if (!(m_seconds > 0) || !std::isfinite(m_seconds)) {
            fire();
            return;
        }
        const double ms = m_seconds * 1000.0;
        m_deadline = ms >= double(std::numeric_limits<qint64>::max() / 2)
            ? QDeadlineTimer(QDeadlineTimer::Forever)
            : QDeadlineTimer(qint64(std::ceil(ms)), Qt::PreciseTimer);
        step();
    }

    void stop() { m_timer.stop(); }

private:
    void step()
    {
        if (m_deadline.isForever()) {
            m_timer.start(INT_MAX);
            return;
        }
        const qint64 remaining = m_deadline.remainingTime();
        if (remaining > 0) {
            m_timer.start(int(std::min<qint64>(remaining, INT_MAX)));
            return;
        }
        fire();
    }

    void fire()
    {
        if (m_process->state() == QProcess::NotRunning)
            return;
        qCInfo(lcVarno, "subprocess exceeded %ss timeout, terminating", qPrintable(QString::number(m_seconds, 'f', 0)));
        *m_timedOut = true;
        m_stopper->stop();
    }

    QProcess *m_process;
    ChildProcesses::Stopper *m_stopper;
    double m_seconds;
    bool *m_timedOut;
    QTimer m_timer;
    QDeadlineTimer m_deadline;
};

// The failure of a run that exited with a non-zero status: its standard
// error as text, with a note when it was cut at the cap.
std::shared_ptr<const VARNOError> processFailure(qint32 status, const QByteArrayList &stderrChunks, bool truncated)
{
    const QByteArray stderrData = joined(stderrChunks);
    QString stderrText = truncated ? Utf8Text::decodeOrEmpty(Utf8Text::withoutIncompleteTail(stderrData))
                                   : Utf8Text::decodeOrEmpty(stderrData);
    if (truncated)
        stderrText += QStringLiteral(" (stderr truncated at ") + QStringLiteral("10") + QStringLiteral(" MB)");
    return std::make_shared<const VARNOError>(VARNOError::processFailure(status, stderrText));
}

} // namespace

QString VARNOProcess::varnoRoot()
{
    return VarnoPaths::engineDir();
}

QString VARNOProcess::scriptPath()
{
    return VarnoPaths::engineScript();
}

QStringList VARNOProcess::python3Candidates()
{
    return {QStringLiteral("/opt/homebrew/bin/python3"), QStringLiteral("/usr/local/bin/python3"),
            QStringLiteral("/usr/bin/python3")};
}

QString VARNOProcess::python3()
{
    FrozenValues &values = frozenValues();
    QMutexLocker lock(&values.mutex);
    if (values.python3Override)
        return *values.python3Override;
    if (!values.python3) {
        values.python3 = kFallbackPython3;
        for (const QString &candidate : python3Candidates()) {
            if (QFileInfo::exists(candidate)) {
                values.python3 = candidate;
                break;
            }
        }
    }
    return *values.python3;
}

QProcessEnvironment VARNOProcess::environmentFor(const QProcessEnvironment &base)
{
    const QString current = base.contains(QStringLiteral("PATH")) ? base.value(QStringLiteral("PATH"))
                                                                  : kDefaultSearchPath;
    QStringList kept;
    for (const QString &folder :
         {QStringLiteral("/opt/homebrew/bin"), QStringLiteral("/opt/homebrew/sbin"), QStringLiteral("/usr/local/bin")}) {
        if (!current.contains(folder))
            kept.append(folder);
    }
    if (kept.isEmpty())
        return base;
    QProcessEnvironment environment = base;
    kept.append(current);
    environment.insert(QStringLiteral("PATH"), kept.join(QLatin1Char(':')));
    return environment;
}

QProcessEnvironment VARNOProcess::processEnvironment()
{
    FrozenValues &values = frozenValues();
    QMutexLocker lock(&values.mutex);
    if (!values.environment)
        values.environment = environmentFor(QProcessEnvironment::systemEnvironment());
    return *values.environment;
}

std::unique_ptr<QProcess> VARNOProcess::makeProcess(const QString &scriptPath, const QString &rootPath,
                                                    const QStringList &arguments,
                                                    const QHash<QString, QString> &extraEnvironment, int contractVersion)
{
    const QString interpreter = python3();
    if (!QFileInfo::exists(interpreter))
        throw VARNOError::python3NotFound();
    if (!QFileInfo::exists(scriptPath))
        throw VARNOError::scriptNotFound(scriptPath);

    auto process = std::make_unique<QProcess>();
    process->setProgram(interpreter);
    QStringList childArguments{scriptPath, QStringLiteral("--engine-contract-version"), QString::number(contractVersion)};
    childArguments.append(arguments);
    process->setArguments(childArguments);
    process->setWorkingDirectory(rootPath);

    QProcessEnvironment environment = processEnvironment();
    // The engine finds its files below HOME; keep it on the home whose
    // ~/.varno is being run (they only differ when a test moved HOME).
    const QString home = VarnoPaths::home();
    if (!home.isEmpty() && environment.value(QStringLiteral("HOME")) != home)
        environment.insert(QStringLiteral("HOME"), home);
    for (auto it = extraEnvironment.cbegin(); it != extraEnvironment.cend(); ++it)
        environment.insert(it.key(), it.value());
    process->setProcessEnvironment(environment);
    // Its own process group, so that ending it also ends what it started.
    ChildProcesses::placeInOwnGroup(*process);
    return process;
}

void VARNOProcess::ensureNotOptionLike(const QString &value, const QString &what)
{
    if (value.startsWith(QLatin1Char('-')))
        throw EngineArgumentError(what, value);
}

QCoro::Task<QByteArray> VARNOProcess::run(QStringList arguments, double timeout,
                                          std::shared_ptr<VARNOCancellationToken> cancellationToken,
                                          std::optional<QByteArray> stdinData)
{
    // Not while the bootstrap replaces the engine, nor once it has failed.
    co_await EngineGate::ready(varnoRoot());
    std::unique_ptr<QProcess> child = makeProcess(scriptPath(), varnoRoot(), arguments);
    QProcess *process = child.get();

    auto out = std::make_shared<Capture>();
    auto err = std::make_shared<Capture>();
    QObject::connect(process, &QProcess::readyReadStandardOutput, process,
                     [process, out] { out->append(process->readAllStandardOutput()); });
    QObject::connect(process, &QProcess::readyReadStandardError, process,
                     [process, err] { err->append(process->readAllStandardError()); });
    if (!stdinData)
        process->setInputChannelMode(QProcess::ForwardedInputChannel);

    StartWatcher startWatcher(process);
    // Registered from the fork on: a quit before the event loop delivers the
    // start still ends the engine and what it started.
    ChildProcesses::Registration registration;
    if (!registration.start(*process))
        throw ProcessLaunchError(QStringLiteral("VARNO is quitting."));
    if (process->state() == QProcess::Starting)
        co_await qCoro(&startWatcher, &StartWatcher::settledSignal);
    if (process->state() == QProcess::NotRunning && process->error() == QProcess::FailedToStart)
        throw ProcessLaunchError(process->errorString());

    if (stdinData) {
        // Buffered and written as the child reads; a child that has gone
        // away only makes the write fail (SIGPIPE is ignored by QProcess).
        if (!stdinData->isEmpty())
            process->write(*stdinData);
        process->closeWriteChannel();
    }

    ChildProcesses::Stopper stopper(process, tuning().killGraceMs);
    bool timedOut = false;
    TimeoutArm timeoutArm(process, &stopper, timeout, &timedOut);
    timeoutArm.start();

    auto control = std::make_shared<ChildControl>();
    control->process = process;
    control->stopper = &stopper;
    if (cancellationToken) {
        cancellationToken->onCancel([weak = std::weak_ptr<ChildControl>(control)] {
            const auto control = weak.lock();
            if (!control)
                return;
            QMutexLocker lock(&control->mutex);
            QProcess *process = control->process;
            if (!process)
                return;
            if (QThread::currentThread() == process->thread()) {
                terminateForCancel(process, control->stopper);
                return;
            }
            // Runs on the child's thread only while the run still owns it.
            QMetaObject::invokeMethod(
                process,
                [weak] {
                    const auto control = weak.lock();
                    if (!control)
                        return;
                    QMutexLocker lock(&control->mutex);
                    if (control->process)
                        terminateForCancel(control->process, control->stopper);
                },
                Qt::QueuedConnection);
        });
    }

    if (process->state() != QProcess::NotRunning)
        co_await qCoro(process).waitForFinished(-1);
    // QProcess reads what the child left in its pipes and closes them when it
    // exits, so a grandchild that inherited a pipe cannot hold the run open.

    timeoutArm.stop();
    stopper.childFinished();
    registration.remove();
    {
        QMutexLocker lock(&control->mutex);
        control->process = nullptr;
        control->stopper = nullptr;
    }
    out->append(process->readAllStandardOutput());
    err->append(process->readAllStandardError());

    if (out->truncated)
        qCInfo(lcVarno, "subprocess stdout truncated at %d bytes (args=%s)", int(outputCap),
               qUtf8Printable(describeArguments(arguments)));
    if (err->truncated)
        qCInfo(lcVarno, "subprocess stderr truncated at %d bytes (args=%s)", int(outputCap),
               qUtf8Printable(describeArguments(arguments)));

    qint32 status = process->exitCode();
    // A child that was terminated for its time-out has not done its work,
    // even when it handles SIGTERM and exits 0; one that had to be killed
    // was timed out or cancelled all the same.
    if ((timedOut && status == 0) || stopper.killed())
        status = 15;

    if (status != 0) {
        // Standard error may be ten megabytes: it is decoded, and the error
        // made, on the pool.
        Async::Work<std::shared_ptr<const VARNOError>> describing = Async::offThread(nullptr,
                                                                                     Async::named("describe failure",
                                                                                                  processFailure, status,
                                                                                                  std::move(err->chunks),
                                                                                                  err->truncated));
        const std::shared_ptr<const VARNOError> failure = co_await describing;
        throw *failure;
    }
    if (out->chunks.size() <= 1)
        co_return out->chunks.value(0);
    Async::Work<QByteArray> joining = Async::offThread(nullptr,
                                                       Async::named("join output", joined, std::move(out->chunks)));
    co_return co_await joining;
}

VARNOProcess::Tuning VARNOProcess::tuning()
{
    QMutexLocker lock(&tuningMutex);
    return currentTuning;
}

void VARNOProcess::setTuning(const Tuning &tuning)
{
    QMutexLocker lock(&tuningMutex);
    currentTuning = tuning;
}

void VARNOProcess::setPython3OverrideForTesting(std::optional<QString> path)
{
    FrozenValues &values = frozenValues();
    QMutexLocker lock(&values.mutex);
    values.python3Override = std::move(path);
}

void VARNOProcess::resetCachedValuesForTesting()
{
    FrozenValues &values = frozenValues();
    QMutexLocker lock(&values.mutex);
    values.python3.reset();
    values.environment.reset();
}
