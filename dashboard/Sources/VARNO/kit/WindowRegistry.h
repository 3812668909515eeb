#pragma once

#include <QPointer>

#include <functional>

// How any view of the shell reaches the app's scenes: the Workshop window
// (scene id "workshop"), the Settings window and the menu-bar panel. The
// application registers the real openers when it builds its scenes; until
// then (and in tests that register nothing) every call does nothing.
namespace WindowRegistry {

struct Scenes {
    std::function<void()> openWorkshop; // opens the Workshop window, or brings it forward
    std::function<void()> showSettings; // opens the Settings window
    std::function<void()> showPanel;    // shows the menu-bar panel
    std::function<void()> activate;     // brings the app to the front
};

void setScenes(Scenes scenes);

void openWorkshop();
void showSettings();
void showPanel();
void activate();

// Opens the Workshop window and brings the app forward, then asks for the
// Diagnostics sheet 0.15 s later (so that the window exists to receive it).
void requestDiagnostics();
// As requestDiagnostics(), and asks for the health check 0.45 s after the call.
void requestHealthCheck();

} // namespace WindowRegistry
