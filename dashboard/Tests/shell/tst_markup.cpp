#include "MarkupCheck.h"
#include "TestRegistry.h"
#include "TestSupport.h"

#include "AppearanceTestSupport.h"

#include "cards/AppCardDetailView.h"
#include "cards/AppCardSimpleView.h"
#include "cards/ChoosableCard.h"
#include "engine/UpdateEvent.h"
#include "engine/VARNOError.h"
#include "engine/VARNOProcess.h"
#include "kit/ButtonStyles.h"
#include "menubar/MenuBarPanel.h"
#include "model/AppModel.h"
#include "platform/FakeServiceBackend.h"
#include "platform/MainBundle.h"
#include "platform/ServiceManagement.h"
#include "platform/VarnoPaths.h"
#include "provenance/ProvenanceDrawerView.h"
#include "provenance/RestoreSheet.h"
#include "screens/DiagnosticsView.h"
#include "screens/OnboardingFlow.h"
#include "settings/DeveloperWorkbenchSettingsView.h"
#include "settings/SettingsView.h"
#include "sheets/AdoptConsentSheet.h"
#include "sheets/ContributeSheet.h"
#include "shell/WorkshopWindow.h"
#include "widgets/IncidentActionButton.h"
#include "widgets/ShelfCard.h"
#include "workshop/ShelfCardGrid.h"
#include "workshop/ShelfView.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QMessageBox>
#include <QTabWidget>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;
using VarnoTest::plantedMarkup;

