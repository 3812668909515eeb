#include "AppTestSupport.h"
#include "TestRegistry.h"

#include "engine/CLIBootstrapError.h"
#include "engine/VARNOProcess.h"
#include "platform/MainBundle.h"
#include "platform/VarnoPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

using AppTest::RecordingLaunch;

class TestLaunchSequence : public QObject {
    Q_OBJECT

private:
    struct Launch {
        RecordingLaunch recording;
        std::unique_ptr<AppModel> model = std::make_unique<AppModel>(AppTest::quietServices());
        std::unique_ptr<AppDelegate> delegate;

        void start()
        {
            recording.model = model.get();
            delegate = std::make_unique<AppDelegate>(model.get(), recording.environment());
        }
        bool runToEnd()
        {
            QSignalSpy finished(delegate.get(), &AppDelegate::launchTaskFinished);
            delegate->applicationDidFinishLaunching();
            return finished.count() == 1 || finished.wait(10000);
        }
    };

private Q_SLOTS:
    void runsInItsOrder_data()
    {
        QTest::addColumn<QStringList>("icons");
        QTest::addColumn<bool>("agentThrows");
        QTest::addColumn<bool>("launchAtLogin");
        QTest::addColumn<int>("loginStatus");
        QTest::addColumn<bool>("onboarding");
        QTest::addColumn<bool>("bootstrapFails");
        QTest::addColumn<int>("library");
        QTest::addColumn<bool>("everScanned");
        QTest::addColumn<QStringList>("expected");

        const QString boot = QStringLiteral("bootstrap preparing=1");
        const QString load = QStringLiteral("load preparing=0");

        QTest::newRow("first launch: empty, never scanned, onboarding")
            << QStringList{"AppIcon"} << false << false << 0 << true << false << 0 << false
            << QStringList{"image AppIcon", "setIcon AppIcon", "launchAtLogin?", boot, "installAgent", load,
                           "scan",          "permission"};
        QTest::newRow("later launch with a library: load only, updater started")
            << QStringList{"head_icon_200x200"} << false << false << 0 << false << false << 3 << true
            << QStringList{"image AppIcon",
                           "image head_icon_200x200",
                           "setIcon head_icon_200x200",
                           "launchAtLogin?",
                           "startUpdater",
                           boot,
                           "installAgent",
                           load,
                           "permission"};
        QTest::newRow("empty library scanned before: no scan")
            << QStringList{"head_icon_100x100"} << false << false << 0 << false << false << 0 << true
            << QStringList{"image AppIcon",
                           "image head_icon_200x200",
                           "image head_icon_100x100",
                           "setIcon head_icon_100x100",
                           "launchAtLogin?",
                           "startUpdater",
                           boot,
                           "installAgent",
                           load,
                           "permission"};
        QTest::newRow("library never scanned but not empty: no scan")
            << QStringList{"AppIcon", "head_icon_100x100"} << false << false << 0 << false << false << 2 << false
            << QStringList{"image AppIcon",
                           "setIcon AppIcon",
                           "launchAtLogin?",
                           "startUpdater",
                           boot,
                           "installAgent",
                           load,
                           "permission"};
        QTest::newRow("bootstrap fails: logged, no agent, nothing loaded, permission still asked")
            << QStringList{} << false << false << 0 << false << true << 5 << false
            << QStringList{"image AppIcon",
                           "image head_icon_200x200",
                           "image head_icon_100x100",
                           "launchAtLogin?",
                           "startUpdater",
                           boot,
                           "logBootstrapFailure",
                           "permission"};
        QTest::newRow("agent fails: the launch goes on")
            << QStringList{"AppIcon"} << true << false << 0 << true << false << 1 << true
            << QStringList{"image AppIcon", "setIcon AppIcon", "launchAtLogin?", boot, "installAgent", load,
                           "permission"};
        QTest::newRow("launch at login wanted, item not registered: repaired")
            << QStringList{"AppIcon"} << false << true << int(SMAppService::Status::notRegistered) << false << false
            << 1 << true
            << QStringList{"image AppIcon",
                           "setIcon AppIcon",
                           "launchAtLogin?",
                           "loginStatus?",
                           "setLoginItem 1",
                           "startUpdater",
                           boot,
                           "installAgent",
                           load,
                           "permission"};
        QTest::newRow("launch at login wanted, item awaiting approval: repaired")
            << QStringList{"AppIcon"} << false << true << int(SMAppService::Status::requiresApproval) << false << false
            << 1 << true
            << QStringList{"image AppIcon",
                           "setIcon AppIcon",
                           "launchAtLogin?",
                           "loginStatus?",
                           "setLoginItem 1",
                           "startUpdater",
                           boot,
                           "installAgent",
                           load,
                           "permission"};
        QTest::newRow("launch at login wanted, item enabled: left alone")
            << QStringList{"AppIcon"} << false << true << int(SMAppService::Status::enabled) << false << false << 1
            << true << QStringList{"image AppIcon",  "setIcon AppIcon",
                                   "launchAtLogin?", "loginStatus?",
                                   "startUpdater",   boot,
                                   "installAgent",   load,
                                   "permission"};
    }

