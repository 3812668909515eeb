#include "model/AppModel.h"

#include "model/ModelChanges.h"

#include "base/Async.h"
#include "base/Logging.h"
#include "engine/CLIBootstrap.h"
#include "engine/UpdateStream.h"
#include "engine/VARNOProcess.h"
#include "platform/PlainText.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "services/NotificationManager.h"
#include "services/OpenCoreProbe.h"

#include <QUrl>

#include <algorithm>
#include <atomic>

const QString AppModel::hasEverScannedKey = QStringLiteral("varno_has_ever_scanned");
const QString AppModel::detailsModeKey = QStringLiteral("varno_details_mode");
const QString AppModel::allowUnsignedAdoptKey = QStringLiteral("varno_allow_unsigned_adopt");
const QString AppModel::onboardingDoneKey = QStringLiteral("varno_onboarding_done");

const QStringList AppModel::updateModes = {
    QStringLiteral("auto"),   QStringLiteral("ask"),  QStringLiteral("notify"),
    QStringLiteral("ignore"), QStringLiteral("self"),
};

AppModelServices AppModelServices::system()
{
    AppModelServices services;
    services.detectOpenCore = [](double timeout) { return OpenCoreProbe::detect(timeout); };
    services.checkBrew = [](double timeout) { return MechanismProbe::checkBrew(timeout); };
    services.checkMas = [](double timeout) { return MechanismProbe::checkMas(timeout); };
    services.checkSoftwareUpdate = [](double timeout) { return SoftwareUpdateProbe::check(timeout); };
    services.notifyUpdates = [](int count, const QStringList &topApps) {
        NotificationManager().notifyUpdates(count, topApps);
    };
    services.revealFile = [](const QString &path) {
        Workspace::shared()->activateFileViewerSelecting({QUrl::fromLocalFile(path)});
    };
    services.openApplication = [](const QString &path) {
        Workspace::shared()->openApplication(QUrl::fromLocalFile(path));
    };
    services.activateApplication = [] { Workspace::shared()->activateApplication(); };
    services.trustSeal = [](QString bundleId) { return VARNOProcess::trustSeal(std::move(bundleId)); };
    return services;
}

AppModelServices AppModelServices::quiet()
{
    AppModelServices services;
    services.detectOpenCore = [](double) { return false; };
    services.checkBrew = [](double) { return MechanismHealth::healthy(); };
    services.checkMas = [](double) { return MechanismHealth::healthy(); };
    services.checkSoftwareUpdate = [](double) -> QCoro::Task<MacOSUpdateStatus> {
        co_return MacOSUpdateStatus::upToDate();
    };
    services.notifyUpdates = [](int, const QStringList &) {};
    services.revealFile = [](const QString &) {};
    return services;
}

namespace {

bool storedFlag(const QString &key)
{
    return UserDefaults::open()->value(key, false).toBool();
}

void storeFlag(const QString &key, bool value)
{
    UserDefaults::open()->setValue(key, value);
}

} // namespace

AppModel::AppModel(QObject *parent)
    : AppModel(AppModelServices::system(), parent)
{
}

AppModel::AppModel(AppModelServices services, QObject *parent)
    : QObject(parent)
    , m_services(std::move(services))
{
    // Any service a caller left out is the system's.
    const AppModelServices system = AppModelServices::system();
    if (!m_services.detectOpenCore)
        m_services.detectOpenCore = system.detectOpenCore;
    if (!m_services.checkBrew)
        m_services.checkBrew = system.checkBrew;
    if (!m_services.checkMas)
        m_services.checkMas = system.checkMas;
    if (!m_services.checkSoftwareUpdate)
        m_services.checkSoftwareUpdate = system.checkSoftwareUpdate;
    if (!m_services.notifyUpdates)
        m_services.notifyUpdates = system.notifyUpdates;
    if (!m_services.revealFile)
        m_services.revealFile = system.revealFile;
    if (!m_services.openApplication)
        m_services.openApplication = system.openApplication;
    if (!m_services.activateApplication)
        m_services.activateApplication = system.activateApplication;
    if (!m_services.trustSeal)
        m_services.trustSeal = system.trustSeal;

    // Before anyone else connects: it tells each change after its signal.
    new ModelChanges(this);
    m_engineVersion = CLIBootstrap::bundledVersion();
    m_hasEverScanned = storedFlag(hasEverScannedKey);
    m_detailsMode = storedFlag(detailsModeKey);
    m_allowUnsignedAdopt = storedFlag(allowUnsignedAdoptKey);
    m_showOnboarding = !storedFlag(onboardingDoneKey);
}

