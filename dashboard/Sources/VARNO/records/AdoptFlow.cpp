#include "records/AdoptFlow.h"

#include "platform/PlainText.h"
#include "records/AppRecord.h"
#include "records/RecordCodingError.h"
#include "records/ShellQuoting.h"

#include <QJsonValue>

namespace {

// Missing or null leaves the field absent; false means the value had the wrong type.
bool readText(const QJsonObject &object, const char *key, std::optional<QString> &field)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isString())
        return false;
    field = value.toString();
    return true;
}

bool readOptionalFlag(const QJsonObject &object, const char *key, std::optional<bool> &field)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isBool())
        return false;
    field = value.toBool();
    return true;
}

bool isNonEmpty(const std::optional<QString> &text)
{
    return text && !text->isEmpty();
}

} // namespace

AdoptOutcome::AdoptOutcome(Kind kind, QString text)
    : m_kind(kind)
    , m_text(std::move(text))
{
}

AdoptOutcome AdoptOutcome::failed(const QString &text)
{
    return AdoptOutcome(Kind::failed, text);
}

AdoptOutcome AdoptOutcome::refused(const QString &text)
{
    return AdoptOutcome(Kind::refused, text);
}

AdoptOutcome AdoptOutcome::success()
{
    return AdoptOutcome(Kind::success, QString());
}

namespace AdoptFlow {

std::optional<Preview> Preview::fromJson(const QJsonObject &object)
{
    Preview preview;
    const QJsonValue match = object.value(QStringLiteral("match_found"));
    if (!match.isBool())
        return std::nullopt;
    preview.match_found = match.toBool();
    const bool ok = readText(object, "reason", preview.reason) && readText(object, "cask_token", preview.cask_token)
        && readText(object, "app_name", preview.app_name) && readText(object, "bundle_id", preview.bundle_id)
        && readText(object, "confidence", preview.confidence)
        && readText(object, "current_version", preview.current_version)
        && readText(object, "cask_version", preview.cask_version)
        && readText(object, "install_path", preview.install_path)
        && readText(object, "code_signature", preview.code_signature)
        && readOptionalFlag(object, "signature_ok", preview.signature_ok)
        && readOptionalFlag(object, "already_managed", preview.already_managed)
        && readOptionalFlag(object, "version_downgrade", preview.version_downgrade);
    if (!ok)
        return std::nullopt;
    return preview;
}

std::optional<Preview> Preview::decode(const QByteArray &json)
{
    try {
        return fromJson(RecordJson::parseObject(json));
    } catch (const RecordDecodingError &) {
        return std::nullopt;
    }
}

ConfirmAvailability confirmAvailability(const Preview &preview, bool allowUnsignedSetting)
{
    if (!preview.match_found || preview.already_managed.value_or(false))
        return ConfirmAvailability::none;
    if (preview.signature_ok.value_or(false))
        return ConfirmAvailability::allowed;
    if (allowUnsignedSetting)
        return ConfirmAvailability::unsignedOverride;
    return ConfirmAvailability::refused;
}

AdoptOutcome outcomeAfterReload(const QString &appName, const QString &bundleId, const QList<AppRecord> &reloadedApps)
{
    for (const AppRecord &record : reloadedApps) {
        if (record.bundle_id != bundleId)
            continue;
        // Only the first record with this bundle id is judged.
        if (record.update_mechanism == QStringLiteral("cask") && isNonEmpty(record.cask_token))
            return AdoptOutcome::success();
        break;
    }
    return AdoptOutcome::failed(failedText(appName));
}

QString failedText(const QString &appName)
{
    return QStringLiteral("Adopt ran, but ") + appName
        + QStringLiteral(" still isn't showing as Homebrew-managed. Run `varno adopt ")
        + ShellQuoting::singleQuoted(appName) + QStringLiteral("` in Terminal for details.");
}

QString consentBody(const QString &appName)
{
    return QStringLiteral("Homebrew will take ownership of your existing ") + PlainText::forField(appName)
        + QStringLiteral(" so Brusk can keep it updated. Your app and its data aren't replaced, and this is "
                         "reversible with `varno adopt --undo`.");
}

std::optional<QString> downgradeWarning(const Preview &preview)
{
    if (!preview.version_downgrade.value_or(false))
        return std::nullopt;
    return QStringLiteral("The Homebrew Cask version (")
        + preview.cask_version.value_or(QStringLiteral("the cask version"))
        + QStringLiteral(") is older than what's installed (")
        + preview.current_version.value_or(QStringLiteral("the installed version")) + QStringLiteral(").");
}

QString noMatchMessage(const QString &appName, const std::optional<QString> &reason)
{
    if (isNonEmpty(reason))
        return *reason;
    return QStringLiteral("Brusk couldn't find a matching Homebrew Cask for ") + PlainText::forField(appName)
        + QLatin1Char('.');
}

std::optional<QString> terminalCommandToken(const std::optional<QString> &appCaskToken,
                                            const std::optional<QString> &previewToken)
{
    if (isNonEmpty(appCaskToken))
        return appCaskToken;
    if (isNonEmpty(previewToken))
        return previewToken;
    return std::nullopt;
}

} // namespace AdoptFlow
