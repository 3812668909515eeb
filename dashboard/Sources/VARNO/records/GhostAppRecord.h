#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// An application the engine still knew but that is gone from disk (the
// engine's ghosts.json). All four texts are required; cask_token may be empty.
struct GhostAppRecord {
    QString bundle_id;
    QString app_name;
    QString install_path;
    QString cask_token;

    const QString &id() const { return bundle_id; }

    static std::optional<GhostAppRecord> fromJson(const QJsonObject &object);
    static std::optional<QList<GhostAppRecord>> listFromJson(const QJsonArray &array);
    static std::optional<QList<GhostAppRecord>> decodeList(const QByteArray &json);
};
