#include "records/AppIncident.h"

std::optional<AppIncident::Kind> AppIncident::kindFromRawValue(const QString &rawValue)
{
    if (rawValue == QLatin1String("failed"))
        return Kind::failed;
    if (rawValue == QLatin1String("skipped"))
        return Kind::skipped;
    return std::nullopt;
}

QString AppIncident::rawValue(Kind kind)
{
    switch (kind) {
    case Kind::failed:
        return QStringLiteral("failed");
    case Kind::skipped:
        return QStringLiteral("skipped");
    }
    return QString();
}

QHash<QString, AppIncident> AppIncident::from(const QList<AppRecord> &records)
{
    QHash<QString, AppIncident> incidents;
    for (const AppRecord &record : records) {
        if (!record.last_incident_kind)
            continue;
        const auto kind = kindFromRawValue(*record.last_incident_kind);
        if (!kind)
            continue;
        incidents.insert(record.bundle_id,
                         AppIncident{record.last_incident_code.value_or(QStringLiteral("UNKNOWN")), *kind,
                                     record.last_incident_at});
    }
    return incidents;
}
