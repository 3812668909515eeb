#pragma once

#include "model/AppFilter.h"
#include "records/AppRecord.h"

#include <QList>
#include <QString>

#include <optional>

class AppModel;

// Which records each library filter shows, and the counts the sidebar puts
// beside the filters. Computed afresh from the model on every call.
namespace LibraryFilters {

// The records on the shelf under `filter`, in library order (for Not
// checked and Self-managed, the model's own list in its order).
QList<AppRecord> apps(const AppModel &model, AppFilter filter);

// Whether a record matches the search text: the text trimmed, empty matches
// everything; otherwise the app's name or bundle id contains it, ignoring
// case.
bool matchesSearch(const AppRecord &record, const QString &searchText);

// The shelf's list: the filter's records narrowed by the search text.
QList<AppRecord> filteredApps(const AppModel &model, AppFilter filter, const QString &searchText);

// The sidebar's count of a filter: for the library rows the size of the
// filter's list; for the mechanism rows the outdated (pending) ones.
qsizetype count(const AppModel &model, AppFilter filter);
// A mechanism row's total (all of its apps); nothing for the library rows.
std::optional<qsizetype> totalCount(const AppModel &model, AppFilter filter);

} // namespace LibraryFilters
