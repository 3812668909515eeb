#include "kit/ButtonStyles.h"

#include "kit/HoverFade.h"
#include "kit/SpinnerView.h"
#include "kit/SymbolIcons.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "platform/Appearance.h"

#include <QEnterEvent>
#include <QEvent>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>

#include <cmath>

// --- The styles --------------------------------------------------------------

PrimaryButtonStyle::PrimaryButtonStyle()
{
    text = VarnoColor::background(); // dark on gold
    fill = VarnoColor::accent();
    fillHoveredOpacity = 0.82;
    pressedOpacity = 0.75;
    disabledOpacity = 0.5;
    cornerRadius = 8;
    horizontalPadding = 14;
    verticalPadding = 6;
    tracksHover = true;
}

GhostButtonStyle::GhostButtonStyle()
{
    text = VarnoColor::textSecondary();
    textHovered = VarnoColor::textPrimary();
    fill = VarnoColor::surface();
    fillHovered = VarnoColor::surfaceHover();
    stroke = VarnoColor::border();
    strokeHovered = VarnoColor::textTertiary();
    pressedOpacity = 0.8;
    disabledOpacity = 0.5;
    cornerRadius = 8;
    horizontalPadding = 14;
    verticalPadding = 6;
    tracksHover = true;
}

SecondaryButtonStyle::SecondaryButtonStyle()
{
    // The ghost's look, also when disabled.
}

DestructiveButtonStyle::DestructiveButtonStyle()
{
    // The primary's text colour: dark on red in the dark appearance, near
    // white in the light.
    fill = VarnoColor::danger();
}

PanelPrimaryButton::PanelPrimaryButton()
{
    face = Face{13, QFont::DemiBold};
    text = VarnoColor::background();
    fill = VarnoColor::accent();
    fillPressedOpacity = 0.85;
    cornerRadius = 8;
    verticalPadding = 9;
    fillsWidth = true;
}

PanelSecondaryButton::PanelSecondaryButton()
{
    face = Face{12, QFont::Normal};
    text = VarnoColor::textPrimary();
    fill = VarnoColor::surface();
    fillPressedOpacity = 0.7;
    stroke = VarnoColor::border();
    cornerRadius = 8;
    verticalPadding = 7;
    fillsWidth = true;
}

PanelGhostButton::PanelGhostButton()
{
    face = Face{11, QFont::Normal};
    text = VarnoColor::textPrimary();
    fill = VarnoColor::backgroundRaised();
    fillPressedOpacity = 0.6;
    stroke = VarnoColor::border();
    cornerRadius = 4;
    horizontalPadding = 10;
    verticalPadding = 4;
}

PanelDangerGhostButton::PanelDangerGhostButton()
{
    text = VarnoColor::dangerText();
    stroke = VarnoColor::danger();
    strokeOpacity = 0.5;
}

PanelLinkButton::PanelLinkButton()
{
    face = Face{11, QFont::Medium};
    text = VarnoColor::textSecondary();
    textPressed = VarnoColor::accent();
    horizontalPadding = 2;
    verticalPadding = 4;
    minimumHeight = 24;
}

PanelCompactWarningButton::PanelCompactWarningButton()
{
    face = Face{11, QFont::DemiBold};
    text = VarnoColor::background();
    fill = VarnoColor::warning();
    fillPressedOpacity = 0.85;
    cornerRadius = 4;
    horizontalPadding = 10;
    verticalPadding = 4;
}

// --- StyledButton --------------------------------------------------------------

namespace {

QColor withOpacity(QColor color, qreal opacity)
{
    color.setAlphaF(float(color.alphaF() * qBound(0.0, opacity, 1.0)));
    return color;
}

} // namespace

StyledButton::StyledButton(const QString &text, const ButtonStyle &style, QWidget *parent)
    : QPushButton(text, parent)
    , m_style(style)
{
    setAutoDefault(false);
    setAttribute(Qt::WA_Hover);
    if (!m_style.face)
        setFont(VarnoFont::ui(13, QFont::Medium));
    applyStyle();
    VarnoColor::repaintOnAppearanceChange(this);

    m_hover = new HoverFade(this, QEasingCurve::OutQuad);
}

StyledButton::StyledButton(const ButtonStyle &style, QWidget *parent)
    : StyledButton(QString(), style, parent)
{
}

