#include "TestRegistry.h"

#include "SettingsFixture.h"

#include "platform/MainBundle.h"
#include "platform/VarnoPaths.h"
#include "settings/DeveloperWorkbenchSettingsView.h"
#include "settings/SettingsForm.h"

#include <QAbstractButton>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

using namespace SettingsTest;

namespace {

void writeWorkbenchFile(const QByteArray &json)
{
    QVERIFY(VarnoTest::writeFile(DeveloperWorkbenchStateStore::filePath(), json));
}

void removeWorkbenchFile()
{
    QFile::remove(DeveloperWorkbenchStateStore::filePath());
}

DeveloperWorkbenchState fileState()
{
    return DeveloperWorkbenchStateStore::load();
}

QAbstractButton *sourceSwitch(QWidget *pane, DeveloperSource source)
{
    return child<QAbstractButton>(pane, QStringLiteral("developer-source-") + DeveloperWorkbench::rawValue(source));
}

} // namespace

// The Developer pane against the engine stand-in: what opening it shows and
// saves, edits through `dev set`, and the two runs.
class TestDeveloperPaneEngine : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<DeveloperWorkbenchSettingsView> m_view;

    void open()
    {
        m_view = std::make_unique<DeveloperWorkbenchSettingsView>(m_model.get());
        m_view->resize(640, 900);
        m_view->show();
        QVERIFY(VarnoTest::waitUntil([this] { return m_view->isSettled(); }));
    }

    void flushSaves() { VarnoTest::await(m_view->saver()->flush()); }

