#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QString>

#include <optional>

// The engine's trust verdict for one application (`seal --bundle-id <id>
// --json`). Only green_seal and verified_path are used; bundle_id and checks
// are decoded (so a wrong type still fails) but nothing reads them.
struct TrustSealRecord {
    std::optional<QString> bundle_id;
    bool green_seal = false;
    bool verified_path = false;
    std::optional<QMap<QString, bool>> checks;

    bool operator==(const TrustSealRecord &other) const = default;

    static std::optional<TrustSealRecord> fromJson(const QJsonObject &object);
    static std::optional<TrustSealRecord> decode(const QByteArray &json);
};
