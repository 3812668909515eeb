#include "TestRegistry.h"

#include "PanelFixture.h"

#include "AppearanceTestSupport.h"

#include "engine/ExperimentRecorder.h"
#include "kit/BrandArtwork.h"
#include "kit/VarnoSignals.h"
#include "menubar/MenuBarPanel.h"
#include "menubar/MenuBarPanelParts.h"
#include "platform/MainBundle.h"

#include <QSignalSpy>
#include <QTest>

#include <chrono>

using namespace PanelTest;
using namespace std::chrono_literals;

// The panel drawn from a model whose state the tests set directly: which
// body shows, its texts, the header and the footer.
class TestPanelBodies : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<VarnoTest::TempHome> m_home;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<MenuBarPanel> m_panel;
    QStringList m_events;

private Q_SLOTS:
    void init()
    {
        MainBundle::setPathOverride(VarnoTest::stagedBundlePath());
        m_home = std::make_unique<VarnoTest::TempHome>();
        m_events.clear();
        MenuBarPanel::setEventRecorder([this](const QString &event) { m_events.append(event); });
        m_model = std::make_unique<AppModel>(quietServices());
        m_panel = std::make_unique<MenuBarPanel>(m_model.get());
    }

    void cleanup()
    {
        MenuBarPanel::setEventRecorder({});
        m_panel.reset();
        m_model.reset();
        m_home.reset();
    }

    void panelIsFixedWidth()
    {
        m_panel->show();
        QCOMPARE(m_panel->width(), 320);
        QVERIFY(m_panel->height() > 100);
    }

    void needsScanBeforeTheFirstScan()
    {
        QCOMPARE(m_panel->state(), PanelState::needsScan);
        const QStringList texts = visibleTexts(m_panel.get());
        QVERIFY(texts.contains(QStringLiteral("Nothing scanned yet.")));
        QVERIFY(texts.contains(QStringLiteral("Run a scan so Brusk can see your apps.")));
        QVERIFY(visibleButton(m_panel.get(), QStringLiteral("Scan now")));
        QVERIFY(!visibleButton(m_panel.get(), QStringLiteral("Reload")));
    }

    void loadFailedOnceScanned()
    {
        m_model->setHasEverScanned(true);
        QCOMPARE(m_panel->state(), PanelState::loadFailed);
        const QStringList texts = visibleTexts(m_panel.get());
        QVERIFY(texts.contains(QStringLiteral("Library didn't load.")));
        QVERIFY(texts.contains(QStringLiteral("Data may be fine — reload the library.")));
        QVERIFY(visibleButton(m_panel.get(), QStringLiteral("Reload")));
    }

    void errorHidesItsText()
    {
        m_model->setApps(currentLibrary());
        m_model->setError(QStringLiteral("The engine said no."));
        QCOMPARE(m_panel->state(), PanelState::error);
        const QStringList texts = visibleTexts(m_panel.get());
        QVERIFY(texts.contains(QStringLiteral("Something's not right.")));
        QVERIFY(!texts.contains(QStringLiteral("The engine said no.")));
        QVERIFY(visibleButton(m_panel.get(), QStringLiteral("Open Diagnostics")));
    }

    void pendingShowsCountsAndButtons_data()
    {
        QTest::addColumn<int>("urgent");
        QTest::addColumn<int>("plain");
        QTest::addColumn<bool>("urgentShown");
        QTest::newRow("one urgent of three") << 1 << 2 << true;
        QTest::newRow("all urgent") << 3 << 0 << false;
        QTest::newRow("none urgent") << 0 << 3 << false;
    }

    void pendingShowsCountsAndButtons()
    {
        QFETCH(int, urgent);
        QFETCH(int, plain);
        QFETCH(bool, urgentShown);
        QList<AppRecord> apps = currentLibrary();
        for (int i = 0; i < urgent; ++i)
            apps.append(outdatedRecord(QStringLiteral("u%1").arg(i), QStringLiteral("critical")));
        for (int i = 0; i < plain; ++i)
            apps.append(outdatedRecord(QStringLiteral("p%1").arg(i)));
        m_model->setHasEverScanned(true);
        m_model->setApps(apps);

        QCOMPARE(m_panel->state(), PanelState::pending);
        QVERIFY(visibleButton(m_panel.get(), QStringLiteral("Update all (3)")));
        QCOMPARE(visibleButton(m_panel.get(), QStringLiteral("Urgent only (%1)").arg(urgent)) != nullptr, urgentShown);
        const auto cells = m_panel->findChildren<PanelStatCell *>();
        QCOMPARE(cells.size(), 2);
        QCOMPARE(cells.at(0)->value(), QStringLiteral("3"));
        QCOMPARE(cells.at(0)->captionLabel()->text(), QStringLiteral("PENDING"));
        QCOMPARE(cells.at(1)->value(), QString::number(urgent));
        QCOMPARE(cells.at(1)->captionLabel()->text(), QStringLiteral("AT RISK"));
        QCOMPARE(cells.at(1)->tone(), urgent > 0 ? StatTone::alert : StatTone::secondary);
    }

    void atRiskValueTakesTheAlertColour()
    {
        m_model->setApps({outdatedRecord(QStringLiteral("r"), QStringLiteral("high"))});
        PanelStatCell *atRisk = m_panel->findChildren<PanelStatCell *>().at(1);
        {
            AppearanceTest::AppearanceScope dark(Appearance::Scheme::Dark);
            QCOMPARE(atRisk->valueLabel()->palette().color(QPalette::WindowText), QColor(QStringLiteral("#E57373")));
        }
        {
            AppearanceTest::AppearanceScope light(Appearance::Scheme::Light);
            QCOMPARE(atRisk->valueLabel()->palette().color(QPalette::WindowText), QColor(QStringLiteral("#B03030")));
        }
        m_model->setApps({outdatedRecord(QStringLiteral("r"))});
        QCOMPARE(atRisk->tone(), StatTone::secondary);
    }

    void cleanShowsTheLastScan()
    {
        m_model->setHasEverScanned(true);
        m_model->setApps(currentLibrary());
        QCOMPARE(m_panel->state(), PanelState::clean);
        const QStringList texts = visibleTexts(m_panel.get());
        QVERIFY(texts.contains(QStringLiteral("All tidy.")));
        QVERIFY(texts.contains(QStringLiteral("Last scan unknown")));
        QVERIFY(visibleButton(m_panel.get(), QStringLiteral("Scan now")));
    }

    void unmeasuredCountsTheNotFullyChecked_data()
    {
        QTest::addColumn<QStringList>("statuses");
        QTest::addColumn<QString>("headline");
        QTest::addColumn<QString>("detail");
        QTest::newRow("unknown only") << QStringList{QStringLiteral("unknown"), QStringLiteral("unknown"),
                                                     QStringLiteral("unknown")}
                                      << QStringLiteral("3 not fully checked.")
                                      << QStringLiteral("Some managed apps still lack a completed version check.");
        QTest::newRow("one unmeasured") << QStringList{QStringLiteral("unknown"), QStringLiteral("unmeasured")}
                                        << QStringLiteral("2 not fully checked.")
                                        << QStringLiteral(
                                               "Includes apps without an independent version source (MAS/self-managed).");
    }

    void unmeasuredCountsTheNotFullyChecked()
    {
        QFETCH(QStringList, statuses);
        QFETCH(QString, headline);
        QFETCH(QString, detail);
        QList<AppRecord> apps = currentLibrary();
        for (qsizetype i = 0; i < statuses.size(); ++i)
            apps.append(checkedAs(QStringLiteral("g%1").arg(i), statuses.at(i)));
        m_model->setHasEverScanned(true);
        m_model->setApps(apps);
        QCOMPARE(m_panel->state(), PanelState::unmeasured);
        const QStringList texts = visibleTexts(m_panel.get());
        QVERIFY2(texts.contains(headline), qPrintable(texts.join(u'|')));
        QVERIFY(texts.contains(detail));
        QVERIFY(visibleButton(m_panel.get(), QStringLiteral("Open Workshop")));
        // The header counts the same apps, in the neutral tone.
        QCOMPARE(m_panel->snapshot().posture.tone, PostureTone::neutral);
        QCOMPARE(m_panel->snapshot().posture.title, QStringLiteral("%1 not fully checked").arg(statuses.size()));
    }

    void headerFollowsThePosture()
    {
        m_model->setHasEverScanned(true);
        m_model->setApps(currentLibrary() + QList<AppRecord>{outdatedRecord(QStringLiteral("o"))});
        const PosturePresentation posture = m_panel->snapshot().posture;
        QCOMPARE(posture.tone, PostureTone::orange);
        QVERIFY(visibleTexts(m_panel.get()).contains(posture.title));
        bool labelled = false;
        for (QWidget *w : m_panel->findChildren<QWidget *>()) {
            if (w->accessibleName() == QStringLiteral("Attention needed. ") + posture.title)
                labelled = w->isVisibleTo(m_panel.get());
        }
        QVERIFY(labelled);
    }

    void runningShowsTheCraftsman()
    {
        m_model->setApps(currentLibrary());
        auto sentries = [this] {
            int count = 0;
            for (BruskView *view : m_panel->findChildren<BruskView *>()) {
                if (view->isVisibleTo(m_panel.get()) && view->side() == 20)
                    count += view->variant() == BruskVariant::craftsman ? 100 : 1;
            }
            return count;
        };
        QCOMPARE(sentries(), 1);
        PanelSnapshot running = m_panel->snapshot();
        running.isUpdating = true;
        m_panel->setSnapshotOverride(running);
        QCOMPARE(m_panel->state(), PanelState::running);
        QCOMPARE(sentries(), 100);
        const QStringList texts = visibleTexts(m_panel.get());
        QVERIFY(texts.contains(QStringLiteral("Working…")));
        for (const char *label : {"Pause", "Skip", "Stop"})
            QVERIFY2(visibleButton(m_panel.get(), QLatin1String(label)), label);
        running.isPaused = true;
        m_panel->setSnapshotOverride(running);
        QVERIFY(visibleButton(m_panel.get(), QStringLiteral("Resume")));
        QVERIFY(visibleTexts(m_panel.get()).contains(QStringLiteral("Paused")));
    }

    void detectionBannerReplacesOnlyThePosture()
    {
        QList<AppRecord> apps = currentLibrary();
        apps.removeAt(1); // no App Store app
        m_model->setHasEverScanned(true);
        m_model->setApps(apps);
        QVERIFY(m_model->hasDetectionFailure());
        QCOMPARE(m_panel->state(), PanelState::clean);
        const QStringList texts = visibleTexts(m_panel.get());
        QVERIFY(texts.contains(QStringLiteral("Detection incomplete")));
        QVERIFY(texts.contains(QStringLiteral("All tidy.")));
        QVERIFY(!texts.contains(m_panel->snapshot().posture.title));
        QVERIFY(visibleButton(m_panel.get(), QStringLiteral("Run diagnostics")));
        // Recorded when the banner is seen, not when it is built.
        QVERIFY(m_events.isEmpty());
        m_panel->show();
        QCOMPARE(m_events, QStringList{ExperimentRecorder::detectionFailureBannerShown});
    }

    void footerIsInEveryState()
    {
        for (const bool scanned : {false, true}) {
            m_model->setHasEverScanned(scanned);
            for (const char *link : {"Open Workshop", "Scan", "Update VARNO", "Quit"})
                QVERIFY2(visibleButton(m_panel.get(), QLatin1String(link)), link);
        }
        // No self-updater: "Update VARNO" cannot be pressed.
        QVERIFY(!visibleButton(m_panel.get(), QStringLiteral("Update VARNO"))->isEnabled());
        QVERIFY(visibleButton(m_panel.get(), QStringLiteral("Quit"))->isEnabled());
    }

    void linkHitAreaIsTheWholeRectangle()
    {
        m_panel->show();
        StyledButton *quit = visibleButton(m_panel.get(), QStringLiteral("Quit"));
        QVERIFY(quit->height() >= 24);
        int quits = 0;
        MenuBarPanel::setQuitAction([&quits] { ++quits; });
        QTest::mouseClick(quit, Qt::LeftButton, {}, QPoint(1, 1));
        MenuBarPanel::setQuitAction({});
        QCOMPARE(quits, 1);
    }
};