namespace {

// The text fields of a record that say something about the app (the others
// choose what the views show, and are planted in one record only).
const QStringList describingFields = {
    QStringLiteral("bundle_id"),
    QStringLiteral("app_name"),
    QStringLiteral("current_version"),
    QStringLiteral("latest_version"),
    QStringLiteral("vendor_updater_name"),
    QStringLiteral("cask_token"),
    QStringLiteral("mas_id"),
    QStringLiteral("cask_match_confidence"),
    QStringLiteral("last_updated"),
    QStringLiteral("last_sha256"),
    QStringLiteral("last_cdn_domain"),
    QStringLiteral("last_team_id"),
    QStringLiteral("last_update_source"),
    QStringLiteral("version_first_seen"),
    QStringLiteral("install_path"),
    QStringLiteral("unmanaged_state"),
    QStringLiteral("last_incident_at"),
    QStringLiteral("latest_source"),
};
const QStringList choosingFields = {
    QStringLiteral("update_mechanism"),     QStringLiteral("risk_tier"),          QStringLiteral("update_mode"),
    QStringLiteral("trigger_kind"),         QStringLiteral("last_incident_code"), QStringLiteral("last_incident_kind"),
    QStringLiteral("version_check_status"),
};

// An app whose describing fields all carry markup, named after `name`,
// with the choosing fields given.
QJsonObject plantedRecord(const QString &name, const QJsonObject &choices)
{
    QJsonObject record;
    for (const QString &field : describingFields)
        record.insert(field, plantedMarkup(name + QLatin1Char(' ') + field));
    record.insert(QStringLiteral("app_name"), plantedMarkup(name));
    for (auto it = choices.begin(); it != choices.end(); ++it)
        record.insert(it.key(), it.value());
    record.insert(QStringLiteral("green_seal"), false);
    return record;
}

// Outdated apps of every mechanism and with an incident of every remedy,
// and one app whose every text field carries markup.
QByteArray plantedLibrary()
{
    struct Variant {
        const char *mechanism;
        const char *code; // nullptr: no incident
        const char *kind;
        const char *risk;
    };
    const QList<Variant> variants = {
        {"cask", "NETWORK_TIMEOUT", "failed", "high"},               // Fix It
        {"mas", "BREW_LOCKED", "failed", "low"},                     // Run in Terminal
        {"sparkle", "UNKNOWN", "failed", nullptr},                   // Get help
        {"cask", "APP_RUNNING", "skipped", nullptr},                 // Quit & Update
        {"unknown", "BREW_NO_CASK", "skipped", nullptr},             // Adopt
        {"sparkle", "UPDATE_MODE_ASK_HEADLESS", "skipped", nullptr}, // Approve
        {"vendor_self_update", nullptr, nullptr, nullptr},
        {"cask", nullptr, nullptr, "critical"},
    };
    QJsonArray library;
    int index = 0;
    for (const Variant &variant : variants) {
        QJsonObject choices{{QStringLiteral("update_mechanism"), QString::fromLatin1(variant.mechanism)},
                            {QStringLiteral("version_check_status"), QStringLiteral("outdated")},
                            {QStringLiteral("update_count"), 3},
                            {QStringLiteral("community_sha256_count"), 2}};
        if (variant.code) {
            choices.insert(QStringLiteral("last_incident_code"), QString::fromLatin1(variant.code));
            choices.insert(QStringLiteral("last_incident_kind"), QString::fromLatin1(variant.kind));
        }
        if (variant.risk)
            choices.insert(QStringLiteral("risk_tier"), QString::fromLatin1(variant.risk));
        library.append(plantedRecord(QStringLiteral("App%1").arg(++index), choices));
    }
    QJsonObject everything = plantedRecord(QStringLiteral("Everything"), {});
    for (const QString &field : choosingFields)
        everything.insert(field, plantedMarkup(QStringLiteral("Everything ") + field));
    library.append(everything);
    return QJsonDocument(library).toJson(QJsonDocument::Compact);
}

QByteArray plantedGhosts()
{
    QJsonArray ghosts;
    for (const QString &name : {QStringLiteral("Ghost"), QStringLiteral("Other ghost")}) {
        ghosts.append(
            QJsonObject{{QStringLiteral("bundle_id"), plantedMarkup(name + QStringLiteral(" id"))},
                        {QStringLiteral("app_name"), plantedMarkup(name)},
                        {QStringLiteral("install_path"), plantedMarkup(name + QStringLiteral(" path"))},
                        {QStringLiteral("cask_token"),
                         name == QLatin1String("Ghost") ? plantedMarkup(QStringLiteral("ghost-cask")) : QString()}});
    }
    return QJsonDocument(ghosts).toJson(QJsonDocument::Compact);
}

// What the engine says when a command fails.
const QString engineFailure = plantedMarkup(QStringLiteral("the store is locked"));

QCoro::Task<QString> plantedReport()
{
    co_return plantedMarkup(QStringLiteral("report"));
}

DiagnosticsOperations plantedDiagnostics()
{
    DiagnosticsOperations operations;
    operations.gather = &plantedReport;
    operations.healthCheck = []() -> QCoro::Task<DiagnosticsReport::ShellOutcome> {
        co_return DiagnosticsReport::ShellOutcome{plantedMarkup(QStringLiteral("doctor")), false};
    };
    operations.forceScan = &plantedReport;
    operations.repair = &plantedReport;
    return operations;
}

QCoro::Task<RetentionStatus> failingStatus()
{
    throw VARNOError::processFailure(1, engineFailure);
    co_return RetentionStatus();
}

QCoro::Task<DeveloperReport> plantedDeveloperReport()
{
    DeveloperReport report;
    report.summary = plantedMarkup(QStringLiteral("inspected"));
    co_return report;
}

QCoro::Task<DeveloperReport> failingDeveloperReport()
{
    throw VARNOError::processFailure(1, engineFailure);
    co_return DeveloperReport();
}

QCoro::Task<void> noTask()
{
    co_return;
}

} // namespace

// Every text a library, the engine or the user hands the app shows as it is
// written: a library whose every text field carries markup (a live link to a
// local file and red text, if it were read as markup), and an engine whose
// every failure does, leave no label, message box or tooltip anywhere in the
// Workshop window (both layouts), its sheets, the drawer, the dialogs a card
// opens, the menu-bar panel or Settings that renders that markup.
class TestMarkupIsShownAsText : public QObject {
    Q_OBJECT

