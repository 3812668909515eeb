#include "TestRegistry.h"

#include "SettingsFixture.h"

#include "settings/SettingsForm.h"
#include "settings/StorageSettingsView.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

using namespace SettingsTest;

namespace {

// The pane over a scripted engine: each call waits for the test's answer.
struct ScriptedStorage {
    ScriptedEngine engine;
    std::unique_ptr<StorageSettingsView> view;

    ScriptedStorage()
    {
        StorageOperations operations;
        operations.status = [this] { return answerWithStatus(engine.record({QStringLiteral("status")})); };
        operations.setPolicy = [this](int keep, int days) {
            return answerWithStatus(engine.record({QStringLiteral("set"), QString::number(keep), QString::number(days)}));
        };
        operations.setConsent = [this](bool grant) {
            return answerWithStatus(engine.record({grant ? QStringLiteral("grant") : QStringLiteral("revoke")}));
        };
        operations.cleanup = [this] { return answerVoid(engine.record({QStringLiteral("cleanup")})); };
        view = std::make_unique<StorageSettingsView>(operations);
        view->resize(640, 700);
    }

    ~ScriptedStorage()
    {
        engine.answerAll();
        QCoreApplication::processEvents();
        view.reset();
        engine.answerUntilQuiet();
    }

    // Shows the pane and answers its first read with `status`.
    void load(const RetentionStatus &status)
    {
        view->show();
        QCOMPARE(engine.last()->arguments, QStringList({"status"}));
        engine.last()->succeed(status);
        QVERIFY(!view->isLoading());
    }

    QSpinBox *keep() const { return child<QSpinBox>(view.get(), QStringLiteral("storage-keep-per-app")); }
    QSpinBox *days() const { return child<QSpinBox>(view.get(), QStringLiteral("storage-retention-days")); }
    QPushButton *button(const char *name) const { return child<QPushButton>(view.get(), QString::fromLatin1(name)); }
    QWidget *policySection() const { return keep()->parentWidget()->parentWidget()->parentWidget(); }
    int callsNamed(const QString &name) const
    {
        int count = 0;
        for (const auto &call : engine.calls)
            count += call->arguments.value(0) == name ? 1 : 0;
        return count;
    }
};

} // namespace

