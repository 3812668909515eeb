#pragma once

#include "engine/EngineWrites.h"
#include "records/DeveloperWorkbenchState.h"

#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class WorkbenchSaverCore;

// Sends each change of the Developer Workbench settings to the engine
// (`dev set`), 0.3 s after the last change: a burst of edits becomes one save
// of the newest state, and a state equal to the one last saved is not sent
// again. Lives on the GUI thread; the Developer pane makes one and owns it.
//
// A drain that is running when the saver is destroyed finishes its work (the
// user's last edit still reaches the engine); failures after that are not
// reported, since the owner is gone. While a drain runs it counts as a write
// under way in the EngineWrites it is given, so that a pane made later reads
// the engine's file only once the drain has ended.
class WorkbenchSaver : public QObject {
    Q_OBJECT

public:
    using SaveHandler = std::function<QCoro::Task<void>(DeveloperWorkbenchState)>;
    using FailureHandler = std::function<void(const QString &message)>;
    using Pause = std::function<QCoro::Task<void>(std::chrono::nanoseconds)>;

    explicit WorkbenchSaver(QObject *parent = nullptr);
    ~WorkbenchSaver() override;

    // Receives "Couldn't save Developer Workbench settings: " + the error's description.
    void setOnFailure(FailureHandler onFailure);
    // Where the saver's drains count as writes under way (none: nowhere).
    void setWrites(std::shared_ptr<EngineWrites> writes);
    // Sends one state; an empty handler restores the default one.
    void setSaveHandler(SaveHandler handler);
    // The default handler: normalises the state and runs `dev set` with it.
    static QCoro::Task<void> defaultSaveHandler(DeveloperWorkbenchState state);

    // The pause before a taken state is sent (300,000,000 ns).
    quint64 debounceNanos() const;
    void setDebounceNanos(quint64 nanos);

    // The newest requested state not yet taken, exactly as requested.
    std::optional<DeveloperWorkbenchState> pending() const;
    // The state being paused on or sent right now (normalised).
    std::optional<DeveloperWorkbenchState> inFlight() const;
    // The last state the engine accepted, or that the owner declared stored (normalised).
    std::optional<DeveloperWorkbenchState> lastSaved() const;
    // The owner sets it to the normal form of the loaded state, so that
    // showing that state sends nothing.
    void setLastSaved(std::optional<DeveloperWorkbenchState> state);
    // flush() calls in progress.
    int flushDepth() const;
    // A drain runs (or is about to start).
    bool isDraining() const;

    // Takes a state and returns at once.
    void requestSave(const DeveloperWorkbenchState &state);
    // Finishes when no drain runs any more: the newest requested state has
    // been sent, has failed, or was dropped as equal to the one last saved.
    // States taken while a flush is in progress go out without the pause.
    QCoro::Task<void> flush();

    // Replaces the pause (QCoro::sleepFor of the debounce) so that tests can
    // decide when it ends; an empty function restores the timer.
    void setPauseForTesting(Pause pause);

private:
    std::shared_ptr<WorkbenchSaverCore> m_core;
};