    std::unique_ptr<VarnoTest::TempHome> m_home;
    std::unique_ptr<VarnoTest::ShellInterpreter> m_shell;
    std::unique_ptr<AppearanceTest::ReduceMotionScope> m_noMotion;
    std::unique_ptr<AppModel> m_model;
    QStringList m_rendered; // what rendered planted markup, and where
    QStringList m_blank;    // surfaces walked that showed no planted text
    QStringList m_walked;   // every surface walked

    // Looks at everything under `root`, a surface that shows planted text
    // (unless it holds no record text at all).
    void walk(QWidget *root, const QString &surface, bool holdsRecordText = true)
    {
        QCoreApplication::processEvents();
        m_walked << surface;
        for (const QString &found : VarnoTest::plantedMarkupRendered(root))
            m_rendered << surface + QStringLiteral(": ") + found;
        if (holdsRecordText && VarnoTest::plantedTextsHeld(root) == 0)
            m_blank << surface;
    }

    void verdict()
    {
        // Each on a line of its own: a failure message is cut short.
        for (const QString &found : std::as_const(m_rendered))
            qWarning().noquote() << "rendered as markup:" << found;
        QVERIFY2(m_rendered.isEmpty(), qPrintable(QStringLiteral("%1 texts rendered as markup").arg(m_rendered.size())));
        QVERIFY2(m_blank.isEmpty(),
                 qPrintable(QStringLiteral("no planted text on: ") + m_blank.join(QStringLiteral(", "))));
    }

    void settleModel()
    {
        VarnoTest::waitUntil([this] {
            return !m_model->isBusy() && !m_model->isEnrichingSeals() && !m_model->isCheckingOpenCore()
                && !m_model->isCheckingMacOSUpdate() && !m_model->isCheckingMechanismHealth()
                && !m_model->isReadingScanHistory();
        });
    }

