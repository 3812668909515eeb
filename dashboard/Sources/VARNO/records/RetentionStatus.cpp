#include "records/RetentionStatus.h"

#include "records/RecordCodingError.h"

#include <QJsonValue>

#include <cmath>

namespace {

using Kind = RecordDecodingError::Kind;

// Missing or null keeps the default; anything but an integral number fails.
void readInteger(const QJsonObject &object, const QString &path, const char *key, qint64 &field)
{
    const QString name = QString::fromLatin1(key);
    const QJsonValue value = object.value(name);
    if (value.isUndefined() || value.isNull())
        return;
    const std::optional<qint64> integer = RecordJson::integerValue(value);
    if (!integer)
        throw RecordDecodingError(Kind::typeMismatch, RecordJson::joinPath(path, name),
                                  QStringLiteral("Expected a 64-bit integer."));
    field = *integer;
}

void readFlag(const QJsonObject &object, const QString &path, const char *key, bool &field)
{
    const QString name = QString::fromLatin1(key);
    const QJsonValue value = object.value(name);
    if (value.isUndefined() || value.isNull())
        return;
    if (!value.isBool())
        throw RecordDecodingError(Kind::typeMismatch, RecordJson::joinPath(path, name),
                                  QStringLiteral("Expected a Boolean."));
    field = value.toBool();
}

template<typename Record>
void readMember(const QJsonObject &object, const char *key, Record &field)
{
    const QString name = QString::fromLatin1(key);
    const QJsonValue value = object.value(name);
    if (value.isUndefined() || value.isNull())
        return;
    if (!value.isObject())
        throw RecordDecodingError(Kind::typeMismatch, name, QStringLiteral("Expected an object."));
    field = Record::fromJson(value.toObject(), name);
}

} // namespace

RetentionPolicy RetentionPolicy::fromJson(const QJsonObject &object, const QString &path)
{
    RetentionPolicy policy;
    readInteger(object, path, "keep_per_app", policy.keepPerApp);
    readInteger(object, path, "retention_days", policy.retentionDays);
    readInteger(object, path, "support_bundle_keep", policy.supportBundleKeep);
    readInteger(object, path, "log_max_mb", policy.logMaxMb);
    readInteger(object, path, "os_snapshot_max_age_days", policy.osSnapshotMaxAgeDays);
    return policy;
}

RetentionConsent RetentionConsent::fromJson(const QJsonObject &object, const QString &path)
{
    RetentionConsent consent;
    readFlag(object, path, "granted", consent.granted);
    readFlag(object, path, "asked", consent.asked);
    readFlag(object, path, "auto_prune_allowed", consent.autoPruneAllowed);
    return consent;
}

RetentionUsage RetentionUsage::fromJson(const QJsonObject &object, const QString &path)
{
    RetentionUsage usage;
    readInteger(object, path, "bytes", usage.bytes);
    readInteger(object, path, "snapshot_count", usage.snapshotCount);
    readInteger(object, path, "bundle_count", usage.bundleCount);
    readInteger(object, path, "reclaimable_bytes", usage.reclaimableBytes);
    readInteger(object, path, "reclaimable_count", usage.reclaimableCount);
    return usage;
}

RetentionPlan RetentionPlan::fromJson(const QJsonObject &object, const QString &path)
{
    RetentionPlan plan;
    readInteger(object, path, "count", plan.count);
    readInteger(object, path, "bytes", plan.bytes);
    return plan;
}

RetentionStatus RetentionStatus::fromJson(const QJsonObject &object)
{
    RetentionStatus status;
    readMember(object, "policy", status.policy);
    readMember(object, "consent", status.consent);
    readMember(object, "usage", status.usage);
    readMember(object, "pending_plan", status.pendingPlan);
    return status;
}

RetentionStatus RetentionStatus::decode(const QByteArray &json)
{
    return fromJson(RecordJson::parseObject(json));
}

QString RetentionStatus::formatBytes(qint64 count)
{
    static const char *const units[] = {"bytes", "KB", "MB", "GB", "TB"};
    double value = double(count);
    int unit = 0;
    while (std::fabs(value) >= 1024.0 && unit < 4) {
        value /= 1024.0;
        ++unit;
    }
    // QString::asprintf formats numbers the C way: "." and no grouping.
    if (unit == 0)
        return QString::asprintf("%.0f %s", value, units[unit]);
    return QString::asprintf("%.1f %s", value, units[unit]);
}
