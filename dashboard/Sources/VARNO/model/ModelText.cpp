#include "model/ModelText.h"

#include "records/AppRecord.h"

#include <QStringList>

namespace {

bool isIgnored(const AppRecord &app)
{
    if (app.user_ignored && *app.user_ignored != 0)
        return true;
    return app.update_mode.value_or(QStringLiteral("auto")) == QStringLiteral("ignore");
}

} // namespace

namespace ModelText {

QString mechanismDisplayName(const std::optional<QString> &mechanism)
{
    const QString value = mechanism.value_or(QString());
    const QString key = value.toLower();
    if (key == QStringLiteral("cask"))
        return QStringLiteral("Homebrew Cask");
    if (key == QStringLiteral("mas"))
        return QStringLiteral("Mac App Store");
    if (key == QStringLiteral("sparkle"))
        return QStringLiteral("Sparkle");
    if (key == QStringLiteral("sparkle_internal"))
        return QStringLiteral("Sparkle (built-in)");
    if (key == QStringLiteral("vendor_self_update"))
        return QStringLiteral("Vendor self-updater");
    if (key.isEmpty())
        return QStringLiteral("Unknown");
    return value;
}

QString statusSummary(const AppRecord &app)
{
    if (isIgnored(app))
        return QStringLiteral("Ignored");
    if (app.isOutdated())
        return QStringLiteral("Update available");
    const QString status = app.versionCheckStatus();
    if (status == QStringLiteral("current"))
        return QStringLiteral("Up to date");
    if (status == QStringLiteral("unmeasured"))
        return QStringLiteral("Not checked");
    if (status == QStringLiteral("catalog_stale"))
        return QStringLiteral("Catalog older than installed");
    if (status == QStringLiteral("excluded"))
        return QStringLiteral("Excluded");
    return QStringLiteral("Status unknown");
}

QString appDetailsSummary(const AppRecord &app)
{
    QStringList lines;
    lines << app.app_name;
    lines << QStringLiteral("Bundle ID: ") + app.bundle_id;
    lines << QStringLiteral("Installed: ") + app.current_version.value_or(QStringLiteral("unknown"));
    if (app.latest_version && !app.latest_version->isEmpty())
        lines << QStringLiteral("Latest: ") + *app.latest_version;
    lines << QStringLiteral("Mechanism: ") + mechanismDisplayName(app.update_mechanism);
    lines << QStringLiteral("Status: ") + statusSummary(app);
    if (app.install_path && !app.install_path->isEmpty())
        lines << QStringLiteral("Path: ") + *app.install_path;
    return lines.join(QLatin1Char('\n'));
}

QString updateModeLabel(const QString &mode)
{
    if (mode == QStringLiteral("auto"))
        return QStringLiteral("Automatic");
    if (mode == QStringLiteral("ask"))
        return QStringLiteral("Ask first");
    if (mode == QStringLiteral("notify"))
        return QStringLiteral("Notify only");
    if (mode == QStringLiteral("ignore"))
        return QStringLiteral("Ignore");
    if (mode == QStringLiteral("self"))
        return QStringLiteral("Use app’s updater");
    return capitalized(mode);
}

QString capitalized(const QString &text)
{
    QString result;
    result.reserve(text.size());
    bool wordStart = true;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isSpace()) {
            result.append(c);
            wordStart = true;
            continue;
        }
        // A character outside the basic plane is a surrogate pair; case it as one.
        QString character(c);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            character.append(text.at(++i));
        result.append(wordStart ? character.toUpper() : character.toLower());
        wordStart = false;
    }
    return result;
}

} // namespace ModelText
