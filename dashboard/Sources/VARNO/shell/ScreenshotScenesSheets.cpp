// Screenshot scenes of the remediation and update sheets: the adopt consent
// sheet and the contribution sheet in each of their states, and the update-run
// sheet before, during and after a run.

#include "shell/ScreenshotRegistry.h"

#include "engine/UpdateEvent.h"
#include "model/AppModel.h"
#include "sheets/AdoptConsentSheet.h"
#include "sheets/ContributeSheet.h"
#include "sheets/UpdateFlowView.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

using Phase = AdoptConsentSheet::Phase;

AppRecord sheetRecord(const QByteArray &json)
{
    return AppRecord::fromJson(QJsonDocument::fromJson(json).object()).value_or(AppRecord());
}

// A model of the given records, their incidents read from them.
AppModel *modelOf(const QList<AppRecord> &apps)
{
    auto *model = new AppModel(ScreenshotLibrary::quietServices());
    model->setShowOnboarding(false);
    model->setApps(apps);
    model->reconcileIncidents(model->apps(), model->incidentEventSeq());
    return model;
}

AppRecord handmade(const char *incidentCode = "BREW_NO_CASK", const char *kind = "skipped")
{
    return sheetRecord(QByteArray(R"({"bundle_id":"org.sim.handmade","app_name":"Handmade Paint","current_version":"1.0",)"
                             R"("latest_version":"1.1","update_mechanism":"unknown","last_incident_code":")")
                  + incidentCode + R"(","last_incident_kind":")" + kind + R"("})");
}

AdoptFlow::Preview preview(bool signatureOk, bool downgrade)
{
    AdoptFlow::Preview p;
    p.match_found = true;
    p.already_managed = false;
    p.cask_token = QStringLiteral("handmade-paint");
    p.current_version = QStringLiteral("1.0");
    p.cask_version = downgrade ? QStringLiteral("0.9") : QStringLiteral("1.1");
    p.signature_ok = signatureOk;
    p.version_downgrade = downgrade;
    return p;
}

QWidget *adoptScene(const Phase &phase, bool allowUnsigned = false, const AppRecord &app = handmade(),
                    std::optional<QString> confirmedToken = std::nullopt)
{
    AppModel *model = modelOf({app});
    model->setAllowUnsignedAdopt(allowUnsigned);
    auto *sheet = new AdoptConsentSheet(model, model->apps().constFirst());
    model->setParent(sheet);
    sheet->setPhaseForPreview(phase, std::move(confirmedToken));
    return sheet;
}

QWidget *contributeScene(const ContributeForm &form, std::optional<QString> error, bool submitting)
{
    AppModel *model = modelOf({sheetRecord(R"({"bundle_id":"org.sim.mossgrid","app_name":"Mossgrid","current_version":"0.3",)"
                                      R"("update_mechanism":"unknown"})")});
    auto *sheet = new ContributeSheet(model, model->apps().constFirst());
    model->setParent(sheet);
    sheet->setStateForPreview(form, std::move(error), submitting);
    return sheet;
}

// Six outdated apps of every mechanism, one of them waiting for approval.
QList<AppRecord> runLibrary()
{
    return {
        sheetRecord(R"({"bundle_id":"org.sim.inkwell","app_name":"Inkwell","current_version":"3.1.0","latest_version":"3.2.1",)"
               R"("update_mechanism":"cask","cask_token":"inkwell","green_seal":true})"),
        sheetRecord(R"({"bundle_id":"org.sim.tallybook","app_name":"Tallybook","current_version":"2.0","latest_version":"2.1",)"
               R"("update_mechanism":"mas","mas_id":"1451685025"})"),
        sheetRecord(R"({"bundle_id":"org.sim.lanternfish","app_name":"Lanternfish","current_version":"5.0","latest_version":"5.2",)"
               R"("update_mechanism":"sparkle","verified_path":true})"),
        sheetRecord(R"({"bundle_id":"org.sim.netherby","app_name":"Netherby","current_version":"2.2","latest_version":"2.3",)"
               R"("update_mechanism":"cask","cask_token":"netherby"})"),
        sheetRecord(R"({"bundle_id":"org.sim.kettle","app_name":"Kettle","current_version":"1.4","latest_version":"1.5",)"
               R"("update_mechanism":"vendor_self_update"})"),
        sheetRecord(R"({"bundle_id":"org.sim.handmade","app_name":"Handmade Paint","current_version":"1.0","latest_version":"1.1",)"
               R"("update_mechanism":"cask"})"),
        sheetRecord(R"({"bundle_id":"org.sim.pebblenote","app_name":"Pebblenote","current_version":"4.0","latest_version":"4.0",)"
               R"("update_mechanism":"sparkle","last_incident_code":"UPDATE_MODE_ASK_HEADLESS","last_incident_kind":"skipped"})"),
    };
}

