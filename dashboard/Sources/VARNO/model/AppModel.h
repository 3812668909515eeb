#pragma once

#include "engine/VARNOCancellationToken.h"
#include "model/AppFilter.h"
#include "model/ModelText.h"
#include "model/PosturePresenter.h"
#include "model/UpdateState.h"
#include "records/AdoptFlow.h"
#include "records/AppIncident.h"
#include "records/AppRecord.h"
#include "records/GhostAppRecord.h"
#include "records/TrustSealRecord.h"
#include "services/MechanismProbe.h"
#include "services/SoftwareUpdateProbe.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>

class UpdateQueueController;
class UpdateEvent;
struct RemediationRegistry;

// What the model asks of the Mac besides the engine: the probes refreshed after
// each library load, the "updates ready" notification, revealing a file,
// reopening an application and bringing this app forward. The defaults are
// the real services; tests put fakes in.
struct AppModelServices {
    // Blocking; run off the GUI thread.
    std::function<bool(double timeout)> detectOpenCore;
    std::function<MechanismHealth(double timeout)> checkBrew;
    std::function<MechanismHealth(double timeout)> checkMas;
    // Asynchronous; its blocking work runs off the GUI thread.
    std::function<QCoro::Task<MacOSUpdateStatus>(double timeout)> checkSoftwareUpdate;
    std::function<void(int count, const QStringList &topApps)> notifyUpdates;
    std::function<void(const QString &filePath)> revealFile;
    std::function<void(const QString &applicationPath)> openApplication;
    // Brings this app forward and raises its first window (on the GUI thread).
    std::function<void()> activateApplication;
    // The engine's trust seal of one application (VARNOProcess::trustSeal);
    // tests hold seals back with it.
    std::function<QCoro::Task<TrustSealRecord>(QString bundleId)> trustSeal;

    static AppModelServices system();
    // Probes that answer at once (no OpenCore, Homebrew and mas healthy, macOS
    // up to date) and no notification or revealed file; the rest as system()
    // (screenshots, benchmarks, tests).
    static AppModelServices quiet();
};

// The one model of the library of installed applications. It lives on the GUI
// thread; every window, the menu-bar panel and Settings read its state and
// call its asynchronous actions, and every user action becomes an engine call
// made from here.
//
// Observable fields have a change signal, emitted when the value changed.
// Actions are coroutines that never throw: failures end in the model's error()
// or in the application's UpdateState.
class AppModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isPreparing READ isPreparing WRITE setIsPreparing NOTIFY isPreparingChanged)
    Q_PROPERTY(bool isScanning READ isScanning NOTIFY isScanningChanged)
    Q_PROPERTY(bool isUpdating READ isUpdating NOTIFY isUpdatingChanged)
    Q_PROPERTY(bool isPaused READ isPaused NOTIFY isPausedChanged)
    Q_PROPERTY(bool isFixing READ isFixing NOTIFY isFixingChanged)
    Q_PROPERTY(bool isOpenCore READ isOpenCore NOTIFY isOpenCoreChanged)
    Q_PROPERTY(bool hasEverScanned READ hasEverScanned WRITE setHasEverScanned NOTIFY hasEverScannedChanged)
    Q_PROPERTY(bool detailsMode READ detailsMode WRITE setDetailsMode NOTIFY detailsModeChanged)
    Q_PROPERTY(bool allowUnsignedAdopt READ allowUnsignedAdopt WRITE setAllowUnsignedAdopt NOTIFY allowUnsignedAdoptChanged)
    Q_PROPERTY(bool showOnboarding READ showOnboarding WRITE setShowOnboarding NOTIFY showOnboardingChanged)

