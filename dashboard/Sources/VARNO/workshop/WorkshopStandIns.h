#pragma once

#include "model/AppFilter.h"
#include "records/AppRecord.h"

#include <QDialog>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class AppModel;
class StyledButton;

// The stand-in for the Workshop's Environment sheet, until its own view is
// built. It has the interface of the view it stands in for (what the window
// hands it, what it hands back) and shows only the plainest form of its
// content, clearly marked as unfinished.
namespace StandIn {

// A sheet: a title, a line and a Close button.
class SheetView : public QDialog {
    Q_OBJECT

public:
    SheetView(const QString &title, QWidget *parent = nullptr);
};

SheetView *makeEnvironmentView(AppModel *model, QWidget *parent);

} // namespace StandIn
