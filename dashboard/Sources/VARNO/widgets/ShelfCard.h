#pragma once

#include "records/AppRecord.h"

#include <QString>
#include <QWidget>

#include <functional>

class AppModel;

// One application's card on the shelf: the simple card of the grid, or the
// detailed row of the details list. The layout is fixed when the card is made.
//
// The shelf builds cards lazily: only the cards in view exist, and as the view
// scrolls a card is bound to another record instead of being rebuilt. So a
// card keeps nothing of its former record once it is bound to a new one (its
// hover, focus and pending confirmations are its own concern; a card with a
// dialog open for one record may simply close it when re-bound).
//
// The shelf lays the cards out itself: it places each one with setGeometry()
// at the height heightFor() gives, and lays out again whenever the model
// publishes a change, so a card never needs to ask for room.
class ShelfCard : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;

    // Shows `record` (the shelf's copy of the model's record). Called again
    // with the same bundle id when that record changed, and with another one
    // when the card is reused for another application.
    virtual void bind(const AppRecord &record) = 0;

    // The bundle id of the bound record; empty before the first bind().
    virtual QString bundleId() const = 0;

    // The height the card needs at `width` to show `record`, in its own
    // layout (simple or details), without binding it. The shelf asks this of
    // one card for each record it lays out and keeps the answer, so it must
    // not build widgets, and it may depend only on the record, the width, the
    // fonts and the model state a card follows (connectCardRefresh(): say,
    // whether an incident line shows under the row); the shelf measures again
    // when any of these change.
    virtual int heightFor(const AppRecord &record, int width) const = 0;
};

// Makes a card for the shelf: the simple card when `detailsMode` is false,
// the detailed row when it is true. Choosing the card (a click, Return)
// calls `showProvenance` with its record, which opens the provenance drawer.
// The card starts unbound; the shelf binds it before showing it.
ShelfCard *makeShelfCard(AppModel *model, bool detailsMode, std::function<void(const AppRecord &)> showProvenance,
                         QWidget *parent);

// Calls `refresh` on every model change that can change what a card shows;
// the connections end with `card`.
void connectCardRefresh(AppModel *model, QWidget *card, std::function<void()> refresh);
