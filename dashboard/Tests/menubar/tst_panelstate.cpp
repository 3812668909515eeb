#include "TestRegistry.h"

#include "PanelFixture.h"

#include "menubar/MenuBarPanelState.h"

#include <QTest>

using namespace PanelTest;

Q_DECLARE_METATYPE(PanelState)
Q_DECLARE_METATYPE(PostureTone)

// The pure rules behind the panel: which body shows, and the texts of the
// running, pending and persona bodies.
class TestPanelRules : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void stateRule_data()
    {
        QTest::addColumn<bool>("isUpdating");
        QTest::addColumn<bool>("hasError");
        QTest::addColumn<int>("apps");
        QTest::addColumn<bool>("hasLastScan");
        QTest::addColumn<bool>("hasEverScanned");
        QTest::addColumn<int>("outdated");
        QTest::addColumn<int>("sensingGap");
        QTest::addColumn<PanelState>("state");

        QTest::newRow("running beats error and empty")
            << true << true << 0 << false << false << 0 << 0 << PanelState::running;
        QTest::newRow("running with a library") << true << false << 3 << true << true << 2 << 1 << PanelState::running;
        QTest::newRow("error beats empty") << false << true << 0 << true << true << 0 << 0 << PanelState::error;
        QTest::newRow("error beats pending") << false << true << 3 << true << true << 2 << 0 << PanelState::error;
        QTest::newRow("empty, scanned flag") << false << false << 0 << false << true << 0 << 0 << PanelState::loadFailed;
        QTest::newRow("empty, scan date only")
            << false << false << 0 << true << false << 0 << 0 << PanelState::loadFailed;
        QTest::newRow("empty, never scanned") << false << false << 0 << false << false << 0 << 0 << PanelState::needsScan;
        QTest::newRow("outdated beats not checked")
            << false << false << 5 << true << true << 1 << 2 << PanelState::pending;
        QTest::newRow("all checked") << false << false << 5 << true << true << 0 << 0 << PanelState::clean;
        QTest::newRow("some not checked") << false << false << 5 << true << true << 0 << 3 << PanelState::unmeasured;
    }

    void stateRule()
    {
        QFETCH(bool, isUpdating);
        QFETCH(bool, hasError);
        QFETCH(int, apps);
        QFETCH(bool, hasLastScan);
        QFETCH(bool, hasEverScanned);
        QFETCH(int, outdated);
        QFETCH(int, sensingGap);
        QFETCH(PanelState, state);

        PanelSnapshot s;
        s.isUpdating = isUpdating;
        if (hasError)
            s.error = QStringLiteral("boom");
        for (int i = 0; i < apps; ++i)
            s.apps.append(outdatedRecord(QStringLiteral("a%1").arg(i)));
        if (hasLastScan)
            s.lastScanDate = QDateTime::currentDateTimeUtc();
        s.hasEverScanned = hasEverScanned;
        s.outdatedCount = outdated;
        s.sensingGapCount = sensingGap;
        QCOMPARE(MenuBarPanelText::state(s), state);
    }

    void progressTexts_data()
    {
        QTest::addColumn<QList<UpdateState>>("states");
        QTest::addColumn<bool>("paused");
        QTest::addColumn<QString>("headline");
        QTest::addColumn<QString>("counter");
        QTest::addColumn<double>("fraction");

        QTest::newRow("nothing yet") << QList<UpdateState>{} << false << QStringLiteral("Working…") << QString() << 0.0;
        QTest::newRow("nothing yet, paused")
            << QList<UpdateState>{} << true << QStringLiteral("Paused") << QString() << 0.0;
        QTest::newRow("one running of five")
            << QList<UpdateState>{UpdateState::running(QStringLiteral("Installing…")), UpdateState::done(),
                                  UpdateState::done(), UpdateState::failed(QStringLiteral("x")),
                                  UpdateState::queued(5, 5)}
            << false << QStringLiteral("A0 — Installing…") << QStringLiteral("3/5") << 0.6;
        QTest::newRow("paused with one still running")
            << QList<UpdateState>{UpdateState::running(QStringLiteral("Fetching…")), UpdateState::queued(2, 2)} << true
            << QStringLiteral("A0 — Fetching…") << QStringLiteral("0/2") << 0.0;
        QTest::newRow("idle counts in the total only")
            << QList<UpdateState>{UpdateState::idle(), UpdateState::skipped(QStringLiteral("s")),
                                  UpdateState::quitDenied(QStringLiteral("q")), UpdateState::done()}
            << false << QStringLiteral("Working…") << QStringLiteral("3/4") << 0.75;
    }

    void progressTexts()
    {
        QFETCH(QList<UpdateState>, states);
        QFETCH(bool, paused);
        QFETCH(QString, headline);
        QFETCH(QString, counter);
        QFETCH(double, fraction);

        QHash<QString, UpdateState> progress;
        QList<AppRecord> apps;
        for (qsizetype i = 0; i < states.size(); ++i) {
            const QString id = QStringLiteral("a%1").arg(i);
            progress.insert(id, states.at(i));
            apps.append(outdatedRecord(id));
        }
        QCOMPARE(MenuBarPanelText::progressHeadline(progress, apps, paused), headline);
        QCOMPARE(MenuBarPanelText::progressCounter(progress), counter);
        QCOMPARE(MenuBarPanelText::progressFraction(progress), fraction);
    }

    // A snapshot of a model shows the same, from where the model keeps its
    // states standing rather than from a copy of them (which would make the
    // model copy every state at its next change).
    void snapshotOfAModel_data() { progressTexts_data(); }

    void snapshotOfAModel()
    {
        QFETCH(QList<UpdateState>, states);
        QFETCH(bool, paused);
        QFETCH(QString, headline);
        QFETCH(QString, counter);
        QFETCH(double, fraction);

        AppModel model(quietServices());
        QList<AppRecord> apps;
        for (qsizetype i = 0; i < states.size(); ++i)
            apps.append(outdatedRecord(QStringLiteral("a%1").arg(i)));
        model.setApps(apps);
        // Each state written twice over another one, and a state removed:
        // what the model keeps follows every change.
        for (qsizetype i = 0; i < states.size(); ++i) {
            model.setPreviewUpdateState(QStringLiteral("a%1").arg(i), UpdateState::running(QStringLiteral("before")));
            model.setPreviewUpdateState(QStringLiteral("a%1").arg(i), states.at(i));
        }
        model.setPreviewUpdateState(QStringLiteral("gone"), UpdateState::done());
        model.clearUpdateProgress();
        for (qsizetype i = 0; i < states.size(); ++i)
            model.setPreviewUpdateState(QStringLiteral("a%1").arg(i), states.at(i));

        const PanelSnapshot snapshot = PanelSnapshot::of(model);
        QVERIFY(snapshot.updateProgress.isEmpty());
        QVERIFY(snapshot.progress);
        QCOMPARE(MenuBarPanelText::progressHeadline(*snapshot.progress, paused), headline);
        QCOMPARE(MenuBarPanelText::progressCounter(*snapshot.progress), counter);
        QCOMPARE(MenuBarPanelText::progressFraction(*snapshot.progress), fraction);
    }

    void headlineFallsBackToTheBundleId()
    {
        QHash<QString, UpdateState> progress{
            {QStringLiteral("org.gone"), UpdateState::running(QStringLiteral("Verifying…"))}};
        QCOMPARE(MenuBarPanelText::progressHeadline(progress, {outdatedRecord(QStringLiteral("org.other"))}, false),
                 QStringLiteral("org.gone — Verifying…"));
    }

    void urgentOnly_data()
    {
        QTest::addColumn<int>("urgent");
        QTest::addColumn<int>("outdated");
        QTest::addColumn<bool>("shown");
        QTest::newRow("one of three") << 1 << 3 << true;
        QTest::newRow("all urgent") << 3 << 3 << false;
        QTest::newRow("none urgent") << 0 << 3 << false;
    }

    void urgentOnly()
    {
        QFETCH(int, urgent);
        QFETCH(int, outdated);
        QFETCH(bool, shown);
        QCOMPARE(MenuBarPanelText::shouldShowUrgentOnly(urgent, outdated), shown);
    }

    void lastScanLabel_data()
    {
        QTest::addColumn<qint64>("secondsAgo");
        QTest::addColumn<QString>("label");
        QTest::newRow("seconds") << qint64(5) << QStringLiteral("Last scan 5 sec. ago");
        QTest::newRow("minutes") << qint64(12 * 60 + 30) << QStringLiteral("Last scan 12 min. ago");
        QTest::newRow("hours") << qint64(3 * 3600) << QStringLiteral("Last scan 3 hr. ago");
        QTest::newRow("one day") << qint64(86400 + 5) << QStringLiteral("Last scan 1 day ago");
        QTest::newRow("days") << qint64(3 * 86400) << QStringLiteral("Last scan 3 days ago");
        QTest::newRow("future") << qint64(-120) << QStringLiteral("Last scan in 2 min.");
    }

    void lastScanLabel()
    {
        QFETCH(qint64, secondsAgo);
        QFETCH(QString, label);
        const QDateTime now = QDateTime(QDate(2026, 3, 4), QTime(10, 0), Qt::UTC);
        QCOMPARE(MenuBarPanelText::lastScanLabel(now.addSecs(-secondsAgo), now), label);
        QCOMPARE(MenuBarPanelText::lastScanLabel(std::nullopt, now), QStringLiteral("Last scan unknown"));
    }

    void unmeasuredTexts()
    {
        QCOMPARE(MenuBarPanelText::unmeasuredHeadline(3), QStringLiteral("3 not fully checked."));
        QCOMPARE(MenuBarPanelText::unmeasuredDetail(0),
                 QStringLiteral("Some managed apps still lack a completed version check."));
        QCOMPARE(MenuBarPanelText::unmeasuredDetail(1),
                 QStringLiteral("Includes apps without an independent version source (MAS/self-managed)."));
        QCOMPARE(MenuBarPanelText::unmeasuredAccessibleLabel(1),
                 QStringLiteral("1 apps not fully checked for updates. Open Workshop for details."));
    }

    void postureLabels_data()
    {
        QTest::addColumn<PostureTone>("tone");
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("symbol");
        QTest::newRow("green") << PostureTone::green << QStringLiteral("Healthy")
                               << QStringLiteral("checkmark.seal.fill");
        QTest::newRow("orange") << PostureTone::orange << QStringLiteral("Attention needed")
                                << QStringLiteral("exclamationmark.triangle.fill");
        QTest::newRow("red") << PostureTone::red << QStringLiteral("At risk")
                             << QStringLiteral("exclamationmark.octagon.fill");
        QTest::newRow("neutral") << PostureTone::neutral << QStringLiteral("Status unknown")
                                 << QStringLiteral("questionmark.circle");
    }

    void postureLabels()
    {
        QFETCH(PostureTone, tone);
        QFETCH(QString, word);
        QFETCH(QString, symbol);
        QCOMPARE(MenuBarPanelText::toneWord(tone), word);
        QCOMPARE(MenuBarPanelText::toneSymbol(tone), symbol);
        QCOMPARE(MenuBarPanelText::postureAccessibleLabel({QStringLiteral("12m ago"), std::nullopt, tone}),
                 word + QStringLiteral(". 12m ago"));
    }
};

VARNO_TEST_CLASS(TestPanelRules)

#include "tst_panelstate.moc"