public:
    // The user-defaults keys of the persisted flags.
    static const QString hasEverScannedKey;     // "varno_has_ever_scanned"
    static const QString detailsModeKey;        // "varno_details_mode"
    static const QString allowUnsignedAdoptKey; // "varno_allow_unsigned_adopt"
    static const QString onboardingDoneKey;     // "varno_onboarding_done"

    static const QStringList updateModes; // "auto", "ask", "notify", "ignore", "self"

    explicit AppModel(QObject *parent = nullptr);
    AppModel(AppModelServices services, QObject *parent = nullptr);
    ~AppModel() override;

    // --- Observable state --------------------------------------------------
    const QList<AppRecord> &apps() const { return m_apps; }
    void setApps(QList<AppRecord> apps);
    bool isPreparing() const { return m_isPreparing; }
    void setIsPreparing(bool preparing);
    bool isScanning() const { return m_isScanning; }
    bool isUpdating() const { return m_isUpdating; }
    bool isPaused() const { return m_isPaused; }
    std::optional<QDateTime> lastScanDate() const { return m_lastScanDate; }
    std::optional<QString> error() const { return m_error; }
    // Views write the one user-facing failure sentence here too.
    void setError(std::optional<QString> error);
    const QHash<QString, UpdateState> &updateProgress() const { return m_updateProgress; }
    // The state of one application: idle when it has no entry.
    UpdateState updateState(const QString &bundleId) const { return UpdateState::of(m_updateProgress, bundleId); }
    // Forgets the per-application states of the last update run (the menu's
    // Update All does this before it opens the update-run sheet).
    void clearUpdateProgress() { setUpdateProgress({}); }
    // Puts one application into a state directly, as the screenshots and the
    // views' tests show it; the app's actions never call this.
    void setPreviewUpdateState(const QString &bundleId, const UpdateState &state) { setUpdateState(bundleId, state); }
    const QHash<QString, AppIncident> &incidents() const { return m_incidents; }
    // A change of one app's entry in updateProgress or incidents is told with
    // the app's bundle id (updateStateChanged, incidentChanged) right before
    // the field's own signal, so that a view of many apps redraws only that
    // app's part. A change of a whole map tells only the field's signal and
    // moves this number on; no two models share one.
    quint64 wholeMapChanges() const { return m_wholeMapChanges; }
    // Where updateProgress stands, kept as it changes, so that a view of a
    // long run reads it at once: its entries, those that end an update, and
    // the apps running, the latest started first.
    struct UpdateRunTally {
        qsizetype entries = 0;
        qsizetype finished = 0;
        QStringList running;
    };
    const UpdateRunTally &updateRunTally() const { return m_runTally; }
    // The library's first record with a bundle id, or none; found through an
    // index kept per library.
    const AppRecord *firstRecord(const QString &bundleId) const;
    bool isFixing() const { return m_isFixing; }
    const QList<GhostAppRecord> &ghostApps() const { return m_ghostApps; }
    MacOSUpdateStatus macOSUpdateStatus() const { return m_macOSUpdateStatus; }
    bool isOpenCore() const { return m_isOpenCore; }
    MechanismHealth brewHealth() const { return m_brewHealth; }
    MechanismHealth masHealth() const { return m_masHealth; }
    std::optional<QString> engineVersion() const { return m_engineVersion; }
    std::shared_ptr<VARNOCancellationToken> singleUpdateToken() const { return m_singleUpdateToken; }
    bool hasEverScanned() const { return m_hasEverScanned; }
    // A library has been applied (by a load, a background-scan check or
    // setApps); before that `apps` is empty because nothing was read yet.
    bool hasLibrary() const { return m_hasLibrary; }
    void setHasEverScanned(bool value);
    bool detailsMode() const { return m_detailsMode; }
    void setDetailsMode(bool value);
    bool allowUnsignedAdopt() const { return m_allowUnsignedAdopt; }
    void setAllowUnsignedAdopt(bool value);
    bool showOnboarding() const { return m_showOnboarding; }
    void setShowOnboarding(bool value);
    AppFilter selectedFilter() const { return m_selectedFilter; }
    void setSelectedFilter(AppFilter filter);
    std::optional<QString> selectedBundleID() const { return m_selectedBundleID; }
    void setSelectedBundleID(std::optional<QString> bundleId);

    // --- Plain bookkeeping (not observable) --------------------------------
    qint64 incidentEventSeq() const { return m_incidentEventSeq; }
    const QHash<QString, qint64> &liveIncidentSeq() const { return m_liveIncidentSeq; }
    std::shared_ptr<UpdateQueueController> updateController() const { return m_updateController; }
    bool isEnrichingSeals() const { return m_isEnrichingSeals; }
    bool isCheckingOpenCore() const { return m_isCheckingOpenCore; }
    bool isCheckingMacOSUpdate() const { return m_isCheckingMacOSUpdate; }
    bool isCheckingMechanismHealth() const { return m_isCheckingMechanismHealth; }
    std::optional<QDateTime> lastOpenCoreCheck() const { return m_lastOpenCoreCheck; }
    std::optional<QDateTime> lastMacOSUpdateCheck() const { return m_lastMacOSUpdateCheck; }
    std::optional<QDateTime> lastMechanismHealthCheck() const { return m_lastMechanismHealthCheck; }
    bool isCheckingBackgroundScan() const { return m_isCheckingBackgroundScan; }
    // A read of the last-scan time that a load started is still out.
    bool isReadingScanHistory() const { return m_scanHistoryReads > 0; }

    // Busy while an update stream, a scan or a guarded fix runs, or while a
    // single-application update holds its cancellation token.
    bool isBusy() const;
    // Busy as above, or this application's own entry is running (its update,
    // fix, adoption, re-install or uninstall is under way). Re-install and
    // uninstall, which may replace the same app, wait for all of it.
    bool isBusyFor(const QString &bundleId) const;

    // The sizes of the derived lists below, counted once per applied library
    // (kept until the library changes) without copying a record.
    struct LibraryCounts {
        qsizetype all = 0;
        qsizetype outdated = 0;
        qsizetype verified = 0;
        qsizetype unmeasured = 0;
        qsizetype sensingGap = 0;
        qsizetype atRisk = 0;
        qsizetype urgent = 0;
    };
    const LibraryCounts &libraryCounts() const;
    // Each record's status, in library order, worked out once per applied
    // library: what every count of the library is taken from.
    const QList<AppRecord::StatusFacts> &libraryStatusFacts() const;
    // A number that changes whenever the library changes (a new list, or a
    // record patched in place); no two models share one. Views keep what
    // they work out of the library under it.
    quint64 libraryRevision() const { return m_libraryRevision; }

    // --- Derived lists (computed afresh, in library order) -----------------
    QList<AppRecord> outdatedApps() const;
    QList<AppRecord> verifiedApps() const;
    QList<AppRecord> unmeasuredApps() const;
    QList<AppRecord> sensingGapApps() const;
    QList<AppRecord> atRiskApps() const;
    QList<AppRecord> urgentApps() const;
    QList<AppRecord> brewApps() const;
    QList<AppRecord> masApps() const;
    QList<AppRecord> sparkleApps() const;
    QList<AppRecord> selfManagedApps() const;
    QList<AppRecord> outdatedBrewApps() const;
    QList<AppRecord> outdatedMasApps() const;
    QList<AppRecord> outdatedSparkleApps() const;
    QList<AppRecord> outdatedSelfManagedApps() const;
    std::optional<AppRecord> selectedApp() const;
    bool hasDetectionFailure() const;
    // Applications held back for the user's approval.
    QList<AppRecord> waitingForOKApps() const;

    static bool isSelfManaged(const AppRecord &record);

    // What the posture presenter reads of the model (error, scan history and
    // the counts of the derived lists).
    PostureSnapshot postureSnapshot() const;
    // The main menu's Copy App Details text, and the label of an update mode.
    static QString appDetailsSummary(const AppRecord &app) { return ModelText::appDetailsSummary(app); }
    static QString updateModeLabel(const QString &mode) { return ModelText::updateModeLabel(mode); }

    // --- Loading and scanning ----------------------------------------------
    // Re-reads the whole library; never fails to its caller. It returns once
    // the list is applied: the probes, the seals and the last-scan time are
    // started, not awaited.
    QCoro::Task<void> load();
    void reconcileIncidents(const QList<AppRecord> &records, qint64 snapshotSeq);
    QCoro::Task<void> reconcileScanHistoryFromMetadata();
    static QCoro::Task<std::optional<QDateTime>> readLastScanDateFromMetadata();
    // The engine's "last_scan" text as a time: ISO 8601 with a "T", a time
    // zone, and optionally a fraction of a second.
    static std::optional<QDateTime> parseLastScan(const QString &text);
    QCoro::Task<void> scan();
    void dismissGhosts();
    void pruneStaleUpdateProgress();

    // --- Probes and trust seals ---------------------------------------------
    void refreshOpenCoreStatusIfNeeded(bool force = false);
    void refreshMacOSUpdateStatusIfNeeded(bool force = false);
    void refreshMechanismHealthIfNeeded(bool force = false);
    static QStringList eligibleSealCandidates(const QList<AppRecord> &records, int limit);
    void enrichEligibleSeals();
    void applyTrustSeal(const QString &bundleId, bool greenSeal, bool verifiedPath);

    // --- Single-application actions -----------------------------------------
    QCoro::Task<void> update(AppRecord app);
    QCoro::Task<void> setUpdateMode(AppRecord app, QString mode);
    QCoro::Task<void> triggerSelfUpdate(AppRecord app);
    QCoro::Task<void> reinstall(AppRecord app);
    QCoro::Task<void> uninstall(AppRecord app);
    // What a restore ended in: the app put back, the engine's failure, or
    // refused before anything ran; text() is the sentence of the last two.
    class RestoreOutcome {
    public:
        enum class Kind { restored, failed, refused };
        static RestoreOutcome restored() { return RestoreOutcome(Kind::restored, QString()); }
        static RestoreOutcome failed(const QString &text) { return RestoreOutcome(Kind::failed, text); }
        static RestoreOutcome refused(const QString &text) { return RestoreOutcome(Kind::refused, text); }
        Kind kind() const { return m_kind; }
        QString text() const { return m_text; }

    private:
        RestoreOutcome(Kind kind, QString text)
            : m_kind(kind)
            , m_text(std::move(text))
        {
        }
        Kind m_kind;
        QString m_text;
    };
    // Puts the app back to the version of its last local backup (`restore
    // --bundle-id`, 300 s). Its entry runs "Restoring…" and ends done (then
    // "restore_used" is recorded and the library reloaded) or failed with the
    // engine's sentence; the restore runs to its end whoever asked for it and
    // whatever closes meanwhile. Refused while isBusyFor(app), the reason
    // set as the error.
    QCoro::Task<RestoreOutcome> restore(AppRecord app);
    QCoro::Task<void> fixIncident(AppRecord app);
    QCoro::Task<void> approveHeadlessAsk(AppRecord app);
    QCoro::Task<void> getHelp(AppRecord app);
    static UpdateState approveOutcomeForStillOutdated(const QString &bundleId, const std::optional<QString> &incidentCode,
                                                      const RemediationRegistry &registry);

    // The texts these actions leave.
    // Why re-install, uninstall or restore ("re-install", "uninstall",
    // "restore") does not start while other work may change the same app.
    static QString busyRefusalText(const QString &action, const QString &appName);
    static QString stillOutdatedText(const AppRecord &record);
    static QString fixFailureText(const QString &bundleId);
    static QString notLandedText(const QString &bundleId);
    // What quit-and-update shows when its update did not land.
    static QString quitUpdateFailureText(const QString &bundleId);
    // What quit-and-update shows when the record's install path is not an
    // application bundle whose processes may be asked to quit.
    static QString unsafeInstallPathText(const QString &appName);
    static const QString alreadyRunningText; // exit 75
    // What a row shows that a streamed run left running when it ended
    // normally (its app_done never arrived).
    static const QString runEndedWithoutResultText;
    // ~/Library/Logs/VARNO/support-bundle-<bundleTimestamp()>.json
    static QString supportBundlePath();
    // The current time as yyyyMMdd'T'HHmmss'Z' in UTC, e.g. 20260109T142530Z.
    static QString bundleTimestamp();

    // --- Adoption into Homebrew Cask ----------------------------------------
    // The dry run's preview; nothing when busy, when the engine failed (the
    // error says so) or when its answer does not decode.
    QCoro::Task<std::optional<AdoptFlow::Preview>> loadAdoptPreview(AppRecord app);
    QCoro::Task<AdoptOutcome> confirmAdopt(AppRecord app, std::optional<QString> caskToken, bool allowUnsigned);

    // --- Quit-and-update and defer-to-quit ------------------------------------
    // Asks the running application to quit, waits for it, runs the approved
    // update and opens the application again. Only an install path that is an
    // application bundle is used to find its processes; any other is refused.
    QCoro::Task<void> quitAndUpdate(AppRecord app);
    // Tells the engine to update the application once the user quits it.
    QCoro::Task<void> deferUpdateToQuit(AppRecord app);

    // --- The update queue ----------------------------------------------------
    QCoro::Task<void> updateAll();
    QCoro::Task<void> updateUrgent();
    // The urgent applications' bundle ids: trimmed of blanks and tabs, without
    // empty ones, ones that begin with "-" and repeats.
    QStringList urgentBundleIDs() const;
    // What the update-run sheet shows for the engine's status word.
    static QString friendlyStatus(const QString &status);
    // Applies one event of the update stream (in arrival order).
    void handleUpdateEvent(const UpdateEvent &event);
    // Re-reads the library after a background scan and tells the user about
    // applications that became outdated.
    QCoro::Task<void> checkForBackgroundScanResults();
    // Ends the first-run onboarding for good and brings the app forward with
    // its first window.
    void completeOnboarding();

    // Throttle intervals and time-outs of the probes (seconds).
    static constexpr double openCoreInterval = 3600;
    static constexpr double macOSUpdateInterval = 300;
    static constexpr double mechanismHealthInterval = 300;
    static constexpr double openCoreTimeout = 2;
    static constexpr double macOSUpdateTimeout = 10;
    static constexpr double mechanismTimeout = 2;
    static constexpr int sealCandidateLimit = 12;
    static constexpr int sealConcurrency = 3;

