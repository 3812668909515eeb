#include "ModelFixture.h"
#include "TestRegistry.h"

#include "engine/ExperimentRecorder.h"
#include "platform/VarnoPaths.h"
#include "records/RemediationRegistry.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

// Each test starts from a scanned demo library.
class TestModelActions : public QObject {
    Q_OBJECT

    std::unique_ptr<ModelFixture> f;

    AppRecord app(const char *bundleId) const
    {
        const auto record = f->app(QString::fromLatin1(bundleId));
        if (!record)
            qFatal("the demo library has no %s", bundleId);
        return *record;
    }

private Q_SLOTS:
    void init()
    {
        f = std::make_unique<ModelFixture>();
        QVERIFY(f->ready);
        VarnoTest::await(f->model->scan());
        QCOMPARE(f->model->apps().size(), 25);
    }

    void cleanup() { f.reset(); }

    void updateLandsAndIsDone()
    {
        const AppRecord saltmarsh = app("org.sim.saltmarsh");
        QVERIFY(saltmarsh.isOutdated());
        auto task = f->model->update(saltmarsh);
        QCOMPARE(f->model->updateState(saltmarsh.bundle_id), UpdateState::running(QStringLiteral("Updating…")));
        QVERIFY(f->model->singleUpdateToken());
        QVERIFY(f->model->isBusy());
        VarnoTest::await(std::move(task));
        QCOMPARE(f->model->updateState(saltmarsh.bundle_id), UpdateState::done());
        QVERIFY(!f->model->singleUpdateToken());
        QVERIFY(!app("org.sim.saltmarsh").isOutdated());
    }

    void updateThatDidNotLandSaysStill()
    {
        // The engine reports success without changing anything.
        QVERIFY(f->setKnobs("{\"rules\":[{\"command\":\"update --only\",\"exit\":0}]}"));
        const AppRecord saltmarsh = app("org.sim.saltmarsh");
        VarnoTest::await(f->model->update(saltmarsh));
        QCOMPARE(f->model->updateState(saltmarsh.bundle_id),
                 UpdateState::failed(QStringLiteral("Still 1.8.2 — brew may have failed. Try Update All for details.")));
        QCOMPARE(AppModel::stillOutdatedText(makeRecord("{\"bundle_id\":\"x\",\"app_name\":\"X\"}")),
                 QStringLiteral("Still ? — brew may have failed. Try Update All for details."));
    }

    void failedUpdateShowsTheEngineSentence()
    {
        QVERIFY(f->setKnobs("{\"rules\":[{\"command\":\"update --only\",\"exit\":1,\"stderr\":\"Download failed.\"}]}"));
        const AppRecord quarry = app("org.sim.quarry");
        VarnoTest::await(f->model->update(quarry));
        QCOMPARE(f->model->updateState(quarry.bundle_id),
                 UpdateState::failed(QStringLiteral("Something went wrong running VARNO. Download failed. (exit 1)")));
        QVERIFY(!f->model->singleUpdateToken());
    }

    void guardedActionsWaitForAScan()
    {
        QVERIFY(f->setKnobs("{\"rules\":[{\"command\":\"scan\",\"delay\":1.5}]}"));
        auto scanning = f->model->scan();
        QVERIFY(f->model->isScanning());
        const AppRecord saltmarsh = app("org.sim.saltmarsh");
        VarnoTest::await(f->model->update(saltmarsh));
        VarnoTest::await(f->model->fixIncident(app("org.sim.netherby")));
        VarnoTest::await(f->model->approveHeadlessAsk(app("org.sim.pebblenote")));
        QVERIFY(f->model->updateProgress().isEmpty());
        QVERIFY(!f->model->error());
        // Its own updater is not held back by a scan.
        VarnoTest::await(f->model->triggerSelfUpdate(app("org.sim.ferrous")));
        QCOMPARE(f->model->updateState(QStringLiteral("org.sim.ferrous")), UpdateState::done());
        VarnoTest::await(std::move(scanning));
    }

    void guardedActionsWaitForAnUpdateOrAFix_data()
    {
        QTest::addColumn<bool>("fixHolds");
        QTest::newRow("a single update runs") << false;
        QTest::newRow("a fix runs") << true;
    }

