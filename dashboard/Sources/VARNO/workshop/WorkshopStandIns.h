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

// Stand-ins for the Workshop's Environment and Diagnostics sheets, until
// their own views are built. Each has the interface of the view it stands in
// for (what the window hands it, what it hands back) and shows only the plainest form of its
// content, clearly marked as unfinished.
namespace StandIn {

// A sheet: a title, a line and a Close button. The Diagnostics stand-in
// counts the health checks it was asked to run.
class SheetView : public QDialog {
    Q_OBJECT

public:
    SheetView(const QString &title, QWidget *parent = nullptr);
    int healthChecksRequested() const { return m_healthChecks; }
    void noteHealthCheckRequested() { ++m_healthChecks; }

private:
    int m_healthChecks = 0;
};

SheetView *makeEnvironmentView(AppModel *model, QWidget *parent);
SheetView *makeDiagnosticsView(AppModel *model, QWidget *parent);

} // namespace StandIn
