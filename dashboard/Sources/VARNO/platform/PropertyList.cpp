#include "platform/PropertyList.h"

#include <QDateTime>
#include <QFile>
#include <QXmlStreamReader>

namespace {

// Deeply nested input must not exhaust the stack.
constexpr int maxDepth = 64;

class PropertyListParser {
public:
    explicit PropertyListParser(const QByteArray &xml)
        : m_reader(xml)
    {
    }

    PropertyList::ParseResult run()
    {
        if (!nextElement())
            return failure(QStringLiteral("The property list is empty."));
        if (m_reader.name() != QLatin1String("plist"))
            return failure(QStringLiteral("The document is not a property list."));
        if (!nextElement())
            return failure(QStringLiteral("The property list holds no value."));
        QVariant value = readValue(0);
        if (!m_error.isEmpty())
            return failure(m_error);
        // Nothing but the closing </plist> may follow.
        while (!m_reader.atEnd()) {
            m_reader.readNext();
            if (m_reader.isStartElement())
                return failure(QStringLiteral("The property list holds more than one top-level value."));
        }
        if (m_reader.hasError())
            return failure(xmlError());
        return {value, {}};
    }

private:
    PropertyList::ParseResult failure(const QString &message) const { return {QVariant(), message}; }

    QString xmlError() const
    {
        return QStringLiteral("The property list is not well-formed XML (line %1: %2).")
            .arg(m_reader.lineNumber())
            .arg(m_reader.errorString());
    }

    // Advances to the next start element; false at an end element or the end.
    bool nextElement()
    {
        while (!m_reader.atEnd()) {
            m_reader.readNext();
            if (m_reader.isStartElement())
                return true;
            if (m_reader.isEndElement())
                return false;
        }
        return false;
    }

    QVariant fail(const QString &message)
    {
        if (m_error.isEmpty())
            m_error = m_reader.hasError() ? xmlError() : message;
        return {};
    }

    QString readText()
    {
        const QString text = m_reader.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
        if (m_reader.hasError())
            fail(QString());
        return text;
    }

    QVariant readValue(int depth)
    {
        if (depth > maxDepth)
            return fail(QStringLiteral("The property list is nested too deeply."));
        const QString tag = m_reader.name().toString();
        if (tag == QLatin1String("dict"))
            return readDict(depth);
        if (tag == QLatin1String("array"))
            return readArray(depth);
        if (tag == QLatin1String("string"))
            return readText();
        if (tag == QLatin1String("integer")) {
            bool ok = false;
            const qint64 n = readText().trimmed().toLongLong(&ok);
            return ok ? QVariant(n) : fail(QStringLiteral("An <integer> holds no whole number."));
        }
        if (tag == QLatin1String("real")) {
            bool ok = false;
            const double d = readText().trimmed().toDouble(&ok);
            return ok ? QVariant(d) : fail(QStringLiteral("A <real> holds no number."));
        }
        if (tag == QLatin1String("true") || tag == QLatin1String("false")) {
            readText();
            return tag == QLatin1String("true");
        }
        if (tag == QLatin1String("date")) {
            QDateTime when = QDateTime::fromString(readText().trimmed(), Qt::ISODate);
            if (!when.isValid())
                return fail(QStringLiteral("A <date> holds no ISO 8601 time."));
            return when.toUTC();
        }
        if (tag == QLatin1String("data")) {
            const QByteArray raw = readText().toLatin1();
            const auto decoded =
                QByteArray::fromBase64Encoding(QByteArray(raw).replace('\n', "").replace('\t', "").replace(' ', ""),
                                               QByteArray::AbortOnBase64DecodingErrors);
            return decoded ? QVariant(*decoded) : fail(QStringLiteral("A <data> holds no Base64."));
        }
        return fail(QStringLiteral("Unknown property list element <%1>.").arg(tag));
    }

    QVariant readDict(int depth)
    {
        QVariantMap map;
        while (nextElement()) {
            if (m_reader.name() != QLatin1String("key"))
                return fail(QStringLiteral("A <dict> entry has no <key>."));
            const QString key = readText();
            if (!m_error.isEmpty())
                return {};
            if (!nextElement())
                return fail(QStringLiteral("The key \"%1\" has no value.").arg(key));
            QVariant value = readValue(depth + 1);
            if (!m_error.isEmpty())
                return {};
            map.insert(key, value);
        }
        if (m_reader.hasError())
            return fail(QString());
        return map;
    }

    QVariant readArray(int depth)
    {
        QVariantList list;
        while (nextElement()) {
            QVariant value = readValue(depth + 1);
            if (!m_error.isEmpty())
                return {};
            list.append(value);
        }
        if (m_reader.hasError())
            return fail(QString());
        return list;
    }

    QXmlStreamReader m_reader;
    QString m_error;
};

} // namespace

namespace PropertyList {

ParseResult parse(const QByteArray &xml)
{
    return PropertyListParser(xml).run();
}

ParseResult parseFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {QVariant(), QStringLiteral("Couldn't read %1: %2").arg(path, file.errorString())};
    return parse(file.readAll());
}

} // namespace PropertyList
