#pragma once

#include <QTimer>
#include <QtGlobal>

#include <memory>

class QProcess;

// Child processes of ours that must never outlive their run or the app.
//
// Each runs in a process group of its own (its process id is the group's id),
// so that ending it reaches whatever it started: SIGTERM to the group, a
// grace, then SIGKILL to the group. Every running child is registered; when
// the app quits, shutDown() asks every group to stop, kills what is left
// after a short grace, and refuses children started after that.
namespace ChildProcesses {

// The app's quit path waits at most this long for its children to stop.
constexpr int quitGraceMs = 2000;

// Makes the (not yet started) process the leader of a new process group.
void placeInOwnGroup(QProcess &process);

// Sends the signal to the process group led by pid (nothing for pid <= 0).
void signalGroup(qint64 pid, int signal);

// Whether any process of the group led by pid is still alive (zombies, which
// have ended and only wait to be reaped, do not count).
bool groupIsAlive(qint64 pid);

// One running child in the registry, for as long as the object lives.
class Registration {
public:
    Registration() = default;
    ~Registration();
    Registration(const Registration &) = delete;
    Registration &operator=(const Registration &) = delete;

    // Starts the process (placed in its own group) and registers the group
    // as soon as start() has forked the child: from then on a quit ends it,
    // also while the event loop has not yet delivered its start. False when
    // the app is quitting: the child is then not started, or killed at once,
    // and the caller must not go on.
    [[nodiscard]] bool start(QProcess &process);
    // Registers the group of a child that start() of QProcess has forked
    // (nothing for pid <= 0). False when the app is quitting: the group has
    // then been killed and the caller must not go on.
    [[nodiscard]] bool add(qint64 pid);
    // Leaves the registry (also done by the destructor).
    void remove();

private:
    qint64 m_pid = 0;
};

// The quit path: no child starts any more; every registered group gets
// SIGTERM, and those still alive after graceMs get SIGKILL. Returns when every
// group has gone or the grace has passed (never later). Call on any thread.
void shutDown(int graceMs = quitGraceMs);

// Whether shutDown() has run.
bool isShuttingDown();

// How many children are registered (tests).
int runningCount();

// Forgets a shutDown(), so that a test can start children again.
void resetForTesting();

// Ends one running child: stop() sends SIGTERM to its group and, when the
// child is still running graceMs later, SIGKILL to the group. Lives on the
// child's thread (its timer runs on that thread's event loop).
class Stopper {
public:
    // Made once the child has started (its group is the child's process id).
    Stopper(QProcess *process, int graceMs);
    ~Stopper();
    Stopper(const Stopper &) = delete;
    Stopper &operator=(const Stopper &) = delete;

    // Asks the child to stop; later calls do nothing.
    void stop();
    // The child has exited: the kill timer is disarmed, and what the child
    // left behind in its group is killed now.
    void childFinished();

    bool stopRequested() const { return m_requested; }
    // The child did not stop within the grace and was killed.
    bool killed() const { return m_killed; }

private:
    void kill();

    QProcess *m_process;
    int m_graceMs;
    qint64 m_pid = 0;
    bool m_requested = false;
    bool m_killed = false;
    QTimer m_killTimer;
};

} // namespace ChildProcesses
