#include "workshop/SidebarRules.h"

#include "model/AppModel.h"
#include "workshop/LibraryFilters.h"

namespace SidebarRules {

namespace {

const QString &mechanismHelp()
{
    static const QString text = QStringLiteral(
        "Shows how many installed apps VARNO sees on this mechanism, plus how many need updates.");
    return text;
}

} // namespace

const QList<AppFilter> &libraryRows()
{
    static const QList<AppFilter> rows{AppFilter::all, AppFilter::outdated, AppFilter::atRisk, AppFilter::unmeasured,
                                       AppFilter::verified};
    return rows;
}

const QList<AppFilter> &mechanismRows()
{
    static const QList<AppFilter> rows{AppFilter::brew, AppFilter::mas, AppFilter::sparkle, AppFilter::selfManaged};
    return rows;
}

bool isMechanismRow(AppFilter filter)
{
    return mechanismRows().contains(filter);
}

QString rowHelp(AppFilter filter)
{
    switch (filter) {
    case AppFilter::all:
        return QStringLiteral("All Apps");
    case AppFilter::outdated:
        return QStringLiteral("Outdated");
    case AppFilter::atRisk:
        return QStringLiteral("At Risk highlights apps VARNO believes need urgent attention.");
    case AppFilter::unmeasured:
        return QStringLiteral("Not checked means VARNO classified the app but has not independently confirmed its "
                              "latest version (common for App Store without the mas CLI, or vendor self-updaters "
                              "without a version probe). This is honest ignorance — not a green bill of health.");
    case AppFilter::verified:
        return QStringLiteral("Verified means VARNO has local provenance evidence for the app's update path (checksum "
                              "and Team ID) and an independent version check completed.");
    case AppFilter::brew:
    case AppFilter::mas:
    case AppFilter::sparkle:
        return mechanismHelp();
    case AppFilter::selfManaged:
        return QStringLiteral("Apps that update themselves through a vendor mechanism. VARNO only marks them current "
                              "when an independent version source confirmed it — otherwise they appear under Not "
                              "checked.");
    }
    return QString();
}

std::optional<Tone> libraryDot(AppFilter filter)
{
    switch (filter) {
    case AppFilter::outdated:
    case AppFilter::unmeasured:
        return Tone::caution;
    case AppFilter::atRisk:
        return Tone::risk;
    case AppFilter::verified:
        return Tone::good;
    default:
        return std::nullopt;
    }
}

QString accessibilityValue(qsizetype count)
{
    return QString::number(count) + (count == 1 ? QStringLiteral(" app") : QStringLiteral(" apps"));
}

QString mechanismSubtitle(qsizetype pending, qsizetype total)
{
    const QString apps = QString::number(total) + QStringLiteral(" apps");
    if (pending < 1)
        return apps;
    return QString::number(pending) + (pending == 1 ? QStringLiteral(" update") : QStringLiteral(" updates"))
        + QStringLiteral(" \u00B7 ") + apps;
}

QString countText(qsizetype count)
{
    return count >= 1 ? QString::number(count) : QString();
}

Tone mechanismDot(const MechanismHealth &health, qsizetype total)
{
    if (total == 0 || health.isUnknown())
        return Tone::neutral;
    if (health.isHealthy())
        return Tone::good;
    return Tone::caution;
}

Tone rowDotColor(const AppModel &model, AppFilter filter, const std::optional<Tone> &fallback)
{
    return rowDotColor(LibraryFilters::counts(model), model.brewHealth(), model.masHealth(), filter, fallback);
}

Tone rowDotColor(const LibraryFilters::Counts &counts, const MechanismHealth &brewHealth,
                 const MechanismHealth &masHealth, AppFilter filter, const std::optional<Tone> &fallback)
{
    switch (filter) {
    case AppFilter::all:
    case AppFilter::outdated:
    case AppFilter::atRisk:
    case AppFilter::verified:
    case AppFilter::unmeasured:
        return fallback.value_or(Tone::neutral);
    case AppFilter::brew:
        return mechanismDot(brewHealth, counts.total.value(AppFilter::brew));
    case AppFilter::mas:
        // Not checked holds only for apps that are not excluded.
        if (counts.anyUnchecked.value(AppFilter::mas))
            return Tone::caution;
        return mechanismDot(masHealth, counts.total.value(AppFilter::mas));
    case AppFilter::sparkle:
        return counts.total.value(AppFilter::sparkle) > 0 ? Tone::good : Tone::neutral;
    case AppFilter::selfManaged:
        if (counts.total.value(AppFilter::selfManaged) == 0)
            return Tone::neutral;
        return counts.anyUnchecked.value(AppFilter::selfManaged) ? Tone::caution : Tone::good;
    }
    return Tone::neutral;
}

bool isCheckUnavailable(const MacOSUpdateStatus &status)
{
    return status.availableCount == 0 && status.headline == QLatin1String("macOS update check unavailable")
        && !status.detail.has_value();
}

Tone systemDotColor(const MacOSUpdateStatus &status)
{
    if (status.availableCount >= 1)
        return Tone::caution;
    if (isCheckUnavailable(status))
        return Tone::neutral;
    return Tone::good;
}

QString systemSecondary(const MacOSUpdateStatus &status)
{
    if (status.availableCount >= 1) {
        return status.availableCount == 1
            ? QStringLiteral("1 update available")
            : QString::number(status.availableCount) + QStringLiteral(" updates available");
    }
    if (isCheckUnavailable(status))
        return QStringLiteral("Can't check right now");
    return QStringLiteral("Up to date");
}

QString systemHelp(const MacOSUpdateStatus &status)
{
    if (status.availableCount >= 1)
        return QStringLiteral("macOS updates are available. Click to open Software Update.");
    if (isCheckUnavailable(status))
        return QStringLiteral("VARNO couldn't query Software Update right now. Click to open Software Update.");
    return QStringLiteral("macOS appears up to date. Click to open Software Update.");
}

QUrl softwareUpdateSettingsUrl()
{
    return QUrl(QStringLiteral("x-apple.systempreferences:com.apple.preferences.softwareupdate"));
}

QString footerDateLine(const std::optional<QString> &installedDate)
{
    if (!installedDate || installedDate->isEmpty())
        return QStringLiteral("VARNO updated recently");
    return QStringLiteral("VARNO updated ") + *installedDate;
}

} // namespace SidebarRules
