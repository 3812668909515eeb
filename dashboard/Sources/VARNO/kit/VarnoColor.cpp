#include "kit/VarnoColor.h"

#include "platform/Appearance.h"

#include <QWidget>

namespace VarnoColor {

#define VARNO_COLOR_TOKEN(name, darkHex, lightHex)                                                                     \
    const ColorPair &name()                                                                                            \
    {                                                                                                                  \
        static const ColorPair pair(QStringLiteral(darkHex), QStringLiteral(lightHex));                               \
        return pair;                                                                                                   \
    }

VARNO_COLOR_TOKEN(background, "#1A1611", "#FAFAF8")
VARNO_COLOR_TOKEN(backgroundRaised, "#242018", "#F2EFE8")
VARNO_COLOR_TOKEN(surface, "#2E2A22", "#EAE5DC")
VARNO_COLOR_TOKEN(surfaceHover, "#3A3428", "#D4CEC4")
VARNO_COLOR_TOKEN(border, "#3E3830", "#D4CEC4")
VARNO_COLOR_TOKEN(textPrimary, "#F0EAD6", "#1A1611")
VARNO_COLOR_TOKEN(textSecondary, "#A89D8A", "#6A6258")
VARNO_COLOR_TOKEN(textTertiary, "#9E9381", "#807769")
VARNO_COLOR_TOKEN(accent, "#D4A853", "#B8893A")
VARNO_COLOR_TOKEN(success, "#4CAF7D", "#2E8A59")
VARNO_COLOR_TOKEN(warning, "#E07B39", "#C45E1A")
VARNO_COLOR_TOKEN(attention, "#FFB74D", "#A05000")
VARNO_COLOR_TOKEN(danger, "#CF4747", "#B03030")
VARNO_COLOR_TOKEN(dangerText, "#E57373", "#B03030")
VARNO_COLOR_TOKEN(info, "#5B9EF5", "#2563C4")

#undef VARNO_COLOR_TOKEN

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