    void guardedActionsWaitForAnUpdateOrAFix()
    {
        // While one guarded action runs, every other one returns at once and
        // changes nothing.
        QFETCH(bool, fixHolds);
        QVERIFY(f->setKnobs("{\"rules\":[{\"command\":\"update --only\",\"times\":1,\"delay\":1.0},"
                            "{\"command\":\"fix\",\"times\":1,\"delay\":1.0}]}"));
        const AppRecord holder = app(fixHolds ? "org.sim.netherby" : "org.sim.saltmarsh");
        auto holding = fixHolds ? f->model->fixIncident(holder) : f->model->update(holder);
        QVERIFY(f->model->isBusy());
        QCOMPARE(f->model->isFixing(), fixHolds);
        QCOMPARE(bool(f->model->singleUpdateToken()), !fixHolds);
        const QHash<QString, UpdateState> before = f->model->updateProgress();
        const qsizetype scansBefore = engineJournal().count("\"scan\"]");

        VarnoTest::await(f->model->scan());
        VarnoTest::await(f->model->update(app("org.sim.quarry")));
        VarnoTest::await(f->model->fixIncident(app("org.sim.signet")));
        VarnoTest::await(f->model->approveHeadlessAsk(app("org.sim.pebblenote")));
        VarnoTest::await(f->model->updateAll());
        VarnoTest::await(f->model->updateUrgent());
        VarnoTest::await(f->model->quitAndUpdate(app("org.sim.kettle")));
        VarnoTest::await(f->model->deferUpdateToQuit(app("org.sim.kettle")));
        const bool previewed = VarnoTest::await(f->model->loadAdoptPreview(app("org.sim.handmade"))).has_value();
        const AdoptOutcome adopted = VarnoTest::await(
            f->model->confirmAdopt(app("org.sim.handmade"), std::nullopt, false));
        const QHash<QString, UpdateState> during = f->model->updateProgress();
        const bool startedSomething = f->model->isScanning() || f->model->isUpdating();
        const std::optional<QString> errorDuring = f->model->error();
        // The holder ends before anything is judged, so that nothing of it
        // outlives this test.
        VarnoTest::await(std::move(holding));

        QVERIFY(!previewed);
        QCOMPARE(adopted.kind(), AdoptOutcome::Kind::refused);
        QCOMPARE(during, before);
        QVERIFY(!startedSomething);
        QVERIFY(!errorDuring);
        QVERIFY(!f->model->isBusy());
        QVERIFY(f->model->updateState(holder.bundle_id).isFinal());
        // The engine ran the holder's command only.
        const QByteArray ran = engineJournal();
        QCOMPARE(ran.count("\"scan\"]"), scansBefore);
        QCOMPARE(ran.count("\"update\", \"--only\""), fixHolds ? 0 : 1);
        QCOMPARE(ran.count("\"fix\", "), fixHolds ? 1 : 0);
        QCOMPARE(ran.count("\"update\"]"), 0);
        QCOMPARE(ran.count("\"mode\", "), 0);
        QCOMPARE(ran.count("\"adopt\", "), 0);
    }

    void setUpdateModeChecksTheWord()
    {
        const AppRecord quarry = app("org.sim.quarry");
        VarnoTest::await(f->model->setUpdateMode(quarry, QStringLiteral("Ask")));
        QCOMPARE(f->model->error().value_or(QString()), QStringLiteral("Unknown update mode: Ask"));
        VarnoTest::await(f->model->setUpdateMode(quarry, QStringLiteral("notify")));
        QVERIFY(!f->model->error()); // the reload cleared it
        QCOMPARE(app("org.sim.quarry").update_mode.value_or(QString()), QStringLiteral("notify"));

        QVERIFY(f->setKnobs("{\"rules\":[{\"command\":\"mode\",\"exit\":3,\"stderr\":\"No such app.\"}]}"));
        VarnoTest::await(f->model->setUpdateMode(quarry, QStringLiteral("auto")));
        QCOMPARE(f->model->error().value_or(QString()),
                 QStringLiteral("Couldn’t set update mode: Something went wrong running VARNO. No such app. (exit 3)"));
    }

