#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

// Breadcrumb lines for a developer chasing a problem:
//
//   [VARNO/dbg] +1.25s | 84 MB | phase=quit_denied | com.example.App — no update attempted
//
// Silent unless VARNO_DEBUG is "1" or the app's version string contains
// "debug". Whether it is on, and the time of the first breadcrumb that the
// elapsed seconds count from, are fixed once for the life of the process.
// Safe to call from any thread.
namespace DebugLog {

// Writes one breadcrumb through the log when breadcrumbs are on.
void breadcrumb(const QString &phase, const std::optional<QString> &detail = std::nullopt);

// Whether breadcrumbs are written (computed at first use, then fixed).
bool enabled();
// When the first breadcrumb was written; nothing before that.
std::optional<QDateTime> startTime();

// The rule behind enabled(): VARNO_DEBUG exactly "1", else a version text
// that contains "debug" (case-sensitive).
bool isEnabledFor(const std::optional<QByteArray> &debugVariable, const std::optional<QString> &versionString);

// The process's resident memory in whole mebibytes, or -1 when it cannot be read.
int residentMegabytes();

// One breadcrumb line as written to the log.
QString formatLine(double elapsedSeconds, int megabytes, const QString &phase, const std::optional<QString> &detail);

// Forgets the fixed values so that the next use computes them again (tests).
void resetForTesting();

} // namespace DebugLog
