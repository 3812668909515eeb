// The throttled probes refreshed after each load, and the trust-seal
// enrichment.

#include "model/AppModel.h"

#include "base/Async.h"
#include "base/Logging.h"
#include "engine/VARNOProcess.h"
#include "platform/Clock.h"

#include <qcoro/qcorofuture.h>

namespace {

// Each probe holds the model while it works and hands its result back to the
// GUI thread; a model that is gone by then drops it. A probe that throws
// hands back nothing: `settle` clears its in-flight flag all the same, so
// that the next load runs it again.
// (The model goes in as a plain pointer and is guarded inside: a guard passed
// as a temporary argument is not safe in a coroutine with this compiler.)
template<typename Result>
QCoro::Task<void> runProbe(AppModel *target, QString name, std::function<Result()> probe,
                           std::function<void(AppModel &, Result)> apply, std::function<void(AppModel &)> settle)
{
    QPointer<AppModel> model(target);
    std::optional<Result> result;
    try {
        Async::Work<Result> probing = Async::offThread(nullptr, Async::toolPool(), std::move(probe));
        result = co_await probing;
    } catch (const std::exception &e) {
        qCWarning(lcVarno).noquote() << name << "probe failed:" << e.what();
    } catch (...) {
        qCWarning(lcVarno).noquote() << name << "probe failed";
    }
    if (!model)
        co_return;
    if (result)
        apply(*model, std::move(*result));
    settle(*model);
}

} // namespace

bool AppModel::throttleAllows(const std::optional<QDateTime> &lastCheck, double interval, bool force) const
{
    if (force || !lastCheck)
        return true;
    // A last check in the future gives a negative difference: recent.
    const qint64 elapsedMs = lastCheck->msecsTo(Clock::now());
    return elapsedMs >= static_cast<qint64>(interval * 1000);
}

void AppModel::refreshOpenCoreStatusIfNeeded(bool force)
{
    if (m_isCheckingOpenCore || !throttleAllows(m_lastOpenCoreCheck, openCoreInterval, force))
        return;
    m_isCheckingOpenCore = true;
    auto detect = m_services.detectOpenCore;
    Async::detach(runProbe<bool>(
        this, QStringLiteral("OpenCore"), [detect] { return detect(openCoreTimeout); },
        [](AppModel &model, bool isOpenCore) {
            model.setIsOpenCore(isOpenCore);
            model.m_lastOpenCoreCheck = Clock::now();
        },
        [](AppModel &model) { model.m_isCheckingOpenCore = false; }));
}

void AppModel::refreshMacOSUpdateStatusIfNeeded(bool force)
{
    if (m_isOpenCore) {
        setMacOSUpdateStatus(MacOSUpdateStatus::unavailable());
        return;
    }
    if (m_isCheckingMacOSUpdate || !throttleAllows(m_lastMacOSUpdateCheck, macOSUpdateInterval, force))
        return;
    m_isCheckingMacOSUpdate = true;
    Async::detach(refreshMacOSUpdateStatus());
}

QCoro::Task<void> AppModel::refreshMacOSUpdateStatus()
{
    QPointer<AppModel> self(this);
    std::optional<MacOSUpdateStatus> status;
    try {
        auto check = m_services.checkSoftwareUpdate(macOSUpdateTimeout);
        status = co_await std::move(check);
    } catch (const std::exception &e) {
        qCWarning(lcVarno).noquote() << "Software Update probe failed:" << e.what();
    } catch (...) {
        qCWarning(lcVarno).noquote() << "Software Update probe failed";
    }
    if (!self)
        co_return;
    if (status) {
        setMacOSUpdateStatus(*status);
        m_lastMacOSUpdateCheck = Clock::now();
    }
    m_isCheckingMacOSUpdate = false;
}

void AppModel::refreshMechanismHealthIfNeeded(bool force)
{
    if (m_isCheckingMechanismHealth || !throttleAllows(m_lastMechanismHealthCheck, mechanismHealthInterval, force))
        return;
    m_isCheckingMechanismHealth = true;
    using Pair = std::pair<MechanismHealth, MechanismHealth>;
    auto brew = m_services.checkBrew;
    auto mas = m_services.checkMas;
    Async::detach(runProbe<Pair>(
        this, QStringLiteral("Homebrew and mas"),
        [brew, mas] {
            MechanismHealth brewHealth = brew(mechanismTimeout);
            MechanismHealth masHealth = mas(mechanismTimeout);
            return Pair(brewHealth, masHealth);
        },
        [](AppModel &model, Pair health) {
            model.setBrewHealth(health.first);
            model.setMasHealth(health.second);
            model.m_lastMechanismHealthCheck = Clock::now();
        },
        [](AppModel &model) { model.m_isCheckingMechanismHealth = false; }));
}

QStringList AppModel::eligibleSealCandidates(const QList<AppRecord> &records, int limit)
{
    QStringList candidates;
    for (const AppRecord &app : records) {
        if (candidates.size() >= limit)
            break;
        if (app.verified_path.value_or(false) && !app.green_seal.value_or(false))
            candidates.append(app.bundle_id);
    }
    return candidates;
}

// One enrichment pass: the candidates, the next one to start, and how many
// seal calls are still out.
struct AppModel::SealPass {
    QStringList candidates;
    qsizetype next = 0;
    int running = 0;
};

void AppModel::enrichEligibleSeals()
{
    if (m_isEnrichingSeals)
        return;
    const QStringList candidates = eligibleSealCandidates(m_apps, sealCandidateLimit);
    if (candidates.isEmpty())
        return;
    m_isEnrichingSeals = true;
    auto pass = std::make_shared<SealPass>();
    pass->candidates = candidates;
    // A sliding window: the first three start now, and each one that ends
    // starts the next.
    for (int i = 0; i < sealConcurrency && pass->next < pass->candidates.size(); ++i)
        startNextSeal(pass);
}

void AppModel::startNextSeal(const std::shared_ptr<SealPass> &pass)
{
    const QString bundleId = pass->candidates.at(pass->next++);
    ++pass->running;
    Async::detach(runSealChild(bundleId, pass));
}

QCoro::Task<void> AppModel::runSealChild(QString bundleId, std::shared_ptr<SealPass> pass)
{
    // Held weakly: a model that is gone drops the seal.
    QPointer<AppModel> model(this);
    std::optional<TrustSealRecord> seal;
    try {
        auto fetch = m_services.trustSeal;
        auto call = fetch(bundleId);
        seal = co_await std::move(call);
    } catch (...) {
        // A failed seal leaves the record as it was; it stays a candidate.
    }
    if (!model)
        co_return;
    if (seal)
        model->applyTrustSeal(bundleId, seal->green_seal, seal->verified_path);
    --pass->running;
    if (pass->next < pass->candidates.size())
        model->startNextSeal(pass);
    else if (pass->running == 0)
        model->m_isEnrichingSeals = false;
}

void AppModel::applyTrustSeal(const QString &bundleId, bool greenSeal, bool verifiedPath)
{
    for (qsizetype i = 0; i < m_apps.size(); ++i) {
        if (m_apps.at(i).bundle_id != bundleId)
            continue;
        AppRecord patched = m_apps.at(i);
        patched.green_seal = greenSeal;
        patched.verified_path = verifiedPath;
        if (patched == m_apps.at(i))
            return;
        m_apps[i] = patched;
        libraryChanged();
        Q_EMIT appsChanged();
        return;
    }
}