private Q_SLOTS:
    void initTestCase()
    {
        MainBundle::setPathOverride(VarnoTest::stagedBundlePath());
        QVERIFY(VarnoTest::prepareSimulatedMac());
    }

    void init()
    {
        VarnoTest::runEngine({QStringLiteral("sim"), QStringLiteral("knobs"), QStringLiteral("clear")});
        VarnoTest::runEngine(
            {QStringLiteral("sim"), QStringLiteral("knobs"), QStringLiteral("speed"), QStringLiteral("0")});
        VarnoTest::runEngine({QStringLiteral("sim"), QStringLiteral("journal"), QStringLiteral("--clear")});
        removeWorkbenchFile();
        m_model = std::make_unique<AppModel>(quietServices());
    }

    void cleanup()
    {
        // Whatever the test left pending reaches the engine now, not in the next test.
        if (m_view)
            VarnoTest::await(m_view->saver()->flush());
        m_view.reset();
        m_model.reset();
    }

    void withoutAFileOnlyActivationShowsAndNothingIsSaved()
    {
        open();
        const QStringList texts = visibleTexts(m_view.get());
        QVERIFY(texts.contains(QStringLiteral("Activation")));
        QVERIFY(texts.contains(QStringLiteral("What this controls")));
        QVERIFY(texts.contains(QStringLiteral("Developer inspection stays hidden until you opt in.")));
        QVERIFY(!texts.contains(QStringLiteral("Machine-wide sources")));
        QVERIFY(!child<QAbstractButton>(m_view.get(), QStringLiteral("developer-enable"))->isChecked());
        QCOMPARE(m_view->inspectionSummary(), QStringLiteral("No inspection run yet."));
        QCOMPARE(m_view->updatePlanSummary(), QStringLiteral("No update plan generated yet."));
        flushSaves();
        QVERIFY(journalOf({"dev"}).isEmpty());
    }

    // A stored state is shown as stored; the first edit saves its normal form.
    void storedStateShowsAsStoredAndTheNextEditSavesItNormalised()
    {
        writeWorkbenchFile(R"({"workbenchEnabled":true,"updatePolicy":"nightly","projectFolders":["/c","/a","/c"]})");
        open();
        QCOMPARE(m_view->state().projectFolders, QStringList({"/c", "/a", "/c"}));
        QCOMPARE(m_view->findChildren<MiddleElidedLabel *>().size(), 3);
        QVERIFY(child<QAbstractButton>(m_view.get(), QStringLiteral("developer-policy-track_only"))->isChecked());
        flushSaves();
        QVERIFY(journalOf({"dev", "set"}).isEmpty());

        sourceSwitch(m_view.get(), DeveloperSource::npm)->click();
        flushSaves();
        QCOMPARE(journalOf({"dev", "set"}).size(), 1);
        const DeveloperWorkbenchState saved = fileState();
        QCOMPARE(saved.updatePolicy, QStringLiteral("track_only"));
        QCOMPARE(saved.projectFolders, QStringList({"/a", "/c"}));
        QVERIFY(saved.npmEnabled);
    }

    void switchingOffKeepsTheSettings()
    {
        writeWorkbenchFile(R"({"workbenchEnabled":true,"npmEnabled":true,"projectFolders":["/p"]})");
        open();
        QVERIFY(visibleTexts(m_view.get()).contains(QStringLiteral("Machine-wide sources")));
        child<QAbstractButton>(m_view.get(), QStringLiteral("developer-enable"))->click();
        QCOMPARE(m_view->inspectionSummary(), QStringLiteral("Developer Workbench disabled."));
        QCOMPARE(m_view->updatePlanSummary(), QStringLiteral("Developer Workbench disabled."));
        QVERIFY(visibleTexts(m_view.get()).contains(QStringLiteral("What this controls")));
        flushSaves();
        DeveloperWorkbenchState saved = fileState();
        QVERIFY(!saved.workbenchEnabled);
        QVERIFY(saved.npmEnabled);
        QCOMPARE(saved.projectFolders, QStringList({"/p"}));

        child<QAbstractButton>(m_view.get(), QStringLiteral("developer-enable"))->click();
        QCOMPARE(m_view->inspectionSummary(), QStringLiteral("Developer Workbench disabled."));
        QVERIFY(sourceSwitch(m_view.get(), DeveloperSource::npm)->isChecked());
    }

    // The switch just flipped reaches the engine before it inspects.
    void inspectionFlushesTheLastEditFirst()
    {
        writeWorkbenchFile(R"({"workbenchEnabled":true})");
        open();
        sourceSwitch(m_view.get(), DeveloperSource::homebrewCasks)->click();
        child<QPushButton>(m_view.get(), QStringLiteral("developer-run-inspection"))->click();
        QVERIFY(m_view->isInspecting());
        QVERIFY(!child<QPushButton>(m_view.get(), QStringLiteral("developer-run-inspection"))->isEnabled());
        QVERIFY(child<QPushButton>(m_view.get(), QStringLiteral("developer-plan-updates"))->isEnabled());
        QVERIFY(VarnoTest::waitUntil([this] { return !m_view->isInspecting(); }));
        QList<QStringList> dev = journalOf({"dev"});
        QCOMPARE(dev, QList<QStringList>({{"dev", "set"}, {"dev", "inspect", "--json"}}));
        QCOMPARE(m_view->inspectionSummary(), QStringLiteral("Inspected Homebrew casks; nothing was applied."));
        QVERIFY(!m_model->error());
    }

    void runWhileOffSaysSo()
    {
        open();
        VarnoTest::await(m_view->runInspection());
        VarnoTest::await(m_view->runUpdatePlan());
        QCOMPARE(m_view->inspectionSummary(), QStringLiteral("Developer Workbench is off."));
        QCOMPARE(m_view->updatePlanSummary(), QStringLiteral("Developer Workbench is off."));
        QVERIFY(!m_view->isInspecting());
        QVERIFY(journalOf({"dev"}).isEmpty());
        QVERIFY(!m_model->error());
    }

    void runFailures_data()
    {
        QTest::addColumn<bool>("inspection");
        QTest::addColumn<QByteArray>("knob");
        QTest::addColumn<QString>("summaryPrefix");
        QTest::addColumn<QString>("errorPrefix");
        QTest::newRow("inspection exits non-zero")
            << true << QByteArray(R"({"command":"dev inspect","exit":1,"stderr":"toolchain probe crashed"})")
            << "Inspection failed: "
            << "Developer inspection failed: ";
        QTest::newRow("plan is not JSON")
            << false << QByteArray(R"({"command":"dev plan-updates","stdout":"not json"})") << "Update planning failed: "
            << "Developer update planning failed: ";
    }

    void runFailures()
    {
        QFETCH(bool, inspection);
        QFETCH(QByteArray, knob);
        QFETCH(QString, summaryPrefix);
        QFETCH(QString, errorPrefix);
        writeWorkbenchFile(R"({"workbenchEnabled":true})");
        setKnob(knob);
        open();
        VarnoTest::await(inspection ? m_view->runInspection() : m_view->runUpdatePlan());
        const QString summary = inspection ? m_view->inspectionSummary() : m_view->updatePlanSummary();
        QVERIFY2(summary.startsWith(summaryPrefix), qPrintable(summary));
        const QString description = summary.mid(summaryPrefix.size());
        QVERIFY(!description.isEmpty());
        QCOMPARE(m_model->error().value_or(QString()), errorPrefix + description);
        QVERIFY(VarnoTest::waitUntil([this] { return !m_view->isInspecting() && !m_view->isPlanningUpdates(); }));
    }

    // The pane closed while the save of "npm on" runs and opened again: the
    // new pane reads the file once that save has landed, so switching python
    // on keeps npm on.
    void reopenedWhileASaveRuns()
    {
        writeWorkbenchFile(R"({"workbenchEnabled":true})");
        setKnob(R"({"command":"dev set","delay":2,"times":1})");
        open();
        sourceSwitch(m_view.get(), DeveloperSource::npm)->click();
        QVERIFY(m_view->saver()->isDraining());
        m_view.reset();
        open();
        QVERIFY(m_view->hasRead());
        QVERIFY(m_view->state().npmEnabled);
        QVERIFY(sourceSwitch(m_view.get(), DeveloperSource::npm)->isChecked());
        sourceSwitch(m_view.get(), DeveloperSource::python)->click();
        flushSaves();
        QCOMPARE(journalOf({"dev", "set"}).size(), 2);
        const DeveloperWorkbenchState saved = fileState();
        QVERIFY(saved.npmEnabled);
        QVERIFY(saved.pythonEnabled);
    }

    void failedSaveFallsBackToTheStoredState()
    {
        writeWorkbenchFile(R"({"workbenchEnabled":true,"pythonEnabled":true})");
        setKnob(R"({"command":"dev set","exit":1,"stderr":"settings are read-only"})");
        open();
        sourceSwitch(m_view.get(), DeveloperSource::python)->click();
        QVERIFY(!m_view->state().pythonEnabled);
        flushSaves();
        QVERIFY(VarnoTest::waitUntil([this] { return m_view->isSettled(); }));
        const QString error = m_model->error().value_or(QString());
        QVERIFY2(error.startsWith(QStringLiteral("Couldn't save Developer Workbench settings: ")), qPrintable(error));
        QVERIFY(m_view->state().pythonEnabled);
        QVERIFY(sourceSwitch(m_view.get(), DeveloperSource::python)->isChecked());
        flushSaves();
        QCOMPARE(journalOf({"dev", "set"}).size(), 1); // the fallback is not saved again
    }
};

