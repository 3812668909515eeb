// The streamed update queue, the background-scan pick-up and the end of
// onboarding.

#include "model/AppModel.h"

#include "model/ModelChanges.h"

#include "base/Async.h"
#include "engine/UpdateEvent.h"
#include "engine/UpdateStream.h"
#include "engine/VARNOProcess.h"
#include "model/EngineFailure.h"
#include "platform/PlainText.h"
#include "platform/UserDefaults.h"

#include <QSet>

namespace {

QStringList libraryListArguments()
{
    return {QStringLiteral("list"), QStringLiteral("--json"), QStringLiteral("--all")};
}

QSet<QString> outdatedIds(const QList<AppRecord> &records)
{
    QSet<QString> ids;
    for (const AppRecord &record : records) {
        if (record.isOutdated())
            ids.insert(record.bundle_id);
    }
    return ids;
}

} // namespace

QCoro::Task<void> AppModel::updateAll()
{
    // Only clear the board when a run will really start; a busy model keeps
    // every state it shows.
    if (isBusy())
        co_return;
    setUpdateProgress({});
    const QStringList everything;
    co_await runUpdateStream(everything);
}

QCoro::Task<void> AppModel::updateUrgent()
{
    const QStringList ids = urgentBundleIDs();
    if (ids.isEmpty() || isBusy())
        co_return;
    setUpdateProgress({});
    co_await runUpdateStream(ids);
}

QStringList AppModel::urgentBundleIDs() const
{
    QStringList ids;
    for (const AppRecord &app : urgentApps()) {
        const QString id = PlainText::trimBlanks(app.bundle_id);
        if (id.isEmpty() || id.startsWith(QLatin1Char('-')) || ids.contains(id))
            continue;
        ids.append(id);
    }
    return ids;
}

QCoro::Task<void> AppModel::runUpdateStream(QStringList only)
{
    if (isBusy())
        co_return;
    QPointer<AppModel> self(this);
    setIsUpdating(true);
    setIsPaused(false);
    setUpdateProgress({});
    m_runRows.clear();

    // The callbacks are named values: temporaries inside a co_await
    // expression are not destroyed reliably by this compiler.
    const UpdateStream::ControllerHandler onController = [self](std::shared_ptr<UpdateQueueController> controller) {
        if (self)
            self->m_updateController = std::move(controller);
    };
    const UpdateStream::EventHandler onEvent = [self](const UpdateEvent &event) {
        if (self)
            self->handleUpdateEvent(event);
    };
    std::optional<QString> failure;
    try {
        co_await UpdateStream::streamUpdate(only, onController, onEvent);
    } catch (...) {
        const EngineFailure engineFailure = EngineFailure::from(std::current_exception());
        failure = engineFailure.isExit75 ? alreadyRunningText : engineFailure.description;
    }
    if (!self)
        co_return;
    // No row of this run keeps a spinner once it is over.
    settleRunRows(failure.value_or(runEndedWithoutResultText));
    if (failure)
        setError(failure);
    else
        co_await load();
    if (!self)
        co_return;
    setIsUpdating(false);
    setIsPaused(false);
    m_updateController.reset();
}

const QString AppModel::runEndedWithoutResultText = QStringLiteral("The update run ended without a result for this app.");

void AppModel::settleRunRows(const QString &reason)
{
    QHash<QString, UpdateState> progress = m_updateProgress;
    for (auto it = m_runRows.cbegin(); it != m_runRows.cend(); ++it) {
        // Only a row that still shows what the run last put there; one that
        // another action has written since is that action's.
        const auto current = progress.constFind(it.key());
        if (current == progress.cend() || *current != it.value() || it->isFinal())
            continue;
        if (it->kind() == UpdateState::Kind::queued)
            progress.remove(it.key()); // never reached: back to idle
        else
            progress.insert(it.key(), UpdateState::failed(reason));
    }
    m_runRows.clear();
    setUpdateProgress(std::move(progress));
}

void AppModel::setRunRow(const QString &bundleId, const UpdateState &state)
{
    m_runRows.insert(bundleId, state);
    setUpdateState(bundleId, state);
}

