#include "TestRegistry.h"

#include "PanelsFixture.h"

#include "base/Async.h"
#include "engine/CLIBootstrap.h"
#include "kit/VarnoSignals.h"
#include "model/AppModel.h"
#include "model/PosturePresenter.h"
#include "screens/DiagnosticsRules.h"
#include "screens/DiagnosticsView.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

using namespace PanelsTest;

namespace {

QString home(const QString &relative)
{
    return QDir::homePath() + QLatin1Char('/') + relative;
}

// Operations that answer from the test: each call counted, gather held by
// a gate when one is given.
struct Scripted {
    int gathers = 0;
    int healthChecks = 0;
    int scans = 0;
    int repairs = 0;
    Gate *gatherGate = nullptr;
    Gate *healthGate = nullptr;
    DiagnosticsReport::ShellOutcome health{QStringLiteral("All checks passed."), true};
    QString scanText = QStringLiteral("scanned 3 apps");
    QString repairText = QStringLiteral("Repair succeeded. CLI reinstalled from bundle.");

    DiagnosticsOperations operations()
    {
        DiagnosticsOperations ops;
        ops.gather = [this]() -> QCoro::Task<QString> {
            const int number = ++gathers;
            if (gatherGate)
                co_await gatherGate->pass();
            co_return QStringLiteral("report %1").arg(number);
        };
        ops.healthCheck = [this]() -> QCoro::Task<DiagnosticsReport::ShellOutcome> {
            ++healthChecks;
            if (healthGate)
                co_await healthGate->pass();
            co_return health;
        };
        ops.forceScan = [this]() -> QCoro::Task<QString> {
            ++scans;
            co_return scanText + QStringLiteral(" #") + QString::number(scans);
        };
        ops.repair = [this]() -> QCoro::Task<QString> {
            ++repairs;
            co_return repairText;
        };
        return ops;
    }
};

bool loaded(DiagnosticsView &view)
{
    return VarnoTest::waitUntil([&view] { return !view.isLoading(); }, std::chrono::seconds(180));
}

} // namespace

// The Diagnostics sheet's rules, as tables.
class TestDiagnosticsRules : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void healthFailure_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ranCleanly");
        QTest::addColumn<bool>("failed");
        QTest::newRow("clean") << QStringLiteral("All checks passed.") << true << false;
        QTest::newRow("a clean count of none") << QStringLiteral("12 checks, 0 failures") << true << false;
        QTest::newRow("none failed") << QStringLiteral("0 failed") << true << false;
        QTest::newRow("ten failures") << QStringLiteral("10 failures") << true << true;
        QTest::newRow("FAIL row") << QStringLiteral("  [FAIL] Database integrity") << true << true;
        QTest::newRow("inside a word") << QStringLiteral("Failures: 2") << true << true;
        QTest::newRow("none, then one") << QStringLiteral("0 failures in schema; failed: integrity") << true << true;
        QTest::newRow("exit status without the word")
            << QStringLiteral("[exit 1]\nstdout: \nstderr: Traceback") << false << true;
        QTest::newRow("killed") << QStringLiteral("[exit 9]\nstdout: \nstderr: ") << false << true;
        QTest::newRow("could not start") << QStringLiteral("ERROR launching /usr/bin/python3: No such file") << false
                                         << true;
    }

    void healthFailure()
    {
        QFETCH(QString, text);
        QFETCH(bool, ranCleanly);
        QFETCH(bool, failed);
        QCOMPARE(PosturePresenter::healthCheckFailed(text, ranCleanly), failed);
    }

    void headline_data()
    {
        QTest::addColumn<bool>("error");
        QTest::addColumn<bool>("scanned");
        QTest::addColumn<bool>("healthFailed");
        QTest::addColumn<QString>("repair");
        QTest::addColumn<QString>("title");
        QTest::addColumn<PostureTone>("tone");
        QTest::newRow("error outranks all")
            << true << true << true << QStringLiteral("Repair failed: x")
            << QStringLiteral("Diagnostics confirm a visible failure") << PostureTone::red;
        QTest::newRow("repair failed") << false << true << true << QStringLiteral("Repair failed: x")
                                       << QStringLiteral("Repair attempt failed") << PostureTone::red;
        QTest::newRow("repairing is not a failure") << false << false << false << DiagnosticsRules::repairingText
                                                    << QStringLiteral("No trusted baseline yet") << PostureTone::neutral;
        QTest::newRow("health failed") << false << true << true << QString()
                                       << QStringLiteral("Health check found issues") << PostureTone::orange;
        QTest::newRow("scanned") << false << true << false
                                 << QStringLiteral("Repair succeeded. CLI reinstalled from bundle.")
                                 << QStringLiteral("Diagnostics available") << PostureTone::green;
    }

    void headline()
    {
        QFETCH(bool, error);
        QFETCH(bool, scanned);
        QFETCH(bool, healthFailed);
        QFETCH(QString, repair);
        QFETCH(QString, title);
        QFETCH(PostureTone, tone);
        PostureSnapshot snapshot;
        snapshot.hasEverScanned = scanned;
        if (error)
            snapshot.error = QStringLiteral("boom");
        const PosturePresentation result = PosturePresenter::diagnostics(snapshot, healthFailed, repair);
        QCOMPARE(result.title, title);
        QCOMPARE(result.tone, tone);
    }

    void texts()
    {
        QCOMPARE(DiagnosticsRules::repairText(std::nullopt, true),
                 QStringLiteral("Repair succeeded. CLI reinstalled from bundle.\nOld scan.err rotated to scan.err.prev."));
        QCOMPARE(DiagnosticsRules::repairText(std::nullopt, false),
                 QStringLiteral("Repair succeeded. CLI reinstalled from bundle."));
        QCOMPARE(DiagnosticsRules::repairText(QStringLiteral("No engine."), true),
                 QStringLiteral("Repair failed: No engine."));
        QCOMPARE(DiagnosticsRules::clipboardText(QStringLiteral("R"), QString()), QStringLiteral("R"));
        QCOMPARE(DiagnosticsRules::clipboardText(QStringLiteral("R"), QStringLiteral("S\n")),
                 QStringLiteral("R\n\n=== SCAN LOG ===\nS\n"));
        QCOMPARE(DiagnosticsRules::shownText(QStringLiteral("short")), QStringLiteral("short"));
        const QString shown = DiagnosticsRules::shownText(QString(100, QLatin1Char('x')), 10);
        QVERIFY(shown.startsWith(QString(10, QLatin1Char('x')) + QStringLiteral("\n… (90 more characters")));
    }
};