Q_SIGNALS:
    void appsChanged();
    void isPreparingChanged();
    void isScanningChanged();
    void isUpdatingChanged();
    void isPausedChanged();
    void lastScanDateChanged();
    void errorChanged();
    void updateProgressChanged();
    void updateStateChanged(const QString &bundleId);
    void incidentsChanged();
    void incidentChanged(const QString &bundleId);
    void isFixingChanged();
    void ghostAppsChanged();
    void macOSUpdateStatusChanged();
    void isOpenCoreChanged();
    void brewHealthChanged();
    void masHealthChanged();
    void singleUpdateTokenChanged();
    void hasEverScannedChanged();
    void detailsModeChanged();
    void allowUnsignedAdoptChanged();
    void showOnboardingChanged();
    void selectedFilterChanged();
    void selectedBundleIDChanged();

private:
    struct SealPass;

    void setIsScanning(bool value);
    void setIsUpdating(bool value);
    void setIsPaused(bool value);
    void setIsFixing(bool value);
    void setLastScanDate(std::optional<QDateTime> date);
    void setIncidents(QHash<QString, AppIncident> incidents);
    // One app's incident, or none.
    void setIncident(const QString &bundleId, const std::optional<AppIncident> &incident);
    void setGhostApps(QList<GhostAppRecord> ghosts);
    void setMacOSUpdateStatus(const MacOSUpdateStatus &status);
    void setIsOpenCore(bool value);
    void setBrewHealth(const MechanismHealth &health);
    void setMasHealth(const MechanismHealth &health);
    void setSingleUpdateToken(std::shared_ptr<VARNOCancellationToken> token);
    void setUpdateState(const QString &bundleId, const UpdateState &state);
    void removeUpdateState(const QString &bundleId);
    void setUpdateProgress(QHash<QString, UpdateState> progress);
    // Keeps updateRunTally() as one entry changes from `before` to `after`
    // (nothing: no entry).
    void tally(const QString &bundleId, const UpdateState *before, const UpdateState *after);

    std::optional<AppRecord> record(const QString &bundleId) const;
    QList<AppRecord> filtered(const std::function<bool(const AppRecord &)> &keep) const;
    bool throttleAllows(const std::optional<QDateTime> &lastCheck, double interval, bool force) const;

    void loadGhosts();
    QCoro::Task<void> runLifecycleAction(QString bundleId, QString runningText, QCoro::Task<void> call);
    // Opens the application bundle that was asked to quit again, when it
    // still passes the check it passed before it was asked (quittableBundle,
    // resolving to the same folder). Never a path from the reloaded record:
    // the update may have changed what the library names.
    void relaunch(const QString &bundlePath);
    QCoro::Task<void> runUpdateStream(QStringList only);
    // Writes a row for the streamed run, remembering it as the run's.
    void setRunRow(const QString &bundleId, const UpdateState &state);
    // When a run ends: its rows still queued go back to idle, its rows still
    // running fail with the reason.
    void settleRunRows(const QString &reason);
    // The one place a library list replaces apps: numbered so that an older
    // list that arrives late cannot undo a newer one.
    bool claimLoadResult(quint64 serial);
    QCoro::Task<void> refreshMacOSUpdateStatus();
    void startNextSeal(const std::shared_ptr<SealPass> &pass);
    QCoro::Task<void> runSealChild(QString bundleId, std::shared_ptr<SealPass> pass);

    AppModelServices m_services;

    QList<AppRecord> m_apps;
    // Bumped on every change of m_apps; the counts are worked out lazily.
    void libraryChanged();
    quint64 m_libraryRevision = 0;
    mutable std::optional<LibraryCounts> m_libraryCounts;
    mutable std::optional<QHash<QString, qsizetype>> m_recordIndex;
    mutable std::optional<bool> m_missesAMechanism;
    UpdateRunTally m_runTally;
    mutable std::optional<QList<AppRecord::StatusFacts>> m_libraryStatusFacts;
    bool m_isPreparing = false;
    bool m_isScanning = false;
    bool m_isUpdating = false;
    bool m_isPaused = false;
    std::optional<QDateTime> m_lastScanDate;
    std::optional<QString> m_error;
    QHash<QString, UpdateState> m_updateProgress;
    QHash<QString, AppIncident> m_incidents;
    quint64 m_wholeMapChanges = 0;
    bool m_isFixing = false;
    qint64 m_incidentEventSeq = 0;
    QHash<QString, qint64> m_liveIncidentSeq;
    QList<GhostAppRecord> m_ghostApps;
    MacOSUpdateStatus m_macOSUpdateStatus = MacOSUpdateStatus::unavailable();
    bool m_isOpenCore = false;
    MechanismHealth m_brewHealth = MechanismHealth::unknown();
    MechanismHealth m_masHealth = MechanismHealth::unknown();
    std::optional<QString> m_engineVersion;
    std::optional<QDateTime> m_lastMacOSUpdateCheck;
    bool m_isCheckingMacOSUpdate = false;
    std::optional<QDateTime> m_lastMechanismHealthCheck;
    bool m_isCheckingMechanismHealth = false;
    std::optional<QDateTime> m_lastOpenCoreCheck;
    bool m_isCheckingOpenCore = false;
    bool m_isEnrichingSeals = false;
    std::shared_ptr<UpdateQueueController> m_updateController;
    std::shared_ptr<VARNOCancellationToken> m_singleUpdateToken;
    bool m_hasEverScanned = false;
    bool m_detailsMode = false;
    bool m_allowUnsignedAdopt = false;
    bool m_showOnboarding = true;
    AppFilter m_selectedFilter = AppFilter::all;
    std::optional<QString> m_selectedBundleID;
    bool m_isCheckingBackgroundScan = false;
    int m_scanHistoryReads = 0;
    // What the current or last streamed run last wrote in each of its rows.
    QHash<QString, UpdateState> m_runRows;

    // Loads may overlap; each is numbered when it starts, and a list older
    // than the last one applied is dropped so that it cannot undo a newer one.
    // Only applied lists count: a failed load leaves the number as it was.
    quint64 m_loadSerial = 0;
    quint64 m_lastAppliedLoad = 0;
    bool m_hasLibrary = false;
};
