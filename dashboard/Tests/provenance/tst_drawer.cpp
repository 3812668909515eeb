#include "TestRegistry.h"
#include "TestSupport.h"

#include "AppearanceTestSupport.h"
#include "ModelFixture.h"

#include "engine/ExperimentRecorder.h"
#include "kit/ButtonStyles.h"
#include "model/AppTrustPresenter.h"
#include "platform/MainBundle.h"
#include "provenance/ProvenanceDrawerView.h"
#include "provenance/RestoreSheet.h"
#include "records/VendorUpdaters.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>

using namespace std::chrono_literals;

namespace {

QByteArray journal()
{
    return VarnoTest::runEngine({QStringLiteral("sim"), QStringLiteral("journal")}).standardOutput;
}

// The journal's argument vector of one engine run of the app.
QByteArray call(std::initializer_list<const char *> words)
{
    QByteArray text = "[\"--engine-contract-version\", \"1\"";
    for (const char *word : words)
        text += ", \"" + QByteArray(word) + "\"";
    return text + "]";
}

// Counts the experiment events whose engine run has ended.
struct EventLog {
    QStringList events;
    EventLog()
    {
        ExperimentRecorder::setFinishedHookForTesting([this](const QString &event) { events.append(event); });
    }
    ~EventLog() { ExperimentRecorder::setFinishedHookForTesting({}); }
};

// The parent process id of a process, from /proc/<pid>/stat (0 when unknown).
qint64 parentOf(const QString &pid)
{
    QFile file(QStringLiteral("/proc/") + pid + QStringLiteral("/stat"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = file.readAll();
    // "pid (name) state ppid ...": the name may hold blanks, so read after the last ")".
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() : 0;
}

// Whether an engine child of this test whose arguments hold all these words still runs.
bool engineRunning(const QList<QByteArray> &words)
{
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        if (parentOf(pid) != QCoreApplication::applicationPid())
            continue;
        QFile file(QStringLiteral("/proc/") + pid + QStringLiteral("/cmdline"));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> arguments = file.readAll().split('\0');
        if (!arguments.contains("--engine-contract-version"))
            continue;
        bool all = true;
        for (const QByteArray &word : words)
            all = all && arguments.contains(word);
        if (all)
            return true;
    }
    return false;
}

QPushButton *buttonNamed(QMessageBox *box, const QString &text)
{
    for (QAbstractButton *button : box->buttons()) {
        if (button->text() == text)
            return qobject_cast<QPushButton *>(button);
    }
    return nullptr;
}

// Whether the engine was asked for a command that begins with these words.
bool engineRan(const QStringList &words)
{
    const QList<QStringList> commands = VarnoTest::engineCommands();
    return std::any_of(commands.cbegin(), commands.cend(),
                       [&](const QStringList &command) { return command.mid(0, words.size()) == words; });
}

} // namespace

// The drawer against the real model and the engine stand-in: what it asks
// the engine, what it shows, and that nothing stale is ever written.
class TestProvenanceDrawer : public QObject {
    Q_OBJECT

    std::unique_ptr<ModelFixture> f;
    std::unique_ptr<AppearanceTest::ReduceMotionScope> m_noMotion;
    std::unique_ptr<EventLog> m_events;
    int m_dismissed = 0;

    AppRecord app(const char *id) const { return *f->app(QString::fromLatin1(id)); }

    std::unique_ptr<ProvenanceDrawerView> open(const char *id)
    {
        auto drawer = std::make_unique<ProvenanceDrawerView>(f->model.get(), app(id), [this] { ++m_dismissed; });
        drawer->resize(900, 700);
        drawer->show();
        return drawer;
    }

    static bool loaded(const ProvenanceDrawerView &drawer) { return !drawer.loadState().isLoading; }

private Q_SLOTS:
    void initTestCase() { MainBundle::setPathOverride(VarnoTest::stagedBundlePath()); }

    void init()
    {
        f = std::make_unique<ModelFixture>();
        QVERIFY(f->ready);
        QVERIFY(f->scanDirectly());
        VarnoTest::await(f->model->load());
        QVERIFY(f->app(QStringLiteral("org.sim.inkwell")));
        // The seals the load asks for in the background end before the journal is cleared.
        QVERIFY(VarnoTest::waitUntil([this] { return !f->model->isEnrichingSeals(); }));
        QVERIFY(VarnoTest::runEngine({QStringLiteral("sim"), QStringLiteral("journal"), QStringLiteral("--clear")}).exitCode
                == 0);
        m_noMotion = std::make_unique<AppearanceTest::ReduceMotionScope>(true);
        m_events = std::make_unique<EventLog>();
        m_dismissed = 0;
    }

