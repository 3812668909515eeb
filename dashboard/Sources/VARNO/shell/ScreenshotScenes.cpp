#include "shell/ScreenshotRegistry.h"

#include "model/AppModel.h"
#include "platform/Appearance.h"
#include "shell/DesignGallery.h"
#include "shell/MenuBarPanel.h"
#include "shell/TrayHost.h"
#include "shell/VarnoApplication.h"
#include "workshop/WorkshopWindow.h"

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
    const QImage image = MenuBarLabel::render(MenuBarLabel::templateIcon(), MenuBarLabel::countText(*model),
                                              textColour, 2.0);
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

} // namespace

void registerScreenshotScenes(ScreenshotRegistry &registry)
{
    const QSize panelSize(MenuBarPanel::kWidth, 10);
    registry.add({QStringLiteral("panel-running"), panelSize, [] { return runningPanel(); }});
    registry.add({QStringLiteral("panel-error"), panelSize, [] { return panelOn(modelAfterFailedScan()); }});
    registry.add({QStringLiteral("panel-load-failed"), panelSize, [] { return panelWith({}); }});
    registry.add({QStringLiteral("panel-needs-scan"), panelSize, [] {
                      auto *model = new AppModel(ScreenshotLibrary::quietServices());
                      model->setShowOnboarding(false);
                      return panelOn(model);
                  }});
    registry.add({QStringLiteral("panel-pending"), panelSize, [] { return panelOn(demoModel()); }});
    registry.add({QStringLiteral("panel-clean"), panelSize, [] {
                      return panelWith(demoWhere([](const AppRecord &app) {
                          return !app.isOutdated() && !app.isUnmeasured() && !app.isUnknownStatus();
                      }));
                  }});
    registry.add({QStringLiteral("panel-unmeasured"), panelSize,
                  [] { return panelWith(demoWhere([](const AppRecord &app) { return !app.isOutdated(); })); }});
    registry.add({QStringLiteral("panel-detection-incomplete"), panelSize,
                  [] { return panelWith(demoWhere([](const AppRecord &app) { return !isMas(app); })); }});
    registry.add({QStringLiteral("workshop-window"), QSize(1100, 720), [] { return workshopFor(false); }});
    registry.add({QStringLiteral("workshop-drawer"), QSize(1100, 720), [] { return workshopFor(true); }});
    registry.add({QStringLiteral("workshop-error-alert"), QSize(420, 10), [] { return errorAlert(); }});
    registry.add({QStringLiteral("settings-window"), QSize(680, 580), [] { return settingsWindow(); }});
    registry.add({QStringLiteral("menu-bar-label"), QSize(120, 30), [] { return trayLabel(); }});
    registerWorkshopScenes(registry);
    registry.add({QStringLiteral("design-tokens"), QSize(920, 520), [] { return DesignGallery::createTokensView(); }});
    registry.add({QStringLiteral("design-buttons"), QSize(860, 620), [] { return DesignGallery::createButtonsView(); }});
    registry.add({QStringLiteral("design-brand"), QSize(860, 560), [] { return DesignGallery::createBrandView(); }});
    registerCardScreenshotScenes(registry);
    registerProvenanceScreenshotScenes(registry);
    registerSettingsScreenshotScenes(registry);
    registerSheetScreenshotScenes(registry);
    registerPanelsScreenshotScenes(registry);
}
