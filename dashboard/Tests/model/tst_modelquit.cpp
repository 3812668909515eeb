#include "ModelFixture.h"
#include "TestRegistry.h"

#include "model/QuitAndUpdateFlow.h"
#include "platform/MainBundle.h"
#include "platform/RunningApplications.h"
#include "platform/VarnoPaths.h"
#include "platform/Workspace.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QTest>
#include <QThread>

using namespace std::chrono_literals;

namespace {

// Short waits for an app to quit, restored afterwards.
struct QuickQuitTiming {
    QuitAndUpdateFlow::Timing saved = QuitAndUpdateFlow::timing();
    QuickQuitTiming() { QuitAndUpdateFlow::setTimingForTesting({20ms, 300ms}); }
    ~QuickQuitTiming() { QuitAndUpdateFlow::setTimingForTesting(saved); }
};

struct FakeRunningScope {
    std::shared_ptr<FakeRunningApplications> fake = std::make_shared<FakeRunningApplications>();
    FakeRunningScope() { RunningApplications::setBackend(fake); }
    ~FakeRunningScope() { RunningApplications::setBackend(nullptr); }

    // An instance whose executable lies inside the app's bundle.
    RunningApplication addInside(const AppRecord &app, bool agrees = true, bool quits = true, bool endsWhenListed = false)
    {
        const QString executable = QFileInfo(*app.install_path).canonicalFilePath() + QStringLiteral("/Contents/MacOS/")
            + app.app_name;
        return fake->addInstance(app.bundle_id, agrees, quits, executable, endsWhenListed);
    }
};

} // namespace

class TestAdoption : public QObject {
    Q_OBJECT

    std::unique_ptr<ModelFixture> f;

    AppRecord app(const char *id) const { return *f->app(QString::fromLatin1(id)); }

private Q_SLOTS:
    void init()
    {
        f = std::make_unique<ModelFixture>();
        QVERIFY(f->ready);
        VarnoTest::await(f->model->scan());
    }
    void cleanup() { f.reset(); }

    void previewComesFromTheDryRun()
    {
        const auto preview = VarnoTest::await(f->model->loadAdoptPreview(app("org.sim.handmade")));
        QVERIFY(preview);
        QVERIFY(preview->match_found);
        QVERIFY(preview->cask_token && !preview->cask_token->isEmpty());
        QVERIFY(!f->model->isFixing());
        QVERIFY(engineJournal().contains(
            "[\"--engine-contract-version\", \"1\", \"adopt\", \"--dry-run\", \"--json\", \"Handmade Paint\"]"));
    }

    void previewFailureIsShown()
    {
        QVERIFY(f->setKnobs("{\"rules\":[{\"command\":\"adopt\",\"exit\":1,\"stderr\":\"Catalog offline.\"}]}"));
        QVERIFY(!VarnoTest::await(f->model->loadAdoptPreview(app("org.sim.handmade"))));
        QCOMPARE(f->model->error().value_or(QString()),
                 QStringLiteral(
                     "Brusk couldn't check the Homebrew Cask catalog: Something went wrong running VARNO. Catalog offline. (exit 1)"));
        QVERIFY(!f->model->isFixing());
    }

    void refusalsComeFirst()
    {
        const AppRecord handmade = app("org.sim.handmade");
        QCOMPARE(VarnoTest::await(f->model->confirmAdopt(handmade, std::nullopt, true)),
                 AdoptOutcome::refused(
                     QStringLiteral("Adopting unsigned apps is turned off in Settings — Brusk won't override that.")));
        QVERIFY(f->setKnobs("{\"rules\":[{\"command\":\"scan\",\"delay\":1.0}]}"));
        auto scanning = f->model->scan();
        QCOMPARE(VarnoTest::await(f->model->confirmAdopt(handmade, std::nullopt, true)).text(),
                 QStringLiteral(
                     "Brusk can't adopt right now — a scan, update, or fix is already running. Give it a moment and try again."));
        QVERIFY(!VarnoTest::await(f->model->loadAdoptPreview(handmade)));
        VarnoTest::await(std::move(scanning));
        QVERIFY(!f->model->updateProgress().contains(handmade.bundle_id));
        QVERIFY(!engineJournal().contains("\"--approved\", \"Handmade Paint\""));
    }

