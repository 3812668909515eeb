#include "screens/EnvironmentRules.h"

#include "records/RetentionStatus.h"

#include <QRegularExpression>

namespace EnvironmentRules {

PosturePresentation summary(const Snapshot &snapshot)
{
    if (!snapshot.fda)
        return {QStringLiteral("Permissions incomplete"),
                QStringLiteral("Full Disk Access is missing, so some provenance and removal context will be incomplete."),
                PostureTone::orange};
    if (snapshot.agentStatus != enabled)
        return {QStringLiteral("Background scan needs attention"),
                QStringLiteral("VARNO can still run manually, but background scanning is not currently active."),
                PostureTone::orange};
    if (snapshot.launchAtLoginPref && snapshot.loginItemStatus != enabled)
        return {QStringLiteral("Login launch pending approval"),
                QStringLiteral("You asked VARNO to open at login, but macOS has not enabled it yet."),
                PostureTone::orange};
    if (snapshot.backupReclaimableBytes >= 1)
        return {QStringLiteral("Environment ready — storage can be reclaimed"),
                QStringLiteral("VARNO can free ") + RetentionStatus::formatBytes(snapshot.backupReclaimableBytes)
                    + QStringLiteral(" of old backups — see Settings → Storage."),
                PostureTone::orange};
    return {QStringLiteral("Environment ready"),
            QStringLiteral("Core permissions and background services are in place."), PostureTone::green};
}

QString fullDiskAccessDetail(bool granted, bool receiptsFolderExists)
{
    if (!granted)
        return QStringLiteral("Denied. Brusk can't read PKG receipts — Clean Remove won't have full context.");
    if (!receiptsFolderExists)
        return QStringLiteral("Nothing to read. This system has no /private/var/db/receipts, so there are no PKG "
                              "receipts for Brusk to use.");
    return QStringLiteral("Granted. Brusk can read /private/var/db/receipts for provenance.");
}

QString agentDetail(int status)
{
    switch (status) {
    case notRegistered:
        return QStringLiteral("Not registered. Brusk can't scan while the app is closed.");
    case enabled:
        return QStringLiteral("Running every hour. Logs at ~/Library/Logs/VARNO/scan.err.");
    case requiresApproval:
        return QStringLiteral("Waiting for your approval in System Settings.");
    case notFound:
        return QStringLiteral("Background agent bundle not found in this build. This is normal in some local development "
                              "runs.");
    case unconfirmed:
        return QStringLiteral("Registered, but no service manager answered. Brusk can't confirm that it runs.");
    default:
        return QStringLiteral("Unknown state.");
    }
}

QString loginItemDetail(int status)
{
    if (status == requiresApproval)
        return QStringLiteral("Approval required in System Settings.");
    if (status == enabled)
        return QStringLiteral("Active.");
    return QStringLiteral("Disabled.");
}

QString currentVersionLabel(const std::optional<QString> &shortVersion, const std::optional<QString> &build)
{
    if (!shortVersion || shortVersion->isEmpty() || *shortVersion == QLatin1String("?"))
        return QStringLiteral("Currently running a development build");
    if (build && !build->isEmpty() && *build != *shortVersion)
        return QStringLiteral("Currently running v") + *shortVersion + QStringLiteral(" (") + *build + QLatin1Char(')');
    return QStringLiteral("Currently running v") + *shortVersion;
}

std::optional<QString> engineLine(const std::optional<QString> &engineVersion)
{
    if (!engineVersion || engineVersion->isEmpty())
        return std::nullopt;
    return QStringLiteral("Engine: ") + *engineVersion;
}

QString updateHint()
{
    return QStringLiteral("Menu bar panel → \"Update VARNO\", or Workshop menu VARNO → Check for Updates…");
}

QString updateNote(const QString &domain)
{
    return QStringLiteral("Scan / Update all only patch *other* apps — not VARNO itself. Manual: ") + domain
        + QStringLiteral(" DMG + SHA256.");
}

QString websiteAddress(const std::optional<QString> &configured)
{
    if (configured && !configured->trimmed().isEmpty())
        return configured->trimmed();
    return QStringLiteral("https://varno.org");
}

QString websiteDomain(const QString &website)
{
    const QUrl url(website);
    return url.host().isEmpty() ? website : url.host();
}

QUrl downloadUrl(const QString &website)
{
    QUrl url(website, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return QUrl();
    url.setFragment(QStringLiteral("download"));
    return url;
}

bool eseIsActive(const QString &state)
{
    static const QRegularExpression word(QStringLiteral("(?<![a-z])(enabled|activated)(?![a-z])"),
                                         QRegularExpression::CaseInsensitiveOption);
    return word.match(state).hasMatch();
}

QString eseTitle(const ESE &extension)
{
    return extension.name.isEmpty() ? extension.bundleId : extension.name;
}

QString eseDetail(const ESE &extension)
{
    const QString separator = QStringLiteral(" \u00B7 ");
    return extension.bundleId + separator + (extension.version.isEmpty() ? QStringLiteral("\u2014") : extension.version)
        + separator + categoryLabel(extension.category);
}

QString categoryLabel(ESE::Category category)
{
    switch (category) {
    case ESE::Category::networkFilter:
        return QStringLiteral("Network filter");
    case ESE::Category::endpointSecurity:
        return QStringLiteral("Endpoint security");
    case ESE::Category::driverExtension:
        return QStringLiteral("Driver extension");
    case ESE::Category::unknown:
        break;
    }
    return QStringLiteral("Extension");
}

std::optional<QString> categoryNote(ESE::Category category)
{
    if (category == ESE::Category::networkFilter)
        return QStringLiteral("May block Sparkle feed polls and GitHub downloads.");
    if (category == ESE::Category::endpointSecurity)
        return QStringLiteral("May quarantine downloaded DMGs or slow subprocess calls.");
    return std::nullopt;
}

ExtensionsContent extensionsContent(bool loading, bool empty)
{
    if (loading)
        return ExtensionsContent::probing;
    if (empty)
        return ExtensionsContent::none;
    return ExtensionsContent::list;
}

} // namespace EnvironmentRules