    void cleanup()
    {
        m_events.reset();
        m_noMotion.reset();
        f.reset();
    }

    void loadsHistoryBackupAndSeal()
    {
        auto drawer = open("org.sim.inkwell");
        // The first frame: the skeleton, labelled for assistive technology.
        QVERIFY(drawer->loadState().isLoading);
        QVERIFY(drawer->findChild<QWidget *>(QStringLiteral("skeleton-row-2")));
        QCOMPARE(drawer->findChild<QWidget *>(QStringLiteral("version-history"))->accessibleName(),
                 QStringLiteral("Loading version history"));
        QVERIFY(!drawer->restoreButton()->isVisibleTo(drawer.get()));

        QVERIFY(VarnoTest::waitUntil([&] { return loaded(*drawer); }));
        QCOMPARE(drawer->loadState().provenance.size(), 2);
        QVERIFY(drawer->loadState().backup && drawer->loadState().backup->available);
        QVERIFY(drawer->restoreButton()->isVisibleTo(drawer.get()));
        // Rows in the engine's order, each with the community count.
        const QStringList texts = drawer->visibleTexts();
        QVERIFY(texts.indexOf(QStringLiteral("3.2.1")) >= 0);
        QVERIFY(texts.indexOf(QStringLiteral("3.2.1")) < texts.indexOf(QStringLiteral("3.1.0")));
        QCOMPARE(texts.count(QStringLiteral("4x")), 2);
        QVERIFY(texts.contains(QStringLiteral("verified by 4 endpoints")));
        QVERIFY(texts.contains(QStringLiteral("TRUST")));
        QVERIFY(texts.contains(QStringLiteral("← back to the shelf")));

        const QByteArray runs = journal();
        QVERIFY(runs.contains(call({"provenance", "--json", "--bundle-id", "org.sim.inkwell"})));
        QVERIFY(runs.contains(call({"backup", "--bundle-id", "org.sim.inkwell", "--json"})));
        QVERIFY(runs.contains(call({"seal", "--bundle-id", "org.sim.inkwell", "--json"})));
        QVERIFY(VarnoTest::waitUntil([&] { return m_events->events.contains(QStringLiteral("restore_available")); }));
        QVERIFY(journal().contains(call({"experiment", "record", "--event", "restore_available"})));
    }

    // The panel's body is padded 20 on every edge: the first caption, with
    // its own 18 above it, starts 38 below the body's top, 20 in from the
    // left.
    void bodyPadding()
    {
        auto drawer = open("org.sim.inkwell");
        QVERIFY(VarnoTest::waitUntil([&] { return loaded(*drawer); }));
        auto *scroll = drawer->findChild<QScrollArea *>();
        QVERIFY(scroll && scroll->widget());
        QWidget *content = scroll->widget();
        content->layout()->activate();
        auto *caption = drawer->findChild<QLabel *>(QStringLiteral("section-Trust"));
        QVERIFY(caption);
        QCOMPARE(caption->text(), QStringLiteral("TRUST"));
        const QPoint corner = caption->mapTo(content, QPoint(0, 0));
        QCOMPARE(corner, QPoint(20, 38));
        QCOMPARE(content->layout()->contentsMargins(), QMargins(20, 20, 20, 20));
    }

    void noBackupMeansNoRestore()
    {
        auto drawer = open("org.sim.tallybook");
        QVERIFY(VarnoTest::waitUntil([&] { return loaded(*drawer); }));
        QVERIFY(drawer->loadState().backup);
        QVERIFY(!drawer->loadState().backup->available);
        QVERIFY(!drawer->restoreButton()->isVisibleTo(drawer.get()));
        QVERIFY(drawer->closeButton()->isVisibleTo(drawer.get()));
        QVERIFY(drawer->visibleTexts().contains(QStringLiteral("No history yet.")));
        QVERIFY(!m_events->events.contains(QStringLiteral("restore_available")));
        QVERIFY(!journal().contains("restore_available"));
    }

