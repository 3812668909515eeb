#include "TestRegistry.h"

#include "PanelsFixture.h"

#include "base/Async.h"
#include "kit/ButtonStyles.h"
#include "model/AppModel.h"
#include "platform/UserDefaults.h"
#include "screens/OnboardingFlow.h"
#include "screens/OnboardingView.h"
#include "services/LaunchAgentManager.h"
#include "shell/WorkshopWindow.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <qcoro/qcorosignal.h>

#include <stdexcept>

using namespace PanelsTest;

namespace {

struct Run {
    QPointer<OnboardingFlow> flow;
    bool finished = false;
    QList<QPair<OnboardingPhase, int>> phases;
    QList<int> steps;
    QList<int> countAnimations;
    int appsFound = -1;
    QString lastFoundApp;
    bool brewFound = false;
};

void watch(OnboardingFlow *flow, Run &run)
{
    run.flow = flow;
    QObject::connect(flow, &OnboardingFlow::finished, [&run] { run.finished = true; });
    QObject::connect(flow, &OnboardingFlow::phaseChanged, [&run](OnboardingPhase phase, int ms) {
        run.phases.append({phase, ms});
    });
    QObject::connect(flow, &OnboardingFlow::setupChanged, [&run, flow] {
        run.brewFound = flow->brewFound();
        if (run.steps.isEmpty() || run.steps.constLast() != flow->setupStep())
            run.steps.append(flow->setupStep());
    });
    QObject::connect(flow, &OnboardingFlow::discoveryChanged, [&run, flow](int ms) {
        run.countAnimations.append(ms);
        run.appsFound = flow->appsFound();
        run.lastFoundApp = flow->lastFoundApp();
    });
}

// Fires the driven timers one by one until the flow ends, letting real work
// (engine runs, a scan) finish before each tick.
bool driveToEnd(const bool &finished, DrivenTimers &timers, AppModel *model = nullptr,
                const std::function<void()> &beforeTick = {})
{
    for (int tick = 0; tick < 1000; ++tick) {
        const bool ready =
            VarnoTest::waitUntil([&] { return finished || (timers.pending() > 0 && !(model && model->isScanning())); },
                                 std::chrono::seconds(180));
        if (!ready)
            return false;
        if (finished)
            return true;
        if (beforeTick)
            beforeTick();
        timers.fireNext();
        settle();
    }
    return finished;
}

QList<qint64> setupPauses()
{
    return {300, 250, 250, 200, 400};
}

} // namespace

