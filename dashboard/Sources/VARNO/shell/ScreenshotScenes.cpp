#include "shell/ScreenshotRegistry.h"

#include "model/AppModel.h"
#include "platform/Clock.h"
#include "shell/DesignGallery.h"
#include "shell/MenuBarPanel.h"
#include "workshop/WorkshopWindow.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

// Probes that answer at once and touch nothing.
AppModelServices quietServices()
{
    AppModelServices services;
    services.detectOpenCore = [](double) { return false; };
    services.checkBrew = [](double) { return MechanismHealth::healthy(); };
    services.checkMas = [](double) { return MechanismHealth::healthy(); };
    services.checkSoftwareUpdate = [](double) -> QCoro::Task<MacOSUpdateStatus> { co_return MacOSUpdateStatus::upToDate(); };
    services.notifyUpdates = [](int, const QStringList &) {};
    services.revealFile = [](const QString &) {};
    return services;
}

AppRecord record(const char *json)
{
    return AppRecord::fromJson(QJsonDocument::fromJson(QByteArray(json)).object()).value_or(AppRecord{});
}

// A small library with every mechanism, some apps outdated (one urgent),
// some verified and some not fully checked.
QList<AppRecord> sampleLibrary()
{
    return {
        record(R"({"bundle_id":"org.sample.quarry","app_name":"Quarry","current_version":"4.2.0","latest_version":"4.3.1","update_mechanism":"cask","risk_tier":"high","last_sha256":"ab12","last_team_id":"QRY123"})"),
        record(R"({"bundle_id":"org.sample.lantern","app_name":"Lantern","current_version":"2.0.3","latest_version":"2.1.0","update_mechanism":"sparkle"})"),
        record(R"({"bundle_id":"org.sample.saltmarsh","app_name":"Saltmarsh","current_version":"1.8","latest_version":"1.9","update_mechanism":"mas"})"),
        record(R"({"bundle_id":"org.sample.fernwood","app_name":"Fernwood","current_version":"12.1","latest_version":"12.1","update_mechanism":"cask","last_sha256":"cd34","last_team_id":"FRN456"})"),
        record(R"({"bundle_id":"org.sample.pebblenote","app_name":"Pebblenote","current_version":"3.3","latest_version":"3.3","update_mechanism":"sparkle","last_sha256":"ef56","last_team_id":"PBL789"})"),
        record(R"({"bundle_id":"org.sample.tidepool","app_name":"Tidepool","current_version":"7.0","update_mechanism":"vendor_self_update","version_check_status":"current"})"),
    };
}

// Only current, fully checked apps.
QList<AppRecord> tidyLibrary()
{
    QList<AppRecord> apps;
    for (const AppRecord &app : sampleLibrary()) {
        if (!app.isOutdated())
            apps.append(app);
    }
    apps.append(record(R"({"bundle_id":"org.sample.harbor","app_name":"Harbor","current_version":"5.1","latest_version":"5.1","update_mechanism":"mas"})"));
    return apps;
}

// Current apps, of which two have no independent version check.
QList<AppRecord> partlyCheckedLibrary()
{
    QList<AppRecord> apps = tidyLibrary();
    apps.append(record(R"({"bundle_id":"org.sample.ledger","app_name":"Ledger","current_version":"9.4","update_mechanism":"mas","version_check_status":"unmeasured"})"));
    apps.append(record(R"({"bundle_id":"org.sample.copper","app_name":"Copper","current_version":"1.0","update_mechanism":"cask","version_check_status":"unknown"})"));
    return apps;
}

struct PanelSetup {
    QList<AppRecord> apps;
    bool hasEverScanned = true;
    std::optional<qint64> minutesSinceScan = 12;
    std::optional<QString> error;
};

