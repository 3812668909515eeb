#include "ModelFixture.h"
#include "TestRegistry.h"

#include "engine/UpdateEvent.h"
#include "engine/UpdateStream.h"
#include "engine/VARNOError.h"
#include "platform/UserDefaults.h"
#include "platform/VarnoPaths.h"

#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;

namespace {

UpdateEvent appDone(const QString &bid, bool success, std::optional<QString> error = std::nullopt, bool skipped = false,
                    std::optional<QString> code = std::nullopt)
{
    UpdateEvent::AppDone done;
    done.bundleId = bid;
    done.success = success;
    done.error = std::move(error);
    done.skipped = skipped;
    done.errorCode = std::move(code);
    return UpdateEvent(done);
}

// Restores the stream's clocks.
struct StreamTuningScope {
    UpdateStream::Tuning saved = UpdateStream::tuning();
    ~StreamTuningScope() { UpdateStream::setTuning(saved); }
};

} // namespace

// The event handler and the pure helpers, without an engine.
class TestQueueEvents : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void queueStartNumbersTheApps()
    {
        VarnoTest::TempHome home;
        AppModel model(FakeModelServices().services());
        UpdateEvent::QueueStart start;
        start.count = 7; // not used
        for (const char *id : {"a", "b", "c"})
            start.apps.append({QString::fromLatin1(id), QStringLiteral("App"), {}, {}, {}});
        model.handleUpdateEvent(UpdateEvent(start));
        QCOMPARE(model.updateState(QStringLiteral("a")), UpdateState::queued(1, 3));
        QCOMPARE(model.updateState(QStringLiteral("c")), UpdateState::queued(3, 3));
    }

    void appDoneSetsStatesAndLiveIncidents()
    {
        VarnoTest::TempHome home;
        AppModel model(FakeModelServices().services());
        model.setApps({makeRecord(
            "{\"bundle_id\":\"a\",\"app_name\":\"A\",\"last_incident_code\":\"X\",\"last_incident_kind\":\"failed\"}")});
        model.reconcileIncidents(model.apps(), 0);
        QVERIFY(model.incidents().contains(QStringLiteral("a")));

        // Skipped wins over success, and the incident goes.
        model.handleUpdateEvent(appDone(QStringLiteral("a"), true, QStringLiteral("Deferred"), true));
        QCOMPARE(model.updateState(QStringLiteral("a")), UpdateState::skipped(QStringLiteral("Deferred")));
        QVERIFY(!model.incidents().contains(QStringLiteral("a")));
        QCOMPARE(model.incidentEventSeq(), 1);
        QCOMPARE(model.liveIncidentSeq().value(QStringLiteral("a")), 1);

        // A failure without text or code: the default text, no counters.
        model.handleUpdateEvent(appDone(QStringLiteral("b"), false));
        QCOMPARE(model.updateState(QStringLiteral("b")), UpdateState::failed(QStringLiteral("update failed")));
        QCOMPARE(model.incidentEventSeq(), 1);
        QVERIFY(!model.incidents().contains(QStringLiteral("b")));

        // A failure with a code becomes a live incident without a time.
        model.handleUpdateEvent(
            appDone(QStringLiteral("c"), false, QStringLiteral("Locked."), false, QStringLiteral("BREW_LOCKED")));
        QCOMPARE(model.incidents().value(QStringLiteral("c")),
                 (AppIncident{QStringLiteral("BREW_LOCKED"), AppIncident::Kind::failed, std::nullopt}));
        QCOMPARE(model.incidentEventSeq(), 2);
        model.handleUpdateEvent(appDone(QStringLiteral("d"), false, std::nullopt, true, QStringLiteral("APP_RUNNING")));
        QCOMPARE(model.updateState(QStringLiteral("d")), UpdateState::skipped(QStringLiteral("skipped")));
        QCOMPARE(model.incidents().value(QStringLiteral("d")).kind, AppIncident::Kind::skipped);
    }

    void liveIncidentsSurviveAnOlderList()
    {
        VarnoTest::TempHome home;
        AppModel model(FakeModelServices().services());
        const QList<AppRecord> list = {
            makeRecord(
                "{\"bundle_id\":\"cleared\",\"app_name\":\"C\",\"last_incident_code\":\"OLD\",\"last_incident_kind\":\"failed\"}"),
            makeRecord("{\"bundle_id\":\"raised\",\"app_name\":\"R\"}"),
            makeRecord(
                "{\"bundle_id\":\"other\",\"app_name\":\"O\",\"last_incident_code\":\"LIST\",\"last_incident_kind\":\"skipped\"}"),
        };
        const qint64 snapshot = model.incidentEventSeq();
        // Stream events arrive while the list is on its way.
        model.handleUpdateEvent(appDone(QStringLiteral("cleared"), true));
        model.handleUpdateEvent(
            appDone(QStringLiteral("raised"), false, QStringLiteral("x"), false, QStringLiteral("NEW")));
        model.reconcileIncidents(list, snapshot);
        QVERIFY(!model.incidents().contains(QStringLiteral("cleared")));
        QCOMPARE(model.incidents().value(QStringLiteral("raised")).code, QStringLiteral("NEW"));
        QCOMPARE(model.incidents().value(QStringLiteral("other")).code, QStringLiteral("LIST"));

        // A list requested after the events wins again.
        model.reconcileIncidents(list, model.incidentEventSeq());
        QCOMPARE(model.incidents().value(QStringLiteral("cleared")).code, QStringLiteral("OLD"));
        QVERIFY(!model.incidents().contains(QStringLiteral("raised")));
    }

    void pauseAndResumeFollowTheEngine()
    {
        VarnoTest::TempHome home;
        AppModel model(FakeModelServices().services());
        model.handleUpdateEvent(UpdateEvent(UpdateEvent::QueuePaused{}));
        QVERIFY(model.isPaused());
        model.handleUpdateEvent(UpdateEvent(UpdateEvent::QueueResumed{}));
        QVERIFY(!model.isPaused());
    }

    void friendlyStatus_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("text");
        QTest::newRow("downloading") << QStringLiteral("DOWNLOADING") << QStringLiteral("Fetching…");
        QTest::newRow("fetching") << QStringLiteral("fetching") << QStringLiteral("Fetching…");
        QTest::newRow("verifying") << QStringLiteral("Verifying") << QStringLiteral("Verifying…");
        QTest::newRow("installing") << QStringLiteral("installing") << QStringLiteral("Installing…");
        QTest::newRow("cleaning") << QStringLiteral("cleaning") << QStringLiteral("Cleaning up…");
        QTest::newRow("other words") << QStringLiteral("resolving dependencies")
                                     << QStringLiteral("Resolving Dependencies…");
        QTest::newRow("empty") << QString() << QStringLiteral("…");
    }

    void friendlyStatus()
    {
        QFETCH(QString, status);
        QFETCH(QString, text);
        QCOMPARE(AppModel::friendlyStatus(status), text);
    }

    void urgentIdsAreCleaned()
    {
        VarnoTest::TempHome home;
        AppModel model(FakeModelServices().services());
        const QByteArray urgent = "\"risk_tier\":\"critical\",\"current_version\":\"1\",\"latest_version\":\"2\"";
        model.setApps({
            makeRecord("{\"bundle_id\":\" com.a\\t\",\"app_name\":\"A\"," + urgent + "}"),
            makeRecord("{\"bundle_id\":\"com.a\",\"app_name\":\"A\"," + urgent + "}"),
            makeRecord("{\"bundle_id\":\"-rf\",\"app_name\":\"B\"," + urgent + "}"),
            makeRecord("{\"bundle_id\":\"  \",\"app_name\":\"C\"," + urgent + "}"),
            makeRecord(
                "{\"bundle_id\":\"com.current\",\"app_name\":\"D\",\"risk_tier\":\"critical\",\"current_version\":\"2\",\"latest_version\":\"2\"}"),
        });
        QCOMPARE(model.urgentBundleIDs(), QStringList({QStringLiteral("com.a")}));
    }

    void completingOnboardingIsRemembered()
    {
        VarnoTest::TempHome home;
        FakeModelServices fakes;
        AppModel model(fakes.services());
        QVERIFY(model.showOnboarding());
        QCOMPARE(fakes.activations, 0);
        model.completeOnboarding();
        QVERIFY(!model.showOnboarding());
        QVERIFY(UserDefaults::open()->value(AppModel::onboardingDoneKey).toBool());
        // The app comes forward with its first window.
        QCOMPARE(fakes.activations, 1);
        AppModel again(FakeModelServices().services());
        QVERIFY(!again.showOnboarding());
    }
};

