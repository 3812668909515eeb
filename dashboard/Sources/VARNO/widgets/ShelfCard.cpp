#include "widgets/ShelfCard.h"

#include "model/ModelChanges.h"

void connectCardRefresh(AppModel *model, QWidget *card, std::function<void()> refresh)
{
    using F = ModelChanges::Field;
    ModelChanges::follow(model, card,
                         F::updateProgress | F::incidents | F::isUpdating | F::isScanning | F::isFixing
                             | F::singleUpdateToken,
                         std::move(refresh));
}
