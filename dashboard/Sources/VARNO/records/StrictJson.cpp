#include "records/StrictJson.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <limits>

namespace StrictJson {

std::optional<qint64> integerOf(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    constexpr qint64 sentinel = std::numeric_limits<qint64>::min();
    const qint64 integer = value.toInteger(sentinel);
    if (integer == sentinel && value.toDouble() != -9223372036854775808.0)
        return std::nullopt;
    return integer;
}

bool optionalText(const QJsonValue &value, std::optional<QString> &out)
{
    if (value.isUndefined() || value.isNull()) {
        out.reset();
        return true;
    }
    if (!value.isString())
        return false;
    out = value.toString();
    return true;
}

bool optionalBool(const QJsonValue &value, std::optional<bool> &out)
{
    if (value.isUndefined() || value.isNull()) {
        out.reset();
        return true;
    }
    if (!value.isBool())
        return false;
    out = value.toBool();
    return true;
}

bool optionalInteger(const QJsonValue &value, std::optional<qint64> &out)
{
    if (value.isUndefined() || value.isNull()) {
        out.reset();
        return true;
    }
    out = integerOf(value);
    return out.has_value();
}

bool requiredText(const QJsonValue &value, QString &out)
{
    if (!value.isString())
        return false;
    out = value.toString();
    return true;
}

bool requiredBool(const QJsonValue &value, bool &out)
{
    if (!value.isBool())
        return false;
    out = value.toBool();
    return true;
}

bool requiredInteger(const QJsonValue &value, qint64 &out)
{
    const auto integer = integerOf(value);
    if (!integer)
        return false;
    out = *integer;
    return true;
}

std::optional<QJsonObject> parseObject(const QByteArray &json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

std::optional<QJsonArray> parseArray(const QByteArray &json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    return document.array();
}

} // namespace StrictJson
