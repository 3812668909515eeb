#include "workshop/ToolbarRules.h"

namespace ToolbarRules {

Face face(const Inputs &in)
{
    if (in.isUpdating)
        return Face::updating;
    return in.isScanning ? Face::scanning : Face::idle;
}

RightEnd rightEnd(const Inputs &in)
{
    if (in.isUpdating)
        return RightEnd::queueControls;
    return in.outdatedCount > 0 ? RightEnd::updateAll : RightEnd::nothing;
}

bool scanDisabled(const Inputs &in)
{
    return in.isScanning || in.isUpdating || in.singleUpdate;
}

bool updateAllDisabled(const Inputs &in)
{
    return scanDisabled(in);
}

bool scanShowsTitle(const Inputs &in)
{
    return !in.isUpdating;
}

QString badgeText(const Inputs &in)
{
    return in.outdatedCount > 0 ? QString::number(in.outdatedCount) : QString();
}

QString scanHelp(const Inputs &in)
{
    return in.singleUpdate ? QStringLiteral("Scan resumes when the current update finishes.")
                           : QStringLiteral("Scan for updates");
}

QString scanHint(const Inputs &in)
{
    return in.singleUpdate ? QStringLiteral("Scan resumes when the current update finishes.")
                           : QStringLiteral("Scan the library for available updates");
}

QString updateAllHelp(const Inputs &in)
{
    if (in.isScanning)
        return QStringLiteral("Updates resume when the scan finishes.");
    if (in.singleUpdate)
        return QStringLiteral("Update All resumes when the current update finishes.");
    return QStringLiteral("Start updating all outdated apps");
}

QString pauseSymbol(bool paused)
{
    return paused ? QStringLiteral("play.fill") : QStringLiteral("pause.fill");
}

QString pauseWord(bool paused)
{
    return paused ? QStringLiteral("resume") : QStringLiteral("pause");
}

QString pauseHelp(bool paused)
{
    return paused ? QStringLiteral("Resume the queue") : QStringLiteral("Pause after the current app finishes");
}

QString pauseLabel(bool paused)
{
    return paused ? QStringLiteral("Resume") : QStringLiteral("Pause");
}

QString pauseHint(bool paused)
{
    return paused ? QStringLiteral("Resume the update queue")
                  : QStringLiteral("Pause the update queue after the current app finishes");
}

ButtonTexts workshopButton()
{
    return {QStringLiteral("wrench.and.screwdriver"),
            QStringLiteral("Workshop environment — permissions, agents, extensions"), QStringLiteral("Workshop"),
            QStringLiteral("toolbar-workshop"), QStringLiteral("Open settings for permissions, agents, and extensions")};
}

ButtonTexts diagnosticsButton()
{
    return {QStringLiteral("stethoscope"), QStringLiteral("Diagnostics — DB state, scan logs, force scan"),
            QStringLiteral("Diagnostics"), QStringLiteral("toolbar-diagnostics"),
            QStringLiteral("Open diagnostics for database state, scan logs, and forced scans")};
}

ButtonTexts progressButton()
{
    return {QStringLiteral("list.bullet.rectangle"), QStringLiteral("Progress — reopen the update progress window"),
            QStringLiteral("Progress"), QStringLiteral("toolbar-progress"),
            QStringLiteral("Reopen the update progress window")};
}

ButtonTexts skipButton()
{
    return {QStringLiteral("forward.fill"), QStringLiteral("Skip — skip the app currently being updated"),
            QStringLiteral("Skip"), QStringLiteral("toolbar-skip"),
            QStringLiteral("Skip the app currently being updated")};
}

ButtonTexts stopButton()
{
    return {QStringLiteral("stop.fill"), QStringLiteral("Stop — abort the whole queue; remaining apps become skipped"),
            QStringLiteral("Stop"), QStringLiteral("toolbar-stop"), QStringLiteral("Abort the whole update queue")};
}

QString scanningText()
{
    return QStringLiteral("Scanning...");
}

QString scanningHint()
{
    return QStringLiteral("Library refreshes when the scan finishes.");
}

} // namespace ToolbarRules
