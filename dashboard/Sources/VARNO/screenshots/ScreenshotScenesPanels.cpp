// The first-run overlay in each phase, the Diagnostics sheet and the Workshop
// Environment screen in their states, over the engine stand-in's demo library.
// The sheets' work is scripted, so that the pictures do not depend on the
// machine that takes them.

#include "screenshots/ScreenshotRegistry.h"

#include "screenshots/ScreenshotHeldCalls.h"

#include "base/Async.h"
#include "model/AppModel.h"
#include "screens/DiagnosticsView.h"
#include "screens/EnvironmentView.h"
#include "screens/OnboardingView.h"

#include <qcoro/qcorotask.h>

namespace {

QCoro::Task<QString> neverText()
{
    co_await heldCall();
    co_return QString();
}

QCoro::Task<DiagnosticsReport::ShellOutcome> neverOutcome()
{
    co_await heldCall();
    co_return DiagnosticsReport::ShellOutcome();
}

QString sampleReport()
{
    return QStringLiteral("VARNO Workshop support report\n"
                          "Generated: 2026-03-04 10:00:00 +0000\n"
                          "\n"
                          "=== APP ===\n"
                          "Version: 0.9.14 (30)\n"
                          "Bundle: ~/Applications/VARNO.app\n"
                          "\n"
                          "=== CLI ===\n"
                          "Installed version: 2.3.0\n"
                          "Bundled version: 2.3.0\n"
                          "Manifest: verified (14 files)\n"
                          "\n"
                          "=== varno list --json --all (canonical UI source) ===\n"
                          "Returned: 25 record(s)\n"
                          "  apps outdated (UI semantics): 7\n"
                          "  version_check_status: current=14 outdated=7 unmeasured=3 unknown=1 catalog_stale=0 excluded=0\n"
                          "\n"
                          "=== SCAN LOG (last 40 lines of ~/Library/Logs/VARNO/scan.err) ===\n"
                          "(empty)\n");
}

QString sampleDoctor()
{
    return QStringLiteral("[exit 1]\n"
                          "stdout: VARNO engine 2.3.0 health check\n"
                          "  [ok] Python 3.11.2\n"
                          "  [ok] Data folder\n"
                          "  [ok] Log folder\n"
                          "  [ok] Database schema\n"
                          "  [FAIL] Database integrity: row 14 missing from index\n"
                          "Found 1 problem(s).\n"
                          "stderr: ");
}

DiagnosticsOperations scripted(bool loading)
{
    DiagnosticsOperations operations;
    if (loading)
        operations.gather = neverText;
    else
        operations.gather = []() -> QCoro::Task<QString> { co_return sampleReport(); };
    operations.healthCheck = neverOutcome;
    operations.forceScan = neverText;
    operations.repair = neverText;
    return operations;
}

QWidget *diagnostics(bool loading, const std::function<void(DiagnosticsView *, AppModel *)> &setUp = {})
{
    AppModel *model = ScreenshotLibrary::demoModel();
    DiagnosticsOperations operations = scripted(loading);
    if (setUp) {
        operations.healthCheck = []() -> QCoro::Task<DiagnosticsReport::ShellOutcome> {
            co_return DiagnosticsReport::ShellOutcome{sampleDoctor(), false};
        };
        operations.forceScan = []() -> QCoro::Task<QString> {
            co_return QStringLiteral("Scanning 25 apps…\n  com.example.lantern: 4.2.0 → 4.3.1 (cask)\n"
                                     "  com.example.harbor: current (sparkle)\nDone: 7 outdated.\n");
        };
        operations.repair = []() -> QCoro::Task<QString> {
            co_return QStringLiteral(
                "Repair succeeded. CLI reinstalled from bundle.\nOld scan.err rotated to scan.err.prev.");
        };
    }
    auto *view = new DiagnosticsView(model, operations);
    model->setParent(view);
    if (setUp)
        setUp(view, model);
    return new ScreenshotHoldingScene(view);
}

QWidget *runningDiagnostics()
{
    AppModel *model = ScreenshotLibrary::demoModel();
    auto *view = new DiagnosticsView(model, scripted(false));
    model->setParent(view);
    Async::detach(view->runHealthCheck());
    Async::detach(view->runForceScan());
    return new ScreenshotHoldingScene(view);
}

QWidget *onboarding(const OnboardingView::Preview &preview, AppModel *model)
{
    auto *view = new OnboardingView(model, OnboardingEnvironment());
    model->setParent(view);
    view->showPreview(preview);
    return view;
}

AppModel *emptyModel()
{
    auto *model = new AppModel(ScreenshotLibrary::quietServices());
    model->setShowOnboarding(false);
    return model;
}

EnvironmentServices quietSystem()
{
    EnvironmentServices services;
    services.hasFullDiskAccess = [] { return true; };
    services.agentStatus = [] { return EnvironmentRules::enabled; };
    services.loginItemStatus = [] { return EnvironmentRules::enabled; };
    services.probeExtensions = []() -> QCoro::Task<QList<ESE>> { co_return QList<ESE>(); };
    services.retentionStatus = []() -> QCoro::Task<RetentionStatus> { co_return RetentionStatus(); };
    services.setLoginItem = [](bool enabled) {
        return enabled ? EnvironmentRules::enabled : EnvironmentRules::notRegistered;
    };
    services.recordEvent = [](const QString &) {};
    return services;
}

QWidget *environment(const EnvironmentRules::Snapshot &snapshot, const QList<ESE> &extensions, bool loading,
                     bool detectionIncomplete)
{
    AppModel *model = ScreenshotLibrary::demoModel();
    if (detectionIncomplete) {
        QList<AppRecord> apps;
        for (const AppRecord &app : model->apps()) {
            if (app.update_mechanism.value_or(QString()).toLower() != QLatin1String("mas"))
                apps.append(app);
        }
        model->setApps(apps);
    }
    auto *view = new EnvironmentView(model, quietSystem());
    model->setParent(view);
    view->showPreview(snapshot, extensions, loading);
    return view;
}

QList<ESE> sampleExtensions()
{
    return {ESE{QStringLiteral("com.example.netguard.extension"), QStringLiteral("MLZF7K7B5R"),
                QStringLiteral("NetGuard Filter"), QStringLiteral("5.5.3"), QStringLiteral("activated enabled"),
                ESE::Category::networkFilter},
            ESE{QStringLiteral("com.example.sentinel.agent"), QStringLiteral("X9E956P446"), QString(), QString(),
                QStringLiteral("activated enabled"), ESE::Category::endpointSecurity},
            ESE{QStringLiteral("com.example.dock.driver"), QStringLiteral("ABCDE12345"), QStringLiteral("Dock Driver"),
                QStringLiteral("1.2"), QStringLiteral("terminated waiting to uninstall on reboot"),
                ESE::Category::driverExtension}};
}

// The first-run overlay in `phase`, with `also` holding.
std::function<void(ScreenshotCheck &)> onboardingShows(OnboardingPhase phase, const char *what,
                                                       std::function<bool(const OnboardingView &)> also)
{
    return [phase, what, also](ScreenshotCheck &check) {
        const OnboardingView *view = check.find<OnboardingView>();
        const QWidget *screen = !view               ? nullptr
            : phase == OnboardingPhase::setup       ? view->setupPhaseView()
            : phase == OnboardingPhase::discovering ? view->discoveryPhaseView()
                                                    : view->summaryPhaseView();
        check.expect(view && view->phase() == phase && screen && screen->isVisibleTo(view),
                     QStringLiteral("the overlay's %1 screen").arg(QLatin1String(what)));
        check.expect(view && also(*view), QStringLiteral("what the %1 screen shows").arg(QLatin1String(what)));
    };
}

// The Diagnostics sheet with `state` holding.
std::function<void(ScreenshotCheck &)> diagnosticsShow(const char *what,
                                                       std::function<bool(const DiagnosticsView &)> state)
{
    return [what, state](ScreenshotCheck &check) {
        const DiagnosticsView *view = check.find<DiagnosticsView>();
        check.expect(view && state(*view), QString::fromLatin1(what));
    };
}

// The Environment screen with `state` holding.
std::function<void(ScreenshotCheck &)> environmentShows(const char *what,
                                                        std::function<bool(const EnvironmentView &)> state)
{
    return [what, state](ScreenshotCheck &check) {
        const EnvironmentView *view = check.find<EnvironmentView>();
        check.expect(view && state(*view), QString::fromLatin1(what));
    };
}

} // namespace

