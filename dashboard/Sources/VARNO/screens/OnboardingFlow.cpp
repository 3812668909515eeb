#include "screens/OnboardingFlow.h"

#include "base/Async.h"
#include "engine/CLIBootstrap.h"
#include "model/AppModel.h"
#include "platform/Appearance.h"
#include "platform/PlainText.h"
#include "platform/ServiceOverride.h"
#include "screens/OnboardingRules.h"
#include "services/LaunchAgentManager.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QFuture>
#include <QTimer>

#include <qcoro/qcorofuture.h>
#include <qcoro/qcorosignal.h>
#include <qcoro/qcorotimer.h>

namespace {

class SystemTimers : public OnboardingTimers {
public:
    SystemTimers() { m_clock.start(); }
    qint64 nowMs() override { return m_clock.elapsed(); }
    void start(std::chrono::milliseconds delay, QObject *context, std::function<void()> fire) override
    {
        QTimer::singleShot(delay, context, std::move(fire));
    }

private:
    QElapsedTimer m_clock;
};

QCoro::Task<void> loadLibrary(AppModel *model)
{
    const QPointer<AppModel> guarded(model);
    if (guarded)
        co_await guarded->load();
}

ServiceOverride<OnboardingEnvironment> onboardingOverride;

QCoro::Task<void> bootstrapEngine()
{
    co_await CLIBootstrap::bootstrap();
}

void installAgentBlocking()
{
    try {
        LaunchAgentManager::install();
    } catch (...) {
        // The flow goes on without the agent; Settings shows its state.
    }
}

QCoro::Task<void> registerAgent()
{
    Async::Work<void> running = Async::offThread(nullptr, Async::toolPool(), installAgentBlocking);
    co_await running;
}

// One pause: ends when its timer fires or when the flow is cancelled.
class PauseWaiter : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    bool completed = false;
    bool ended = false;

    void end(bool byTimer)
    {
        if (ended)
            return;
        ended = true;
        completed = byTimer;
        Q_EMIT endedSignal();
    }

Q_SIGNALS:
    void endedSignal();
};

} // namespace

std::shared_ptr<OnboardingTimers> OnboardingTimers::system()
{
    return std::make_shared<SystemTimers>();
}

OnboardingEnvironment OnboardingEnvironment::system()
{
    OnboardingEnvironment environment;
    environment.bootstrap = bootstrapEngine;
    environment.installAgent = registerAgent;
    environment.load = loadLibrary;
    environment.fileExists = [](const QString &path) { return QFileInfo::exists(path); };
    environment.timers = OnboardingTimers::system();
    return environment;
}

OnboardingEnvironment OnboardingEnvironment::current()
{
    return onboardingOverride.current(&OnboardingEnvironment::system);
}

void OnboardingEnvironment::setOverride(std::optional<OnboardingEnvironment> environment)
{
    onboardingOverride.set(std::move(environment));
}

