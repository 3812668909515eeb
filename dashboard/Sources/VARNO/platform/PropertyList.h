#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// Reads XML property lists (the format of Info.plist and the agent's plist).
//
// Values map onto QVariant as: dict -> QVariantMap, array -> QVariantList,
// string -> QString, integer -> qint64, real -> double, true/false -> bool,
// date -> QDateTime (UTC), data -> QByteArray.
namespace PropertyList {

struct ParseResult {
    QVariant value; // invalid when parsing failed
    QString error;  // one sentence when parsing failed, else empty

    bool ok() const { return error.isEmpty(); }
};

ParseResult parse(const QByteArray &xml);

// Reads and parses a file; a missing or unreadable file is an error too.
ParseResult parseFile(const QString &path);

} // namespace PropertyList
