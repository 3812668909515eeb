#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <limits>
#include <optional>

// The strict decoding rules of every engine record: a required key must be
// present with its JSON type; an optional key that is missing or null is
// absent; a present value of another type fails the record, and one failing
// element fails the whole array it belongs to.
namespace StrictJson {

// Each reader returns false when the value has the wrong JSON type. The
// optional readers leave `out` absent for undefined (missing) and null. They
// take a QJsonValue or, without copying, a QJsonValueConstRef.
template<typename Value>
std::optional<qint64> integerOf(const Value &value)
{
    // A JSON number that is integral and fits a signed 64-bit integer (3.0
    // counts, 3.5 and 1e19 do not).
    if (!value.isDouble())
        return std::nullopt;
    constexpr qint64 sentinel = std::numeric_limits<qint64>::min();
    const qint64 integer = value.toInteger(sentinel);
    if (integer == sentinel && value.toDouble() != -9223372036854775808.0)
        return std::nullopt;
    return integer;
}

template<typename Value>
bool optionalText(const Value &value, std::optional<QString> &out)
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

template<typename Value>
bool optionalBool(const Value &value, std::optional<bool> &out)
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

template<typename Value>
bool optionalInteger(const Value &value, std::optional<qint64> &out)
{
    if (value.isUndefined() || value.isNull()) {
        out.reset();
        return true;
    }
    out = integerOf(value);
    return out.has_value();
}

template<typename Value>
bool requiredText(const Value &value, QString &out)
{
    if (!value.isString())
        return false;
    out = value.toString();
    return true;
}

template<typename Value>
bool requiredBool(const Value &value, bool &out)
{
    if (!value.isBool())
        return false;
    out = value.toBool();
    return true;
}

template<typename Value>
bool requiredInteger(const Value &value, qint64 &out)
{
    const auto integer = integerOf(value);
    if (!integer)
        return false;
    out = *integer;
    return true;
}

// The whole of `json` as one object or one array; nothing when it is not
// valid JSON of that shape (leading or trailing text fails too).
std::optional<QJsonObject> parseObject(const QByteArray &json);
std::optional<QJsonArray> parseArray(const QByteArray &json);

// Decodes every element of an array with `decodeOne` (a function from
// QJsonObject to std::optional<T>); any non-object or failing element fails
// the whole list.
template<typename T, typename Decode>
std::optional<QList<T>> decodeArray(const QJsonArray &array, Decode decodeOne)
{
    QList<T> records;
    records.reserve(array.size());
    for (const QJsonValue &element : array) {
        if (!element.isObject())
            return std::nullopt;
        std::optional<T> record = decodeOne(element.toObject());
        if (!record)
            return std::nullopt;
        records.append(std::move(*record));
    }
    return records;
}

} // namespace StrictJson