OnboardingFlow::OnboardingFlow(AppModel *model, OnboardingEnvironment environment, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_environment(std::move(environment))
{
    const OnboardingEnvironment fallback = OnboardingEnvironment::system();
    if (!m_environment.bootstrap)
        m_environment.bootstrap = fallback.bootstrap;
    if (!m_environment.installAgent)
        m_environment.installAgent = fallback.installAgent;
    if (!m_environment.load)
        m_environment.load = fallback.load;
    if (!m_environment.fileExists)
        m_environment.fileExists = fallback.fileExists;
    if (!m_environment.timers)
        m_environment.timers = fallback.timers;
}

void OnboardingFlow::start()
{
    if (m_started)
        return;
    m_started = true;
    Async::detach(runOnboarding());
}

void OnboardingFlow::cancel()
{
    if (m_cancelled)
        return;
    m_cancelled = true;
    Q_EMIT cancelRequested();
}

int OnboardingFlow::animation(int ms) const
{
    return Appearance::instance().reduceMotion() ? 0 : ms;
}

void OnboardingFlow::setPhase(OnboardingPhase phase, int animationMs)
{
    m_phase = phase;
    Q_EMIT phaseChanged(phase, animationMs);
}

void OnboardingFlow::setSetupStep(int step)
{
    m_setupStep = step;
    Q_EMIT setupChanged();
}

void OnboardingFlow::setDiscovery(int count, const std::optional<QString> &lastName, int animationMs)
{
    m_appsFound = count;
    if (lastName)
        m_lastFoundApp = *lastName;
    Q_EMIT discoveryChanged(animationMs);
}

QCoro::Task<bool> OnboardingFlow::pause(std::chrono::milliseconds length)
{
    if (m_cancelled)
        co_return false;
    auto *waiter = new PauseWaiter(this);
    connect(this, &OnboardingFlow::cancelRequested, waiter, [waiter] { waiter->end(false); });
    m_environment.timers->start(length, waiter, [waiter] { waiter->end(true); });
    if (!waiter->ended)
        co_await qCoro(waiter, &PauseWaiter::endedSignal);
    const bool completed = waiter->completed;
    waiter->deleteLater();
    co_return completed;
}

QCoro::Task<void> OnboardingFlow::runOnboarding()
{
    using namespace std::chrono_literals;

    // 1. Set-up begins.
    setPhase(OnboardingPhase::setup, 0);
    setSetupStep(0);
    co_await QCoro::sleepFor(0ms);

    // 2. The engine: installed and verified off the GUI thread; a failure
    // shows nowhere here (the start-up sequence reports it).
    bool engineInstalled = true;
    try {
        co_await m_environment.bootstrap();
    } catch (...) {
        engineInstalled = false;
    }
    co_await pause(afterBootstrap);

    // 3. Homebrew.
    setSetupStep(1);
    co_await QCoro::sleepFor(0ms);
    m_brewFound = OnboardingRules::toolFound(OnboardingRules::brewPrimary, OnboardingRules::brewSecondary,
                                             m_environment.fileExists);
    Q_EMIT setupChanged();
    co_await pause(afterBrew);

    // 4. The App Store tool.
    setSetupStep(2);
    co_await QCoro::sleepFor(0ms);
    m_masFound = OnboardingRules::toolFound(OnboardingRules::masPrimary, OnboardingRules::masSecondary,
                                            m_environment.fileExists);
    Q_EMIT setupChanged();
    co_await pause(afterMas);

    // 5. The background agent. It runs the installed engine on its own, so,
    // as at launch, it is not registered after a failed install; the step
    // still completes.
    setSetupStep(3);
    co_await QCoro::sleepFor(0ms);
    if (engineInstalled) {
        try {
            co_await m_environment.installAgent();
        } catch (...) {
        }
    }
    co_await pause(afterAgent);

    setSetupStep(4);
    co_await pause(afterSetup);

    // 6. Discovery: the library as the engine lists it.
    setPhase(OnboardingPhase::discovering, animation(discoveringFadeMs));
    if (m_model) {
        const auto load = m_environment.load;
        co_await load(m_model.data());
    }

    const auto lastName = [this]() -> std::optional<QString> {
        if (!m_model || m_model->apps().isEmpty())
            return std::nullopt;
        return PlainText::forField(m_model->apps().constLast().app_name);
    };
    const auto count = [this] { return m_model ? int(m_model->apps().size()) : 0; };

    if (m_model && !m_model->apps().isEmpty()) {
        setDiscovery(count(), lastName(), 0);
        co_await pause(afterFilledLoad);
    } else {
        // The start-up sequence's first scan fills the library; count what
        // each reload delivers until it is in, for at most a minute.
        const qint64 deadline = m_environment.timers->nowMs() + waitLimit.count();
        const auto waiting = [this, deadline] {
            if (!m_model)
                return false;
            const bool busy = m_model->isScanning() || m_model->apps().isEmpty();
            return busy && m_environment.timers->nowMs() < deadline;
        };
        while (waiting()) {
            const bool slept = co_await pause(pollInterval);
            if (!slept)
                break;
            if (count() != m_appsFound)
                setDiscovery(count(), lastName(), animation(countChangeMs));
        }
        setDiscovery(count(), lastName(), animation(countChangeMs));
    }

    co_await pause(beforeSummary);

    // 7. The summary, which waits for the user.
    setPhase(OnboardingPhase::done, animation(doneFadeMs));
    m_finished = true;
    Q_EMIT finished();
    deleteLater();
}

#include "OnboardingFlow.moc"
