#include "kit/WindowRegistry.h"

#include "kit/VarnoSignals.h"

#include <QTimer>

namespace {

WindowRegistry::Scenes &scenes()
{
    static WindowRegistry::Scenes registered;
    return registered;
}

// Copied before the call: an opener may replace the registration while it runs.
void call(const std::function<void()> &function)
{
    if (const auto copy = function)
        copy();
}

} // namespace

namespace WindowRegistry {

void setScenes(Scenes registered)
{
    scenes() = std::move(registered);
}

void openWorkshop()
{
    call(scenes().openWorkshop);
}

void showSettings()
{
    call(scenes().showSettings);
}

void showPanel()
{
    call(scenes().showPanel);
}

void activate()
{
    call(scenes().activate);
}

void requestDiagnostics()
{
    openWorkshop();
    activate();
    QTimer::singleShot(VarnoSignals::showDiagnosticsDelay, &VarnoSignals::instance(), &VarnoSignals::postShowDiagnostics);
}

void requestHealthCheck()
{
    // Both delays count from now, not one after the other.
    requestDiagnostics();
    QTimer::singleShot(VarnoSignals::runHealthCheckDelay, &VarnoSignals::instance(), &VarnoSignals::postRunHealthCheck);
}

} // namespace WindowRegistry