// The sheet over scripted work: its states, Copy, the health-check signal,
// which actions refresh the report, the folders.
class TestDiagnosticsSheet : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void copyBeforeAndAfterTheReport()
    {
        AppModel model(quietServices());
        Gate gather;
        Scripted scripted;
        scripted.gatherGate = &gather;
        DiagnosticsView view(&model, scripted.operations());
        view.show();
        settle();
        QVERIFY(view.isLoading());
        QVERIFY(view.skeletonView()->isVisible());
        QVERIFY(!view.contentView()->isVisible());
        QCOMPARE(view.skeletonView()->accessibleName(), QStringLiteral("Gathering diagnostic data"));
        QTest::mouseClick(view.copyButton(), Qt::LeftButton);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("Loading…"));

        gather.open();
        QVERIFY(loaded(view));
        QCOMPARE(view.report(), QStringLiteral("report 1"));
        QVERIFY(view.contentView()->isVisible());
        QTest::mouseClick(view.copyButton(), Qt::LeftButton);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("report 1"));
        QCOMPARE(view.blockText(QStringLiteral("Health Check")), std::nullopt);
        QCOMPARE(view.blockText(QStringLiteral("Scan Output")), std::nullopt);

        // Two forced scans: only the second transcript stays; each refreshes.
        QTest::mouseClick(view.actionButton(DiagnosticsView::Action::forceScan), Qt::LeftButton);
        QVERIFY(loaded(view));
        QTest::mouseClick(view.actionButton(DiagnosticsView::Action::forceScan), Qt::LeftButton);
        QVERIFY(loaded(view));
        QCOMPARE(view.scanLog(), QStringLiteral("Running varno scan with verbose output…\nscanned 3 apps #2"));
        QCOMPARE(view.blockText(QStringLiteral("Scan Output")), view.scanLog());
        QCOMPARE(scripted.gathers, 3);
        QTest::mouseClick(view.copyButton(), Qt::LeftButton);
        QCOMPARE(QApplication::clipboard()->text(),
                 QStringLiteral(
                     "report 3\n\n=== SCAN LOG ===\nRunning varno scan with verbose output…\nscanned 3 apps #2"));
    }

    void healthCheckGuardsItselfAndDoesNotRefresh()
    {
        AppModel model(quietServices());
        Gate health;
        Scripted scripted;
        scripted.healthGate = &health;
        auto view = std::make_unique<DiagnosticsView>(&model, scripted.operations());
        view->show();
        QVERIFY(loaded(*view));
        QTest::mouseClick(view->actionButton(DiagnosticsView::Action::healthCheck), Qt::LeftButton);
        QVERIFY(view->isHealthRunning());
        auto *button = qobject_cast<DiagnosticsActionButton *>(view->actionButton(DiagnosticsView::Action::healthCheck));
        QCOMPARE(button->shownText(), QStringLiteral("Checking…"));
        QVERIFY(!button->isEnabled());
        VarnoSignals::postRunHealthCheck();
        settle();
        QCOMPARE(scripted.healthChecks, 1);
        health.open();
        QVERIFY(VarnoTest::waitUntil([&] { return !view->isHealthRunning(); }));
        QCOMPARE(view->blockText(QStringLiteral("Health Check")), QStringLiteral("All checks passed."));
        QCOMPARE(scripted.gathers, 1);
        QCOMPARE(button->shownText(), QStringLiteral("Health Check"));

        // The signal runs it again; once the sheet is gone it reaches nothing.
        VarnoSignals::postRunHealthCheck();
        QVERIFY(VarnoTest::waitUntil([&] { return scripted.healthChecks == 2; }));
        view.reset();
        VarnoSignals::postRunHealthCheck();
        settle();
        QCOMPARE(scripted.healthChecks, 2);
    }

    void signalDuringTheSkeletonStillRunsTheCheck()
    {
        AppModel model(quietServices());
        Gate gather;
        Scripted scripted;
        scripted.gatherGate = &gather;
        scripted.health = {QStringLiteral("Checks: 0 failures"), true};
        DiagnosticsView view(&model, scripted.operations());
        view.show();
        settle();
        QVERIFY(view.isLoading());
        VarnoSignals::postRunHealthCheck();
        QVERIFY(VarnoTest::waitUntil([&] { return !view.healthReport().isEmpty(); }));
        QVERIFY(!view.contentView()->isVisible());
        gather.open();
        QVERIFY(loaded(view));
        QCOMPARE(view.blockText(QStringLiteral("Health Check")), QStringLiteral("Checks: 0 failures"));
        // A clean count of none is no failure.
        QVERIFY(!view.healthFailed());
        QCOMPARE(view.postureTitleText(), QStringLiteral("No trusted baseline yet"));
    }

    void headlineFollowsTheModelAndTheResults()
    {
        AppModel model(quietServices());
        model.setHasEverScanned(true);
        Scripted scripted;
        scripted.health = {QStringLiteral("[exit 9]\nstdout: \nstderr: "), false};
        scripted.repairText = QStringLiteral("Repair failed: No bundled CLI in app Resources. This is a packaging bug.");
        DiagnosticsView view(&model, scripted.operations());
        view.show();
        QVERIFY(loaded(view));
        QCOMPARE(view.postureTitleText(), QStringLiteral("Diagnostics available"));
        QCOMPARE(view.postureDetailText(),
                 QStringLiteral("This panel is the machine-level truth source when the interface and engine disagree."));
        Async::detach(view.runHealthCheck());
        QVERIFY(VarnoTest::waitUntil([&] { return !view.healthReport().isEmpty(); }));
        QCOMPARE(view.postureTitleText(), QStringLiteral("Health check found issues"));
        QTest::mouseClick(view.actionButton(DiagnosticsView::Action::repair), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([&] { return !view.isRepairRunning() && !view.isLoading(); }));
        QCOMPARE(view.postureTitleText(), QStringLiteral("Repair attempt failed"));
        QCOMPARE(scripted.gathers, 2); // the repair refreshed the report
        model.setError(QStringLiteral("Something broke."));
        QCOMPARE(view.postureTitleText(), QStringLiteral("Diagnostics confirm a visible failure"));
    }

    void foldersAndDone()
    {
        WorkspaceScope workspace;
        AppModel model(quietServices());
        Scripted scripted;
        DiagnosticsView view(&model, scripted.operations());
        view.show();
        QVERIFY(loaded(view));
        QTest::mouseClick(view.actionButton(DiagnosticsView::Action::openDataFolder), Qt::LeftButton);
        QTest::mouseClick(view.actionButton(DiagnosticsView::Action::openLogs), Qt::LeftButton);
        QCOMPARE(workspace.workspace->openedUrls(),
                 (QList<QUrl>{QUrl::fromLocalFile(home(QStringLiteral("Library/Application Support/VARNO"))),
                              QUrl::fromLocalFile(home(QStringLiteral("Library/Logs/VARNO")))}));
        QVERIFY(!QFileInfo::exists(home(QStringLiteral("Library/Logs/VARNO/none"))));
        QVERIFY(view.doneButton()->isDefault());
        QCOMPARE(view.actionButton(DiagnosticsView::Action::repair)->toolTip(),
                 QStringLiteral("Force-reinstall the bundled CLI from the app. Fixes stale ~/.varno files left behind by an "
                                "interrupted earlier install."));
        QTest::keyClick(&view, Qt::Key_Return);
        QVERIFY(!view.isVisible());
        QCOMPARE(view.minimumSize(), QSize(720, 600));
    }

    void closingMidRunDropsTheResult()
    {
        AppModel model(quietServices());
        Gate health;
        Scripted scripted;
        scripted.healthGate = &health;
        auto view = std::make_unique<DiagnosticsView>(&model, scripted.operations());
        view->show();
        QVERIFY(loaded(*view));
        Async::detach(view->runHealthCheck());
        QCOMPARE(health.entered, 1);
        view.reset();
        health.open();
        settle();
        QCOMPARE(scripted.healthChecks, 1);
    }
};