    // A failed history load stops the run; "Try again" asks for the history only.
    void historyFailureAndTryAgain()
    {
        QVERIFY(f->setKnobs(R"({"rules":[{"command":"provenance","exit":1,"stderr":"Database locked.","times":1}]})"));
        auto drawer = open("org.sim.inkwell");
        QVERIFY(VarnoTest::waitUntil([&] { return loaded(*drawer); }));
        QVERIFY(drawer->loadState().loadError);
        QVERIFY(drawer->loadState().loadError->contains(QStringLiteral("Database locked.")));
        QVERIFY(drawer->loadState().provenance.isEmpty());
        QVERIFY(!drawer->loadState().backup);
        QVERIFY(drawer->visibleTexts().contains(QStringLiteral("Couldn’t load provenance.")));
        QVERIFY(!drawer->restoreButton()->isVisibleTo(drawer.get()));
        QVERIFY(!journal().contains("\"backup\""));
        QVERIFY(!journal().contains("\"seal\""));

        QVERIFY(drawer->tryAgainButton());
        QTest::mouseClick(drawer->tryAgainButton(), Qt::LeftButton);
        QVERIFY(drawer->loadState().isLoading);
        QVERIFY(VarnoTest::waitUntil([&] { return loaded(*drawer); }));
        QVERIFY(!drawer->loadState().loadError);
        QCOMPARE(drawer->loadState().provenance.size(), 2);
        const QByteArray runs = journal();
        QCOMPARE(runs.count("\"provenance\""), 2);
        QVERIFY(!runs.contains("\"backup\""));
        QVERIFY(!runs.contains("\"seal\""));
    }

    // A failed backup check forgets an earlier answer; a failed seal is silent.
    void backupAndSealFailures()
    {
        auto drawer = open("org.sim.inkwell");
        QVERIFY(VarnoTest::waitUntil([&] { return loaded(*drawer); }));
        QVERIFY(drawer->loadState().backup);
        QVERIFY(f->setKnobs(R"({"rules":[{"command":"backup","exit":1},{"command":"seal","exit":1}]})"));
        VarnoTest::await(drawer->loadDrawer());
        QVERIFY(!drawer->loadState().backup);
        QVERIFY(!drawer->loadState().isLoading);
        QVERIFY(!drawer->loadState().loadError);
        QVERIFY(!drawer->restoreButton()->isVisibleTo(drawer.get()));
        QVERIFY(!f->model->error());
    }

    // Switching to another app cancels the first load; its late answer is dropped.
    void switchingAppsMidLoad()
    {
        QVERIFY(
            f->setKnobs(R"({"rules":[{"command":["provenance","--json","--bundle-id","org.sim.inkwell"],"delay":5}]})"));
        auto drawer = open("org.sim.inkwell");
        QTest::qWait(300); // the first child is running
        drawer->setApp(app("org.sim.tallybook"));
        QCOMPARE(drawer->app().bundle_id, QStringLiteral("org.sim.tallybook"));
        QVERIFY(VarnoTest::waitUntil([&] { return loaded(*drawer); }));
        QVERIFY(drawer->loadState().provenance.isEmpty());
        // The cancelled child ended well before its delay.
        QVERIFY(VarnoTest::waitUntil([] { return !engineRunning({"provenance", "org.sim.inkwell"}); }, 4s));
        QTest::qWait(100);
        QVERIFY(drawer->loadState().provenance.isEmpty());
        QCOMPARE(drawer->app().bundle_id, QStringLiteral("org.sim.tallybook"));
        QVERIFY(!journal().contains(call({"seal", "--bundle-id", "org.sim.inkwell", "--json"})));
    }

    // Closing mid-call ends the child; nothing is written anywhere.
    void closingMidCall()
    {
        QVERIFY(f->setKnobs(R"({"rules":[{"command":"seal","delay":5}]})"));
        auto drawer = open("org.sim.inkwell");
        QVERIFY(VarnoTest::waitUntil([] { return engineRunning({"seal", "org.sim.inkwell"}); }));
        const AppRecord before = app("org.sim.inkwell");
        drawer.reset();
        QVERIFY(VarnoTest::waitUntil([] { return !engineRunning({"seal", "org.sim.inkwell"}); }, 4s));
        QTest::qWait(100);
        QCOMPARE(app("org.sim.inkwell"), before);
        QCOMPARE(m_dismissed, 0);
    }

