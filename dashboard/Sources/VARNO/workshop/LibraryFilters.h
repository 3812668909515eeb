#pragma once

#include "model/AppFilter.h"
#include "records/AppRecord.h"

#include <QHash>
#include <QList>
#include <QString>

#include <optional>

class AppModel;

// Which records each library filter shows, and the counts the sidebar puts
// beside the filters. Computed afresh from the model on every call.
namespace LibraryFilters {

// Whether a record is on the shelf under `filter`: the outdated, at-risk,
// verified and not-checked rules of the record, the exact (case-sensitive)
// mechanism "cask", "mas" or "sparkle", or the model's self-managed rule. The
// model's derived lists keep exactly these records, in library order.
bool contains(AppFilter filter, const AppRecord &record);

// The search text as the shelf matches it: trimmed of blanks and line
// breaks, in the locale's lower case.
QString searchQuery(const QString &searchText);
// Whether a record matches a query made by searchQuery(): an empty query
// matches everything; otherwise the app's name, else its bundle id, in the
// locale's lower case, contains the query.
bool matchesQuery(const AppRecord &record, const QString &query);

// The positions in `apps` of the shelf's records under `filter` and the
// search text, in library order. Nothing is copied.
QList<qsizetype> filteredIndices(const QList<AppRecord> &apps, AppFilter filter, const QString &searchText);

// The records on the shelf under `filter`, in library order (for Not
// checked and Self-managed, the model's own list in its order).
QList<AppRecord> apps(const AppModel &model, AppFilter filter);

// Whether a record matches the search text (searchQuery() then matchesQuery()).
bool matchesSearch(const AppRecord &record, const QString &searchText);

// The shelf's list: the filter's records narrowed by the search text.
QList<AppRecord> filteredApps(const AppModel &model, AppFilter filter, const QString &searchText);

// The sidebar's count of a filter: for the library rows the size of the
// filter's list; for the mechanism rows the outdated (pending) ones. Counted
// with the filters' rules, without copying records.
qsizetype count(const AppModel &model, AppFilter filter);
// A mechanism row's total (all of its apps); nothing for the library rows.
std::optional<qsizetype> totalCount(const AppModel &model, AppFilter filter);

// Every count the sidebar, the toolbar and the status strip show, taken in
// one pass over the library (each record's rules worked out once).
struct Counts {
    qsizetype all = 0;
    qsizetype outdated = 0;
    qsizetype atRisk = 0;
    qsizetype verified = 0;
    qsizetype unmeasured = 0;
    qsizetype sensingGap = 0;            // not checked, or of unknown status
    QHash<AppFilter, qsizetype> pending; // per mechanism: its outdated apps
    QHash<AppFilter, qsizetype> total;   // per mechanism: all of its apps
    // Per mechanism: one of its apps is not checked (and not excluded).
    QHash<AppFilter, bool> anyUnchecked;

    // count() and totalCount() of a filter, from these figures.
    qsizetype count(AppFilter filter) const;
    std::optional<qsizetype> totalCount(AppFilter filter) const;
};
Counts counts(const QList<AppRecord> &apps);
// The counts of the model's library, worked out once per library (its
// revision) and shared by every view that shows them.
const Counts &counts(const AppModel &model);

} // namespace LibraryFilters
