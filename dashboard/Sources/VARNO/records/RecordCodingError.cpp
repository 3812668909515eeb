#include "records/RecordCodingError.h"

#include <QJsonDocument>
#include <QJsonParseError>

RecordDecodingError::RecordDecodingError(Kind kind, QString codingPath, QString debugDescription)
    : m_kind(kind)
    , m_codingPath(std::move(codingPath))
    , m_debugDescription(std::move(debugDescription))
    , m_what(errorDescription().toUtf8())
{
}

QString RecordDecodingError::errorDescription() const
{
    switch (m_kind) {
    case Kind::keyNotFound:
    case Kind::valueNotFound:
        return QStringLiteral("The data couldn’t be read because it is missing.");
    case Kind::dataCorrupted:
    case Kind::typeMismatch:
        break;
    }
    return QStringLiteral("The data couldn’t be read because it isn’t in the correct format.");
}

RecordEncodingError::RecordEncodingError(QString codingPath, QString debugDescription)
    : m_codingPath(std::move(codingPath))
    , m_debugDescription(std::move(debugDescription))
    , m_what(errorDescription().toUtf8())
{
}

QString RecordEncodingError::errorDescription() const
{
    return QStringLiteral("The data couldn’t be written because it isn’t in the correct format.");
}

namespace RecordJson {

QJsonObject parseObject(const QByteArray &json)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        throw RecordDecodingError(RecordDecodingError::Kind::dataCorrupted, QString(),
                                  QStringLiteral("The given data was not valid JSON (") + parseError.errorString()
                                      + QStringLiteral(")."));
    if (!document.isObject())
        throw RecordDecodingError(RecordDecodingError::Kind::typeMismatch, QString(),
                                  QStringLiteral("Expected a JSON object at the top level."));
    return document.object();
}

std::optional<qint64> integerValue(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    // toInteger() gives its default for a fraction or a value out of range;
    // two different defaults tell that apart from a genuine 0 or 1.
    const qint64 first = value.toInteger(0);
    const qint64 second = value.toInteger(1);
    if (first != second)
        return std::nullopt;
    return first;
}

QString joinPath(const QString &path, const QString &key)
{
    return path.isEmpty() ? key : path + QLatin1Char('.') + key;
}

} // namespace RecordJson