    // The dialogs one card can open, each walked.
    void walkCardDialogs(ShelfCard *shelfCard, const QString &surface)
    {
        auto *card = qobject_cast<ChoosableCard *>(shelfCard);
        QVERIFY(card);
        std::unique_ptr<QMenu> menu(card->buildContextMenu());
        // The same items for every record.
        walk(menu.get(), surface + QStringLiteral(" menu"), false);
        auto *detail = qobject_cast<AppCardDetailView *>(card);
        if (!detail)
            return;
        for (const auto action : {CardRules::AppLifecycleAction::reinstall, CardRules::AppLifecycleAction::uninstall}) {
            detail->confirm(action);
            QVERIFY(detail->confirmationDialog());
            walk(detail->confirmationDialog(), surface + QStringLiteral(" confirmation"));
            detail->confirmationDialog()->reject();
            QVERIFY(VarnoTest::waitUntil([detail] { return !detail->confirmationDialog(); }));
        }
        for (QAction *action : menu->actions()) {
            if (action->text() != QStringLiteral("Help Brusk classify…"))
                continue;
            action->trigger();
            QVERIFY(detail->contributeSheet());
            auto *sheet = qobject_cast<ContributeSheet *>(detail->contributeSheet());
            QVERIFY(sheet);
            walk(sheet, surface + QStringLiteral(" contribution sheet"));
            sheet->setStateForPreview(sheet->form(), engineFailure, false);
            walk(sheet, surface + QStringLiteral(" contribution sheet, failed"));
            sheet->reject();
            QVERIFY(VarnoTest::waitUntil([detail] { return !detail->isShowingContributeSheet(); }));
        }
        IncidentActionButton *incident = detail->incidentButton();
        if (!incident || incident->isHidden())
            return;
        if (incident->action() == IncidentAction::quitAndUpdate) {
            QTest::mouseClick(incident->button(), Qt::LeftButton);
            QVERIFY(incident->quitConsentDialog());
            walk(incident->quitConsentDialog(), surface + QStringLiteral(" quit consent"));
            incident->quitConsentDialog()->reject();
            QVERIFY(VarnoTest::waitUntil([incident] { return !incident->quitConsentDialog(); }));
        }
        if (incident->action() == IncidentAction::adopt) {
            QTest::mouseClick(incident->button(), Qt::LeftButton);
            auto *sheet = qobject_cast<AdoptConsentSheet *>(incident->adoptSheet());
            QVERIFY(sheet);
            // Its own dry run fails with the engine's text.
            QVERIFY(VarnoTest::waitUntil(
                [sheet] { return sheet->phase().kind != AdoptConsentSheet::Phase::Kind::loading; }));
            walk(sheet, surface + QStringLiteral(" adopt sheet after its dry run"));
            AdoptFlow::Preview preview;
            preview.match_found = true;
            preview.already_managed = false;
            preview.cask_token = plantedMarkup(QStringLiteral("cask"));
            preview.app_name = plantedMarkup(QStringLiteral("preview name"));
            preview.bundle_id = plantedMarkup(QStringLiteral("preview id"));
            preview.confidence = plantedMarkup(QStringLiteral("confidence"));
            preview.current_version = plantedMarkup(QStringLiteral("1.0"));
            preview.cask_version = plantedMarkup(QStringLiteral("1.1"));
            preview.install_path = plantedMarkup(QStringLiteral("path"));
            preview.code_signature = plantedMarkup(QStringLiteral("signature"));
            preview.signature_ok = false;
            preview.version_downgrade = true;
            using Phase = AdoptConsentSheet::Phase;
            for (const Phase &phase : {Phase::ready(preview), Phase::noMatch(plantedMarkup(QStringLiteral("no cask"))),
                                       Phase::failed(engineFailure), Phase::refused(engineFailure), Phase::success()}) {
                sheet->setPhaseForPreview(phase, preview.cask_token);
                walk(sheet, surface + QStringLiteral(" adopt sheet, phase %1").arg(int(phase.kind)));
            }
            sheet->reject();
            QVERIFY(VarnoTest::waitUntil([incident] { return !incident->adoptSheet(); }));
        }
    }

private Q_SLOTS:
    void init()
    {
        m_rendered.clear();
        m_blank.clear();
        m_walked.clear();
        MainBundle::setPathOverride(VarnoTest::stagedBundlePath());
        m_home = std::make_unique<VarnoTest::TempHome>();
        m_noMotion = std::make_unique<AppearanceTest::ReduceMotionScope>(true);
        DiagnosticsOperations::setOverride(plantedDiagnostics());
        VARNOProcess::resetCachedValuesForTesting();
        // An engine that lists the planted library, scans without a word and
        // fails every other command with a planted text.
        m_shell = std::make_unique<VarnoTest::ShellInterpreter>();
        QVERIFY(VarnoTest::writeFile(m_home->filePath(QStringLiteral("library.json")), plantedLibrary()));
        QVERIFY(VarnoTest::writeFile(m_home->filePath(QStringLiteral("failure.txt")), engineFailure.toUtf8()));
        QVERIFY(VarnoTest::writeFile(VarnoPaths::appSupportDir() + QStringLiteral("/ghosts.json"), plantedGhosts()));
        QVERIFY(VarnoTest::writeFile(VarnoPaths::engineScript(),
                                     "case \" $* \" in\n"
                                     "*\" list \"*) cat \"$HOME/library.json\" ;;\n"
                                     "*\" scan \"*) exit 0 ;;\n"
                                     "*) cat \"$HOME/failure.txt\" >&2; exit 1 ;;\n"
                                     "esac\n"));
        m_model = std::make_unique<AppModel>(AppModelServices::quiet());
        m_model->setShowOnboarding(false);
        VarnoTest::await(m_model->scan());
        settleModel();
        QCOMPARE(m_model->apps().size(), 9);
        QCOMPARE(m_model->ghostApps().size(), 2);
        QVERIFY(m_model->outdatedApps().size() >= 8);
        m_model->setPreviewUpdateState(m_model->apps().at(0).bundle_id, UpdateState::failed(engineFailure));
        m_model->setPreviewUpdateState(m_model->apps().at(2).bundle_id, UpdateState::skipped(engineFailure));
        m_model->setPreviewUpdateState(m_model->apps().at(6).bundle_id, UpdateState::quitDenied(engineFailure));
        m_model->setPreviewUpdateState(m_model->apps().at(7).bundle_id,
                                       UpdateState::running(plantedMarkup(QStringLiteral("Downloading"))));
        // A drawn planted text is what the walk looks for: the error alert
        // comes up on its own whenever the model holds a failure.
        m_model->setError(std::nullopt);
    }

