#pragma once

#include "records/AppRecord.h"

#include <QByteArray>
#include <QDateTime>
#include <QEventLoop>
#include <QHash>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>

// Optional values as columns of data-driven tests, declared once for every
// suite.
Q_DECLARE_METATYPE(std::optional<QString>)
Q_DECLARE_METATYPE(std::optional<bool>)
Q_DECLARE_METATYPE(std::optional<qint64>)

namespace VarnoTest {

// Points HOME, the XDG folders and the app's settings file at a fresh
// temporary folder for the object's lifetime, and restores them afterwards.
// The shared test main makes one for the whole executable; a test that needs
// a pristine home makes its own.
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome &) = delete;
    TempHome &operator=(const TempHome &) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    // <home>/<relative>
    QString filePath(const QString &relative) const;
    // Creates <home>/<relative> (and its parents) and returns its path.
    QString mkpath(const QString &relative) const;
    QString settingsFile() const;

private:
    void setEnv(const char *name, const QByteArray &value);

    QTemporaryDir m_dir;
    QHash<QByteArray, std::optional<QByteArray>> m_saved;
};

// A temporary folder of small executable scripts that stand in for external
// tools (launchctl, sqlite3, a fake engine, ...).
class FakeTools {
public:
    FakeTools();

    // Writes <folder>/<name> with the given body, executable. A body without a
    // "#!" line runs under /bin/sh. Returns the script's path.
    QString write(const QString &name, const QByteArray &body);
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

// Fixes Clock::now() for the object's lifetime.
class FixedClock {
public:
    explicit FixedClock(QDateTime now);
    ~FixedClock();
    FixedClock(const FixedClock &) = delete;
    FixedClock &operator=(const FixedClock &) = delete;

    QDateTime now() const { return *m_now; }
    void set(QDateTime now) { *m_now = std::move(now); }
    void advance(std::chrono::seconds by) { *m_now = m_now->addSecs(by.count()); }

private:
    std::shared_ptr<QDateTime> m_now;
};

// Writes bytes to a file, creating its folder. Returns false on failure.
bool writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);
// Copies the folder tree (hidden files included), replacing files of the
// same name. Returns false on failure.
bool copyTree(const QString &from, const QString &to);

// Where the staged app bundle of this build lives (VARNO.app).
QString stagedBundlePath();
// The source tree (for fixtures under dashboard/Tests).
QString sourcePath(const QString &relative = QString());

// Copies the staged engine (the bundle's Contents/Resources/cli) into
// ~/.varno of the current HOME, as the app installs it at launch. False when
// the build has no engine staged or a copy failed.
bool installStagedEngine();

struct EngineRun {
    int exitCode = -1;
    QByteArray standardOutput;
    QByteArray standardError;
};

// Runs the installed engine directly (no contract flag), for setting up a
// test's simulated Mac: `sim knobs set …`, `migrate`, `scan`, `sim run-app …`.
// Blocks until it exits (at most the time-out).
EngineRun runEngine(const QStringList &arguments, int timeoutMs = 60000);

// The argument vectors the engine stand-in received, in order, from its
// journal (the contract flag taken off).
QList<QStringList> engineCommands();

// Installs the engine into the current HOME, prepares its database and makes
// the simulated Mac instant (no scan or update delays). Returns false when any
// step fails.
bool prepareSimulatedMac();

// Runs the engine script with /bin/sh instead of python3 for its lifetime,
// so that tests can write tiny shell engines.
class ShellInterpreter {
public:
    ShellInterpreter();
    ~ShellInterpreter();
    ShellInterpreter(const ShellInterpreter &) = delete;
    ShellInterpreter &operator=(const ShellInterpreter &) = delete;
};

// Collects the app's log messages while it lives (and passes them on).
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList messages() const;
    int count(const QString &message) const;
    int countStartingWith(const QString &prefix) const;
};

class AwaitTimeout : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace detail {

template<typename T>
struct AwaitState {
    std::optional<T> value;
    std::exception_ptr error;
    bool done = false;
    QEventLoop *loop = nullptr;
};

template<>
struct AwaitState<void> {
    std::exception_ptr error;
    bool done = false;
    QEventLoop *loop = nullptr;
};

template<typename T>
QCoro::Task<void> drive(QCoro::Task<T> task, std::shared_ptr<AwaitState<T>> state)
{
    try {
        if constexpr (std::is_void_v<T>)
            co_await std::move(task);
        else
            state->value.emplace(co_await std::move(task));
    } catch (...) {
        state->error = std::current_exception();
    }
    state->done = true;
    if (state->loop)
        state->loop->quit();
}

} // namespace detail

// Runs the event loop until the task finishes and returns its result (or
// rethrows its exception). Throws AwaitTimeout when it has not finished within
// the time-out; the task then goes on and cleans up after itself.
template<typename T>
T await(QCoro::Task<T> task, std::chrono::milliseconds timeout = std::chrono::seconds(60))
{
    auto state = std::make_shared<detail::AwaitState<T>>();
    auto driver = detail::drive<T>(std::move(task), state);
    if (!state->done) {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        state->loop = &loop;
        timer.start(timeout);
        loop.exec();
        state->loop = nullptr;
    }
    if (!state->done)
        throw AwaitTimeout("the task did not finish in time");
    if (state->error)
        std::rethrow_exception(state->error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*state->value);
}

// Whether the process is alive: it exists and has not ended (a zombie that
// only waits to be reaped counts as ended). Reads /proc.
bool processIsAlive(qint64 pid);

// Kills those of the processes that are still alive (what a failed test left).
void killProcesses(const QList<qint64> &pids);

// The process ids a fake engine wrote to a file, separated by blanks.
QList<qint64> readPids(const QString &path);

// A named pipe at <path> that a fake engine writes a line to once it is set
// up ("echo ready > \"$HOME/ready\""). A thread waits for that line; isReady()
// then holds. The pipe is released when the object goes, whether the engine
// wrote to it or not.
class ReadySignal {
public:
    explicit ReadySignal(const QString &path);
    ~ReadySignal();
    ReadySignal(const ReadySignal &) = delete;
    ReadySignal &operator=(const ReadySignal &) = delete;

    bool isReady() const;
    // Spins the event loop until the engine said it is ready (or the time-out).
    bool wait(std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
    // Blocks until the engine said it is ready (or the time-out) without
    // running the event loop: what the loop would deliver meanwhile waits.
    bool waitHoldingEvents(std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};

// Spins the event loop until the predicate holds or the time-out passes;
// returns the predicate's last value. For signals and timers, not for polling
// the file system.
bool waitUntil(const std::function<bool()> &predicate, std::chrono::milliseconds timeout = std::chrono::seconds(30));

// A record from a few JSON fields (the test stops when they do not decode).
AppRecord makeRecord(const QByteArray &json);

} // namespace VarnoTest
