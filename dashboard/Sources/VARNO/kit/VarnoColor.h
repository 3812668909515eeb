#pragma once

#include "kit/ColorPair.h"
#include "model/Tone.h"

#include <QColor>
#include <QPalette>

#include <functional>

class QWidget;

// The palette of the app: fifteen colour pairs (dark, light), the only place
// that spells colour values. Views resolve a token while they paint
// (`VarnoColor::accent().resolved()`), or bind a widget's palette to tokens
// with the helpers below, so that switching the appearance recolours every
// view without rebuilding it. What the core says in tones, `tone` colours.
namespace VarnoColor {

// A pair of the caller's own.
inline ColorPair dynamic(const QString &dark, const QString &light)
{
    return ColorPair(dark, light);
}

// Window, panel and sheet background; also text and icons on an accent or warning fill.
const ColorPair &background();
// Toolbar strip, shelf scroll area, drawer and update-flow backgrounds, the panel's ghost buttons.
const ColorPair &backgroundRaised();
// Cards, grouped rows and secondary-button fills.
const ColorPair &surface();
// A secondary or ghost button under the pointer; card badges and icon wells.
const ColorPair &surfaceHover();
// Hairline strokes around cards, panels and buttons; dividers.
const ColorPair &border();
const ColorPair &textPrimary();
const ColorPair &textSecondary();
// Quiet text, grey status dots; the neutral posture tone.
const ColorPair &textTertiary();
// Gold: primary fills, links, the update progress bar, the wordmark's last letter.
const ColorPair &accent();
const ColorPair &success();
const ColorPair &warning();
// Amber text and icons of notices that ask for a look.
const ColorPair &attention();
const ColorPair &danger();
const ColorPair &dangerText();
const ColorPair &info();

// The token of a tone: good success, caution warning, risk danger, neutral
// textTertiary. The one place a tone becomes a colour.
const ColorPair &tone(Tone meaning);

// Not a token of the palette: white in both appearances, for text on the
// Update button's status fill and the knob of a switched-on toggle.
const ColorPair &white();

// Calls `apply` now and again on every appearance change, for as long as
// `widget` lives. The hook for widgets whose colours live in their palette
// or in a style sheet.
void onAppearanceChange(QWidget *widget, std::function<void()> apply);

// Repaints `widget` on every appearance change (for widgets that resolve
// their tokens in paintEvent).
void repaintOnAppearanceChange(QWidget *widget);

// Binds palette roles of `widget` to a token: set now and re-set on every
// appearance change.
void bindPaletteRole(QWidget *widget, QPalette::ColorRole role, const ColorPair &color, qreal opacity = 1.0);
// Text colour of labels and similar widgets (WindowText, Text, ButtonText).
void bindForeground(QWidget *widget, const ColorPair &color, qreal opacity = 1.0);
// A filled background (Window role, with autoFillBackground on).
void bindBackground(QWidget *widget, const ColorPair &color);
// A window or sheet in the tokens: filled with the background, text in the
// primary colour (muted when disabled), controls on the surface, fields on
// `fields`, selection in the accent, tooltips on the surface.
void bindWindowPalette(QWidget *widget, const ColorPair &fields);

// The colour `t` of the way from `from` to `to` (0 is `from`, 1 is `to`),
// alpha included: hover fades blend their fills with it.
QColor mix(const QColor &from, const QColor &to, qreal t);

} // namespace VarnoColor