    void runsInItsOrder()
    {
        QFETCH(QStringList, icons);
        QFETCH(bool, agentThrows);
        QFETCH(bool, launchAtLogin);
        QFETCH(int, loginStatus);
        QFETCH(bool, onboarding);
        QFETCH(bool, bootstrapFails);
        QFETCH(int, library);
        QFETCH(bool, everScanned);
        QFETCH(QStringList, expected);

        Launch launch;
        launch.recording.availableIcons = icons;
        launch.recording.agentThrows = agentThrows;
        launch.recording.launchAtLogin = launchAtLogin;
        launch.recording.loginStatus = SMAppService::Status(loginStatus);
        launch.recording.libraryAfterLoad = library;
        if (bootstrapFails)
            launch.recording.bootstrapFailure = std::make_exception_ptr(CLIBootstrapError::bundledCLIMissing());
        launch.model->setShowOnboarding(onboarding);
        launch.model->setHasEverScanned(everScanned);
        launch.start();

        QVERIFY(launch.runToEnd());
        QCOMPARE(launch.recording.journal, expected);
        QVERIFY(!launch.model->isPreparing());
        QCOMPARE(launch.model->error().has_value(), bootstrapFails);
        if (bootstrapFails)
            QVERIFY(launch.model->apps().isEmpty());
    }

    void returnsBeforeTheLaunchTaskEnds()
    {
        Launch launch;
        launch.recording.libraryAfterLoad = 1;
        launch.start();
        QSignalSpy finished(launch.delegate.get(), &AppDelegate::launchTaskFinished);
        launch.delegate->applicationDidFinishLaunching();
        // The engine is still being installed: preparing, nothing loaded yet.
        QVERIFY(launch.model->isPreparing());
        QCOMPARE(launch.recording.journal.last(), QStringLiteral("bootstrap preparing=1"));
        QVERIFY(finished.wait(10000));
        QVERIFY(!launch.model->isPreparing());
        QCOMPARE(launch.model->apps().size(), 1);
    }

    void bootstrapFailureIsLoggedAndBecomesTheError()
    {
        VarnoTest::TempHome home;
        Launch launch;
        launch.recording.realFailureLog = true;
        const CLIBootstrapError failure = CLIBootstrapError::migrationFailed(3, QStringLiteral("database is locked"));
        launch.recording.bootstrapFailure = std::make_exception_ptr(failure);
        launch.start();
        QVERIFY(launch.runToEnd());

        QCOMPARE(launch.model->error(), std::optional<QString>(failure.errorDescription()));
        QVERIFY(launch.model->apps().isEmpty());
        QVERIFY(!launch.model->hasEverScanned());
        const QString log = QString::fromUtf8(
            VarnoTest::readFile(VarnoPaths::logsDir() + QStringLiteral("/bootstrap.err")));
        QVERIFY2(log.contains(failure.errorDescription()), qPrintable(log));
        QVERIFY(!launch.recording.journal.contains(QStringLiteral("load preparing=0")));
    }