UpdateEvent queueStart(const QList<AppRecord> &apps)
{
    UpdateEvent::QueueStart start;
    for (const AppRecord &app : apps) {
        if (app.isOutdated())
            start.apps.append(UpdateEvent::QueuedApp{app.bundle_id, app.app_name, std::nullopt, std::nullopt, std::nullopt});
    }
    start.count = start.apps.size();
    return UpdateEvent(start);
}

UpdateEvent appStart(const char *id, const char *status)
{
    return UpdateEvent(UpdateEvent::AppStart{QString::fromLatin1(id), 1, 6, QString::fromLatin1(status)});
}

UpdateEvent appDone(const char *id, bool success, bool skipped = false, const char *error = nullptr,
                    const char *code = nullptr)
{
    UpdateEvent::AppDone done;
    done.bundleId = QString::fromLatin1(id);
    done.success = success;
    done.skipped = skipped;
    if (error)
        done.error = QString::fromUtf8(error);
    if (code)
        done.errorCode = QString::fromLatin1(code);
    return UpdateEvent(done);
}

enum class Run { before, running, paused, finished };

QWidget *flowScene(Run run)
{
    AppModel *model = modelOf(runLibrary());
    const QList<AppRecord> apps = model->apps();
    QList<UpdateEvent> events;
    if (run != Run::before) {
        events << queueStart(apps) << appStart("org.sim.inkwell", "installing") << appDone("org.sim.inkwell", true)
               << appStart("org.sim.tallybook", "verifying")
               << appDone("org.sim.tallybook", false, false,
                          "The download of Tallybook 2.1 timed out after 300 seconds while the App Store was "
                          "still preparing the package.",
                          "NETWORK_TIMEOUT")
               << appStart("org.sim.lanternfish", "fetching");
    }
    if (run == Run::paused)
        events << UpdateEvent(UpdateEvent::QueuePaused{});
    if (run == Run::finished) {
        events << appDone("org.sim.lanternfish", true) << appStart("org.sim.netherby", "fetching")
               << appDone("org.sim.netherby", false, true, "Skipped at your request") << appStart("org.sim.kettle", "")
               << appDone("org.sim.kettle", true) << appStart("org.sim.handmade", "installing")
               << appDone("org.sim.handmade", true);
    }
    for (const UpdateEvent &event : events)
        model->handleUpdateEvent(event);
    if (run == Run::finished)
        model->setPreviewUpdateState(QStringLiteral("org.sim.kettle"),
                                     UpdateState::quitDenied(QStringLiteral("Brusk couldn't quit Kettle — save your work and try again.")));
    auto *sheet = new UpdateFlowView(model);
    model->setParent(sheet);
    sheet->refresh();
    return sheet;
}

} // namespace