    void triggerSelfUpdateOnlyForAppsThatCan()
    {
        VarnoTest::await(f->model->triggerSelfUpdate(app("org.sim.ferrous")));
        QCOMPARE(f->model->updateState(QStringLiteral("org.sim.ferrous")), UpdateState::done());
        VarnoTest::await(f->model->triggerSelfUpdate(app("org.sim.quarry")));
        QCOMPARE(f->model->updateState(QStringLiteral("org.sim.quarry")).kind(), UpdateState::Kind::failed);
    }

    void reinstallAndUninstallLeaveNoEntry()
    {
        const AppRecord inkwell = app("org.sim.inkwell");
        VarnoTest::await(f->model->reinstall(inkwell));
        QVERIFY(!f->model->updateProgress().contains(inkwell.bundle_id));
        QVERIFY(f->app(inkwell.bundle_id));

        VarnoTest::await(f->model->uninstall(inkwell));
        QVERIFY(!f->model->updateProgress().contains(inkwell.bundle_id));
        QVERIFY(!f->app(inkwell.bundle_id));

        QVERIFY(f->setKnobs("{\"rules\":[{\"command\":\"remove\",\"exit\":1,\"stderr\":\"It is in use.\"}]}"));
        const AppRecord quarry = app("org.sim.quarry");
        VarnoTest::await(f->model->uninstall(quarry));
        QCOMPARE(f->model->updateState(quarry.bundle_id).kind(), UpdateState::Kind::failed);
        QVERIFY(f->app(quarry.bundle_id));
    }

    // A restore runs in the model: the app's entry shows it running, then
    // done (the library reloaded, the event recorded) or failed with the
    // engine's sentence; whoever asked is told the same.
    void restoreRunsInTheModel_data()
    {
        QTest::addColumn<QByteArray>("knobs");
        QTest::addColumn<bool>("restored");
        QTest::addColumn<QString>("version");
        QTest::newRow("restored") << QByteArray() << true << QStringLiteral("3.1.0");
        QTest::newRow("failed") << QByteArray(
            R"({"rules":[{"command":"restore","exit":1,"stderr":"The app is running."}]})")
                                << false << QStringLiteral("3.2.1");
    }

    void restoreRunsInTheModel()
    {
        QFETCH(QByteArray, knobs);
        QFETCH(bool, restored);
        QFETCH(QString, version);
        if (!knobs.isEmpty())
            QVERIFY(f->setKnobs(knobs));
        QStringList recorded;
        ExperimentRecorder::setFinishedHookForTesting([&recorded](const QString &event) { recorded.append(event); });
        const AppRecord inkwell = app("org.sim.inkwell");
        auto restoring = f->model->restore(inkwell);
        QCOMPARE(f->model->updateState(inkwell.bundle_id), UpdateState::running(QStringLiteral("Restoring…")));
        QVERIFY(f->model->isBusyFor(inkwell.bundle_id));
        const AppModel::RestoreOutcome outcome = VarnoTest::await(std::move(restoring));
        QVERIFY(engineJournal().contains("\"restore\", \"--bundle-id\", \"org.sim.inkwell\""));
        QCOMPARE(app("org.sim.inkwell").current_version.value_or(QString()), version);
        QVERIFY(!f->model->error());
        if (restored) {
            QCOMPARE(outcome.kind(), AppModel::RestoreOutcome::Kind::restored);
            QCOMPARE(f->model->updateState(inkwell.bundle_id), UpdateState::done());
            QVERIFY(VarnoTest::waitUntil([&] { return recorded.contains(QStringLiteral("restore_used")); }));
        } else {
            QCOMPARE(outcome.kind(), AppModel::RestoreOutcome::Kind::failed);
            QVERIFY2(outcome.text().contains(QStringLiteral("The app is running.")), qPrintable(outcome.text()));
            QCOMPARE(f->model->updateState(inkwell.bundle_id), UpdateState::failed(outcome.text()));
            QVERIFY(!recorded.contains(QStringLiteral("restore_used")));
        }
        ExperimentRecorder::setFinishedHookForTesting({});
    }