// Whole runs against the engine stand-in's demo library.
class TestQueueRuns : public QObject {
    Q_OBJECT

    std::unique_ptr<ModelFixture> f;

private Q_SLOTS:
    void init()
    {
        f = std::make_unique<ModelFixture>();
        QVERIFY(f->ready);
        VarnoTest::await(f->model->scan());
        QCOMPARE(f->model->apps().size(), 25);
    }

    void cleanup() { f.reset(); }

    void updateAllRunsTheQueue()
    {
        const QStringList outdated = [this] {
            QStringList ids;
            for (const AppRecord &app : f->model->outdatedApps())
                ids.append(app.bundle_id);
            return ids;
        }();
        QVERIFY(outdated.size() >= 5);
        QList<QHash<QString, UpdateState>> seen;
        connect(f->model.get(), &AppModel::updateProgressChanged, this, [&] { seen.append(f->model->updateProgress()); });

        auto run = f->model->updateAll();
        QVERIFY(f->model->isUpdating());
        VarnoTest::await(std::move(run), 120s);
        QVERIFY(!f->model->isUpdating());
        QVERIFY(!f->model->isPaused());
        QVERIFY(!f->model->updateController());
        QVERIFY2(!f->model->error(), qPrintable(f->model->error().value_or(QString())));

        // Every outdated app was queued, and every one ended in a final state.
        const bool queued = std::any_of(seen.cbegin(), seen.cend(), [&](const auto &progress) {
            return progress.value(outdated.first()).kind() == UpdateState::Kind::queued;
        });
        QVERIFY(queued);
        for (const QString &id : outdated)
            QVERIFY2(f->model->updateState(id).isFinal(), qPrintable(id + f->model->updateState(id).debugText()));
        // The app waiting for approval was skipped and is waiting for OK.
        QCOMPARE(f->model->updateState(QStringLiteral("org.sim.pebblenote")).kind(), UpdateState::Kind::skipped);
        QVERIFY(!f->model->waitingForOKApps().isEmpty());
        QCOMPARE(f->model->updateState(QStringLiteral("org.sim.saltmarsh")), UpdateState::done());
        QVERIFY(!f->app(QStringLiteral("org.sim.saltmarsh"))->isOutdated());
    }

