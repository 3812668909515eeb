#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>

// The strict decoding rules of every engine record: a required key must be
// present with its JSON type; an optional key that is missing or null is
// absent; a present value of another type fails the record, and one failing
// element fails the whole array it belongs to.
namespace StrictJson {

// Each reader returns false when the value has the wrong JSON type. The
// optional readers leave `out` absent for undefined (missing) and null.
bool optionalText(const QJsonValue &value, std::optional<QString> &out);
bool optionalBool(const QJsonValue &value, std::optional<bool> &out);
bool optionalInteger(const QJsonValue &value, std::optional<qint64> &out);

bool requiredText(const QJsonValue &value, QString &out);
bool requiredBool(const QJsonValue &value, bool &out);
bool requiredInteger(const QJsonValue &value, qint64 &out);

// A JSON number that is integral and fits a signed 64-bit integer (3.0 counts,
// 3.5 and 1e19 do not).
std::optional<qint64> integerOf(const QJsonValue &value);

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
