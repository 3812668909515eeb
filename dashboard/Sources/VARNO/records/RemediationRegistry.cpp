#include "records/RemediationRegistry.h"

#include "base/Logging.h"
#include "platform/ResourceLocator.h"
#include "records/StrictJson.h"

#include <QFile>

namespace {

const QString kUnclassified = QStringLiteral("Brusk hasn't classified this failure yet.");
const QString kLocked = QStringLiteral(
    "A security gate blocked this update. Brusk explains these \u2014 never bypasses them.");

std::optional<RemediationEntry> entryFromJson(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    RemediationEntry entry;
    if (!StrictJson::requiredText(object.value(QLatin1String("cause")), entry.cause)
        || !StrictJson::requiredBool(object.value(QLatin1String("transient")), entry.transient))
        return std::nullopt;
    const QJsonValue fix = object.value(QLatin1String("fix"));
    if (!fix.isObject())
        return std::nullopt;
    const QJsonObject fixObject = fix.toObject();
    if (!StrictJson::requiredText(fixObject.value(QLatin1String("kind")), entry.fix.kind)
        || !StrictJson::requiredText(fixObject.value(QLatin1String("consent")), entry.fix.consent))
        return std::nullopt;
    return entry;
}

} // namespace

RemediationRegistry::RemediationRegistry(const QHash<QString, RemediationEntry> &entries)
{
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        RemediationEntry entry = it.value();
        if (!validFixKinds().contains(entry.fix.kind) || !validConsentValues().contains(entry.fix.consent))
            entry.fix = RemediationEntry::Fix{QStringLiteral("none"), QStringLiteral("always")};
        remediations.insert(it.key(), entry);
    }
}

const QSet<QString> &RemediationRegistry::validFixKinds()
{
    static const QSet<QString> kinds{QStringLiteral("retry_after_wait"),
                                     QStringLiteral("quit_update_relaunch"),
                                     QStringLiteral("open_url"),
                                     QStringLiteral("brew_command"),
                                     QStringLiteral("open_settings_pane"),
                                     QStringLiteral("none"),
                                     QStringLiteral("adopt")};
    return kinds;
}

const QSet<QString> &RemediationRegistry::validConsentValues()
{
    static const QSet<QString> values{QStringLiteral("auto"), QStringLiteral("always")};
    return values;
}

const QSet<QString> &RemediationRegistry::securityLockedCodes()
{
    static const QSet<QString> codes{QStringLiteral("SIG_TEAM_MISMATCH"), QStringLiteral("SIG_INVALID"),
                                     QStringLiteral("PKG_AUDIT_BLOCKED"), QStringLiteral("DOWNLOAD_HASH_MISMATCH")};
    return codes;
}

std::optional<QHash<QString, RemediationEntry>> RemediationRegistry::decode(const QByteArray &json)
{
    const auto root = StrictJson::parseObject(json);
    if (!root)
        return std::nullopt;
    qint64 version = 0;
    if (!StrictJson::requiredInteger(root->value(QLatin1String("version")), version))
        return std::nullopt;
    const QJsonValue remediations = root->value(QLatin1String("remediations"));
    if (!remediations.isObject())
        return std::nullopt;
    QHash<QString, RemediationEntry> entries;
    const QJsonObject table = remediations.toObject();
    for (auto it = table.constBegin(); it != table.constEnd(); ++it) {
        const auto entry = entryFromJson(it.value());
        if (!entry)
            return std::nullopt;
        entries.insert(it.key(), *entry);
    }
    return entries;
}

RemediationRegistry RemediationRegistry::fromFile(const std::optional<QString> &path)
{
    if (!path) {
        qCCritical(lcVarno, "The remediation registry is missing from the app's resources; searched: %s",
                   qPrintable(ResourceLocator::searchRoots().join(QStringLiteral(", "))));
        return RemediationRegistry();
    }
    QFile file(*path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCCritical(lcVarno, "The remediation registry %s can't be read: %s", qPrintable(*path),
                   qPrintable(file.errorString()));
        return RemediationRegistry();
    }
    const auto entries = decode(file.readAll());
    if (!entries)
        return RemediationRegistry();
    return RemediationRegistry(*entries);
}

const RemediationRegistry &RemediationRegistry::shared()
{
    static const RemediationRegistry registry = fromFile(
        ResourceLocator::url(QStringLiteral("remediation_registry"), QStringLiteral("json")));
    return registry;
}

IncidentAction RemediationRegistry::action(const std::optional<QString> &code) const
{
    if (!code)
        return IncidentAction::getHelp;
    if (securityLockedCodes().contains(*code))
        return IncidentAction::none;
    if (*code == QLatin1String("UPDATE_MODE_ASK_HEADLESS"))
        return IncidentAction::approve;
    if (*code == QLatin1String("UNKNOWN") || code->isEmpty())
        return IncidentAction::getHelp;
    const auto entry = remediations.constFind(*code);
    if (entry == remediations.constEnd())
        return IncidentAction::getHelp;
    const QString &kind = entry->fix.kind;
    if (kind == QLatin1String("quit_update_relaunch"))
        return IncidentAction::quitAndUpdate;
    if (kind == QLatin1String("adopt"))
        return IncidentAction::adopt;
    if (kind == QLatin1String("none"))
        return IncidentAction::none;
    return entry->fix.consent == QLatin1String("auto") ? IncidentAction::fixIt : IncidentAction::runInTerminal;
}

QString RemediationRegistry::cause(const std::optional<QString> &code) const
{
    if (!code)
        return kUnclassified;
    if (!code->isEmpty()) {
        const auto entry = remediations.constFind(*code);
        if (entry != remediations.constEnd())
            return entry->cause;
    }
    if (securityLockedCodes().contains(*code))
        return kLocked;
    return kUnclassified;
}