    // Re-install, uninstall and restore start nothing while a single update
    // runs, nor while the app's own entry is running (here: its support
    // bundle); each refusal says why.
    void reinstallAndUninstallWaitForOtherWork()
    {
        const AppRecord inkwell = app("org.sim.inkwell");
        const AppRecord saltmarsh = app("org.sim.saltmarsh");
        const auto refusal = [&](const char *action) {
            return QStringLiteral("Brusk can't ") + QLatin1String(action)
                + QStringLiteral(" Inkwell right now — a scan, "
                                 "update, or other change is "
                                 "already running. Give it a "
                                 "moment and try again.");
        };

        auto update = f->model->update(saltmarsh);
        QVERIFY(f->model->isBusyFor(inkwell.bundle_id));
        VarnoTest::await(f->model->reinstall(inkwell));
        QCOMPARE(f->model->error().value_or(QString()), refusal("re-install"));
        VarnoTest::await(f->model->uninstall(inkwell));
        QCOMPARE(f->model->error().value_or(QString()), refusal("uninstall"));
        const AppModel::RestoreOutcome restore = VarnoTest::await(f->model->restore(inkwell));
        QCOMPARE(restore.kind(), AppModel::RestoreOutcome::Kind::refused);
        QCOMPARE(restore.text(), refusal("restore"));
        QCOMPARE(f->model->error().value_or(QString()), refusal("restore"));
        QVERIFY(!f->model->updateProgress().contains(inkwell.bundle_id));
        VarnoTest::await(std::move(update));

        auto help = f->model->getHelp(inkwell);
        QVERIFY(!f->model->isBusy());
        QVERIFY(f->model->isBusyFor(inkwell.bundle_id));
        QVERIFY(!f->model->isBusyFor(saltmarsh.bundle_id));
        f->model->setError(std::nullopt);
        VarnoTest::await(f->model->uninstall(inkwell));
        QCOMPARE(f->model->error().value_or(QString()), refusal("uninstall"));
        VarnoTest::await(std::move(help));
        QVERIFY(f->app(inkwell.bundle_id));
        QVERIFY(!engineJournal().contains("\"reinstall\""));
        QVERIFY(!engineJournal().contains("\"remove\""));
        QVERIFY(!engineJournal().contains("\"restore\""));

        // Once nothing runs, both go ahead.
        VarnoTest::await(f->model->reinstall(inkwell));
        QVERIFY(engineJournal().contains("\"reinstall\""));
    }

    void fixClearsAFixableIncident()
    {
        const AppRecord netherby = app("org.sim.netherby");
        QVERIFY(f->model->incidents().contains(netherby.bundle_id));
        VarnoTest::await(f->model->fixIncident(netherby));
        QVERIFY(!f->model->isFixing());
        QVERIFY(!f->model->incidents().contains(netherby.bundle_id));
        // The engine's fix retried the update, and it landed.
        QCOMPARE(f->model->updateState(netherby.bundle_id), UpdateState::done());
        QVERIFY(!app("org.sim.netherby").isOutdated());
    }

    void fixThatLeavesTheAppOutdatedClearsItsState()
    {
        // The incident is gone but the app is still behind: back to idle.
        const AppRecord netherby = app("org.sim.netherby");
        QVERIFY(
            f->setKnobs("{\"rules\":[{\"command\":\"update --only\",\"times\":1,\"exit\":1,\"stderr\":\"Offline.\"}]}"));
        VarnoTest::await(f->model->update(netherby));
        QCOMPARE(f->model->updateState(netherby.bundle_id).kind(), UpdateState::Kind::failed);
        QVERIFY(f->sim({QStringLiteral("set-latest"), netherby.bundle_id, QStringLiteral("9.9")}));
        QVERIFY(f->setKnobs("{\"rules\":[{\"command\":\"list\",\"stdout_mode\":\"null:last_incident_code\"}]}"));
        VarnoTest::await(f->model->fixIncident(netherby));
        QVERIFY(!f->model->incidents().contains(netherby.bundle_id));
        QVERIFY(!f->model->updateProgress().contains(netherby.bundle_id));
    }

