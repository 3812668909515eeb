#include "engine/UpdateStream.h"

#include "base/Async.h"
#include "base/Logging.h"
#include "base/StartWatcher.h"
#include "base/Utf8Text.h"
#include "engine/EngineGate.h"
#include "engine/UpdateLogWriter.h"
#include "engine/UpdateStreamReader.h"
#include "engine/VARNOError.h"
#include "engine/VARNOProcess.h"
#include "platform/ChildProcesses.h"

#include <QElapsedTimer>
#include <QMutexLocker>
#include <QProcess>
#include <QThread>
#include <QTimer>

#include <qcoro/qcorofuture.h>
#include <qcoro/qcoroprocess.h>
#include <qcoro/qcorosignal.h>

namespace {

QMutex streamTuningMutex;
UpdateStream::Tuning currentStreamTuning;

// The time of the engine's last output and whether the watchdog gave up on it.
// A paused queue is not a hung installer: while the engine reports the queue
// paused, no time counts.
class WatchdogClock {
public:
    WatchdogClock() { m_lastEvent.start(); }

    void touch()
    {
        QMutexLocker lock(&m_lock);
        m_lastEvent.restart();
    }

    // The queue was reported paused (true) or going on (false); either way
    // the silence starts again from now.
    void setPaused(bool paused)
    {
        QMutexLocker lock(&m_lock);
        m_paused = paused;
        m_lastEvent.restart();
    }

    double secondsSinceLastEvent() const
    {
        QMutexLocker lock(&m_lock);
        if (m_paused)
            return 0.0;
        return double(m_lastEvent.nsecsElapsed()) / 1e9;
    }

    void setTimedOut()
    {
        QMutexLocker lock(&m_lock);
        m_timedOut = true;
    }

    bool timedOut() const
    {
        QMutexLocker lock(&m_lock);
        return m_timedOut;
    }

private:
    mutable QMutex m_lock;
    QElapsedTimer m_lastEvent;
    bool m_paused = false;
    bool m_timedOut = false;
};

// The first stdoutCap bytes of standard output; the rest is read and dropped.
struct StdoutCollector {
    QByteArray data;

    void append(const QByteArray &chunk)
    {
        const qsizetype room = UpdateStream::stdoutCap - data.size();
        if (room <= 0 || chunk.isEmpty())
            return;
        data.append(chunk.constData(), qMin(room, chunk.size()));
    }
};

void flushLog(const std::shared_ptr<UpdateLogWriter> &log)
{
    log->flush();
}

std::shared_ptr<UpdateLogWriter> openLog(const QString &path)
{
    return UpdateLogWriter::open(path, UpdateStream::logBudget);
}

// What one run writes to the update log: the engine's free text up to the
// run's budget (each line costing its UTF-8 size at most and its time stamp),
// then only a count. A run that floods its standard error so never pushes
// the earlier runs out of the log: the log was opened with room for the
// budget.
class LogBudget {
public:
    explicit LogBudget(std::shared_ptr<UpdateLogWriter> log)
        : m_log(std::move(log))
    {
    }

    void write(const QString &line)
    {
        if (!m_log)
            return;
        const qint64 cost = qint64(line.size()) * 3 + 32;
        if (m_left < cost) {
            m_left = 0;
            ++m_dropped;
            return;
        }
        m_left -= cost;
        m_log->write(line);
    }

    // The count of what did not fit, as the run's last line.
    void finish()
    {
        if (m_log && m_dropped > 0)
            m_log->write(QStringLiteral("[\u2026 %1 more line(s) of engine output not logged \u2026]").arg(m_dropped));
        m_dropped = 0;
    }

private:
    std::shared_ptr<UpdateLogWriter> m_log;
    qint64 m_left = UpdateStream::logBudget - 64;
    qint64 m_dropped = 0;
};

} // namespace

// --- UpdateQueueController ---------------------------------------------------

UpdateQueueController::UpdateQueueController(QProcess *process)
    : m_process(process)
{
}

