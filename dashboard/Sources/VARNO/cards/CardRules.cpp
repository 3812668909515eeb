#include "cards/CardRules.h"

#include "kit/VarnoColor.h"
#include "platform/PlainText.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace CardRules {

namespace {

ActionArea symbolArea(const char *symbol, ColorPair color)
{
    ActionArea area;
    area.kind = ActionArea::Kind::symbol;
    area.symbol = QString::fromLatin1(symbol);
    area.color = std::move(color);
    return area;
}

ActionArea symbolArea(const char *symbol, ColorPair color, const QString &help, const QString &name,
                      const QString &description = QString())
{
    ActionArea area = symbolArea(symbol, std::move(color));
    area.help = help;
    area.accessibleName = name;
    area.accessibleDescription = description;
    return area;
}

ActionArea kindOnly(ActionArea::Kind kind)
{
    ActionArea area;
    area.kind = kind;
    return area;
}

QStringList &caskroomRootOverride()
{
    static QStringList roots;
    return roots;
}

} // namespace

const QString notCheckedText = QStringLiteral(
    "Not checked means VARNO classified the app but has not independently confirmed its latest version (common "
    "for App Store without the mas CLI, or vendor self-updaters without a version probe). This is honest "
    "ignorance — not a green bill of health.");

PostureTone toneFor(AppTrustState state)
{
    return AppTrustPresenter::tone(state);
}

BorderColor borderFor(AppTrustState state)
{
    switch (state) {
    case AppTrustState::outdatedTrusted:
    case AppTrustState::updating:
        return {VarnoColor::warning(), 0.25};
    case AppTrustState::outdatedAtRisk:
    case AppTrustState::failed:
        return {VarnoColor::danger(), 0.3};
    case AppTrustState::currentCommunityVerified:
    case AppTrustState::currentLocallyVerified:
    case AppTrustState::currentUnverified:
    case AppTrustState::queued:
    case AppTrustState::skipped:
        break;
    }
    return {VarnoColor::border(), 1.0};
}

QString effectiveUpdateMode(const AppRecord &app)
{
    return app.update_mode.value_or(QStringLiteral("auto"));
}

bool canTriggerInAppUpdate(const AppRecord &app)
{
    if (!app.can_trigger_self_update.value_or(false))
        return false;
    const std::optional<bool> flag = app.self_managed ? app.self_managed : app.vendor_self_update;
    const bool vendorFlag = flag ? *flag : app.update_mechanism == QStringLiteral("vendor_self_update");
    return vendorFlag || effectiveUpdateMode(app) == QStringLiteral("self");
}

QString accessibilityCardLabel(const AppRecord &app, const QString &statusText)
{
    QStringList parts{PlainText::forField(app.app_name), statusText};
    const QString status = app.versionCheckStatus();
    if (status == QStringLiteral("unmeasured")) {
        parts.append(QStringLiteral("version not independently checked"));
    } else if (status == QStringLiteral("unknown")) {
        parts.append(QStringLiteral("version status unknown"));
    } else if (status == QStringLiteral("catalog_stale")) {
        parts.append(QStringLiteral("catalog latest older than installed"));
    } else if (status == QStringLiteral("outdated") && app.current_version && app.latest_version) {
        parts.append(QStringLiteral("installed ") + PlainText::forField(*app.current_version)
                     + QStringLiteral(", latest ") + PlainText::forField(*app.latest_version));
    }
    return parts.join(QStringLiteral(", "));
}

