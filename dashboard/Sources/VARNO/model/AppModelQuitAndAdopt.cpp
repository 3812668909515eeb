// Adoption into Homebrew Cask, quit-and-update and defer-to-quit.

#include "model/AppModel.h"

#include "base/Logging.h"
#include "engine/VARNOProcess.h"
#include "model/EngineFailure.h"
#include "model/QuitAndUpdateFlow.h"
#include "platform/DebugLog.h"
#include "platform/PlainText.h"

#include <qcoro/qcorotimer.h>

QCoro::Task<std::optional<AdoptFlow::Preview>> AppModel::loadAdoptPreview(AppRecord app)
{
    if (isBusy())
        co_return std::nullopt;
    QPointer<AppModel> self(this);
    setIsFixing(true);
    std::optional<QByteArray> output;
    std::optional<EngineFailure> failure;
    try {
        output = co_await VARNOProcess::adoptDryRunJSON(app.app_name);
    } catch (...) {
        failure = EngineFailure::from(std::current_exception());
    }
    if (!self)
        co_return std::nullopt;
    setIsFixing(false);
    if (failure) {
        setError(QStringLiteral("Brusk couldn't check the Homebrew Cask catalog: ") + failure->description);
        co_return std::nullopt;
    }
    co_return AdoptFlow::Preview::decode(*output);
}

QCoro::Task<AdoptOutcome> AppModel::confirmAdopt(AppRecord app, std::optional<QString> caskToken, bool allowUnsigned)
{
    if (isBusy())
        co_return AdoptOutcome::refused(QStringLiteral(
            "Brusk can't adopt right now — a scan, update, or fix is already running. Give it a moment and try again."));
    if (allowUnsigned && !m_allowUnsignedAdopt)
        co_return AdoptOutcome::refused(
            QStringLiteral("Adopting unsigned apps is turned off in Settings — Brusk won't override that."));
    const bool passUnsigned = allowUnsigned && m_allowUnsignedAdopt;

    QPointer<AppModel> self(this);
    const QString bid = app.bundle_id;
    setIsFixing(true);
    setUpdateState(bid, UpdateState::running(QStringLiteral("Adopting into Homebrew Cask…")));
    const std::optional<EngineFailure> failure = co_await attemptEngineCall(
        VARNOProcess::adoptApproved(app.app_name, caskToken, passUnsigned));
    if (!self)
        co_return AdoptOutcome::failed(QString());
    co_await load();
    if (!self)
        co_return AdoptOutcome::failed(QString());

    AdoptOutcome outcome = failure ? AdoptOutcome::failed(QStringLiteral("Adopt didn't take: ") + failure->description)
                                   : AdoptFlow::outcomeAfterReload(app.app_name, bid, m_apps);
    setUpdateState(bid,
                   outcome.kind() == AdoptOutcome::Kind::success ? UpdateState::done()
                                                                 : UpdateState::failed(outcome.text()));
    setIsFixing(false);
    co_return outcome;
}

