#pragma once

#include "kit/ColorPair.h"

#include <QFont>
#include <QMargins>
#include <QPushButton>

#include <optional>

class HoverFade;
class SpinnerView;

// How a StyledButton looks: one table row per style. Colours are tokens,
// resolved each time the button paints, so an appearance change recolours
// every button without rebuilding it.
struct ButtonStyle {
    // The label's face (the interface face at a size and weight). Absent: the
    // caller's font (the button's own font) is used.
    struct Face {
        qreal size = 13;
        QFont::Weight weight = QFont::Normal;
        friend bool operator==(const Face &, const Face &) = default;
    };
    std::optional<Face> face;

    ColorPair text;
    std::optional<ColorPair> textHovered; // under the pointer
    std::optional<ColorPair> textPressed; // while pressed (no chrome styles)

    std::optional<ColorPair> fill; // absent: no chrome at all
    std::optional<ColorPair> fillHovered;
    qreal fillHoveredOpacity = 1.0; // fill opacity under the pointer
    qreal fillPressedOpacity = 1.0; // fill opacity while pressed

    std::optional<ColorPair> stroke; // centred hairline over the fill
    std::optional<ColorPair> strokeHovered;
    qreal strokeOpacity = 1.0;
    qreal strokeWidth = 1.0;

    qreal pressedOpacity = 1.0;  // the whole button while pressed
    qreal disabledOpacity = 1.0; // the whole button while disabled
    qreal cornerRadius = 0;
    int horizontalPadding = 0;
    int verticalPadding = 0;
    bool fillsWidth = false; // takes the width it is offered
    int minimumHeight = 0;
    bool tracksHover = false; // hover look, eased in over 80 ms

    friend bool operator==(const ButtonStyle &, const ButtonStyle &) = default;
};

// The windows' two styles: gold and filled, and quiet and outlined. Both pad
// the label 14 by 6, round the corners by 8 and ease their hover look in over
// 80 ms; pressing dims the whole button. A disabled button is drawn at half
// opacity, so that a gated action reads as unavailable.
struct PrimaryButtonStyle : ButtonStyle {
    PrimaryButtonStyle();
};
struct GhostButtonStyle : ButtonStyle {
    GhostButtonStyle();
};

// The two styles that sit beside a primary action: quiet and outlined
// (brightening under the pointer), and filled red (its fill thinning to 0.82
// under the pointer, never outlined). Both pad the label 14 by 6, round the
// corners by 8, ease their hover look in over 80 ms and take the caller's
// font; pressing dims the whole button (0.8 and 0.75). A disabled button is
// drawn at half opacity, as the styles they vary draw it.
struct SecondaryButtonStyle : GhostButtonStyle {
    SecondaryButtonStyle();
};
struct DestructiveButtonStyle : PrimaryButtonStyle {
    DestructiveButtonStyle();
};

// The menu-bar panel's six styles: no hover look, no disabled look; pressing
// dims the fill (or, for links, turns the text gold).
struct PanelPrimaryButton : ButtonStyle {
    PanelPrimaryButton();
};
struct PanelSecondaryButton : ButtonStyle {
    PanelSecondaryButton();
};
struct PanelGhostButton : ButtonStyle {
    PanelGhostButton();
};
struct PanelDangerGhostButton : PanelGhostButton {
    PanelDangerGhostButton();
};
struct PanelLinkButton : ButtonStyle {
    PanelLinkButton();
};
struct PanelCompactWarningButton : ButtonStyle {
    PanelCompactWarningButton();
};

// A push button painted by a ButtonStyle. Its label is a text, a symbol (see
// SymbolIcons), or a symbol followed by a text; the symbol takes the label's
// colour. While the button shows progress, a small turning spinner takes the
// symbol's place at the head of the label. The whole rectangle is the hit
// area. Never auto-default.
class StyledButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(QString symbol READ symbol WRITE setSymbol)

public:
    explicit StyledButton(const QString &text, const ButtonStyle &style, QWidget *parent = nullptr);
    explicit StyledButton(const ButtonStyle &style, QWidget *parent = nullptr);

    const ButtonStyle &buttonStyle() const { return m_style; }
    void setButtonStyle(const ButtonStyle &style);

    QString symbol() const { return m_symbol; }
    void setSymbol(const QString &symbol);

    // The spinner in the symbol's place (work under way); nullptr until the
    // button first shows progress.
    void setShowsProgress(bool shows);
    bool showsProgress() const { return m_showsProgress; }
    SpinnerView *progressIndicator() const { return m_progress; }

    // Whether the pointer is over the button, and how far the hover look has
    // eased in (0 to 1).
    bool isHovered() const;
    qreal hoverProgress() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Spacing between a symbol and the text.
    static constexpr int kSymbolSpacing = 6;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void applyStyle();
    void setHovered(bool hovered);
    QFont labelFont() const;
    int symbolSide(const QFont &font) const;
    QSize contentSize() const;
    bool hasLeadingMark() const { return !m_symbol.isEmpty() || m_showsProgress; }
    // Where the label's leading mark (symbol or spinner) sits in `rect`.
    QRectF leadingMarkRect(const QRectF &rect) const;
    void placeProgress();
    void paintButton(QPainter &painter, const QRectF &rect) const;

    ButtonStyle m_style;
    QString m_symbol;
    bool m_showsProgress = false;
    SpinnerView *m_progress = nullptr;
    HoverFade *m_hover = nullptr;
};