ActionArea actionAreaFor(const AppRecord &app, const UpdateState &state, const BusyFlags &busy)
{
    switch (state.kind()) {
    case UpdateState::Kind::queued:
        return symbolArea("clock", VarnoColor::textSecondary());
    case UpdateState::Kind::running:
        return kindOnly(ActionArea::Kind::progress);
    case UpdateState::Kind::done:
        if (app.green_seal.value_or(false))
            return kindOnly(ActionArea::Kind::greenSeal);
        if (app.verified_path.value_or(false))
            return kindOnly(ActionArea::Kind::verifiedPath);
        return symbolArea("checkmark", VarnoColor::success());
    case UpdateState::Kind::skipped:
        return symbolArea("arrow.uturn.forward", VarnoColor::textTertiary());
    case UpdateState::Kind::failed:
        return symbolArea("exclamationmark.triangle", VarnoColor::danger());
    case UpdateState::Kind::quitDenied:
        return symbolArea("hand.raised", VarnoColor::warning());
    case UpdateState::Kind::idle:
        break;
    }

    if (canTriggerInAppUpdate(app)) {
        ActionArea area = kindOnly(ActionArea::Kind::checkInAppButton);
        area.enabled = !busy.isUpdating;
        area.help = QStringLiteral("Check for Update in App");
        area.accessibleName = QStringLiteral("Check in App");
        area.accessibleDescription = QStringLiteral("Open the app’s own updater");
        return area;
    }
    if (app.isUnmeasured())
        return symbolArea("questionmark.circle", VarnoColor::warning(), notCheckedText, QStringLiteral("Not checked"),
                          notCheckedText);
    if (app.isUnknownStatus())
        return symbolArea("ellipsis.circle", VarnoColor::textTertiary(),
                          QStringLiteral("Version status not yet known for this managed app."),
                          QStringLiteral("Version status unknown"));
    if (app.isCatalogStale())
        return symbolArea("arrow.down.to.line.compact", VarnoColor::textTertiary(),
                          QStringLiteral("Installed version is newer than the catalog latest — catalog lag, not an "
                                         "available update."),
                          QStringLiteral("Catalog behind installed version"));
    if (AppTrustPresenter::isVendorSelfManaged(app))
        return symbolArea("arrow.triangle.2.circlepath", VarnoColor::success(),
                          QStringLiteral("Updated by the vendor — VARNO observes only."),
                          QStringLiteral("Self-updating, version confirmed"));
    const bool outdated = app.isOutdated();
    if (app.green_seal.value_or(false) && !outdated)
        return kindOnly(ActionArea::Kind::greenSeal);
    if (app.verified_path.value_or(false) && !outdated)
        return kindOnly(ActionArea::Kind::verifiedPath);
    if (outdated) {
        ActionArea area = kindOnly(ActionArea::Kind::updateButton);
        area.enabled = !(busy.isUpdating || busy.isScanning || busy.hasSingleUpdate);
        if (busy.isScanning)
            area.help = QStringLiteral("Updates resume when the scan finishes.");
        else if (busy.hasSingleUpdate)
            area.help = QStringLiteral("Updates resume when the current update finishes.");
        else
            area.help = QStringLiteral("Update this app through VARNO");
        area.accessibleName = QStringLiteral("Update");
        area.accessibleDescription = area.help;
        area.isRisk = app.statusColor() == AppStatusColor::atRisk;
        return area;
    }
    return {};
}

VersionGroup versionGroupFor(const AppRecord &app)
{
    constexpr int limit = 24;
    if (app.isOutdated())
        return {VersionGroup::Kind::outdated, PosturePresenter::shortVersion(app.current_version, limit),
                PosturePresenter::shortVersion(app.latest_version, limit)};
    if (app.current_version && !app.current_version->isEmpty())
        return {VersionGroup::Kind::current, PosturePresenter::shortVersion(app.current_version, limit), QString()};
    return {};
}

BadgeStyle mechanismBadgeStyle(const QString &label)
{
    if (label == QStringLiteral("BREW"))
        return {VarnoColor::warning(), 0.1, VarnoColor::attention()};
    if (label == QStringLiteral("MAS"))
        return {VarnoColor::info(), 0.1, VarnoColor::info()};
    if (label == QStringLiteral("SPARK"))
        return {VarnoColor::surfaceHover(), 1.0, VarnoColor::textSecondary()};
    if (label == QStringLiteral("SELF"))
        return {VarnoColor::success(), 0.1, VarnoColor::success()};
    return {VarnoColor::accent(), 0.1, VarnoColor::accent()};
}

QString collaborationText(qint64 count)
{
    return QString::number(count) + QLatin1Char('x');
}

