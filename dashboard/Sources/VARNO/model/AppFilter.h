#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

#include <optional>

// The nine library filters of the Workshop's sidebar. The model only holds the
// selected one; the views decide what each shows. Each filter's title is its
// identity as text: shown as is in the sidebar and the menus.
enum class AppFilter {
    all,
    outdated,
    atRisk,
    verified,
    unmeasured,
    brew,
    mas,
    sparkle,
    selfManaged,
};

Q_DECLARE_METATYPE(AppFilter)

namespace AppFilters {

// "All Apps", "Outdated", "At Risk", "Verified", "Not checked", "Homebrew",
// "App Store", "Sparkle", "Self-managed".
QString title(AppFilter filter);
// The filter with exactly this title (case-sensitive, whole text), or nothing.
std::optional<AppFilter> fromTitle(const QString &title);
// The nine filters in declaration order.
const QList<AppFilter> &allCases();
// The five the main menu offers: all, outdated, atRisk, unmeasured, verified
// ("Not checked" before "Verified").
const QList<AppFilter> &menuBuckets();

} // namespace AppFilters

// Equal filters hash equally: the hash is the title's.
size_t qHash(AppFilter filter, size_t seed = 0) noexcept;
