// The Workshop window's shelf states, the ghost banner and the ghost review
// sheet, drawn from the engine stand-in's demo library.

#include "shell/ScreenshotRegistry.h"

#include "model/AppModel.h"
#include "workshop/GhostViews.h"
#include "workshop/WorkshopWindow.h"

#include <QEventLoop>
#include <QTimer>

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

WorkshopWindow *loadingWindow()
{
    AppModel *model = emptyWorkshopModel();
    if (!ScreenshotLibrary::demoRecords().isEmpty()) {
        // A first scan that takes its time: the window is drawn meanwhile.
        ScreenshotLibrary::runEngine({QStringLiteral("sim"), QStringLiteral("knobs"), QStringLiteral("set"),
                                      QStringLiteral("{\"rules\":[{\"command\":\"scan\",\"delay\":2,\"times\":1}]}")});
        model->scan(); // runs on; the model drops its answer when the window goes
    }
    return windowOn(model);
}

} // namespace

void registerWorkshopScenes(ScreenshotRegistry &registry)
{
    const QSize size(1100, 720);
    // First: its slow scan ends in the background while the others are drawn.
    registry.add({QStringLiteral("workshop-shelf-loading"), size, [] { return loadingWindow(); }});
    registry.add({QStringLiteral("workshop-shelf-first-run"), size, [] { return windowOn(emptyWorkshopModel()); }});
    registry.add({QStringLiteral("workshop-shelf-no-match"), size, [] {
                      WorkshopWindow *window = windowOn(demoModel(false));
                      window->setSearchText(QStringLiteral("no such app"));
                      return window;
                  }});
    registry.add({QStringLiteral("workshop-shelf-filter-empty"), size, [] {
                      AppModel *model = demoModel(false);
                      model->setSelectedFilter(AppFilter::verified);
                      WorkshopWindow *window = windowOn(model);
                      window->setSearchText(QStringLiteral("zzz"));
                      return window;
                  }});
    registry.add({QStringLiteral("workshop-shelf-grid"), size, [] { return windowOn(demoModel(false)); }});
    registry.add({QStringLiteral("workshop-shelf-details"), size, [] { return windowOn(demoModel(false), true); }});
    registry.add({QStringLiteral("workshop-shelf-large"), size, [] { return windowOn(largeModel()); }});
    registry.add({QStringLiteral("workshop-shelf-large-details"), size, [] { return windowOn(largeModel(), true); }});
    registry.add({QStringLiteral("workshop-shelf-error"), size, [] {
                      AppModel *model = emptyWorkshopModel();
                      WorkshopWindow *window = windowOn(model);
                      model->setError(QStringLiteral("The engine exited with status 2: database is locked."));
                      return window;
                  }});
    registry.add({QStringLiteral("workshop-ghost-banner"), size, [] {
                      WorkshopWindow *window = windowOn(demoModel(true));
                      settle(WorkshopWindow::kDrawerAnimationMs + 150);
                      return window;
                  }});
    registry.add({QStringLiteral("workshop-ghost-sheet"), QSize(600, 480), [] {
                      AppModel *model = demoModel(true);
                      auto *sheet = new GhostAppsView(model);
                      model->setParent(sheet);
                      return static_cast<QWidget *>(sheet);
                  }});
}