// The Storage pane against a scripted engine: what it shows, when it saves,
// and the order in which answers land.
class TestStoragePane : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void firstFrameIsTheLoadingRow()
    {
        ScriptedStorage pane;
        QVERIFY(pane.view->isLoading());
        pane.view->show();
        const QStringList texts = visibleTexts(pane.view.get());
        QVERIFY(texts.contains(QStringLiteral("Reading storage usage…")));
        QVERIFY(!texts.contains(QStringLiteral("App backups")));
        pane.engine.last()->succeed(statusWith(1, 30));
        QVERIFY(!visibleTexts(pane.view.get()).contains(QStringLiteral("Reading storage usage…")));
    }

    void loadedRecordShows_data()
    {
        QTest::addColumn<qint64>("pending");
        QTest::addColumn<bool>("autoPrune");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QStringList>("hidden");
        QTest::newRow("nothing pending") << qint64(0) << false
                                         << QStringList({"5.0 MB", "3 across 2 apps",
                                                         "Nothing to clear right now \u2014 everything is within policy.",
                                                         "VARNO does not delete backups until you say so."})
                                         << QStringList({"Can be cleared", "On"});
        QTest::newRow("something pending")
            << qint64(2) << false
            << QStringList({"Can be cleared", "2.0 MB (2 snapshots)",
                            "VARNO can free 2.0 MB of old backups. Nothing has been deleted."})
            << QStringList({"On"});
        QTest::newRow("automatic cleanup on")
            << qint64(2) << true << QStringList({"Automatic cleanup", "On"})
            << QStringList({"VARNO can free 2.0 MB of old backups. Nothing has been deleted."});
    }

    void loadedRecordShows()
    {
        QFETCH(qint64, pending);
        QFETCH(bool, autoPrune);
        QFETCH(QStringList, shown);
        QFETCH(QStringList, hidden);
        ScriptedStorage pane;
        pane.load(statusWith(4, 45, pending, autoPrune));
        const QStringList texts = visibleTexts(pane.view.get());
        for (const QString &text : shown)
            QVERIFY2(texts.contains(text), qPrintable(text));
        for (const QString &text : hidden)
            QVERIFY2(!texts.contains(text), qPrintable(text));
        QCOMPARE(pane.keep()->value(), 4);
        QCOMPARE(pane.days()->value(), 45);
        QCOMPARE(pane.button("storage-grant-consent")->isVisibleTo(pane.view.get()), !autoPrune);
        QCOMPARE(pane.button("storage-prune-once")->isVisibleTo(pane.view.get()), !autoPrune && pending > 0);
        QCOMPARE(pane.button("storage-revoke-consent")->isVisibleTo(pane.view.get()), autoPrune);
        // The steppers moved to the engine's values without saving them.
        QCOMPARE(pane.callsNamed(QStringLiteral("set")), 0);
    }

    void steppersKeepTheirRanges()
    {
        ScriptedStorage pane;
        pane.load(statusWith(50, 3640));
        QCOMPARE(pane.keep()->maximum(), 50);
        QCOMPARE(pane.keep()->minimum(), 1);
        pane.days()->stepUp();
        QCOMPARE(pane.days()->value(), 3650);
        pane.engine.last()->succeed(statusWith(50, 3650));
        pane.days()->stepDown();
        QCOMPARE(pane.days()->value(), 3635);
        // Assistive technology reads each value as the stepper counts it; the
        // keep stepper's field shows the bare number.
        const auto spoken = [](QSpinBox *stepper) {
            QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(stepper);
            return accessible ? accessible->text(QAccessible::Value) : QString();
        };
        QCOMPARE(spoken(pane.days()), QStringLiteral("3635 days"));
        QCOMPARE(spoken(pane.keep()), QStringLiteral("50 per app"));
        QCOMPARE(pane.keep()->text(), QStringLiteral("50"));
        QAccessibleInterface *keep = QAccessible::queryAccessibleInterface(pane.keep());
        QCOMPARE(keep->role(), QAccessible::SpinBox);
        QCOMPARE(keep->text(QAccessible::Name), QStringLiteral("Backups kept per app"));
        QVERIFY(keep->valueInterface());
        QCOMPARE(keep->valueInterface()->currentValue().toInt(), 50);
        QCOMPARE(keep->valueInterface()->maximumValue().toInt(), 50);
        keep->valueInterface()->setCurrentValue(4);
        QCOMPARE(pane.keep()->value(), 4);
        QCOMPARE(spoken(pane.keep()), QStringLiteral("4 per app"));
    }

    // A failed first read leaves the placeholder record on screen; nothing
    // may act on it until a read has succeeded.
    void failedFirstLoadSendsNothing()
    {
        ScriptedStorage pane;
        pane.view->show();
        pane.engine.last()->fail(QStringLiteral("database is locked"));
        QVERIFY(!pane.view->isLoading());
        QVERIFY(!pane.view->hasLoaded());
        const QString error = pane.view->errorText().value_or(QString());
        QVERIFY2(error.startsWith(QStringLiteral("Could not read storage settings: ")), qPrintable(error));
        QVERIFY(visibleTexts(pane.view.get()).contains(error));
        QVERIFY(!pane.policySection()->isEnabled());
        QVERIFY(!pane.button("storage-grant-consent")->isEnabled());
        QVERIFY(!pane.button("storage-prune-once")->isVisibleTo(pane.view.get()));

        pane.keep()->setValue(7);
        pane.days()->setValue(90);
        pane.button("storage-grant-consent")->click();
        QCOMPARE(pane.engine.calls.size(), size_t(1));

        QPushButton *retry = pane.button("storage-retry");
        QVERIFY(retry->isVisibleTo(pane.view.get()));
        retry->click();
        QCOMPARE(pane.engine.last()->arguments, QStringList({"status"}));
        pane.engine.last()->succeed(statusWith(2, 60));
        QVERIFY(pane.view->hasLoaded());
        QVERIFY(!pane.view->errorText());
        QVERIFY(!retry->isVisibleTo(pane.view.get()));
        QVERIFY(pane.policySection()->isEnabled());
        QCOMPARE(pane.keep()->value(), 2);
        QCOMPARE(pane.callsNamed(QStringLiteral("set")), 0);
    }

    // Changes made while a save runs are sent next, as one save of the
    // newest values; the older answer is never shown.
    void savesOneAtATimeWithTheNewestValues()
    {
        ScriptedStorage pane;
        pane.load(statusWith(1, 30));
        pane.keep()->setValue(3);
        QCOMPARE(pane.engine.last()->arguments, QStringList({"set", "3", "30"}));
        QVERIFY(pane.view->isWorking());
        QVERIFY(!pane.policySection()->isEnabled());
        pane.keep()->setValue(4);
        pane.keep()->setValue(5);
        QCOMPARE(pane.engine.openCount(), 1);

        pane.engine.last()->succeed(statusWith(3, 30));
        QCOMPARE(pane.view->status().policy.keepPerApp, 1); // not the older answer
        QCOMPARE(pane.engine.last()->arguments, QStringList({"set", "5", "30"}));
        QCOMPARE(pane.engine.openCount(), 1);
        QVERIFY(pane.view->isWorking());

        pane.engine.last()->succeed(statusWith(5, 30));
        QCOMPARE(pane.view->status().policy.keepPerApp, 5);
        QCOMPARE(pane.keep()->value(), 5);
        QVERIFY(!pane.view->isWorking());
        QCOMPARE(pane.callsNamed(QStringLiteral("set")), 2);
    }

    void changeBackToTheStoredValueWhileSaving()
    {
        ScriptedStorage pane;
        pane.load(statusWith(1, 30));
        pane.days()->setValue(45);
        pane.days()->setValue(30);
        pane.engine.last()->succeed(statusWith(1, 45));
        // The engine now holds 45, the user wants 30 again.
        QCOMPARE(pane.engine.last()->arguments, QStringList({"set", "1", "30"}));
        pane.engine.last()->succeed(statusWith(1, 30));
        QCOMPARE(pane.view->status().policy.retentionDays, 30);
        QVERIFY(!pane.view->isWorking());
    }

    void failedSaveReloads_data()
    {
        QTest::addColumn<bool>("reloadSucceeds");
        QTest::newRow("reload succeeds") << true;
        QTest::newRow("reload fails") << false;
    }

    void failedSaveReloads()
    {
        QFETCH(bool, reloadSucceeds);
        ScriptedStorage pane;
        pane.load(statusWith(2, 30));
        pane.keep()->setValue(9);
        pane.engine.last()->fail(QStringLiteral("Keep must be between 1 and 50 backups per app."));
        QVERIFY(pane.view->errorText().value_or(QString()).startsWith(QStringLiteral("Could not save: ")));
        QVERIFY(pane.view->isLoading());
        QVERIFY(pane.view->isWorking());
        QCOMPARE(pane.engine.last()->arguments, QStringList({"status"}));
        if (reloadSucceeds) {
            pane.engine.last()->succeed(statusWith(2, 30));
            QCOMPARE(pane.keep()->value(), 2);
            QVERIFY(!pane.view->errorText());
        } else {
            pane.engine.last()->fail(QStringLiteral("gone"));
            QVERIFY(pane.view->errorText().value_or(QString()).startsWith(
                QStringLiteral("Could not read storage settings: ")));
            QCOMPARE(pane.keep()->value(), 9);
        }
        QVERIFY(!pane.view->isWorking());
        QCOMPARE(pane.callsNamed(QStringLiteral("set")), 1);
    }

    // "Clean up now and keep it tidy" consents, then cleans; a failure of the
    // cleanup stays on screen.
    void grantKeepsACleanupFailureVisible()
    {
        ScriptedStorage pane;
        pane.load(statusWith(1, 30, 2));
        pane.button("storage-revoke-consent"); // exists, hidden
        pane.button("storage-grant-consent")->click();
        QCOMPARE(pane.engine.last()->arguments, QStringList({"grant"}));
        QVERIFY(!pane.button("storage-grant-consent")->parentWidget()->isEnabled());
        pane.engine.last()->succeed(statusWith(1, 30, 2, true));
        QCOMPARE(pane.engine.last()->arguments, QStringList({"cleanup"}));
        pane.engine.last()->fail(QStringLiteral("disk full"));
        const QString error = pane.view->errorText().value_or(QString());
        QVERIFY2(error.startsWith(QStringLiteral("Cleanup failed: ")), qPrintable(error));
        QVERIFY(visibleTexts(pane.view.get()).contains(error));
        QVERIFY(!pane.view->isWorking());
        QCOMPARE(pane.callsNamed(QStringLiteral("status")), 1); // nothing reloaded
    }

    void grantClearsAnOldErrorAndReloadsAfterCleanup()
    {
        ScriptedStorage pane;
        pane.load(statusWith(1, 30, 2));
        pane.button("storage-prune-once")->click();
        pane.engine.last()->fail(QStringLiteral("first try"));
        QVERIFY(pane.view->errorText());
        pane.button("storage-grant-consent")->click();
        pane.engine.last()->succeed(statusWith(1, 30, 2, true));
        QVERIFY(!pane.view->errorText());
        pane.engine.last()->succeed();
        QCOMPARE(pane.engine.last()->arguments, QStringList({"status"}));
        QVERIFY(pane.view->isLoading());
        pane.engine.last()->succeed(statusWith(1, 30, 0, true));
        QVERIFY(!pane.view->isWorking());
        QVERIFY(visibleTexts(pane.view.get()).contains(QStringLiteral("On")));
    }

    void consentFailureKeepsTheRecord()
    {
        ScriptedStorage pane;
        pane.load(statusWith(1, 30, 0, true));
        pane.button("storage-revoke-consent")->click();
        pane.engine.last()->fail(QStringLiteral("read-only database"));
        QVERIFY(pane.view->errorText().value_or(QString()).startsWith(QStringLiteral("Could not update the setting: ")));
        QVERIFY(pane.view->status().consent.autoPruneAllowed);
        QCOMPARE(pane.engine.calls.size(), size_t(2));
        QVERIFY(!pane.view->isWorking());

        pane.button("storage-revoke-consent")->click();
        RetentionStatus declined = statusWith(1, 30);
        declined.consent.asked = true;
        pane.engine.last()->succeed(declined);
        QVERIFY(!pane.view->errorText());
        QVERIFY(visibleTexts(pane.view.get())
                    .contains(QStringLiteral("You previously declined. VARNO is not deleting anything.")));
    }

    void pruneOnceReloads()
    {
        ScriptedStorage pane;
        pane.load(statusWith(1, 30, 3));
        pane.button("storage-prune-once")->click();
        QCOMPARE(pane.engine.last()->arguments, QStringList({"cleanup"}));
        pane.engine.last()->succeed();
        QVERIFY(pane.view->isLoading());
        QVERIFY(visibleTexts(pane.view.get()).contains(QStringLiteral("Reading storage usage…")));
        pane.engine.last()->succeed(statusWith(1, 30, 0));
        QVERIFY(!pane.view->isWorking());
        QVERIFY(!pane.button("storage-prune-once")->isVisibleTo(pane.view.get()));
    }

    // Showing the pane again while a save runs reads the state once the save is done.
    void showingAgainWhileSavingReadsAfterwards()
    {
        ScriptedStorage pane;
        pane.load(statusWith(1, 30));
        pane.keep()->setValue(2);
        pane.view->hide();
        pane.view->show();
        QCOMPARE(pane.callsNamed(QStringLiteral("status")), 1);
        pane.engine.last()->succeed(statusWith(2, 30));
        QCOMPARE(pane.engine.last()->arguments, QStringList({"status"}));
        pane.engine.last()->succeed(statusWith(2, 30));
        QVERIFY(!pane.view->isLoading());
    }

    void paneGoneWhileACallRuns()
    {
        ScriptedEngine engine;
        StorageOperations operations;
        operations.status = [&engine] { return answerWithStatus(engine.record({QStringLiteral("status")})); };
        auto view = std::make_unique<StorageSettingsView>(operations);
        view->show();
        view.reset();
        engine.last()->succeed(statusWith(1, 30)); // must not touch the gone pane
        QCOMPARE(engine.calls.size(), size_t(1));
    }
};