    // A pick changes the mode through the model; the picker shows the new
    // mode from the reloaded record and does not snap back.
    void policyChange()
    {
        auto drawer = open("org.sim.inkwell");
        QVERIFY(VarnoTest::waitUntil([&] { return loaded(*drawer); }));
        QComboBox *picker = drawer->modePicker();
        QCOMPARE(picker->currentData().toString(), QStringLiteral("auto"));
        QCOMPARE(picker->accessibleName(), QStringLiteral("Update Mode"));
        QStringList labels;
        for (int i = 0; i < picker->count(); ++i)
            labels.append(picker->itemText(i));
        QCOMPARE(labels, (QStringList{"Automatic", "Ask first", "Notify only", "Ignore", "Use app’s updater"}));

        const int notify = picker->findData(QStringLiteral("notify"));
        picker->setCurrentIndex(notify);
        Q_EMIT picker->activated(notify);
        QVERIFY(VarnoTest::waitUntil([&] { return app("org.sim.inkwell").update_mode == QStringLiteral("notify"); }));
        QCOMPARE(picker->currentData().toString(), QStringLiteral("notify"));
        QVERIFY(drawer->visibleTexts().contains(QStringLiteral("Notify only")));
        QVERIFY(journal().contains(call({"mode", "org.sim.inkwell", "notify"})));
        // Refreshing by itself never calls the engine.
        const int modeRuns = journal().count("\"mode\"");
        Q_EMIT f->model->appsChanged();
        QCOMPARE(journal().count("\"mode\""), modeRuns);
    }

    // A mode change that the engine refuses, or answers without storing,
    // leaves the record as it was: the picker shows the record's mode again
    // (as the drawer's mode row and the card do), not the refused one.
    void refusedModeChangeShowsTheRecordsMode_data()
    {
        QTest::addColumn<QByteArray>("knobs");
        QTest::addColumn<bool>("reportsError");
        QTest::newRow("refused") << QByteArray(R"({"rules":[{"command":"mode","exit":1,"stderr":"Mode is locked."}]})")
                                 << true;
        QTest::newRow("kept the old mode") << QByteArray(R"({"rules":[{"command":"mode","exit":0}]})") << false;
    }

    void refusedModeChangeShowsTheRecordsMode()
    {
        QFETCH(QByteArray, knobs);
        QFETCH(bool, reportsError);
        auto drawer = open("org.sim.inkwell");
        QVERIFY(VarnoTest::waitUntil([&] { return loaded(*drawer); }));
        QVERIFY(f->setKnobs(knobs));
        QComboBox *picker = drawer->modePicker();
        QCOMPARE(picker->currentData().toString(), QStringLiteral("auto"));

        QSignalSpy refreshed(drawer.get(), &ProvenanceDrawerView::refreshed);
        const int notify = picker->findData(QStringLiteral("notify"));
        picker->setCurrentIndex(notify);
        Q_EMIT picker->activated(notify);
        QVERIFY(VarnoTest::waitUntil([&] { return journal().contains(call({"mode", "org.sim.inkwell", "notify"})); }));
        QVERIFY(VarnoTest::waitUntil([&] { return picker->currentData().toString() == QStringLiteral("auto"); }));
        QCOMPARE(app("org.sim.inkwell").update_mode.value_or(QStringLiteral("auto")), QStringLiteral("auto"));
        QCOMPARE(drawer->app().update_mode.value_or(QStringLiteral("auto")), QStringLiteral("auto"));
        QVERIFY(refreshed.count() > 0);
        QCOMPARE(f->model->error().has_value(), reportsError);
        if (reportsError)
            QVERIFY(f->model->error()->startsWith(QStringLiteral("Couldn’t set update mode: ")));
    }