void registerPanelsScreenshotScenes(ScreenshotRegistry &registry)
{
    const QSize window(1100, 720);
    registry.add(
        {QStringLiteral("onboarding-setup"), window,
         [] {
             return onboarding({OnboardingPhase::setup, 2, 0, QString(), true, false}, ScreenshotLibrary::demoModel());
         },
         onboardingShows(OnboardingPhase::setup, "setup",
                         [](const OnboardingView &view) { return view.setupStep() == 2; })});
    registry.add(
        {QStringLiteral("onboarding-discovering"), window,
         [] {
             AppModel *model = ScreenshotLibrary::demoModel();
             const QString last = model->apps().isEmpty() ? QString() : model->apps().constLast().app_name;
             return onboarding({OnboardingPhase::discovering, 4, int(model->apps().size()), last, true, false}, model);
         },
         onboardingShows(OnboardingPhase::discovering, "discovery", [](const OnboardingView &view) {
             return view.appsFound() == ScreenshotLibrary::demoRecords().size() && view.appsFound() > 0
                 && view.namePillText() == ScreenshotLibrary::demoRecords().constLast().app_name;
         })});
    registry.add(
        {QStringLiteral("onboarding-summary"), window,
         [] {
             return onboarding({OnboardingPhase::done, 4, 0, QString(), true, false}, ScreenshotLibrary::demoModel());
         },
         onboardingShows(OnboardingPhase::done, "summary",
                         [](const OnboardingView &view) { return view.managedAppsCount() > 0 && view.brewFound(); })});
    registry.add({QStringLiteral("onboarding-summary-empty"), window,
                  [] {
                      return onboarding({OnboardingPhase::done, 4, 0, QString(), false, false}, emptyModel());
                  },
                  onboardingShows(OnboardingPhase::done, "summary", [](const OnboardingView &view) {
                      return view.managedAppsCount() == 0 && !view.brewFound();
                  })});

    const QSize sheet(DiagnosticsView::kMinimumWidth, 680);
    registry.add({QStringLiteral("diagnostics-loading"), sheet, [] { return diagnostics(true); },
                  diagnosticsShow("the report being gathered", [](const DiagnosticsView &view) {
                      return view.isLoading() && view.skeletonView()->isVisibleTo(&view);
                  })});
    registry.add({QStringLiteral("diagnostics-report"), sheet, [] { return diagnostics(false); },
                  diagnosticsShow("the report", [](const DiagnosticsView &view) {
                      return !view.isLoading()
                          && view.reportText().contains(QStringLiteral("VARNO Workshop support report"))
                          && !view.isHealthRunning() && !view.isScanRunning();
                  })});
    registry.add({QStringLiteral("diagnostics-running"), sheet, [] { return runningDiagnostics(); },
                  diagnosticsShow("the health check and the scan under way", [](const DiagnosticsView &view) {
                      return view.isHealthRunning() && view.isScanRunning();
                  })});
    registry.add(
        {QStringLiteral("diagnostics-results"), QSize(DiagnosticsView::kMinimumWidth, 1000),
         [] {
             return diagnostics(false, [](DiagnosticsView *view, AppModel *) {
                 Async::detach(view->runRepair());
                 Async::detach(view->runHealthCheck());
                 Async::detach(view->runForceScan());
             });
         },
         diagnosticsShow("the repair's, the health check's and the scan's results", [](const DiagnosticsView &view) {
             return view.repairResult().startsWith(QStringLiteral("Repair succeeded.")) && view.healthFailed()
                 && view.healthReport().contains(QStringLiteral("[FAIL] Database integrity"))
                 && view.scanLog().contains(QStringLiteral("Done: 7 outdated."));
         })});

    const QSize environmentSize(600, 900);
    registry.add({QStringLiteral("environment-ready"), environmentSize,
                  [] {
                      return environment({true, EnvironmentRules::enabled, EnvironmentRules::enabled, true, 0}, {},
                                         false, false);
                  },
                  environmentShows("every check passed", [](const EnvironmentView &view) {
                      return !view.isLoading() && view.fda() && view.agentStatus() == EnvironmentRules::enabled
                          && view.loginItemStatus() == EnvironmentRules::enabled
                          && !view.detectionBanner()->isVisibleTo(&view);
                  })});
    registry.add(
        {QStringLiteral("environment-loading"), environmentSize,
         [] {
             return environment({true, EnvironmentRules::notRegistered, EnvironmentRules::notRegistered, false, 0}, {},
                                true, false);
         },
         environmentShows("the checks being read", [](const EnvironmentView &view) { return view.isLoading(); })});
    registry.add({QStringLiteral("environment-attention"), QSize(600, 1150),
                  [] {
                      return environment({false, EnvironmentRules::requiresApproval, EnvironmentRules::requiresApproval,
                                          true, 734003200},
                                         sampleExtensions(), false, true);
                  },
                  environmentShows("what needs attention", [](const EnvironmentView &view) {
                      return !view.isLoading() && !view.fda() && view.eses().size() == 3
                          && view.agentStatus() == EnvironmentRules::requiresApproval
                          && view.detectionBanner()->isVisibleTo(&view);
                  })});
    registry.add({QStringLiteral("environment-reclaimable"), environmentSize,
                  [] {
                      return environment({true, EnvironmentRules::enabled, EnvironmentRules::notRegistered, false, 1536},
                                         {}, false, false);
                  },
                  environmentShows("space to reclaim", [](const EnvironmentView &view) {
                      return !view.isLoading() && view.backupReclaimableBytes() == 1536;
                  })});
    // A machine without the receipts folder whose service manager does not answer.
    registry.add(
        {QStringLiteral("environment-unconfirmed"), environmentSize,
         [] {
             return environment({true, EnvironmentRules::unconfirmed, EnvironmentRules::notRegistered, false, 0, false},
                                {}, false, false);
         },
         environmentShows("a registration nothing confirms", [](const EnvironmentView &view) {
             return !view.isLoading() && view.fda() && view.agentStatus() == EnvironmentRules::unconfirmed;
         })});
}
