#include "model/AppTrustPresenter.h"

#include "model/ModelText.h"
#include "model/PosturePresenter.h"
#include "platform/PlainText.h"

namespace {

bool hasText(const std::optional<QString> &text)
{
    return text && !text->isEmpty();
}

QString versions(const AppRecord &app)
{
    return PosturePresenter::shortVersion(app.current_version, 20) + QStringLiteral(" → ")
        + PosturePresenter::shortVersion(app.latest_version, 20);
}

QString endpoints(qint64 count)
{
    return QStringLiteral("Verified by ") + QString::number(count) + QStringLiteral(" endpoint")
        + (count == 1 ? QString() : QStringLiteral("s"));
}

AppTrustPresentation presentation(AppTrustState state, const QString &title, const QString &detail,
                                  const QStringList &evidence, qint64 collaborationCount, const QString &mechanism)
{
    AppTrustPresentation result;
    result.state = state;
    result.title = title;
    result.detail = detail;
    result.evidence = evidence;
    result.collaborationCount = collaborationCount;
    result.mechanismLabel = mechanism;
    return result;
}

} // namespace

namespace AppTrustPresenter {

PostureTone tone(AppTrustState state)
{
    switch (state) {
    case AppTrustState::currentCommunityVerified:
    case AppTrustState::currentLocallyVerified:
        return PostureTone::green;
    case AppTrustState::outdatedTrusted:
    case AppTrustState::updating:
        return PostureTone::orange;
    case AppTrustState::outdatedAtRisk:
    case AppTrustState::failed:
        return PostureTone::red;
    case AppTrustState::currentUnverified:
    case AppTrustState::queued:
    case AppTrustState::skipped:
        break;
    }
    return PostureTone::neutral;
}

AppTrustPresentation make(const AppRecord &app, const UpdateState &updateState,
                          const std::optional<AppIncident> &incident, const VendorUpdaters &vendorUpdaters,
                          const RemediationRegistry &registry)
{
    const QString mechanism = mechanismLabel(app.update_mechanism);
    const qint64 count = std::max<qint64>(app.community_sha256_count.value_or(0), 0);
    const QStringList evidence = evidenceLines(app, count);
    auto verdict = [&](AppTrustState state, const QString &title, const QString &detail) {
        return presentation(state, title, detail, evidence, count, mechanism);
    };

    if (isVendorSelfManaged(app)) {
        const QString title = QStringLiteral("Self-updating via ") + vendorDisplayName(app, vendorUpdaters);
        AppTrustPresentation result;
        if (app.isOutdated())
            result = verdict(AppTrustState::outdatedTrusted, title,
                             PosturePresenter::shortVersion(app.current_version, 20)
                                 + QStringLiteral(" — update available"));
        else if (app.isUnmeasured())
            result = verdict(AppTrustState::currentUnverified, title,
                             QStringLiteral("Vendor updater present — version not independently checked"));
        else
            result = verdict(AppTrustState::currentLocallyVerified, title,
                             QStringLiteral("Vendor handles updates — version confirmed"));
        result.mechanismLabel = QStringLiteral("SELF");
        return result;
    }
    if (app.update_mechanism == QStringLiteral("sparkle_internal")) {
        AppTrustPresentation result = verdict(AppTrustState::currentLocallyVerified,
                                              QStringLiteral("Self-updates via Sparkle"),
                                              QStringLiteral(
                                                  "Use the app’s own “Check for Updates” — VARNO can’t poll it."));
        result.mechanismLabel = QStringLiteral("SPARK");
        return result;
    }

    switch (updateState.kind()) {
    case UpdateState::Kind::queued:
        return verdict(AppTrustState::queued, QStringLiteral("Queued"),
                       QString::number(updateState.position()) + QStringLiteral(" of ")
                           + QString::number(updateState.total()));
    case UpdateState::Kind::running:
        return verdict(AppTrustState::updating, QStringLiteral("Updating now"), updateState.text());
    case UpdateState::Kind::skipped:
        if (incident)
            return verdict(AppTrustState::skipped, QStringLiteral("Update skipped"), registry.cause(incident->code));
        return verdict(AppTrustState::skipped, QStringLiteral("Skipped"), updateState.text());
    case UpdateState::Kind::failed:
        if (!app.isOutdated())
            return verdict(AppTrustState::currentUnverified, QStringLiteral("Mechanism re-evaluating"),
                           QStringLiteral("VARNO will reclassify this app on the next scan."));
        if (incident && incident->kind == AppIncident::Kind::skipped)
            return verdict(AppTrustState::failed, QStringLiteral("Update skipped"), registry.cause(incident->code));
        if (incident)
            return verdict(AppTrustState::failed, QStringLiteral("Update failed"), registry.cause(incident->code));
        return verdict(AppTrustState::failed, QStringLiteral("Update failed"),
                       PosturePresenter::shortVersion(updateState.text(), 88));
    case UpdateState::Kind::quitDenied:
        return verdict(AppTrustState::skipped, QStringLiteral("Couldn't quit it"), updateState.text());
    case UpdateState::Kind::idle:
        return settled(app, incident, mechanism, count, evidence, registry);
    case UpdateState::Kind::done:
        // A finished update speaks for itself: the incident it may have left is not shown.
        return settled(app, std::nullopt, mechanism, count, evidence, registry);
    }
    return settled(app, incident, mechanism, count, evidence, registry);
}

AppTrustPresentation settled(const AppRecord &app, const std::optional<AppIncident> &incident, const QString &mechanism,
                             qint64 collaborationCount, const QStringList &evidence, const RemediationRegistry &registry)
{
    auto verdict = [&](AppTrustState state, const QString &title, const QString &detail) {
        return presentation(state, title, detail, evidence, collaborationCount, mechanism);
    };
    if (app.isOutdated()) {
        if (incident && incident->kind == AppIncident::Kind::skipped)
            return verdict(AppTrustState::skipped, QStringLiteral("Update skipped"), registry.cause(incident->code));
        if (incident)
            return verdict(AppTrustState::failed, QStringLiteral("Update failed"), registry.cause(incident->code));
        if (app.statusColor() == AppStatusColor::atRisk)
            return verdict(AppTrustState::outdatedAtRisk, QStringLiteral("Update needs review"), versions(app));
        return verdict(AppTrustState::outdatedTrusted, QStringLiteral("Update available"), versions(app));
    }
    const bool seal = app.green_seal.value_or(false);
    const bool path = !seal && app.verified_path.value_or(false);
    if (seal || path) {
        AppTrustPresentation result = collaborationCount < 1
            ? verdict(AppTrustState::currentLocallyVerified, QStringLiteral("Locally verified"),
                      QStringLiteral("Trust signals recorded on this Mac"))
            : verdict(AppTrustState::currentCommunityVerified, QStringLiteral("Verified with community consensus"),
                      endpoints(collaborationCount));
        result.showsSeal = seal;
        result.showsVerifiedPath = path;
        return result;
    }
    return verdict(AppTrustState::currentUnverified, QStringLiteral("Current, trust data still forming"),
                   QStringLiteral("No local verification record yet"));
}

QStringList evidenceLines(const AppRecord &app, qint64 collaborationCount)
{
    QStringList lines;
    if (hasText(app.last_team_id))
        lines << QStringLiteral("Team ID continuity recorded");
    if (hasText(app.last_sha256))
        lines << QStringLiteral("Checksum captured");
    if (hasText(app.last_cdn_domain))
        lines << QStringLiteral("Source domain: ") + PlainText::forField(*app.last_cdn_domain);
    if (collaborationCount >= 1)
        lines << QStringLiteral("Community checksum consensus: ") + QString::number(collaborationCount);
    if (lines.isEmpty())
        lines << QStringLiteral("No trust evidence recorded yet");
    return lines;
}

QString mechanismLabel(const std::optional<QString> &mechanism)
{
    const QString value = mechanism.value_or(QStringLiteral("unknown"));
    if (value == QStringLiteral("cask"))
        return QStringLiteral("BREW");
    if (value == QStringLiteral("mas"))
        return QStringLiteral("MAS");
    if (value == QStringLiteral("sparkle") || value == QStringLiteral("sparkle_internal"))
        return QStringLiteral("SPARK");
    if (value == QStringLiteral("vendor_self_update"))
        return QStringLiteral("SELF");
    return QStringLiteral("TRIG");
}

bool isVendorSelfManaged(const AppRecord &app)
{
    if (app.update_mode.value_or(QStringLiteral("auto")) == QStringLiteral("self"))
        return true;
    const bool mechanismIsVendor = app.update_mechanism == QStringLiteral("vendor_self_update");
    // The first of the three that is present decides this rule; a false here
    // still leaves the rules below.
    const bool flagged = app.self_managed ? *app.self_managed
                                          : (app.vendor_self_update ? *app.vendor_self_update : mechanismIsVendor);
    if (flagged || mechanismIsVendor)
        return true;
    if (hasText(app.vendor_updater_name)) {
        const QString mechanism = app.update_mechanism.value_or(QString()).toLower();
        if (mechanism.isEmpty() || mechanism == QStringLiteral("unknown"))
            return true;
    }
    return false;
}

QString vendorDisplayName(const AppRecord &app, const VendorUpdaters &vendorUpdaters)
{
    const QString key = app.vendor_updater_name.value_or(QString()).trimmed();
    if (key.isEmpty())
        return QStringLiteral("vendor updater");
    if (const std::optional<QString> name = vendorUpdaters.displayName(key))
        return *name;
    return ModelText::capitalized(PlainText::forField(key).replace(QLatin1Char('_'), QLatin1Char(' ')));
}

} // namespace AppTrustPresenter