QString AppModel::friendlyStatus(const QString &status)
{
    const QString lower = status.toLower();
    if (lower == QLatin1String("fetching") || lower == QLatin1String("downloading"))
        return QStringLiteral("Fetching…");
    if (lower == QLatin1String("verifying"))
        return QStringLiteral("Verifying…");
    if (lower == QLatin1String("installing"))
        return QStringLiteral("Installing…");
    if (lower == QLatin1String("cleaning"))
        return QStringLiteral("Cleaning up…");
    // Each word capitalised: its first letter upper case, the rest lower.
    QString text = lower;
    bool wordStart = true;
    for (QChar &c : text) {
        if (c.isSpace()) {
            wordStart = true;
        } else if (wordStart) {
            c = c.toUpper();
            wordStart = false;
        }
    }
    return text + QStringLiteral("…");
}

void AppModel::handleUpdateEvent(const UpdateEvent &event)
{
    if (const auto *start = event.as<UpdateEvent::QueueStart>()) {
        QHash<QString, UpdateState> progress = m_updateProgress;
        const qint64 total = start->apps.size();
        for (qsizetype i = 0; i < start->apps.size(); ++i) {
            const UpdateState queued = UpdateState::queued(i + 1, total);
            progress.insert(start->apps.at(i).bundleId, queued);
            m_runRows.insert(start->apps.at(i).bundleId, queued);
        }
        setUpdateProgress(std::move(progress));
    } else if (const auto *appStart = event.as<UpdateEvent::AppStart>()) {
        // The engine's texts are kept as a person is shown them.
        setRunRow(appStart->bundleId, UpdateState::running(friendlyStatus(PlainText::forDisplay(appStart->status))));
    } else if (const auto *done = event.as<UpdateEvent::AppDone>()) {
        if (done->skipped)
            setRunRow(done->bundleId,
                      UpdateState::skipped(PlainText::forDisplay(done->error.value_or(QStringLiteral("skipped")))));
        else if (!done->success)
            setRunRow(done->bundleId,
                      UpdateState::failed(PlainText::forDisplay(done->error.value_or(QStringLiteral("update failed")))));
        else
            setRunRow(done->bundleId, UpdateState::done());

        if (done->success) {
            m_liveIncidentSeq.insert(done->bundleId, ++m_incidentEventSeq);
            setIncident(done->bundleId, std::nullopt);
        } else if (done->errorCode) {
            m_liveIncidentSeq.insert(done->bundleId, ++m_incidentEventSeq);
            setIncident(done->bundleId,
                        AppIncident{*done->errorCode,
                                    done->skipped ? AppIncident::Kind::skipped : AppIncident::Kind::failed, std::nullopt});
        }
    } else if (event.as<UpdateEvent::QueuePaused>()) {
        setIsPaused(true);
    } else if (event.as<UpdateEvent::QueueResumed>()) {
        setIsPaused(false);
    }
}

QCoro::Task<void> AppModel::checkForBackgroundScanResults()
{
    // The baseline is the last library applied: without one, every outdated
    // app would count as newly outdated.
    if (m_isCheckingBackgroundScan || !m_hasLibrary)
        co_return;
    m_isCheckingBackgroundScan = true;
    QPointer<AppModel> self(this);
    const qint64 snapshot = m_incidentEventSeq;
    // Numbered like a load: a list requested before a newer load answered
    // must not replace that load's library.
    const quint64 serial = ++m_loadSerial;

    std::optional<QList<AppRecord>> decoded;
    try {
        const QByteArray output = co_await VARNOProcess::run(libraryListArguments(), 120);
        decoded = AppRecord::decodeList(output);
    } catch (...) {
        // A failed check changes nothing and shows nothing.
    }
    if (!self)
        co_return;
    if (decoded && !(decoded->isEmpty() && !m_apps.isEmpty()) && claimLoadResult(serial)) {
        const QSet<QString> previous = outdatedIds(m_apps);
        const QSet<QString> current = outdatedIds(*decoded);
        const QSet<QString> newly = current - previous;
        const ModelChanges::Batch batch(this);
        setApps(*decoded);
        reconcileIncidents(m_apps, snapshot);
        Async::detach(reconcileScanHistoryFromMetadata()); // arrives when it arrives
        refreshOpenCoreStatusIfNeeded(false);
        refreshMacOSUpdateStatusIfNeeded(false);
        refreshMechanismHealthIfNeeded(false);
        if (!newly.isEmpty()) {
            QStringList names;
            for (const AppRecord &record : std::as_const(*decoded)) {
                if (newly.contains(record.bundle_id))
                    names.append(record.app_name);
            }
            m_services.notifyUpdates(static_cast<int>(current.size()), names);
        }
    }
    m_isCheckingBackgroundScan = false;
}

void AppModel::completeOnboarding()
{
    UserDefaults::open()->setValue(onboardingDoneKey, true);
    setShowOnboarding(false);
    m_services.activateApplication();
}