UpdateQueueController::~UpdateQueueController() = default;

void UpdateQueueController::send(const QString &word)
{
    const QByteArray bytes = (word + QLatin1Char('\n')).toUtf8();
    QMutexLocker lock(&m_mutex);
    if (m_closed || !m_process)
        return;
    QPointer<QProcess> process = m_process;
    const auto write = [process, bytes] {
        // Writes are buffered by QProcess and reach the engine in order; a
        // closed pipe only makes them fail (SIGPIPE is ignored).
        if (process && process->state() == QProcess::Running)
            process->write(bytes);
    };
    if (QThread::currentThread() == process->thread())
        write();
    else
        QMetaObject::invokeMethod(process.data(), write, Qt::QueuedConnection);
}

void UpdateQueueController::close()
{
    QMutexLocker lock(&m_mutex);
    m_closed = true;
    m_process = nullptr;
}

// --- UpdateStream ------------------------------------------------------------

UpdateStream::Tuning UpdateStream::tuning()
{
    QMutexLocker lock(&streamTuningMutex);
    return currentStreamTuning;
}

void UpdateStream::setTuning(const Tuning &tuning)
{
    QMutexLocker lock(&streamTuningMutex);
    currentStreamTuning = tuning;
}

QStringList UpdateStream::arguments(const QStringList &only)
{
    QStringList arguments;
    arguments.append(QStringLiteral("update"));
    if (!only.isEmpty()) {
        arguments.append(QStringLiteral("--only"));
        arguments.append(only);
    }
    return arguments;
}

QHash<QString, QString> UpdateStream::environment()
{
    QHash<QString, QString> environment;
    environment.insert(QStringLiteral("VARNO_EVENTS"), QStringLiteral("1"));
    environment.insert(QStringLiteral("VARNO_QUIET"), QStringLiteral("1"));
    return environment;
}

std::optional<UpdateEvent> UpdateStream::decodeEvent(const QJsonObject &object)
{
    return UpdateEvent::decode(object);
}

QString UpdateStream::timeoutText(double thresholdSeconds)
{
    return QStringLiteral("Update queue timed out: no progress event for %1s. The installer may be hung; try again "
                          "or install manually.")
        .arg(QString::number(thresholdSeconds, 'f', 0));
}

QString UpdateStream::renderStreamFailure(const QStringList &stderrLines, const QByteArray &stdoutData)
{
    QStringList lines;
    for (const QString &line : stderrLines) {
        const QString trimmed = line.trimmed();
        if (!trimmed.isEmpty())
            lines.append(trimmed);
    }
    if (!lines.isEmpty())
        return lines.join(QLatin1Char('\n'));

    // The kept standard output may end inside a character where the cap cut
    // it; that character goes, the text before it stays.
    const QByteArray bytes = stdoutData.size() >= stdoutCap ? Utf8Text::withoutIncompleteTail(stdoutData) : stdoutData;
    if (const auto text = Utf8Text::decode(bytes)) {
        const QString trimmed = text->trimmed();
        if (!trimmed.isEmpty())
            return trimmed;
    }
    return QStringLiteral("Update queue exited without structured diagnostics.");
}