    void adoptionPutsTheAppUnderHomebrew()
    {
        const AppRecord handmade = app("org.sim.handmade");
        const auto preview = VarnoTest::await(f->model->loadAdoptPreview(handmade));
        QVERIFY(preview && preview->cask_token);
        const AdoptOutcome outcome = VarnoTest::await(f->model->confirmAdopt(handmade, preview->cask_token, false));
        QCOMPARE(outcome, AdoptOutcome::success());
        QCOMPARE(f->model->updateState(handmade.bundle_id), UpdateState::done());
        QCOMPARE(app("org.sim.handmade").update_mechanism.value_or(QString()), QStringLiteral("cask"));
        QVERIFY(engineJournal().contains("\"adopt\", \"--approved\", \"Handmade Paint\", \"--cask\", \""
                                         + preview->cask_token->toUtf8() + "\"]"));
    }

    void unsignedAdoptionPassesTheFlagWhenAllowed()
    {
        f->model->setAllowUnsignedAdopt(true);
        const AppRecord roughcut = app("org.sim.roughcut");
        VarnoTest::await(f->model->confirmAdopt(roughcut, std::nullopt, true));
        QVERIFY(engineJournal().contains("\"adopt\", \"--approved\", \"Roughcut\", \"--allow-unsigned\"]"));
    }

    void failedAdoptionIsReportedOnTheApp()
    {
        QVERIFY(f->setKnobs("{\"rules\":[{\"command\":\"adopt\",\"exit\":1,\"stderr\":\"sudo is required.\"}]}"));
        const AppRecord handmade = app("org.sim.handmade");
        const AdoptOutcome outcome = VarnoTest::await(f->model->confirmAdopt(handmade, std::nullopt, false));
        const QString text = QStringLiteral(
            "Adopt didn't take: Something went wrong running VARNO. sudo is required. (exit 1)");
        QCOMPARE(outcome, AdoptOutcome::failed(text));
        QCOMPARE(f->model->updateState(handmade.bundle_id), UpdateState::failed(text));
        QVERIFY(!f->model->error());
    }
};

class TestQuitAndUpdate : public QObject {
    Q_OBJECT

    std::unique_ptr<ModelFixture> f;
    QStringList opened;

    AppRecord app(const char *id) const { return *f->app(QString::fromLatin1(id)); }

    void rebuildModelRecordingOpens()
    {
        AppModelServices services = f->fakes.services();
        services.openApplication = [this](const QString &path) { opened.append(path); };
        f->model = std::make_unique<AppModel>(services);
        VarnoTest::await(f->model->load());
    }

private Q_SLOTS:
    void init()
    {
        opened.clear();
        f = std::make_unique<ModelFixture>();
        QVERIFY(f->ready);
        QVERIFY(f->scanDirectly());
        rebuildModelRecordingOpens();
        QCOMPARE(f->model->apps().size(), 25);
    }
    void cleanup() { f.reset(); }

    void refusalEndsAtOnce()
    {
        FakeRunningScope running;
        const AppRecord kettle = app("org.sim.kettle");
        running.addInside(kettle, /*agrees*/ false);
        VarnoTest::await(f->model->quitAndUpdate(kettle));
        QCOMPARE(f->model->updateState(kettle.bundle_id),
                 UpdateState::quitDenied(QStringLiteral("Brusk couldn't quit Kettle — save your work and try again.")));
        QVERIFY(!engineJournal().contains("\"--approved\""));
        QVERIFY(!f->model->isFixing());
    }

    void appThatQuitsIsUpdatedAndReopened()
    {
        FakeRunningScope running;
        const AppRecord kettle = app("org.sim.kettle");
        running.addInside(kettle, true, true);
        VarnoTest::await(f->model->quitAndUpdate(kettle));
        QCOMPARE(f->model->updateState(kettle.bundle_id), UpdateState::done());
        QCOMPARE(running.fake->terminateRequests().size(), 1);
        QCOMPARE(opened, QStringList({*kettle.install_path}));
        QVERIFY(engineJournal().contains("\"update\", \"--only\", \"org.sim.kettle\", \"--approved\"]"));
    }

