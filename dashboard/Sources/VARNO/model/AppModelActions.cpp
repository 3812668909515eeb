// The actions on one application: update, update mode, its own updater,
// re-install, uninstall, restore, fix, approve and get help.

#include "model/AppModel.h"

#include "engine/ExperimentRecorder.h"
#include "engine/VARNOProcess.h"
#include "model/EngineFailure.h"
#include "platform/Clock.h"
#include "platform/PlainText.h"
#include "platform/VarnoPaths.h"
#include "records/RemediationRegistry.h"
#include "records/ShellQuoting.h"

namespace {

// An engine command built here around a bundle id: refused like the command
// operations' own when the id reads as an option, before anything starts.
QCoro::Task<void> runForBundle(QStringList arguments, QString bundleId, double timeout,
                               std::shared_ptr<VARNOCancellationToken> token = {})
{
    VARNOProcess::ensureNotOptionLike(bundleId, QStringLiteral("bundle id"));
    co_await VARNOProcess::run(std::move(arguments), timeout, std::move(token));
}

} // namespace

const QString AppModel::alreadyRunningText = QStringLiteral(
    "Brusk is already running an update. Give it a moment and try again.");

QString AppModel::busyRefusalText(const QString &action, const QString &appName)
{
    return QStringLiteral("Brusk can't ") + action + QLatin1Char(' ') + appName
        + QStringLiteral(" right now — a scan, update, or other change is already running. Give it a moment and try "
                         "again.");
}

QString AppModel::stillOutdatedText(const AppRecord &record)
{
    return QStringLiteral("Still ") + PlainText::forField(record.current_version.value_or(QStringLiteral("?")))
        + QStringLiteral(" — brew may have failed. Try Update All for details.");
}

QString AppModel::fixFailureText(const QString &bundleId)
{
    return QStringLiteral("The fix didn't take. Run `varno fix ") + ShellQuoting::singleQuoted(bundleId)
        + QStringLiteral("` in Terminal for details.");
}

QString AppModel::notLandedText(const QString &bundleId)
{
    return QStringLiteral("The update didn't land. Run `varno update --only ") + ShellQuoting::singleQuoted(bundleId)
        + QStringLiteral(" --approved` in Terminal for details.");
}

QString AppModel::quitUpdateFailureText(const QString &bundleId)
{
    return QStringLiteral("The update didn't land. Run `varno fix ") + ShellQuoting::singleQuoted(bundleId)
        + QStringLiteral("` in Terminal for details.");
}

QString AppModel::bundleTimestamp()
{
    return Clock::now().toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
}

QString AppModel::supportBundlePath()
{
    return VarnoPaths::home() + QStringLiteral("/Library/Logs/VARNO") + QStringLiteral("/support-bundle-")
        + bundleTimestamp() + QStringLiteral(".json");
}

UpdateState AppModel::approveOutcomeForStillOutdated(const QString &bundleId, const std::optional<QString> &incidentCode,
                                                     const RemediationRegistry &registry)
{
    if (registry.action(incidentCode) == IncidentAction::quitAndUpdate)
        return UpdateState::skipped(QStringLiteral("app is running — close it and retry"));
    return UpdateState::failed(notLandedText(bundleId));
}

QCoro::Task<void> AppModel::update(AppRecord app)
{
    if (isBusy())
        co_return;
    QPointer<AppModel> self(this);
    const QString bid = app.bundle_id;
    setUpdateState(bid, UpdateState::running(QStringLiteral("Updating…")));
    auto token = VARNOCancellationToken::create();
    setSingleUpdateToken(token);

    const QStringList arguments = {QStringLiteral("update"), QStringLiteral("--only"), bid};
    auto call = runForBundle(arguments, bid, 300, token);
    const std::optional<EngineFailure> failure = co_await attemptEngineCall(std::move(call));
    if (!self)
        co_return;
    if (!failure) {
        co_await load();
        if (!self)
            co_return;
        const auto fresh = record(bid);
        if (fresh && fresh->isOutdated())
            setUpdateState(bid, UpdateState::failed(stillOutdatedText(*fresh)));
        else
            setUpdateState(bid, UpdateState::done());
    } else {
        setUpdateState(bid, UpdateState::failed(failure->description));
    }
    setSingleUpdateToken(nullptr);
}