// The scripted first run on driven timers: its pauses, the wait for the first
// scan, cancellation, and the whole run against the engine stand-in.
class TestOnboardingFlow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The agent runs the installed engine on its own: it is registered only
    // after the engine's install succeeded, and the set-up completes either way.
    void agentFollowsTheEngineInstall_data()
    {
        QTest::addColumn<bool>("installFails");
        QTest::addColumn<int>("registrations");
        QTest::newRow("engine installed") << false << 1;
        QTest::newRow("engine install failed") << true << 0;
    }

    void agentFollowsTheEngineInstall()
    {
        QFETCH(bool, installFails);
        QFETCH(int, registrations);
        AppModel model(quietServices());
        model.setApps({app(QStringLiteral("org.a"), QStringLiteral("Alpha"))});
        auto timers = std::make_shared<DrivenTimers>();
        int bootstraps = 0;
        int agents = 0;
        OnboardingEnvironment environment = drivenEnvironment(timers, nullptr, &agents);
        environment.bootstrap = [&bootstraps, installFails]() -> QCoro::Task<void> {
            ++bootstraps;
            if (installFails)
                throw std::runtime_error("The engine failed its self-test.");
            co_return;
        };
        environment.load = [](AppModel *) -> QCoro::Task<void> { co_return; };
        auto *flow = new OnboardingFlow(&model, environment);
        Run run;
        watch(flow, run);
        flow->start();
        QVERIFY(driveToEnd(run.finished, *timers));
        QCOMPARE(bootstraps, 1);
        QCOMPARE(agents, registrations);
        QCOMPARE(run.steps, (QList<int>{0, 1, 2, 3, 4}));
        QCOMPARE(timers->requested().mid(0, 5), setupPauses());
        QCOMPARE(run.phases.constLast().first, OnboardingPhase::done);
    }

    void filledLibraryJumpsToItsCount_data()
    {
        QTest::addColumn<bool>("reduceMotion");
        QTest::newRow("motion") << false;
        QTest::newRow("reduce motion") << true;
    }

    void filledLibraryJumpsToItsCount()
    {
        QFETCH(bool, reduceMotion);
        ReduceMotionScope motion(reduceMotion);
        AppModel model(quietServices());
        model.setApps({app(QStringLiteral("org.a"), QStringLiteral("Alpha")),
                       app(QStringLiteral("org.b"), QStringLiteral("Beta")),
                       app(QStringLiteral("org.c"), QStringLiteral("Gamma"))});
        auto timers = std::make_shared<DrivenTimers>();
        int bootstraps = 0;
        int agents = 0;
        int loads = 0;
        OnboardingEnvironment environment = drivenEnvironment(timers, &bootstraps, &agents);
        environment.load = [&loads](AppModel *) -> QCoro::Task<void> {
            ++loads;
            co_return;
        };
        auto *flow = new OnboardingFlow(&model, environment);
        Run run;
        watch(flow, run);
        flow->start();
        flow->start(); // once per flow
        QVERIFY(driveToEnd(run.finished, *timers));

        QCOMPARE(bootstraps, 1);
        QCOMPARE(agents, 1);
        QCOMPARE(loads, 1);
        QCOMPARE(timers->requested(), setupPauses() + QList<qint64>({800, 500}));
        QCOMPARE(run.steps, (QList<int>{0, 1, 2, 3, 4}));
        const int discoveringFade = reduceMotion ? 0 : OnboardingFlow::discoveringFadeMs;
        const int doneFade = reduceMotion ? 0 : OnboardingFlow::doneFadeMs;
        QCOMPARE(run.phases,
                 (QList<QPair<OnboardingPhase, int>>{{OnboardingPhase::setup, 0},
                                                     {OnboardingPhase::discovering, discoveringFade},
                                                     {OnboardingPhase::done, doneFade}}));
        // The count jumps without animation.
        QCOMPARE(run.countAnimations, QList<int>{0});
        QCOMPARE(timers->nowMs(), 1400 + 800 + 500);
        settle();
        QVERIFY(!run.flow); // it went when it ended
    }

    void waitsForTheLibraryAndCountsWhatArrives()
    {
        ReduceMotionScope motion(false);
        AppModel model(quietServices());
        auto timers = std::make_shared<DrivenTimers>();
        auto *flow = new OnboardingFlow(&model, drivenEnvironment(timers));
        Run run;
        watch(flow, run);
        flow->start();
        int polls = 0;
        QVERIFY(driveToEnd(run.finished, *timers, &model, [&] {
            if (flow->phase() != OnboardingPhase::discovering)
                return;
            ++polls;
            // The second reload of the scan brings two apps, the fourth one more.
            if (polls == 2)
                model.setApps({app(QStringLiteral("org.a"), QStringLiteral("Alpha")),
                               app(QStringLiteral("org.b"), QStringLiteral("Beta"))});
        }));
        // Polls while the library is empty; the first test after apps arrived
        // (and no scan runs) ends the wait.
        QCOMPARE(timers->requested(), setupPauses() + QList<qint64>({400, 400, 500}));
        QCOMPARE(run.countAnimations, (QList<int>{OnboardingFlow::countChangeMs, OnboardingFlow::countChangeMs}));
    }

    void emptyLibraryWaitsTheWholeMinute()
    {
        AppModel model(quietServices());
        auto timers = std::make_shared<DrivenTimers>();
        auto *flow = new OnboardingFlow(&model, drivenEnvironment(timers));
        Run run;
        watch(flow, run);
        flow->start();
        int lastCount = -1;
        QString lastName = QStringLiteral("unset");
        connect(flow, &OnboardingFlow::discoveryChanged, this, [&, flow] {
            lastCount = flow->appsFound();
            lastName = flow->lastFoundApp();
        });
        QVERIFY(driveToEnd(run.finished, *timers));
        const QList<qint64> requested = timers->requested();
        QCOMPARE(requested.mid(0, 5), setupPauses());
        QCOMPARE(requested.count(400) - 1, 60000 / 400); // setup's own 0.4 s pause aside
        QCOMPARE(requested.constLast(), 500);
        QCOMPARE(timers->nowMs(), 1400 + 60000 + 500);
        QCOMPARE(lastCount, 0);
        QCOMPARE(lastName, QString());
        QCOMPARE(run.phases.constLast().first, OnboardingPhase::done);
    }

    void cancelDuringSetupSkipsPausesAndFinishesTheWork()
    {
        AppModel model(quietServices());
        model.setApps({app(QStringLiteral("org.a"), QStringLiteral("Alpha"))});
        auto timers = std::make_shared<DrivenTimers>();
        Gate engine;
        int agents = 0;
        OnboardingEnvironment environment = drivenEnvironment(timers, nullptr, &agents);
        environment.bootstrap = [&engine]() -> QCoro::Task<void> { co_await engine.pass(); };
        auto *flow = new OnboardingFlow(&model, environment);
        Run run;
        watch(flow, run);
        flow->start();
        settle();
        QCOMPARE(engine.entered, 1);
        flow->cancel();
        QVERIFY(flow->isCancelled());
        engine.open();
        QVERIFY(VarnoTest::waitUntil([&] { return run.finished; }));
        // Nothing waited after the cancellation; the agent was still registered.
        QVERIFY(timers->requested().isEmpty());
        QCOMPARE(agents, 1);
        QCOMPARE(run.steps, (QList<int>{0, 1, 2, 3, 4}));
        QCOMPARE(run.phases.constLast().first, OnboardingPhase::done);
    }

    void cancelDuringTheWaitEndsItAtOnce()
    {
        AppModel model(quietServices());
        auto timers = std::make_shared<DrivenTimers>();
        auto *flow = new OnboardingFlow(&model, drivenEnvironment(timers));
        Run run;
        watch(flow, run);
        flow->start();
        // Through set-up and two polls of the wait.
        for (int tick = 0; tick < 7; ++tick) {
            QVERIFY(VarnoTest::waitUntil([&] { return timers->pending() > 0; }));
            timers->fireNext();
            settle();
        }
        QCOMPARE(flow->phase(), OnboardingPhase::discovering);
        QCOMPARE(timers->pending(), 1);
        const int asked = int(timers->requested().size());
        flow->cancel();
        QVERIFY(VarnoTest::waitUntil([&] { return run.finished; }));
        QCOMPARE(timers->requested().size(), asked); // the 0.5 s pause was skipped too
        QCOMPARE(timers->pending(), 0);
    }

    // A fresh home, the engine stand-in shipped in the bundle: the engine is
    // installed, the agent registered, and the library the start-up scan
    // finds is counted. The first load finds the library empty, and the flow
    // waits for the scan: a load that ran while the scan was half-way could
    // see the rows the scan merges in before it moves the apps no longer on
    // disk to the ghosts, so the scan starts once that load has answered.
    void endToEndOnAFreshHome()
    {
        VarnoTest::TempHome home;
        StagedBundleScope bundle;
        EnvScope speed("VARNO_SIM_SPEED", "0");
        FakeServicesScope services;
        AppModel model(quietServices());
        auto timers = std::make_shared<DrivenTimers>();
        OnboardingEnvironment environment = OnboardingEnvironment::system();
        environment.timers = timers;
        // What the start-up sequence does beside the flow: its first scan.
        environment.load = [](AppModel *library) -> QCoro::Task<void> {
            co_await library->load();
            Async::detach(library->scan());
        };
        auto *flow = new OnboardingFlow(&model, environment);
        Run run;
        watch(flow, run);
        flow->start();
        QVERIFY(driveToEnd(run.finished, *timers, &model));

        QVERIFY(QFileInfo::exists(QDir::home().filePath(QStringLiteral(".varno/varno.py"))));
        QVERIFY(services.backend->calls().contains(QStringLiteral("register agent:org.varno.scan.plist")));
        QVERIFY2(!model.error(), qPrintable(model.error().value_or(QString())));
        QVERIFY(!model.apps().isEmpty());
        QVERIFY(model.hasEverScanned());
        // The flow has gone; what it last said is in the run.
        QVERIFY(!run.flow);
        QCOMPARE(run.appsFound, int(model.apps().size()));
        QCOMPARE(run.lastFoundApp, model.apps().constLast().app_name);
        QCOMPARE(run.brewFound,
                 QFileInfo::exists(QStringLiteral("/opt/homebrew/bin/brew"))
                     || QFileInfo::exists(QStringLiteral("/usr/local/bin/brew")));
        QCOMPARE(run.phases.constLast().first, OnboardingPhase::done);
        QCOMPARE(timers->requested().mid(0, 5), setupPauses());
        QVERIFY(timers->requested().mid(5).contains(400)); // it waited for the scan
        QCOMPARE(timers->requested().constLast(), 500);
        VarnoTest::waitUntil([&] {
            return !model.isEnrichingSeals() && !model.isCheckingOpenCore() && !model.isCheckingMacOSUpdate()
                && !model.isCheckingMechanismHealth();
        });
    }
};