    void controlsReachTheEngine()
    {
        QVERIFY(f->sim({QStringLiteral("knobs"), QStringLiteral("speed"), QStringLiteral("0.3")}));
        auto run = f->model->updateAll();
        QVERIFY(VarnoTest::waitUntil([&] { return f->model->updateController() != nullptr; }));
        QVERIFY(VarnoTest::waitUntil([&] {
            return std::any_of(f->model->updateProgress().cbegin(), f->model->updateProgress().cend(),
                               [](const UpdateState &s) { return s.kind() == UpdateState::Kind::running; });
        }));
        f->model->updateController()->send(QStringLiteral("pause"));
        QVERIFY(VarnoTest::waitUntil([&] { return f->model->isPaused(); }));
        f->model->updateController()->send(QStringLiteral("resume"));
        QVERIFY(VarnoTest::waitUntil([&] { return !f->model->isPaused(); }));
        f->model->updateController()->send(QStringLiteral("abort"));
        VarnoTest::await(std::move(run), 60s);
        QVERIFY(!f->model->isUpdating());
        const bool stopped = std::any_of(f->model->updateProgress().cbegin(), f->model->updateProgress().cend(),
                                         [](const UpdateState &s) {
                                             return s == UpdateState::skipped(QStringLiteral("Stopped at your request"));
                                         });
        QVERIFY(stopped);
    }