MenuBarPanel *panelFor(const PanelSetup &setup)
{
    auto *model = new AppModel(quietServices());
    model->setApps(setup.apps);
    model->setHasEverScanned(setup.hasEverScanned);
    model->setError(setup.error);
    auto *panel = new MenuBarPanel(model);
    model->setParent(panel);
    if (setup.minutesSinceScan) {
        // The model sets its scan date only when it scans; the panel is
        // shown as it would be twelve minutes after one.
        PanelSnapshot snapshot = PanelSnapshot::of(*model);
        snapshot.lastScanDate = Clock::now().addSecs(-60 * *setup.minutesSinceScan);
        PostureSnapshot posture;
        posture.error = snapshot.error;
        posture.hasEverScanned = snapshot.hasEverScanned;
        posture.lastScanDate = snapshot.lastScanDate;
        posture.outdatedCount = snapshot.outdatedCount;
        posture.atRiskCount = snapshot.atRiskCount;
        posture.sensingGapCount = snapshot.sensingGapCount;
        snapshot.posture = PosturePresenter::menuBar(posture);
        panel->setSnapshotOverride(snapshot);
    }
    return panel;
}

// A run under way: one app done, one installing, one waiting.
MenuBarPanel *runningPanel()
{
    MenuBarPanel *panel = panelFor({sampleLibrary()});
    PanelSnapshot snapshot = panel->snapshot();
    snapshot.isUpdating = true;
    snapshot.updateProgress.insert(QStringLiteral("org.sample.quarry"), UpdateState::done());
    snapshot.updateProgress.insert(QStringLiteral("org.sample.lantern"), UpdateState::running(QStringLiteral("Installing…")));
    snapshot.updateProgress.insert(QStringLiteral("org.sample.saltmarsh"), UpdateState::queued(3, 3));
    panel->setSnapshotOverride(snapshot);
    return panel;
}

WorkshopWindow *workshopFor(bool withDrawer)
{
    auto *model = new AppModel(quietServices());
    model->setApps(sampleLibrary());
    model->setHasEverScanned(true);
    model->setShowOnboarding(false);
    auto *window = new WorkshopWindow(model);
    model->setParent(window);
    if (withDrawer)
        window->setShowProvenance(model->apps().at(1));
    return window;
}

} // namespace

void registerScreenshotScenes(ScreenshotRegistry &registry)
{
    const QSize panelSize(MenuBarPanel::kWidth, 10);
    registry.add({QStringLiteral("panel-running"), panelSize, [] { return runningPanel(); }});
    registry.add({QStringLiteral("panel-error"), panelSize,
                  [] { return panelFor({sampleLibrary(), true, 12, QStringLiteral("The engine stopped.")}); }});
    registry.add({QStringLiteral("panel-load-failed"), panelSize, [] { return panelFor({{}, true, 12}); }});
    registry.add({QStringLiteral("panel-needs-scan"), panelSize,
                  [] { return panelFor({{}, false, std::nullopt}); }});
    registry.add({QStringLiteral("panel-pending"), panelSize, [] { return panelFor({sampleLibrary()}); }});
    registry.add({QStringLiteral("panel-clean"), panelSize, [] { return panelFor({tidyLibrary()}); }});
    registry.add({QStringLiteral("panel-unmeasured"), panelSize, [] { return panelFor({partlyCheckedLibrary()}); }});
    registry.add({QStringLiteral("panel-detection-incomplete"), panelSize, [] {
                      QList<AppRecord> apps = tidyLibrary();
                      apps.removeLast(); // no App Store app left
                      return panelFor({apps});
                  }});
    registry.add({QStringLiteral("workshop-window"), QSize(1100, 720), [] { return workshopFor(false); }});
    registry.add({QStringLiteral("workshop-drawer"), QSize(1100, 720), [] { return workshopFor(true); }});
    registry.add({QStringLiteral("design-tokens"), QSize(920, 520), [] { return DesignGallery::createTokensView(); }});
    registry.add({QStringLiteral("design-buttons"), QSize(860, 620), [] { return DesignGallery::createButtonsView(); }});
    registry.add({QStringLiteral("design-brand"), QSize(860, 560), [] { return DesignGallery::createBrandView(); }});
}
