#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// What the app reads of "varno:" addresses and of the message by which a
// later start hands its addresses to the running app. Qt Core only, so that
// the rules are checked on their own.
namespace VarnoURL {

// True for a URL whose scheme is "varno" exactly and whose host (in any
// case) is "check-for-updates" or "update"; only the scheme and the host
// are read.
bool isUpdateCheckURL(const QString &url);

// The hand-over message: a JSON array of strings (at most maxUrls of them)
// and a line feed, at most maxMessageBytes in all.
constexpr qsizetype maxMessageBytes = 64 * 1024;
constexpr int maxUrls = 64;

// The URLs the message carries, or nothing when it is not one.
std::optional<QStringList> decodeMessage(const QByteArray &message);
// The first maxUrls of `urls` as one message.
QByteArray encodeMessage(const QStringList &urls);

} // namespace VarnoURL
