// The provenance drawer for apps of every mechanism and trust verdict, and the
// restore sheet in each of its states.
#include "screenshots/ScreenshotRegistry.h"

#include "kit/ButtonStyles.h"
#include "model/AppModel.h"
#include "provenance/ProvenanceDrawerView.h"
#include "provenance/RestoreSheet.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

AppRecord record(const char *json)
{
    return AppRecord::fromJson(QJsonDocument::fromJson(QByteArray(json)).object()).value_or(AppRecord{});
}

// One app of each mechanism and verdict.
QList<AppRecord> drawerLibrary()
{
    return {
        record(R"({"bundle_id":"org.sample.fernwood","app_name":"Fernwood","current_version":"12.1","latest_version":"12.1","update_mechanism":"cask","cask_token":"fernwood","install_path":"/Applications/Fernwood.app","green_seal":true,"verified_path":true,"community_sha256_count":3,"last_sha256":"9f2c4e1ab37d55e0c0ffee1234567890","last_team_id":"FRN456XYZ","last_cdn_domain":"downloads.fernwood.example","last_updated":"2026-11-20T08:41:07Z"})"),
        record(R"({"bundle_id":"org.sample.pebblenote","app_name":"Pebblenote","current_version":"3.3","latest_version":"3.3","update_mechanism":"sparkle","verified_path":true,"last_sha256":"ef56aa01","last_team_id":"PBL789","update_mode":"notify"})"),
        record(R"({"bundle_id":"org.sample.saltmarsh","app_name":"Saltmarsh","current_version":"1.8","latest_version":"1.9","update_mechanism":"mas","install_path":"/Applications/Saltmarsh.app"})"),
        record(R"({"bundle_id":"org.sample.tidepool","app_name":"Tidepool","current_version":"7.0","update_mechanism":"vendor_self_update","self_managed":true,"can_trigger_self_update":true,"trigger_kind":"url_scheme","version_check_status":"current","update_mode":"self"})"),
        record(R"({"bundle_id":"org.sample.quarry","app_name":"Quarry","current_version":"4.2.0","latest_version":"4.3.1","update_mechanism":"cask","cask_token":"quarry","install_path":"/Applications/Quarry.app","risk_tier":"high","last_sha256":"ab12","last_team_id":"QRY123","last_incident_code":"NETWORK_TIMEOUT","last_incident_kind":"failed","last_incident_at":"2026-12-01T09:00:00Z"})"),
    };
}

ProvenanceRecord historyEntry(const char *version, const char *timestamp, bool withChecksum)
{
    ProvenanceRecord entry;
    entry.bundle_id = QStringLiteral("org.sample");
    entry.to_version = QString::fromLatin1(version);
    if (timestamp)
        entry.timestamp = QString::fromLatin1(timestamp);
    if (withChecksum)
        entry.sha256 = QStringLiteral("9f2c4e1a");
    return entry;
}

BackupRecord availableBackup()
{
    BackupRecord backup;
    backup.available = true;
    backup.timestamp = QStringLiteral("20261120-084107");
    backup.bytes = qint64(48) << 20;
    return backup;
}

// The drawer of one app of the library, in a given load state, laid over a
// plain window background as the Workshop window lays it.
QWidget *drawerScene(int index, const ProvenanceDrawerView::LoadState &state)
{
    auto *model = new AppModel(ScreenshotLibrary::quietServices());
    model->setApps(drawerLibrary());
    model->reconcileIncidents(model->apps(), model->incidentEventSeq());
    auto *drawer = new ProvenanceDrawerView(
        model, model->apps().at(index), [] {}, nullptr, false);
    model->setParent(drawer);
    drawer->setLoadStateForPreview(state);
    return drawer;
}

ProvenanceDrawerView::LoadState withHistory(bool backup)
{
    ProvenanceDrawerView::LoadState state;
    state.isLoading = false;
    state.provenance = {historyEntry("12.1", "2026-11-20T08:41:07Z", true),
                        historyEntry("12.0.4", "2026-10-02T18:15:44Z", true), historyEntry("11.9", nullptr, false)};
    if (backup)
        state.backup = availableBackup();
    return state;
}

