#pragma once

#include <QEasingCurve>
#include <QObject>

class QVariantAnimation;
class QWidget;

// The hover look of a control, eased in and out over 80 ms: tracks whether
// the pointer is over the widget and how far the look has come (0 to 1),
// repainting the widget as it moves. With reduced motion, or while the widget
// is hidden, the look jumps to its end at once.
class HoverFade : public QObject {
    Q_OBJECT

public:
    HoverFade(QWidget *target, const QEasingCurve &curve);

    bool isHovered() const { return m_hovered; }
    qreal progress() const { return m_progress; }

    // Records the pointer entering or leaving; with `animate` false the look
    // stays where it is (a control without a hover look).
    void setHovered(bool hovered, bool animate = true);
    // Drops the look at once (a control that stopped having one).
    void clear();

    static constexpr int durationMilliseconds = 80;

private:
    QVariantAnimation *animation();

    QWidget *m_target;
    QEasingCurve m_curve;
    QVariantAnimation *m_animation = nullptr;
    bool m_hovered = false;
    qreal m_progress = 0;
};