    void skipLeavesTheAppSkippedAndTheRestRunOn()
    {
        QVERIFY(f->sim({QStringLiteral("knobs"), QStringLiteral("speed"), QStringLiteral("0.3")}));
        auto run = f->model->updateAll();
        QVERIFY(VarnoTest::waitUntil([&] { return f->model->updateController() != nullptr; }));
        QString skippedId;
        QVERIFY(VarnoTest::waitUntil([&] {
            for (auto it = f->model->updateProgress().cbegin(); it != f->model->updateProgress().cend(); ++it) {
                if (it->kind() == UpdateState::Kind::running) {
                    skippedId = it.key();
                    return true;
                }
            }
            return false;
        }));
        f->model->updateController()->send(QStringLiteral("skip"));
        QVERIFY(VarnoTest::waitUntil([&] { return f->model->updateState(skippedId).isFinal(); }));
        VarnoTest::await(std::move(run), 120s);
        QVERIFY(!f->model->isUpdating());
        QVERIFY(!f->model->error());
        QCOMPARE(f->model->updateState(skippedId), UpdateState::skipped(QStringLiteral("Skipped at your request")));
        // The skipped app is still outdated; every other app of the run ended
        // too, and at least one of them landed.
        QVERIFY(f->app(skippedId)->isOutdated());
        bool landed = false;
        for (auto it = f->model->updateProgress().cbegin(); it != f->model->updateProgress().cend(); ++it) {
            QVERIFY2(it->isFinal(), qPrintable(it.key()));
            landed = landed || *it == UpdateState::done();
        }
        QVERIFY(landed);
    }

    void liveIncidentsSurviveALoadThatWasUnderWay()
    {
        // The list is requested, then the stream reports; the list that
        // answers does not undo what the stream said.
        QVERIFY(f->model->incidents().contains(QStringLiteral("org.sim.netherby")));
        QVERIFY(!f->model->incidents().contains(QStringLiteral("org.sim.saltmarsh")));
        auto loading = f->model->load();
        f->model->handleUpdateEvent(appDone(QStringLiteral("org.sim.netherby"), true));
        f->model->handleUpdateEvent(appDone(QStringLiteral("org.sim.saltmarsh"), false, QStringLiteral("Locked."),
                                            false, QStringLiteral("BREW_LOCKED")));
        VarnoTest::await(std::move(loading));
        QVERIFY(!f->model->incidents().contains(QStringLiteral("org.sim.netherby")));
        QCOMPARE(f->model->incidents().value(QStringLiteral("org.sim.saltmarsh")).code, QStringLiteral("BREW_LOCKED"));
        // A load requested after the events: the list wins again.
        VarnoTest::await(f->model->load());
        QCOMPARE(f->model->incidents().value(QStringLiteral("org.sim.netherby")).code, QStringLiteral("NETWORK_TIMEOUT"));
        QVERIFY(!f->model->incidents().contains(QStringLiteral("org.sim.saltmarsh")));
    }

    void updateAllWhileBusyKeepsEveryState()
    {
        const AppRecord quarry = *f->app(QStringLiteral("org.sim.quarry"));
        QVERIFY(f->setKnobs("{\"rules\":[{\"command\":\"update --only\",\"times\":1,\"exit\":1,\"stderr\":\"x\"},"
                            "{\"command\":\"scan\",\"delay\":1.0}]}"));
        VarnoTest::await(f->model->update(quarry));
        const UpdateState failed = f->model->updateState(quarry.bundle_id);
        QCOMPARE(failed.kind(), UpdateState::Kind::failed);
        auto scanning = f->model->scan();
        VarnoTest::await(f->model->updateAll());
        QCOMPARE(f->model->updateState(quarry.bundle_id), failed);
        QVERIFY(!f->model->isUpdating());
        QVERIFY(!f->model->error());
        VarnoTest::await(std::move(scanning));
    }