// The Storage pane against the engine stand-in.
class TestStoragePaneEngine : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<StorageSettingsView> m_view;

    void waitIdle()
    {
        QVERIFY(VarnoTest::waitUntil([this] { return !m_view->isLoading() && !m_view->isWorking(); }));
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(VarnoTest::prepareSimulatedMac()); }

    void init()
    {
        VarnoTest::runEngine({QStringLiteral("sim"), QStringLiteral("knobs"), QStringLiteral("clear")});
        VarnoTest::runEngine(
            {QStringLiteral("sim"), QStringLiteral("knobs"), QStringLiteral("speed"), QStringLiteral("0")});
        VarnoTest::runEngine({QStringLiteral("retention"), QStringLiteral("set"), QStringLiteral("--keep"),
                              QStringLiteral("1"), QStringLiteral("--days"), QStringLiteral("30"),
                              QStringLiteral("--json")});
        VarnoTest::runEngine({QStringLiteral("sim"), QStringLiteral("journal"), QStringLiteral("--clear")});
        m_view = std::make_unique<StorageSettingsView>();
        m_view->resize(640, 700);
    }

    void cleanup() { m_view.reset(); }

    void loadsAndSaves()
    {
        m_view->show();
        waitIdle();
        QVERIFY(m_view->hasLoaded());
        const RetentionStatus stored = RetentionStatus::decode(
            VarnoTest::runEngine({QStringLiteral("retention"), QStringLiteral("status"), QStringLiteral("--json")})
                .standardOutput);
        QCOMPARE(m_view->status(), stored);
        QCOMPARE(child<QLabel>(m_view.get(), QStringLiteral("storage-usage-bytes"))->text(),
                 RetentionStatus::formatBytes(stored.usage.bytes));

        child<QSpinBox>(m_view.get(), QStringLiteral("storage-keep-per-app"))->setValue(3);
        waitIdle();
        QCOMPARE(journalOf({"retention", "set"}),
                 QList<QStringList>({{"retention", "set", "--keep", "3", "--days", "30", "--json"}}));
        QCOMPARE(m_view->status().policy.keepPerApp, 3);
        QVERIFY(!m_view->errorText());
    }

    // The pane closed while a save of "keep 3" runs and opened again: the
    // new pane reads once the save has landed, so its next save keeps 3; a
    // change that was waiting behind the running save still goes out.
    void reopenedWhileASaveRuns_data()
    {
        QTest::addColumn<bool>("changeInNewPane");
        QTest::newRow("days changed in the new pane") << true;
        QTest::newRow("days changed before closing") << false;
    }

    void reopenedWhileASaveRuns()
    {
        QFETCH(bool, changeInNewPane);
        setKnob(R"({"command":"retention set","delay":2,"times":1})");
        m_view->show();
        waitIdle();
        child<QSpinBox>(m_view.get(), QStringLiteral("storage-keep-per-app"))->setValue(3);
        QVERIFY(m_view->isWorking());
        if (!changeInNewPane)
            child<QSpinBox>(m_view.get(), QStringLiteral("storage-retention-days"))->setValue(45);
        m_view = std::make_unique<StorageSettingsView>();
        m_view->resize(640, 700);
        m_view->show();
        waitIdle();
        if (changeInNewPane) {
            QCOMPARE(m_view->keepPerApp(), 3);
            child<QSpinBox>(m_view.get(), QStringLiteral("storage-retention-days"))->setValue(45);
            waitIdle();
        }
        QCOMPARE(journalOf({"retention", "set"}),
                 QList<QStringList>({{"retention", "set", "--keep", "3", "--days", "30", "--json"},
                                     {"retention", "set", "--keep", "3", "--days", "45", "--json"}}));
        QCOMPARE(m_view->keepPerApp(), 3);
        QCOMPARE(m_view->retentionDays(), 45);
        QCOMPARE(m_view->status().policy.keepPerApp, 3);
        QCOMPARE(m_view->status().policy.retentionDays, 45);
    }

    void readFailureThenRetry()
    {
        setKnob(R"({"command":"retention status","exit":1,"stderr":"database is locked","times":1})");
        m_view->show();
        waitIdle();
        const QString error = m_view->errorText().value_or(QString());
        QVERIFY2(error.startsWith(QStringLiteral("Could not read storage settings: ")), qPrintable(error));
        QVERIFY2(error.contains(QStringLiteral("database is locked")), qPrintable(error));
        child<QSpinBox>(m_view.get(), QStringLiteral("storage-keep-per-app"))->setValue(4);
        child<QPushButton>(m_view.get(), QStringLiteral("storage-retry"))->click();
        waitIdle();
        QVERIFY(m_view->hasLoaded());
        QVERIFY(!m_view->errorText());
        QCOMPARE(journalOf({"retention", "status"}).size(), 2);
        QVERIFY(journalOf({"retention", "set"}).isEmpty());
    }

    void grantConsentsThenCleansUp()
    {
        m_view->show();
        waitIdle();
        child<QPushButton>(m_view.get(), QStringLiteral("storage-grant-consent"))->click();
        waitIdle();
        QList<QStringList> commands = engineJournal();
        QCOMPARE(commands.mid(1),
                 QList<QStringList>({{"retention", "consent", "--grant", "--json"},
                                     {"cleanup", "--backups", "--apply", "--json"},
                                     {"retention", "status", "--json"}}));
        QVERIFY(m_view->status().consent.autoPruneAllowed);
        QVERIFY(visibleTexts(m_view.get()).contains(QStringLiteral("On")));
    }

    void cleanupFailureAfterGrantStays()
    {
        setKnob(R"({"command":"cleanup","exit":1,"stderr":"backup folder is busy"})");
        m_view->show();
        waitIdle();
        child<QPushButton>(m_view.get(), QStringLiteral("storage-grant-consent"))->click();
        waitIdle();
        const QString error = m_view->errorText().value_or(QString());
        QVERIFY2(error.startsWith(QStringLiteral("Cleanup failed: ")) && error.contains(QStringLiteral("busy")),
                 qPrintable(error));
        QVERIFY(m_view->status().consent.autoPruneAllowed);
    }
};

VARNO_TEST_CLASS(TestStoragePane)
VARNO_TEST_CLASS(TestStoragePaneEngine)

#include "tst_storage.moc"