QCoro::Task<void> UpdateStream::streamUpdate(QStringList only, ControllerHandler onController, EventHandler onEvent)
{
    for (const QString &id : only)
        VARNOProcess::ensureNotOptionLike(id, QStringLiteral("bundle id"));
    const Tuning tuning = UpdateStream::tuning();
    // Not while the bootstrap replaces the engine, nor once it has failed.
    co_await EngineGate::ready(VARNOProcess::varnoRoot());

    std::unique_ptr<QProcess> child = VARNOProcess::makeProcess(VARNOProcess::scriptPath(), VARNOProcess::varnoRoot(),
                                                                arguments(only), environment());
    QProcess *process = child.get();

    // Registered from the fork on: a quit before the event loop delivers the
    // start still ends the engine and what it started.
    ChildProcesses::Registration registration;
    if (!registration.start(*process))
        throw ProcessLaunchError(QStringLiteral("VARNO is quitting."));
    co_await StartWatcher::settled(process);
    if (process->state() == QProcess::NotRunning && process->error() == QProcess::FailedToStart)
        throw ProcessLaunchError(process->errorString());
    // Made while the engine surely runs: it ends the engine's group.
    ChildProcesses::Stopper stopper(process, tuning.killGraceMs);

    // Opening the log may rotate it: that file work is done on the pool.
    const QString logPath = tuning.logPath.value_or(UpdateLogWriter::defaultPath());
    Async::Work<std::shared_ptr<UpdateLogWriter>> opening = Async::offThread(nullptr,
                                                                             Async::named("update log open", openLog,
                                                                                          logPath));
    std::shared_ptr<UpdateLogWriter> log = co_await opening;

    const std::shared_ptr<UpdateQueueController> controller(new UpdateQueueController(process));
    if (onController)
        onController(controller);

    auto logBudget = std::make_shared<LogBudget>(log);
    auto clock = std::make_shared<WatchdogClock>();
    auto stdoutData = std::make_shared<StdoutCollector>();
    auto reader = std::make_shared<UpdateStreamReader>(
        [clock, onEvent](const UpdateEvent &event) {
            // Any event but "queue_paused" means the queue goes on.
            clock->setPaused(event.as<UpdateEvent::QueuePaused>() != nullptr);
            if (!onEvent)
                return;
            try {
                onEvent(event);
            } catch (const std::exception &error) {
                qCWarning(lcVarno, "update queue event handler failed: %s", error.what());
            } catch (...) {
                qCWarning(lcVarno, "update queue event handler failed");
            }
        },
        [logBudget](const QString &line) { logBudget->write(line); });

    const auto readStderr = [process, clock, reader] {
        const QByteArray chunk = process->readAllStandardError();
        if (chunk.isEmpty())
            return;
        clock->touch();
        reader->feed(chunk);
    };
    const auto readStdout = [process, stdoutData] { stdoutData->append(process->readAllStandardOutput()); };
    QObject::connect(process, &QProcess::readyReadStandardError, process, readStderr);
    QObject::connect(process, &QProcess::readyReadStandardOutput, process, readStdout);

    // The watchdog: an engine silent on standard error for longer than the
    // threshold is asked to stop (its whole process group); one that ignores
    // the request is killed.
    const double threshold = tuning.watchdogThreshold;
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, process, [process, clock, threshold, &watchdog, &stopper] {
        if (process->state() == QProcess::NotRunning) {
            watchdog.stop();
            return;
        }
        if (!(clock->secondsSinceLastEvent() > threshold))
            return;
        watchdog.stop();
        clock->setTimedOut();
        qCWarning(lcVarno, "update queue watchdog: no output for %.0fs, terminating", threshold);
        stopper.stop();
    });
    watchdog.start(tuning.watchdogPollMs);

    // What arrived before the controller was handed over waited in QProcess.
    readStderr();
    readStdout();

    // QProcess reads what the engine left in its pipes and closes them when it
    // exits, so a grandchild that inherited standard error cannot hold the run
    // open after the engine itself has gone.
    if (process->state() != QProcess::NotRunning)
        co_await qCoro(process).waitForFinished(-1);
    watchdog.stop();
    stopper.childFinished();
    registration.remove();
    readStderr();
    readStdout();
    const QStringList tail = reader->finish();
    logBudget->finish();

    if (log) {
        // The log's queue is bounded, so this flush is too.
        Async::Work<void> flushing = Async::offThread(nullptr, [log] { flushLog(log); });
        co_await flushing;
    }

    controller->close();
    process->closeWriteChannel();

    if (clock->timedOut())
        throw VARNOError::processFailure(timeoutExitCode, timeoutText(threshold));
    const qint32 status = process->exitCode();
    if (process->exitStatus() == QProcess::NormalExit && status == 0)
        co_return;
    throw VARNOError::processFailure(status, renderStreamFailure(tail, stdoutData->data));
}