    void engineAlreadyUpdatingIsExplained()
    {
        QVERIFY(f->setKnobs("{\"rules\":[{\"command\":\"update\",\"exit\":75,\"stderr\":\"locked\"}]}"));
        const qsizetype listsBefore = VarnoTest::runEngine({QStringLiteral("sim"), QStringLiteral("journal")})
                                          .standardOutput.count("\"list\"");
        VarnoTest::await(f->model->updateAll());
        QCOMPARE(f->model->error().value_or(QString()), AppModel::alreadyRunningText);
        QVERIFY(!f->model->isUpdating());
        const qsizetype listsAfter = VarnoTest::runEngine({QStringLiteral("sim"), QStringLiteral("journal")})
                                         .standardOutput.count("\"list\"");
        QCOMPARE(listsAfter, listsBefore); // no reload
    }

    void silentEngineIsStoppedByTheWatchdog()
    {
        StreamTuningScope scope;
        UpdateStream::Tuning tuning = scope.saved;
        tuning.watchdogThreshold = 1.0;
        tuning.watchdogPollMs = 100;
        tuning.killGraceMs = 1000;
        UpdateStream::setTuning(tuning);
        QVERIFY(f->setKnobs("{\"rules\":[{\"command\":\"update\",\"silence\":30}]}"));
        VarnoTest::await(f->model->updateAll(), 60s);
        QCOMPARE(f->model->error().value_or(QString()),
                 VARNOError::describeProcessFailure(UpdateStream::timeoutExitCode, UpdateStream::timeoutText(1.0)));
        QVERIFY(!f->model->isUpdating());
    }

    void urgentOnlyUpdatesTheUrgentApps()
    {
        const QStringList urgent = f->model->urgentBundleIDs();
        QVERIFY(!urgent.isEmpty());
        VarnoTest::await(f->model->updateUrgent(), 60s);
        QStringList touched = f->model->updateProgress().keys();
        touched.sort();
        QStringList expected = urgent;
        expected.sort();
        QCOMPARE(touched, expected);
    }

    void backgroundScanResultsNotifyNewlyOutdatedApps()
    {
        const int outdatedBefore = static_cast<int>(f->model->outdatedApps().size());
        for (const char *id : {"org.sim.inkwell", "org.sim.fernlight", "org.sim.pocketloom"})
            QVERIFY(f->sim({QStringLiteral("set-latest"), QString::fromLatin1(id), QStringLiteral("99.0")}));
        QVERIFY(f->scanDirectly());
        VarnoTest::await(f->model->checkForBackgroundScanResults());
        QCOMPARE(f->fakes.notifications.size(), 1);
        QCOMPARE(f->fakes.notifications.first().first, outdatedBefore + 3);
        QCOMPARE(f->fakes.notifications.first().second,
                 QStringList({QStringLiteral("Fernlight"), QStringLiteral("Inkwell"), QStringLiteral("Pocketloom")}));
        QVERIFY(!f->model->isCheckingBackgroundScan());

        // Nothing new: no second notice.
        VarnoTest::await(f->model->checkForBackgroundScanResults());
        QCOMPARE(f->fakes.notifications.size(), 1);
    }

    void emptyBackgroundListIsIgnored()
    {
        QVERIFY(f->setKnobs("{\"rules\":[{\"command\":\"list\",\"stdout_mode\":\"empty_array\"}]}"));
        VarnoTest::await(f->model->checkForBackgroundScanResults());
        QCOMPARE(f->model->apps().size(), 25);
        QVERIFY(f->fakes.notifications.isEmpty());
        QVERIFY(!f->model->isCheckingBackgroundScan());
    }
};

