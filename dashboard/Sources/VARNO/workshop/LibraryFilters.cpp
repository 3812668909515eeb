#include "workshop/LibraryFilters.h"

#include "model/AppModel.h"

namespace LibraryFilters {

namespace {

QList<AppRecord> keep(const QList<AppRecord> &records, const std::function<bool(const AppRecord &)> &predicate)
{
    QList<AppRecord> kept;
    for (const AppRecord &record : records) {
        if (predicate(record))
            kept.append(record);
    }
    return kept;
}

bool mechanismIs(const AppRecord &record, QLatin1String mechanism)
{
    return record.update_mechanism && *record.update_mechanism == mechanism;
}

} // namespace

QList<AppRecord> apps(const AppModel &model, AppFilter filter)
{
    switch (filter) {
    case AppFilter::all:
        return model.apps();
    case AppFilter::outdated:
        return keep(model.apps(), [](const AppRecord &r) { return r.isOutdated(); });
    case AppFilter::atRisk:
        return keep(model.apps(), [](const AppRecord &r) { return r.statusColor() == AppStatusColor::atRisk; });
    case AppFilter::verified:
        return keep(model.apps(), [](const AppRecord &r) { return r.isVerified(); });
    case AppFilter::unmeasured:
        return model.unmeasuredApps();
    case AppFilter::brew:
        return keep(model.apps(), [](const AppRecord &r) { return mechanismIs(r, QLatin1String("cask")); });
    case AppFilter::mas:
        return keep(model.apps(), [](const AppRecord &r) { return mechanismIs(r, QLatin1String("mas")); });
    case AppFilter::sparkle:
        return keep(model.apps(), [](const AppRecord &r) { return mechanismIs(r, QLatin1String("sparkle")); });
    case AppFilter::selfManaged:
        return model.selfManagedApps();
    }
    return {};
}

bool matchesSearch(const AppRecord &record, const QString &searchText)
{
    const QString text = searchText.trimmed();
    if (text.isEmpty())
        return true;
    return record.app_name.contains(text, Qt::CaseInsensitive) || record.bundle_id.contains(text, Qt::CaseInsensitive);
}

QList<AppRecord> filteredApps(const AppModel &model, AppFilter filter, const QString &searchText)
{
    return keep(apps(model, filter), [&searchText](const AppRecord &r) { return matchesSearch(r, searchText); });
}

qsizetype count(const AppModel &model, AppFilter filter)
{
    switch (filter) {
    case AppFilter::all:
        return model.apps().size();
    case AppFilter::outdated:
        return model.outdatedApps().size();
    case AppFilter::atRisk:
        return model.atRiskApps().size();
    case AppFilter::verified:
        return model.verifiedApps().size();
    case AppFilter::unmeasured:
        return model.unmeasuredApps().size();
    case AppFilter::brew:
        return model.outdatedBrewApps().size();
    case AppFilter::mas:
        return model.outdatedMasApps().size();
    case AppFilter::sparkle:
        return model.outdatedSparkleApps().size();
    case AppFilter::selfManaged:
        return model.outdatedSelfManagedApps().size();
    }
    return 0;
}

std::optional<qsizetype> totalCount(const AppModel &model, AppFilter filter)
{
    switch (filter) {
    case AppFilter::brew:
        return model.brewApps().size();
    case AppFilter::mas:
        return model.masApps().size();
    case AppFilter::sparkle:
        return model.sparkleApps().size();
    case AppFilter::selfManaged:
        return model.selfManagedApps().size();
    default:
        return std::nullopt;
    }
}

} // namespace LibraryFilters
