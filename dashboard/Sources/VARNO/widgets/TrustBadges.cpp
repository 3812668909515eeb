#include "widgets/TrustBadges.h"

#include "kit/SymbolIcons.h"
#include "kit/VarnoColor.h"
#include "platform/Appearance.h"

#include <QEasingCurve>
#include <QPainter>
#include <QVariantAnimation>

#include <cmath>
#include <numbers>

namespace SealShape {

QPainterPath path(const QRectF &rect)
{
    const QPointF centre = rect.center();
    const qreal outer = std::min(rect.width(), rect.height()) / 2;
    const qreal inner = outer * 0.8;
    QPainterPath shape;
    for (int i = 0; i < 16; ++i) {
        const qreal angle = qreal(i) / 16 * 2 * std::numbers::pi - std::numbers::pi / 2;
        const qreal distance = i % 2 == 0 ? outer : inner;
        const QPointF vertex(centre.x() + distance * std::cos(angle), centre.y() + distance * std::sin(angle));
        if (i == 0)
            shape.moveTo(vertex);
        else
            shape.lineTo(vertex);
    }
    shape.closeSubpath();
    return shape;
}

} // namespace SealShape

TrustBadgeView::TrustBadgeView(Look look, int size, QWidget *parent)
    : QWidget(parent)
    , m_look(std::move(look))
    , m_size(size)
{
    setFixedSize(size, size);
    setAccessibleName(m_look.accessibilityLabel);
    setAttribute(Qt::WA_TranslucentBackground);
    m_animation = new QVariantAnimation(this);
    m_animation->setDuration(popInMilliseconds);
    // The ease-out of the design: cubic-bezier(0, 0, 0.58, 1).
    QEasingCurve easeOut(QEasingCurve::BezierSpline);
    easeOut.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
    m_animation->setEasingCurve(easeOut);
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(1.0);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_progress = value.toReal();
        update();
    });
    VarnoColor::repaintOnAppearanceChange(this);
}

QSize TrustBadgeView::sizeHint() const
{
    return QSize(m_size, m_size);
}

void TrustBadgeView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_appeared)
        return;
    m_appeared = true;
    if (Appearance::instance().reduceMotion()) {
        m_progress = 1;
        update();
        return;
    }
    m_animation->start();
}

void TrustBadgeView::paintEvent(QPaintEvent *)
{
    if (m_progress <= 0)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(m_progress);
    // Scale 1.2 → 1 about the centre.
    const qreal scale = 1.2 - 0.2 * m_progress;
    const QPointF centre = QRectF(rect()).center();
    painter.translate(centre);
    painter.scale(scale, scale);
    painter.translate(-centre);

    const QColor color = m_look.color.resolved();
    // The badge is a square of its size, centred in whatever it is given.
    const qreal side = m_size;
    const QRectF square(centre.x() - side / 2, centre.y() - side / 2, side, side);
    // The outline is centred on the seal's edge; keep it inside the square.
    const qreal inset = m_look.outlineWidth / 2;
    const QPainterPath seal = SealShape::path(square.adjusted(inset, inset, -inset, -inset));
    QColor fill = color;
    fill.setAlphaF(fill.alphaF() * m_look.fillOpacity);
    painter.fillPath(seal, fill);
    QPen outline(color, m_look.outlineWidth, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    outline.setMiterLimit(10);
    painter.strokePath(seal, outline);

    // The checkmark as a symbol set at size × 0.4.
    const qreal box = SymbolIcons::boxForFontSize(side * 0.4);
    const QRectF checkRect(centre.x() - box / 2, centre.y() - box / 2, box, box);
    SymbolIcons::shared().paint(painter, checkRect, QStringLiteral("checkmark"), color);
}

const QString GreenSealView::accessibilityLabelText = QStringLiteral("Green Seal: verified update path");

GreenSealView::GreenSealView(int size, QWidget *parent)
    : TrustBadgeView({VarnoColor::success(), 0.15, 1.5, accessibilityLabelText}, size, parent)
{
}

const QString VerifiedPathView::accessibilityLabelText = QStringLiteral("Verified path: one trust check did not pass");

VerifiedPathView::VerifiedPathView(int size, QWidget *parent)
    : TrustBadgeView({VarnoColor::textSecondary(), 0.12, 1.5, accessibilityLabelText}, size, parent)
{
}
