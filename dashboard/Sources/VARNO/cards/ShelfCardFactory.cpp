#include "widgets/ShelfCard.h"

#include "cards/AppCardDetailView.h"
#include "cards/AppCardSimpleView.h"

ShelfCard *makeShelfCard(AppModel *model, bool detailsMode, std::function<void(const AppRecord &)> showProvenance,
                         QWidget *parent)
{
    if (detailsMode)
        return new AppCardDetailView(model, AppRecord{}, std::move(showProvenance), parent);
    return new AppCardSimpleView(model, AppRecord{}, std::move(showProvenance), parent);
}
