#pragma once

#include "engine/VARNOCancellationToken.h"
#include "records/DeveloperWorkbenchState.h"
#include "records/RetentionStatus.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

// The engine commands behind the Settings window: backup retention, the
// telemetry opt-in and the Developer Workbench. Each runs one engine command
// through VARNOProcess::run with a 120 s time-out and throws what run()
// throws (VARNOError and friends) on top of the decoding failures noted here.
namespace EngineSettingsCommands {

inline constexpr double timeoutSeconds = 120.0;

// `dev set`, with the state's JSON on standard input (then end of file). The
// state is sent as given; the caller normalises it. Throws
// RecordEncodingError before anything is started when the state cannot be
// written as JSON. Whatever the engine prints is ignored.
QCoro::Task<void> developerSetState(DeveloperWorkbenchState state);

// `dev inspect --json` and `dev plan-updates --json`: the envelope's payload.
// Output that does not decode throws VARNOError::invalidJSON with its first
// 200 bytes.
QCoro::Task<DeveloperReport> developerInspect();
QCoro::Task<DeveloperReport> developerUpdatePlan();

// `retention status --json`; output that does not decode throws
// VARNOError::invalidJSON (first 200 bytes). A view that asks passes its
// token, so that closing the view ends the child.
QCoro::Task<RetentionStatus> retentionStatus(std::shared_ptr<VARNOCancellationToken> cancellationToken = {});
// `retention set <arguments…> --json` (e.g. "--keep", "3", "--days", "30").
// Output that does not decode throws the RecordDecodingError itself.
QCoro::Task<RetentionStatus> retentionSet(QStringList arguments);
// `retention consent --grant|--revoke --json`; decoding as retentionSet.
QCoro::Task<RetentionStatus> retentionConsent(bool grant);

// `telemetry status`: the opt-in read from the engine's "Telemetry opt-in:"
// line. Without such a line throws VARNOError::invalidJSON with the output's
// first 120 characters.
QCoro::Task<bool> telemetryStatus();

// The opt-in from the text of `telemetry status`: the first line (split at
// every Unicode line break, trimmed) that starts with "Telemetry opt-in:" and
// ends with "yes" (true) or "no" (false); case-sensitive. Nothing when no
// line says.
std::optional<bool> parseTelemetryStatus(const QString &text);

// The argument vectors, as the operations above build them.
QStringList developerSetStateArguments();
QStringList developerInspectArguments();
QStringList developerUpdatePlanArguments();
QStringList retentionStatusArguments();
QStringList retentionSetArguments(const QStringList &arguments);
QStringList retentionConsentArguments(bool grant);
QStringList telemetryStatusArguments();

} // namespace EngineSettingsCommands
