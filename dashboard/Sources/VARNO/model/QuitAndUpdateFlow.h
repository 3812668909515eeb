#pragma once

#include "platform/RunningApplications.h"

#include <QList>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

// Asking a running application to quit before its update, and telling when it
// has. Asking is always a polite request (SIGTERM here), never a forced end.
namespace QuitAndUpdateFlow {

enum class TerminateAttempt {
    notRunning, // no instance was running
    asked,      // every running instance accepted the request
    refused,    // at least one instance rejected it
};

struct Attempt {
    TerminateAttempt result = TerminateAttempt::notRunning;
    // The instances that were asked, to watch them go.
    QList<RunningApplication> asked;
};

// Asks every running instance of the application to quit, in order, also
// after one refused.
Attempt terminateRunningInstances(const QString &bundleId, const std::optional<QString> &installPath);

// Whether the application still runs: one of the instances that were asked
// has not ended, or a process runs from inside its install path. (Matching
// command lines against the bundle id would also find a shell that merely
// mentions it, and miss an app whose command line does not.) The check reads
// the process table off the GUI thread.
QCoro::Task<bool> isStillRunning(QString bundleId, std::optional<QString> installPath,
                                 QList<RunningApplication> asked);

// How long the model waits for the application to quit: a check, then up to
// this many more, each after a pause.
struct Timing {
    std::chrono::milliseconds pause{500};
    std::chrono::milliseconds limit{10000};
};
Timing timing();
void setTimingForTesting(const Timing &timing);

} // namespace QuitAndUpdateFlow