    void appThatNeverQuitsIsNotUpdated()
    {
        QuickQuitTiming quick;
        FakeRunningScope running;
        const AppRecord kettle = app("org.sim.kettle");
        running.addInside(kettle, true, /*quits*/ false);
        VarnoTest::await(f->model->quitAndUpdate(kettle));
        QCOMPARE(f->model->updateState(kettle.bundle_id).kind(), UpdateState::Kind::quitDenied);
        QVERIFY(!engineJournal().contains("\"--approved\""));
        QVERIFY(opened.isEmpty());
    }

    void appNotRunningIsUpdatedWithoutReopening()
    {
        FakeRunningScope running;
        const AppRecord kettle = app("org.sim.kettle");
        VarnoTest::await(f->model->quitAndUpdate(kettle));
        QCOMPARE(f->model->updateState(kettle.bundle_id), UpdateState::done());
        QVERIFY(opened.isEmpty());
    }

    void engineBusyIsSkippedButTheAppIsReopened()
    {
        FakeRunningScope running;
        const AppRecord kettle = app("org.sim.kettle");
        running.addInside(kettle);
        QVERIFY(f->setKnobs("{\"rules\":[{\"command\":\"update\",\"exit\":75}]}"));
        VarnoTest::await(f->model->quitAndUpdate(kettle));
        QCOMPARE(f->model->updateState(kettle.bundle_id), UpdateState::skipped(AppModel::alreadyRunningText));
        QCOMPARE(opened.size(), 1);
    }

    void updateThatDidNotLandSaysSo()
    {
        FakeRunningScope running;
        QVERIFY(f->setKnobs("{\"rules\":[{\"command\":\"update\",\"exit\":1,\"stderr\":\"x\"}]}"));
        const AppRecord kettle = app("org.sim.kettle");
        VarnoTest::await(f->model->quitAndUpdate(kettle));
        QCOMPARE(f->model->updateState(kettle.bundle_id),
                 UpdateState::failed(QStringLiteral(
                     "The update didn't land. Run `varno fix 'org.sim.kettle'` in Terminal for details.")));
    }

    void unsafeInstallPathsAreRefused_data()
    {
        QTest::addColumn<QString>("installPath"); // "~" stands for the home folder
        QTest::addColumn<QString>("victim");      // an executable the fake runs there
        QTest::newRow("a system folder") << QStringLiteral("/usr") << QStringLiteral("/usr/bin/make");
        QTest::newRow("the root") << QStringLiteral("/") << QStringLiteral("/usr/bin/bash");
        QTest::newRow("the home folder") << QStringLiteral("~") << QStringLiteral("~/bin/tool");
        QTest::newRow("above the bundle")
            << QStringLiteral("~/Library") << QStringLiteral("~/Library/Tool.app/Contents/MacOS/Tool");
        QTest::newRow("dot dot out of a bundle")
            << QStringLiteral("~/Library/Tool.app/..") << QStringLiteral("~/Library/Tool.app/Contents/MacOS/Tool");
        QTest::newRow("a link named .app to a system folder")
            << QStringLiteral("~/Evil.app") << QStringLiteral("/usr/bin/make");
        QTest::newRow("a file named .app") << QStringLiteral("~/File.app") << QStringLiteral("~/File.app/x");
        QTest::newRow("a bundle that is not there")
            << QStringLiteral("~/Gone.app") << QStringLiteral("~/Gone.app/Contents/MacOS/Gone");
        QTest::newRow("a bare .app") << QStringLiteral("~/.app") << QStringLiteral("~/.app/Contents/MacOS/x");
        QTest::newRow("a relative path") << QStringLiteral("Tool.app") << QStringLiteral("Tool.app/Contents/MacOS/Tool");
        QTest::newRow("none") << QString() << QStringLiteral("/usr/bin/make");
    }

