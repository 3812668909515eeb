#pragma once

#include <QString>

// Small text rules shared by the parsers and presenters.
namespace PlainText {

// Removes spaces and tabs at both ends; line breaks and carriage returns stay.
QString trimBlanks(const QString &text);

// The first `count` user-perceived characters (grapheme clusters) of the
// text, so that a cut never splits a character; the whole text when it is
// shorter, nothing when count is not positive. Work grows with what is kept,
// not with the length of the text.
QString prefixCharacters(const QString &text, qsizetype count);

// What a person is shown of a text that may be long (an engine's error,
// a tool's output): at most displayLines lines and displayCharacters
// user-perceived characters, cut at a character boundary and marked with
// "…" when anything was left out. Work is bounded by the limits, not by the
// length of the text. The whole text belongs in the log.
constexpr qsizetype displayLines = 6;
constexpr qsizetype displayCharacters = 400;
QString forDisplay(const QString &text, qsizetype maxLines = displayLines, qsizetype maxCharacters = displayCharacters);

// What a person is shown of one text of a library record (a name, a bundle
// id, a version, a token, a path): forDisplay with at most fieldCharacters
// characters. Views bound each such text before they lay it out; the record
// itself keeps the whole value for the engine's arguments and for copies.
constexpr qsizetype fieldCharacters = 256;
QString forField(const QString &text);

} // namespace PlainText
