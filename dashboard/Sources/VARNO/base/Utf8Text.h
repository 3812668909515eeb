#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Strict UTF-8 decoding of engine output. QString::fromUtf8 never fails (it
// substitutes U+FFFD); the engine's texts are taken only when they are valid.
namespace Utf8Text {

// The text of the bytes, or nothing when they are not valid UTF-8. A leading
// byte-order mark is kept as a character.
std::optional<QString> decode(const QByteArray &bytes);

// The text of the bytes, or the empty text when they are not valid UTF-8.
QString decodeOrEmpty(const QByteArray &bytes);

// Bytes that were cut at a byte limit may end inside a multi-byte sequence;
// drops such an incomplete last sequence (at most three bytes), nothing else.
QByteArray withoutIncompleteTail(const QByteArray &bytes);

// The first `limit` bytes as text: when the cut falls inside a multi-byte
// character, the text ends before that character instead of turning empty.
// Bytes that are invalid for any other reason give the empty text.
QString prefix(const QByteArray &bytes, qsizetype limit);

// The first `limit` bytes as text for a message: a character cut at the
// limit is left out, and bytes that are not UTF-8 become replacement
// characters (U+FFFD), so the message still says what came.
QString prefixLossy(const QByteArray &bytes, qsizetype limit);

} // namespace Utf8Text