QCoro::Task<void> AppModel::setUpdateMode(AppRecord app, QString mode)
{
    if (!updateModes.contains(mode)) {
        setError(QStringLiteral("Unknown update mode: ") + mode);
        co_return;
    }
    QPointer<AppModel> self(this);
    const std::optional<EngineFailure> failure = co_await attemptEngineCall(
        VARNOProcess::setUpdateMode(app.bundle_id, mode));
    if (!self)
        co_return;
    if (!failure)
        co_await load();
    else
        setError(QStringLiteral("Couldn’t set update mode: ") + failure->description);
}

QCoro::Task<void> AppModel::triggerSelfUpdate(AppRecord app)
{
    if (m_isUpdating)
        co_return;
    QPointer<AppModel> self(this);
    const QString bid = app.bundle_id;
    setUpdateState(bid, UpdateState::running(QStringLiteral("Opening app updater…")));
    const QStringList arguments = {QStringLiteral("trigger-update"), bid};
    auto call = runForBundle(arguments, bid, 120);
    const std::optional<EngineFailure> failure = co_await attemptEngineCall(std::move(call));
    if (!self)
        co_return;
    setUpdateState(bid, failure ? UpdateState::failed(failure->description) : UpdateState::done());
}

// Re-install and uninstall: running with the text, then done and a reload
// that removes the entry, or failed with the engine's sentence. Neither starts
// while other engine work may replace the same app (isBusyFor): the error says
// why (a confirmation may be answered after a scan or update has started).
QCoro::Task<void> AppModel::runLifecycleAction(QString bundleId, QString runningText, QCoro::Task<void> call)
{
    QPointer<AppModel> self(this);
    setUpdateState(bundleId, UpdateState::running(runningText));
    const std::optional<EngineFailure> failure = co_await attemptEngineCall(std::move(call));
    if (!self)
        co_return;
    if (failure) {
        setUpdateState(bundleId, UpdateState::failed(failure->description));
        co_return;
    }
    setUpdateState(bundleId, UpdateState::done());
    co_await load();
    if (self)
        removeUpdateState(bundleId);
}

QCoro::Task<void> AppModel::reinstall(AppRecord app)
{
    // Before the engine call is made: a task starts running when it is made.
    if (isBusyFor(app.bundle_id)) {
        setError(busyRefusalText(QStringLiteral("re-install"), app.app_name));
        co_return;
    }
    const QString text = QStringLiteral("Reinstalling…");
    auto call = VARNOProcess::reinstall(app.bundle_id);
    co_await runLifecycleAction(app.bundle_id, text, std::move(call));
}

QCoro::Task<void> AppModel::uninstall(AppRecord app)
{
    // Before the engine call is made: a task starts running when it is made.
    if (isBusyFor(app.bundle_id)) {
        setError(busyRefusalText(QStringLiteral("uninstall"), app.app_name));
        co_return;
    }
    const QString text = QStringLiteral("Uninstalling…");
    auto call = VARNOProcess::uninstall(app.bundle_id);
    co_await runLifecycleAction(app.bundle_id, text, std::move(call));
}

