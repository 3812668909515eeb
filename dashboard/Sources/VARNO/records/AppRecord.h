#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// The five status classes a record derives for colouring and filtering.
enum class AppStatusColor {
    current,
    outdated,
    atRisk,
    unchecked,
    muted,
};

// One installed application as `list --json` reports it. Only bundle_id and
// app_name are required; every other field is absent when its key is missing
// or null. Texts are kept exactly as the engine sent them (a present empty
// text is not an absent one). Everything derived is worked out afresh from
// the stored fields on each call.
struct AppRecord {
    QString bundle_id;
    QString app_name;
    std::optional<QString> current_version;
    std::optional<QString> latest_version;
    std::optional<QString> update_mechanism;
    std::optional<QString> vendor_updater_name;
    std::optional<QString> cask_token;
    std::optional<QString> mas_id;
    std::optional<QString> cask_match_confidence;
    std::optional<QString> last_updated;
    std::optional<QString> last_sha256;
    std::optional<QString> last_cdn_domain;
    std::optional<QString> last_team_id;
    std::optional<QString> last_update_source;
    std::optional<qint64> update_count;
    std::optional<qint64> community_sha256_count;
    std::optional<QString> version_first_seen;
    std::optional<qint64> risk_score;
    std::optional<QString> risk_tier;
    std::optional<QString> install_path;
    std::optional<qint64> user_ignored;
    std::optional<QString> unmanaged_state;
    std::optional<QString> update_mode;
    std::optional<bool> self_managed;
    std::optional<bool> vendor_self_update;
    std::optional<bool> can_trigger_self_update;
    std::optional<QString> trigger_kind;
    std::optional<bool> green_seal;
    std::optional<bool> verified_path;
    std::optional<QString> last_incident_code;
    std::optional<QString> last_incident_kind;
    std::optional<QString> last_incident_at;
    std::optional<QString> latest_source;
    std::optional<QString> version_check_status;

    // The record's identity: its bundle id.
    const QString &id() const { return bundle_id; }

    // The effective version-check status: the engine's own (lowercased) when
    // it gave a non-empty one, else "excluded", "outdated", "current",
    // "unmeasured" or "unknown" as worked out from the other fields.
    QString versionCheckStatus() const;

    bool isOutdated() const;
    bool isUnmeasured() const;
    bool isUnknownStatus() const;
    bool isCatalogStale() const;
    // Nothing is pending or unknown about it and both evidence fields
    // (last_sha256, last_team_id) are non-empty.
    bool isVerified() const;
    AppStatusColor statusColor() const;

    // Every predicate above at once, the status worked out a single time:
    // what counting a whole library asks of each record.
    struct StatusFacts {
        bool outdated = false;
        bool unmeasured = false;
        bool unknownStatus = false;
        bool catalogStale = false;
        bool verified = false;
        AppStatusColor color = AppStatusColor::current;
    };
    StatusFacts statusFacts() const;

    bool operator==(const AppRecord &other) const = default;

    // Decoding under the strict rules; nothing when the object (or, for the
    // lists, any one element) does not decode.
    static std::optional<AppRecord> fromJson(const QJsonObject &object);
    static std::optional<QList<AppRecord>> listFromJson(const QJsonArray &array);
    // The whole of `json` as one array of records, read in one pass straight
    // from the bytes (the same rules as parsing a QJsonDocument and decoding
    // it with listFromJson, at a fraction of the cost).
    static std::optional<QList<AppRecord>> decodeList(const QByteArray &json);

private:
    // Excluded from version checks: user_ignored present and not 0, or
    // update_mode exactly "ignore".
    bool isExcluded() const;
    bool isOutdatedLegacy() const;
    bool isLegacySelfManagedBucket() const;
    // The status rules after the engine's own (rules 2 to 8), as a word
    // that builds no text.
    QLatin1StringView derivedStatus() const;
};
