#include "workshop/LibraryFilters.h"

#include "model/AppModel.h"

#include <QLocale>

#include <algorithm>
#include <array>
#include <iterator>

namespace LibraryFilters {

namespace {

bool mechanismIs(const AppRecord &record, QLatin1String mechanism)
{
    return record.update_mechanism && *record.update_mechanism == mechanism;
}

// The records of a mechanism row (its total).
bool onMechanism(AppFilter filter, const AppRecord &record)
{
    switch (filter) {
    case AppFilter::brew:
        return mechanismIs(record, QLatin1String("cask"));
    case AppFilter::mas:
        return mechanismIs(record, QLatin1String("mas"));
    case AppFilter::sparkle:
        return mechanismIs(record, QLatin1String("sparkle"));
    case AppFilter::selfManaged:
        return AppModel::isSelfManaged(record);
    default:
        return false;
    }
}

bool isMechanism(AppFilter filter)
{
    return filter == AppFilter::brew || filter == AppFilter::mas || filter == AppFilter::sparkle
        || filter == AppFilter::selfManaged;
}

template<typename Predicate>
qsizetype countIf(const AppModel &model, Predicate predicate)
{
    const QList<AppRecord> &apps = model.apps();
    return qsizetype(std::count_if(apps.cbegin(), apps.cend(), predicate));
}

} // namespace

bool contains(AppFilter filter, const AppRecord &record)
{
    switch (filter) {
    case AppFilter::all:
        return true;
    case AppFilter::outdated:
        return record.isOutdated();
    case AppFilter::atRisk:
        return record.statusColor() == AppStatusColor::atRisk;
    case AppFilter::verified:
        return record.isVerified();
    case AppFilter::unmeasured:
        return record.isUnmeasured();
    case AppFilter::brew:
    case AppFilter::mas:
    case AppFilter::sparkle:
    case AppFilter::selfManaged:
        return onMechanism(filter, record);
    }
    return false;
}

QString searchQuery(const QString &searchText)
{
    return QLocale().toLower(searchText.trimmed());
}

namespace {

bool matchesIn(const QLocale &locale, const AppRecord &record, const QString &query)
{
    if (query.isEmpty())
        return true;
    return locale.toLower(record.app_name).contains(query) || locale.toLower(record.bundle_id).contains(query);
}

} // namespace

bool matchesQuery(const AppRecord &record, const QString &query)
{
    return matchesIn(QLocale(), record, query);
}

QList<qsizetype> filteredIndices(const QList<AppRecord> &apps, AppFilter filter, const QString &searchText)
{
    const QLocale locale;
    const QString query = locale.toLower(searchText.trimmed());
    QList<qsizetype> indices;
    for (qsizetype i = 0; i < apps.size(); ++i) {
        const AppRecord &record = apps.at(i);
        if (contains(filter, record) && matchesIn(locale, record, query))
            indices.append(i);
    }
    return indices;
}

QList<AppRecord> apps(const AppModel &model, AppFilter filter)
{
    QList<AppRecord> kept;
    for (const AppRecord &record : model.apps()) {
        if (contains(filter, record))
            kept.append(record);
    }
    return kept;
}

bool matchesSearch(const AppRecord &record, const QString &searchText)
{
    return matchesQuery(record, searchQuery(searchText));
}

QList<AppRecord> filteredApps(const AppModel &model, AppFilter filter, const QString &searchText)
{
    QList<AppRecord> kept;
    const QList<AppRecord> &all = model.apps();
    for (const qsizetype index : filteredIndices(all, filter, searchText))
        kept.append(all.at(index));
    return kept;
}

qsizetype count(const AppModel &model, AppFilter filter)
{
    if (isMechanism(filter))
        return countIf(model, [filter](const AppRecord &r) { return onMechanism(filter, r) && r.isOutdated(); });
    if (filter == AppFilter::all)
        return model.apps().size();
    return countIf(model, [filter](const AppRecord &r) { return contains(filter, r); });
}

std::optional<qsizetype> totalCount(const AppModel &model, AppFilter filter)
{
    if (!isMechanism(filter))
        return std::nullopt;
    return countIf(model, [filter](const AppRecord &r) { return onMechanism(filter, r); });
}

} // namespace LibraryFilters

namespace LibraryFilters {

qsizetype Counts::count(AppFilter filter) const
{
    switch (filter) {
    case AppFilter::all:
        return all;
    case AppFilter::outdated:
        return outdated;
    case AppFilter::atRisk:
        return atRisk;
    case AppFilter::verified:
        return verified;
    case AppFilter::unmeasured:
        return unmeasured;
    default:
        return pending.value(filter);
    }
}

std::optional<qsizetype> Counts::totalCount(AppFilter filter) const
{
    if (!isMechanism(filter))
        return std::nullopt;
    return total.value(filter);
}

namespace {

// The counts of `apps`, each record's status taken from `statusOf(i)`.
template<typename StatusOf>
Counts countsWith(const QList<AppRecord> &apps, StatusOf statusOf)
{
    static const AppFilter mechanisms[] = {AppFilter::brew, AppFilter::mas, AppFilter::sparkle, AppFilter::selfManaged};
    constexpr std::size_t kMechanisms = std::size(mechanisms);
    // Per mechanism, in the order above; into the hashes at the end.
    std::array<qsizetype, kMechanisms> total{};
    std::array<qsizetype, kMechanisms> pending{};
    std::array<bool, kMechanisms> anyUnchecked{};
    Counts c;
    c.all = apps.size();
    for (qsizetype i = 0; i < apps.size(); ++i) {
        const AppRecord &record = apps.at(i);
        const AppRecord::StatusFacts facts = statusOf(i);
        const bool outdated = facts.outdated;
        const bool unmeasured = facts.unmeasured;
        c.outdated += outdated;
        c.atRisk += facts.color == AppStatusColor::atRisk;
        c.verified += facts.verified;
        c.unmeasured += unmeasured;
        c.sensingGap += unmeasured || facts.unknownStatus;
        for (std::size_t m = 0; m < kMechanisms; ++m) {
            if (!onMechanism(mechanisms[m], record))
                continue;
            ++total[m];
            pending[m] += outdated;
            anyUnchecked[m] = anyUnchecked[m] || unmeasured;
        }
    }
    for (std::size_t m = 0; m < kMechanisms; ++m) {
        c.total.insert(mechanisms[m], total[m]);
        c.pending.insert(mechanisms[m], pending[m]);
        c.anyUnchecked.insert(mechanisms[m], anyUnchecked[m]);
    }
    return c;
}

} // namespace

Counts counts(const QList<AppRecord> &apps)
{
    return countsWith(apps, [&apps](qsizetype i) { return apps.at(i).statusFacts(); });
}

const Counts &counts(const AppModel &model)
{
    // The sidebar, the toolbar and the status strip each ask on every change
    // the model publishes; the library changes far more rarely. Views live
    // on the GUI thread, so one kept answer serves them all.
    struct Kept {
        quint64 revision = 0;
        Counts counts;
    };
    static Kept kept;
    if (kept.revision != model.libraryRevision() || model.libraryRevision() == 0) {
        const QList<AppRecord::StatusFacts> &facts = model.libraryStatusFacts();
        kept.counts = countsWith(model.apps(), [&facts](qsizetype i) { return facts.at(i); });
        kept.revision = model.libraryRevision();
    }
    return kept.counts;
}

} // namespace LibraryFilters
