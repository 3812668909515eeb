#include "screens/OnboardingRules.h"

namespace OnboardingRules {

int managedAppsCount(const QList<AppRecord> &apps)
{
    int count = 0;
    for (const AppRecord &app : apps) {
        const QString mechanism = app.update_mechanism.value_or(QString()).toLower();
        if (mechanism == QLatin1String("cask") || mechanism == QLatin1String("mas")
            || mechanism == QLatin1String("sparkle"))
            ++count;
    }
    return count;
}

QString summaryHeadline(int managed, int outdated)
{
    if (managed == 0)
        return QStringLiteral("This first pass found your software. The next step is establishing trusted update paths.");
    if (outdated > 0)
        return QStringLiteral("Brusk can already help with ") + QString::number(outdated) + QStringLiteral(" app")
            + (outdated == 1 ? QString() : QStringLiteral("s")) + QStringLiteral(" and is tracking ")
            + QString::number(managed) + QStringLiteral(" through known update paths.");
    return QStringLiteral("Your workshop is set up. Brusk can already keep ") + QString::number(managed)
        + QStringLiteral(" app") + (managed == 1 ? QString() : QStringLiteral("s")) + QStringLiteral(" in view.");
}

QString mappedTitle(int count)
{
    return QStringLiteral("Brusk mapped ") + QString::number(count) + QStringLiteral(" apps on your Mac");
}

QString pathLine(int unmanaged)
{
    if (unmanaged <= 0)
        return QStringLiteral("Every app in this first pass has a known update path.");
    if (unmanaged == 1)
        return QStringLiteral("1 app still need a trusted update path.");
    return QString::number(unmanaged) + QStringLiteral(" apps still need a trusted update path.");
}

QString setupRowTitle(int row, bool brewFound, bool masFound)
{
    switch (row) {
    case 0:
        return QStringLiteral("Setting up Brusk's tools");
    case 1:
        return brewFound ? QStringLiteral("Homebrew found") : QStringLiteral("Checking Homebrew");
    case 2:
        return masFound ? QStringLiteral("App Store CLI found") : QStringLiteral("Checking App Store CLI");
    default:
        return QStringLiteral("Registering background checks");
    }
}

SetupMark setupRowMark(int row, int setupStep)
{
    if (setupStep > row)
        return SetupMark::done;
    if (setupStep == row)
        return SetupMark::active;
    return SetupMark::pending;
}

bool toolFound(const QString &primary, const QString &secondary, const std::function<bool(const QString &)> &exists)
{
    if (exists(primary))
        return true;
    return exists(secondary);
}

} // namespace OnboardingRules
