#pragma once

#include <QString>

#include <qcoro/qcorotask.h>

#include <functional>

// Tells the engine that a named interface event happened:
//
//   experiment record --event <name>
//
// Fire and forget: record() returns before the engine runs, and the outcome,
// whatever it is, is dropped.
namespace ExperimentRecorder {

// The detection-failure banner or header was shown (Environment screen, menu-bar panel).
inline const QString detectionFailureBannerShown = QStringLiteral("detection_failure_banner_shown");
// Its action button was clicked.
inline const QString detectionFailureBannerCtaClicked = QStringLiteral("detection_failure_banner_cta_clicked");
// The provenance drawer learnt that the app has a restorable backup.
inline const QString restoreAvailable = QStringLiteral("restore_available");
// A restore from a backup succeeded.
inline const QString restoreUsed = QStringLiteral("restore_used");

// Starts the engine command on the application's event loop and returns at
// once; safe to call from any thread. Does nothing without an application
// object.
void record(const QString &event);

// The engine run behind record(): 120 s time-out, no standard input. Never
// throws; every failure is swallowed.
QCoro::Task<void> send(QString event);

// Called on the application's thread after each recorded event's run has
// ended, whatever its outcome (tests). An empty function removes the hook.
void setFinishedHookForTesting(std::function<void(const QString &event)> hook);

} // namespace ExperimentRecorder