QCoro::Task<AppModel::RestoreOutcome> AppModel::restore(AppRecord app)
{
    const QString bid = app.bundle_id;
    if (isBusyFor(bid)) {
        const QString why = busyRefusalText(QStringLiteral("restore"), app.app_name);
        setError(why);
        co_return RestoreOutcome::refused(why);
    }
    QPointer<AppModel> self(this);
    setUpdateState(bid, UpdateState::running(QStringLiteral("Restoring…")));
    auto call = VARNOProcess::restore(bid);
    const std::optional<EngineFailure> failure = co_await attemptEngineCall(std::move(call));
    if (failure) {
        if (self)
            setUpdateState(bid, UpdateState::failed(failure->description));
        co_return RestoreOutcome::failed(failure->description);
    }
    ExperimentRecorder::record(ExperimentRecorder::restoreUsed);
    if (!self)
        co_return RestoreOutcome::restored();
    setUpdateState(bid, UpdateState::done());
    co_await load();
    co_return RestoreOutcome::restored();
}

QCoro::Task<void> AppModel::fixIncident(AppRecord app)
{
    if (isBusy())
        co_return;
    QPointer<AppModel> self(this);
    const QString bid = app.bundle_id;
    setIsFixing(true);
    setUpdateState(bid, UpdateState::running(QStringLiteral("Brusk is fixing…")));
    const std::optional<EngineFailure> failure = co_await attemptEngineCall(VARNOProcess::fix(bid));
    if (!self)
        co_return;
    co_await load();
    if (!self)
        co_return;
    if (failure) {
        setUpdateState(bid, UpdateState::failed(fixFailureText(bid)));
    } else if (m_incidents.contains(bid)) {
        setUpdateState(bid, UpdateState::failed(fixFailureText(bid)));
    } else if (const auto fresh = record(bid); fresh && fresh->isOutdated()) {
        removeUpdateState(bid);
    } else {
        setUpdateState(bid, UpdateState::done());
    }
    setIsFixing(false);
}

QCoro::Task<void> AppModel::approveHeadlessAsk(AppRecord app)
{
    if (isBusy())
        co_return;
    QPointer<AppModel> self(this);
    const QString bid = app.bundle_id;
    setIsFixing(true);
    setUpdateState(bid, UpdateState::running(QStringLiteral("Updating…")));
    const std::optional<EngineFailure> failure = co_await attemptEngineCall(VARNOProcess::updateApproved(bid));
    if (!self)
        co_return;
    co_await load();
    if (!self)
        co_return;
    if (!failure) {
        const auto fresh = record(bid);
        if (fresh && fresh->isOutdated()) {
            const auto incident = m_incidents.constFind(bid);
            const std::optional<QString> code = incident != m_incidents.cend() ? std::optional<QString>(incident->code)
                                                                               : std::nullopt;
            setUpdateState(bid, approveOutcomeForStillOutdated(bid, code, RemediationRegistry::shared()));
        } else {
            setUpdateState(bid, UpdateState::done());
        }
    } else if (failure->isExit75) {
        setUpdateState(bid, UpdateState::skipped(alreadyRunningText));
    } else {
        setUpdateState(bid, UpdateState::failed(failure->description));
    }
    setIsFixing(false);
}

QCoro::Task<void> AppModel::getHelp(AppRecord app)
{
    QPointer<AppModel> self(this);
    const QString bid = app.bundle_id;
    const std::optional<UpdateState> previous = m_updateProgress.contains(bid)
        ? std::optional(m_updateProgress.value(bid))
        : std::nullopt;
    const UpdateState building = UpdateState::running(QStringLiteral("Building support bundle…"));
    setUpdateState(bid, building);

    const QString path = supportBundlePath();
    const std::optional<EngineFailure> failure = co_await attemptEngineCall(VARNOProcess::diagnoseBundle(path));
    if (!self)
        co_return;
    // Put back what was there, unless another action wrote a newer state
    // meanwhile: that one stays.
    if (m_updateProgress.value(bid) == building && m_updateProgress.contains(bid)) {
        if (previous)
            setUpdateState(bid, *previous);
        else
            removeUpdateState(bid);
    }
    if (!failure)
        m_services.revealFile(path);
    else
        setError(QStringLiteral("Couldn’t build the support bundle: ") + failure->description);
}