void registerSheetScreenshotScenes(ScreenshotRegistry &registry)
{
    const QSize adoptSize(AdoptConsentSheet::kWidth, 10);
    registry.add({QStringLiteral("adopt-loading"), adoptSize, [] { return adoptScene(Phase::loading()); }});
    registry.add({QStringLiteral("adopt-ready"), adoptSize, [] { return adoptScene(Phase::ready(preview(true, false))); }});
    registry.add({QStringLiteral("adopt-ready-unsigned-refused"), adoptSize,
                  [] { return adoptScene(Phase::ready(preview(false, true))); }});
    registry.add({QStringLiteral("adopt-ready-unsigned-override"), adoptSize,
                  [] { return adoptScene(Phase::ready(preview(false, false)), true); }});
    registry.add({QStringLiteral("adopt-no-match"), adoptSize, [] {
                      return adoptScene(Phase::noMatch(AdoptFlow::noMatchMessage(QStringLiteral("Handmade Paint"), std::nullopt)));
                  }});
    registry.add({QStringLiteral("adopt-already-managed"), adoptSize, [] { return adoptScene(Phase::alreadyManaged()); }});
    registry.add({QStringLiteral("adopt-adopting"), adoptSize, [] { return adoptScene(Phase::adopting()); }});
    registry.add({QStringLiteral("adopt-refused"), adoptSize, [] {
                      return adoptScene(Phase::refused(QStringLiteral(
                          "Brusk can't adopt right now — a scan, update, or fix is already running. Give it a moment "
                          "and try again.")));
                  }});
    registry.add({QStringLiteral("adopt-failed"), adoptSize, [] {
                      return adoptScene(Phase::failed(QStringLiteral("Adopt didn't take: Homebrew couldn't adopt "
                                                                     "Handmade Paint (BREW_LOCKED).")),
                                        false, handmade("BREW_LOCKED", "failed"));
                  }});
    registry.add({QStringLiteral("adopt-failed-privileges"), adoptSize, [] {
                      return adoptScene(Phase::failed(QStringLiteral(
                                            "Adopt didn't take: Homebrew needs an administrator password to adopt "
                                            "Handmade Paint; run brew install --cask --adopt handmade-paint in "
                                            "Terminal.")),
                                        false, handmade("SUDO_REQUIRED", "failed"), QStringLiteral("handmade-paint"));
                  }});
    registry.add({QStringLiteral("adopt-success-pending"), adoptSize, [] { return adoptScene(Phase::success()); }});

    const QSize contributeSize(ContributeSheet::kWidth, 10);
    registry.add({QStringLiteral("contribute-empty"), contributeSize, [] { return contributeScene({}, std::nullopt, false); }});
    registry.add({QStringLiteral("contribute-cask"), contributeSize, [] {
                      ContributeForm form;
                      form.mechanism = QStringLiteral("cask");
                      form.homepageURL = QStringLiteral("https://mossgrid.example");
                      form.caskToken = QStringLiteral("mossgrid");
                      form.shouldPush = true;
                      return contributeScene(form, std::nullopt, false);
                  }});
    registry.add({QStringLiteral("contribute-error"), contributeSize, [] {
                      ContributeForm form;
                      form.feedURL = QStringLiteral("ftp://mossgrid.example/feed");
                      return contributeScene(form,
                                             QStringLiteral("The feed URL must be a web address starting with "
                                                            "https://. (exit 2)"),
                                             false);
                  }});
    registry.add({QStringLiteral("contribute-submitting"), contributeSize, [] {
                      ContributeForm form;
                      form.mechanism = QStringLiteral("mas");
                      form.masID = QStringLiteral("1451685025");
                      return contributeScene(form, std::nullopt, true);
                  }});

    const QSize flowSize(UpdateFlowView::kWidth, 10);
    registry.add({QStringLiteral("update-flow-before"), flowSize, [] { return flowScene(Run::before); }});
    registry.add({QStringLiteral("update-flow-running"), flowSize, [] { return flowScene(Run::running); }});
    registry.add({QStringLiteral("update-flow-paused"), flowSize, [] { return flowScene(Run::paused); }});
    registry.add({QStringLiteral("update-flow-finished"), flowSize, [] { return flowScene(Run::finished); }});
}