namespace {

// The pane over scripted engine calls and a scripted folder dialog.
struct ScriptedPane {
    ScriptedEngine engine;
    AppModel model{quietServices()};
    std::optional<QStringList> nextChoice;
    int dialogs = 0;
    WorkbenchOperations operations;
    std::unique_ptr<DeveloperWorkbenchSettingsView> view;

    explicit ScriptedPane(const QByteArray &file)
    {
        writeWorkbenchFile(file);
        operations.load = &DeveloperWorkbenchStateStore::load;
        operations.inspect = [this] { return answerWithReport(engine.record({QStringLiteral("inspect")})); };
        operations.planUpdates = [this] { return answerWithReport(engine.record({QStringLiteral("plan")})); };
        // A save that the test answers; on success it stores the state as the engine would.
        operations.save = [this](DeveloperWorkbenchState state) { return save(std::move(state)); };
        operations.chooseFolders = [this](QWidget *) {
            ++dialogs;
            return nextChoice;
        };
        view = std::make_unique<DeveloperWorkbenchSettingsView>(&model, operations);
        view->saver()->setPauseForTesting([](std::chrono::nanoseconds) -> QCoro::Task<void> { co_return; });
        view->resize(640, 900);
    }

    QCoro::Task<void> save(DeveloperWorkbenchState state)
    {
        const auto call = engine.record({QStringLiteral("save")});
        co_await call->wait();
        writeWorkbenchFile(state.normalized().encode());
    }

