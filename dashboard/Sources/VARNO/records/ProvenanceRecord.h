#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// One entry of an application's update history (`provenance --json`).
struct ProvenanceRecord {
    QString bundle_id;
    std::optional<QString> app_name;
    std::optional<QString> from_version;
    std::optional<QString> to_version;
    std::optional<QString> source;
    std::optional<QString> timestamp; // as the engine writes it
    std::optional<QString> sha256;
    std::optional<QString> cdn_domain;
    std::optional<QString> team_id;
    std::optional<qint64> update_count;
    std::optional<QString> backup_path;

    // bundle_id + "-" + timestamp (empty when absent). Two entries with the
    // same time share it: not a unique key for item models.
    QString id() const;

    static std::optional<ProvenanceRecord> fromJson(const QJsonObject &object);
    static std::optional<QList<ProvenanceRecord>> listFromJson(const QJsonArray &array);
    static std::optional<QList<ProvenanceRecord>> decodeList(const QByteArray &json);
};