    void unsafeInstallPathsAreRefused()
    {
        QFETCH(QString, installPath);
        QFETCH(QString, victim);
        const QString home = QDir::homePath();
        installPath.replace(QLatin1Char('~'), home);
        victim.replace(QLatin1Char('~'), home);
        QDir().mkpath(home + QStringLiteral("/Library/Tool.app/Contents/MacOS"));
        QDir().mkpath(home + QStringLiteral("/.app"));
        QVERIFY(VarnoTest::writeFile(home + QStringLiteral("/File.app"), "not a folder"));
        QFile::link(QStringLiteral("/usr"), home + QStringLiteral("/Evil.app"));

        FakeRunningScope running;
        running.fake->addInstance(QStringLiteral("org.sim.kettle"), true, true, victim);
        AppRecord kettle = app("org.sim.kettle");
        kettle.install_path = installPath.isNull() ? std::nullopt : std::optional(installPath);
        QCOMPARE(QuitAndUpdateFlow::quittableBundle(kettle.install_path), std::nullopt);
        VarnoTest::await(f->model->quitAndUpdate(kettle));
        QCOMPARE(f->model->updateState(kettle.bundle_id),
                 UpdateState::failed(AppModel::unsafeInstallPathText(QStringLiteral("Kettle"))));
        QVERIFY(running.fake->terminateRequests().isEmpty());
        QVERIFY(running.fake->listingThreads().isEmpty());
        QVERIFY(!engineJournal().contains("\"--approved\""));
        QVERIFY(opened.isEmpty());
        QVERIFY(!f->model->isFixing());
    }

    void aBundleIsQuittableByItsResolvedPath()
    {
        const AppRecord kettle = app("org.sim.kettle");
        const QString canonical = QFileInfo(*kettle.install_path).canonicalFilePath();
        QCOMPARE(QuitAndUpdateFlow::quittableBundle(kettle.install_path), std::optional(canonical));
        QCOMPARE(QuitAndUpdateFlow::quittableBundle(*kettle.install_path + QStringLiteral("/")),
                 std::optional(canonical));
        // A link named like a bundle that leads to one is that bundle.
        const QString link = QDir::homePath() + QStringLiteral("/Kettle Link.app");
        QVERIFY(QFile::link(canonical, link));
        QCOMPARE(QuitAndUpdateFlow::quittableBundle(link), std::optional(canonical));
        // The bundle of this app, or a folder above it, never is.
        const std::optional<QString> savedBundle = MainBundle::path();
        const QString outer = QDir::homePath() + QStringLiteral("/Outer.app");
        QVERIFY(QDir().mkpath(outer + QStringLiteral("/VARNO.app/Contents")));
        MainBundle::setPathOverride(outer + QStringLiteral("/VARNO.app"));
        const auto ownBundle = QuitAndUpdateFlow::quittableBundle(outer + QStringLiteral("/VARNO.app"));
        const auto aboveIt = QuitAndUpdateFlow::quittableBundle(outer);
        MainBundle::setPathOverride(savedBundle);
        QCOMPARE(ownBundle, std::nullopt);
        QCOMPARE(aboveIt, std::nullopt);
        QVERIFY(QuitAndUpdateFlow::quittableBundle(outer));
    }

    void onlyProcessesInsideTheBundleAreAsked()
    {
        FakeRunningScope running;
        const AppRecord kettle = app("org.sim.kettle");
        const RunningApplication inside = running.addInside(kettle);
        // Another process of the same id elsewhere, and one beside the bundle.
        running.fake->addInstance(kettle.bundle_id, true, true, QStringLiteral("/opt/Kettle.app/Contents/MacOS/Kettle"));
        running.fake->addInstance(kettle.bundle_id, true, true,
                                  QFileInfo(*kettle.install_path).canonicalPath() + QStringLiteral("/KettleHelper"));
        VarnoTest::await(f->model->quitAndUpdate(kettle));
        QCOMPARE(f->model->updateState(kettle.bundle_id), UpdateState::done());
        QCOMPARE(running.fake->terminateRequests(), QList<qint64>{inside.pid});
        // The process table was read on worker threads, never on this one.
        const QList<Qt::HANDLE> threads = running.fake->listingThreads();
        QVERIFY(!threads.isEmpty());
        QVERIFY(!threads.contains(QThread::currentThreadId()));
    }

