#pragma once

#include "kit/ButtonStyles.h"

#include <functional>

// The gear button that opens the Settings window (the toolbar places it).
// A click activates the app and asks the registered opener to show the
// Settings window; with no opener registered (no Settings scene yet), the
// click only activates the app.
class SettingsButton : public StyledButton {
    Q_OBJECT

public:
    explicit SettingsButton(QWidget *parent = nullptr);

    // Who shows the Settings window; set once by the app when it builds its
    // scenes. An empty function removes it.
    static void setSettingsOpener(std::function<void()> opener);
    static bool hasSettingsOpener();

    static QString symbolName();     // "gearshape"
    static QString helpText();       // "Settings"
    static QString accessibleHint(); // "Storage retention, privacy, and the developer workbench"

private:
    void openSettings();
};