AppModel::~AppModel() = default;

// --- Setters -------------------------------------------------------------

#define VARNO_SET_AND_NOTIFY(member, value, signal) \
    do {                                            \
        if ((member) == (value))                    \
            return;                                 \
        (member) = (value);                         \
        Q_EMIT signal();                            \
    } while (false)

// The library is replaced whole after every engine call. A list equal to the
// one applied (the same library read again) is not applied and tells nobody:
// comparing costs a small part of the redraw of every view that follows the
// library, and a list that shares the applied one's data compares at once.
void AppModel::setApps(QList<AppRecord> apps)
{
    if (m_hasLibrary && apps == m_apps)
        return;
    m_apps = std::move(apps);
    m_hasLibrary = true;
    libraryChanged();
    Q_EMIT appsChanged();
}

void AppModel::libraryChanged()
{
    // One sequence for every model: a revision never names two libraries.
    static std::atomic<quint64> revisions{0};
    m_libraryRevision = ++revisions;
    m_libraryCounts.reset();
    m_libraryStatusFacts.reset();
    m_recordIndex.reset();
    m_missesAMechanism.reset();
}

const AppRecord *AppModel::firstRecord(const QString &bundleId) const
{
    if (!m_recordIndex) {
        QHash<QString, qsizetype> index;
        index.reserve(m_apps.size());
        for (qsizetype position = m_apps.size() - 1; position >= 0; --position)
            index.insert(m_apps.at(position).bundle_id, position);
        m_recordIndex = std::move(index);
    }
    const auto found = m_recordIndex->constFind(bundleId);
    return found == m_recordIndex->cend() ? nullptr : &m_apps.at(*found);
}

const QList<AppRecord::StatusFacts> &AppModel::libraryStatusFacts() const
{
    if (!m_libraryStatusFacts) {
        QList<AppRecord::StatusFacts> facts;
        facts.reserve(m_apps.size());
        for (const AppRecord &app : m_apps)
            facts.append(app.statusFacts());
        m_libraryStatusFacts = std::move(facts);
    }
    return *m_libraryStatusFacts;
}

const AppModel::LibraryCounts &AppModel::libraryCounts() const
{
    if (!m_libraryCounts) {
        LibraryCounts counts;
        counts.all = m_apps.size();
        for (const AppRecord::StatusFacts &facts : libraryStatusFacts()) {
            const bool atRisk = facts.color == AppStatusColor::atRisk;
            counts.outdated += facts.outdated;
            counts.verified += facts.verified;
            counts.unmeasured += facts.unmeasured;
            counts.sensingGap += facts.unmeasured || facts.unknownStatus;
            counts.atRisk += atRisk;
            counts.urgent += atRisk && facts.outdated;
        }
        m_libraryCounts = counts;
    }
    return *m_libraryCounts;
}

void AppModel::setIsPreparing(bool preparing)
{
    VARNO_SET_AND_NOTIFY(m_isPreparing, preparing, isPreparingChanged);
}
void AppModel::setIsScanning(bool value)
{
    VARNO_SET_AND_NOTIFY(m_isScanning, value, isScanningChanged);
}
void AppModel::setIsUpdating(bool value)
{
    VARNO_SET_AND_NOTIFY(m_isUpdating, value, isUpdatingChanged);
}
void AppModel::setIsPaused(bool value)
{
    VARNO_SET_AND_NOTIFY(m_isPaused, value, isPausedChanged);
}
void AppModel::setIsFixing(bool value)
{
    VARNO_SET_AND_NOTIFY(m_isFixing, value, isFixingChanged);
}
void AppModel::setLastScanDate(std::optional<QDateTime> date)
{
    VARNO_SET_AND_NOTIFY(m_lastScanDate, date, lastScanDateChanged);
}
namespace {

// The whole text of an error that is shown cut goes to the log. A long one
// (an engine that flooded its standard error) is converted and written from
// the pool, so that the GUI thread does not spend its time on megabytes.
constexpr qsizetype kLoggedOnTheSpot = 65536;

void writeWholeError(const QString &text)
{
    qCWarning(lcVarno, "error (shown cut): %s", qUtf8Printable(text));
}

void logWholeError(const QString &text)
{
    if (text.size() <= kLoggedOnTheSpot)
        writeWholeError(text);
    else
        Async::detach(Async::offThread(nullptr, Async::named("log error", writeWholeError, text)));
}

} // namespace

