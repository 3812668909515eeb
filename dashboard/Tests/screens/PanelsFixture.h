#pragma once

#include "TestSupport.h"

#include "engine/VARNOProcess.h"
#include "model/AppModel.h"
#include "model/PosturePresenter.h"
#include "platform/Appearance.h"
#include "platform/FakeServiceBackend.h"
#include "platform/MainBundle.h"
#include "platform/ServiceManagement.h"
#include "platform/Workspace.h"
#include "records/AppRecord.h"
#include "screens/OnboardingFlow.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>

#include <qcoro/qcorosignal.h>

#include <algorithm>
#include <memory>
#include <optional>

Q_DECLARE_METATYPE(AppRecord)
Q_DECLARE_METATYPE(PostureTone)

namespace PanelsTest {

// Probes that answer at once and touch nothing.
inline AppModelServices quietServices()
{
    AppModelServices s = AppModelServices::quiet();
    s.openApplication = [](const QString &) {};
    s.activateApplication = [] {};
    return s;
}

inline AppRecord app(const QString &id, const QString &name, std::optional<QString> mechanism = std::nullopt,
                     const QString &installed = QStringLiteral("1.0"), const QString &latest = QStringLiteral("1.0"))
{
    QJsonObject object{{QStringLiteral("bundle_id"), id},
                       {QStringLiteral("app_name"), name},
                       {QStringLiteral("current_version"), installed},
                       {QStringLiteral("latest_version"), latest}};
    if (mechanism)
        object.insert(QStringLiteral("update_mechanism"), *mechanism);
    return *AppRecord::fromJson(object);
}

// Work held until the test lets it end.
class Gate : public QObject {
    Q_OBJECT

public:
    bool isOpen = false;
    int entered = 0;
    void open()
    {
        isOpen = true;
        Q_EMIT opened();
    }
    QCoro::Task<void> pass()
    {
        ++entered;
        if (!isOpen)
            co_await qCoro(this, &Gate::opened);
    }

Q_SIGNALS:
    void opened();
};

// Timers the test drives: nothing fires until the test advances the clock.
class DrivenTimers : public OnboardingTimers {
public:
    struct Entry {
        qint64 due;
        qint64 length;
        QPointer<QObject> context;
        std::function<void()> fire;
    };

    qint64 nowMs() override { return m_now; }
    void start(std::chrono::milliseconds delay, QObject *context, std::function<void()> fire) override
    {
        m_requested.append(delay.count());
        m_entries.append({m_now + delay.count(), delay.count(), context, std::move(fire)});
    }

    // Timers still waiting (whose context still lives).
    int pending() const
    {
        return int(std::count_if(m_entries.begin(), m_entries.end(), [](const Entry &e) { return !e.context.isNull(); }));
    }
    // Moves the clock to the earliest waiting timer and fires it. False when
    // none waits.
    bool fireNext()
    {
        m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(),
                                       [](const Entry &e) { return e.context.isNull(); }),
                        m_entries.end());
        if (m_entries.isEmpty())
            return false;
        const auto next = std::min_element(m_entries.begin(), m_entries.end(),
                                           [](const Entry &a, const Entry &b) { return a.due < b.due; });
        Entry entry = *next;
        m_entries.erase(next);
        m_now = std::max(m_now, entry.due);
        if (entry.context)
            entry.fire();
        return true;
    }
    // Every length asked for, in order.
    QList<qint64> requested() const { return m_requested; }

private:
    qint64 m_now = 0;
    QList<Entry> m_entries;
    QList<qint64> m_requested;
};

// Lets queued work (resumed coroutines, zero timers, finished processes) run.
inline void settle(int rounds = 8)
{
    for (int i = 0; i < rounds; ++i)
        QCoreApplication::processEvents();
}

// The flow's machine work done at once; pauses on driven timers.
inline OnboardingEnvironment drivenEnvironment(std::shared_ptr<DrivenTimers> timers, int *bootstraps = nullptr,
                                               int *agents = nullptr)
{
    OnboardingEnvironment environment;
    environment.bootstrap = [bootstraps]() -> QCoro::Task<void> {
        if (bootstraps)
            ++*bootstraps;
        co_return;
    };
    environment.installAgent = [agents]() -> QCoro::Task<void> {
        if (agents)
            ++*agents;
        co_return;
    };
    environment.fileExists = [](const QString &) { return false; };
    environment.timers = std::move(timers);
    return environment;
}

// The test's service backend for its lifetime.
class FakeServicesScope {
public:
    FakeServicesScope()
        : backend(std::make_shared<FakeServiceBackend>())
    {
        ServiceManagement::setBackend(backend);
    }
    ~FakeServicesScope() { ServiceManagement::setBackend(nullptr); }
    std::shared_ptr<FakeServiceBackend> backend;
};

// A recording workspace for its lifetime.
class WorkspaceScope {
public:
    WorkspaceScope()
        : workspace(std::make_shared<RecordingWorkspace>())
    {
        Workspace::setShared(workspace);
    }
    ~WorkspaceScope() { Workspace::setShared(nullptr); }
    std::shared_ptr<RecordingWorkspace> workspace;
};

// Sets (or clears) an environment variable for its lifetime.
class EnvScope {
public:
    EnvScope(const char *name, const QByteArray &value)
        : m_name(name)
        , m_previous(qgetenv(name))
        , m_wasSet(qEnvironmentVariableIsSet(name))
    {
        qputenv(name, value);
    }
    ~EnvScope()
    {
        if (m_wasSet)
            qputenv(m_name, m_previous);
        else
            qunsetenv(m_name);
    }
    EnvScope(const EnvScope &) = delete;
    EnvScope &operator=(const EnvScope &) = delete;

private:
    const char *m_name;
    QByteArray m_previous;
    bool m_wasSet;
};

// Reduce Motion for its lifetime.
class ReduceMotionScope {
public:
    explicit ReduceMotionScope(bool reduce = true)
        : m_previous(Appearance::instance().reduceMotion())
    {
        Appearance::instance().setReduceMotion(reduce);
    }
    ~ReduceMotionScope() { Appearance::instance().setReduceMotion(m_previous); }

private:
    bool m_previous;
};

// The staged bundle (its engine, manifest and images) as the main bundle.
class StagedBundleScope {
public:
    StagedBundleScope()
    {
        MainBundle::setPathOverride(VarnoTest::stagedBundlePath());
        VARNOProcess::resetCachedValuesForTesting();
    }
    ~StagedBundleScope()
    {
        MainBundle::setPathOverride(VarnoTest::stagedBundlePath());
        VARNOProcess::resetCachedValuesForTesting();
    }
};

} // namespace PanelsTest