    void fixThatFailsOrDoesNotTakeSaysSo()
    {
        const AppRecord signet = app("org.sim.signet"); // security-locked
        VarnoTest::await(f->model->fixIncident(signet));
        QCOMPARE(f->model->updateState(signet.bundle_id),
                 UpdateState::failed(
                     QStringLiteral("The fix didn't take. Run `varno fix 'org.sim.signet'` in Terminal for details.")));

        // Success, but the incident is still reported.
        QVERIFY(f->setKnobs("{\"rules\":[{\"command\":\"fix\",\"exit\":0}]}"));
        const AppRecord quarry = app("org.sim.quarry");
        VarnoTest::await(f->model->fixIncident(quarry));
        QCOMPARE(f->model->updateState(quarry.bundle_id),
                 UpdateState::failed(AppModel::fixFailureText(quarry.bundle_id)));
        QVERIFY(!f->model->isFixing());
    }

    void approveRunsTheHeldBackUpdate()
    {
        const AppRecord pebblenote = app("org.sim.pebblenote");
        VarnoTest::await(f->model->approveHeadlessAsk(pebblenote));
        QCOMPARE(f->model->updateState(pebblenote.bundle_id), UpdateState::done());
        QVERIFY(!app("org.sim.pebblenote").isOutdated());
        QVERIFY(!f->model->isFixing());
    }

    void approveWhileTheEngineIsBusyIsSkipped()
    {
        QVERIFY(f->setKnobs("{\"rules\":[{\"command\":\"update\",\"exit\":75,\"stderr\":\"locked\"}]}"));
        const AppRecord pebblenote = app("org.sim.pebblenote");
        VarnoTest::await(f->model->approveHeadlessAsk(pebblenote));
        QCOMPARE(f->model->updateState(pebblenote.bundle_id), UpdateState::skipped(AppModel::alreadyRunningText));
    }

