#pragma once

#include "model/PosturePresenter.h"
#include "model/UpdateState.h"
#include "records/AppIncident.h"
#include "records/AppRecord.h"
#include "records/RemediationRegistry.h"
#include "records/VendorUpdaters.h"

#include <QString>
#include <QStringList>

#include <optional>

// The trust verdict of one application.
enum class AppTrustState {
    currentCommunityVerified, // up to date, verified and confirmed by other endpoints
    currentLocallyVerified,   // up to date, verified on this Mac (also Sparkle built-in, vendor-confirmed)
    currentUnverified,        // up to date or unclassified, without verification
    outdatedTrusted,          // an update is available
    outdatedAtRisk,           // an update is available and the app is at risk
    updating,                 // an update runs now
    queued,                   // waiting in the update queue
    skipped,                  // the update was skipped or the app would not quit
    failed,                   // the update failed
};

// What a card or the provenance drawer shows of the verdict.
struct AppTrustPresentation {
    AppTrustState state = AppTrustState::currentUnverified;
    QString title;
    std::optional<QString> detail;
    QStringList evidence;
    bool showsSeal = false;
    bool showsVerifiedPath = false;
    qint64 collaborationCount = 0; // never negative
    QString mechanismLabel;

    friend bool operator==(const AppTrustPresentation &, const AppTrustPresentation &) = default;
};

// Pure functions of their arguments (and of the remediation registry that is
// passed, the shared one unless a caller gives its own).
namespace AppTrustPresenter {

// The verdict for an app in its update state (idle when it has no entry) with
// its incident, if any. Vendor self-managed apps and Sparkle built-in apps
// show their own texts whatever the update state.
AppTrustPresentation make(const AppRecord &app, const UpdateState &updateState,
                          const std::optional<AppIncident> &incident, const VendorUpdaters &vendorUpdaters,
                          const RemediationRegistry &registry = RemediationRegistry::shared());

// The tone a card or the drawer colours a verdict with: verified and current
// green; outdated and updating orange; at risk and failed red; the rest
// neutral.
PostureTone tone(AppTrustState state);
// The vendor's own updater looks after the app (also used by the cards).
bool isVendorSelfManaged(const AppRecord &app);

// The verdict from the record alone (and the incident), for an app that is
// not in an update.
AppTrustPresentation settled(const AppRecord &app, const std::optional<AppIncident> &incident, const QString &mechanism,
                             qint64 collaborationCount, const QStringList &evidence,
                             const RemediationRegistry &registry = RemediationRegistry::shared());

// Team ID, checksum, source domain and community consensus lines, or the one
// line "No trust evidence recorded yet".
QStringList evidenceLines(const AppRecord &app, qint64 collaborationCount);

// "BREW", "MAS", "SPARK", "SELF" or "TRIG" (anything else, absent included).
QString mechanismLabel(const std::optional<QString> &mechanism);

// The updater's display name from the registry, else the key made readable
// ("acme_updater" -> "Acme Updater"), else "vendor updater".
QString vendorDisplayName(const AppRecord &app, const VendorUpdaters &vendorUpdaters);

} // namespace AppTrustPresenter