    void updaterStartsEachTimeOnboardingEnds()
    {
        Launch launch;
        launch.model->setShowOnboarding(false);
        launch.start();
        auto window = std::make_unique<QObject>();
        launch.delegate->attachWorkshopWindow(window.get());

        launch.model->setShowOnboarding(true);
        QCOMPARE(launch.recording.journal.count(QStringLiteral("startUpdater")), 0);
        launch.model->setShowOnboarding(false);
        QCOMPARE(launch.recording.journal.count(QStringLiteral("startUpdater")), 1);
        launch.model->setShowOnboarding(true);
        launch.model->setShowOnboarding(false);
        QCOMPARE(launch.recording.journal.count(QStringLiteral("startUpdater")), 2);

        // The hook belongs to the window: gone with it.
        window.reset();
        launch.model->setShowOnboarding(true);
        launch.model->setShowOnboarding(false);
        QCOMPARE(launch.recording.journal.count(QStringLiteral("startUpdater")), 2);
    }

    void activationsAreDebouncedIntoOneCheck()
    {
        Launch launch;
        launch.start();
        QVERIFY(launch.runToEnd());
        auto window = std::make_unique<QObject>();
        auto *check = qobject_cast<ActivationCheck *>(launch.delegate->attachWorkshopWindow(window.get()));
        QVERIFY(check);
        QCOMPARE(check->interval(), 750);

        check->applicationDidBecomeActive();
        check->applicationDidBecomeActive();
        check->applicationDidBecomeActive();
        QVERIFY(check->isPending());
        QCOMPARE(launch.recording.journal.count(QStringLiteral("backgroundCheck")), 0);
        QVERIFY(VarnoTest::waitUntil([&] { return !check->isPending(); }));
        QCOMPARE(launch.recording.journal.count(QStringLiteral("backgroundCheck")), 1);
    }

    // The window shows (and the app turns active) before the launch load has
    // answered: that activation reads nothing; once the load has answered,
    // the next one checks.
    void noCheckBeforeTheLaunchLoadHasAnswered()
    {
        Launch launch;
        launch.start();
        auto window = std::make_unique<QObject>();
        auto *check = qobject_cast<ActivationCheck *>(launch.delegate->attachWorkshopWindow(window.get()));
        QVERIFY(check);
        QSignalSpy loaded(launch.delegate.get(), &AppDelegate::launchLoadFinished);
        check->applicationDidBecomeActive();
        QVERIFY(VarnoTest::waitUntil([&] { return !check->isPending(); }));
        QVERIFY(!launch.delegate->launchLoadAnswered());
        QCOMPARE(launch.recording.journal.count(QStringLiteral("backgroundCheck")), 0);

        QVERIFY(launch.runToEnd());
        QCOMPARE(loaded.count(), 1);
        QVERIFY(launch.delegate->launchLoadAnswered());
        check->applicationDidBecomeActive();
        QVERIFY(VarnoTest::waitUntil([&] { return !check->isPending(); }));
        QCOMPARE(launch.recording.journal.count(QStringLiteral("backgroundCheck")), 1);
    }

