#include "kit/VarnoColor.h"

#include "platform/Appearance.h"

#include <QWidget>

namespace VarnoColor {

// A value two tokens share is spelled once: the second token refers to the
// first one's value.
#define VARNO_COLOR_TOKEN(name, dark, light)      \
    const ColorPair &name()                       \
    {                                             \
        static const ColorPair pair(dark, light); \
        return pair;                              \
    }

VARNO_COLOR_TOKEN(background, QStringLiteral("#1A1611"), QStringLiteral("#FAFAF8"))
VARNO_COLOR_TOKEN(backgroundRaised, QStringLiteral("#242018"), QStringLiteral("#F2EFE8"))
VARNO_COLOR_TOKEN(surface, QStringLiteral("#2E2A22"), QStringLiteral("#EAE5DC"))
VARNO_COLOR_TOKEN(surfaceHover, QStringLiteral("#3A3428"), QStringLiteral("#D4CEC4"))
// In the light appearance the hover fill's value.
VARNO_COLOR_TOKEN(border, QStringLiteral("#3E3830"), surfaceHover().light())
// In the light appearance the dark background's value.
VARNO_COLOR_TOKEN(textPrimary, QStringLiteral("#F0EAD6"), background().dark())
VARNO_COLOR_TOKEN(textSecondary, QStringLiteral("#A89D8A"), QStringLiteral("#6A6258"))
VARNO_COLOR_TOKEN(textTertiary, QStringLiteral("#9E9381"), QStringLiteral("#807769"))
VARNO_COLOR_TOKEN(accent, QStringLiteral("#D4A853"), QStringLiteral("#B8893A"))
VARNO_COLOR_TOKEN(success, QStringLiteral("#4CAF7D"), QStringLiteral("#2E8A59"))
VARNO_COLOR_TOKEN(warning, QStringLiteral("#E07B39"), QStringLiteral("#C45E1A"))
VARNO_COLOR_TOKEN(attention, QStringLiteral("#FFB74D"), QStringLiteral("#A05000"))
VARNO_COLOR_TOKEN(danger, QStringLiteral("#CF4747"), QStringLiteral("#B03030"))
// A lighter red than danger in the dark appearance, danger itself in the light.
VARNO_COLOR_TOKEN(dangerText, QStringLiteral("#E57373"), danger().light())
VARNO_COLOR_TOKEN(info, QStringLiteral("#5B9EF5"), QStringLiteral("#2563C4"))

#undef VARNO_COLOR_TOKEN

const ColorPair &tone(Tone meaning)
{
    switch (meaning) {
    case Tone::good:
        return success();
    case Tone::caution:
        return warning();
    case Tone::risk:
        return danger();
    case Tone::neutral:
        break;
    }
    return textTertiary();
}

const ColorPair &white()
{
    static const QString value = QStringLiteral("#FFFFFF");
    static const ColorPair pair(value, value);
    return pair;
}

void onAppearanceChange(QWidget *widget, std::function<void()> apply)
{
    if (!widget || !apply)
        return;
    apply();
    // The widget is the connection's context: the binding ends with it.
    QObject::connect(&Appearance::instance(), &Appearance::changed, widget, std::move(apply));
}

void repaintOnAppearanceChange(QWidget *widget)
{
    if (!widget)
        return;
    QObject::connect(&Appearance::instance(), &Appearance::changed, widget, [widget] { widget->update(); });
}

void bindPaletteRole(QWidget *widget, QPalette::ColorRole role, const ColorPair &color, qreal opacity)
{
    onAppearanceChange(widget, [widget, role, color, opacity] {
        QPalette palette = widget->palette();
        palette.setColor(role, color.resolved(opacity));
        widget->setPalette(palette);
    });
}

void bindForeground(QWidget *widget, const ColorPair &color, qreal opacity)
{
    onAppearanceChange(widget, [widget, color, opacity] {
        QPalette palette = widget->palette();
        const QColor resolved = color.resolved(opacity);
        for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            palette.setColor(role, resolved);
        widget->setPalette(palette);
    });
}

void bindBackground(QWidget *widget, const ColorPair &color)
{
    if (!widget)
        return;
    widget->setAutoFillBackground(true);
    bindPaletteRole(widget, QPalette::Window, color);
}

void bindWindowPalette(QWidget *widget, const ColorPair &fields)
{
    widget->setAutoFillBackground(true);
    onAppearanceChange(widget, [widget, fields] {
        QPalette palette = widget->palette();
        const QColor text = textPrimary().resolved();
        palette.setColor(QPalette::Window, background().resolved());
        palette.setColor(QPalette::WindowText, text);
        palette.setColor(QPalette::Text, text);
        palette.setColor(QPalette::ButtonText, text);
        palette.setColor(QPalette::Base, fields.resolved());
        palette.setColor(QPalette::AlternateBase, surface().resolved());
        palette.setColor(QPalette::Button, surface().resolved());
        palette.setColor(QPalette::Light, surfaceHover().resolved());
        palette.setColor(QPalette::Midlight, surfaceHover().resolved());
        palette.setColor(QPalette::Mid, border().resolved());
        palette.setColor(QPalette::Dark, border().resolved());
        palette.setColor(QPalette::Shadow, border().resolved());
        palette.setColor(QPalette::Highlight, accent().resolved());
        palette.setColor(QPalette::HighlightedText, background().resolved());
        palette.setColor(QPalette::PlaceholderText, textTertiary().resolved());
        palette.setColor(QPalette::ToolTipBase, surface().resolved());
        palette.setColor(QPalette::ToolTipText, text);
        const QColor muted = textTertiary().resolved(0.7);
        for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            palette.setColor(QPalette::Disabled, role, muted);
        widget->setPalette(palette);
    });
}

QColor mix(const QColor &from, const QColor &to, qreal t)
{
    if (t <= 0)
        return from;
    if (t >= 1)
        return to;
    return QColor::fromRgbF(float(from.redF() + (to.redF() - from.redF()) * t),
                            float(from.greenF() + (to.greenF() - from.greenF()) * t),
                            float(from.blueF() + (to.blueF() - from.blueF()) * t),
                            float(from.alphaF() + (to.alphaF() - from.alphaF()) * t));
}

} // namespace VarnoColor