// The sheet's own work against the engine stand-in: `doctor` healthy,
// unhealthy and killed, a doctor that cannot start, and the repair with and
// without an engine in the app's resources.
class TestDiagnosticsEngine : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<VarnoTest::TempHome> m_home;
    std::unique_ptr<StagedBundleScope> m_bundle;
    std::unique_ptr<EnvScope> m_speed;

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<VarnoTest::TempHome>();
        m_bundle = std::make_unique<StagedBundleScope>();
        m_speed = std::make_unique<EnvScope>("VARNO_SIM_SPEED", "0");
        QVERIFY(VarnoTest::prepareSimulatedMac());
    }

    void cleanup()
    {
        m_speed.reset();
        m_bundle.reset();
        m_home.reset();
    }

    void doctor_data()
    {
        QTest::addColumn<QByteArray>("knobs");
        QTest::addColumn<bool>("legacyFile");
        QTest::addColumn<QString>("reportStart");
        QTest::addColumn<bool>("failed");
        QTest::newRow("healthy") << QByteArray() << false << QStringLiteral("VARNO engine") << false;
        QTest::newRow("unhealthy") << QByteArray() << true << QStringLiteral("[exit 1]") << true;
        QTest::newRow("killed") << QByteArray(R"([{"command": "doctor", "exit": 9}])") << false
                                << QStringLiteral("[exit 9]") << true;
        QTest::newRow("exits 3 without a word of failure")
            << QByteArray(R"([{"command": "doctor", "exit": 3, "stdout": "checked\n"}])") << false
            << QStringLiteral("[exit 3]\nstdout: checked") << true;
    }

    void doctor()
    {
        QFETCH(QByteArray, knobs);
        QFETCH(bool, legacyFile);
        QFETCH(QString, reportStart);
        QFETCH(bool, failed);
        std::optional<EnvScope> knobScope;
        if (!knobs.isEmpty())
            knobScope.emplace("VARNO_SIM_KNOBS", knobs);
        if (legacyFile)
            QVERIFY(VarnoTest::writeFile(home(QStringLiteral(".varno/db.py")), "# left over\n"));
        AppModel model(quietServices());
        model.setHasEverScanned(true);
        DiagnosticsView view(&model);
        view.show();
        QVERIFY(loaded(view));
        QVERIFY(view.report().contains(QStringLiteral("=== ENVIRONMENT ===")));
        QTest::mouseClick(view.actionButton(DiagnosticsView::Action::healthCheck), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([&] { return !view.isHealthRunning(); }, std::chrono::seconds(120)));
        QVERIFY2(view.healthReport().startsWith(reportStart), qPrintable(view.healthReport()));
        QCOMPARE(view.healthFailed(), failed);
        QCOMPARE(view.postureTitleText(),
                 failed ? QStringLiteral("Health check found issues") : QStringLiteral("Diagnostics available"));
        const QStringList journal = QString::fromUtf8(
                                        VarnoTest::runEngine({QStringLiteral("sim"), QStringLiteral("journal")}).standardOutput)
                                        .split(QLatin1Char('\n'));
        QVERIFY(std::any_of(journal.begin(), journal.end(),
                            [](const QString &line) { return line.contains(QStringLiteral("doctor")); }));
    }

    void doctorThatCannotStart()
    {
        const auto outcome = VarnoTest::await(
            DiagnosticsReport::runShellOutcomeAsync(home(QStringLiteral("no-such-python3")), {QStringLiteral("doctor")},
                                                    std::nullopt));
        QVERIFY(outcome.text.startsWith(QStringLiteral("ERROR launching ")));
        QVERIFY(!outcome.succeeded);
        QVERIFY(PosturePresenter::healthCheckFailed(outcome.text, outcome.succeeded));
    }

    void repairWithTheBundledEngine_data()
    {
        QTest::addColumn<bool>("scanLog");
        QTest::newRow("with an old scan log") << true;
        QTest::newRow("without one") << false;
    }

    void repairWithTheBundledEngine()
    {
        QFETCH(bool, scanLog);
        if (scanLog)
            QVERIFY(VarnoTest::writeFile(home(QStringLiteral(".varno/logs/scan.err")), "old scan trouble\n"));
        QFile::remove(home(QStringLiteral(".varno/logs/scan.err.prev")));
        AppModel model(quietServices());
        DiagnosticsView view(&model);
        view.show();
        QVERIFY(loaded(view));
        QTest::mouseClick(view.actionButton(DiagnosticsView::Action::repair), Qt::LeftButton);
        QCOMPARE(view.repairResult(), QStringLiteral("Repairing…\n"));
        QVERIFY(VarnoTest::waitUntil([&] { return !view.isRepairRunning(); }, std::chrono::seconds(180)));
        const QString expected = scanLog ? QStringLiteral("Repair succeeded. CLI reinstalled from bundle.\n"
                                                          "Old scan.err rotated to scan.err.prev.")
                                         : QStringLiteral("Repair succeeded. CLI reinstalled from bundle.");
        QCOMPARE(view.repairResult(), expected);
        QCOMPARE(view.blockText(QStringLiteral("Repair Result")), expected);
        QVERIFY(QFileInfo::exists(home(QStringLiteral(".varno/.cli_version"))));
        QCOMPARE(QFileInfo::exists(home(QStringLiteral(".varno/logs/scan.err.prev"))), scanLog);
        QVERIFY(loaded(view));
    }

    // A build without an engine: the repair fails and the installed engine,
    // with its version file, stays as it was.
    void repairWithoutABundledEngine()
    {
        QTemporaryDir bundle;
        const QString resources = bundle.filePath(QStringLiteral("VARNO.app/Contents/Resources"));
        QVERIFY(QDir().mkpath(resources));
        MainBundle::setPathOverride(bundle.filePath(QStringLiteral("VARNO.app")));
        const QByteArray version = VarnoTest::readFile(home(QStringLiteral(".varno/.cli_version")));
        QVERIFY(!version.isEmpty());
        AppModel model(quietServices());
        model.setHasEverScanned(true);
        DiagnosticsOperations operations = DiagnosticsOperations::system();
        operations.gather = []() -> QCoro::Task<QString> { co_return QStringLiteral("report"); };
        DiagnosticsView view(&model, operations);
        view.show();
        QVERIFY(loaded(view));
        QTest::mouseClick(view.actionButton(DiagnosticsView::Action::repair), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([&] { return !view.isRepairRunning(); }, std::chrono::seconds(60)));
        QCOMPARE(view.repairResult(),
                 QStringLiteral("Repair failed: No bundled CLI in app Resources. This is a packaging bug."));
        QCOMPARE(view.postureTitleText(), QStringLiteral("Repair attempt failed"));
        QCOMPARE(VarnoTest::readFile(home(QStringLiteral(".varno/.cli_version"))), version);
    }
};

VARNO_TEST_CLASS(TestDiagnosticsRules)
VARNO_TEST_CLASS(TestDiagnosticsSheet)
VARNO_TEST_CLASS(TestDiagnosticsEngine)
#include "tst_diagnostics.moc"