    // The model's own check: with no library read yet there is no baseline,
    // so nothing is posted; after the load only newly outdated apps are.
    void backgroundCheckComparesWithTheLastLibrary()
    {
        VarnoTest::TempHome home;
        QVERIFY(VarnoTest::prepareSimulatedMac());
        QCOMPARE(VarnoTest::runEngine({QStringLiteral("scan")}).exitCode, 0);
        QList<QPair<int, QStringList>> posted;
        {
            AppModelServices services = AppTest::quietServices();
            services.notifyUpdates = [&posted](int count, const QStringList &names) { posted.append({count, names}); };
            AppModel model(services);
            VarnoTest::await(model.checkForBackgroundScanResults());
            QVERIFY(posted.isEmpty());
            QVERIFY(model.apps().isEmpty());

            VarnoTest::await(model.load());
            const qsizetype outdated = model.outdatedApps().size();
            QVERIFY(outdated > 0);
            VarnoTest::await(model.checkForBackgroundScanResults());
            QVERIFY(posted.isEmpty());

            QCOMPARE(VarnoTest::runEngine({QStringLiteral("sim"), QStringLiteral("set-latest"),
                                           QStringLiteral("org.sim.inkwell"), QStringLiteral("9.0")})
                         .exitCode,
                     0);
            QCOMPARE(VarnoTest::runEngine({QStringLiteral("scan")}).exitCode, 0);
            VarnoTest::await(model.checkForBackgroundScanResults());
            QCOMPARE(posted.size(), 1);
            QCOMPARE(posted.first().first, int(outdated + 1));
            QCOMPARE(posted.first().second, QStringList{QStringLiteral("Inkwell")});
            VarnoTest::waitUntil([&] { return !model.isEnrichingSeals(); });
        }
    }

    void noCheckOnceTheWindowIsClosed()
    {
        Launch launch;
        launch.start();
        auto window = std::make_unique<QObject>();
        auto *check = qobject_cast<ActivationCheck *>(launch.delegate->attachWorkshopWindow(window.get()));
        QVERIFY(check);
        check->applicationDidBecomeActive();
        window.reset();
        QTest::qWait(AppDelegate::activationDebounceMs + 250);
        QCOMPARE(launch.recording.journal.count(QStringLiteral("backgroundCheck")), 0);
    }

    // The whole launch on the engine stand-in shipped in the bundle: a fresh
    // home gets the engine installed, the library loaded and a first scan.
    void firstLaunchOnTheEngineStandIn()
    {
        VarnoTest::TempHome home;
        const QByteArray previousSpeed = qgetenv("VARNO_SIM_SPEED");
        qputenv("VARNO_SIM_SPEED", "0");
        MainBundle::setPathOverride(VarnoTest::stagedBundlePath());
        VARNOProcess::resetCachedValuesForTesting();

        {
            RecordingLaunch recording;
            LaunchEnvironment environment = recording.environment();
            environment.bootstrapEngine = {};
            environment.logBootstrapFailure = {};
            environment.load = {};
            environment.scan = {};
            AppModel model(AppTest::quietServices());
            AppDelegate delegate(&model, environment);
            QSignalSpy finished(&delegate, &AppDelegate::launchTaskFinished);
            delegate.applicationDidFinishLaunching();
            QVERIFY(finished.wait(180000));

            QVERIFY2(!model.error(), qPrintable(model.error().value_or(QString())));
            QVERIFY(QFileInfo::exists(QDir::home().filePath(".varno/varno.py")));
            QVERIFY(!model.apps().isEmpty());
            QVERIFY(model.hasEverScanned());
            QVERIFY(model.lastScanDate().has_value());
            QVERIFY(!model.outdatedApps().isEmpty());
            QVERIFY(recording.journal.endsWith(QStringLiteral("permission")));
            // Work the load started in the background ends before the home goes.
            VarnoTest::waitUntil([&] {
                return !model.isEnrichingSeals() && !model.isCheckingOpenCore() && !model.isCheckingMacOSUpdate()
                    && !model.isCheckingMechanismHealth();
            });
        }

        MainBundle::setPathOverride(std::nullopt);
        VARNOProcess::resetCachedValuesForTesting();
        if (previousSpeed.isNull())
            qunsetenv("VARNO_SIM_SPEED");
        else
            qputenv("VARNO_SIM_SPEED", previousSpeed);
    }

    void sharedModelIsMadeOnce()
    {
        AppModel *first = AppDelegate::sharedModel();
        QVERIFY(first);
        QCOMPARE(AppDelegate::sharedModel(), first);
    }
};

VARNO_TEST_CLASS(TestLaunchSequence)
#include "tst_launch.moc"
