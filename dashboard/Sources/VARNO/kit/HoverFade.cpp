#include "kit/HoverFade.h"

#include "platform/Appearance.h"

#include <QVariantAnimation>
#include <QWidget>

HoverFade::HoverFade(QWidget *target, const QEasingCurve &curve)
    : QObject(target)
    , m_target(target)
    , m_curve(curve)
{
}

QVariantAnimation *HoverFade::animation()
{
    // Made at the first fade: a shelf builds many cards and buttons that the
    // pointer never crosses.
    if (!m_animation) {
        m_animation = new QVariantAnimation(this);
        m_animation->setDuration(durationMilliseconds);
        m_animation->setEasingCurve(m_curve);
        connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
            m_progress = value.toReal();
            m_target->update();
        });
    }
    return m_animation;
}

void HoverFade::setHovered(bool hovered, bool animate)
{
    if (m_hovered == hovered)
        return;
    m_hovered = hovered;
    if (!animate)
        return;
    const qreal target = hovered ? 1.0 : 0.0;
    if (m_animation)
        m_animation->stop();
    if (Appearance::instance().reduceMotion() || !m_target->isVisible()) {
        m_progress = target;
        m_target->update();
        return;
    }
    QVariantAnimation *fade = animation();
    fade->setStartValue(m_progress);
    fade->setEndValue(target);
    fade->start();
}

void HoverFade::clear()
{
    if (m_animation)
        m_animation->stop();
    m_progress = 0;
}