// The overlay over the flow: its screens in each phase, a failing engine
// set-up, the summary's action, and the window that closes mid-run.
class TestOnboardingView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void screensFollowTheFlow()
    {
        ReduceMotionScope motion(true);
        FakeServicesScope services;
        AppModel model(quietServices());
        model.setApps({app(QStringLiteral("org.a"), QStringLiteral("Alpha"), QStringLiteral("cask"),
                           QStringLiteral("1.0"), QStringLiteral("2.0")),
                       app(QStringLiteral("org.b"), QStringLiteral("Beta"), QStringLiteral("mas")),
                       app(QStringLiteral("org.c"), QStringLiteral("A very long application name that goes on and on"),
                           QStringLiteral("vendor_self_update"))});
        auto timers = std::make_shared<DrivenTimers>();
        OnboardingEnvironment environment = drivenEnvironment(timers);
        environment.load = [](AppModel *) -> QCoro::Task<void> { co_return; };
        // Homebrew only under /usr/local/bin, no mas.
        environment.fileExists = [](const QString &path) { return path == QStringLiteral("/usr/local/bin/brew"); };
        OnboardingView view(&model, environment);
        view.resize(900, 800);
        QVERIFY(!view.hasStarted());
        view.show();
        QVERIFY(view.hasStarted());
        settle();

        // Step 0: the first row turns, the others wait.
        QCOMPARE(view.setupPhaseView()->isVisible(), true);
        QCOMPARE(view.setupRowMark(0), OnboardingRules::SetupMark::active);
        QCOMPARE(view.setupRowMark(3), OnboardingRules::SetupMark::pending);
        QCOMPARE(view.setupRowTitle(1), QStringLiteral("Checking Homebrew"));
        QVERIFY(!view.setupRowTitleIsSecondary(0));

        // Through the Homebrew check: found, marked done once passed.
        for (int tick = 0; tick < 2; ++tick) {
            QVERIFY(timers->fireNext());
            settle();
        }
        QCOMPARE(view.setupStep(), 2);
        QVERIFY(view.brewFound());
        QCOMPARE(view.setupRowTitle(1), QStringLiteral("Homebrew found"));
        QCOMPARE(view.setupRowMark(1), OnboardingRules::SetupMark::done);
        QVERIFY(view.setupRowTitleIsSecondary(1));
        QCOMPARE(view.setupRowMark(2), OnboardingRules::SetupMark::active);

        // On to discovery: the count and the last name.
        for (int tick = 0; tick < 3; ++tick) {
            QVERIFY(timers->fireNext());
            settle();
        }
        QCOMPARE(view.phase(), OnboardingPhase::discovering);
        QVERIFY(view.discoveryPhaseView()->isVisible());
        QVERIFY(!view.setupPhaseView()->isVisible());
        QCOMPARE(view.setupRowTitle(2), QStringLiteral("Checking App Store CLI"));
        QCOMPARE(view.setupRowMark(2), OnboardingRules::SetupMark::done);
        QCOMPARE(view.counterText(), QStringLiteral("3"));
        QVERIFY(view.namePill()->isVisible());
        QCOMPARE(view.namePillText(), QStringLiteral("A very long application name that goes on and on"));

        // The summary, following the model live.
        for (int tick = 0; tick < 2; ++tick) {
            QVERIFY(timers->fireNext());
            settle();
        }
        QCOMPARE(view.phase(), OnboardingPhase::done);
        QVERIFY(view.summaryPhaseView()->isVisible());
        QCOMPARE(view.summaryTitleText(), QStringLiteral("Brusk mapped 3 apps on your Mac"));
        QCOMPARE(view.summaryHeadlineText(),
                 QStringLiteral("Brusk can already help with 1 app and is tracking 2 through known update paths."));
        QCOMPARE(view.attentionCountText(), QStringLiteral("1"));
        QVERIFY(view.attentionTileIsAmber());
        QCOMPARE(view.managedCountText(), QStringLiteral("2"));
        QCOMPARE(view.pathLineText(), QStringLiteral("1 app still need a trusted update path."));
        model.setApps({});
        QCOMPARE(view.summaryTitleText(), QStringLiteral("Brusk mapped 0 apps on your Mac"));
        QCOMPARE(view.attentionCountText(), QStringLiteral("0"));
        QVERIFY(!view.attentionTileIsAmber());
        QCOMPARE(view.pathLineText(), QStringLiteral("Every app in this first pass has a known update path."));
        QVERIFY(view.launchAtLoginBox()->isChecked());
    }

    // The name pill comes with a fade and a rise from its bottom edge, and
    // goes with a fade and a fall back to it, over the time it is given.
    void namePillComesAndGoes()
    {
        ReduceMotionScope motion(false);
        QWidget host;
        auto *column = new QVBoxLayout(&host);
        auto *pill = new OnboardingNamePill(&host);
        column->addWidget(pill, 0, Qt::AlignHCenter);
        column->addStretch(1);
        host.resize(400, 200);
        host.show();
        QVERIFY(!pill->isVisible());

        const auto opacity = [pill]() -> qreal {
            auto *fade = qobject_cast<QGraphicsOpacityEffect *>(pill->graphicsEffect());
            return fade ? fade->opacity() : 1.0;
        };
        QVariantAnimation *transition = pill->transition();
        pill->setName(QStringLiteral("Alpha"), 200);
        QVERIFY(pill->isVisible());
        QCOMPARE(pill->name(), QStringLiteral("Alpha"));
        QCOMPARE(transition->duration(), 200);
        QCOMPARE(transition->easingCurve().type(), QEasingCurve::InOutQuad);
        column->activate();
        const int height = pill->height();
        QVERIFY(height > 0);
        transition->pause();
        transition->setCurrentTime(0);
        QCOMPARE(pill->tile()->y(), height); // at the bottom edge, clear
        QCOMPARE(opacity(), 0.0);
        transition->setCurrentTime(100);
        QCOMPARE(pill->tile()->y(), qRound(height * 0.5));
        QCOMPARE(opacity(), 0.5);
        transition->setCurrentTime(200);
        QCOMPARE(pill->tile()->y(), 0);
        QCOMPARE(opacity(), 1.0);
        QVERIFY(pill->isVisible());

        // A new name while in place: no new coming.
        pill->setName(QStringLiteral("Beta"), 200);
        QCOMPARE(transition->state(), QAbstractAnimation::Stopped);
        QCOMPARE(pill->name(), QStringLiteral("Beta"));

        // Going: it fades and falls, then hides, keeping its last name.
        pill->setName(QString(), 200);
        QVERIFY(pill->isVisible());
        transition->pause();
        transition->setCurrentTime(100);
        QCOMPARE(pill->tile()->y(), qRound(height * 0.5));
        QCOMPARE(opacity(), 0.5);
        QCOMPARE(pill->name(), QStringLiteral("Beta"));
        transition->setCurrentTime(200);
        QVERIFY(!pill->isVisible());

        // Without an animation it simply shows, in place.
        pill->setName(QStringLiteral("Gamma"), 0);
        QVERIFY(pill->isVisible());
        QCOMPARE(pill->tile()->y(), 0);
        QCOMPARE(opacity(), 1.0);
    }

    // When the flow animates a change of the count, the counter takes
    // 0.3 s and the name pill 0.2 s, both easing in and out.
    void discoveryChangesTakeTheirOwnTimes()
    {
        ReduceMotionScope motion(false);
        FakeServicesScope services;
        AppModel model(quietServices());
        auto timers = std::make_shared<DrivenTimers>();
        OnboardingView view(&model, drivenEnvironment(timers));
        view.resize(900, 800);
        view.show();
        settle();
        // Through set-up into the wait for the first apps.
        for (int tick = 0; tick < 20 && view.phase() != OnboardingPhase::discovering; ++tick) {
            QVERIFY(timers->fireNext());
            settle();
        }
        QCOMPARE(view.phase(), OnboardingPhase::discovering);
        QCOMPARE(view.counterText(), QStringLiteral("0"));
        QVERIFY(!view.namePill()->isVisible());

        // The first apps arrive; the next poll counts them, animated.
        model.setApps({app(QStringLiteral("org.a"), QStringLiteral("Alpha"), QStringLiteral("cask"))});
        QVERIFY(VarnoTest::waitUntil([&] {
            if (view.appsFound() == 1)
                return true;
            timers->fireNext();
            settle();
            return view.appsFound() == 1;
        }));
        QCOMPARE(view.counter()->animation()->duration(), 300);
        QCOMPARE(view.counter()->animation()->easingCurve().type(), QEasingCurve::InOutQuad);
        QCOMPARE(view.counter()->animation()->endValue().toInt(), 1);
        QVERIFY(view.namePill()->isVisible());
        QCOMPARE(view.namePill()->name(), QStringLiteral("Alpha"));
        QCOMPARE(view.namePill()->transition()->duration(), 200);
        QCOMPARE(view.namePill()->transition()->endValue().toReal(), 1.0);
    }

    // In the dark appearance the launch-at-login box is drawn dark, in the
    // tokens, not as a white platform box.
    void launchBoxFollowsTheAppearance_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("dark") << true;
        QTest::newRow("light") << false;
    }

    void launchBoxFollowsTheAppearance()
    {
        QFETCH(bool, dark);
        const std::optional<Appearance::Scheme> previous = Appearance::instance().override();
        Appearance::instance().setOverride(dark ? Appearance::Scheme::Dark : Appearance::Scheme::Light);
        const auto restore = qScopeGuard([previous] { Appearance::instance().setOverride(previous); });
        AppModel model(quietServices());
        OnboardingView view(&model, drivenEnvironment(std::make_shared<DrivenTimers>()));
        view.showPreview({OnboardingPhase::done, 4, 0, QString(), false, false});
        view.resize(900, 800);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCheckBox *box = view.launchAtLoginBox();
        QStyleOptionButton option;
        option.initFrom(box);
        const QRect indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
        QVERIFY(indicator.width() > 4 && indicator.height() > 4);
        const QImage picture = box->grab(indicator).toImage();
        // The box's face, inside its edge: mostly the fill, the check mark
        // over part of it.
        qreal lightness = 0;
        int pixels = 0;
        for (int y = 2; y < picture.height() - 2; ++y) {
            for (int x = 2; x < picture.width() - 2; ++x) {
                lightness += QColor(picture.pixel(x, y)).lightnessF();
                ++pixels;
            }
        }
        QVERIFY(pixels > 0);
        const qreal mean = lightness / pixels;
        if (dark)
            QVERIFY2(mean < 0.4, qPrintable(QString::number(mean)));
        else
            QVERIFY2(mean > 0.6, qPrintable(QString::number(mean)));
    }

    void openTheWorkshop_data()
    {
        QTest::addColumn<bool>("launchAtLogin");
        QTest::addColumn<bool>("registrationFails");
        QTest::newRow("box ticked") << true << false;
        QTest::newRow("box ticked, registration fails") << true << true;
        QTest::newRow("box cleared") << false << false;
    }

    void openTheWorkshop()
    {
        QFETCH(bool, launchAtLogin);
        QFETCH(bool, registrationFails);
        VarnoTest::TempHome home;
        FakeServicesScope services;
        if (registrationFails)
            services.backend->setRegisterFailure(QStringLiteral("Operation not permitted"));
        AppModel model(quietServices());
        QVERIFY(model.showOnboarding());
        auto timers = std::make_shared<DrivenTimers>();
        OnboardingView view(&model, drivenEnvironment(timers));
        view.showPreview({OnboardingPhase::done, 4, 0, QString(), false, false});
        view.show();
        view.launchAtLoginBox()->setChecked(launchAtLogin);
        QTest::mouseClick(view.openWorkshopButton(), Qt::LeftButton);

        QVERIFY(!model.showOnboarding());
        QCOMPARE(UserDefaults::open()->value(AppModel::onboardingDoneKey).toBool(), true);
        const QStringList calls = services.backend->calls();
        QCOMPARE(calls.contains(QStringLiteral("register mainApp")), launchAtLogin);
        QCOMPARE(UserDefaults::open()->contains(LoginItemManager::launchAtLoginKey), launchAtLogin);
        QVERIFY(timers->requested().isEmpty()); // a preview runs no flow
    }

    // The engine's set-up fails (its self-test exits 1): the overlay still
    // walks through every step to the summary and shows no message, and
    // registers no agent.
    void failingBootstrapStillLeadsToTheSummary()
    {
        VarnoTest::TempHome home;
        StagedBundleScope bundle;
        EnvScope speed("VARNO_SIM_SPEED", "0");
        EnvScope knobs("VARNO_SIM_KNOBS", R"([{"command": "selftest", "exit": 1, "stderr": "self-test broken"}])");
        FakeServicesScope services;
        AppModel model(quietServices());
        auto timers = std::make_shared<DrivenTimers>();
        OnboardingEnvironment environment = OnboardingEnvironment::system();
        environment.timers = timers;
        OnboardingView view(&model, environment);
        view.show();
        bool finished = false;
        QVERIFY(view.flow());
        connect(view.flow(), &OnboardingFlow::finished, this, [&finished] { finished = true; });
        QVERIFY(driveToEnd(finished, *timers, &model));
        QCOMPARE(view.phase(), OnboardingPhase::done);
        QCOMPARE(view.setupStep(), 4);
        for (int row = 0; row < 4; ++row)
            QCOMPARE(view.setupRowMark(row), OnboardingRules::SetupMark::done);
        // The agent would run an engine that failed its checks: as at launch,
        // it is not registered.
        QVERIFY(!services.backend->calls().join(QLatin1Char(' ')).contains(QStringLiteral("register agent")));
        // The load that followed failed on the unverified engine; the
        // overlay says nothing of either.
        QVERIFY(model.error().has_value());
        for (QLabel *label : view.findChildren<QLabel *>())
            QVERIFY2(!label->text().contains(QStringLiteral("broken")) && !label->text().contains(QStringLiteral("rror")),
                     qPrintable(label->text()));
        QCOMPARE(view.summaryTitleText(), QStringLiteral("Brusk mapped 0 apps on your Mac"));
    }

    void runsOncePerOverlay()
    {
        AppModel model(quietServices());
        model.setApps({app(QStringLiteral("org.a"), QStringLiteral("Alpha"))});
        auto timers = std::make_shared<DrivenTimers>();
        int bootstraps = 0;
        OnboardingEnvironment environment = drivenEnvironment(timers, &bootstraps);
        environment.load = [](AppModel *) -> QCoro::Task<void> { co_return; };
        auto view = std::make_unique<OnboardingView>(&model, environment);
        view->show();
        view->hide();
        view->show();
        settle();
        QCOMPARE(bootstraps, 1);
        // A new overlay runs everything again.
        auto again = std::make_unique<OnboardingView>(&model, environment);
        again->show();
        settle();
        QCOMPARE(bootstraps, 2);
        bool finished = false;
        connect(again->flow(), &OnboardingFlow::finished, this, [&finished] { finished = true; });
        view.reset();
        QVERIFY(driveToEnd(finished, *timers));
    }

    // The window closes during set-up: the overlay goes, its flow skips what
    // is left to wait and still registers the agent.
    void closingTheWindowCancelsTheFlow()
    {
        ReduceMotionScope motion(true);
        VarnoTest::TempHome home;
        AppModel model(quietServices());
        QVERIFY(model.showOnboarding());
        auto timers = std::make_shared<DrivenTimers>();
        Gate engine;
        int agents = 0;
        OnboardingEnvironment environment = drivenEnvironment(timers, nullptr, &agents);
        environment.bootstrap = [&engine]() -> QCoro::Task<void> { co_await engine.pass(); };
        OnboardingEnvironment::setOverride(environment);
        auto *window = new WorkshopWindow(&model);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        auto *overlay = qobject_cast<OnboardingView *>(window->onboarding());
        QVERIFY(overlay && overlay->isVisible());
        settle();
        QPointer<OnboardingFlow> flow = overlay->flow();
        QVERIFY(flow);
        QCOMPARE(engine.entered, 1);
        bool finished = false;
        connect(flow, &OnboardingFlow::finished, this, [&finished] { finished = true; });

        const QPointer<WorkshopWindow> guard(window);
        window->close();
        settle();
        QVERIFY(!guard);
        QVERIFY(flow && flow->isCancelled());
        engine.open();
        QVERIFY(VarnoTest::waitUntil([&] { return finished; }));
        QCOMPARE(agents, 1);
        QVERIFY(timers->requested().isEmpty());
        settle();
        QVERIFY(!flow);
        OnboardingEnvironment::setOverride(std::nullopt);
    }
};

VARNO_TEST_CLASS(TestOnboardingFlow)
VARNO_TEST_CLASS(TestOnboardingView)
#include "tst_onboarding.moc"