    void approvedUpdateThatDidNotLand_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<UpdateState>("expected");
        QTest::newRow("app running") << QStringLiteral("APP_RUNNING")
                                     << UpdateState::skipped(QStringLiteral("app is running — close it and retry"));
        QTest::newRow("no incident")
            << QString()
            << UpdateState::failed(QStringLiteral(
                   "The update didn't land. Run `varno update --only 'com.x' --approved` in Terminal for details."));
    }

    void approvedUpdateThatDidNotLand()
    {
        QFETCH(QString, code);
        QFETCH(UpdateState, expected);
        const std::optional<QString> incident = code.isEmpty() ? std::nullopt : std::optional(code);
        QCOMPARE(AppModel::approveOutcomeForStillOutdated(QStringLiteral("com.x"), incident,
                                                          RemediationRegistry::shared()),
                 expected);
    }

    void optionLikeIdsAreRefusedBeforeAnythingStarts_data()
    {
        QTest::addColumn<bool>("ownUpdater");
        QTest::newRow("update") << false;
        QTest::newRow("its own updater") << true;
    }

    void optionLikeIdsAreRefusedBeforeAnythingStarts()
    {
        QFETCH(bool, ownUpdater);
        const AppRecord hyphen = makeRecord("{\"bundle_id\":\"-h\",\"app_name\":\"Hyphen\"}");
        if (ownUpdater)
            VarnoTest::await(f->model->triggerSelfUpdate(hyphen));
        else
            VarnoTest::await(f->model->update(hyphen));
        QCOMPARE(f->model->updateState(QStringLiteral("-h")),
                 UpdateState::failed(QStringLiteral(
                     "The bundle id \u201C-h\u201D begins with \u201C-\u201D, so VARNO won\u2019t pass it to the engine.")));
        QVERIFY(!engineJournal().contains("\"-h\"")); // the engine never saw it
        QVERIFY(!f->model->singleUpdateToken());
        QVERIFY(!f->model->isBusy());
    }

    void terminalHintsQuoteTheBundleId_data()
    {
        QTest::addColumn<int>("hint");
        QTest::addColumn<QString>("bundleId");
        QTest::addColumn<QStringList>("arguments"); // what varno receives, the id last or before --approved
        const QString hostile = QStringLiteral("x'; touch pwned; echo '$(touch pwned)`touch pwned` \"\\ *\nrm");
        const QStringList ids = {QStringLiteral("org.sim.kettle"), hostile, QString()};
        for (const QString &id : ids) {
            const QByteArray tag = id == hostile ? "hostile" : id.isEmpty() ? "empty" : "plain";
            QTest::newRow("fix failure " + tag) << 0 << id << QStringList({QStringLiteral("fix"), id});
            QTest::newRow("not landed " + tag)
                << 1 << id
                << QStringList({QStringLiteral("update"), QStringLiteral("--only"), id, QStringLiteral("--approved")});
            QTest::newRow("quit update failure " + tag) << 2 << id << QStringList({QStringLiteral("fix"), id});
        }
    }

    void terminalHintsQuoteTheBundleId()
    {
        QFETCH(int, hint);
        QFETCH(QString, bundleId);
        QFETCH(QStringList, arguments);
        const QString text = hint == 0 ? AppModel::fixFailureText(bundleId)
            : hint == 1                ? AppModel::notLandedText(bundleId)
                                       : AppModel::quitUpdateFailureText(bundleId);
        // The command between the backticks, pasted into a real shell whose
        // varno prints its arguments.
        const qsizetype open = text.indexOf(QLatin1Char('`'));
        const qsizetype close = text.lastIndexOf(QLatin1Char('`'));
        QVERIFY(open >= 0 && close > open);
        const QString command = text.mid(open + 1, close - open - 1);
        QTemporaryDir dir;
        QProcess shell;
        shell.setWorkingDirectory(dir.path());
        shell.start(QStringLiteral("/bin/sh"),
                    {QStringLiteral("-c"), QStringLiteral("varno() { printf '%s\\0' \"$@\"; }; ") + command});
        QVERIFY(shell.waitForFinished(10000));
        QCOMPARE(shell.exitCode(), 0);
        QByteArray output = shell.readAllStandardOutput();
        QVERIFY(output.endsWith('\0'));
        output.chop(1);
        QStringList received;
        for (const QByteArray &argument : output.split('\0'))
            received.append(QString::fromUtf8(argument));
        QCOMPARE(received, arguments);
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("pwned"))));
    }

    void getHelpBuildsAndRevealsTheBundle()
    {
        VarnoTest::FixedClock clock(QDateTime(QDate(2026, 1, 9), QTime(14, 25, 30), Qt::UTC));
        const AppRecord quarry = app("org.sim.quarry");
        QVERIFY(f->setKnobs("{\"rules\":[{\"command\":\"update --only\",\"times\":1,\"exit\":1,\"stderr\":\"Boom.\"}]}"));
        VarnoTest::await(f->model->update(quarry));
        const UpdateState failed = f->model->updateState(quarry.bundle_id);
        QCOMPARE(failed.kind(), UpdateState::Kind::failed);

        auto task = f->model->getHelp(quarry);
        QCOMPARE(f->model->updateState(quarry.bundle_id),
                 UpdateState::running(QStringLiteral("Building support bundle…")));
        VarnoTest::await(std::move(task));
        QCOMPARE(f->model->updateState(quarry.bundle_id), failed);
        const QString expected = VarnoPaths::home()
            + QStringLiteral("/Library/Logs/VARNO/support-bundle-20260109T142530Z.json");
        QCOMPARE(f->fakes.revealed, QStringList({expected}));
        QVERIFY(QFile::exists(expected));
        QVERIFY(!f->model->error());
    }

    void getHelpFailureIsShownAndKeepsANewerState()
    {
        const AppRecord ferrous = app("org.sim.ferrous");
        QVERIFY(
            f->setKnobs("{\"rules\":[{\"command\":\"diagnose\",\"delay\":1.0,\"exit\":1,\"stderr\":\"Disk full.\"}]}"));
        auto help = f->model->getHelp(ferrous);
        // Another action changes the app's state while the bundle is built:
        // that newer state stays.
        VarnoTest::await(f->model->triggerSelfUpdate(ferrous));
        QCOMPARE(f->model->updateState(ferrous.bundle_id), UpdateState::done());
        VarnoTest::await(std::move(help));
        QCOMPARE(f->model->updateState(ferrous.bundle_id), UpdateState::done());
        QCOMPARE(f->model->error().value_or(QString()),
                 QStringLiteral(
                     "Couldn’t build the support bundle: Something went wrong running VARNO. Disk full. (exit 1)"));
        QVERIFY(f->fakes.revealed.isEmpty());
    }
};

VARNO_TEST_CLASS(TestModelActions)

#include "tst_modelactions.moc"