    void anInstanceThatEndsByItselfCountsAsQuit()
    {
        // It is listed, then exits before the request reaches it: no refusal.
        FakeRunningScope running;
        const AppRecord kettle = app("org.sim.kettle");
        running.addInside(kettle, true, true, /*endsWhenListed*/ true);
        VarnoTest::await(f->model->quitAndUpdate(kettle));
        QCOMPARE(f->model->updateState(kettle.bundle_id), UpdateState::done());
        QVERIFY(engineJournal().contains("\"update\", \"--only\", \"org.sim.kettle\", \"--approved\"]"));
        QVERIFY(opened.isEmpty()); // it was not asked, so it is not reopened
    }

    void oneOfTwoEndingByItselfStillAsksTheOther()
    {
        FakeRunningScope running;
        const AppRecord kettle = app("org.sim.kettle");
        running.addInside(kettle, true, true, /*endsWhenListed*/ true);
        const RunningApplication second = running.addInside(kettle);
        VarnoTest::await(f->model->quitAndUpdate(kettle));
        QCOMPARE(f->model->updateState(kettle.bundle_id), UpdateState::done());
        QVERIFY(running.fake->terminateRequests().contains(second.pid));
        QCOMPARE(opened.size(), 1);
    }

    void realRunningAppsQuitOrRefuse_data()
    {
        QTest::addColumn<bool>("refuses");
        QTest::newRow("quits on request") << false;
        QTest::newRow("ignores the request") << true;
    }

    void realRunningAppsQuitOrRefuse()
    {
        // A simulated app runs as a real process inside its bundle; the model
        // finds it in the process table and asks it to quit with SIGTERM.
        QFETCH(bool, refuses);
        QuickQuitTiming quick;
        QProcess appProcess;
        QStringList args = {VarnoPaths::engineScript(), QStringLiteral("sim"), QStringLiteral("run-app"),
                            QStringLiteral("org.sim.kettle")};
        if (refuses)
            args.append(QStringLiteral("--refuse-quit"));
        appProcess.start(QStringLiteral("/usr/bin/python3"), args);
        QVERIFY(appProcess.waitForStarted());
        const AppRecord kettle = app("org.sim.kettle");
        // The app says "running" once its signal handling is set up.
        QVERIFY(VarnoTest::waitUntil([&] { return appProcess.canReadLine() || appProcess.state() != QProcess::Running; },
                                     10s));
        QVERIFY(appProcess.readLine().startsWith("running org.sim.kettle"));
        QVERIFY(!RunningApplications::withBundleIdentifier(kettle.bundle_id, kettle.install_path).isEmpty());
        VarnoTest::await(f->model->quitAndUpdate(kettle));
        if (refuses) {
            QCOMPARE(f->model->updateState(kettle.bundle_id).kind(), UpdateState::Kind::quitDenied);
            QCOMPARE(appProcess.state(), QProcess::Running);
            appProcess.kill();
        } else {
            QCOMPARE(f->model->updateState(kettle.bundle_id), UpdateState::done());
            QTRY_COMPARE(appProcess.state(), QProcess::NotRunning);
        }
        appProcess.waitForFinished(5000);
    }

    // An id that reads as an option is refused before anything is asked to
    // quit or started, and the row offers no command to run for it.
    void optionLikeBundleIdsAreRefusedFirst_data()
    {
        QTest::addColumn<QString>("bundleId");
        QTest::newRow("double dash") << QStringLiteral("--dash");
        QTest::newRow("single dash") << QStringLiteral("-x");
    }

    void optionLikeBundleIdsAreRefusedFirst()
    {
        QFETCH(QString, bundleId);
        FakeRunningScope running;
        AppRecord kettle = app("org.sim.kettle");
        kettle.bundle_id = bundleId;
        running.addInside(kettle);
        VarnoTest::await(f->model->quitAndUpdate(kettle));
        const UpdateState state = f->model->updateState(bundleId);
        QCOMPARE(state.kind(), UpdateState::Kind::failed);
        QCOMPARE(state.text(), EngineArgumentError(QStringLiteral("bundle id"), bundleId).errorDescription());
        QVERIFY2(!state.text().contains(QStringLiteral("`varno")), qPrintable(state.text()));
        QVERIFY(running.fake->terminateRequests().isEmpty());
        QVERIFY(running.fake->listingThreads().isEmpty());
        QVERIFY(!engineJournal().contains("\"--approved\""));
        QVERIFY(opened.isEmpty());
        QVERIFY(!f->model->isFixing());
    }