    void cleanup()
    {
        settleModel();
        m_model.reset();
        m_shell.reset();
        DiagnosticsOperations::setOverride(std::nullopt);
        m_noMotion.reset();
        m_home.reset();
    }

    void workshopWindow_data()
    {
        QTest::addColumn<bool>("details");
        QTest::newRow("grid of cards") << false;
        QTest::newRow("detailed rows") << true;
    }

    void workshopWindow()
    {
        QFETCH(bool, details);
        m_model->setDetailsMode(details);
        WorkshopWindow window(m_model.get());
        window.resize(1400, 2400);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        walk(&window, QStringLiteral("window"));

        const QList<ShelfCard *> cards = window.shelf()->grid()->cardsInView();
        QCOMPARE(cards.size(), m_model->apps().size());
        for (ShelfCard *card : cards) {
            walkCardDialogs(card, QStringLiteral("card"));
            if (QTest::currentTestFailed())
                return;
        }

        m_model->setError(engineFailure);
        QVERIFY(window.errorAlert());
        walk(window.errorAlert(), QStringLiteral("error alert"));
        m_model->setError(std::nullopt);

        for (const WorkshopSheet which : {WorkshopSheet::updateFlow, WorkshopSheet::ghosts, WorkshopSheet::diagnostics}) {
            window.setSheetShown(which, true);
            QDialog *sheet = window.sheet(which);
            QVERIFY(sheet);
            if (which == WorkshopSheet::diagnostics) {
                auto *diagnostics = qobject_cast<DiagnosticsView *>(sheet);
                QVERIFY(diagnostics);
                QVERIFY(VarnoTest::waitUntil([diagnostics] { return !diagnostics->report().isEmpty(); }));
            }
            walk(sheet, QStringLiteral("sheet %1").arg(int(which)));
            window.setSheetShown(which, false);
        }
        // The detailed rows offer every remedy, and so every dialog a card
        // opens.
        if (details) {
            for (const QString &surface :
                 {QStringLiteral("card confirmation"), QStringLiteral("card contribution sheet"),
                  QStringLiteral("card quit consent"), QStringLiteral("card adopt sheet after its dry run")})
                QVERIFY2(m_walked.contains(surface), qPrintable(surface));
        }
        verdict();
    }