QWidget *sheetScene(const RestoreSheet::State &state)
{
    auto *model = new AppModel(ScreenshotLibrary::quietServices());
    model->setApps(drawerLibrary());
    auto *sheet = new RestoreSheet(model, model->apps().at(0));
    model->setParent(sheet);
    sheet->setStateForPreview(state);
    return sheet;
}

// The drawer has loaded (or not), shows its app and, with `also`, the rest.
std::function<void(ScreenshotCheck &)>
drawerShows(bool loading, const char *appName,
            std::function<void(ScreenshotCheck &, const ProvenanceDrawerView &)> also = {})
{
    return [loading, appName, also](ScreenshotCheck &check) {
        const ProvenanceDrawerView *drawer = check.find<ProvenanceDrawerView>();
        check.expect(drawer && drawer->loadState().isLoading == loading,
                     loading ? QStringLiteral("the drawer loading") : QStringLiteral("the drawer loaded"));
        check.expectText(QString::fromLatin1(appName));
        if (drawer && also)
            also(check, *drawer);
    };
}

void expectVisible(ScreenshotCheck &check, const QWidget *widget, bool visible, const QString &what)
{
    check.expect(widget && widget->isVisibleTo(check.scene()) == visible, visible ? what : QStringLiteral("no ") + what);
}

// The restore sheet in a state, saying `text`.
std::function<void(ScreenshotCheck &)> restoreShows(std::function<bool(const RestoreSheet::State &)> state,
                                                    const char *what, const QString &text)
{
    return [state, what, text](ScreenshotCheck &check) {
        const RestoreSheet *sheet = check.find<RestoreSheet>();
        check.expect(sheet && state(sheet->state()), QStringLiteral("the restore sheet %1").arg(QLatin1String(what)));
        check.expectText(text);
    };
}

} // namespace

