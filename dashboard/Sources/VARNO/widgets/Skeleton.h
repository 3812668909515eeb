#pragma once

#include <QList>
#include <QPainterPath>
#include <QWidget>

#include <optional>

class QVariantAnimation;

// A loading placeholder: the shape of some content drawn as a faint warm
// grey (the secondary text colour at 0.25), with a soft band (the primary text
// colour at 0.08, clear at both ends, 0.6 of the width wide) sweeping across
// it from beyond the leading edge to beyond the trailing edge every 1.6 s,
// eased in and out. The band is only ever drawn inside the shape. Under
// Reduce Motion the shape stays still and there is no band.
//
// The sweep starts when the placeholder is shown and starts again from the
// leading edge each time it is shown anew.
class Skeleton : public QWidget {
    Q_OBJECT
    Q_PROPERTY(qreal phase READ phase WRITE setPhase)

public:
    // A rounded rectangle filling the widget (the shape of a block or a bar).
    explicit Skeleton(qreal cornerRadius = 4, QWidget *parent = nullptr);

    // Another shape, in the widget's coordinates.
    void setShape(const QPainterPath &shape);
    QPainterPath shape() const;

    // 0 while the band lies beyond the leading edge, 1 beyond the trailing one.
    qreal phase() const { return m_phase; }
    void setPhase(qreal phase);
    bool isSweeping() const;

    // The band's left edge for a shape of `width` at `phase`:
    // phase × width × 1.8 − width × 0.6, and its width, 0.6 × width.
    static qreal bandOffset(qreal phase, qreal width) { return phase * width * 1.8 - width * 0.6; }
    static qreal bandWidth(qreal width) { return width * 0.6; }
    static constexpr int kSweepMs = 1600;
    static constexpr qreal kShapeOpacity = 0.25;
    static constexpr qreal kBandOpacity = 0.08;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void syncMotion();

    qreal m_cornerRadius;
    std::optional<QPainterPath> m_shape;
    qreal m_phase = 0;
    QVariantAnimation *m_sweep;
};

// Wraps a fixed-size block of `size` with corner radius `cornerRadius` as a
// placeholder (the form the drawer's and the Diagnostics sheet's placeholder
// rows take).
Skeleton *skeleton(QSize size, qreal cornerRadius, QWidget *parent);

// The placeholder of an application card: on a card surface (radius 12, a
// hairline border) an icon block (38 × 38, radius 8), a name bar (120 × 16)
// over a version bar (80 × 12), and a button block (56 × 24) at the trailing
// edge, padded 16. Read by assistive technology once, as "Loading app".
class SkeletonAppCardView : public QWidget {
    Q_OBJECT

public:
    explicit SkeletonAppCardView(QWidget *parent = nullptr);

    static QString accessibleLabel(); // "Loading app"
    QList<Skeleton *> shapes() const { return m_shapes; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QList<Skeleton *> m_shapes;
};
