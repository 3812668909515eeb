#include "widgets/SheetFactories.h"

#include "sheets/AdoptConsentSheet.h"
#include "sheets/ContributeSheet.h"

namespace SheetFactories {

QDialog *makeAdoptConsentSheet(AppModel *model, const AppRecord &app, QWidget *parent)
{
    auto *sheet = new AdoptConsentSheet(model, app, parent);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    return sheet;
}

QDialog *makeContributeSheet(AppModel *model, const AppRecord &app, QWidget *parent)
{
    auto *sheet = new ContributeSheet(model, app, parent);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    return sheet;
}

} // namespace SheetFactories
