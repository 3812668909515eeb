#include "services/AppMetadata.h"

#include "platform/PropertyList.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString kDefaultVersion = QStringLiteral("0.9.14");
const QString kDefaultBuild = QStringLiteral("30");

std::optional<QString> valueFromDevelopmentPlist(const std::optional<QString> &path, const QString &key)
{
    if (!path)
        return std::nullopt;
    const auto parsed = PropertyList::parseFile(*path);
    if (!parsed.ok() || parsed.value.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariant value = parsed.value.toMap().value(key);
    if (value.typeId() != QMetaType::QString || value.toString().isEmpty())
        return std::nullopt;
    return value.toString();
}

std::optional<QDateTime> modificationDate(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    const QFileInfo info(QDir::current(), path);
    if (!info.exists())
        return std::nullopt;
    const QDateTime modified = info.lastModified();
    if (!modified.isValid())
        return std::nullopt;
    return modified;
}

} // namespace

std::optional<QString> AppMetadata::bundleValue(const Sources &sources, const QString &key)
{
    const QVariant value = sources.bundleInfo.value(key);
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        if (!text.isEmpty() && text != QLatin1String("?"))
            return text;
    }
    return valueFromDevelopmentPlist(sources.developmentInfoPlist, key);
}

QString AppMetadata::version(const Sources &sources)
{
    return bundleValue(sources, QStringLiteral("CFBundleShortVersionString")).value_or(kDefaultVersion);
}

QString AppMetadata::build(const Sources &sources)
{
    return bundleValue(sources, QStringLiteral("CFBundleVersion")).value_or(kDefaultBuild);
}

std::optional<QDateTime> AppMetadata::installDate(const Sources &sources)
{
    if (sources.developmentInfoPlist) {
        if (const auto date = modificationDate(*sources.developmentInfoPlist))
            return date;
    }
    return modificationDate(sources.executablePath);
}

QString AppMetadata::formatInstalledDate(const QDateTime &date, const QLocale &locale)
{
    // The locale's own short date tells whether the day comes first.
    const QString pattern = locale.dateFormat(QLocale::ShortFormat);
    const qsizetype day = pattern.indexOf(QLatin1Char('d'));
    const qsizetype month = pattern.indexOf(QLatin1Char('M'));
    const bool dayFirst = day >= 0 && month >= 0 && day < month;
    return locale.toString(date.toLocalTime().date(), dayFirst ? QStringLiteral("d MMM") : QStringLiteral("MMM d"));
}

QString AppMetadata::installedDateLabel(const Sources &sources, const QLocale &locale)
{
    const auto date = installDate(sources);
    return date ? formatInstalledDate(*date, locale) : QStringLiteral("updated recently");
}
