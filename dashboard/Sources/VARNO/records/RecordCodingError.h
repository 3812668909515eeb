#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <exception>
#include <optional>

// The failure of decoding an engine record from JSON (or of encoding one).
// errorDescription() (also what(), so localizedDescription() finds it) is the
// short sentence a user sees; codingPath() and debugDescription() say where
// and what went wrong, for logs and tests.
class RecordDecodingError : public std::exception {
public:
    enum class Kind {
        dataCorrupted, // not JSON at all
        typeMismatch,  // a value of the wrong JSON type (or a fraction where an integer belongs)
        keyNotFound,   // a required key is missing
        valueNotFound, // a required key holds null
    };

    RecordDecodingError(Kind kind, QString codingPath, QString debugDescription);

    Kind kind() const { return m_kind; }
    // The key path of the offending value, e.g. "policy.keep_per_app"; empty for the top level.
    QString codingPath() const { return m_codingPath; }
    QString debugDescription() const { return m_debugDescription; }
    QString errorDescription() const;

    const char *what() const noexcept override { return m_what.constData(); }

private:
    Kind m_kind;
    QString m_codingPath;
    QString m_debugDescription;
    QByteArray m_what;
};

// A record that cannot be written as JSON (a text that is not valid Unicode).
class RecordEncodingError : public std::exception {
public:
    RecordEncodingError(QString codingPath, QString debugDescription);

    QString codingPath() const { return m_codingPath; }
    QString debugDescription() const { return m_debugDescription; }
    QString errorDescription() const;

    const char *what() const noexcept override { return m_what.constData(); }

private:
    QString m_codingPath;
    QString m_debugDescription;
    QByteArray m_what;
};

// Small readers shared by the records' decoders.
namespace RecordJson {

// Parses bytes that must hold one JSON object; throws RecordDecodingError.
QJsonObject parseObject(const QByteArray &json);

// The value as a signed 64-bit integer when it is an integral number in range.
std::optional<qint64> integerValue(const QJsonValue &value);

// "a.b" from a path and a key.
QString joinPath(const QString &path, const QString &key);

} // namespace RecordJson