    void deferToQuitArmsTheEngine()
    {
        const AppRecord kettle = app("org.sim.kettle");
        VarnoTest::await(f->model->deferUpdateToQuit(kettle));
        QCOMPARE(f->model->updateState(kettle.bundle_id),
                 UpdateState::skipped(QStringLiteral("Brusk will update it after you quit it")));
        QVERIFY(engineJournal().contains("\"mode\", \"org.sim.kettle\", \"--on-quit\"]"));

        QVERIFY(f->setKnobs("{\"rules\":[{\"command\":\"mode\",\"exit\":1,\"stderr\":\"No.\"}]}"));
        const AppRecord quarry = app("org.sim.quarry");
        VarnoTest::await(f->model->deferUpdateToQuit(quarry));
        QCOMPARE(f->model->error().value_or(QString()),
                 QStringLiteral("Couldn’t arm update-on-quit: Something went wrong running VARNO. No. (exit 1)"));
        QVERIFY(!f->model->updateProgress().contains(quarry.bundle_id));
    }
};

// After quit-and-update only the application bundle that was asked to quit
// is opened again, through the executable its Info.plist names, and only
// while it still passes the check it passed before: never what the record
// reloaded after the update names. A shell engine lists one app and, when it
// updates it, changes what the next list says and, in some rows, the disk.
class TestQuitAndUpdateReopening : public QObject {
    Q_OBJECT

