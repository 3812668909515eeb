#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// The backup-storage state that the engine's `retention status|set|consent
// --json` commands print. Every key may be missing or null and then takes its
// default; a value of the wrong JSON type fails the whole decode
// (RecordDecodingError).

// The user's retention policy.
struct RetentionPolicy {
    qint64 keepPerApp = 1;            // "keep_per_app": backups kept per application
    qint64 retentionDays = 30;        // "retention_days": days before a backup may be pruned
    qint64 supportBundleKeep = 5;     // "support_bundle_keep"
    qint64 logMaxMb = 2;              // "log_max_mb": size limit of a log file, in megabytes
    qint64 osSnapshotMaxAgeDays = 90; // "os_snapshot_max_age_days"

    static RetentionPolicy fromJson(const QJsonObject &object, const QString &codingPath = QString());
    friend bool operator==(const RetentionPolicy &, const RetentionPolicy &) = default;
};

// The user's answer about automatic cleanup.
struct RetentionConsent {
    bool granted = false;          // "granted"
    bool asked = false;            // "asked"
    bool autoPruneAllowed = false; // "auto_prune_allowed"

    static RetentionConsent fromJson(const QJsonObject &object, const QString &codingPath = QString());
    friend bool operator==(const RetentionConsent &, const RetentionConsent &) = default;
};

// What the backups occupy.
struct RetentionUsage {
    qint64 bytes = 0;            // "bytes"
    qint64 snapshotCount = 0;    // "snapshot_count"
    qint64 bundleCount = 0;      // "bundle_count": applications that have snapshots
    qint64 reclaimableBytes = 0; // "reclaimable_bytes"
    qint64 reclaimableCount = 0; // "reclaimable_count"

    static RetentionUsage fromJson(const QJsonObject &object, const QString &codingPath = QString());
    friend bool operator==(const RetentionUsage &, const RetentionUsage &) = default;
};

// The cleanup the engine has pending.
struct RetentionPlan {
    qint64 count = 0; // "count": snapshots it would remove
    qint64 bytes = 0; // "bytes": bytes it would free

    static RetentionPlan fromJson(const QJsonObject &object, const QString &codingPath = QString());
    friend bool operator==(const RetentionPlan &, const RetentionPlan &) = default;
};

struct RetentionStatus {
    RetentionPolicy policy;    // "policy"
    RetentionConsent consent;  // "consent"
    RetentionUsage usage;      // "usage"
    RetentionPlan pendingPlan; // "pending_plan"

    // Throws RecordDecodingError.
    static RetentionStatus fromJson(const QJsonObject &object);
    // The engine's output: one JSON object. Throws RecordDecodingError.
    static RetentionStatus decode(const QByteArray &json);

    // A byte count as a short text: "0 bytes", "1 bytes", "1.5 KB", "1024.0 KB",
    // "5120.0 TB", "-2.0 KB". Units step by 1024 up to TB; always a "." and
    // no thousands separator, whatever the locale.
    static QString formatBytes(qint64 count);

    friend bool operator==(const RetentionStatus &, const RetentionStatus &) = default;
};