    // The banner of a failed app, its gated buttons and the confirmation.
    void failureBannerAndUninstall()
    {
        QString failed;
        for (const AppRecord &record : f->model->apps()) {
            const auto incident = f->model->incidents().value(record.bundle_id);
            const AppTrustPresentation trust = AppTrustPresenter::make(record, f->model->updateState(record.bundle_id),
                                                                       f->model->incidents().contains(record.bundle_id)
                                                                           ? std::optional(incident)
                                                                           : std::nullopt,
                                                                       VendorUpdaters::shared());
            if (trust.state == AppTrustState::failed && ProvenanceRules::canUninstall(record, false)) {
                failed = record.bundle_id;
                break;
            }
        }
        QVERIFY2(!failed.isEmpty(), "the demo library has a failed app");
        auto drawer = std::make_unique<ProvenanceDrawerView>(f->model.get(), *f->app(failed), [] {});
        drawer->resize(900, 700);
        drawer->show();
        QVERIFY(VarnoTest::waitUntil([&] { return loaded(*drawer); }));
        QVERIFY(drawer->failureBanner()->isVisibleTo(drawer.get()));
        QVERIFY(drawer->visibleTexts().contains(QStringLiteral("Update failed")));
        QVERIFY(drawer->uninstallButton()->isEnabled());
        QCOMPARE(drawer->uninstallButton()->text(), QStringLiteral("Uninstall…"));

        // Cancel drops the action.
        QTest::mouseClick(drawer->uninstallButton(), Qt::LeftButton);
        QMessageBox *box = drawer->confirmationDialog();
        QVERIFY(box);
        QCOMPARE(box->text(), QStringLiteral("Uninstall ") + f->app(failed)->app_name + QStringLiteral("?"));
        QCOMPARE(box->windowModality(), Qt::WindowModal);
        QTest::mouseClick(buttonNamed(box, QStringLiteral("Cancel")), Qt::LeftButton);
        QVERIFY(!drawer->actionToConfirm());
        QVERIFY(!journal().contains("\"remove\""));

        // Confirming closes the dialog at once; the drawer stays open.
        QTest::mouseClick(drawer->uninstallButton(), Qt::LeftButton);
        box = drawer->confirmationDialog();
        QVERIFY(box);
        QTest::mouseClick(buttonNamed(box, QStringLiteral("Uninstall")), Qt::LeftButton);
        QVERIFY(!drawer->actionToConfirm());
        QVERIFY(drawer->isVisible());
        QVERIFY(VarnoTest::waitUntil([&] { return !f->app(failed); }));
        const QByteArray line = call({"remove", "--bundle-id", failed.toUtf8().constData(), "--yes"});
        QVERIFY(journal().contains(line));
        // The app left the library: the drawer keeps showing its copy.
        QCOMPARE(drawer->app().bundle_id, failed);
        QCOMPARE(m_dismissed, 0);
    }

    // While the library scans, the lifecycle actions and restore are gated;
    // a confirmation that became stale starts nothing.
    void busyGatesLifecycleActions()
    {
        auto drawer = open("org.sim.inkwell");
        QVERIFY(VarnoTest::waitUntil([&] { return loaded(*drawer); }));
        QVERIFY(drawer->restoreButton()->isEnabled());
        drawer->setActionToConfirm(ProvenanceRules::AppLifecycleAction::reinstall);
        QVERIFY(drawer->confirmationDialog());
        QCOMPARE(drawer->confirmationDialog()->informativeText(),
                 QStringLiteral("This will run `brew reinstall --cask inkwell` and may overwrite app settings."));

        QVERIFY(f->setKnobs(R"({"rules":[{"command":"scan","delay":1.0}]})"));
        auto scanning = f->model->scan();
        QVERIFY(f->model->isScanning());
        QVERIFY(!drawer->restoreButton()->isEnabled());
        QVERIFY(!drawer->reinstallButton()->isEnabled());
        QVERIFY(!drawer->uninstallButton()->isEnabled());
        // Confirmed while the scan runs: nothing starts, and the model says why.
        QTest::mouseClick(buttonNamed(drawer->confirmationDialog(), QStringLiteral("Re-install")), Qt::LeftButton);
        QVERIFY(!drawer->confirmationDialog() || !drawer->confirmationDialog()->isVisible());
        QCOMPARE(f->model->error().value_or(QString()),
                 QStringLiteral("Brusk can't re-install Inkwell right now — a scan, update, or other change is already "
                                "running. Give it a moment and try again."));
        VarnoTest::await(std::move(scanning));
        QVERIFY(!journal().contains("\"reinstall\""));
        QVERIFY(drawer->restoreButton()->isEnabled());
        QVERIFY(drawer->reinstallButton()->isEnabled());

        // The record changed while the dialog was open: no longer a cask.
        drawer->setActionToConfirm(ProvenanceRules::AppLifecycleAction::reinstall);
        QList<AppRecord> apps = f->model->apps();
        for (AppRecord &record : apps) {
            if (record.bundle_id == QStringLiteral("org.sim.inkwell"))
                record.update_mechanism = QStringLiteral("sparkle");
        }
        f->model->setApps(apps);
        QTest::mouseClick(buttonNamed(drawer->confirmationDialog(), QStringLiteral("Re-install")), Qt::LeftButton);
        QCOMPARE(f->model->error().value_or(QString()),
                 QStringLiteral("Brusk can't re-install Inkwell — VARNO no longer sees it as a Homebrew cask."));
        QVERIFY(!journal().contains("\"reinstall\""));
    }

