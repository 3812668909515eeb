#include "workshop/ShelfCard.h"

#include "workshop/WorkshopStandIns.h"

ShelfCard *makeShelfCard(AppModel *model, bool detailsMode, std::function<void(const AppRecord &)> showProvenance,
                         QWidget *parent)
{
    return new StandIn::ShelfCardStandIn(model, detailsMode, std::move(showProvenance), parent);
}
