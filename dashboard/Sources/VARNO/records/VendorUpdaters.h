#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

// One known vendor updater: the key the engine reports in an app record's
// vendor_updater_name ("vendor_key") and the name shown to the user
// ("display_name").
struct VendorUpdater {
    QString vendorKey;
    QString displayName;
    bool operator==(const VendorUpdater &other) const = default;
};

// The whole of vendor_updaters.json, decoded strictly: "schema_version"
// (integer) and "fingerprints" (array of entries) are required, and one bad
// entry fails the file.
struct VendorUpdatersManifest {
    qint64 schemaVersion = 0;
    QList<VendorUpdater> fingerprints;
    bool operator==(const VendorUpdatersManifest &other) const = default;

    static std::optional<VendorUpdatersManifest> decode(const QByteArray &json);
};

// Vendor-updater key -> display name. Read once from the app's resource
// vendor_updaters.json; a missing, unreadable or malformed file gives an empty
// table. Keys are compared exactly (callers trim the app's key first).
struct VendorUpdaters {
    QHash<QString, QString> displayNames;

    VendorUpdaters() = default;
    // In array order; the first entry of a key wins.
    explicit VendorUpdaters(const QList<VendorUpdater> &fingerprints);

    static const VendorUpdaters &shared();
    static VendorUpdaters fromFile(const std::optional<QString> &path);

    std::optional<QString> displayName(const QString &vendorKey) const;

    bool operator==(const VendorUpdaters &other) const = default;
};