    // Confirming the banner's Re-install re-installs the app through the
    // engine, and removes nothing.
    void confirmingReinstallReinstalls()
    {
        auto drawer = open("org.sim.netherby");
        QVERIFY(VarnoTest::waitUntil([&] { return loaded(*drawer); }));
        QVERIFY(drawer->failureBanner()->isVisibleTo(drawer.get()));
        QVERIFY(drawer->reinstallButton()->isVisibleTo(drawer.get()) && drawer->reinstallButton()->isEnabled());
        QTest::mouseClick(drawer->reinstallButton(), Qt::LeftButton);
        QMessageBox *box = drawer->confirmationDialog();
        QVERIFY(box);
        QPushButton *confirm = nullptr;
        for (QAbstractButton *button : box->buttons()) {
            if (box->buttonRole(button) == QMessageBox::AcceptRole)
                confirm = qobject_cast<QPushButton *>(button);
        }
        QVERIFY(confirm);
        QTest::mouseClick(confirm, Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([] { return engineRan({"reinstall", "--bundle-id", "org.sim.netherby"}); }));
        QVERIFY(VarnoTest::waitUntil([this] { return !f->model->isBusyFor(QStringLiteral("org.sim.netherby")); }));
        QVERIFY(!engineRan({"remove"}));
        QVERIFY(f->app(QStringLiteral("org.sim.netherby")));
    }

    // The footer's button runs what it says: the app's own update, or the
    // app's own updater.
    void footerButtonRunsWhatItSays_data()
    {
        QTest::addColumn<QString>("bundleId");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QStringList>("notRun");
        QTest::newRow("Update") << QStringLiteral("org.sim.kettle") << QStringLiteral("Update")
                                << QStringList{"update", "--only", "org.sim.kettle"} << QStringList{"trigger-update"};
        QTest::newRow("Check for Update in App")
            << QStringLiteral("org.sim.ferrous") << QStringLiteral("Check for Update in App")
            << QStringList{"trigger-update", "org.sim.ferrous"} << QStringList{"update"};
    }

    void footerButtonRunsWhatItSays()
    {
        QFETCH(QString, bundleId);
        QFETCH(QString, text);
        QFETCH(QStringList, command);
        QFETCH(QStringList, notRun);
        auto drawer = std::make_unique<ProvenanceDrawerView>(f->model.get(), *f->app(bundleId), [] {});
        drawer->resize(900, 700);
        drawer->show();
        QVERIFY(VarnoTest::waitUntil([&] { return loaded(*drawer); }));
        StyledButton *button = drawer->updateButton();
        QVERIFY(button->isVisibleTo(drawer.get()) && button->isEnabled());
        QCOMPARE(button->text(), text);
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([&] { return engineRan(command); }));
        QVERIFY(VarnoTest::waitUntil([&] { return f->model->updateState(bundleId).isFinal(); }));
        QVERIFY(!engineRan(notRun));
    }

