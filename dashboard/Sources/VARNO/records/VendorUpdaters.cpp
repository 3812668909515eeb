#include "records/VendorUpdaters.h"

#include "base/Logging.h"
#include "platform/ResourceLocator.h"
#include "records/StrictJson.h"

#include <QFile>

std::optional<VendorUpdatersManifest> VendorUpdatersManifest::decode(const QByteArray &json)
{
    const auto root = StrictJson::parseObject(json);
    if (!root)
        return std::nullopt;
    VendorUpdatersManifest manifest;
    if (!StrictJson::requiredInteger(root->value(QLatin1String("schema_version")), manifest.schemaVersion))
        return std::nullopt;
    const QJsonValue fingerprints = root->value(QLatin1String("fingerprints"));
    if (!fingerprints.isArray())
        return std::nullopt;
    auto entries = StrictJson::decodeArray<VendorUpdater>(
        fingerprints.toArray(), [](const QJsonObject &object) -> std::optional<VendorUpdater> {
            VendorUpdater entry;
            if (!StrictJson::requiredText(object.value(QLatin1String("vendor_key")), entry.vendorKey)
                || !StrictJson::requiredText(object.value(QLatin1String("display_name")), entry.displayName))
                return std::nullopt;
            return entry;
        });
    if (!entries)
        return std::nullopt;
    manifest.fingerprints = std::move(*entries);
    return manifest;
}

VendorUpdaters::VendorUpdaters(const QList<VendorUpdater> &fingerprints)
{
    for (const VendorUpdater &entry : fingerprints) {
        if (!displayNames.contains(entry.vendorKey))
            displayNames.insert(entry.vendorKey, entry.displayName);
    }
}

VendorUpdaters VendorUpdaters::fromFile(const std::optional<QString> &path)
{
    if (!path) {
        qCCritical(lcVarno, "The vendor updaters registry is missing from the app's resources; searched: %s",
                   qPrintable(ResourceLocator::searchRoots().join(QStringLiteral(", "))));
        return VendorUpdaters();
    }
    QFile file(*path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCCritical(lcVarno, "The vendor updaters registry %s can't be read: %s", qPrintable(*path),
                   qPrintable(file.errorString()));
        return VendorUpdaters();
    }
    const auto manifest = VendorUpdatersManifest::decode(file.readAll());
    if (!manifest)
        return VendorUpdaters();
    return VendorUpdaters(manifest->fingerprints);
}

const VendorUpdaters &VendorUpdaters::shared()
{
    static const VendorUpdaters registry = fromFile(
        ResourceLocator::url(QStringLiteral("vendor_updaters"), QStringLiteral("json")));
    return registry;
}

std::optional<QString> VendorUpdaters::displayName(const QString &vendorKey) const
{
    const auto it = displayNames.constFind(vendorKey);
    if (it == displayNames.constEnd())
        return std::nullopt;
    return *it;
}
