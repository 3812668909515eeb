// The Workshop window's shelf states, the ghost banner and the ghost review
// sheet, drawn from the engine stand-in's demo library.

#include "screenshots/ScreenshotRegistry.h"

#include "base/Async.h"
#include "engine/EngineGate.h"
#include "engine/VARNOProcess.h"
#include "model/AppModel.h"
#include "shell/WorkshopWindow.h"
#include "workshop/GhostRules.h"
#include "workshop/GhostViews.h"
#include "workshop/ShelfView.h"

#include <QEventLoop>
#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Lets the event loop run for a while (entry animations, answers on their way).
void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

WorkshopWindow *windowOn(AppModel *model, bool detailsMode = false)
{
    // The layout is a stored choice: each picture sets its own.
    model->setDetailsMode(detailsMode);
    auto *window = new WorkshopWindow(model);
    model->setParent(window);
    return window;
}

AppModel *emptyWorkshopModel()
{
    auto *model = new AppModel(ScreenshotLibrary::quietServices());
    model->setShowOnboarding(false);
    return model;
}

// The demo library without its ghosts, or with them (they come with a scan).
AppModel *demoModel(bool withGhosts)
{
    AppModel *model = ScreenshotLibrary::demoModel();
    if (withGhosts) {
        ScreenshotLibrary::runModelTask(model->scan());
        for (int waited = 0; model->isEnrichingSeals() && waited < 100; ++waited)
            settle(100);
    } else {
        model->dismissGhosts();
    }
    return model;
}

// A library of 1,000 apps: the demo library's records over and over, each
// copy under a bundle id and a name of its own.
AppModel *largeModel()
{
    AppModel *model = emptyWorkshopModel();
    model->setHasEverScanned(true);
    const QList<AppRecord> demo = ScreenshotLibrary::demoRecords();
    QList<AppRecord> apps;
    for (int i = 0; !demo.isEmpty() && apps.size() < 1000; ++i) {
        AppRecord record = demo.at(i % demo.size());
        const int round = i / int(demo.size());
        if (round > 0) {
            record.bundle_id += QStringLiteral(".copy%1").arg(round);
            record.app_name += QStringLiteral(" %1").arg(round + 1);
        }
        apps.append(record);
    }
    model->setApps(apps);
    return model;
}

// The window while its first scan is under way. The scan's engine call waits,
// as it waits while the engine is being installed, until the scene closes;
// then it runs, and the scene goes once it has ended, so that nothing of it
// outlives the picture.
class ScanningScene : public QWidget {
public:
    ScanningScene()
        : m_engine(VARNOProcess::varnoRoot())
    {
        AppModel *model = emptyWorkshopModel();
        m_model = model;
        EngineGate::bootstrapStarted(m_engine);
        Async::detach(model->scan());
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(windowOn(model));
    }

    ~ScanningScene() override
    {
        EngineGate::bootstrapFinished(m_engine, nullptr);
        ScreenshotLibrary::waitUntil([this] { return !m_model || !m_model->isScanning(); });
    }

private:
    QString m_engine;
    QPointer<AppModel> m_model;
};

// The shelf shows `state`, and `also` holds of the window and its model.
std::function<void(ScreenshotCheck &)> shelfShows(ShelfRules::ShelfState state, const char *what,
                                                  std::function<void(ScreenshotCheck &, const WorkshopWindow &)> also = {})
{
    return [state, what, also](ScreenshotCheck &check) {
        const WorkshopWindow *window = check.find<WorkshopWindow>();
        check.expect(window && window->shelf()->state() == state,
                     QStringLiteral("the shelf's %1").arg(QLatin1String(what)));
        if (window && check.find<AppModel>() && also)
            also(check, *window);
    };
}

void expectShelfTitle(ScreenshotCheck &check, const WorkshopWindow &window, const QString &title)
{
    check.expect(window.shelf()->stateTitle()->isVisibleTo(window.shelf())
                     && window.shelf()->stateTitle()->text() == title,
                 QStringLiteral("the title \"%1\"").arg(title));
}

} // namespace