// How a run that ends early leaves its rows, against a small shell engine
// that queues a, b and c, finishes a, starts b and then ends as the row says.
class TestQueueRunEnd : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void rowsAreSettledWhenTheRunEnds_data()
    {
        QTest::addColumn<QByteArray>("ending");
        QTest::addColumn<bool>("fails");
        QTest::newRow("fails") << QByteArray("echo 'disk full' >&2; exit 1") << true;
        QTest::newRow("times out") << QByteArray("exec sleep 30") << true;
        QTest::newRow("is stopped") << QByteArray("kill -KILL $$") << true;
        QTest::newRow("loses an over-long app_done")
            << QByteArray("e \"{\\\"event\\\":\\\"app_done\\\",\\\"bundle_id\\\":\\\"b\\\",\\\"success\\\":false,"
                          "\\\"error\\\":\\\"$(head -c 70000 /dev/zero | tr '\\0' x)\\\"}\"; exit 0")
            << false;
        QTest::newRow("ends without an app_done") << QByteArray("exit 0") << false;
    }

    void rowsAreSettledWhenTheRunEnds()
    {
        QFETCH(QByteArray, ending);
        QFETCH(bool, fails);
        VarnoTest::TempHome home;
        VARNOProcess::resetCachedValuesForTesting();
        VarnoTest::ShellInterpreter shell;
        StreamTuningScope tuningScope;
        UpdateStream::Tuning tuning = tuningScope.saved;
        tuning.watchdogThreshold = 1.0;
        tuning.watchdogPollMs = 100;
        tuning.killGraceMs = 500;
        UpdateStream::setTuning(tuning);
        QVERIFY(VarnoTest::writeFile(
            VarnoPaths::engineScript(),
            "for a; do [ \"$a\" = list ] && { echo '[]'; exit 0; }; done\n"
            "e() { printf '%s\\n' \"$1\" >&2; }\n"
            "e '{\"event\":\"queue_start\",\"count\":3,\"apps\":[{\"bundle_id\":\"a\",\"app_name\":\"A\"},"
            "{\"bundle_id\":\"b\",\"app_name\":\"B\"},{\"bundle_id\":\"c\",\"app_name\":\"C\"}]}'\n"
            "e '{\"event\":\"app_start\",\"bundle_id\":\"a\",\"index\":1,\"total\":3,\"status\":\"fetching\"}'\n"
            "e '{\"event\":\"app_done\",\"bundle_id\":\"a\",\"success\":true}'\n"
            "e '{\"event\":\"app_start\",\"bundle_id\":\"b\",\"index\":2,\"total\":3,\"status\":\"fetching\"}'\n"
                + ending + "\n"));
        FakeModelServices fakes;
        AppModel model(fakes.services());
        QList<QHash<QString, UpdateState>> seen;
        connect(&model, &AppModel::updateProgressChanged, this, [&] { seen.append(model.updateProgress()); });
        VarnoTest::await(model.updateAll());
        QVERIFY(!model.isUpdating());
        // The run did show b as fetching and c as queued.
        QVERIFY(std::any_of(seen.cbegin(), seen.cend(), [](const auto &progress) {
            return progress.value(QStringLiteral("b")) == UpdateState::running(QStringLiteral("Fetching…"))
                && progress.value(QStringLiteral("c")) == UpdateState::queued(3, 3);
        }));
        QCOMPARE(model.updateState(QStringLiteral("a")), UpdateState::done());
        QCOMPARE(bool(model.error()), fails);
        const QString reason = fails ? *model.error() : AppModel::runEndedWithoutResultText;
        QCOMPARE(model.updateState(QStringLiteral("b")), UpdateState::failed(reason));
        QVERIFY(!model.updateProgress().contains(QStringLiteral("c")));
        for (const UpdateState &state : model.updateProgress())
            QVERIFY(state.isFinal());
    }
};

VARNO_TEST_CLASS(TestQueueEvents)
VARNO_TEST_CLASS(TestQueueRunEnd)
VARNO_TEST_CLASS(TestQueueRuns)

#include "tst_modelqueue.moc"
