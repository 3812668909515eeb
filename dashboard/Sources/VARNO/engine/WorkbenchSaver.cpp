#include "engine/WorkbenchSaver.h"

#include "base/Async.h"
#include "engine/EngineSettingsCommands.h"
#include "engine/VARNOError.h"
#include "records/RecordCodingError.h"

#include <QMetaObject>

#include <qcoro/qcorosignal.h>
#include <qcoro/qcorotimer.h>

#include <exception>

// The saver's state, shared by the saver and its drain so that a drain
// outlives a saver destroyed in the middle of it.
class WorkbenchSaverCore : public QObject {
    Q_OBJECT

public:
    WorkbenchSaver::FailureHandler onFailure;
    WorkbenchSaver::SaveHandler saveHandler;
    WorkbenchSaver::Pause pause;
    quint64 debounceNanos = 300'000'000;
    std::optional<DeveloperWorkbenchState> pending;
    std::optional<DeveloperWorkbenchState> lastSaved;
    std::optional<DeveloperWorkbenchState> inFlight;
    int flushDepth = 0;
    bool draining = false;
    std::shared_ptr<EngineWrites> writes;
    EngineWrites::Token drainToken; // held from the drain's start to its end

Q_SIGNALS:
    void drainEnded();
};

namespace {

QString describe(const std::exception &error)
{
    if (const auto *encoding = dynamic_cast<const RecordEncodingError *>(&error))
        return encoding->errorDescription();
    if (const auto *decoding = dynamic_cast<const RecordDecodingError *>(&error))
        return decoding->errorDescription();
    return localizedDescription(error);
}

QCoro::Task<void> pauseFor(std::chrono::nanoseconds duration)
{
    co_await QCoro::sleepFor(std::chrono::duration_cast<std::chrono::milliseconds>(duration));
}

QCoro::Task<void> send(std::shared_ptr<WorkbenchSaverCore> core, DeveloperWorkbenchState state)
{
    WorkbenchSaver::SaveHandler handler = core->saveHandler;
    if (!handler)
        handler = &WorkbenchSaver::defaultSaveHandler;
    co_await handler(std::move(state));
}

QCoro::Task<void> drainSaves(std::shared_ptr<WorkbenchSaverCore> core)
{
    for (;;) {
        if (!core->pending) {
            core->drainToken.reset();
            core->draining = false;
            Q_EMIT core->drainEnded();
            co_return;
        }
        const DeveloperWorkbenchState taken = *core->pending;
        core->pending.reset();
        core->inFlight = taken.normalized();

        if (core->flushDepth < 1) {
            const auto duration = std::chrono::nanoseconds(qint64(core->debounceNanos));
            WorkbenchSaver::Pause pause = core->pause ? core->pause : WorkbenchSaver::Pause(&pauseFor);
            co_await pause(duration);
            if (core->pending) {
                // A newer state came in during the pause: it gets a full pause of its own.
                core->inFlight.reset();
                continue;
            }
        }

        std::optional<QString> failure;
        try {
            co_await send(core, taken);
        } catch (const std::exception &error) {
            failure = describe(error);
        } catch (...) {
            failure = QStringLiteral("unknown error");
        }

        if (!failure) {
            core->lastSaved = taken.normalized();
            if (core->pending && core->pending->normalized() == *core->lastSaved)
                core->pending.reset();
        } else if (core->onFailure) {
            const WorkbenchSaver::FailureHandler onFailure = core->onFailure;
            onFailure(QStringLiteral("Couldn't save Developer Workbench settings: ") + *failure);
        }
        core->inFlight.reset();
    }
}

void startDrain(const std::shared_ptr<WorkbenchSaverCore> &core)
{
    core->draining = true;
    if (core->writes && !core->drainToken)
        core->drainToken = core->writes->begin();
    // Started from the event loop, never inside the caller.
    QMetaObject::invokeMethod(
        core.get(), [core] { Async::detach(drainSaves(core)); }, Qt::QueuedConnection);
}

QCoro::Task<void> flushCore(std::shared_ptr<WorkbenchSaverCore> core)
{
    ++core->flushDepth;
    if (core->pending && !core->draining)
        startDrain(core);
    while (core->draining)
        co_await qCoro(core.get(), &WorkbenchSaverCore::drainEnded);
    --core->flushDepth;
}

} // namespace

WorkbenchSaver::WorkbenchSaver(QObject *parent)
    : QObject(parent)
    , m_core(std::make_shared<WorkbenchSaverCore>())
{
}

WorkbenchSaver::~WorkbenchSaver()
{
    m_core->onFailure = nullptr;
}

void WorkbenchSaver::setOnFailure(FailureHandler onFailure)
{
    m_core->onFailure = std::move(onFailure);
}

void WorkbenchSaver::setWrites(std::shared_ptr<EngineWrites> writes)
{
    m_core->writes = std::move(writes);
}

void WorkbenchSaver::setSaveHandler(SaveHandler handler)
{
    m_core->saveHandler = std::move(handler);
}

QCoro::Task<void> WorkbenchSaver::defaultSaveHandler(DeveloperWorkbenchState state)
{
    return EngineSettingsCommands::developerSetState(state.normalized());
}

quint64 WorkbenchSaver::debounceNanos() const
{
    return m_core->debounceNanos;
}

void WorkbenchSaver::setDebounceNanos(quint64 nanos)
{
    m_core->debounceNanos = nanos;
}

std::optional<DeveloperWorkbenchState> WorkbenchSaver::pending() const
{
    return m_core->pending;
}

std::optional<DeveloperWorkbenchState> WorkbenchSaver::inFlight() const
{
    return m_core->inFlight;
}

std::optional<DeveloperWorkbenchState> WorkbenchSaver::lastSaved() const
{
    return m_core->lastSaved;
}

void WorkbenchSaver::setLastSaved(std::optional<DeveloperWorkbenchState> state)
{
    m_core->lastSaved = std::move(state);
}

int WorkbenchSaver::flushDepth() const
{
    return m_core->flushDepth;
}

bool WorkbenchSaver::isDraining() const
{
    return m_core->draining;
}

void WorkbenchSaver::requestSave(const DeveloperWorkbenchState &state)
{
    const DeveloperWorkbenchState normal = state.normalized();
    if (m_core->lastSaved && *m_core->lastSaved == normal && !m_core->pending && !m_core->inFlight)
        return;
    m_core->pending = state;
    if (!m_core->draining)
        startDrain(m_core);
}

QCoro::Task<void> WorkbenchSaver::flush()
{
    return flushCore(m_core);
}

void WorkbenchSaver::setPauseForTesting(Pause pause)
{
    m_core->pause = std::move(pause);
}

#include "WorkbenchSaver.moc"
