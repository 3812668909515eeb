#pragma once

#include "platform/RunningApplications.h"

#include <QList>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

// Asking a running application to quit before its update, and telling when it
// has. Asking is always a polite request (SIGTERM here), never a forced end.
//
// The install path comes from the engine's record of a third-party app, so it
// is checked before anything is signalled: only processes whose executable
// lies inside one application bundle are ever asked.
namespace QuitAndUpdateFlow {

enum class TerminateAttempt {
    notRunning, // no instance was running (or every one ended by itself)
    asked,      // every running instance accepted the request
    refused,    // at least one instance rejected it
};

struct Attempt {
    TerminateAttempt result = TerminateAttempt::notRunning;
    // The instances that were asked, to watch them go.
    QList<RunningApplication> asked;
};

// The application bundle whose processes may be asked to quit, as a clean
// absolute path with symbolic links resolved: the install path when it is an
// existing folder whose name ends in ".app" (before and after resolving
// links), and neither the file system's root, the home folder or a folder
// above it, nor the bundle of this app or a folder above it. Nothing when the
// path is absent or fails any of these. Touches only the file system.
std::optional<QString> quittableBundle(const std::optional<QString> &installPath);

// Asks every running instance whose executable lies inside the bundle (a path
// from quittableBundle) to quit, in order, also after one refused. An
// instance that ended by itself between the listing and the request is not
// asked and does not count as a refusal. Blocks while it reads the process
// table: call it off the GUI thread, or through requestQuit.
Attempt terminateRunningInstances(const QString &bundlePath);
// terminateRunningInstances on a worker thread.
QCoro::Task<Attempt> requestQuit(QString bundlePath);

// Whether the application still runs: one of the instances that were asked
// has not ended, or a process runs from inside its bundle. (Matching command
// lines against the bundle id would also find a shell that merely mentions
// it, and miss an app whose command line does not.) The check reads the
// process table off the GUI thread.
QCoro::Task<bool> isStillRunning(QString bundlePath, QList<RunningApplication> asked);

// How long the model waits for the application to quit: a check, then up to
// this many more, each after a pause.
struct Timing {
    std::chrono::milliseconds pause{500};
    std::chrono::milliseconds limit{10000};
};
Timing timing();
void setTimingForTesting(const Timing &timing);

} // namespace QuitAndUpdateFlow