    // <bundle>/Contents/MacOS/<name> is a script that leaves a marker file
    // ~/ran-<name> when it runs.
    static QString makeBundle(const QString &folder, const QString &name)
    {
        const QString bundle = folder + QLatin1Char('/') + name + QStringLiteral(".app");
        const QString executable = bundle + QStringLiteral("/Contents/MacOS/") + name;
        VarnoTest::writeFile(executable, "#!/bin/sh\ntouch \"$HOME/ran-" + name.toUtf8() + "\"\n");
        QFile::setPermissions(executable, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        VarnoTest::writeFile(bundle + QStringLiteral("/Contents/Info.plist"),
                             "<plist version=\"1.0\"><dict><key>CFBundleExecutable</key><string>" + name.toUtf8()
                                 + "</string></dict></plist>");
        return bundle;
    }

    static QByteArray listJson(const std::optional<QString> &installPath, const char *version)
    {
        QJsonObject record{{QStringLiteral("bundle_id"), QStringLiteral("org.example.kettle")},
                           {QStringLiteral("app_name"), QStringLiteral("Kettle")},
                           {QStringLiteral("current_version"), QString::fromLatin1(version)},
                           {QStringLiteral("latest_version"), QStringLiteral("2.0")}};
        if (installPath)
            record.insert(QStringLiteral("install_path"), *installPath);
        return QJsonDocument(QJsonArray{record}).toJson(QJsonDocument::Compact);
    }

private Q_SLOTS:
    void onlyTheBundleAskedToQuitIsReopened_data()
    {
        // "~" stands for the home folder; "-" in listedAfter: the app is no
        // longer listed, "" it is listed without an install path.
        QTest::addColumn<QString>("listedAfter");
        QTest::addColumn<QByteArray>("updateDoes"); // shell, run by the engine's update
        QTest::addColumn<bool>("reopened");
        QTest::newRow("the record now names an executable script") << "~/not-an-app.sh" << QByteArray() << true;
        QTest::newRow("the record now names another bundle") << "~/Applications/Other.app" << QByteArray() << true;
        QTest::newRow("the record has no install path") << "" << QByteArray() << true;
        QTest::newRow("the app is no longer listed") << "-" << QByteArray() << true;
        QTest::newRow("the bundle became a link to a system folder")
            << "~/Applications/Kettle.app"
            << QByteArray("rm -rf \"$HOME/Applications/Kettle.app\"; ln -s /usr \"$HOME/Applications/Kettle.app\"")
            << false;
        QTest::newRow("the bundle became a link to another bundle")
            << "~/Applications/Kettle.app"
            << QByteArray(
                   "rm -rf \"$HOME/Applications/Kettle.app\"; ln -s \"$HOME/Applications/Other.app\" \"$HOME/Applications/Kettle.app\"")
            << false;
        QTest::newRow("the bundle is gone")
            << "~/not-an-app.sh" << QByteArray("rm -rf \"$HOME/Applications/Kettle.app\"") << false;
    }

    void onlyTheBundleAskedToQuitIsReopened()
    {
        QFETCH(QString, listedAfter);
        QFETCH(QByteArray, updateDoes);
        QFETCH(bool, reopened);
        VarnoTest::TempHome home;
        VARNOProcess::resetCachedValuesForTesting();
        VarnoTest::ShellInterpreter shell;
        Workspace::setShared(nullptr); // the desktop's: what it opens really runs
        const QString kettleBundle = makeBundle(home.mkpath(QStringLiteral("Applications")), QStringLiteral("Kettle"));
        makeBundle(home.filePath(QStringLiteral("Applications")), QStringLiteral("Other"));
        const QString script = home.filePath(QStringLiteral("not-an-app.sh"));
        QVERIFY(VarnoTest::writeFile(script, "#!/bin/sh\ntouch \"$HOME/ran-script\"\n"));
        QFile::setPermissions(script, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

        listedAfter.replace(QLatin1Char('~'), home.path());
        QVERIFY(VarnoTest::writeFile(home.filePath(QStringLiteral("list.json")), listJson(kettleBundle, "1.0")));
        QByteArray after = listedAfter == QLatin1String("-")
            ? QByteArray("[]")
            : listJson(listedAfter.isEmpty() ? std::nullopt : std::optional(listedAfter), "2.0");
        QVERIFY(VarnoTest::writeFile(home.filePath(QStringLiteral("after.json")), after));
        QVERIFY(VarnoTest::writeFile(VarnoPaths::engineScript(),
                                     "case \" $* \" in\n"
                                     "*\" update \"*) "
                                         + (updateDoes.isEmpty() ? QByteArray(":") : updateDoes)
                                         + "; cp \"$HOME/after.json\" \"$HOME/list.json\" ;;\n"
                                           "*\" list \"*) cat \"$HOME/list.json\" ;;\n"
                                           "esac\nexit 0\n"));

        FakeModelServices fakes;
        AppModelServices services = fakes.services();
        QStringList opened;
        services.openApplication = [&opened](const QString &path) {
            opened.append(path);
            Workspace::shared()->openApplication(QUrl::fromLocalFile(path));
        };
        AppModel model(services);
        VarnoTest::await(model.load());
        QCOMPARE(model.apps().size(), 1);
        const AppRecord kettle = model.apps().first();

        FakeRunningScope running;
        running.addInside(kettle);
        const QString asked = QFileInfo(kettleBundle).canonicalFilePath();
        VarnoTest::await(model.quitAndUpdate(kettle));
        QCOMPARE(running.fake->terminateRequests().size(), 1);
        QVERIFY(VarnoTest::readFile(home.filePath(QStringLiteral("list.json"))) == after); // the update ran
        QCOMPARE(opened, reopened ? QStringList{asked} : QStringList());
        if (reopened)
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(home.filePath(QStringLiteral("ran-Kettle"))), 30000);
        QVERIFY(!QFileInfo::exists(home.filePath(QStringLiteral("ran-script"))));
        QVERIFY(!QFileInfo::exists(home.filePath(QStringLiteral("ran-Other"))));
        QVERIFY(VarnoTest::waitUntil([&model] { return !model.isEnrichingSeals() && !model.isReadingScanHistory(); }));
    }
};

VARNO_TEST_CLASS(TestAdoption)
VARNO_TEST_CLASS(TestQuitAndUpdate)
VARNO_TEST_CLASS(TestQuitAndUpdateReopening)

#include "tst_modelquit.moc"
