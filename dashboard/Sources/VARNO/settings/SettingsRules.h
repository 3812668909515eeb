#pragma once

#include "records/DeveloperWorkbenchState.h"
#include "records/RetentionStatus.h"

#include <QList>
#include <QString>
#include <QStringList>

// The Settings window's texts, choices and gates as plain functions, so that
// they are tested as tables without a widget.

// The Storage pane.
namespace StorageRules {

// The messages' fixed beginnings; the error's description follows.
inline const QString readFailedPrefix = QStringLiteral("Could not read storage settings: ");
inline const QString saveFailedPrefix = QStringLiteral("Could not save: ");
inline const QString consentFailedPrefix = QStringLiteral("Could not update the setting: ");
inline const QString cleanupFailedPrefix = QStringLiteral("Cleanup failed: ");

inline constexpr int keepMinimum = 1;
inline constexpr int keepMaximum = 50;
inline constexpr int keepStep = 1;
inline constexpr int daysMinimum = 1;
inline constexpr int daysMaximum = 3650;
inline constexpr int daysStep = 15;

// "<snapshot_count> across <bundle_count> apps" (plural whatever the counts).
QString snapshotsText(const RetentionUsage &usage);
// The "Can be cleared" row shows while the plan removes at least one snapshot.
bool showsReclaimable(const RetentionPlan &plan);
// "<bytes> (<count> snapshots)".
QString reclaimableText(const RetentionPlan &plan);
// The sentence above the cleanup buttons while automatic cleanup is off.
QString cleanupSentence(const RetentionPlan &plan);
// "Just this once" shows beside the grant button while something can be cleared.
bool showsPruneOnce(const RetentionPlan &plan);
// The "Automatic cleanup" section's footer.
QString consentFooter(const RetentionConsent &consent);
// "<n> per app" and "<n> days": the steppers' accessible values.
QString keepAccessibleValue(int keep);
QString daysText(int days);
// The engine's arguments for a policy: "--keep", "<n>", "--days", "<d>".
QStringList policyArguments(int keep, int days);

} // namespace StorageRules

// The Developer Workbench pane.
namespace WorkbenchRules {

inline const QString inspectionInitial = QStringLiteral("No inspection run yet.");
inline const QString updatePlanInitial = QStringLiteral("No update plan generated yet.");
inline const QString workbenchOff = QStringLiteral("Developer Workbench is off.");
inline const QString workbenchDisabled = QStringLiteral("Developer Workbench disabled.");
inline const QString inspectionFailedPrefix = QStringLiteral("Inspection failed: ");
inline const QString updatePlanFailedPrefix = QStringLiteral("Update planning failed: ");
inline const QString inspectionErrorPrefix = QStringLiteral("Developer inspection failed: ");
inline const QString updatePlanErrorPrefix = QStringLiteral("Developer update planning failed: ");

QString title(DeveloperSource source);
QString subtitle(DeveloperSource source);
// homebrewFormulae, homebrewCasks.
QList<DeveloperSource> machineWideSources();
// npm, python, vendorInstallers.
QList<DeveloperSource> perProjectSources();

// "Track only", "Ask first".
QString label(DeveloperUpdatePolicy policy);
// What the picker shows for a stored policy: "ask_before_updating" is
// askBeforeUpdating, any other text (also an unknown one) trackOnly.
DeveloperUpdatePolicy shownPolicy(const QString &raw);

// No folder chosen while a per-project source is on.
bool needsFolderWarning(const DeveloperWorkbenchState &state);
// The list after adding folders: the current ones and the chosen ones,
// without empty texts and duplicates, sorted by Unicode code point.
QStringList addingFolders(const QStringList &current, const QStringList &chosen);
// The list without every entry equal to `path`, the rest in order.
QStringList removingFolder(const QStringList &current, const QString &path);

} // namespace WorkbenchRules

// The General and Privacy tabs.
namespace PrivacyRules {

inline const QString readFailedPrefix = QStringLiteral("Couldn't read telemetry status: ");
inline const QString updateFailedPrefix = QStringLiteral("Couldn\u2019t update telemetry preference: ");
inline const QString forgetFailedPrefix = QStringLiteral("Couldn\u2019t forget telemetry state: ");

// "opt-in" or "opt-out".
QString telemetryAction(bool enabled);

} // namespace PrivacyRules
