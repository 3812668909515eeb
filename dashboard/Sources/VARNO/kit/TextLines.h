#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

namespace TextLines {

// `text` wrapped at `width` in `font` (at word boundaries, or anywhere in a
// word longer than the line), each line trimmed; at most `maxLines` (at least
// one), the last of them holding the rest of the text, its blanks
// simplified, cut with "…" when it does not fit. Nothing for an empty text
// or no width.
QStringList limited(const QString &text, const QFont &font, int maxLines, int width);

} // namespace TextLines
