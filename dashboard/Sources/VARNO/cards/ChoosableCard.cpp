#include "cards/ChoosableCard.h"

#include "kit/HoverFade.h"

#include <QContextMenuEvent>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

namespace {

const QEasingCurve &easeOut()
{
    static const QEasingCurve curve = [] {
        QEasingCurve made(QEasingCurve::BezierSpline);
        made.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
        return made;
    }();
    return curve;
}

} // namespace

ChoosableCard::ChoosableCard(QWidget *parent)
    : ShelfCard(parent)
    , m_hover(new HoverFade(this, easeOut()))
{
}

bool ChoosableCard::isHovered() const
{
    return m_hover->isHovered();
}

qreal ChoosableCard::hoverProgress() const
{
    return m_hover->progress();
}

void ChoosableCard::enterEvent(QEnterEvent *event)
{
    ShelfCard::enterEvent(event);
    m_hover->setHovered(true);
}

void ChoosableCard::leaveEvent(QEvent *event)
{
    ShelfCard::leaveEvent(event);
    m_hover->setHovered(false);
}

void ChoosableCard::focusInEvent(QFocusEvent *event)
{
    ShelfCard::focusInEvent(event);
    update();
}

void ChoosableCard::focusOutEvent(QFocusEvent *event)
{
    ShelfCard::focusOutEvent(event);
    update();
}

void ChoosableCard::keyPressEvent(QKeyEvent *event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier) {
        openProvenance();
        event->accept();
        return;
    }
    ShelfCard::keyPressEvent(event);
}

void ChoosableCard::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
    ShelfCard::mousePressEvent(event);
}

void ChoosableCard::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    m_pressed = false;
    if (click) {
        openProvenance();
        event->accept();
        return;
    }
    ShelfCard::mouseReleaseEvent(event);
}

void ChoosableCard::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = buildContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
    event->accept();
}
