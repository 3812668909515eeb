#pragma once

#include "model/AppTrustPresenter.h"
#include "records/AppRecord.h"
#include "records/BackupRecord.h"
#include "records/ProvenanceRecord.h"

#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QString>

#include <optional>

// What the provenance drawer and the restore sheet decide, as pure functions
// of the records and the model's flags, so that each rule is tested as a
// table and the widgets stay thin.
namespace ProvenanceRules {

// --- Dates --------------------------------------------------------------------

// An internet date-time: date, "T", time with seconds, then "Z" or a numeric
// zone ("+01:00", "+0100"); no fractional seconds. Nothing for anything else.
std::optional<QDateTime> parseInternetDateTime(const QString &text);
// The backup folder's compact form, eight date digits, "-", six time digits,
// read as local time whatever the locale. Nothing for anything else.
std::optional<QDateTime> parseCompactTimestamp(const QString &text);
// "MMM d, yyyy" of the moment's day in local time, in the given locale.
QString formatDay(const QDateTime &moment, const QLocale &locale = QLocale::system());
// A history row's date: an internet date-time as its day; any other text unchanged.
QString historyDate(const QString &timestamp, const QLocale &locale = QLocale::system());
// A backup's date: the compact form, else an internet date-time, as its day;
// any other text unchanged.
QString backupDate(const QString &timestamp, const QLocale &locale = QLocale::system());

// --- Gates ----------------------------------------------------------------------

// The app updates itself through its vendor: the first present of
// self_managed and vendor_self_update, else whether the mechanism is exactly
// "vendor_self_update".
bool updatesItselfThroughVendor(const AppRecord &app);
// Its own updater may be asked to look for an update: can_trigger_self_update
// and (it updates itself through its vendor, or its mode is "self").
bool canTriggerInAppUpdate(const AppRecord &app);

// The footer's update slot: "Check for Update in App" for an app that can be
// told to update itself (even when outdated), else "Update" when outdated.
enum class UpdateSlot { none, checkInApp, update };
UpdateSlot updateSlot(const AppRecord &app);

// Re-install: not busy, a "cask" app with a non-empty token.
bool canReinstall(const AppRecord &app, bool busy);
// Uninstall: not busy, an install path, not an Apple or system bundle id, and
// not under /System, /usr/bin, /usr/lib or /usr/sbin (plain prefix tests).
bool canUninstall(const AppRecord &app, bool busy);

// The lifecycle action waiting for the user's confirmation.
enum class AppLifecycleAction { reinstall, uninstall };
// Why a confirmed action no longer may run when the record it was asked for
// has changed meanwhile (no longer a cask; no known or a protected location).
QString noLongerAllowedText(AppLifecycleAction action, const AppRecord &app);
// "reinstall" or "uninstall".
QString actionIdentity(AppLifecycleAction action);
// "Re-install <name>?" / "Uninstall <name>?"; empty when nothing is pending.
QString confirmationTitle(std::optional<AppLifecycleAction> action, const AppRecord &app);
// The exact command or effect; empty when nothing is pending.
QString confirmationMessage(std::optional<AppLifecycleAction> action, const AppRecord &app);
// The confirm button: "Re-install" or "Uninstall".
QString confirmButtonText(AppLifecycleAction action);

// --- Header, current state and history ----------------------------------------

// The header's badge and a history row's seal: the green seal when the
// presentation shows it, else the verified-path badge when it shows that.
enum class TrustBadge { none, seal, verifiedPath };
TrustBadge headerBadge(const AppTrustPresentation &presentation);

enum class ValueColor { primary, secondary, good, warning, identity };
struct StateRow {
    QString key;
    QString value;
    ValueColor color = ValueColor::primary;
    friend bool operator==(const StateRow &, const StateRow &) = default;
};
// The "Current State" rows, in order, leaving out those whose condition fails.
QList<StateRow> currentStateRows(const AppRecord &app, const AppTrustPresentation &presentation);

// What the Version History box shows, by the first rule that holds.
enum class HistoryContent { loading, error, empty, rows };
HistoryContent historyContent(bool isLoading, const std::optional<QString> &loadError, bool isEmpty);

// The badge at the end of one history row: the community count ("2x") when
// there is one and the row carries a checksum; else the presentation's seal
// or verified-path badge when the row carries a checksum; else nothing.
struct HistoryBadge {
    enum class Kind { none, count, seal, verifiedPath } kind = Kind::none;
    QString text; // the count, e.g. "2x"
    friend bool operator==(const HistoryBadge &, const HistoryBadge &) = default;
};
HistoryBadge historyBadge(const ProvenanceRecord &record, const AppTrustPresentation &presentation);
// The row's version and date: the text or "—".
QString historyVersion(const ProvenanceRecord &record);
QString historyTimestamp(const ProvenanceRecord &record, const QLocale &locale = QLocale::system());

// "VARNO routed this update via <label>. Trust is strongest when …"
QString routingSentence(const QString &mechanismLabel);

// --- Restore sheet --------------------------------------------------------------

// The state area's content, by the first rule that holds.
enum class RestoreContent { loading, error, restored, ready, noBackup };
RestoreContent restoreContent(bool isLoading, const std::optional<QString> &error, bool restored,
                              const std::optional<BackupRecord> &backup);
// The footer's second button.
enum class RestoreFooterButton { none, restore, done };
RestoreFooterButton restoreFooterButton(const std::optional<BackupRecord> &backup, bool restored,
                                        const std::optional<QString> &error);
// Why no backup can be restored, from the engine's reason (tested lowercased,
// first hit wins: too large, running, signature, expired). The expiry
// sentence names the configured retention when it is known.
QString reasonText(const std::optional<BackupRecord> &backup, std::optional<qint64> retentionDays = std::nullopt);
// Whether the reason is the expiry one (then the sheet asks for the retention).
bool reasonIsExpiry(const std::optional<BackupRecord> &backup);
// "A backup from <date> is available." (nothing between the blanks without a timestamp).
QString backupDateLine(const BackupRecord &backup, const QLocale &locale = QLocale::system());
// "Size: <whole MiB> MB", or nothing for a missing or negative size.
std::optional<QString> backupSizeLine(const BackupRecord &backup);

} // namespace ProvenanceRules
