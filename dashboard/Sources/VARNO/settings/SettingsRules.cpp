#include "settings/SettingsRules.h"

namespace StorageRules {

QString snapshotsText(const RetentionUsage &usage)
{
    return QStringLiteral("%1 across %2 apps").arg(usage.snapshotCount).arg(usage.bundleCount);
}

bool showsReclaimable(const RetentionPlan &plan)
{
    return plan.count >= 1;
}

QString reclaimableText(const RetentionPlan &plan)
{
    return RetentionStatus::formatBytes(plan.bytes) + QStringLiteral(" (") + QString::number(plan.count)
        + QStringLiteral(" snapshots)");
}

QString cleanupSentence(const RetentionPlan &plan)
{
    if (plan.count < 1)
        return QStringLiteral("Nothing to clear right now \u2014 everything is within policy.");
    return QStringLiteral("VARNO can free ") + RetentionStatus::formatBytes(plan.bytes) + QStringLiteral(" ")
        + QStringLiteral("of old backups. Nothing has been deleted.");
}

bool showsPruneOnce(const RetentionPlan &plan)
{
    return plan.count >= 1;
}

QString consentFooter(const RetentionConsent &consent)
{
    if (consent.asked && !consent.granted)
        return QStringLiteral("You previously declined. VARNO is not deleting anything.");
    return QStringLiteral("VARNO does not delete backups until you say so.");
}

QString keepAccessibleValue(int keep)
{
    return QStringLiteral("%1 per app").arg(keep);
}

QString daysText(int days)
{
    return QStringLiteral("%1 days").arg(days);
}

QStringList policyArguments(int keep, int days)
{
    return {QStringLiteral("--keep"), QString::number(keep), QStringLiteral("--days"), QString::number(days)};
}

} // namespace StorageRules

namespace WorkbenchRules {

QString title(DeveloperSource source)
{
    switch (source) {
    case DeveloperSource::homebrewFormulae:
        return QStringLiteral("Homebrew formulae");
    case DeveloperSource::homebrewCasks:
        return QStringLiteral("Homebrew casks");
    case DeveloperSource::npm:
        return QStringLiteral("npm projects");
    case DeveloperSource::python:
        return QStringLiteral("Python runtimes");
    case DeveloperSource::vendorInstallers:
        return QStringLiteral("Vendor installers");
    }
    return QString();
}

QString subtitle(DeveloperSource source)
{
    switch (source) {
    case DeveloperSource::homebrewFormulae:
        return QStringLiteral("Formula-based tools and CLIs.");
    case DeveloperSource::homebrewCasks:
        return QStringLiteral("Desktop apps delivered through casks.");
    case DeveloperSource::npm:
        return QStringLiteral("JavaScript toolchains and lockfiles.");
    case DeveloperSource::python:
        return QStringLiteral("Virtualenvs, packages, and runtimes.");
    case DeveloperSource::vendorInstallers:
        return QStringLiteral("Updaters that ship outside package managers.");
    }
    return QString();
}

QList<DeveloperSource> machineWideSources()
{
    return {DeveloperSource::homebrewFormulae, DeveloperSource::homebrewCasks};
}

QList<DeveloperSource> perProjectSources()
{
    return {DeveloperSource::npm, DeveloperSource::python, DeveloperSource::vendorInstallers};
}

QString label(DeveloperUpdatePolicy policy)
{
    switch (policy) {
    case DeveloperUpdatePolicy::trackOnly:
        return QStringLiteral("Track only");
    case DeveloperUpdatePolicy::askBeforeUpdating:
        return QStringLiteral("Ask first");
    }
    return QString();
}

DeveloperUpdatePolicy shownPolicy(const QString &raw)
{
    return raw == DeveloperWorkbench::rawValue(DeveloperUpdatePolicy::askBeforeUpdating)
        ? DeveloperUpdatePolicy::askBeforeUpdating
        : DeveloperUpdatePolicy::trackOnly;
}

bool needsFolderWarning(const DeveloperWorkbenchState &state)
{
    if (!state.projectFolders.isEmpty())
        return false;
    for (const DeveloperSource source : perProjectSources()) {
        if (state.isEnabled(source))
            return true;
    }
    return false;
}

QStringList addingFolders(const QStringList &current, const QStringList &chosen)
{
    // The state's normal form holds the folder rule: no empty texts, no
    // duplicates, sorted by code point.
    DeveloperWorkbenchState state;
    state.projectFolders = current + chosen;
    return state.normalized().projectFolders;
}

QStringList removingFolder(const QStringList &current, const QString &path)
{
    QStringList result;
    for (const QString &folder : current) {
        if (folder != path)
            result.append(folder);
    }
    return result;
}

} // namespace WorkbenchRules

namespace PrivacyRules {

QString telemetryAction(bool enabled)
{
    return enabled ? QStringLiteral("opt-in") : QStringLiteral("opt-out");
}

} // namespace PrivacyRules
