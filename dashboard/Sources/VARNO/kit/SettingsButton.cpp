#include "kit/SettingsButton.h"

#include "kit/VarnoFont.h"

#include <QApplication>

namespace {

std::function<void()> &settingsOpener()
{
    static std::function<void()> opener;
    return opener;
}

} // namespace

SettingsButton::SettingsButton(QWidget *parent)
    : StyledButton(GhostButtonStyle(), parent)
{
    setSymbol(symbolName());
    setFont(VarnoFont::ui(13, QFont::Medium));
    setToolTip(helpText());
    setAccessibleName(QStringLiteral("Settings"));
    setAccessibleDescription(accessibleHint());
    setObjectName(QStringLiteral("toolbar-settings"));
    connect(this, &QAbstractButton::clicked, this, &SettingsButton::openSettings);
}

QString SettingsButton::symbolName()
{
    return QStringLiteral("gearshape");
}

QString SettingsButton::helpText()
{
    return QStringLiteral("Settings");
}

QString SettingsButton::accessibleHint()
{
    return QStringLiteral("Storage retention, privacy, and the developer workbench");
}

void SettingsButton::setSettingsOpener(std::function<void()> opener)
{
    settingsOpener() = std::move(opener);
}

bool SettingsButton::hasSettingsOpener()
{
    return bool(settingsOpener());
}

void SettingsButton::openSettings()
{
    if (QWidget *top = window()) {
        top->raise();
        top->activateWindow();
    }
    // Copied: the opener may replace itself while it runs.
    if (const auto opener = settingsOpener())
        opener();
}