    ~ScriptedPane()
    {
        engine.answerAll();
        view.reset();
        engine.answerUntilQuiet();
    }
};

} // namespace

// The Developer pane's folders, busy flags and the order of reading and saving.
class TestDeveloperPane : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { MainBundle::setPathOverride(VarnoTest::stagedBundlePath()); }
    void init() { removeWorkbenchFile(); }

    void addingAndRemovingFolders()
    {
        ScriptedPane pane(R"({"workbenchEnabled":true,"npmEnabled":true,"projectFolders":["/c"]})");
        pane.view->show();
        QVERIFY(!pane.view->needsFolderWarning());
        pane.nextChoice = std::nullopt; // cancelled
        child<QPushButton>(pane.view.get(), QStringLiteral("developer-add-folder"))->click();
        QCOMPARE(pane.dialogs, 1);
        QCOMPARE(pane.view->state().projectFolders, QStringList({"/c"}));

        pane.nextChoice = QStringList({"/b", "/A", "/c"});
        child<QPushButton>(pane.view.get(), QStringLiteral("developer-add-folder"))->click();
        QCOMPARE(pane.view->state().projectFolders, QStringList({"/A", "/b", "/c"}));
        QList<QToolButton *> removes;
        for (QToolButton *remove : pane.view->findChildren<QToolButton *>(QStringLiteral("developer-remove-folder"))) {
            if (remove->isVisibleTo(pane.view.get()))
                removes.append(remove);
        }
        QCOMPARE(removes.size(), 3);
        QCOMPARE(removes.first()->accessibleName(), QStringLiteral("Remove project folder"));

        for (const QString &path : {QStringLiteral("/A"), QStringLiteral("/b"), QStringLiteral("/c")})
            pane.view->removeProjectFolder(path);
        QVERIFY(pane.view->state().projectFolders.isEmpty());
        QVERIFY(visibleTexts(pane.view.get()).contains(QStringLiteral("No project folders selected yet.")));
        QVERIFY(pane.view->needsFolderWarning());
        QVERIFY(child<QWidget>(pane.view.get(), QStringLiteral("developer-folder-warning"))->isVisibleTo(pane.view.get()));
    }

    void longPathsAreElidedInTheMiddle()
    {
        const QString path = QStringLiteral("/Users/someone/Projects/") + QString(80, QLatin1Char('x'))
            + QStringLiteral("/end");
        MiddleElidedLabel label(path);
        label.resize(160, 20);
        const QString shown = label.shownText();
        QVERIFY(shown.startsWith(QStringLiteral("/Users")));
        QVERIFY(shown.endsWith(QStringLiteral("/end")));
        QVERIFY(shown.contains(QChar(0x2026)));
        QCOMPARE(label.fullText(), path);
    }

    void runsHaveTheirOwnBusyFlags()
    {
        ScriptedPane pane(R"({"workbenchEnabled":true})");
        pane.view->show();
        auto *inspect = child<QPushButton>(pane.view.get(), QStringLiteral("developer-run-inspection"));
        auto *plan = child<QPushButton>(pane.view.get(), QStringLiteral("developer-plan-updates"));
        inspect->click();
        PendingCall::settle();
        QCOMPARE(pane.engine.last()->arguments, QStringList({"inspect"}));
        QVERIFY(!inspect->isEnabled());
        QVERIFY(plan->isEnabled());
        plan->click();
        PendingCall::settle();
        QCOMPARE(pane.engine.openCount(), 2);
        pane.engine.calls.front()->succeedWith(QStringLiteral("Inspected npm; \"nothing\" <b>applied</b>."));
        QCOMPARE(pane.view->inspectionSummary(), QStringLiteral("Inspected npm; \"nothing\" <b>applied</b>."));
        QCOMPARE(child<QLabel>(pane.view.get(), QStringLiteral("developer-inspection-summary"))->textFormat(),
                 Qt::PlainText);
        QVERIFY(inspect->isEnabled());
        QVERIFY(!plan->isEnabled());
        pane.engine.last()->succeedWith(QStringLiteral("Planned."));
        QVERIFY(plan->isEnabled());
    }

    // The pane shown again while an edit is on its way keeps showing the
    // edit, and reads the file only once the edit has landed.
    void appearingWhileSavingWaitsForTheSave()
    {
        ScriptedPane pane(R"({"workbenchEnabled":true})");
        pane.view->show();
        PendingCall::settle();
        sourceSwitch(pane.view.get(), DeveloperSource::npm)->click();
        PendingCall::settle();
        QCOMPARE(pane.engine.last()->arguments, QStringList({"save"}));

        pane.view->hide();
        pane.view->show(); // appears again: the file still says npm is off
        PendingCall::settle();
        QVERIFY(pane.view->state().npmEnabled);
        QVERIFY(!pane.view->isSettled());

        pane.engine.last()->succeed();
        QVERIFY(VarnoTest::waitUntil([&] { return pane.view->isSettled(); }));
        QVERIFY(pane.view->state().npmEnabled);
        QVERIFY(fileState().npmEnabled);
        QCOMPARE(pane.engine.calls.size(), size_t(1));
    }

    // A second pane made while the first one's save runs (as a Settings
    // window opened again) takes no edit until it has read the file, and
    // reads it only once that save has landed.
    void aNewPaneWaitsForTheSavesOfAnEarlierOne()
    {
        ScriptedPane pane(R"({"workbenchEnabled":true})");
        pane.view->show();
        PendingCall::settle();
        sourceSwitch(pane.view.get(), DeveloperSource::npm)->click();
        PendingCall::settle();
        QCOMPARE(pane.engine.last()->arguments, QStringList({"save"}));

        DeveloperWorkbenchSettingsView second(&pane.model, pane.operations);
        second.resize(640, 900);
        second.show();
        PendingCall::settle();
        QVERIFY(!second.hasRead());
        QAbstractButton *python = sourceSwitch(&second, DeveloperSource::python);
        QVERIFY(!python->isEnabled());
        python->click();
        QVERIFY(!second.state().pythonEnabled);

        pane.engine.last()->succeed();
        QVERIFY(VarnoTest::waitUntil([&] { return second.hasRead() && second.isSettled(); }));
        QVERIFY(second.state().npmEnabled);
        QVERIFY(python->isEnabled());
        QCOMPARE(pane.engine.calls.size(), size_t(1));
    }

    // A failed save falls back to the file only after the newer edit that
    // was waiting behind it has been written.
    void failureFallsBackAfterTheNewerEdit()
    {
        ScriptedPane pane(R"({"workbenchEnabled":true})");
        pane.view->show();
        PendingCall::settle();
        sourceSwitch(pane.view.get(), DeveloperSource::npm)->click();
        PendingCall::settle();
        QCOMPARE(pane.engine.openCount(), 1);
        sourceSwitch(pane.view.get(), DeveloperSource::python)->click(); // waits behind the first save

        pane.engine.last()->fail(QStringLiteral("read-only"));
        QVERIFY(pane.model.error().value_or(QString()).startsWith(
            QStringLiteral("Couldn't save Developer Workbench settings: ")));
        // The newer edit is still shown while it is written.
        QVERIFY(pane.view->state().pythonEnabled);
        QVERIFY(VarnoTest::waitUntil([&] { return pane.engine.openCount() == 1; }));
        QVERIFY(pane.view->state().pythonEnabled);
        pane.engine.last()->succeed();
        QVERIFY(VarnoTest::waitUntil([&] { return pane.view->isSettled() && !pane.view->saver()->isDraining(); }));
        QVERIFY(pane.view->state().pythonEnabled);
        QVERIFY(pane.view->state().npmEnabled);
        QCOMPARE(fileState(), pane.view->state().normalized());
    }

    void paneGoneDuringARunStillReportsTheFailure()
    {
        auto pane = std::make_unique<ScriptedPane>(R"({"workbenchEnabled":true})");
        pane->view->show();
        child<QPushButton>(pane->view.get(), QStringLiteral("developer-run-inspection"))->click();
        PendingCall::settle();
        const auto call = pane->engine.last();
        pane->view.reset();
        call->fail(QStringLiteral("engine went away"));
        QVERIFY(pane->model.error().value_or(QString()).startsWith(QStringLiteral("Developer inspection failed: ")));
    }
};

VARNO_TEST_CLASS(TestDeveloperPaneEngine)
VARNO_TEST_CLASS(TestDeveloperPane)

#include "tst_developer.moc"