void StyledButton::setButtonStyle(const ButtonStyle &style)
{
    if (m_style == style)
        return;
    m_style = style;
    applyStyle();
    if (m_progress)
        m_progress->setTint(m_style.text);
    if (!m_style.tracksHover)
        m_hover->clear();
    updateGeometry();
    update();
}

void StyledButton::applyStyle()
{
    if (m_style.face)
        setFont(VarnoFont::ui(m_style.face->size, m_style.face->weight));
    setSizePolicy(m_style.fillsWidth ? QSizePolicy::Expanding : QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void StyledButton::setSymbol(const QString &symbol)
{
    if (m_symbol == symbol)
        return;
    m_symbol = symbol;
    updateGeometry();
    update();
}

void StyledButton::setShowsProgress(bool shows)
{
    if (m_showsProgress == shows)
        return;
    m_showsProgress = shows;
    if (shows && !m_progress) {
        m_progress = new SpinnerView(symbolSide(labelFont()), this);
        // In the label's colour, as the symbol it stands for.
        m_progress->setTint(m_style.text);
    }
    if (m_progress) {
        m_progress->setVisible(shows);
        placeProgress();
    }
    updateGeometry();
    update();
}

QFont StyledButton::labelFont() const
{
    return font();
}

int StyledButton::symbolSide(const QFont &font) const
{
    return int(std::lround(SymbolIcons::boxForFontSize(QFontInfo(font).pixelSize())));
}

QSize StyledButton::contentSize() const
{
    const QFont font = labelFont();
    const QFontMetricsF metrics(font);
    qreal width = 0;
    // An icon-only label is as tall as its symbol; a text sets the line height.
    qreal height = text().isEmpty() ? 0 : metrics.height();
    if (hasLeadingMark()) {
        const int side = symbolSide(font);
        width += side;
        height = std::max(height, qreal(side));
        if (!text().isEmpty())
            width += kSymbolSpacing;
    }
    if (!text().isEmpty())
        width += metrics.horizontalAdvance(text());
    return QSize(int(std::ceil(width)), int(std::ceil(height)));
}

QRectF StyledButton::leadingMarkRect(const QRectF &rect) const
{
    // The label is centred in the padded area; the mark leads it.
    const QRectF area = rect.adjusted(m_style.horizontalPadding, m_style.verticalPadding, -m_style.horizontalPadding,
                                      -m_style.verticalPadding);
    const qreal contentWidth = std::min<qreal>(contentSize().width(), area.width());
    const qreal x = area.left() + (area.width() - contentWidth) / 2;
    const int side = symbolSide(labelFont());
    return QRectF(x, rect.center().y() - side / 2.0, side, side);
}

void StyledButton::placeProgress()
{
    if (!m_progress || !m_showsProgress)
        return;
    const QRectF mark = leadingMarkRect(QRectF(rect()));
    const QSize spinner = m_progress->size();
    m_progress->move(qRound(mark.center().x() - spinner.width() / 2.0),
                     qRound(mark.center().y() - spinner.height() / 2.0));
}

void StyledButton::resizeEvent(QResizeEvent *event)
{
    QPushButton::resizeEvent(event);
    placeProgress();
}

QSize StyledButton::sizeHint() const
{
    const QSize content = contentSize();
    const int width = content.width() + 2 * m_style.horizontalPadding;
    const int height = std::max(content.height() + 2 * m_style.verticalPadding, m_style.minimumHeight);
    return QSize(width, height);
}

QSize StyledButton::minimumSizeHint() const
{
    const QSize hint = sizeHint();
    if (!m_style.fillsWidth)
        return hint;
    // A full-width button may be narrower than its label; the label is elided.
    return QSize(std::min(hint.width(), 2 * m_style.horizontalPadding + 48), hint.height());
}

bool StyledButton::isHovered() const
{
    return m_hover->isHovered();
}

qreal StyledButton::hoverProgress() const
{
    return m_hover->progress();
}

void StyledButton::setHovered(bool hovered)
{
    m_hover->setHovered(hovered, m_style.tracksHover);
}

void StyledButton::enterEvent(QEnterEvent *event)
{
    QPushButton::enterEvent(event);
    setHovered(true);
}

void StyledButton::leaveEvent(QEvent *event)
{
    QPushButton::leaveEvent(event);
    setHovered(false);
}

void StyledButton::changeEvent(QEvent *event)
{
    QPushButton::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateGeometry();
        placeProgress();
    }
}

void StyledButton::paintEvent(QPaintEvent *)
{
    // The label may have changed since the button was last sized.
    placeProgress();
    QPainter painter(this);
    const bool pressed = isDown();
    qreal opacity = pressed ? m_style.pressedOpacity : 1.0;
    if (!isEnabled())
        opacity *= m_style.disabledOpacity;
    if (opacity < 1.0) {
        // The whole button fades as one: render it into a layer first, so that
        // the label does not show the fill through itself.
        const qreal dpr = devicePixelRatioF();
        QImage layer(size() * dpr, QImage::Format_ARGB32_Premultiplied);
        layer.setDevicePixelRatio(dpr);
        layer.fill(Qt::transparent);
        {
            QPainter layerPainter(&layer);
            paintButton(layerPainter, QRectF(rect()));
        }
        painter.setOpacity(opacity);
        painter.drawImage(QPointF(0, 0), layer);
        return;
    }
    paintButton(painter, QRectF(rect()));
}

void StyledButton::paintButton(QPainter &painter, const QRectF &rect) const
{
    const bool dark = Appearance::instance().isDark();
    const bool pressed = isDown();
    const qreal hover = m_style.tracksHover ? m_hover->progress() : 0.0;
    painter.setRenderHint(QPainter::Antialiasing);

    if (m_style.fill) {
        QColor fill = m_style.fill->resolve(dark);
        if (m_style.fillHovered)
            fill = VarnoColor::mix(fill, m_style.fillHovered->resolve(dark), hover);
        qreal opacity = 1.0 + (m_style.fillHoveredOpacity - 1.0) * hover;
        if (pressed)
            opacity *= m_style.fillPressedOpacity;
        QPainterPath shape;
        shape.addRoundedRect(rect, m_style.cornerRadius, m_style.cornerRadius);
        painter.fillPath(shape, withOpacity(fill, opacity));

        if (m_style.stroke) {
            QColor stroke = m_style.stroke->resolve(dark);
            if (m_style.strokeHovered)
                stroke = VarnoColor::mix(stroke, m_style.strokeHovered->resolve(dark), hover);
            // The centred hairline stays inside the button: inset by half its width.
            const qreal inset = m_style.strokeWidth / 2;
            QPainterPath outline;
            outline.addRoundedRect(rect.adjusted(inset, inset, -inset, -inset),
                                   std::max(0.0, m_style.cornerRadius - inset),
                                   std::max(0.0, m_style.cornerRadius - inset));
            painter.setPen(QPen(withOpacity(stroke, m_style.strokeOpacity), m_style.strokeWidth));
            painter.setBrush(Qt::NoBrush);
            painter.drawPath(outline);
        }
    }

    QColor textColor = m_style.text.resolve(dark);
    if (pressed && m_style.textPressed)
        textColor = m_style.textPressed->resolve(dark);
    else if (m_style.textHovered)
        textColor = VarnoColor::mix(textColor, m_style.textHovered->resolve(dark), hover);

    // The label, centred in the padded area.
    const QFont font = labelFont();
    const QFontMetricsF metrics(font);
    const QRectF area = rect.adjusted(m_style.horizontalPadding, m_style.verticalPadding, -m_style.horizontalPadding,
                                      -m_style.verticalPadding);
    qreal x = 0;
    if (hasLeadingMark()) {
        const QRectF mark = leadingMarkRect(rect);
        // The spinner, a child of its own, turns in the mark's place.
        if (!m_showsProgress)
            SymbolIcons::shared().paint(painter, mark, m_symbol, textColor);
        x = mark.right() + (text().isEmpty() ? 0 : kSymbolSpacing);
    } else {
        const qreal contentWidth = std::min<qreal>(contentSize().width(), area.width());
        x = area.left() + (area.width() - contentWidth) / 2;
    }
    if (!text().isEmpty()) {
        const qreal available = area.right() - x;
        const QString shown = metrics.elidedText(text(), Qt::ElideRight, std::max<qreal>(0, available));
        painter.setFont(font);
        painter.setPen(textColor);
        const QRectF textRect(x, rect.top(), std::max<qreal>(0, available), rect.height());
        painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    }
}
