#include "records/AppRecord.h"

#include "records/StrictJson.h"
#include "records/VersionCompare.h"

namespace {

bool nonEmpty(const std::optional<QString> &text)
{
    return text && !text->isEmpty();
}

// Whether the text, lowercased, equals the lower-case ASCII word: without
// allocating for ASCII text; other text is lowercased in full, since some
// characters lowercase to ASCII letters (the Kelvin sign to "k").
bool lowercasedEquals(QStringView text, QLatin1StringView word)
{
    bool ascii = true;
    for (const QChar c : text) {
        if (c.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (!ascii)
        return text.toString().toLower() == word;
    return text.size() == word.size() && text.compare(word, Qt::CaseInsensitive) == 0;
}

bool lowercasedEquals(const std::optional<QString> &text, QLatin1StringView word)
{
    return lowercasedEquals(text ? QStringView(*text) : QStringView(), word);
}

enum class Field {
    bundle_id,
    app_name,
    current_version,
    latest_version,
    update_mechanism,
    vendor_updater_name,
    cask_token,
    mas_id,
    cask_match_confidence,
    last_updated,
    last_sha256,
    last_cdn_domain,
    last_team_id,
    last_update_source,
    update_count,
    community_sha256_count,
    version_first_seen,
    risk_score,
    risk_tier,
    install_path,
    user_ignored,
    unmanaged_state,
    update_mode,
    self_managed,
    vendor_self_update,
    can_trigger_self_update,
    trigger_kind,
    green_seal,
    verified_path,
    last_incident_code,
    last_incident_kind,
    last_incident_at,
    latest_source,
    version_check_status,
};

struct FieldKey {
    QLatin1StringView key;
    Field field;
};

#define VARNO_FIELD(name)                     \
    FieldKey                                  \
    {                                         \
        QLatin1StringView(#name), Field::name \
    }
constexpr FieldKey kFieldKeys[] = {
    VARNO_FIELD(bundle_id),
    VARNO_FIELD(app_name),
    VARNO_FIELD(current_version),
    VARNO_FIELD(latest_version),
    VARNO_FIELD(update_mechanism),
    VARNO_FIELD(vendor_updater_name),
    VARNO_FIELD(cask_token),
    VARNO_FIELD(mas_id),
    VARNO_FIELD(cask_match_confidence),
    VARNO_FIELD(last_updated),
    VARNO_FIELD(last_sha256),
    VARNO_FIELD(last_cdn_domain),
    VARNO_FIELD(last_team_id),
    VARNO_FIELD(last_update_source),
    VARNO_FIELD(update_count),
    VARNO_FIELD(community_sha256_count),
    VARNO_FIELD(version_first_seen),
    VARNO_FIELD(risk_score),
    VARNO_FIELD(risk_tier),
    VARNO_FIELD(install_path),
    VARNO_FIELD(user_ignored),
    VARNO_FIELD(unmanaged_state),
    VARNO_FIELD(update_mode),
    VARNO_FIELD(self_managed),
    VARNO_FIELD(vendor_self_update),
    VARNO_FIELD(can_trigger_self_update),
    VARNO_FIELD(trigger_kind),
    VARNO_FIELD(green_seal),
    VARNO_FIELD(verified_path),
    VARNO_FIELD(last_incident_code),
    VARNO_FIELD(last_incident_kind),
    VARNO_FIELD(last_incident_at),
    VARNO_FIELD(latest_source),
    VARNO_FIELD(version_check_status),
};
#undef VARNO_FIELD

constexpr const auto &fieldKeys()
{
    return kFieldKeys;
}

bool decodeField(AppRecord &r, Field field, QJsonValueConstRef v)
{
    using namespace StrictJson;
    switch (field) {
    case Field::bundle_id:
        return requiredText(v, r.bundle_id);
    case Field::app_name:
        return requiredText(v, r.app_name);
    case Field::current_version:
        return optionalText(v, r.current_version);
    case Field::latest_version:
        return optionalText(v, r.latest_version);
    case Field::update_mechanism:
        return optionalText(v, r.update_mechanism);
    case Field::vendor_updater_name:
        return optionalText(v, r.vendor_updater_name);
    case Field::cask_token:
        return optionalText(v, r.cask_token);
    case Field::mas_id:
        return optionalText(v, r.mas_id);
    case Field::cask_match_confidence:
        return optionalText(v, r.cask_match_confidence);
    case Field::last_updated:
        return optionalText(v, r.last_updated);
    case Field::last_sha256:
        return optionalText(v, r.last_sha256);
    case Field::last_cdn_domain:
        return optionalText(v, r.last_cdn_domain);
    case Field::last_team_id:
        return optionalText(v, r.last_team_id);
    case Field::last_update_source:
        return optionalText(v, r.last_update_source);
    case Field::update_count:
        return optionalInteger(v, r.update_count);
    case Field::community_sha256_count:
        return optionalInteger(v, r.community_sha256_count);
    case Field::version_first_seen:
        return optionalText(v, r.version_first_seen);
    case Field::risk_score:
        return optionalInteger(v, r.risk_score);
    case Field::risk_tier:
        return optionalText(v, r.risk_tier);
    case Field::install_path:
        return optionalText(v, r.install_path);
    case Field::user_ignored:
        return optionalInteger(v, r.user_ignored);
    case Field::unmanaged_state:
        return optionalText(v, r.unmanaged_state);
    case Field::update_mode:
        return optionalText(v, r.update_mode);
    case Field::self_managed:
        return optionalBool(v, r.self_managed);
    case Field::vendor_self_update:
        return optionalBool(v, r.vendor_self_update);
    case Field::can_trigger_self_update:
        return optionalBool(v, r.can_trigger_self_update);
    case Field::trigger_kind:
        return optionalText(v, r.trigger_kind);
    case Field::green_seal:
        return optionalBool(v, r.green_seal);
    case Field::verified_path:
        return optionalBool(v, r.verified_path);
    case Field::last_incident_code:
        return optionalText(v, r.last_incident_code);
    case Field::last_incident_kind:
        return optionalText(v, r.last_incident_kind);
    case Field::last_incident_at:
        return optionalText(v, r.last_incident_at);
    case Field::latest_source:
        return optionalText(v, r.latest_source);
    case Field::version_check_status:
        return optionalText(v, r.version_check_status);
    }
    return false;
}

} // namespace

std::optional<AppRecord> AppRecord::fromJson(const QJsonObject &object)
{
    // One lookup per known key (the object's keys are kept sorted, so each
    // lookup is a binary search without allocating, and the value is read in
    // place); unknown keys are ignored.
    AppRecord record;
    const auto end = object.constEnd();
    for (const auto &[key, field] : fieldKeys()) {
        const auto found = object.constFind(key);
        if (found == end) {
            if (field == Field::bundle_id || field == Field::app_name)
                return std::nullopt;
            continue;
        }
        if (!decodeField(record, field, *found))
            return std::nullopt;
    }
    return record;
}

std::optional<QList<AppRecord>> AppRecord::listFromJson(const QJsonArray &array)
{
    return StrictJson::decodeArray<AppRecord>(array, &AppRecord::fromJson);
}

bool AppRecord::isExcluded() const
{
    if (user_ignored && *user_ignored != 0)
        return true;
    return update_mode && *update_mode == QLatin1String("ignore");
}

bool AppRecord::isOutdatedLegacy() const
{
    if (!nonEmpty(current_version) || !nonEmpty(latest_version))
        return false;
    if (lowercasedEquals(latest_version, QLatin1StringView("latest"))
        || lowercasedEquals(latest_version, QLatin1StringView("unknown")))
        return false;
    return VersionCompare::compare(*current_version, *latest_version) == ComparisonResult::orderedAscending;
}

bool AppRecord::isLegacySelfManagedBucket() const
{
    return lowercasedEquals(update_mechanism, QLatin1StringView("vendor_self_update"))
        || lowercasedEquals(update_mechanism, QLatin1StringView("sparkle_internal"));
}

QLatin1StringView AppRecord::derivedStatus() const
{
    if (isExcluded())
        return QLatin1StringView("excluded");
    if (isOutdatedLegacy())
        return QLatin1StringView("outdated");
    if (nonEmpty(latest_version))
        return QLatin1StringView("current");
    if (self_managed) {
        if (*self_managed)
            return QLatin1StringView("unmeasured");
    } else if (vendor_self_update) {
        if (*vendor_self_update)
            return QLatin1StringView("unmeasured");
    } else if (update_mechanism && *update_mechanism == QLatin1String("vendor_self_update")) {
        return QLatin1StringView("unmeasured");
    }
    if (isLegacySelfManagedBucket())
        return QLatin1StringView("unmeasured");
    if (lowercasedEquals(update_mechanism, QLatin1StringView("mas")))
        return QLatin1StringView("unmeasured");
    return QLatin1StringView("unknown");
}

QString AppRecord::versionCheckStatus() const
{
    if (nonEmpty(version_check_status))
        return version_check_status->toLower();
    return QString(derivedStatus());
}

AppRecord::StatusFacts AppRecord::statusFacts() const
{
    StatusFacts facts;
    const bool excluded = isExcluded();
    if (!excluded) {
        // The effective status, read once: the engine's own when it gave a
        // non-empty one, else the one the other fields give.
        const bool engineStatus = nonEmpty(version_check_status);
        const QLatin1StringView derived = engineStatus ? QLatin1StringView() : derivedStatus();
        const auto statusIs = [&](QLatin1StringView word) {
            return engineStatus ? lowercasedEquals(version_check_status, word) : derived == word;
        };
        facts.outdated = statusIs(QLatin1StringView("outdated"));
        facts.unmeasured = statusIs(QLatin1StringView("unmeasured"));
        facts.unknownStatus = statusIs(QLatin1StringView("unknown"));
        facts.catalogStale = statusIs(QLatin1StringView("catalog_stale"));
    }
    facts.verified = !(facts.unmeasured || facts.unknownStatus || facts.outdated || facts.catalogStale)
        && nonEmpty(last_sha256) && nonEmpty(last_team_id);
    if (excluded)
        facts.color = AppStatusColor::muted;
    else if (lowercasedEquals(risk_tier, QLatin1StringView("high"))
             || lowercasedEquals(risk_tier, QLatin1StringView("critical")))
        facts.color = AppStatusColor::atRisk;
    else if (facts.outdated)
        facts.color = AppStatusColor::outdated;
    else if (facts.unmeasured || facts.unknownStatus)
        facts.color = AppStatusColor::unchecked;
    else if (facts.catalogStale)
        facts.color = AppStatusColor::muted;
    return facts;
}

bool AppRecord::isOutdated() const
{
    return statusFacts().outdated;
}

bool AppRecord::isUnmeasured() const
{
    return statusFacts().unmeasured;
}

bool AppRecord::isUnknownStatus() const
{
    return statusFacts().unknownStatus;
}

bool AppRecord::isCatalogStale() const
{
    return statusFacts().catalogStale;
}

bool AppRecord::isVerified() const
{
    return statusFacts().verified;
}

AppStatusColor AppRecord::statusColor() const
{
    return statusFacts().color;
}
