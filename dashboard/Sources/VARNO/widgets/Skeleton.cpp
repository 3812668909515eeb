#include "widgets/Skeleton.h"

#include "kit/VarnoColor.h"
#include "platform/Appearance.h"

#include <QHBoxLayout>
#include <QLinearGradient>
#include <QPainter>
#include <QVBoxLayout>
#include <QVariantAnimation>

Skeleton::Skeleton(qreal cornerRadius, QWidget *parent)
    : QWidget(parent)
    , m_cornerRadius(cornerRadius)
    , m_sweep(new QVariantAnimation(this))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_sweep->setStartValue(0.0);
    m_sweep->setEndValue(1.0);
    m_sweep->setDuration(kSweepMs);
    m_sweep->setEasingCurve(QEasingCurve::InOutCubic);
    m_sweep->setLoopCount(-1);
    connect(m_sweep, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) { setPhase(value.toReal()); });
    // Reduce Motion switched on takes the band away at once; switched off,
    // the sweep starts while the placeholder is on screen.
    connect(&Appearance::instance(), &Appearance::changed, this, [this] {
        syncMotion();
        update();
    });
}

void Skeleton::setShape(const QPainterPath &shape)
{
    m_shape = shape;
    update();
}

QPainterPath Skeleton::shape() const
{
    if (m_shape)
        return *m_shape;
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), m_cornerRadius, m_cornerRadius);
    return path;
}

void Skeleton::setPhase(qreal phase)
{
    if (qFuzzyCompare(phase + 1, m_phase + 1))
        return;
    m_phase = phase;
    update();
}

bool Skeleton::isSweeping() const
{
    return m_sweep->state() == QAbstractAnimation::Running;
}

void Skeleton::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    syncMotion();
}

void Skeleton::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    // Shown again later, the sweep starts from the leading edge.
    m_sweep->stop();
    m_phase = 0;
}

void Skeleton::syncMotion()
{
    const bool wanted = isVisible() && !Appearance::instance().reduceMotion();
    if (wanted && !isSweeping()) {
        m_phase = 0;
        m_sweep->start();
    } else if (!wanted && isSweeping()) {
        m_sweep->stop();
        m_phase = 0;
    }
}

void Skeleton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath path = shape();
    painter.fillPath(path, VarnoColor::textSecondary().resolved(kShapeOpacity));
    if (Appearance::instance().reduceMotion())
        return;
    // The band, clipped to the shape.
    const qreal w = width();
    const qreal left = bandOffset(m_phase, w);
    const qreal bandW = bandWidth(w);
    if (bandW <= 0)
        return;
    QLinearGradient gradient(QPointF(left, 0), QPointF(left + bandW, 0));
    const QColor band = VarnoColor::textPrimary().resolved(kBandOpacity);
    QColor clear = band;
    clear.setAlphaF(0);
    gradient.setColorAt(0, clear);
    gradient.setColorAt(0.5, band);
    gradient.setColorAt(1, clear);
    painter.setClipPath(path);
    painter.fillRect(QRectF(left, 0, bandW, height()), gradient);
}

Skeleton *skeleton(QSize size, qreal cornerRadius, QWidget *parent)
{
    auto *block = new Skeleton(cornerRadius, parent);
    block->setFixedSize(size);
    return block;
}

// --- SkeletonAppCardView ---------------------------------------------------------------

QString SkeletonAppCardView::accessibleLabel()
{
    return QStringLiteral("Loading app");
}

SkeletonAppCardView::SkeletonAppCardView(QWidget *parent)
    : QWidget(parent)
{
    setAccessibleName(accessibleLabel());
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(16, 16, 16, 16);
    row->setSpacing(12);
    Skeleton *icon = skeleton(QSize(38, 38), 8, this);
    row->addWidget(icon);
    auto *lines = new QVBoxLayout();
    lines->setSpacing(2);
    Skeleton *name = skeleton(QSize(120, 16), 4, this);
    Skeleton *version = skeleton(QSize(80, 12), 4, this);
    lines->addWidget(name);
    lines->addWidget(version);
    row->addLayout(lines);
    row->addStretch(1);
    Skeleton *button = skeleton(QSize(56, 24), 4, this);
    row->addWidget(button);
    m_shapes = {icon, name, version, button};
    VarnoColor::repaintOnAppearanceChange(this);
}

void SkeletonAppCardView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(VarnoColor::border().resolved(), 1));
    painter.setBrush(VarnoColor::surface().resolved());
    painter.drawRoundedRect(box, 12, 12);
}