    void drawer()
    {
        WorkshopWindow window(m_model.get());
        window.resize(1400, 1000);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (const AppRecord &app : m_model->apps()) {
            window.setShowProvenance(app);
            ProvenanceDrawerView *drawer = window.drawer();
            QVERIFY(drawer);
            // Its own loads fail with the engine's text.
            QVERIFY(VarnoTest::waitUntil([drawer] { return !drawer->loadState().isLoading; }));
            walk(drawer, QStringLiteral("drawer after its loads"));

            ProvenanceDrawerView::LoadState state;
            state.isLoading = false;
            for (const char *version : {"1.0", "2.0"}) {
                ProvenanceRecord entry;
                entry.bundle_id = app.bundle_id;
                entry.app_name = plantedMarkup(QStringLiteral("history name"));
                entry.from_version = plantedMarkup(QStringLiteral("from"));
                entry.to_version = plantedMarkup(QString::fromLatin1(version));
                entry.source = plantedMarkup(QStringLiteral("source"));
                entry.timestamp = plantedMarkup(QStringLiteral("when"));
                entry.sha256 = plantedMarkup(QStringLiteral("sha"));
                entry.cdn_domain = plantedMarkup(QStringLiteral("cdn"));
                entry.team_id = plantedMarkup(QStringLiteral("team"));
                entry.backup_path = plantedMarkup(QStringLiteral("backup"));
                state.provenance.append(entry);
            }
            BackupRecord backup;
            backup.available = true;
            backup.backup_path = plantedMarkup(QStringLiteral("backup path"));
            backup.timestamp = plantedMarkup(QStringLiteral("backup time"));
            backup.bytes = 1024;
            state.backup = backup;
            drawer->setLoadStateForPreview(state);
            walk(drawer, QStringLiteral("drawer with history"));
            state.loadError = engineFailure;
            state.provenance.clear();
            drawer->setLoadStateForPreview(state);
            walk(drawer, QStringLiteral("drawer, failed"));

            for (const auto action : {ProvenanceDrawerView::AppLifecycleAction::reinstall,
                                      ProvenanceDrawerView::AppLifecycleAction::uninstall}) {
                drawer->setActionToConfirm(action);
                QVERIFY(drawer->confirmationDialog());
                walk(drawer->confirmationDialog(), QStringLiteral("drawer confirmation"));
                drawer->setActionToConfirm(std::nullopt);
            }

            drawer->showRestoreSheet();
            RestoreSheet *restore = drawer->restoreSheet();
            QVERIFY(restore);
            QVERIFY(VarnoTest::waitUntil([restore] { return !restore->state().isLoading; }));
            walk(restore, QStringLiteral("restore sheet after its load"));
            RestoreSheet::State restoreState;
            restoreState.isLoading = false;
            restoreState.backup = backup;
            restoreState.error = engineFailure;
            restore->setStateForPreview(restoreState);
            walk(restore, QStringLiteral("restore sheet, failed"));
            BackupRecord none;
            none.reason = plantedMarkup(QStringLiteral("expired"));
            restoreState.backup = none;
            restoreState.error.reset();
            restore->setStateForPreview(restoreState);
            walk(restore, QStringLiteral("restore sheet, no backup"));
            restore->reject();
            QVERIFY(VarnoTest::waitUntil([drawer] { return !drawer->isRestoreSheetShown(); }));
        }
        window.setShowProvenance(std::nullopt);
        verdict();
    }

    void updateRun()
    {
        UpdateEvent::QueueStart start;
        for (const AppRecord &app : m_model->outdatedApps())
            start.apps.append(UpdateEvent::QueuedApp{app.bundle_id, app.app_name, app.current_version,
                                                     app.latest_version, app.update_mechanism});
        start.count = start.apps.size();
        m_model->handleUpdateEvent(UpdateEvent(start));
        const QString first = start.apps.at(0).bundleId;
        m_model->handleUpdateEvent(
            UpdateEvent(UpdateEvent::AppStart{first, 1, start.count, plantedMarkup(QStringLiteral("fetching"))}));
        UpdateEvent::AppDone failed;
        failed.bundleId = first;
        failed.error = engineFailure;
        failed.errorCode = QStringLiteral("APP_RUNNING");
        m_model->handleUpdateEvent(UpdateEvent(failed));
        const QString second = start.apps.at(1).bundleId;
        m_model->handleUpdateEvent(
            UpdateEvent(UpdateEvent::AppStart{second, 2, start.count, plantedMarkup(QStringLiteral("installing"))}));

        WorkshopWindow window(m_model.get());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.setSheetShown(WorkshopSheet::updateFlow, true);
        QVERIFY(window.sheet(WorkshopSheet::updateFlow));
        walk(window.sheet(WorkshopSheet::updateFlow), QStringLiteral("update-run sheet"));
        for (IncidentActionButton *button :
             window.sheet(WorkshopSheet::updateFlow)->findChildren<IncidentActionButton *>()) {
            if (button->action() != IncidentAction::quitAndUpdate || button->isHidden() || !button->button()->isEnabled())
                continue;
            QTest::mouseClick(button->button(), Qt::LeftButton);
            QVERIFY(button->quitConsentDialog());
            walk(button->quitConsentDialog(), QStringLiteral("update-run quit consent"));
            button->quitConsentDialog()->reject();
        }
        QVERIFY(m_walked.contains(QStringLiteral("update-run quit consent")));
        window.setSheetShown(WorkshopSheet::updateFlow, false);
        verdict();
    }