void registerWorkshopScenes(ScreenshotRegistry &registry)
{
    using ShelfRules::ShelfState;
    const QSize size(1100, 720);
    registry.add({QStringLiteral("workshop-shelf-loading"), size, [] { return new ScanningScene; },
                  shelfShows(ShelfState::placeholders, "placeholders while the first scan runs",
                             [](ScreenshotCheck &check, const WorkshopWindow &window) {
                                 check.expect(!window.shelf()->placeholders().isEmpty(),
                                              QStringLiteral("placeholder cards"));
                             })});
    registry.add({QStringLiteral("workshop-shelf-first-run"), size, [] { return windowOn(emptyWorkshopModel()); },
                  shelfShows(ShelfState::firstRun, "first run", [](ScreenshotCheck &check, const WorkshopWindow &window) {
                      check.expect(!check.find<AppModel>()->hasEverScanned(), QStringLiteral("a library never scanned"));
                      expectShelfTitle(check, window, QStringLiteral("Let's take a look."));
                  })});
    registry.add({QStringLiteral("workshop-shelf-no-match"), size,
                  [] {
                      WorkshopWindow *window = windowOn(demoModel(false));
                      window->setSearchText(QStringLiteral("no such app"));
                      return window;
                  },
                  // A search that keeps nothing of "All Apps" shows the tidy state.
                  shelfShows(ShelfState::tidy, "tidy state", [](ScreenshotCheck &check, const WorkshopWindow &window) {
                      check.expect(window.shelf()->searchText() == QStringLiteral("no such app")
                                       && window.shelf()->filteredApps().isEmpty()
                                       && !check.find<AppModel>()->apps().isEmpty(),
                                   QStringLiteral("a search that keeps none of the library's apps"));
                  })});
    registry.add(
        {QStringLiteral("workshop-shelf-filter-empty"), size,
         [] {
             AppModel *model = demoModel(false);
             model->setSelectedFilter(AppFilter::verified);
             WorkshopWindow *window = windowOn(model);
             window->setSearchText(QStringLiteral("zzz"));
             return window;
         },
         shelfShows(ShelfState::filterEmpty, "empty filter", [](ScreenshotCheck &check, const WorkshopWindow &window) {
             expectShelfTitle(check, window, ShelfRules::emptyTitle(AppFilter::verified));
         })});
    registry.add({QStringLiteral("workshop-shelf-grid"), size, [] { return windowOn(demoModel(false)); },
                  shelfShows(ShelfState::cardGrid, "card grid", [](ScreenshotCheck &check, const WorkshopWindow &window) {
                      check.expect(window.shelf()->filteredApps().size() == ScreenshotLibrary::demoRecords().size(),
                                   QStringLiteral("every app of the demo library"));
                  })});
    registry.add(
        {QStringLiteral("workshop-shelf-details"), size, [] { return windowOn(demoModel(false), true); },
         shelfShows(ShelfState::detailsList, "detailed rows", [](ScreenshotCheck &check, const WorkshopWindow &window) {
             check.expect(window.shelf()->filteredApps().size() == ScreenshotLibrary::demoRecords().size(),
                          QStringLiteral("every app of the demo library"));
         })});
    const auto thousand = [](ScreenshotCheck &check, const WorkshopWindow &window) {
        check.expect(window.shelf()->filteredApps().size() == 1000, QStringLiteral("1,000 apps"));
    };
    registry.add({QStringLiteral("workshop-shelf-large"), size, [] { return windowOn(largeModel()); },
                  shelfShows(ShelfState::cardGrid, "card grid", thousand)});
    registry.add({QStringLiteral("workshop-shelf-large-details"), size, [] { return windowOn(largeModel(), true); },
                  shelfShows(ShelfState::detailsList, "detailed rows", thousand)});
    registry.add({QStringLiteral("workshop-shelf-error"), size,
                  [] {
                      AppModel *model = emptyWorkshopModel();
                      WorkshopWindow *window = windowOn(model);
                      model->setError(QStringLiteral("The engine exited with status 2: database is locked."));
                      return window;
                  },
                  shelfShows(ShelfState::error, "error", [](ScreenshotCheck &check, const WorkshopWindow &) {
                      check.expectText(QStringLiteral("The engine exited with status 2: database is locked."));
                  })});
    registry.add({QStringLiteral("workshop-ghost-banner"), size,
                  [] {
                      WorkshopWindow *window = windowOn(demoModel(true));
                      settle(WorkshopWindow::kDrawerAnimationMs + 150);
                      return window;
                  },
                  [](ScreenshotCheck &check) {
                      const WorkshopWindow *window = check.find<WorkshopWindow>();
                      const AppModel *model = check.find<AppModel>();
                      const qsizetype ghosts = model ? model->ghostApps().size() : 0;
                      check.expect(ghosts > 0, QStringLiteral("the demo library's ghosts"));
                      check.expect(window && window->ghostBanner()->isVisible(), QStringLiteral("the ghost banner"));
                      check.expect(window && window->ghostBanner()->message().contains(GhostRules::countText(ghosts)),
                                   QStringLiteral("the ghosts' count in the banner"));
                  }});
    registry.add({QStringLiteral("workshop-ghost-sheet"), QSize(600, 480),
                  [] {
                      AppModel *model = demoModel(true);
                      auto *sheet = new GhostAppsView(model);
                      model->setParent(sheet);
                      return static_cast<QWidget *>(sheet);
                  },
                  [](ScreenshotCheck &check) {
                      const GhostAppsView *sheet = check.find<GhostAppsView>();
                      const qsizetype rows = sheet ? sheet->rowMarks().size() : 0;
                      check.expect(rows > 0, QStringLiteral("a row per ghost"));
                      check.expect(sheet && sheet->subtitle() == GhostRules::sheetSubtitle(rows),
                                   QStringLiteral("the ghosts' count in the subtitle"));
                  }});
}
