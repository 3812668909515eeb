#pragma once

#include "kit/ColorPair.h"

#include <QPainterPath>
#include <QRectF>
#include <QWidget>

class QVariantAnimation;

// The eight-pointed seal of the trust badges: 16 vertices, alternately at the
// outer radius (half the rectangle's shorter side) and 0.8 of it, vertex i at
// the angle i/16·2π − π/2 (y grows downward, so vertex 0 is the top point and
// the vertices run clockwise), centred in the rectangle.
namespace SealShape {
QPainterPath path(const QRectF &rect);
}

// A round trust badge: the seal filled with the badge colour at a low
// opacity, outlined at full opacity, and a bold checkmark in it. It pops in
// the first time it is shown (from 1.2 times its size and transparent, to its
// size and opaque, over 0.28 s, easing out), at once under Reduce Motion, and
// never again for the same badge.
class TrustBadgeView : public QWidget {
    Q_OBJECT

public:
    struct Look {
        ColorPair color;
        qreal fillOpacity = 0.15;
        qreal outlineWidth = 1.5;
        QString accessibilityLabel;
    };

    TrustBadgeView(Look look, int size, QWidget *parent = nullptr);

    int badgeSize() const { return m_size; }
    const Look &look() const { return m_look; }
    bool appeared() const { return m_appeared; }
    // 0 before the pop-in, 1 once it has ended.
    qreal popProgress() const { return m_progress; }
    static constexpr int popInMilliseconds = 280;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    Look m_look;
    int m_size;
    bool m_appeared = false;
    qreal m_progress = 0;
    QVariantAnimation *m_animation = nullptr;
};

// Every trust check passed.
class GreenSealView : public TrustBadgeView {
    Q_OBJECT

public:
    static const QString accessibilityLabelText; // "Green Seal: verified update path"
    explicit GreenSealView(int size, QWidget *parent = nullptr);
};

// A verified path on which one trust check did not pass.
class VerifiedPathView : public TrustBadgeView {
    Q_OBJECT

public:
    static const QString accessibilityLabelText; // "Verified path: one trust check did not pass"
    explicit VerifiedPathView(int size, QWidget *parent = nullptr);
};
