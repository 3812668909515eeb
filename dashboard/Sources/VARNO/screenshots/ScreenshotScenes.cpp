#include "screenshots/ScreenshotRegistry.h"

#include "menubar/MenuBarPanel.h"
#include "model/AppModel.h"
#include "platform/Appearance.h"
#include "provenance/ProvenanceDrawerView.h"
#include "screenshots/DesignGallery.h"
#include "settings/SettingsView.h"
#include "shell/TrayHost.h"
#include "shell/VarnoApplication.h"
#include "shell/WorkshopWindow.h"
#include "workshop/ShelfView.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>

namespace {

using ScreenshotLibrary::demoModel;

// The demo library narrowed down to the apps that `keep` accepts.
template<typename Keep>
QList<AppRecord> demoWhere(Keep keep)
{
    QList<AppRecord> apps;
    for (const AppRecord &app : ScreenshotLibrary::demoRecords()) {
        if (keep(app))
            apps.append(app);
    }
    return apps;
}

bool isMas(const AppRecord &app)
{
    return app.update_mechanism == QLatin1String("mas");
}

MenuBarPanel *panelOn(AppModel *model)
{
    auto *panel = new MenuBarPanel(model);
    model->setParent(panel);
    return panel;
}

// The demo library with only `apps` left in it (its scan history stays).
MenuBarPanel *panelWith(const QList<AppRecord> &apps)
{
    AppModel *model = demoModel();
    model->setApps(apps);
    return panelOn(model);
}

// A run under way over the first three outdated apps: one done, one
// installing, one waiting.
MenuBarPanel *runningPanel()
{
    MenuBarPanel *panel = panelOn(demoModel());
    PanelSnapshot snapshot = panel->snapshot();
    const QList<AppRecord> outdated = demoWhere([](const AppRecord &app) { return app.isOutdated(); });
    snapshot.isUpdating = true;
    if (outdated.size() >= 3) {
        snapshot.updateProgress.insert(outdated.at(0).bundle_id, UpdateState::done());
        snapshot.updateProgress.insert(outdated.at(1).bundle_id, UpdateState::running(QStringLiteral("Installing…")));
        snapshot.updateProgress.insert(outdated.at(2).bundle_id, UpdateState::queued(3, 3));
    }
    panel->setSnapshotOverride(snapshot);
    return panel;
}

// The failure a user meets when the engine's scan fails: the engine is told
// to fail its next scan once, and the model's own scan reports it.
AppModel *modelAfterFailedScan()
{
    AppModel *model = demoModel();
    if (ScreenshotLibrary::demoRecords().isEmpty())
        return model;
    const QString rule = QStringLiteral(
        R"json([{"command":"scan","exit":1,"times":1,"stderr":"scan: the library database is locked by another scan (retry in a minute)"}])json");
    ScreenshotLibrary::runEngine({QStringLiteral("sim"), QStringLiteral("knobs"), QStringLiteral("set"), rule});
    ScreenshotLibrary::runModelTask(model->scan());
    return model;
}

WorkshopWindow *workshopFor(bool withDrawer)
{
    AppModel *model = demoModel();
    auto *window = new WorkshopWindow(model);
    model->setParent(window);
    if (withDrawer && !model->outdatedApps().isEmpty())
        window->setShowProvenance(model->outdatedApps().first());
    return window;
}

// The Workshop window's error alert on its own, as the window raises it.
QWidget *errorAlert()
{
    AppModel *model = modelAfterFailedScan();
    if (!model->error())
        model->setError(QStringLiteral("The engine didn't answer."));
    auto *window = new WorkshopWindow(model);
    model->setParent(window);
    QMessageBox *alert = window->errorAlert();
    if (!alert)
        return window;
    alert->setParent(nullptr);
    alert->setAttribute(Qt::WA_DeleteOnClose, false);
    QObject::connect(alert, &QObject::destroyed, [window] { delete window; });
    return alert;
}

// The menu-bar label as the tray shows it, on a strip of a desktop panel of
// the scene's appearance.
QWidget *trayLabel()
{
    const bool dark = Appearance::instance().isDark();
    const QColor panelColour = dark ? QColor(0x2b, 0x2b, 0x2b) : QColor(0xec, 0xec, 0xec);
    const QColor textColour = dark ? QColor(Qt::white) : QColor(Qt::black);
    auto *strip = new QWidget;
    strip->setAutoFillBackground(true);
    QPalette palette = strip->palette();
    palette.setColor(QPalette::Window, panelColour);
    strip->setPalette(palette);
    AppModel *model = demoModel(strip);
    auto *layout = new QHBoxLayout(strip);
    layout->setContentsMargins(8, 3, 8, 3);
    auto *label = new QLabel(strip);
    label->setAccessibleName(MenuBarLabel::toolTip(*model));
    const QImage image = MenuBarLabel::render(MenuBarLabel::templateIcon(), MenuBarLabel::countText(*model), textColour,
                                              2.0);
    label->setPixmap(QPixmap::fromImage(image));
    layout->addWidget(label);
    layout->addStretch();
    return strip;
}

QWidget *settingsWindow()
{
    AppModel *model = demoModel();
    QWidget *settings = VarnoApplication::makeSettingsWindow(model);
    model->setParent(settings);
    return settings;
}

const char *panelStateName(PanelState state)
{
    switch (state) {
    case PanelState::running:
        return "running";
    case PanelState::error:
        return "error";
    case PanelState::loadFailed:
        return "load failed";
    case PanelState::needsScan:
        return "needs scan";
    case PanelState::pending:
        return "pending";
    case PanelState::clean:
        return "clean";
    case PanelState::unmeasured:
        return "unmeasured";
    }
    return "?";
}

// The panel shows the body of `state`, whose text holds `text`.
std::function<void(ScreenshotCheck &)> panelShows(PanelState state, QString text)
{
    return [state, text](ScreenshotCheck &check) {
        const MenuBarPanel *panel = check.find<MenuBarPanel>();
        check.expect(panel && panel->state() == state,
                     QStringLiteral("the panel's %1 body").arg(QLatin1String(panelStateName(state))));
        check.expectText(text);
    };
}

const char *const failedScanText = "the library database is locked by another scan";

} // namespace

