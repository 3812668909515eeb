#pragma once

#include "model/AppModel.h"
#include "records/AppRecord.h"

#include <QList>
#include <QString>
#include <QWidget>

#include <functional>

// The views that the screenshot tool renders. Each subsystem adds its windows,
// sheets and panel states in registerScreenshotScenes(); the tool renders every
// scene in dark and in light.
struct ScreenshotScene {
    QString name;                              // file name stem, e.g. "workshop-window"
    QSize size;                                // the size to render at
    std::function<QWidget *()> create;         // builds the widget, owned by the caller
};

class ScreenshotRegistry {
public:
    void add(ScreenshotScene scene) { m_scenes.append(std::move(scene)); }
    const QList<ScreenshotScene> &scenes() const { return m_scenes; }

private:
    QList<ScreenshotScene> m_scenes;
};

// Registers every scene of every subsystem.
void registerScreenshotScenes(ScreenshotRegistry &registry);

// What the scenes show: the engine stand-in's demo library, as a user sees it
// after the first scan. The engine is installed into the current home (the
// screenshot tool and the tests run in a temporary one), its simulated Mac is
// reset to the demo seed, made instant and scanned once per process.
namespace ScreenshotLibrary {

// Probes that answer at once and touch nothing; nothing is posted or opened.
AppModelServices quietServices();
// The demo library as `list --json --all` reports it; empty (and the reason
// logged as an error) when the engine could not be made ready.
const QList<AppRecord> &demoRecords();
// A model loaded from the engine as the app loads it (library, scan history),
// onboarding done, quiet probes. Owned by `parent`, or by the caller.
AppModel *demoModel(QObject *parent = nullptr);
// Runs one engine command (after the library is ready) or one of the model's
// actions to its end on a local event loop; false, with the reason logged,
// when it failed or took more than two minutes.
bool runEngine(const QStringList &arguments);
bool runModelTask(QCoro::Task<void> task);

} // namespace ScreenshotLibrary

// The app cards' scenes (ScreenshotScenesCards.cpp).
void registerCardScreenshotScenes(ScreenshotRegistry &registry);
// The provenance drawer and the restore sheet.
void registerProvenanceScreenshotScenes(ScreenshotRegistry &registry);
// The Settings window's tabs and their states.
void registerSettingsScreenshotScenes(ScreenshotRegistry &registry);
// The first-run overlay, the Diagnostics sheet and the Environment screen.
void registerPanelsScreenshotScenes(ScreenshotRegistry &registry);

// The Workshop window's shelf states, ghost banner and ghost review sheet.
void registerWorkshopScenes(ScreenshotRegistry &registry);
// The adopt consent, contribution and update-run sheets.
void registerSheetScreenshotScenes(ScreenshotRegistry &registry);
