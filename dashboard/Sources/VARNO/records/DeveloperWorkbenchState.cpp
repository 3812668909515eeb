#include "records/DeveloperWorkbenchState.h"

#include "platform/VarnoPaths.h"
#include "records/RecordCodingError.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QSet>

#include <algorithm>

namespace {

using Kind = RecordDecodingError::Kind;

// A settings file larger than this is not the engine's.
constexpr qint64 kMaxSettingsFileSize = 16 * 1024 * 1024;

// Orders two texts by Unicode code point. QString's own comparison works on
// UTF-16 units, which puts characters outside the Basic Multilingual Plane
// (surrogate pairs, 0xD800-0xDFFF) before U+E000-U+FFFF; shifting the units
// of both ranges restores code-point order.
bool codePointLess(const QString &a, const QString &b)
{
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        char16_t x = a.at(i).unicode();
        char16_t y = b.at(i).unicode();
        if (x == y)
            continue;
        if (x >= 0xD800 && y >= 0xD800) {
            auto fix = [](char16_t unit) -> int {
                if (unit < 0xE000)
                    return unit + 0x2000;
                return unit - 0x800;
            };
            return fix(x) < fix(y);
        }
        return x < y;
    }
    return a.size() < b.size();
}

bool flagOr(const QJsonObject &object, const QString &key, bool fallback)
{
    const QJsonValue value = object.value(key);
    return value.isBool() ? value.toBool() : fallback;
}

void checkText(const QString &text, const QString &path)
{
    if (!text.isValidUtf16())
        throw RecordEncodingError(path, QStringLiteral("The text is not valid Unicode."));
}

} // namespace

namespace DeveloperWorkbench {

QString rawValue(DeveloperUpdatePolicy policy)
{
    switch (policy) {
    case DeveloperUpdatePolicy::trackOnly:
        return QStringLiteral("track_only");
    case DeveloperUpdatePolicy::askBeforeUpdating:
        return QStringLiteral("ask_before_updating");
    }
    return QStringLiteral("track_only");
}

std::optional<DeveloperUpdatePolicy> updatePolicyFromRawValue(const QString &raw)
{
    for (DeveloperUpdatePolicy policy : allUpdatePolicies()) {
        if (rawValue(policy) == raw)
            return policy;
    }
    return std::nullopt;
}

QList<DeveloperUpdatePolicy> allUpdatePolicies()
{
    return {DeveloperUpdatePolicy::trackOnly, DeveloperUpdatePolicy::askBeforeUpdating};
}

QString rawValue(DeveloperSource source)
{
    switch (source) {
    case DeveloperSource::homebrewFormulae:
        return QStringLiteral("homebrewFormulae");
    case DeveloperSource::homebrewCasks:
        return QStringLiteral("homebrewCasks");
    case DeveloperSource::npm:
        return QStringLiteral("npm");
    case DeveloperSource::python:
        return QStringLiteral("python");
    case DeveloperSource::vendorInstallers:
        return QStringLiteral("vendorInstallers");
    }
    return QString();
}

std::optional<DeveloperSource> sourceFromRawValue(const QString &raw)
{
    for (DeveloperSource source : allSources()) {
        if (rawValue(source) == raw)
            return source;
    }
    return std::nullopt;
}

QList<DeveloperSource> allSources()
{
    return {DeveloperSource::homebrewFormulae, DeveloperSource::homebrewCasks, DeveloperSource::npm,
            DeveloperSource::python, DeveloperSource::vendorInstallers};
}

QString flagKey(DeveloperSource source)
{
    return rawValue(source) + QStringLiteral("Enabled");
}

} // namespace DeveloperWorkbench

bool DeveloperWorkbenchState::isEnabled(DeveloperSource source) const
{
    switch (source) {
    case DeveloperSource::homebrewFormulae:
        return homebrewFormulaeEnabled;
    case DeveloperSource::homebrewCasks:
        return homebrewCasksEnabled;
    case DeveloperSource::npm:
        return npmEnabled;
    case DeveloperSource::python:
        return pythonEnabled;
    case DeveloperSource::vendorInstallers:
        return vendorInstallersEnabled;
    }
    return false;
}

void DeveloperWorkbenchState::setEnabled(DeveloperSource source, bool enabled)
{
    switch (source) {
    case DeveloperSource::homebrewFormulae:
        homebrewFormulaeEnabled = enabled;
        break;
    case DeveloperSource::homebrewCasks:
        homebrewCasksEnabled = enabled;
        break;
    case DeveloperSource::npm:
        npmEnabled = enabled;
        break;
    case DeveloperSource::python:
        pythonEnabled = enabled;
        break;
    case DeveloperSource::vendorInstallers:
        vendorInstallersEnabled = enabled;
        break;
    }
}

DeveloperWorkbenchState DeveloperWorkbenchState::normalized() const
{
    DeveloperWorkbenchState result = *this;
    const QString ask = DeveloperWorkbench::rawValue(DeveloperUpdatePolicy::askBeforeUpdating);
    result.updatePolicy = updatePolicy == ask ? ask : DeveloperWorkbench::rawValue(DeveloperUpdatePolicy::trackOnly);

    QStringList folders;
    QSet<QString> seen;
    for (const QString &folder : projectFolders) {
        if (folder.isEmpty() || seen.contains(folder))
            continue;
        seen.insert(folder);
        folders.append(folder);
    }
    std::sort(folders.begin(), folders.end(), codePointLess);
    result.projectFolders = folders;
    return result;
}

