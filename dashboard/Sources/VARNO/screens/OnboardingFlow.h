#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class AppModel;

// The three phases of the first run, in order.
enum class OnboardingPhase { setup, discovering, done };

// The clock and timers the first-run flow pauses with. The system's are
// QTimers; tests drive their own, so that no test waits for real time.
class OnboardingTimers {
public:
    virtual ~OnboardingTimers() = default;
    // Monotonic milliseconds.
    virtual qint64 nowMs() = 0;
    // Calls `fire` once, `delay` from now, unless `context` is gone by then.
    virtual void start(std::chrono::milliseconds delay, QObject *context, std::function<void()> fire) = 0;

    static std::shared_ptr<OnboardingTimers> system();
};

// What the flow does to the machine. The defaults are the app's own; tests
// and screenshots give theirs.
struct OnboardingEnvironment {
    // Installs and verifies the engine (off the GUI thread). May throw; the
    // flow drops any failure.
    std::function<QCoro::Task<void>()> bootstrap;
    // Registers the background-scan agent (off the GUI thread), only after
    // the engine's install succeeded. May throw.
    std::function<QCoro::Task<void>()> installAgent;
    // Reads the library into the model (AppModel::load()).
    std::function<QCoro::Task<void>(AppModel *model)> load;
    // Whether a file exists (the Homebrew and mas checks).
    std::function<bool(const QString &path)> fileExists;
    std::shared_ptr<OnboardingTimers> timers;

    static OnboardingEnvironment system();
    // The override when one is set (tests, screenshots), else system().
    static OnboardingEnvironment current();
    static void setOverride(std::optional<OnboardingEnvironment> environment);
};

// The scripted first run: engine set-up, the Homebrew and mas checks, the
// agent's registration, the first library load with a count of what arrives
// (waiting up to 60 s for the start-up scan when the library is empty), and
// the summary.
//
// The flow runs once per object and outlives the overlay that shows it:
// closing the window cancels it, which skips every remaining pause and ends
// the wait for the library at its next tick, while the engine and agent work
// still runs to its end. The object deletes itself when the sequence ends.
class OnboardingFlow : public QObject {
    Q_OBJECT

public:
    // The pauses of the sequence.
    static constexpr std::chrono::milliseconds afterBootstrap{300};
    static constexpr std::chrono::milliseconds afterBrew{250};
    static constexpr std::chrono::milliseconds afterMas{250};
    static constexpr std::chrono::milliseconds afterAgent{200};
    static constexpr std::chrono::milliseconds afterSetup{400};
    static constexpr std::chrono::milliseconds afterFilledLoad{800};
    static constexpr std::chrono::milliseconds pollInterval{400};
    static constexpr std::chrono::milliseconds waitLimit{60000};
    static constexpr std::chrono::milliseconds beforeSummary{500};
    // The animations the flow asks for (none under Reduce Motion).
    static constexpr int discoveringFadeMs = 300;
    static constexpr int doneFadeMs = 400;
    static constexpr int countChangeMs = 350;

    OnboardingFlow(AppModel *model, OnboardingEnvironment environment, QObject *parent = nullptr);

    OnboardingPhase phase() const { return m_phase; }
    int setupStep() const { return m_setupStep; }
    int appsFound() const { return m_appsFound; }
    QString lastFoundApp() const { return m_lastFoundApp; }
    bool brewFound() const { return m_brewFound; }
    bool masFound() const { return m_masFound; }
    bool isCancelled() const { return m_cancelled; }
    bool isRunning() const { return m_started && !m_finished; }

    // Starts the sequence; a second call does nothing.
    void start();
    // Skips what is left to wait for; the engine and agent work goes on.
    void cancel();

Q_SIGNALS:
    // `animationMs` is how long the change should take on screen (0: at once).
    void phaseChanged(OnboardingPhase phase, int animationMs);
    void setupChanged();
    void discoveryChanged(int animationMs);
    // The sequence has ended (then the object goes).
    void finished();
    void cancelRequested();

private:
    QCoro::Task<void> runOnboarding();
    // A pause; false when it ended because the flow was cancelled.
    QCoro::Task<bool> pause(std::chrono::milliseconds length);
    int animation(int ms) const;
    void setPhase(OnboardingPhase phase, int animationMs);
    void setSetupStep(int step);
    void setDiscovery(int count, const std::optional<QString> &lastName, int animationMs);

    QPointer<AppModel> m_model;
    OnboardingEnvironment m_environment;
    OnboardingPhase m_phase = OnboardingPhase::setup;
    int m_setupStep = 0;
    int m_appsFound = 0;
    QString m_lastFoundApp;
    bool m_brewFound = false;
    bool m_masFound = false;
    bool m_started = false;
    bool m_finished = false;
    bool m_cancelled = false;
};
