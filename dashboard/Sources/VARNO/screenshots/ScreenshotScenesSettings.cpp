#include "screenshots/ScreenshotRegistry.h"

#include "screenshots/ScreenshotHeldCalls.h"

#include "base/Async.h"
#include "engine/VARNOError.h"
#include "model/AppModel.h"
#include "platform/FakeServiceBackend.h"
#include "settings/DeveloperWorkbenchSettingsView.h"
#include "settings/SettingsRules.h"
#include "settings/SettingsView.h"
#include "settings/StorageSettingsView.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSpinBox>
#include <QTabWidget>

#include <qcoro/qcorotask.h>

// The Settings window's tabs in their states: loading (an engine call that
// has not answered), loaded, failed and saving (a change under way).

namespace {

QCoro::Task<RetentionStatus> neverStatus()
{
    co_await heldCall();
    co_return RetentionStatus();
}

QCoro::Task<bool> neverFlag()
{
    co_await heldCall();
    co_return false;
}

QCoro::Task<DeveloperReport> neverReport()
{
    co_await heldCall();
    co_return DeveloperReport();
}

RetentionStatus sampleStatus()
{
    RetentionStatus status;
    status.policy.keepPerApp = 3;
    status.policy.retentionDays = 45;
    status.usage.bytes = 2684354560LL;
    status.usage.snapshotCount = 14;
    status.usage.bundleCount = 6;
    status.pendingPlan.count = 4;
    status.pendingPlan.bytes = 734003200LL;
    return status;
}

QCoro::Task<RetentionStatus> answerStatus()
{
    co_return sampleStatus();
}

QCoro::Task<RetentionStatus> answerSetPolicy(int, int)
{
    co_return sampleStatus();
}

QCoro::Task<RetentionStatus> neverSetPolicy(int, int)
{
    co_return co_await neverStatus();
}

QCoro::Task<RetentionStatus> failStatus()
{
    throw VARNOError::processFailure(1, QStringLiteral("database is locked"));
    co_return RetentionStatus();
}

QCoro::Task<bool> answerTelemetry(bool on)
{
    co_return on;
}

QCoro::Task<bool> telemetryOn()
{
    return answerTelemetry(true);
}

QCoro::Task<bool> telemetryOff()
{
    return answerTelemetry(false);
}

QCoro::Task<bool> failTelemetry()
{
    throw VARNOError::processFailure(1, QStringLiteral("no status line"));
    co_return false;
}

QCoro::Task<void> neverTelemetry(QString)
{
    co_await heldCall();
}

QCoro::Task<void> saveNothing(DeveloperWorkbenchState)
{
    co_return;
}

QCoro::Task<DeveloperReport> answerReport()
{
    DeveloperReport report;
    report.summary = QStringLiteral("Inspected Homebrew formulae and npm in 2 project folders (~/Projects/harbor, "
                                    "~/Projects/lantern-web); nothing was applied.");
    co_return report;
}

QCoro::Task<DeveloperReport> failReport()
{
    throw VARNOError::processFailure(1, QStringLiteral("The Developer Workbench settings can't be read."));
    co_return DeveloperReport();
}

DeveloperWorkbenchState workbenchOn()
{
    DeveloperWorkbenchState state;
    state.workbenchEnabled = true;
    state.homebrewFormulaeEnabled = true;
    state.npmEnabled = true;
    state.projectFolders = {QStringLiteral("/Users/sam/Projects/harbor"),
                            QStringLiteral("/Users/sam/Projects/lantern-web/packages/desktop-shell/renderer/components")};
    return state;
}

struct Setup {
    SettingsView::Tab tab = SettingsView::general;
    SettingsOperations operations;
    bool servicesOn = true;
    std::function<void(SettingsView *)> after; // run once the window shows
};

SettingsOperations calm()
{
    SettingsOperations operations;
    operations.telemetryStatus = &telemetryOff;
    operations.telemetry = &neverTelemetry;
    operations.storage.status = &answerStatus;
    operations.storage.setPolicy = &answerSetPolicy;
    operations.storage.setConsent = [](bool) { return answerStatus(); };
    operations.storage.cleanup = &heldCall;
    operations.workbench.load = [] { return DeveloperWorkbenchState(); };
    operations.workbench.inspect = &answerReport;
    operations.workbench.planUpdates = &answerReport;
    operations.workbench.save = &saveNothing;
    operations.workbench.chooseFolders = [](QWidget *) { return std::optional<QStringList>(); };
    return operations;
}

// The window as Settings opens it, on the chosen tab. The registrations are
// read from a fake of the system's, so that the pictures do not depend on the
// machine that takes them.
class SettingsScene : public QWidget {
public:
    explicit SettingsScene(Setup setup)
    {
        auto services = std::make_shared<FakeServiceBackend>();
        const SMAppService::Status status = setup.servicesOn ? SMAppService::Status::enabled
                                                             : SMAppService::Status::notRegistered;
        services->setStatus({ServiceIdentity::Kind::MainApp, QString()}, status);
        services->setStatus({ServiceIdentity::Kind::Agent, QStringLiteral("org.varno.scan.plist")}, status);
        ServiceManagement::setBackend(services);
        auto *model = new AppModel(ScreenshotLibrary::quietServices(), this);
        m_view = new SettingsView(model, setup.operations, this);
        // The statuses are read on a worker thread: the picture shows the
        // window once they have arrived.
        QElapsedTimer reading;
        reading.start();
        while (m_view->serviceCallsPending() && reading.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ServiceManagement::setBackend(nullptr);
        m_view->tabs()->setCurrentIndex(setup.tab);
        m_after = setup.after;
    }

    ~SettingsScene() override { ScreenshotHeldCalls::instance().releaseAll(); }

protected:
    void resizeEvent(QResizeEvent *) override { m_view->setGeometry(rect()); }
    void showEvent(QShowEvent *) override
    {
        if (m_after) {
            const auto after = m_after;
            m_after = nullptr;
            after(m_view);
        }
    }

private:
    SettingsView *m_view = nullptr;
    std::function<void(SettingsView *)> m_after;
};

QWidget *scene(Setup setup)
{
    return new SettingsScene(std::move(setup));
}

const char *tabName(SettingsView::Tab tab)
{
    switch (tab) {
    case SettingsView::general:
        return "General";
    case SettingsView::privacy:
        return "Privacy";
    case SettingsView::storage:
        return "Storage";
    case SettingsView::developer:
        break;
    }
    return "Developer";
}

// The window on `tab`, and what `state` says of it.
std::function<void(ScreenshotCheck &)> settingsShow(SettingsView::Tab tab, const char *what,
                                                    std::function<bool(const SettingsView &, const AppModel &)> state)
{
    return [tab, what, state](ScreenshotCheck &check) {
        const SettingsView *view = check.find<SettingsView>();
        const AppModel *model = check.find<AppModel>();
        check.expect(view && view->tabs()->currentIndex() == tab,
                     QStringLiteral("the %1 tab").arg(QLatin1String(tabName(tab))));
        check.expect(view && model && state(*view, *model), QString::fromLatin1(what));
    };
}

bool callUnderWay()
{
    return ScreenshotHeldCalls::instance().waiting() > 0;
}

} // namespace

void registerSettingsScreenshotScenes(ScreenshotRegistry &registry)
{
    const QSize size(680, 580);
    const QSize tall(680, 1060);

    registry.add(
        {QStringLiteral("settings-general"), size,
         [] {
             return scene({SettingsView::general, calm()});
         },
         settingsShow(SettingsView::general, "login item and background scans on",
                      [](const SettingsView &v, const AppModel &) { return v.launchAtLogin() && v.backgroundScan(); })});
    registry.add({QStringLiteral("settings-general-off"), size,
                  [] {
                      Setup setup{SettingsView::general, calm()};
                      setup.servicesOn = false;
                      return scene(setup);
                  },
                  settingsShow(SettingsView::general, "login item and background scans off",
                               [](const SettingsView &v, const AppModel &) {
                                   return !v.launchAtLogin() && !v.backgroundScan();
                               })});

    registry.add({QStringLiteral("settings-privacy-loading"), size,
                  [] {
                      Setup setup{SettingsView::privacy, calm()};
                      setup.operations.telemetryStatus = &neverFlag;
                      return scene(setup);
                  },
                  settingsShow(SettingsView::privacy, "the telemetry status being read",
                               [](const SettingsView &v, const AppModel &m) {
                                   return callUnderWay() && !v.telemetryEnabled() && !m.error();
                               })});
    registry.add({QStringLiteral("settings-privacy-loaded"), size,
                  [] {
                      Setup setup{SettingsView::privacy, calm()};
                      setup.operations.telemetryStatus = &telemetryOn;
                      return scene(setup);
                  },
                  settingsShow(SettingsView::privacy, "telemetry on", [](const SettingsView &v, const AppModel &m) {
                      return v.telemetryEnabled() && !m.error();
                  })});
    registry.add({QStringLiteral("settings-privacy-failed"), size,
                  [] {
                      Setup setup{SettingsView::privacy, calm()};
                      setup.operations.telemetryStatus = &failTelemetry;
                      return scene(setup);
                  },
                  settingsShow(SettingsView::privacy, "the telemetry status's failure as the model's error",
                               [](const SettingsView &, const AppModel &m) {
                                   return m.error().value_or(QString()).contains(QStringLiteral("no status line"));
                               })});
    registry.add({QStringLiteral("settings-privacy-saving"), size,
                  [] {
                      Setup setup{SettingsView::privacy, calm()};
                      setup.after = [](SettingsView *view) {
                          view->setTelemetryPreference(true);
                          Async::detach(view->forgetTelemetryState());
                      };
                      return scene(setup);
                  },
                  settingsShow(SettingsView::privacy, "telemetry being turned on and forgotten",
                               [](const SettingsView &v, const AppModel &) {
                                   return v.telemetryEnabled() && v.telemetrySyncInFlight()
                                       && v.telemetryForgetInFlight();
                               })});

    registry.add({QStringLiteral("settings-storage-loading"), size,
                  [] {
                      Setup setup{SettingsView::storage, calm()};
                      setup.operations.storage.status = &neverStatus;
                      return scene(setup);
                  },
                  settingsShow(SettingsView::storage, "the storage status being read",
                               [](const SettingsView &v, const AppModel &) {
                                   return v.storageView()->isLoading() && !v.storageView()->hasLoaded();
                               })});
    registry.add(
        {QStringLiteral("settings-storage-loaded"), size,
         [] {
             return scene({SettingsView::storage, calm()});
         },
         settingsShow(SettingsView::storage, "the storage policy read", [](const SettingsView &v, const AppModel &) {
             const StorageSettingsView *storage = v.storageView();
             return storage->hasLoaded() && !storage->isLoading() && storage->keepPerApp() == 3
                 && storage->retentionDays() == 45 && !storage->errorText();
         })});
    registry.add(
        {QStringLiteral("settings-storage-failed"), size,
         [] {
             Setup setup{SettingsView::storage, calm()};
             setup.operations.storage.status = &failStatus;
             return scene(setup);
         },
         settingsShow(SettingsView::storage, "the storage status's failure", [](const SettingsView &v, const AppModel &) {
             return !v.storageView()->hasLoaded()
                 && v.storageView()->errorText().value_or(QString()).contains(QStringLiteral("database is locked"));
         })});
    registry.add(
        {QStringLiteral("settings-storage-saving"), size,
         [] {
             Setup setup{SettingsView::storage, calm()};
             setup.operations.storage.setPolicy = &neverSetPolicy;
             setup.after = [](SettingsView *view) {
                 if (auto *keep = view->storageView()->findChild<QSpinBox *>(QStringLiteral("storage-keep-per-app")))
                     keep->stepUp();
             };
             return scene(setup);
         },
         settingsShow(SettingsView::storage, "a new policy being saved", [](const SettingsView &v, const AppModel &) {
             return v.storageView()->isWorking() && v.storageView()->keepPerApp() == 4;
         })});

    registry.add({QStringLiteral("settings-developer-off"), size,
                  [] {
                      return scene({SettingsView::developer, calm()});
                  },
                  settingsShow(SettingsView::developer, "the workbench off", [](const SettingsView &v, const AppModel &) {
                      return !v.developerView()->state().workbenchEnabled;
                  })});
    registry.add(
        {QStringLiteral("settings-developer-loaded"), tall,
         [] {
             Setup setup{SettingsView::developer, calm()};
             setup.operations.workbench.load = &workbenchOn;
             setup.after = [](SettingsView *view) { Async::detach(view->developerView()->runInspection()); };
             return scene(setup);
         },
         settingsShow(SettingsView::developer, "the workbench's inspection", [](const SettingsView &v, const AppModel &) {
             const DeveloperWorkbenchSettingsView *developer = v.developerView();
             return developer->state().workbenchEnabled && developer->state().projectFolders.size() == 2
                 && developer->inspectionSummary().startsWith(QStringLiteral("Inspected Homebrew formulae"));
         })});
    registry.add(
        {QStringLiteral("settings-developer-failed"), tall,
         [] {
             Setup setup{SettingsView::developer, calm()};
             setup.operations.workbench.load = [] {
                 DeveloperWorkbenchState state = workbenchOn();
                 state.projectFolders.clear();
                 state.pythonEnabled = true;
                 return state;
             };
             setup.operations.workbench.inspect = &failReport;
             setup.operations.workbench.planUpdates = &failReport;
             setup.after = [](SettingsView *view) {
                 Async::detach(view->developerView()->runInspection());
                 Async::detach(view->developerView()->runUpdatePlan());
             };
             return scene(setup);
         },
         settingsShow(SettingsView::developer, "the inspection and the update plan failed",
                      [](const SettingsView &v, const AppModel &) {
                          const DeveloperWorkbenchSettingsView *developer = v.developerView();
                          return developer->inspectionSummary().startsWith(WorkbenchRules::inspectionFailedPrefix)
                              && developer->updatePlanSummary().startsWith(WorkbenchRules::updatePlanFailedPrefix);
                      })});
    registry.add(
        {QStringLiteral("settings-developer-saving"), tall,
         [] {
             Setup setup{SettingsView::developer, calm()};
             setup.operations.workbench.load = &workbenchOn;
             setup.operations.workbench.inspect = &neverReport;
             setup.after = [](SettingsView *view) { Async::detach(view->developerView()->runInspection()); };
             return scene(setup);
         },
         settingsShow(SettingsView::developer, "an inspection under way", [](const SettingsView &v, const AppModel &) {
             return v.developerView()->isInspecting() && callUnderWay();
         })});
}
