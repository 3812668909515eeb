#include "model/AppFilter.h"

#include <QHashFunctions>

#include <array>

namespace {

struct FilterTitle {
    AppFilter filter;
    const char16_t *title;
};

constexpr std::array<FilterTitle, 9> kTitles{{
    {AppFilter::all, u"All Apps"},
    {AppFilter::outdated, u"Outdated"},
    {AppFilter::atRisk, u"At Risk"},
    {AppFilter::verified, u"Verified"},
    {AppFilter::unmeasured, u"Not checked"},
    {AppFilter::brew, u"Homebrew"},
    {AppFilter::mas, u"App Store"},
    {AppFilter::sparkle, u"Sparkle"},
    {AppFilter::selfManaged, u"Self-managed"},
}};

} // namespace

namespace AppFilters {

QString title(AppFilter filter)
{
    for (const FilterTitle &entry : kTitles) {
        if (entry.filter == filter)
            return QString::fromUtf16(entry.title);
    }
    return QString();
}

std::optional<AppFilter> fromTitle(const QString &title)
{
    for (const FilterTitle &entry : kTitles) {
        if (title == QStringView(entry.title))
            return entry.filter;
    }
    return std::nullopt;
}

const QList<AppFilter> &allCases()
{
    static const QList<AppFilter> cases = [] {
        QList<AppFilter> list;
        for (const FilterTitle &entry : kTitles)
            list.append(entry.filter);
        return list;
    }();
    return cases;
}

const QList<AppFilter> &menuBuckets()
{
    static const QList<AppFilter> buckets{AppFilter::all, AppFilter::outdated, AppFilter::atRisk, AppFilter::unmeasured,
                                          AppFilter::verified};
    return buckets;
}

} // namespace AppFilters

size_t qHash(AppFilter filter, size_t seed) noexcept
{
    return qHash(AppFilters::title(filter), seed);
}