    void menuBarPanel()
    {
        MenuBarPanel panel(m_model.get());
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        walk(&panel, QStringLiteral("panel"));

        PanelSnapshot running = PanelSnapshot::of(*m_model);
        running.isUpdating = true;
        running.updateProgress.insert(m_model->apps().at(3).bundle_id,
                                      UpdateState::running(plantedMarkup(QStringLiteral("Verifying"))));
        panel.setSnapshotOverride(running);
        QCOMPARE(panel.state(), PanelState::running);
        walk(&panel, QStringLiteral("panel, running"));

        m_model->setError(engineFailure);
        panel.setSnapshotOverride(std::nullopt);
        QCOMPARE(panel.state(), PanelState::error);
        walk(&panel, QStringLiteral("panel, failed"));
        m_model->setError(std::nullopt);
        verdict();
    }

    void settings()
    {
        auto services = std::make_shared<FakeServiceBackend>();
        ServiceManagement::setBackend(services);
        SettingsOperations operations;
        operations.telemetryStatus = []() -> QCoro::Task<bool> { co_return false; };
        operations.telemetry = [](QString) { return noTask(); };
        operations.storage.status = &failingStatus;
        operations.storage.setPolicy = [](int, int) { return failingStatus(); };
        operations.storage.setConsent = [](bool) { return failingStatus(); };
        operations.storage.cleanup = &noTask;
        operations.workbench.load = [] {
            DeveloperWorkbenchState state;
            state.workbenchEnabled = true;
            state.homebrewFormulaeEnabled = true;
            state.npmEnabled = true;
            state.projectFolders = {plantedMarkup(QStringLiteral("/folder")), plantedMarkup(QStringLiteral("/other"))};
            return state;
        };
        operations.workbench.inspect = &plantedDeveloperReport;
        operations.workbench.planUpdates = &failingDeveloperReport;
        operations.workbench.save = [](DeveloperWorkbenchState) { return noTask(); };
        operations.workbench.chooseFolders = [](QWidget *) { return std::optional<QStringList>(); };
        {
            SettingsView view(m_model.get(), operations);
            view.show();
            QVERIFY(QTest::qWaitForWindowExposed(&view));
            QVERIFY(VarnoTest::waitUntil([&view] { return !view.serviceCallsPending(); }));
            for (int tab = 0; tab < view.tabs()->count(); ++tab) {
                view.tabs()->setCurrentIndex(tab);
                QCoreApplication::processEvents();
            }
            VarnoTest::await(view.developerView()->runInspection());
            walk(&view, QStringLiteral("settings, inspected"));
            VarnoTest::await(view.developerView()->runUpdatePlan());
            walk(&view, QStringLiteral("settings, plan failed"));
        }
        ServiceManagement::setBackend(nullptr);
        verdict();
    }
};

VARNO_TEST_CLASS(TestMarkupIsShownAsText)

#include "tst_markup.moc"