    void backdropAndCloseDismiss()
    {
        auto drawer = open("org.sim.inkwell");
        QCOMPARE(drawer->panel()->width(), 380);
        QTest::mouseClick(drawer->backdrop(), Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(m_dismissed, 1);
        QTest::mouseClick(drawer->closeButton(), Qt::LeftButton);
        QCOMPARE(m_dismissed, 2);
    }

    // The restore sheet asks again, restores, reloads the library and reports.
    void restoreSucceeds()
    {
        auto drawer = open("org.sim.inkwell");
        QVERIFY(VarnoTest::waitUntil([&] { return loaded(*drawer); }));
        QTest::mouseClick(drawer->restoreButton(), Qt::LeftButton);
        RestoreSheet *sheet = drawer->restoreSheet();
        QVERIFY(sheet);
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        QCOMPARE(sheet->width(), 420);
        QVERIFY(sheet->stateTexts().contains(QStringLiteral("Checking backups…")));
        QVERIFY(!sheet->primaryButton()->isVisibleTo(sheet));
        QVERIFY(VarnoTest::waitUntil([&] { return !sheet->state().isLoading; }));
        QVERIFY(sheet->state().backup);
        QCOMPARE(sheet->state().backup->timestamp.value_or(QString()), QStringLiteral("20261120-084107"));
        QVERIFY(sheet->stateTexts().contains(ProvenanceRules::backupDateLine(*sheet->state().backup)));
        QVERIFY(sheet->stateTexts().contains(QStringLiteral("Size: 48 MB")));
        QCOMPARE(sheet->primaryButton()->text(), QStringLiteral("Restore"));
        QCOMPARE(journal().count(call({"backup", "--bundle-id", "org.sim.inkwell", "--json"})), 2);

        QTest::mouseClick(sheet->primaryButton(), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([&] { return !sheet->state().isRestoring; }));
        QVERIFY(sheet->state().restored);
        QVERIFY(sheet->stateTexts().contains(QStringLiteral("Restored successfully")));
        QCOMPARE(sheet->primaryButton()->text(), QStringLiteral("Done"));
        QVERIFY(journal().contains(call({"restore", "--bundle-id", "org.sim.inkwell"})));
        QCOMPARE(app("org.sim.inkwell").current_version.value_or(QString()), QStringLiteral("3.1.0"));
        QVERIFY(VarnoTest::waitUntil([&] { return m_events->events.contains(QStringLiteral("restore_used")); }));
        QTest::mouseClick(sheet->primaryButton(), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([&] { return !drawer->restoreSheet(); }));
    }

    // A failed restore is final: the sheet left open shows it in place, and
    // the app's entry says the same.
    void restoreFails()
    {
        QVERIFY(f->setKnobs(R"({"rules":[{"command":"restore","delay":0.5,"exit":1,"stderr":"The app is running."}]})"));
        auto drawer = open("org.sim.inkwell");
        QVERIFY(VarnoTest::waitUntil([&] { return loaded(*drawer); }));
        drawer->showRestoreSheet();
        RestoreSheet *sheet = drawer->restoreSheet();
        QVERIFY(VarnoTest::waitUntil([&] { return !sheet->state().isLoading; }));
        QTest::mouseClick(sheet->primaryButton(), Qt::LeftButton);
        QVERIFY(sheet->state().isRestoring);
        QCOMPARE(sheet->primaryButton()->text(), QStringLiteral("Restoring…"));
        QVERIFY(!sheet->primaryButton()->isEnabled());
        QVERIFY(VarnoTest::waitUntil([&] { return !sheet->state().isRestoring; }));
        QVERIFY(!sheet->state().restored);
        QVERIFY(sheet->stateTexts().contains(QStringLiteral("Can’t restore right now")));
        QVERIFY(sheet->stateTexts().join(QLatin1Char('\n')).contains(QStringLiteral("The app is running.")));
        QVERIFY(!sheet->primaryButton()->isVisibleTo(sheet));
        QVERIFY(sheet->cancelButton()->isEnabled());
        QCOMPARE(f->model->updateState(QStringLiteral("org.sim.inkwell")).kind(), UpdateState::Kind::failed);
        QVERIFY(!f->model->error()); // shown here, not twice
        QCOMPARE(app("org.sim.inkwell").current_version.value_or(QString()), QStringLiteral("3.2.1"));
        QTest::mouseClick(sheet->cancelButton(), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([&] { return !drawer->restoreSheet(); }));
    }

    // "Cancel" and Esc close the sheet while a restore runs; the restore goes
    // on in the model, whose entry for the app shows it running and then
    // done, or failed with the reason, which also becomes the model's error.
    void closingDuringARestore_data()
    {
        QTest::addColumn<QByteArray>("knobs");
        QTest::addColumn<bool>("escape");
        QTest::addColumn<bool>("succeeds");
        QTest::newRow("fails, closed with Cancel")
            << QByteArray(R"({"rules":[{"command":"restore","delay":1,"exit":1,"stderr":"The app is running."}]})")
            << false << false;
        QTest::newRow("restores, closed with Esc")
            << QByteArray(R"({"rules":[{"command":"restore","delay":1}]})") << true << true;
    }

    void closingDuringARestore()
    {
        QFETCH(QByteArray, knobs);
        QFETCH(bool, escape);
        QFETCH(bool, succeeds);
        QVERIFY(f->setKnobs(knobs));
        auto drawer = open("org.sim.inkwell");
        QVERIFY(VarnoTest::waitUntil([&] { return loaded(*drawer); }));
        QTest::mouseClick(drawer->restoreButton(), Qt::LeftButton);
        QPointer<RestoreSheet> sheet = drawer->restoreSheet();
        QVERIFY(sheet);
        QVERIFY(VarnoTest::waitUntil([&] { return !sheet->state().isLoading; }));
        QTest::mouseClick(sheet->primaryButton(), Qt::LeftButton);
        QVERIFY(sheet->state().isRestoring);
        const QString bid = QStringLiteral("org.sim.inkwell");
        QCOMPARE(f->model->updateState(bid), UpdateState::running(QStringLiteral("Restoring…")));
        QVERIFY(sheet->cancelButton()->isEnabled());
        if (escape)
            QTest::keyClick(sheet, Qt::Key_Escape);
        else
            QTest::mouseClick(sheet->cancelButton(), Qt::LeftButton);
        QVERIFY(!sheet->isVisible());
        // Closed while the restore still runs; no second one can start.
        QCOMPARE(f->model->updateState(bid).kind(), UpdateState::Kind::running);
        QVERIFY(!drawer->restoreButton()->isEnabled());
        QVERIFY(VarnoTest::waitUntil([&] { return !drawer->restoreSheet() && !sheet; }));

        QVERIFY(
            VarnoTest::waitUntil([&] { return f->model->updateState(bid).kind() != UpdateState::Kind::running; }, 60s));
        QVERIFY(journal().contains(call({"restore", "--bundle-id", "org.sim.inkwell"})));
        if (succeeds) {
            QCOMPARE(f->model->updateState(bid), UpdateState::done());
            QVERIFY(
                VarnoTest::waitUntil([&] { return app("org.sim.inkwell").current_version == QStringLiteral("3.1.0"); }));
            QVERIFY(!f->model->error());
        } else {
            const UpdateState state = f->model->updateState(bid);
            QCOMPARE(state.kind(), UpdateState::Kind::failed);
            QVERIFY2(state.text().contains(QStringLiteral("The app is running.")), qPrintable(state.debugText()));
            QCOMPARE(f->model->error().value_or(QString()), QStringLiteral("Couldn’t restore Inkwell: ") + state.text());
            QCOMPARE(app("org.sim.inkwell").current_version.value_or(QString()), QStringLiteral("3.2.1"));
        }
        QVERIFY(drawer->restoreButton()->isEnabled());
    }

    // An expired backup shows at once, while the retention is still being
    // asked; the days are filled in when they arrive, and a sheet closed
    // first ends that question.
    void expiredBackupShowsAtOnce_data()
    {
        QTest::addColumn<double>("retentionDelay");
        QTest::addColumn<bool>("closeFirst");
        QTest::newRow("days arrive") << 3.0 << false;
        QTest::newRow("sheet closes first") << 120.0 << true;
    }

    void expiredBackupShowsAtOnce()
    {
        QFETCH(double, retentionDelay);
        QFETCH(bool, closeFirst);
        auto drawer = open("org.sim.inkwell");
        QVERIFY(VarnoTest::waitUntil([&] { return loaded(*drawer); }));
        QVERIFY(f->setKnobs(QStringLiteral(R"({"rules":[{"command":"backup","backup_reason":"backup expired"},)"
                                           R"({"command":"retention status","delay":%1}]})")
                                .arg(retentionDelay)
                                .toUtf8()));
        drawer->showRestoreSheet();
        QPointer<RestoreSheet> sheet = drawer->restoreSheet();
        QVERIFY(sheet);
        QVERIFY(VarnoTest::waitUntil([] { return engineRunning({"retention", "status"}); }));
        // The retention has not answered yet; the backup's answer shows already.
        QVERIFY(!sheet->state().isLoading);
        QVERIFY(sheet->stateTexts().contains(QStringLiteral("No backup available")));
        QVERIFY(sheet->stateTexts().contains(QStringLiteral("The backup has expired.")));
        QVERIFY(!sheet->primaryButton()->isVisibleTo(sheet));

        if (!closeFirst) {
            QVERIFY(VarnoTest::waitUntil(
                [&] {
                    return sheet->stateTexts().contains(
                        QStringLiteral("The backup has expired. VARNO keeps backups for 30 days."));
                },
                60s));
            return;
        }
        QTest::mouseClick(sheet->cancelButton(), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([&] { return !sheet; }));
        // The child ended with the sheet, long before its delay.
        QVERIFY(VarnoTest::waitUntil([] { return !engineRunning({"retention", "status"}); }, 60s));
    }

    // The sheet's own status check fails: the error card and only "Cancel".
    void restoreStatusFailure()
    {
        auto drawer = open("org.sim.inkwell");
        QVERIFY(VarnoTest::waitUntil([&] { return loaded(*drawer); }));
        QVERIFY(f->setKnobs(R"({"rules":[{"command":"backup","stdout":"not json","exit":0}]})"));
        drawer->showRestoreSheet();
        RestoreSheet *sheet = drawer->restoreSheet();
        QVERIFY(VarnoTest::waitUntil([&] { return !sheet->state().isLoading; }));
        QVERIFY(sheet->state().error);
        QVERIFY(sheet->stateTexts().contains(QStringLiteral("Can’t restore right now")));
        QVERIFY(!sheet->primaryButton()->isVisibleTo(sheet));
    }
};

VARNO_TEST_CLASS(TestProvenanceDrawer)
#include "tst_drawer.moc"
