#include "provenance/ProvenanceParts.h"

#include "kit/SymbolIcons.h"
#include "kit/VarnoColor.h"
#include "platform/Appearance.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

namespace ProvenanceParts {

Box::Box(QWidget *parent)
    : QWidget(parent)
{
    VarnoColor::repaintOnAppearanceChange(this);
}

void Box::setFill(const ColorPair &fill, qreal opacity)
{
    m_fill = fill;
    m_fillOpacity = opacity;
    update();
}

void Box::setStroke(const ColorPair &stroke, qreal opacity)
{
    m_stroke = stroke;
    m_strokeOpacity = opacity;
    update();
}

void Box::setRadius(qreal radius)
{
    m_radius = radius;
    update();
}

void Box::setPaintsRows(bool paintsRows)
{
    m_paintsRows = paintsRows;
    update();
}

void Box::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect());
    QPainterPath shape;
    shape.addRoundedRect(area, m_radius, m_radius);
    if (m_fill) {
        const QColor fill = m_fill->resolved(m_fillOpacity);
        if (m_paintsRows) {
            painter.save();
            painter.setClipPath(shape);
            for (QObject *child : children()) {
                auto *row = qobject_cast<QWidget *>(child);
                if (row && row->isVisible())
                    painter.fillRect(row->geometry(), fill);
            }
            painter.restore();
        } else {
            painter.fillPath(shape, fill);
        }
    }
    if (m_stroke) {
        QPainterPath outline;
        outline.addRoundedRect(area.adjusted(0.5, 0.5, -0.5, -0.5), m_radius - 0.5, m_radius - 0.5);
        painter.setPen(QPen(m_stroke->resolved(m_strokeOpacity), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(outline);
    }
}

Dot::Dot(int diameter, const ColorPair &color, QWidget *parent)
    : QWidget(parent)
    , m_color(color)
{
    setFixedSize(diameter, diameter);
    VarnoColor::repaintOnAppearanceChange(this);
}

void Dot::setColor(const ColorPair &color)
{
    if (m_color == color)
        return;
    m_color = color;
    update();
}

void Dot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_color.resolved());
    painter.drawEllipse(QRectF(rect()));
}

Symbol::Symbol(const QString &name, int size, const ColorPair &color, QWidget *parent)
    : QWidget(parent)
    , m_name(name)
    , m_color(color)
{
    setFixedSize(size, size);
    VarnoColor::repaintOnAppearanceChange(this);
}

void Symbol::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    SymbolIcons::shared().paint(painter, QRectF(rect()), m_name, m_color.resolved());
}

namespace {
constexpr int kShimmerMs = 1400;
}

SkeletonBar::SkeletonBar(int width, int height, QWidget *parent)
    : QWidget(parent)
{
    setFixedSize(width, height);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    VarnoColor::repaintOnAppearanceChange(this);
    m_shimmer = new QVariantAnimation(this);
    m_shimmer->setStartValue(-0.4);
    m_shimmer->setEndValue(1.4);
    m_shimmer->setDuration(kShimmerMs);
    m_shimmer->setLoopCount(-1);
    connect(m_shimmer, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_phase = value.toReal();
        update();
    });
}

bool SkeletonBar::isShimmering() const
{
    return m_shimmer->state() == QAbstractAnimation::Running;
}

void SkeletonBar::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!Appearance::instance().reduceMotion())
        m_shimmer->start();
}

void SkeletonBar::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_shimmer->stop();
}

void SkeletonBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 4, 4);
    painter.fillPath(shape, VarnoColor::border().resolved());
    // The light band.
    const qreal centre = m_phase * width();
    QLinearGradient band(centre - width() * 0.35, 0, centre + width() * 0.35, 0);
    band.setColorAt(0, Qt::transparent);
    band.setColorAt(0.5, VarnoColor::surfaceHover().resolved(0.9));
    band.setColorAt(1, Qt::transparent);
    painter.fillPath(shape, band);
}

void showAdded(QWidget *container)
{
    if (!container || !container->isVisible())
        return;
    for (QWidget *child : container->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (!child->testAttribute(Qt::WA_WState_ExplicitShowHide))
            child->show();
    }
}

QWidget *divider(QWidget *parent)
{
    auto *line = new QWidget(parent);
    line->setFixedHeight(1);
    VarnoColor::bindBackground(line, VarnoColor::border());
    return line;
}

QLabel *label(const QString &text, const QFont &font, const ColorPair &color, bool wrap, QWidget *parent)
{
    auto *shown = new QLabel(parent);
    shown->setTextFormat(Qt::PlainText);
    shown->setText(text);
    shown->setFont(font);
    shown->setWordWrap(wrap);
    VarnoColor::bindForeground(shown, color);
    return shown;
}

} // namespace ProvenanceParts
