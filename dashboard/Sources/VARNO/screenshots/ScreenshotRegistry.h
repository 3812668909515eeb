#pragma once

#include "model/AppModel.h"
#include "records/AppRecord.h"

#include <QList>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>

// What a scene's check finds missing from its picture: the state the scene is
// named for, as its model and its views report it once it is drawn.
class ScreenshotCheck {
public:
    explicit ScreenshotCheck(QWidget *scene)
        : m_scene(scene)
    {
    }

    QWidget *scene() const { return m_scene; }
    // The scene's widget itself when it is a T, else its first descendant
    // that is one (nullptr when there is none).
    template<typename T>
    T *find() const
    {
        if (auto *self = qobject_cast<T *>(m_scene))
            return self;
        return m_scene ? m_scene->findChild<T *>() : nullptr;
    }

    // Notes `what` as missing unless it holds.
    void expect(bool holds, const QString &what);
    // Notes the text as missing unless a widget of the scene that shows holds
    // it in its text or its accessible name; expectNoText the other way round.
    void expectText(const QString &text);
    void expectNoText(const QString &text);
    bool showsText(const QString &text) const;

    const QStringList &missing() const { return m_missing; }

private:
    QWidget *m_scene;
    QStringList m_missing;
};

// The views that the screenshot tool renders. Each subsystem adds its windows,
// sheets and panel states in registerScreenshotScenes(); the tool renders every
// scene in dark and in light, and fails when a scene does not show the state
// it is named for.
struct ScreenshotScene {
    QString name;                                 // file name stem, e.g. "workshop-window"
    QSize size;                                   // the size to render at
    std::function<QWidget *()> create;            // builds the widget, owned by the caller
    std::function<void(ScreenshotCheck &)> check; // what the drawn scene must show
};

// One scene drawn as the screenshot tool draws it: the home put back as the
// demo library left it (ScreenshotLibrary::resetHome), the scene built at its
// size, shown, settled and grabbed, then checked. `missing` says what the
// scene did not show (also when it could not be built, or has no check).
struct ScreenshotShot {
    QPixmap picture;
    QStringList missing;
};
ScreenshotShot takeScreenshot(const ScreenshotScene &scene);

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
// Runs the event loop until `done` holds (asked every few milliseconds), at
// most two minutes; whether it holds.
bool waitUntil(const std::function<bool()> &done);
// Puts the home back as demoRecords() left it, so that no scene sees what an
// earlier one did: the settings emptied, and the engine's data (the simulated
// Mac, its library, ghosts and knobs) as it was after the first scan. Waits
// first (at most two minutes) for the engine children still running to end.
// False, with the reason logged, when it could not.
bool resetHome();

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