void AppModel::setError(std::optional<QString> error)
{
    // What is shown is bounded; the whole text goes to the log.
    if (error) {
        const QString shown = PlainText::forDisplay(*error);
        if (shown != *error) {
            logWholeError(*error);
            error = shown;
        }
    }
    VARNO_SET_AND_NOTIFY(m_error, error, errorChanged);
}
namespace {

// One sequence for every model, as the library's revisions.
quint64 nextWholeMapChange()
{
    static std::atomic<quint64> changes{0};
    return ++changes;
}

} // namespace

void AppModel::setIncidents(QHash<QString, AppIncident> incidents)
{
    if (m_incidents == incidents)
        return;
    m_incidents = std::move(incidents);
    m_wholeMapChanges = nextWholeMapChange();
    Q_EMIT incidentsChanged();
}

void AppModel::setIncident(const QString &bundleId, const std::optional<AppIncident> &incident)
{
    // Changed in place: a run's thousands of incidents are not copied per app.
    const auto it = m_incidents.constFind(bundleId);
    const bool present = it != m_incidents.cend();
    if (incident ? (present && *it == *incident) : !present)
        return;
    if (incident)
        m_incidents.insert(bundleId, *incident);
    else
        m_incidents.remove(bundleId);
    Q_EMIT incidentChanged(bundleId);
    Q_EMIT incidentsChanged();
}
void AppModel::setGhostApps(QList<GhostAppRecord> ghosts)
{
    if (m_ghostApps.size() == ghosts.size()
        && std::equal(m_ghostApps.cbegin(), m_ghostApps.cend(), ghosts.cbegin(),
                      [](const GhostAppRecord &a, const GhostAppRecord &b) {
                          return a.bundle_id == b.bundle_id && a.app_name == b.app_name
                              && a.install_path == b.install_path && a.cask_token == b.cask_token;
                      }))
        return;
    m_ghostApps = std::move(ghosts);
    Q_EMIT ghostAppsChanged();
}
void AppModel::setMacOSUpdateStatus(const MacOSUpdateStatus &status)
{
    VARNO_SET_AND_NOTIFY(m_macOSUpdateStatus, status, macOSUpdateStatusChanged);
}
void AppModel::setIsOpenCore(bool value)
{
    VARNO_SET_AND_NOTIFY(m_isOpenCore, value, isOpenCoreChanged);
}
void AppModel::setBrewHealth(const MechanismHealth &health)
{
    VARNO_SET_AND_NOTIFY(m_brewHealth, health, brewHealthChanged);
}
void AppModel::setMasHealth(const MechanismHealth &health)
{
    VARNO_SET_AND_NOTIFY(m_masHealth, health, masHealthChanged);
}
void AppModel::setSingleUpdateToken(std::shared_ptr<VARNOCancellationToken> token)
{
    VARNO_SET_AND_NOTIFY(m_singleUpdateToken, token, singleUpdateTokenChanged);
}
void AppModel::setShowOnboarding(bool value)
{
    VARNO_SET_AND_NOTIFY(m_showOnboarding, value, showOnboardingChanged);
}
void AppModel::setSelectedFilter(AppFilter filter)
{
    VARNO_SET_AND_NOTIFY(m_selectedFilter, filter, selectedFilterChanged);
}
void AppModel::setSelectedBundleID(std::optional<QString> bundleId)
{
    VARNO_SET_AND_NOTIFY(m_selectedBundleID, bundleId, selectedBundleIDChanged);
}
void AppModel::setUpdateProgress(QHash<QString, UpdateState> progress)
{
    if (m_updateProgress == progress)
        return;
    m_updateProgress = std::move(progress);
    m_wholeMapChanges = nextWholeMapChange();
    m_runTally = UpdateRunTally();
    m_runTally.entries = m_updateProgress.size();
    for (auto it = m_updateProgress.cbegin(); it != m_updateProgress.cend(); ++it) {
        m_runTally.finished += it->isFinal();
        if (it->kind() == UpdateState::Kind::running)
            m_runTally.running.append(it.key());
    }
    Q_EMIT updateProgressChanged();
}

