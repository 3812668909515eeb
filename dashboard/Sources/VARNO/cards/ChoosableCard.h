#pragma once

#include "widgets/ShelfCard.h"

class HoverFade;
class QMenu;

// What both of the shelf's cards do with the pointer and the keyboard: the
// hover look eases in and out, focus repaints the ring, a left click released
// over the card or Return opens the app's provenance, and a right click opens
// the card's context menu.
class ChoosableCard : public ShelfCard {
    Q_OBJECT

public:
    explicit ChoosableCard(QWidget *parent = nullptr);

    bool isHovered() const;
    qreal hoverProgress() const;

    // Selects the app and opens its provenance drawer.
    virtual void openProvenance() = 0;
    // The context menu as it would open now (the caller owns it).
    virtual QMenu *buildContextMenu() = 0;

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    HoverFade *m_hover;
    bool m_pressed = false;
};
