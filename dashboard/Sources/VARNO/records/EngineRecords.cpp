// Decoding of the backup, provenance, ghost and trust-seal records.
#include "records/BackupRecord.h"
#include "records/GhostAppRecord.h"
#include "records/ProvenanceRecord.h"
#include "records/StrictJson.h"
#include "records/TrustSealRecord.h"

#include <QUuid>

using namespace StrictJson;

namespace {

QJsonValue field(const QJsonObject &object, const char *key)
{
    return object.value(QLatin1String(key));
}

} // namespace

QString BackupRecord::id() const
{
    if (backup_path)
        return *backup_path;
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

std::optional<BackupRecord> BackupRecord::fromJson(const QJsonObject &o)
{
    BackupRecord r;
    if (!requiredBool(field(o, "available"), r.available) || !optionalText(field(o, "backup_path"), r.backup_path)
        || !optionalText(field(o, "backup_dir"), r.backup_dir) || !optionalText(field(o, "timestamp"), r.timestamp)
        || !optionalInteger(field(o, "bytes"), r.bytes) || !optionalText(field(o, "reason"), r.reason))
        return std::nullopt;
    return r;
}

std::optional<BackupRecord> BackupRecord::decode(const QByteArray &json)
{
    const auto object = parseObject(json);
    return object ? fromJson(*object) : std::nullopt;
}

QString ProvenanceRecord::id() const
{
    return bundle_id + QLatin1Char('-') + timestamp.value_or(QString());
}

std::optional<ProvenanceRecord> ProvenanceRecord::fromJson(const QJsonObject &o)
{
    ProvenanceRecord r;
    if (!requiredText(field(o, "bundle_id"), r.bundle_id) || !optionalText(field(o, "app_name"), r.app_name)
        || !optionalText(field(o, "from_version"), r.from_version) || !optionalText(field(o, "to_version"), r.to_version)
        || !optionalText(field(o, "source"), r.source) || !optionalText(field(o, "timestamp"), r.timestamp)
        || !optionalText(field(o, "sha256"), r.sha256) || !optionalText(field(o, "cdn_domain"), r.cdn_domain)
        || !optionalText(field(o, "team_id"), r.team_id) || !optionalInteger(field(o, "update_count"), r.update_count)
        || !optionalText(field(o, "backup_path"), r.backup_path))
        return std::nullopt;
    return r;
}

std::optional<QList<ProvenanceRecord>> ProvenanceRecord::listFromJson(const QJsonArray &array)
{
    return decodeArray<ProvenanceRecord>(array, &ProvenanceRecord::fromJson);
}

std::optional<QList<ProvenanceRecord>> ProvenanceRecord::decodeList(const QByteArray &json)
{
    const auto array = parseArray(json);
    return array ? listFromJson(*array) : std::nullopt;
}

std::optional<GhostAppRecord> GhostAppRecord::fromJson(const QJsonObject &o)
{
    GhostAppRecord r;
    if (!requiredText(field(o, "bundle_id"), r.bundle_id) || !requiredText(field(o, "app_name"), r.app_name)
        || !requiredText(field(o, "install_path"), r.install_path) || !requiredText(field(o, "cask_token"), r.cask_token))
        return std::nullopt;
    return r;
}

std::optional<QList<GhostAppRecord>> GhostAppRecord::listFromJson(const QJsonArray &array)
{
    return decodeArray<GhostAppRecord>(array, &GhostAppRecord::fromJson);
}

std::optional<QList<GhostAppRecord>> GhostAppRecord::decodeList(const QByteArray &json)
{
    const auto array = parseArray(json);
    return array ? listFromJson(*array) : std::nullopt;
}

std::optional<TrustSealRecord> TrustSealRecord::fromJson(const QJsonObject &o)
{
    TrustSealRecord r;
    if (!optionalText(field(o, "bundle_id"), r.bundle_id) || !requiredBool(field(o, "green_seal"), r.green_seal)
        || !requiredBool(field(o, "verified_path"), r.verified_path))
        return std::nullopt;
    const QJsonValue checks = field(o, "checks");
    if (!checks.isUndefined() && !checks.isNull()) {
        if (!checks.isObject())
            return std::nullopt;
        QMap<QString, bool> map;
        const QJsonObject object = checks.toObject();
        for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
            if (!it.value().isBool())
                return std::nullopt;
            map.insert(it.key(), it.value().toBool());
        }
        r.checks = std::move(map);
    }
    return r;
}

std::optional<TrustSealRecord> TrustSealRecord::decode(const QByteArray &json)
{
    const auto object = parseObject(json);
    return object ? fromJson(*object) : std::nullopt;
}