void AppModel::tally(const QString &bundleId, const UpdateState *before, const UpdateState *after)
{
    m_runTally.entries += (after ? 1 : 0) - (before ? 1 : 0);
    m_runTally.finished += (after && after->isFinal() ? 1 : 0) - (before && before->isFinal() ? 1 : 0);
    if (before && before->kind() == UpdateState::Kind::running)
        m_runTally.running.removeOne(bundleId);
    if (after && after->kind() == UpdateState::Kind::running)
        m_runTally.running.prepend(bundleId);
}

#undef VARNO_SET_AND_NOTIFY

// The three persisted flags are written on every assignment, also when the
// value did not change.
void AppModel::setHasEverScanned(bool value)
{
    const bool changed = m_hasEverScanned != value;
    m_hasEverScanned = value;
    storeFlag(hasEverScannedKey, value);
    if (changed)
        Q_EMIT hasEverScannedChanged();
}

void AppModel::setDetailsMode(bool value)
{
    const bool changed = m_detailsMode != value;
    m_detailsMode = value;
    storeFlag(detailsModeKey, value);
    if (changed)
        Q_EMIT detailsModeChanged();
}

void AppModel::setAllowUnsignedAdopt(bool value)
{
    const bool changed = m_allowUnsignedAdopt != value;
    m_allowUnsignedAdopt = value;
    storeFlag(allowUnsignedAdoptKey, value);
    if (changed)
        Q_EMIT allowUnsignedAdoptChanged();
}

void AppModel::setUpdateState(const QString &bundleId, const UpdateState &state)
{
    const auto it = m_updateProgress.constFind(bundleId);
    if (it != m_updateProgress.cend() && *it == state)
        return;
    tally(bundleId, it != m_updateProgress.cend() ? &*it : nullptr, &state);
    m_updateProgress.insert(bundleId, state);
    Q_EMIT updateStateChanged(bundleId);
    Q_EMIT updateProgressChanged();
}

void AppModel::removeUpdateState(const QString &bundleId)
{
    const auto it = m_updateProgress.constFind(bundleId);
    if (it != m_updateProgress.cend())
        tally(bundleId, &*it, nullptr);
    if (m_updateProgress.remove(bundleId) > 0) {
        Q_EMIT updateStateChanged(bundleId);
        Q_EMIT updateProgressChanged();
    }
}

// --- Busy rule and derived lists -------------------------------------------

bool AppModel::isBusy() const
{
    return m_isUpdating || m_isScanning || m_isFixing || m_singleUpdateToken != nullptr;
}

bool AppModel::isBusyFor(const QString &bundleId) const
{
    return isBusy() || updateState(bundleId).kind() == UpdateState::Kind::running;
}

std::optional<AppRecord> AppModel::record(const QString &bundleId) const
{
    for (const AppRecord &app : m_apps) {
        if (app.bundle_id == bundleId)
            return app;
    }
    return std::nullopt;
}

QList<AppRecord> AppModel::filtered(const std::function<bool(const AppRecord &)> &keep) const
{
    QList<AppRecord> result;
    for (const AppRecord &app : m_apps) {
        if (keep(app))
            result.append(app);
    }
    return result;
}

namespace {

bool mechanismIs(const AppRecord &app, QLatin1String mechanism)
{
    return app.update_mechanism && *app.update_mechanism == mechanism;
}

} // namespace

namespace {

// Whether `text` in lower case is `lowered` (lower-case ASCII). Counting and
// filtering ask this of every record: plain ASCII, the usual case, is
// compared without making the lower-case copy.
bool lowersTo(const QString &text, QLatin1String lowered)
{
    const bool ascii = std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
    if (!ascii)
        return text.toLower() == lowered;
    if (text.size() != lowered.size())
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        const char16_t lower = c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c;
        if (lower != char16_t(uchar(lowered.at(i).toLatin1())))
            return false;
    }
    return true;
}

} // namespace

bool AppModel::isSelfManaged(const AppRecord &app)
{
    if (app.update_mechanism
        && (lowersTo(*app.update_mechanism, QLatin1String("vendor_self_update"))
            || lowersTo(*app.update_mechanism, QLatin1String("sparkle_internal"))))
        return true;
    if (app.self_managed ? *app.self_managed : app.vendor_self_update.value_or(false))
        return true;
    return app.update_mode && *app.update_mode == QLatin1String("self");
}

