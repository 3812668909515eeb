#include "provenance/ProvenanceRules.h"

#include "model/AppModel.h"
#include "platform/PlainText.h"

#include <QRegularExpression>

namespace ProvenanceRules {

namespace {

const QString kDash = QStringLiteral("—");

bool isPresentAndNonEmpty(const std::optional<QString> &text)
{
    return text && !text->isEmpty();
}

} // namespace

// --- Dates --------------------------------------------------------------------

std::optional<QDateTime> parseInternetDateTime(const QString &text)
{
    // Qt's ISO reading also takes fractional seconds and zone-less text; the
    // internet form has neither, so the shape is checked first.
    static const QRegularExpression shape(
        QStringLiteral(R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(Z|([+-])(\d{2}):?(\d{2}))$)"));
    const QRegularExpressionMatch match = shape.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    const QTime time(match.captured(4).toInt(), match.captured(5).toInt(), match.captured(6).toInt());
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    int offsetSeconds = 0;
    if (match.captured(7) != QLatin1String("Z")) {
        const int hours = match.captured(9).toInt();
        const int minutes = match.captured(10).toInt();
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        offsetSeconds = (hours * 60 + minutes) * 60;
        if (match.captured(8) == QLatin1String("-"))
            offsetSeconds = -offsetSeconds;
    }
    const QDateTime moment(date, time, Qt::OffsetFromUTC, offsetSeconds);
    if (!moment.isValid())
        return std::nullopt;
    return moment;
}

std::optional<QDateTime> parseCompactTimestamp(const QString &text)
{
    static const QRegularExpression shape(QStringLiteral(R"(^(\d{4})(\d{2})(\d{2})-(\d{2})(\d{2})(\d{2})$)"));
    const QRegularExpressionMatch match = shape.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    const QTime time(match.captured(4).toInt(), match.captured(5).toInt(), match.captured(6).toInt());
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    const QDateTime moment(date, time, Qt::LocalTime);
    if (!moment.isValid())
        return std::nullopt;
    return moment;
}

QString formatDay(const QDateTime &moment, const QLocale &locale)
{
    return locale.toString(moment.toLocalTime().date(), QStringLiteral("MMM d, yyyy"));
}

QString historyDate(const QString &timestamp, const QLocale &locale)
{
    if (const auto moment = parseInternetDateTime(timestamp))
        return formatDay(*moment, locale);
    return PlainText::forField(timestamp);
}

QString backupDate(const QString &timestamp, const QLocale &locale)
{
    if (const auto moment = parseCompactTimestamp(timestamp))
        return formatDay(*moment, locale);
    if (const auto moment = parseInternetDateTime(timestamp))
        return formatDay(*moment, locale);
    return PlainText::forField(timestamp);
}

// --- Gates ----------------------------------------------------------------------

bool updatesItselfThroughVendor(const AppRecord &app)
{
    if (app.self_managed)
        return *app.self_managed;
    if (app.vendor_self_update)
        return *app.vendor_self_update;
    return app.update_mechanism == QStringLiteral("vendor_self_update");
}

bool canTriggerInAppUpdate(const AppRecord &app)
{
    if (!app.can_trigger_self_update.value_or(false))
        return false;
    return updatesItselfThroughVendor(app) || app.update_mode.value_or(QStringLiteral("auto")) == QStringLiteral("self");
}

QString noLongerAllowedText(AppLifecycleAction action, const AppRecord &app)
{
    if (action == AppLifecycleAction::reinstall)
        return QStringLiteral("Brusk can't re-install ") + app.app_name
            + QStringLiteral(" — VARNO no longer sees it as a Homebrew cask.");
    return QStringLiteral("Brusk won't uninstall ") + app.app_name
        + QStringLiteral(" — it has no known location, or it is part of the system.");
}

UpdateSlot updateSlot(const AppRecord &app)
{
    if (canTriggerInAppUpdate(app))
        return UpdateSlot::checkInApp;
    if (app.isOutdated())
        return UpdateSlot::update;
    return UpdateSlot::none;
}

bool canReinstall(const AppRecord &app, bool busy)
{
    return !busy && app.update_mechanism == QStringLiteral("cask") && isPresentAndNonEmpty(app.cask_token);
}

bool canUninstall(const AppRecord &app, bool busy)
{
    if (busy || !isPresentAndNonEmpty(app.install_path))
        return false;
    if (app.bundle_id.startsWith(QStringLiteral("com.apple.")) || app.bundle_id.startsWith(QStringLiteral("com.system.")))
        return false;
    for (const char *prefix : {"/System", "/usr/bin", "/usr/lib", "/usr/sbin"}) {
        if (app.install_path->startsWith(QLatin1String(prefix)))
            return false;
    }
    return true;
}

QString actionIdentity(AppLifecycleAction action)
{
    return action == AppLifecycleAction::reinstall ? QStringLiteral("reinstall") : QStringLiteral("uninstall");
}

QString confirmationTitle(std::optional<AppLifecycleAction> action, const AppRecord &app)
{
    if (!action)
        return QString();
    if (*action == AppLifecycleAction::uninstall)
        return QStringLiteral("Uninstall ") + PlainText::forField(app.app_name) + QStringLiteral("?");
    return QStringLiteral("Re-install ") + PlainText::forField(app.app_name) + QStringLiteral("?");
}

QString confirmationMessage(std::optional<AppLifecycleAction> action, const AppRecord &app)
{
    if (!action)
        return QString();
    if (*action == AppLifecycleAction::uninstall) {
        if (app.update_mechanism == QStringLiteral("cask"))
            return QStringLiteral("This will run `brew uninstall --cask` for this app. Homebrew will remove the app "
                                  "and its Caskroom metadata.");
        return QStringLiteral("This will move the app bundle to Trash. If a PKG receipt is present, tracked "
                              "preferences, caches, and launch agents will also be moved to Trash; otherwise only "
                              "the bundle is removed.");
    }
    return QStringLiteral("This will run `brew reinstall --cask ")
        + PlainText::forField(app.cask_token.value_or(app.app_name))
        + QStringLiteral("` and may overwrite app settings.");
}

QString confirmButtonText(AppLifecycleAction action)
{
    return action == AppLifecycleAction::reinstall ? QStringLiteral("Re-install") : QStringLiteral("Uninstall");
}

// --- Header, current state and history ----------------------------------------

TrustBadge headerBadge(const AppTrustPresentation &presentation)
{
    if (presentation.showsSeal)
        return TrustBadge::seal;
    if (presentation.showsVerifiedPath)
        return TrustBadge::verifiedPath;
    return TrustBadge::none;
}

QList<StateRow> currentStateRows(const AppRecord &app, const AppTrustPresentation &presentation)
{
    QList<StateRow> rows;
    // The record's texts as a person is shown them.
    const auto shown = [](const std::optional<QString> &text) { return PlainText::forField(text.value_or(kDash)); };
    rows.append({QStringLiteral("version"), shown(app.current_version), ValueColor::primary});
    rows.append({QStringLiteral("latest"), shown(app.latest_version),
                 app.isOutdated() ? ValueColor::warning : ValueColor::good});
    rows.append({QStringLiteral("mechanism"), presentation.mechanismLabel, ValueColor::primary});
    rows.append({QStringLiteral("mode"), AppModel::updateModeLabel(app.update_mode.value_or(QStringLiteral("auto"))),
                 ValueColor::primary});
    if (updatesItselfThroughVendor(app) && app.can_trigger_self_update.value_or(false) && app.trigger_kind)
        rows.append({QStringLiteral("trigger"), shown(app.trigger_kind), ValueColor::good});
    const qint64 count = presentation.collaborationCount;
    if (count >= 1) {
        rows.append({QStringLiteral("community"),
                     QStringLiteral("verified by ") + QString::number(count)
                         + (count == 1 ? QStringLiteral(" endpoint") : QStringLiteral(" endpoints")),
                     ValueColor::good});
    } else if (presentation.showsSeal || presentation.showsVerifiedPath) {
        rows.append({QStringLiteral("community"), QStringLiteral("local verification only"), ValueColor::secondary});
    }
    if (app.last_updated)
        rows.append({QStringLiteral("updated"), shown(app.last_updated), ValueColor::primary});
    if (isPresentAndNonEmpty(app.last_team_id))
        rows.append({QStringLiteral("teamID"), shown(app.last_team_id), ValueColor::identity});
    if (isPresentAndNonEmpty(app.last_cdn_domain))
        rows.append({QStringLiteral("cdn"), shown(app.last_cdn_domain), ValueColor::primary});
    if (isPresentAndNonEmpty(app.last_sha256))
        rows.append({QStringLiteral("sha256"), app.last_sha256->left(16) + QStringLiteral("..."), ValueColor::identity});
    return rows;
}

HistoryContent historyContent(bool isLoading, const std::optional<QString> &loadError, bool isEmpty)
{
    if (isLoading)
        return HistoryContent::loading;
    if (loadError)
        return HistoryContent::error;
    if (isEmpty)
        return HistoryContent::empty;
    return HistoryContent::rows;
}

HistoryBadge historyBadge(const ProvenanceRecord &record, const AppTrustPresentation &presentation)
{
    if (!record.sha256)
        return {};
    if (presentation.collaborationCount >= 1)
        return {HistoryBadge::Kind::count, QString::number(presentation.collaborationCount) + QStringLiteral("x")};
    // A verified path is not a green seal: each verdict keeps its own badge.
    if (presentation.showsSeal)
        return {HistoryBadge::Kind::seal, QString()};
    if (presentation.showsVerifiedPath)
        return {HistoryBadge::Kind::verifiedPath, QString()};
    return {};
}

QString historyVersion(const ProvenanceRecord &record)
{
    return PlainText::forField(record.to_version.value_or(kDash));
}

QString historyTimestamp(const ProvenanceRecord &record, const QLocale &locale)
{
    return record.timestamp ? historyDate(*record.timestamp, locale) : kDash;
}

QString routingSentence(const QString &mechanismLabel)
{
    return QStringLiteral("VARNO routed this update via %1. Trust is strongest when local verification and community "
                          "checksum consensus agree. Your data stays local unless you explicitly opt in to sync.")
        .arg(mechanismLabel);
}

// --- Restore sheet --------------------------------------------------------------

RestoreContent restoreContent(bool isLoading, const std::optional<QString> &error, bool restored,
                              const std::optional<BackupRecord> &backup)
{
    if (isLoading)
        return RestoreContent::loading;
    if (error)
        return RestoreContent::error;
    if (restored)
        return RestoreContent::restored;
    if (backup && backup->available)
        return RestoreContent::ready;
    return RestoreContent::noBackup;
}

RestoreFooterButton restoreFooterButton(const std::optional<BackupRecord> &backup, bool restored,
                                        const std::optional<QString> &error)
{
    if (backup && backup->available && !restored && !error)
        return RestoreFooterButton::restore;
    if (restored)
        return RestoreFooterButton::done;
    return RestoreFooterButton::none;
}

namespace {

QString lowercasedReason(const std::optional<BackupRecord> &backup)
{
    return backup ? backup->reason.value_or(QString()).toLower() : QString();
}

} // namespace

bool reasonIsExpiry(const std::optional<BackupRecord> &backup)
{
    const QString reason = lowercasedReason(backup);
    return !reason.contains(QStringLiteral("too large")) && !reason.contains(QStringLiteral("running"))
        && !reason.contains(QStringLiteral("signature")) && reason.contains(QStringLiteral("expired"));
}

QString reasonText(const std::optional<BackupRecord> &backup, std::optional<qint64> retentionDays)
{
    const QString reason = lowercasedReason(backup);
    if (reason.contains(QStringLiteral("too large")))
        return QStringLiteral("This app is larger than 2 GB, so VARNO skipped the snapshot before updating.");
    if (reason.contains(QStringLiteral("running")))
        return QStringLiteral("The app is currently running. Quit it first, then try again.");
    if (reason.contains(QStringLiteral("signature")))
        return QStringLiteral("The backup’s signature no longer verifies, so Brusk won’t restore it.");
    if (reason.contains(QStringLiteral("expired"))) {
        // The retention age is the user's setting: name it only when known.
        if (retentionDays && *retentionDays > 0)
            return QStringLiteral("The backup has expired. VARNO keeps backups for %1 %2.")
                .arg(*retentionDays)
                .arg(*retentionDays == 1 ? QStringLiteral("day") : QStringLiteral("days"));
        return QStringLiteral("The backup has expired.");
    }
    return QStringLiteral("No local backup was found for this app.");
}

QString backupDateLine(const BackupRecord &backup, const QLocale &locale)
{
    return QStringLiteral("A backup from ") + backupDate(backup.timestamp.value_or(QString()), locale)
        + QStringLiteral(" is available.");
}

std::optional<QString> backupSizeLine(const BackupRecord &backup)
{
    if (!backup.bytes || *backup.bytes < 0)
        return std::nullopt;
    return QStringLiteral("Size: ") + QString::number(*backup.bytes >> 20) + QStringLiteral(" MB");
}

} // namespace ProvenanceRules
