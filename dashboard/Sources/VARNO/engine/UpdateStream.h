#pragma once

#include "engine/UpdateEvent.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QMutex>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>

class QProcess;

// The control channel of one running update stream: writes the control words
// ("pause", "resume", "skip", "abort") to the engine's standard input, each
// followed by a line feed, in the order they were sent. Nothing is reported
// back; the engine confirms a pause or a resume with its own events. Once the
// run has ended, words go nowhere.
class UpdateQueueController {
public:
    ~UpdateQueueController();
    UpdateQueueController(const UpdateQueueController &) = delete;
    UpdateQueueController &operator=(const UpdateQueueController &) = delete;

    // May be called from any thread; returns at once.
    void send(const QString &word);

private:
    friend class UpdateStream;
    explicit UpdateQueueController(QProcess *process);
    // The run has ended and closed the engine's standard input.
    void close();

    QMutex m_mutex;
    QPointer<QProcess> m_process;
    bool m_closed = false;
};

// A streamed update run: the engine's "update" command as a child process
// whose standard error carries one JSON event per line, delivered in order on
// the GUI thread, with control words on its standard input, a watchdog that
// ends an engine silent for too long, and the update log for every line that
// is not an event.
class UpdateStream {
public:
    UpdateStream() = delete;

    using ControllerHandler = std::function<void(std::shared_ptr<UpdateQueueController>)>;
    using EventHandler = std::function<void(const UpdateEvent &)>;

    // Standard output kept for a failure message.
    static constexpr qsizetype stdoutCap = 1048576;
    // Bytes of the engine's free text that one run writes to the update log
    // (time stamps included); past them the lines are only counted.
    static constexpr qint64 logBudget = 131072;
    // The exit code a run fails with when the watchdog ended it.
    static constexpr qint32 timeoutExitCode = -1;

    // The run's clocks. The defaults are the app's; tests shorten them.
    struct Tuning {
        // Seconds of stderr silence after which the engine is ended; only a
        // strictly longer silence counts, and none while the engine reports
        // the queue paused (between "queue_paused" and its next event).
        double watchdogThreshold = 300.0;
        // How often the watchdog looks.
        int watchdogPollMs = 1000;
        // After the watchdog's termination request, how long an engine that
        // ignores it may go on before it is killed.
        int killGraceMs = 10000;
        // The update log; nothing = ~/Library/Logs/VARNO/update.err.
        std::optional<QString> logPath;
    };
    static Tuning tuning();
    static void setTuning(const Tuning &tuning);

    // Runs `update` (with "--only" and the ids when `only` is not empty) with
    // VARNO_EVENTS=1 and VARNO_QUIET=1. Call on the GUI thread. onController
    // gets the run's controller once, before any event; onEvent gets each
    // event in order, on the GUI thread; the stream reads on only once it
    // returns. Returns when the engine exited with status 0. Throws the
    // VARNOProcess builder's errors, ProcessLaunchError when the child cannot
    // start, EngineArgumentError for an id that reads as an option, and
    // VARNOError::processFailure for a failed run: status -1 with the time-out
    // text when the watchdog ended it, else the exit status with the tail of
    // what the engine wrote.
    static QCoro::Task<void> streamUpdate(QStringList only, ControllerHandler onController, EventHandler onEvent);

    // The engine's argument vector for `only`.
    static QStringList arguments(const QStringList &only);
    // The variables set for the engine on top of its usual environment.
    static QHash<QString, QString> environment();

    // One JSON object of the stream as an event, or nothing.
    static std::optional<UpdateEvent> decodeEvent(const QJsonObject &object);

    // The failure text of a run that exited with a non-zero status: the
    // non-empty tail lines, else the standard output, else a fixed sentence.
    static QString renderStreamFailure(const QStringList &stderrLines, const QByteArray &stdoutData);

    // The failure text of a run that the watchdog ended.
    static QString timeoutText(double thresholdSeconds);
};
