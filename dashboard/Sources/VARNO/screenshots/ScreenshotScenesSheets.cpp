// Screenshot scenes of the remediation and update sheets: the adopt consent
// sheet and the contribution sheet in each of their states, and the update-run
// sheet before, during and after a run.

#include "screenshots/ScreenshotRegistry.h"

#include "engine/UpdateEvent.h"
#include "kit/ButtonStyles.h"
#include "model/AppModel.h"
#include "sheets/AdoptConsentSheet.h"
#include "sheets/ContributeSheet.h"
#include "sheets/UpdateFlowView.h"

#include <QCheckBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>

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
        sheetRecord(
            R"({"bundle_id":"org.sim.inkwell","app_name":"Inkwell","current_version":"3.1.0","latest_version":"3.2.1",)"
            R"("update_mechanism":"cask","cask_token":"inkwell","green_seal":true})"),
        sheetRecord(
            R"({"bundle_id":"org.sim.tallybook","app_name":"Tallybook","current_version":"2.0","latest_version":"2.1",)"
            R"("update_mechanism":"mas","mas_id":"1451685025"})"),
        sheetRecord(
            R"({"bundle_id":"org.sim.lanternfish","app_name":"Lanternfish","current_version":"5.0","latest_version":"5.2",)"
            R"("update_mechanism":"sparkle","verified_path":true})"),
        sheetRecord(R"({"bundle_id":"org.sim.netherby","app_name":"Netherby","current_version":"2.2","latest_version":"2.3",)"
                    R"("update_mechanism":"cask","cask_token":"netherby"})"),
        sheetRecord(R"({"bundle_id":"org.sim.kettle","app_name":"Kettle","current_version":"1.4","latest_version":"1.5",)"
                    R"("update_mechanism":"vendor_self_update"})"),
        sheetRecord(
            R"({"bundle_id":"org.sim.handmade","app_name":"Handmade Paint","current_version":"1.0","latest_version":"1.1",)"
            R"("update_mechanism":"cask"})"),
        sheetRecord(
            R"({"bundle_id":"org.sim.pebblenote","app_name":"Pebblenote","current_version":"4.0","latest_version":"4.0",)"
            R"("update_mechanism":"sparkle","last_incident_code":"UPDATE_MODE_ASK_HEADLESS","last_incident_kind":"skipped"})"),
    };
}

UpdateEvent queueStart(const QList<AppRecord> &apps)
{
    UpdateEvent::QueueStart start;
    for (const AppRecord &app : apps) {
        if (app.isOutdated())
            start.apps.append(
                UpdateEvent::QueuedApp{app.bundle_id, app.app_name, std::nullopt, std::nullopt, std::nullopt});
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
                                     UpdateState::quitDenied(
                                         QStringLiteral("Brusk couldn't quit Kettle — save your work and try again.")));
    auto *sheet = new UpdateFlowView(model);
    model->setParent(sheet);
    sheet->refresh();
    return sheet;
}

// The adopt sheet in the phase `kind`, saying each of `texts`.
std::function<void(ScreenshotCheck &)> adoptShows(Phase::Kind kind, QStringList texts)
{
    return [kind, texts](ScreenshotCheck &check) {
        const AdoptConsentSheet *sheet = check.find<AdoptConsentSheet>();
        check.expect(sheet && sheet->phase().kind == kind, QStringLiteral("the adopt sheet's phase"));
        for (const QString &text : texts)
            check.expectText(text);
    };
}

// The contribution sheet with `state` holding.
std::function<void(ScreenshotCheck &)> contributeShows(const char *what,
                                                       std::function<bool(const ContributeSheet &)> state)
{
    return [what, state](ScreenshotCheck &check) {
        const ContributeSheet *sheet = check.find<ContributeSheet>();
        check.expect(sheet && state(*sheet), QString::fromLatin1(what));
    };
}