QString collaborationHelp(qint64 count)
{
    return QStringLiteral("Verified by ") + QString::number(count) + QStringLiteral(" community endpoint")
        + (count == 1 ? QString() : QStringLiteral("s"));
}

QString incidentAccessibilityLabel(AppIncident::Kind kind, const QString &cause)
{
    return QStringLiteral("Update ") + AppIncident::rawValue(kind) + QStringLiteral(": ") + cause;
}

bool isSafeCaskToken(const QString &token)
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(QStringLiteral("[a-z0-9_.@+-]+")));
    if (token == QStringLiteral(".") || token == QStringLiteral("..") || token.startsWith(QLatin1Char('-')))
        return false;
    return pattern.match(token).hasMatch();
}

QStringList caskroomRoots()
{
    const QStringList &override = caskroomRootOverride();
    if (!override.isEmpty())
        return override;
    return {QStringLiteral("/opt/homebrew/Caskroom"), QStringLiteral("/usr/local/Caskroom")};
}

void setCaskroomRoots(const QStringList &roots)
{
    caskroomRootOverride() = roots;
}

bool isCaskInstalled(const QString &token)
{
    for (const QString &root : caskroomRoots()) {
        if (QFileInfo::exists(root + QLatin1Char('/') + token))
            return true;
    }
    return false;
}

bool lifecycleBusy(const BusyFlags &busy, const UpdateState &ownState)
{
    return busy.isUpdating || busy.isScanning || busy.isFixing || busy.hasSingleUpdate
        || ownState.kind() == UpdateState::Kind::running;
}

bool canReinstall(const AppRecord &app, bool busy)
{
    if (busy)
        return false;
    if (app.update_mechanism != QStringLiteral("cask"))
        return false;
    if (!app.cask_token || !isSafeCaskToken(*app.cask_token))
        return false;
    return isCaskInstalled(*app.cask_token);
}

bool canUninstall(const AppRecord &app, bool busy)
{
    if (busy)
        return false;
    if (!app.install_path || app.install_path->isEmpty())
        return false;
    if (app.bundle_id.startsWith(QStringLiteral("com.apple.")) || app.bundle_id.startsWith(QStringLiteral("com.system.")))
        return false;
    for (const char *prefix : {"/System", "/usr/bin", "/usr/lib", "/usr/sbin"}) {
        if (app.install_path->startsWith(QLatin1StringView(prefix)))
            return false;
    }
    return true;
}

bool isUnclassified(const AppRecord &app)
{
    return !app.update_mechanism || app.update_mechanism->isEmpty() || *app.update_mechanism == QStringLiteral("unknown");
}

Confirmation confirmationFor(AppLifecycleAction action, const AppRecord &app)
{
    Confirmation confirmation;
    switch (action) {
    case AppLifecycleAction::reinstall: {
        const QString token = app.cask_token && !app.cask_token->isEmpty() ? *app.cask_token : app.app_name;
        confirmation.title = QStringLiteral("Re-install ") + PlainText::forField(app.app_name) + QLatin1Char('?');
        confirmation.message = QStringLiteral("This will run `brew reinstall --cask ") + PlainText::forField(token)
            + QStringLiteral("` and may overwrite app settings.");
        confirmation.confirmTitle = QStringLiteral("Re-install");
        break;
    }
    case AppLifecycleAction::uninstall:
        confirmation.title = QStringLiteral("Uninstall ") + PlainText::forField(app.app_name) + QLatin1Char('?');
        confirmation.message = app.update_mechanism == QStringLiteral("cask")
            ? QStringLiteral("This will run `brew uninstall --cask` for this app. Homebrew will remove the app and "
                             "its Caskroom metadata.")
            : QStringLiteral("This will move the app bundle to Trash. If a PKG receipt is present, tracked "
                             "preferences, caches, and launch agents will also be moved to Trash; otherwise only "
                             "the bundle is removed.");
        confirmation.confirmTitle = QStringLiteral("Uninstall");
        confirmation.destructive = true;
        break;
    }
    return confirmation;
}

} // namespace CardRules
