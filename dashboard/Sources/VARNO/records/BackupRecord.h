#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

// The restorable local backup of one application, or why there is none
// (`backup --bundle-id <id> --json`).
struct BackupRecord {
    bool available = false;
    std::optional<QString> backup_path;
    std::optional<QString> backup_dir;
    std::optional<QString> timestamp; // as the engine writes it
    std::optional<qint64> bytes;
    std::optional<QString> reason;

    // backup_path when present (also when empty); otherwise a fresh random
    // UUID on every call, so such a record has no stable identity. Not a key
    // for item models.
    QString id() const;

    static std::optional<BackupRecord> fromJson(const QJsonObject &object);
    static std::optional<BackupRecord> decode(const QByteArray &json);
};