// The panel's buttons against the engine stand-in: each runs its model
// action, and the busy flags disable what they must.
class TestPanelActions : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<VarnoTest::TempHome> m_home;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<MenuBarPanel> m_panel;
    QStringList m_events;

    bool scanDirectly() { return VarnoTest::runEngine({QStringLiteral("scan")}).exitCode == 0; }
    void waitIdle()
    {
        VarnoTest::waitUntil([this] {
            return !m_model->isScanning() && !m_model->isUpdating() && !m_model->isEnrichingSeals()
                && !m_model->isCheckingOpenCore() && !m_model->isCheckingMacOSUpdate()
                && !m_model->isCheckingMechanismHealth();
        });
    }

private Q_SLOTS:
    void init()
    {
        VARNOProcess::resetCachedValuesForTesting();
        MainBundle::setPathOverride(VarnoTest::stagedBundlePath());
        m_home = std::make_unique<VarnoTest::TempHome>();
        QVERIFY(VarnoTest::prepareSimulatedMac());
        // Banner events are kept here; only the test of the banner lets them
        // reach the engine (and waits for them).
        m_events.clear();
        MenuBarPanel::setEventRecorder([this](const QString &event) { m_events.append(event); });
        m_model = std::make_unique<AppModel>(quietServices());
        m_panel = std::make_unique<MenuBarPanel>(m_model.get());
        m_panel->show();
    }

    void cleanup()
    {
        MenuBarPanel::setEventRecorder({});
        waitIdle();
        m_panel.reset();
        m_model.reset();
        m_home.reset();
    }

    void scanNowScansAndDisablesWhileScanning()
    {
        QCOMPARE(m_panel->state(), PanelState::needsScan);
        QVERIFY(VarnoTest::runEngine(
                    {QStringLiteral("sim"), QStringLiteral("knobs"), QStringLiteral("speed"), QStringLiteral("0.2")})
                    .exitCode
                == 0);
        QTest::mouseClick(visibleButton(m_panel.get(), QStringLiteral("Scan now")), Qt::LeftButton);
        QVERIFY(m_model->isScanning());
        QVERIFY(!visibleButton(m_panel.get(), QStringLiteral("Scan now"))->isEnabled());
        QVERIFY(!visibleButton(m_panel.get(), QStringLiteral("Scan"))->isEnabled());
        QVERIFY(visibleButton(m_panel.get(), QStringLiteral("Open Workshop"))->isEnabled());
        QVERIFY(visibleButton(m_panel.get(), QStringLiteral("Quit"))->isEnabled());
        QVERIFY(VarnoTest::waitUntil([this] { return !m_model->isScanning(); }, 60s));
        QVERIFY(!m_model->apps().isEmpty());
        QVERIFY(m_model->hasEverScanned());
        QVERIFY(m_panel->state() != PanelState::needsScan);
    }

    void reloadClearsTheErrorThenLoads()
    {
        QVERIFY(scanDirectly());
        m_model->setHasEverScanned(true);
        QCOMPARE(m_panel->state(), PanelState::loadFailed);
        QTest::mouseClick(visibleButton(m_panel.get(), QStringLiteral("Reload")), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([this] { return !m_model->apps().isEmpty(); }));
        QVERIFY(!m_model->error());
        QVERIFY(m_panel->state() == PanelState::pending || m_panel->state() == PanelState::unmeasured
                || m_panel->state() == PanelState::clean);
    }

    void updateAllRunsTheQueue()
    {
        QVERIFY(scanDirectly());
        VarnoTest::await(m_model->load());
        QCOMPARE(m_panel->state(), PanelState::pending);
        const QString label = QStringLiteral("Update all (%1)").arg(m_model->outdatedApps().size());
        QTest::mouseClick(visibleButton(m_panel.get(), label), Qt::LeftButton);
        QVERIFY(m_model->isUpdating());
        QCOMPARE(m_panel->state(), PanelState::running);
        QVERIFY(!visibleButton(m_panel.get(), QStringLiteral("Scan"))->isEnabled());
        QVERIFY(VarnoTest::waitUntil([this] { return !m_model->isUpdating(); }, 60s));
        QVERIFY(!m_model->updateProgress().isEmpty());
        QVERIFY(engineJournal().contains("\"update\""));
    }

    void returnPressesUpdateAll()
    {
        QVERIFY(scanDirectly());
        VarnoTest::await(m_model->load());
        QCOMPARE(m_panel->state(), PanelState::pending);
        m_panel->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_panel.get()));
        m_panel->setFocus();
        QTest::keyClick(m_panel.get(), Qt::Key_Return);
        QVERIFY(m_model->isUpdating());
    }

    void urgentOnlyUpdatesTheUrgentApps()
    {
        QVERIFY(scanDirectly());
        VarnoTest::await(m_model->load());
        const qsizetype urgent = m_model->urgentApps().size();
        QVERIFY2(MenuBarPanelText::shouldShowUrgentOnly(urgent, m_model->outdatedApps().size()),
                 qPrintable(QStringLiteral("this test needs a demo library with some but not all outdated apps "
                                           "urgent; it has %1 urgent of %2 outdated")
                                .arg(urgent)
                                .arg(m_model->outdatedApps().size())));
        QTest::mouseClick(visibleButton(m_panel.get(), QStringLiteral("Urgent only (%1)").arg(urgent)), Qt::LeftButton);
        QVERIFY(m_model->isUpdating());
        QVERIFY(VarnoTest::waitUntil([this] { return !m_model->isUpdating(); }, 60s));
        QVERIFY(engineJournal().contains("\"--only\""));
    }

    void controlsSteerTheRunningEngine()
    {
        QVERIFY(scanDirectly());
        VarnoTest::await(m_model->load());
        QVERIFY(VarnoTest::runEngine(
                    {QStringLiteral("sim"), QStringLiteral("knobs"), QStringLiteral("speed"), QStringLiteral("0.3")})
                    .exitCode
                == 0);
        QTest::mouseClick(visibleButton(m_panel.get(),
                                        QStringLiteral("Update all (%1)").arg(m_model->outdatedApps().size())),
                          Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([this] { return m_model->updateController() != nullptr; }));
        QTest::mouseClick(visibleButton(m_panel.get(), QStringLiteral("Pause")), Qt::LeftButton);
        // The label follows the engine's confirmation, not the click.
        QVERIFY(visibleButton(m_panel.get(), QStringLiteral("Pause")));
        QVERIFY(VarnoTest::waitUntil([this] { return m_model->isPaused(); }));
        QTest::mouseClick(visibleButton(m_panel.get(), QStringLiteral("Resume")), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([this] { return !m_model->isPaused(); }));
        // Skip ends one app as skipped at the user's request; the queue runs on.
        QTest::mouseClick(visibleButton(m_panel.get(), QStringLiteral("Skip")), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([this] {
            return std::any_of(m_model->updateProgress().cbegin(), m_model->updateProgress().cend(),
                               [](const UpdateState &s) {
                                   return s == UpdateState::skipped(QStringLiteral("Skipped at your request"));
                               });
        }));
        QVERIFY(m_model->isUpdating());
        QTest::mouseClick(visibleButton(m_panel.get(), QStringLiteral("Stop")), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([this] { return !m_model->isUpdating(); }, 60s));
        const bool stopped = std::any_of(m_model->updateProgress().cbegin(), m_model->updateProgress().cend(),
                                         [](const UpdateState &s) { return s.kind() == UpdateState::Kind::skipped; });
        QVERIFY(stopped);
    }

    void controlsWithoutARunDoNothing()
    {
        // Nothing runs: the control buttons have no channel and must not fail.
        PanelSnapshot running = m_panel->snapshot();
        running.isUpdating = true;
        m_panel->setSnapshotOverride(running);
        for (const char *label : {"Pause", "Skip", "Stop"})
            QTest::mouseClick(visibleButton(m_panel.get(), QLatin1String(label)), Qt::LeftButton);
        QVERIFY(!m_model->isUpdating());
        QVERIFY(!m_model->isPaused());
    }

    void shortcutsActLikeTheirLinks()
    {
        SceneRecorder scenes;
        m_panel->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_panel.get()));
        m_panel->setFocus();
        QTest::keyClick(m_panel.get(), Qt::Key_0, Qt::ControlModifier);
        QCOMPARE(scenes.workshopOpened, 1);
        QCOMPARE(scenes.activated, 1);

        int quits = 0;
        MenuBarPanel::setQuitAction([&quits] { ++quits; });
        QTest::keyClick(m_panel.get(), Qt::Key_Q, Qt::ControlModifier);
        MenuBarPanel::setQuitAction({});
        QCOMPARE(quits, 1);

        QTest::keyClick(m_panel.get(), Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(m_model->isScanning());
        QVERIFY(VarnoTest::waitUntil([this] { return !m_model->isScanning(); }, 60s));
    }

    void diagnosticsOpenTheWorkshopFirst()
    {
        SceneRecorder scenes;
        m_model->setError(QStringLiteral("broken"));
        QSignalSpy diagnostics(&VarnoSignals::instance(), &VarnoSignals::varnoShowDiagnostics);
        QTest::mouseClick(visibleButton(m_panel.get(), QStringLiteral("Open Diagnostics")), Qt::LeftButton);
        QCOMPARE(scenes.workshopOpened, 1);
        QCOMPARE(scenes.activated, 1);
        QCOMPARE(diagnostics.count(), 0); // not before the window can exist
        QVERIFY(diagnostics.wait(2000));
    }

    void bannerRecordsEachAppearanceOnce()
    {
        QStringList recorded;
        ExperimentRecorder::setFinishedHookForTesting([&recorded](const QString &event) { recorded.append(event); });
        MenuBarPanel::setEventRecorder({});
        SceneRecorder scenes;
        QList<AppRecord> apps = currentLibrary();
        apps.removeAt(1);
        m_model->setHasEverScanned(true);
        m_model->setApps(apps);
        QVERIFY(VarnoTest::waitUntil([&] { return recorded.size() == 1; }));
        // Redraws while shown record nothing more.
        m_model->setApps(apps + QList<AppRecord>{outdatedRecord(QStringLiteral("x"))});
        m_model->setError(QStringLiteral("e"));
        m_model->setError(std::nullopt);
        QTest::qWait(300);
        QCOMPARE(recorded.size(), 1);
        // Shown again: recorded again.
        m_panel->hide();
        m_panel->show();
        QVERIFY(VarnoTest::waitUntil([&] { return recorded.size() == 2; }));
        // Detection complete, then incomplete again while shown.
        m_model->setApps(currentLibrary());
        m_model->setApps(apps);
        QVERIFY(VarnoTest::waitUntil([&] { return recorded.size() == 3; }));
        QCOMPARE(recorded.count(ExperimentRecorder::detectionFailureBannerShown), 3);

        QSignalSpy diagnostics(&VarnoSignals::instance(), &VarnoSignals::varnoShowDiagnostics);
        QTest::mouseClick(visibleButton(m_panel.get(), QStringLiteral("Run diagnostics")), Qt::LeftButton);
        QCOMPARE(scenes.workshopOpened, 1);
        QVERIFY(diagnostics.wait(2000));
        QVERIFY(VarnoTest::waitUntil(
            [&] { return recorded.contains(ExperimentRecorder::detectionFailureBannerCtaClicked); }));
        ExperimentRecorder::setFinishedHookForTesting({});
        const QByteArray journal = engineJournal();
        QVERIFY(journal.contains("detection_failure_banner_shown"));
        QVERIFY(journal.contains("detection_failure_banner_cta_clicked"));
    }
};

VARNO_TEST_CLASS(TestPanelBodies)
VARNO_TEST_CLASS(TestPanelActions)

#include "tst_panel.moc"
