#include "kit/HoverFade.h"

#include "platform/Appearance.h"

#include <QVariantAnimation>
#include <QWidget>

HoverFade::HoverFade(QWidget *target, const QEasingCurve &curve)
    : QObject(target)
    , m_target(target)
    , m_animation(new QVariantAnimation(this))
{
    m_animation->setDuration(durationMilliseconds);
    m_animation->setEasingCurve(curve);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_progress = value.toReal();
        m_target->update();
    });
}

void HoverFade::setHovered(bool hovered, bool animate)
{
    if (m_hovered == hovered)
        return;
    m_hovered = hovered;
    if (!animate)
        return;
    const qreal target = hovered ? 1.0 : 0.0;
    m_animation->stop();
    if (Appearance::instance().reduceMotion() || !m_target->isVisible()) {
        m_progress = target;
        m_target->update();
        return;
    }
    m_animation->setStartValue(m_progress);
    m_animation->setEndValue(target);
    m_animation->start();
}

void HoverFade::clear()
{
    m_animation->stop();
    m_progress = 0;
}