QCoro::Task<void> AppModel::quitAndUpdate(AppRecord app)
{
    if (isBusy())
        co_return;
    QPointer<AppModel> self(this);
    const QString bid = app.bundle_id;
    const QString name = PlainText::forField(app.app_name); // as a person is shown it
    // An id that reads as an option never reaches the engine: refused before
    // anything is asked to quit, and no command is offered for it.
    try {
        VARNOProcess::ensureNotOptionLike(bid, QStringLiteral("bundle id"));
    } catch (const EngineArgumentError &refusal) {
        qCWarning(lcVarno).noquote() << "quit-and-update refused:" << refusal.errorDescription();
        setUpdateState(bid, UpdateState::failed(refusal.errorDescription()));
        co_return;
    }
    setIsFixing(true);
    setUpdateState(bid, UpdateState::running(QStringLiteral("Asking ") + name + QStringLiteral(" to quit…")));

    // Only processes inside a real application bundle are ever signalled.
    const std::optional<QString> bundle = QuitAndUpdateFlow::quittableBundle(app.install_path);
    if (!bundle) {
        qCWarning(lcVarno).noquote() << "quit-and-update refused for" << bid << "— install path"
                                     << app.install_path.value_or(QStringLiteral("(none)"))
                                     << "is not an application bundle";
        DebugLog::breadcrumb(QStringLiteral("quit_refused"),
                             bid + QStringLiteral(" — install path is not an app bundle"));
        setUpdateState(bid, UpdateState::failed(unsafeInstallPathText(name)));
        setIsFixing(false);
        co_return;
    }

    const QuitAndUpdateFlow::Attempt attempt = co_await QuitAndUpdateFlow::requestQuit(*bundle);
    bool quit = false;
    if (self && attempt.result != QuitAndUpdateFlow::TerminateAttempt::refused) {
        const QuitAndUpdateFlow::Timing timing = QuitAndUpdateFlow::timing();
        bool running = co_await QuitAndUpdateFlow::isStillRunning(*bundle, attempt.asked);
        std::chrono::milliseconds waited{0};
        while (running && self) {
            co_await QCoro::sleepFor(timing.pause);
            if (waited + timing.pause >= timing.limit)
                break;
            running = co_await QuitAndUpdateFlow::isStillRunning(*bundle, attempt.asked);
            waited += timing.pause;
        }
        quit = !running;
    }
    if (!self)
        co_return;

    if (!quit) {
        DebugLog::breadcrumb(QStringLiteral("quit_denied"), bid + QStringLiteral(" — no update attempted"));
        setUpdateState(bid,
                       UpdateState::quitDenied(QStringLiteral("Brusk couldn't quit ") + name
                                               + QStringLiteral(" — save your work and try again.")));
        setIsFixing(false);
        co_return;
    }

    setUpdateState(bid, UpdateState::running(QStringLiteral("Updating…")));
    // Failures other than exit 75 are judged by the reloaded record below.
    const std::optional<EngineFailure> failure = co_await attemptEngineCall(VARNOProcess::updateApproved(bid));
    const bool alreadyRunning = failure && failure->isExit75;
    if (!self)
        co_return;
    co_await load();
    if (!self)
        co_return;
    const std::optional<AppRecord> fresh = record(bid);
    if (attempt.result == QuitAndUpdateFlow::TerminateAttempt::asked)
        relaunch(*bundle);
    const bool ok = !alreadyRunning && (!fresh || !fresh->isOutdated());
    if (ok)
        setUpdateState(bid, UpdateState::done());
    else if (alreadyRunning)
        setUpdateState(bid, UpdateState::skipped(alreadyRunningText));
    else
        setUpdateState(bid, UpdateState::failed(quitUpdateFailureText(bid)));
    setIsFixing(false);
}

QString AppModel::unsafeInstallPathText(const QString &appName)
{
    return QStringLiteral("Brusk won't ask ") + appName
        + QStringLiteral(" to quit: its install path isn't an app bundle. Quit it yourself, then update it.");
}

void AppModel::relaunch(const QString &bundlePath)
{
    const std::optional<QString> checked = QuitAndUpdateFlow::quittableBundle(bundlePath);
    if (!checked || *checked != bundlePath) {
        qCWarning(lcVarno).noquote() << "not reopening" << bundlePath
                                     << "— after the update it is no longer the application bundle that was asked to quit";
        return;
    }
    m_services.openApplication(*checked);
}

QCoro::Task<void> AppModel::deferUpdateToQuit(AppRecord app)
{
    if (isBusy())
        co_return;
    QPointer<AppModel> self(this);
    setIsFixing(true);
    const std::optional<EngineFailure> failure = co_await attemptEngineCall(VARNOProcess::setUpdateOnQuit(app.bundle_id));
    if (!self)
        co_return;
    if (failure)
        setError(QStringLiteral("Couldn’t arm update-on-quit: ") + failure->description);
    else
        setUpdateState(app.bundle_id, UpdateState::skipped(QStringLiteral("Brusk will update it after you quit it")));
    setIsFixing(false);
}
