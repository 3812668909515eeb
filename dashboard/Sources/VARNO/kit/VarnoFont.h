#pragma once

#include <QFont>
#include <QString>

#include <functional>
#include <optional>

// The platform text styles a face scales with. Their sizes decide the
// fallback font when a face is missing.
enum class TextStyle { caption2, caption, footnote, body, title3, title2, title, largeTitle };

// The four type faces of the app. Sizes are pixel sizes. Each face falls back
// to the system font of its text style when the bundled face is missing; the
// fallback takes the style's own size, not the requested one.
namespace VarnoFont {

// The persona's display face (serif): "Fraunces".
QFont brusk(qreal size, QFont::Weight weight = QFont::Normal, std::optional<TextStyle> relativeTo = std::nullopt);
// The display face light and italic, for the persona's asides.
QFont italicBrusk(qreal size);
// All ordinary interface text: "Geist".
QFont ui(qreal size, QFont::Weight weight = QFont::Normal, std::optional<TextStyle> relativeTo = std::nullopt);
// Figures, counters, versions and small captions: "Geist Mono".
QFont mono(qreal size, QFont::Weight weight = QFont::Normal, std::optional<TextStyle> relativeTo = std::nullopt);
// The brand wordmark: "Cabinet Grotesk" Bold when installed, else ui() bold at
// the same size and text style. No weight is applied to the custom face.
QFont wordmark(qreal size, std::optional<TextStyle> relativeTo = std::nullopt);

// The text style a size belongs to (first match, strictly less than): below
// 10 caption2, 11.5 caption, 12.5 footnote, 14.5 body, 17.5 title3, 25 title2,
// 34 title, else largeTitle.
TextStyle textStyle(qreal size);

// The pixel size of a text style on the fallback path. Fixed, desktop-like:
// caption2 10, caption 10, footnote 10, body 13, title3 15, title2 17,
// title 22, largeTitle 26.
int textStyleSize(TextStyle style);

// Whether a face is available (its family is known to the font database, and
// for a named style, that style exists).
bool isFaceAvailable(const QString &family, const QString &style = QString());

// A number that changes whenever the application's fonts change (a face
// added or removed), so that what was measured in them can be measured anew.
// The answers of isFaceAvailable() are kept until then.
quint64 fontsGeneration();

// Replaces the availability check (tests that need a face to be missing);
// an empty function restores the font database check.
void setFaceProbe(std::function<bool(const QString &family, const QString &style)> probe);

} // namespace VarnoFont