DeveloperWorkbenchState DeveloperWorkbenchState::fromJson(const QJsonObject &object)
{
    DeveloperWorkbenchState state;
    const QJsonValue policy = object.value(QStringLiteral("updatePolicy"));
    if (policy.isString())
        state.updatePolicy = policy.toString();

    const QJsonValue folders = object.value(QStringLiteral("projectFolders"));
    if (folders.isArray()) {
        QStringList list;
        bool allText = true;
        const QJsonArray array = folders.toArray();
        for (const QJsonValue &item : array) {
            if (!item.isString()) {
                allText = false;
                break;
            }
            list.append(item.toString());
        }
        if (allText)
            state.projectFolders = list;
    }

    state.workbenchEnabled = flagOr(object, QStringLiteral("workbenchEnabled"), false);
    for (DeveloperSource source : DeveloperWorkbench::allSources())
        state.setEnabled(source, flagOr(object, DeveloperWorkbench::flagKey(source), false));
    return state;
}

DeveloperWorkbenchState DeveloperWorkbenchState::decode(const QByteArray &json)
{
    return fromJson(RecordJson::parseObject(json));
}

QJsonObject DeveloperWorkbenchState::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("workbenchEnabled"), workbenchEnabled);
    object.insert(QStringLiteral("updatePolicy"), updatePolicy);
    for (DeveloperSource source : DeveloperWorkbench::allSources())
        object.insert(DeveloperWorkbench::flagKey(source), isEnabled(source));
    object.insert(QStringLiteral("projectFolders"), QJsonArray::fromStringList(projectFolders));
    return object;
}

QByteArray DeveloperWorkbenchState::encode() const
{
    checkText(updatePolicy, QStringLiteral("updatePolicy"));
    for (qsizetype i = 0; i < projectFolders.size(); ++i)
        checkText(projectFolders.at(i), QStringLiteral("projectFolders.%1").arg(i));
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
}

namespace DeveloperWorkbenchStateStore {

QString filePath()
{
    return VarnoPaths::appSupportDir() + QStringLiteral("/developer_workbench.json");
}

DeveloperWorkbenchState load()
{
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly))
        return DeveloperWorkbenchState();
    if (file.size() > kMaxSettingsFileSize)
        return DeveloperWorkbenchState();
    const QByteArray bytes = file.read(kMaxSettingsFileSize + 1);
    if (bytes.size() > kMaxSettingsFileSize)
        return DeveloperWorkbenchState();
    try {
        return DeveloperWorkbenchState::decode(bytes);
    } catch (const RecordDecodingError &) {
        return DeveloperWorkbenchState();
    }
}

} // namespace DeveloperWorkbenchStateStore

namespace {

std::optional<bool> optionalFlag(const QJsonObject &object, const QString &path, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    if (!value.isBool())
        throw RecordDecodingError(Kind::typeMismatch, RecordJson::joinPath(path, key),
                                  QStringLiteral("Expected a Boolean."));
    return value.toBool();
}

QJsonValue requiredValue(const QJsonObject &object, const QString &path, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined())
        throw RecordDecodingError(Kind::keyNotFound, RecordJson::joinPath(path, key),
                                  QStringLiteral("No value associated with key \"") + key + QStringLiteral("\"."));
    if (value.isNull())
        throw RecordDecodingError(Kind::valueNotFound, RecordJson::joinPath(path, key),
                                  QStringLiteral("Expected a value but found null instead."));
    return value;
}

QString requiredTextMember(const QJsonObject &object, const QString &path, const QString &key)
{
    const QJsonValue value = requiredValue(object, path, key);
    if (!value.isString())
        throw RecordDecodingError(Kind::typeMismatch, RecordJson::joinPath(path, key),
                                  QStringLiteral("Expected a string."));
    return value.toString();
}

} // namespace

DeveloperReport DeveloperReport::fromJson(const QJsonObject &object, const QString &path)
{
    DeveloperReport report;
    report.summary = requiredTextMember(object, path, QStringLiteral("summary"));
    report.stateCorrupted = optionalFlag(object, path, QStringLiteral("state_corrupted"));
    report.truncated = optionalFlag(object, path, QStringLiteral("truncated"));
    return report;
}

DeveloperReportEnvelope DeveloperReportEnvelope::fromJson(const QJsonObject &object)
{
    DeveloperReportEnvelope envelope;
    envelope.kind = requiredTextMember(object, QString(), QStringLiteral("kind"));
    const QJsonValue payload = requiredValue(object, QString(), QStringLiteral("payload"));
    if (!payload.isObject())
        throw RecordDecodingError(Kind::typeMismatch, QStringLiteral("payload"), QStringLiteral("Expected an object."));
    envelope.payload = DeveloperReport::fromJson(payload.toObject(), QStringLiteral("payload"));
    return envelope;
}

DeveloperReportEnvelope DeveloperReportEnvelope::decode(const QByteArray &json)
{
    return fromJson(RecordJson::parseObject(json));
}