void registerProvenanceScreenshotScenes(ScreenshotRegistry &registry)
{
    const QSize drawerSize(900, 1180);
    registry.add({QStringLiteral("drawer-loading"), drawerSize, [] { return drawerScene(0, {}); },
                  drawerShows(true, "Fernwood")});
    registry.add(
        {QStringLiteral("drawer-cask-seal-history"), drawerSize, [] { return drawerScene(0, withHistory(true)); },
         drawerShows(false, "Fernwood", [](ScreenshotCheck &check, const ProvenanceDrawerView &drawer) {
             check.expect(drawer.loadState().provenance.size() == 3, QStringLiteral("three versions of history"));
             expectVisible(check, drawer.restoreButton(), true, QStringLiteral("the restore button"));
         })});
    registry.add(
        {QStringLiteral("drawer-sparkle-verified-path"), drawerSize, [] { return drawerScene(1, withHistory(false)); },
         drawerShows(false, "Pebblenote", [](ScreenshotCheck &check, const ProvenanceDrawerView &drawer) {
             check.expect(drawer.loadState().provenance.size() == 3, QStringLiteral("three versions of history"));
             expectVisible(check, drawer.restoreButton(), false, QStringLiteral("restore button"));
             check.expectText(QStringLiteral("Locally verified"));
         })});
    registry.add({QStringLiteral("drawer-mas-outdated-empty"), drawerSize,
                  [] {
                      ProvenanceDrawerView::LoadState state;
                      state.isLoading = false;
                      return drawerScene(2, state);
                  },
                  drawerShows(false, "Saltmarsh", [](ScreenshotCheck &check, const ProvenanceDrawerView &drawer) {
                      check.expect(drawer.loadState().provenance.isEmpty() && drawer.app().isOutdated(),
                                   QStringLiteral("an outdated app without history"));
                      expectVisible(check, drawer.updateButton(), true, QStringLiteral("the Update button"));
                      check.expect(drawer.updateButton()->text() == QStringLiteral("Update"), QStringLiteral("Update"));
                  })});
    registry.add({QStringLiteral("drawer-self-updating"), drawerSize,
                  [] {
                      ProvenanceDrawerView::LoadState state = withHistory(false);
                      state.provenance.removeLast();
                      return drawerScene(3, state);
                  },
                  drawerShows(false, "Tidepool", [](ScreenshotCheck &check, const ProvenanceDrawerView &drawer) {
                      expectVisible(check, drawer.updateButton(), true, QStringLiteral("the in-app update button"));
                      check.expect(drawer.updateButton()->text() == QStringLiteral("Check for Update in App"),
                                   QStringLiteral("Check for Update in App"));
                  })});
    registry.add({QStringLiteral("drawer-failed-error"), drawerSize,
                  [] {
                      ProvenanceDrawerView::LoadState state;
                      state.isLoading = false;
                      state.loadError = QStringLiteral("Something went wrong running VARNO. The provenance store is "
                                                       "locked by another process. (exit 1)");
                      return drawerScene(4, state);
                  },
                  drawerShows(false, "Quarry", [](ScreenshotCheck &check, const ProvenanceDrawerView &drawer) {
                      expectVisible(check, drawer.failureBanner(), true, QStringLiteral("the failure banner"));
                      expectVisible(check, drawer.tryAgainButton(), true, QStringLiteral("Try again"));
                      check.expectText(QStringLiteral("The provenance store is locked by another process."));
                  })});

    const QSize sheetSize(RestoreSheet::kWidth, 10);
    registry.add({QStringLiteral("restore-loading"), sheetSize, [] { return sheetScene({}); },
                  restoreShows([](const RestoreSheet::State &s) { return s.isLoading; }, "loading",
                               QStringLiteral("Checking backups…"))});
    registry.add({QStringLiteral("restore-ready"), sheetSize,
                  [] {
                      RestoreSheet::State state;
                      state.isLoading = false;
                      state.backup = availableBackup();
                      return sheetScene(state);
                  },
                  restoreShows([](const RestoreSheet::State
                                      &s) { return !s.isLoading && !s.isRestoring && !s.restored && !s.error; },
                               "ready", QStringLiteral(" is available."))});
    registry.add({QStringLiteral("restore-restoring"), sheetSize,
                  [] {
                      RestoreSheet::State state;
                      state.isLoading = false;
                      state.isRestoring = true;
                      state.backup = availableBackup();
                      return sheetScene(state);
                  },
                  restoreShows([](const RestoreSheet::State &s) { return s.isRestoring; }, "restoring",
                               QStringLiteral("Restoring…"))});
    registry.add({QStringLiteral("restore-restored"), sheetSize,
                  [] {
                      RestoreSheet::State state;
                      state.isLoading = false;
                      state.restored = true;
                      state.backup = availableBackup();
                      return sheetScene(state);
                  },
                  restoreShows([](const RestoreSheet::State &s) { return s.restored; }, "done",
                               QStringLiteral("Restored successfully"))});
    registry.add({QStringLiteral("restore-error"), sheetSize,
                  [] {
                      RestoreSheet::State state;
                      state.isLoading = false;
                      state.backup = availableBackup();
                      state.error = QStringLiteral("Something went wrong running VARNO. Fernwood is running; quit it "
                                                   "before restoring it. (exit 1)");
                      return sheetScene(state);
                  },
                  restoreShows([](const RestoreSheet::State &s) { return s.error.has_value(); }, "failed",
                               QStringLiteral("Fernwood is running; quit it before restoring it."))});
    registry.add({QStringLiteral("restore-no-backup"), sheetSize,
                  [] {
                      RestoreSheet::State state;
                      state.isLoading = false;
                      BackupRecord none;
                      none.reason = QStringLiteral("backup expired");
                      state.backup = none;
                      state.retentionDays = 30;
                      return sheetScene(state);
                  },
                  restoreShows([](const RestoreSheet::State &s) { return s.backup && !s.backup->available; },
                               "without backup", QStringLiteral("No backup available"))});
}