QList<AppRecord> AppModel::outdatedApps() const
{
    return filtered([](const AppRecord &a) { return a.isOutdated(); });
}
QList<AppRecord> AppModel::verifiedApps() const
{
    return filtered([](const AppRecord &a) { return a.isVerified(); });
}
QList<AppRecord> AppModel::unmeasuredApps() const
{
    return filtered([](const AppRecord &a) { return a.isUnmeasured(); });
}

QList<AppRecord> AppModel::sensingGapApps() const
{
    return filtered([](const AppRecord &a) { return a.isUnmeasured() || a.isUnknownStatus(); });
}

QList<AppRecord> AppModel::atRiskApps() const
{
    return filtered([](const AppRecord &a) { return a.statusColor() == AppStatusColor::atRisk; });
}

QList<AppRecord> AppModel::urgentApps() const
{
    return filtered([](const AppRecord &a) { return a.statusColor() == AppStatusColor::atRisk && a.isOutdated(); });
}

QList<AppRecord> AppModel::brewApps() const
{
    return filtered([](const AppRecord &a) { return mechanismIs(a, QLatin1String("cask")); });
}
QList<AppRecord> AppModel::masApps() const
{
    return filtered([](const AppRecord &a) { return mechanismIs(a, QLatin1String("mas")); });
}
QList<AppRecord> AppModel::sparkleApps() const
{
    return filtered([](const AppRecord &a) { return mechanismIs(a, QLatin1String("sparkle")); });
}
QList<AppRecord> AppModel::selfManagedApps() const
{
    return filtered(&AppModel::isSelfManaged);
}

QList<AppRecord> AppModel::outdatedBrewApps() const
{
    return filtered([](const AppRecord &a) { return mechanismIs(a, QLatin1String("cask")) && a.isOutdated(); });
}

QList<AppRecord> AppModel::outdatedMasApps() const
{
    return filtered([](const AppRecord &a) { return mechanismIs(a, QLatin1String("mas")) && a.isOutdated(); });
}

QList<AppRecord> AppModel::outdatedSparkleApps() const
{
    return filtered([](const AppRecord &a) { return mechanismIs(a, QLatin1String("sparkle")) && a.isOutdated(); });
}

QList<AppRecord> AppModel::outdatedSelfManagedApps() const
{
    return filtered([](const AppRecord &a) { return isSelfManaged(a) && a.isOutdated(); });
}

std::optional<AppRecord> AppModel::selectedApp() const
{
    if (!m_selectedBundleID)
        return std::nullopt;
    return record(*m_selectedBundleID);
}

bool AppModel::hasDetectionFailure() const
{
    if (!m_hasEverScanned)
        return false;
    // Some mechanism without a single app: read once per library, without
    // copying a record.
    if (!m_missesAMechanism) {
        bool brew = false, mas = false, sparkle = false, selfManaged = false;
        for (const AppRecord &app : m_apps) {
            brew = brew || mechanismIs(app, QLatin1String("cask"));
            mas = mas || mechanismIs(app, QLatin1String("mas"));
            sparkle = sparkle || mechanismIs(app, QLatin1String("sparkle"));
            selfManaged = selfManaged || isSelfManaged(app);
            if (brew && mas && sparkle && selfManaged)
                break;
        }
        m_missesAMechanism = !(brew && mas && sparkle && selfManaged);
    }
    return *m_missesAMechanism;
}

QList<AppRecord> AppModel::waitingForOKApps() const
{
    if (m_apps.isEmpty() || m_incidents.isEmpty())
        return {};
    return filtered([this](const AppRecord &a) {
        const auto it = m_incidents.constFind(a.bundle_id);
        return it != m_incidents.cend() && it->code == QLatin1String("UPDATE_MODE_ASK_HEADLESS");
    });
}

PostureSnapshot AppModel::postureSnapshot() const
{
    PostureSnapshot snapshot;
    snapshot.error = m_error;
    snapshot.hasEverScanned = m_hasEverScanned;
    snapshot.lastScanDate = m_lastScanDate;
    const LibraryCounts &counts = libraryCounts();
    snapshot.outdatedCount = counts.outdated;
    snapshot.atRiskCount = counts.atRisk;
    snapshot.sensingGapCount = counts.sensingGap;
    return snapshot;
}
