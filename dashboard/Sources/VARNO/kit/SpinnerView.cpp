#include "kit/SpinnerView.h"

#include "kit/VarnoColor.h"
#include "platform/Appearance.h"

#include <QPainter>
#include <QVariantAnimation>

#include <algorithm>

SpinnerView::SpinnerView(int side, QWidget *parent)
    : QWidget(parent)
    , m_side(side)
{
    setFixedSize(side, side);
    setAccessibleName(QStringLiteral("In progress"));
    m_turn = new QVariantAnimation(this);
    m_turn->setStartValue(0.0);
    m_turn->setEndValue(360.0);
    m_turn->setDuration(1000);
    m_turn->setLoopCount(-1);
    connect(m_turn, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_angle = value.toReal();
        update();
    });
    VarnoColor::repaintOnAppearanceChange(this);
}

QSize SpinnerView::sizeHint() const
{
    return QSize(m_side, m_side);
}

bool SpinnerView::isTurning() const
{
    return m_turn->state() == QAbstractAnimation::Running;
}

void SpinnerView::setTint(std::optional<ColorPair> tint)
{
    m_tint = std::move(tint);
    update();
}

void SpinnerView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!Appearance::instance().reduceMotion())
        m_turn->start();
}

void SpinnerView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_turn->stop();
}

void SpinnerView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal pen = std::max(1.5, m_side / 8.0);
    const QRectF ring = QRectF(rect()).adjusted(pen, pen, -pen, -pen);
    painter.setPen(QPen(m_tint ? m_tint->resolved(0.3) : VarnoColor::textTertiary().resolved(0.3), pen));
    painter.drawEllipse(ring);
    painter.setPen(
        QPen(m_tint ? m_tint->resolved() : VarnoColor::textSecondary().resolved(), pen, Qt::SolidLine, Qt::RoundCap));
    // Qt angles: 1/16 degree, counter-clockwise from 3 o'clock.
    painter.drawArc(ring, int((90 - m_angle) * 16), -100 * 16);
}