// The update-run sheet's subtitle (and, once the run is over, its last line).
std::function<void(ScreenshotCheck &)> flowShows(const QString &subtitle, const QString &completion = QString())
{
    return [subtitle, completion](ScreenshotCheck &check) {
        const UpdateFlowView *sheet = check.find<UpdateFlowView>();
        check.expect(sheet && sheet->subtitle() == subtitle, QStringLiteral("the subtitle \"%1\"").arg(subtitle));
        check.expect(sheet && sheet->completionText() == completion,
                     completion.isEmpty() ? QStringLiteral("no last line")
                                          : QStringLiteral("the last line \"%1\"").arg(completion));
        check.expect(sheet && sheet->rows().size() == 6, QStringLiteral("a row for each outdated app"));
    };
}

} // namespace

void registerSheetScreenshotScenes(ScreenshotRegistry &registry)
{
    const QSize adoptSize(AdoptConsentSheet::kWidth, 10);
    registry.add({QStringLiteral("adopt-loading"), adoptSize, [] { return adoptScene(Phase::loading()); },
                  adoptShows(Phase::Kind::loading, {})});
    registry.add({QStringLiteral("adopt-ready"), adoptSize, [] { return adoptScene(Phase::ready(preview(true, false))); },
                  adoptShows(Phase::Kind::ready,
                             {QStringLiteral("handmade-paint"), QStringLiteral("Code signature verified"),
                              QStringLiteral("Adopt")})});
    registry.add({QStringLiteral("adopt-ready-unsigned-refused"), adoptSize,
                  [] { return adoptScene(Phase::ready(preview(false, true))); },
                  [](ScreenshotCheck &check) {
                      adoptShows(Phase::Kind::ready,
                                 {QStringLiteral("Code signature unverified"), AdoptConsentSheet::signatureExplanation,
                                  AdoptConsentSheet::unsignedRefusedWarning,
                                  QStringLiteral("is older than what's installed")})(check);
                      const AdoptConsentSheet *sheet = check.find<AdoptConsentSheet>();
                      check.expect(sheet && !sheet->confirmButton()->isVisibleTo(sheet),
                                   QStringLiteral("no confirm button"));
                  }});
    registry.add({QStringLiteral("adopt-ready-unsigned-override"), adoptSize,
                  [] { return adoptScene(Phase::ready(preview(false, false)), true); },
                  adoptShows(Phase::Kind::ready,
                             {QStringLiteral("Code signature unverified"), QStringLiteral("Adopt anyway (unsigned)")})});
    registry.add(
        {QStringLiteral("adopt-no-match"), adoptSize,
         [] {
             return adoptScene(Phase::noMatch(AdoptFlow::noMatchMessage(QStringLiteral("Handmade Paint"), std::nullopt)));
         },
         adoptShows(Phase::Kind::noMatch, {AdoptFlow::noMatchMessage(QStringLiteral("Handmade Paint"), std::nullopt)})});
    registry.add({QStringLiteral("adopt-already-managed"), adoptSize, [] { return adoptScene(Phase::alreadyManaged()); },
                  adoptShows(Phase::Kind::alreadyManaged, {QStringLiteral("Already Homebrew-managed")})});
    registry.add({QStringLiteral("adopt-adopting"), adoptSize, [] { return adoptScene(Phase::adopting()); },
                  adoptShows(Phase::Kind::adopting, {})});
    registry.add({QStringLiteral("adopt-refused"), adoptSize,
                  [] {
                      return adoptScene(Phase::refused(QStringLiteral(
                          "Brusk can't adopt right now — a scan, update, or fix is already running. Give it a moment "
                          "and try again.")));
                  },
                  adoptShows(Phase::Kind::refused, {QStringLiteral("a scan, update, or fix is already running")})});
    registry.add(
        {QStringLiteral("adopt-failed"), adoptSize,
         [] {
             return adoptScene(Phase::failed(QStringLiteral("Adopt didn't take: Homebrew couldn't adopt "
                                                            "Handmade Paint (BREW_LOCKED).")),
                               false, handmade("BREW_LOCKED", "failed"));
         },
         adoptShows(Phase::Kind::failed, {QStringLiteral("Homebrew couldn't adopt Handmade Paint (BREW_LOCKED).")})});
    registry.add({QStringLiteral("adopt-failed-privileges"), adoptSize,
                  [] {
                      return adoptScene(Phase::failed(QStringLiteral(
                                            "Adopt didn't take: Homebrew needs an administrator password to adopt "
                                            "Handmade Paint; run brew install --cask --adopt handmade-paint in "
                                            "Terminal.")),
                                        false, handmade("SUDO_REQUIRED", "failed"), QStringLiteral("handmade-paint"));
                  },
                  [](ScreenshotCheck &check) {
                      adoptShows(Phase::Kind::failed, {QStringLiteral("Raw output")})(check);
                      const AdoptConsentSheet *sheet = check.find<AdoptConsentSheet>();
                      check.expect(sheet && sheet->commandLine()
                                       && sheet->commandLine()->text()
                                           == QStringLiteral("brew install --cask handmade-paint"),
                                   QStringLiteral("the brew command to run by hand"));
                  }});
    registry.add(
        {QStringLiteral("adopt-success-pending"), adoptSize, [] { return adoptScene(Phase::success()); },
         adoptShows(Phase::Kind::success,
                    {QStringLiteral("is now managed by Homebrew Cask"), QStringLiteral("An update is still pending")})});

    const QSize contributeSize(ContributeSheet::kWidth, 10);
    registry.add({QStringLiteral("contribute-empty"), contributeSize,
                  [] { return contributeScene({}, std::nullopt, false); },
                  contributeShows("an empty form", [](const ContributeSheet &sheet) {
                      return sheet.form() == ContributeForm() && !sheet.isSubmitting() && !sheet.errorMessage();
                  })});
    registry.add({QStringLiteral("contribute-cask"), contributeSize,
                  [] {
                      ContributeForm form;
                      form.mechanism = QStringLiteral("cask");
                      form.homepageURL = QStringLiteral("https://mossgrid.example");
                      form.caskToken = QStringLiteral("mossgrid");
                      form.shouldPush = true;
                      return contributeScene(form, std::nullopt, false);
                  },
                  contributeShows("a cask filled in", [](const ContributeSheet &sheet) {
                      return sheet.caskField()->isVisibleTo(&sheet)
                          && sheet.caskField()->text() == QStringLiteral("mossgrid") && sheet.pushToggle()->isChecked()
                          && sheet.canSubmit();
                  })});
    registry.add({QStringLiteral("contribute-error"), contributeSize,
                  [] {
                      ContributeForm form;
                      form.feedURL = QStringLiteral("ftp://mossgrid.example/feed");
                      return contributeScene(form,
                                             QStringLiteral("The feed URL must be a web address starting with "
                                                            "https://. (exit 2)"),
                                             false);
                  },
                  contributeShows("the engine's refusal", [](const ContributeSheet &sheet) {
                      return sheet.errorLine() && sheet.errorLine()->isVisibleTo(&sheet)
                          && sheet.errorLine()->text().contains(QStringLiteral("must be a web address"));
                  })});
    registry.add({QStringLiteral("contribute-submitting"), contributeSize,
                  [] {
                      ContributeForm form;
                      form.mechanism = QStringLiteral("mas");
                      form.masID = QStringLiteral("1451685025");
                      return contributeScene(form, std::nullopt, true);
                  },
                  contributeShows("a submission under way", [](const ContributeSheet &sheet) {
                      return sheet.isSubmitting() && sheet.masField()->text() == QStringLiteral("1451685025");
                  })});

    const QSize flowSize(UpdateFlowView::kWidth, 10);
    registry.add({QStringLiteral("update-flow-before"), flowSize, [] { return flowScene(Run::before); },
                  flowShows(QStringLiteral("Waiting to start..."))});
    registry.add({QStringLiteral("update-flow-running"), flowSize, [] { return flowScene(Run::running); },
                  flowShows(QStringLiteral("Running your update queue..."))});
    registry.add({QStringLiteral("update-flow-paused"), flowSize, [] { return flowScene(Run::paused); },
                  flowShows(QStringLiteral("Queue paused."))});
    registry.add({QStringLiteral("update-flow-finished"), flowSize, [] { return flowScene(Run::finished); },
                  flowShows(QStringLiteral("All done."),
                            QStringLiteral("1 app couldn't be updated and 2 skipped — see details above."))});
}