void registerScreenshotScenes(ScreenshotRegistry &registry)
{
    const QSize panelSize(MenuBarPanel::kWidth, 10);
    registry.add({QStringLiteral("panel-running"), panelSize, [] { return runningPanel(); },
                  [](ScreenshotCheck &check) {
                      panelShows(PanelState::running, QStringLiteral("Installing…"))(check);
                      check.expectText(QStringLiteral("Pause"));
                  }});
    registry.add({QStringLiteral("panel-error"), panelSize, [] { return panelOn(modelAfterFailedScan()); },
                  [](ScreenshotCheck &check) {
                      panelShows(PanelState::error, QStringLiteral("Something's not right."))(check);
                      const MenuBarPanel *panel = check.find<MenuBarPanel>();
                      const QString error = panel ? panel->snapshot().error.value_or(QString()) : QString();
                      check.expect(error.contains(QLatin1String(failedScanText)),
                                   QStringLiteral("the engine's failed scan as the model's error"));
                  }});
    registry.add({QStringLiteral("panel-load-failed"), panelSize, [] { return panelWith({}); },
                  panelShows(PanelState::loadFailed, QStringLiteral("Library didn't load."))});
    registry.add({QStringLiteral("panel-needs-scan"), panelSize,
                  [] {
                      auto *model = new AppModel(ScreenshotLibrary::quietServices());
                      model->setShowOnboarding(false);
                      return panelOn(model);
                  },
                  panelShows(PanelState::needsScan, QStringLiteral("Nothing scanned yet."))});
    registry.add({QStringLiteral("panel-pending"), panelSize, [] { return panelOn(demoModel()); },
                  [](ScreenshotCheck &check) {
                      const MenuBarPanel *panel = check.find<MenuBarPanel>();
                      const qsizetype outdated = panel ? panel->snapshot().outdatedCount : 0;
                      check.expect(outdated > 0, QStringLiteral("outdated apps"));
                      panelShows(PanelState::pending, QStringLiteral("Update all (%1)").arg(outdated))(check);
                  }});
    registry.add({QStringLiteral("panel-clean"), panelSize,
                  [] {
                      return panelWith(demoWhere([](const AppRecord &app) {
                          return !app.isOutdated() && !app.isUnmeasured() && !app.isUnknownStatus();
                      }));
                  },
                  panelShows(PanelState::clean, QStringLiteral("All tidy."))});
    registry.add({QStringLiteral("panel-unmeasured"), panelSize,
                  [] { return panelWith(demoWhere([](const AppRecord &app) { return !app.isOutdated(); })); },
                  [](ScreenshotCheck &check) {
                      const MenuBarPanel *panel = check.find<MenuBarPanel>();
                      const qsizetype gaps = panel ? panel->snapshot().sensingGapCount : 0;
                      panelShows(PanelState::unmeasured, MenuBarPanelText::unmeasuredHeadline(gaps))(check);
                  }});
    registry.add({QStringLiteral("panel-detection-incomplete"), panelSize,
                  [] { return panelWith(demoWhere([](const AppRecord &app) { return !isMas(app); })); },
                  [](ScreenshotCheck &check) {
                      const MenuBarPanel *panel = check.find<MenuBarPanel>();
                      check.expect(panel && panel->snapshot().hasDetectionFailure, QStringLiteral("a detection failure"));
                      check.expectText(QStringLiteral("Detection incomplete"));
                  }});
    registry.add({QStringLiteral("workshop-window"), QSize(1100, 720), [] { return workshopFor(false); },
                  [](ScreenshotCheck &check) {
                      const WorkshopWindow *window = check.find<WorkshopWindow>();
                      check.expect(window && window->shelf()->state() == ShelfRules::ShelfState::cardGrid
                                       && !window->shelf()->filteredApps().isEmpty(),
                                   QStringLiteral("the library's cards"));
                      check.expect(window && !window->drawer(), QStringLiteral("no drawer"));
                  }});
    registry.add({QStringLiteral("workshop-drawer"), QSize(1100, 720), [] { return workshopFor(true); },
                  [](ScreenshotCheck &check) {
                      const WorkshopWindow *window = check.find<WorkshopWindow>();
                      const ProvenanceDrawerView *drawer = window ? window->drawer() : nullptr;
                      check.expect(drawer && drawer->isVisible() && drawer->app().isOutdated(),
                                   QStringLiteral("the drawer of an outdated app"));
                  }});
    registry.add({QStringLiteral("workshop-error-alert"), QSize(420, 10), [] { return errorAlert(); },
                  [](ScreenshotCheck &check) {
                      const QMessageBox *alert = check.find<QMessageBox>();
                      check.expect(alert && alert->informativeText().contains(QLatin1String(failedScanText)),
                                   QStringLiteral("the alert of the engine's failed scan"));
                  }});
    registry.add({QStringLiteral("settings-window"), QSize(680, 580), [] { return settingsWindow(); },
                  [](ScreenshotCheck &check) {
                      const SettingsView *settings = check.find<SettingsView>();
                      check.expect(settings && settings->tabs()->currentIndex() == SettingsView::general,
                                   QStringLiteral("the General tab"));
                  }});
    registry.add({QStringLiteral("menu-bar-label"), QSize(120, 30), [] { return trayLabel(); },
                  [](ScreenshotCheck &check) {
                      const QLabel *label = check.find<QLabel>();
                      check.expect(label && !label->pixmap().isNull(), QStringLiteral("the label's picture"));
                      check.expectText(QStringLiteral(" outdated"));
                  }});
    registerWorkshopScenes(registry);
    registry.add({QStringLiteral("design-tokens"), QSize(920, 520), [] { return DesignGallery::createTokensView(); },
                  [](ScreenshotCheck &check) {
                      check.expectText(QStringLiteral("Colour tokens"));
                      check.expectText(QStringLiteral("Faces"));
                  }});
    registry.add({QStringLiteral("design-buttons"), QSize(860, 620), [] { return DesignGallery::createButtonsView(); },
                  [](ScreenshotCheck &check) {
                      check.expectText(QStringLiteral("Window buttons"));
                      check.expectText(QStringLiteral("Panel buttons"));
                  }});
    registry.add({QStringLiteral("design-brand"), QSize(860, 560), [] { return DesignGallery::createBrandView(); },
                  [](ScreenshotCheck &check) {
                      check.expectText(QStringLiteral("Brusk"));
                      check.expectText(QStringLiteral("Head icons, menu-bar and app icons, wordmark"));
                  }});
    registerCardScreenshotScenes(registry);
    registerProvenanceScreenshotScenes(registry);
    registerSettingsScreenshotScenes(registry);
    registerSheetScreenshotScenes(registry);
    registerPanelsScreenshotScenes(registry);
}
