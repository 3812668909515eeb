#pragma once

#include <QString>

// Small text rules shared by the parsers and presenters.
namespace PlainText {

// Removes spaces and tabs at both ends; line breaks and carriage returns stay.
QString trimBlanks(const QString &text);

// The first `count` user-perceived characters (grapheme clusters) of the
// text, so that a cut never splits a character; the whole text when it is
// shorter, nothing when count is not positive.
QString prefixCharacters(const QString &text, qsizetype count);

} // namespace PlainText
