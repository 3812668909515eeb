#include "TestRegistry.h"
#include "TestSupport.h"

#include "ModelFixture.h"

#include "engine/UpdateEvent.h"
#include "engine/UpdateStream.h"
#include "kit/ButtonStyles.h"
#include "shell/WorkshopWindow.h"
#include "workshop/ToolbarAreaView.h"
#include "workshop/ToolbarRules.h"
#include "workshop/ViewHelpers.h"

#include <QAccessible>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QTest>

#include <chrono>

using namespace std::chrono_literals;
using ToolbarRules::Face;
using ToolbarRules::RightEnd;

namespace {

int countInJournal(const QByteArray &needle)
{
    return int(VarnoTest::runEngine({QStringLiteral("sim"), QStringLiteral("journal")}).standardOutput.count(needle));
}

} // namespace

// The toolbar strip: its faces and texts by the model's busy flags, and its
// buttons driving the model and the engine stand-in.
class TestToolbar : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void faces_data()
    {
        QTest::addColumn<bool>("scanning");
        QTest::addColumn<bool>("updating");
        QTest::addColumn<bool>("single");
        QTest::addColumn<int>("outdated");
        QTest::addColumn<Face>("face");
        QTest::addColumn<RightEnd>("end");
        QTest::addColumn<bool>("disabled");
        QTest::addColumn<bool>("scanTitle");
        QTest::addColumn<QString>("scanHelp");
        QTest::addColumn<QString>("scanHint");
        QTest::addColumn<QString>("updateAllHelp");
        QTest::newRow("idle, nothing outdated: no Update All at all")
            << false << false << false << 0 << Face::idle << RightEnd::nothing << false << true << "Scan for updates"
            << "Scan the library for available updates"
            << "Start updating all outdated apps";
        QTest::newRow("idle, twelve outdated")
            << false << false << false << 12 << Face::idle << RightEnd::updateAll << false << true << "Scan for updates"
            << "Scan the library for available updates"
            << "Start updating all outdated apps";
        QTest::newRow("scanning with outdated apps") << true << false << false << 3 << Face::scanning
                                                     << RightEnd::updateAll << true << true << "Scan for updates"
                                                     << "Scan the library for available updates"
                                                     << "Updates resume when the scan finishes.";
        QTest::newRow("single update") << false << false << true << 3 << Face::idle << RightEnd::updateAll << true
                                       << true << "Scan resumes when the current update finishes."
                                       << "Scan resumes when the current update finishes."
                                       << "Update All resumes when the current update finishes.";
        QTest::newRow("scanning and single update: scanning first for Update All")
            << true << false << true << 3 << Face::scanning << RightEnd::updateAll << true << true
            << "Scan resumes when the current update finishes."
            << "Scan resumes when the current update finishes."
            << "Updates resume when the scan finishes.";
        QTest::newRow("updating") << false << true << false << 3 << Face::updating << RightEnd::queueControls << true
                                  << false << "Scan for updates"
                                  << "Scan the library for available updates"
                                  << "Start updating all outdated apps";
    }

    void faces()
    {
        QFETCH(bool, scanning);
        QFETCH(bool, updating);
        QFETCH(bool, single);
        QFETCH(int, outdated);
        QFETCH(Face, face);
        QFETCH(RightEnd, end);
        QFETCH(bool, disabled);
        QFETCH(bool, scanTitle);
        QFETCH(QString, scanHelp);
        QFETCH(QString, scanHint);
        QFETCH(QString, updateAllHelp);
        ToolbarRules::Inputs in;
        in.isScanning = scanning;
        in.isUpdating = updating;
        in.singleUpdate = single;
        in.outdatedCount = outdated;
        QCOMPARE(ToolbarRules::face(in), face);
        QCOMPARE(ToolbarRules::rightEnd(in), end);
        QCOMPARE(ToolbarRules::scanDisabled(in), disabled);
        QCOMPARE(ToolbarRules::updateAllDisabled(in), disabled);
        QCOMPARE(ToolbarRules::scanShowsTitle(in), scanTitle);
        QCOMPARE(ToolbarRules::scanHelp(in), scanHelp);
        QCOMPARE(ToolbarRules::scanHint(in), scanHint);
        QCOMPARE(ToolbarRules::updateAllHelp(in), updateAllHelp);
        QCOMPARE(ToolbarRules::badgeText(in), outdated ? QString::number(outdated) : QString());
    }

    void buttonTexts_data()
    {
        QTest::addColumn<ToolbarRules::ButtonTexts>("texts");
        QTest::addColumn<QStringList>("expected"); // symbol, help, label, identifier, hint
        QTest::newRow("workshop") << ToolbarRules::workshopButton()
                                  << QStringList{"wrench.and.screwdriver",
                                                 "Workshop environment — permissions, agents, extensions", "Workshop",
                                                 "toolbar-workshop",
                                                 "Open settings for permissions, agents, and extensions"};
        QTest::newRow("diagnostics") << ToolbarRules::diagnosticsButton()
                                     << QStringList{"stethoscope", "Diagnostics — DB state, scan logs, force scan",
                                                    "Diagnostics", "toolbar-diagnostics",
                                                    "Open diagnostics for database state, scan logs, and forced scans"};
        QTest::newRow("progress") << ToolbarRules::progressButton()
                                  << QStringList{"list.bullet.rectangle", "Progress — reopen the update progress window",
                                                 "Progress", "toolbar-progress", "Reopen the update progress window"};
        QTest::newRow("skip") << ToolbarRules::skipButton()
                              << QStringList{"forward.fill", "Skip — skip the app currently being updated", "Skip",
                                             "toolbar-skip", "Skip the app currently being updated"};
        QTest::newRow("stop") << ToolbarRules::stopButton()
                              << QStringList{"stop.fill", "Stop — abort the whole queue; remaining apps become skipped",
                                             "Stop", "toolbar-stop", "Abort the whole update queue"};
    }

    void buttonTexts()
    {
        QFETCH(ToolbarRules::ButtonTexts, texts);
        QFETCH(QStringList, expected);
        QCOMPARE((QStringList{texts.symbol, texts.help, texts.label, texts.identifier, texts.hint}), expected);
    }

    void pauseButton()
    {
        QCOMPARE(ToolbarRules::pauseSymbol(false), QStringLiteral("pause.fill"));
        QCOMPARE(ToolbarRules::pauseWord(false), QStringLiteral("pause"));
        QCOMPARE(ToolbarRules::pauseHelp(false), QStringLiteral("Pause after the current app finishes"));
        QCOMPARE(ToolbarRules::pauseHint(false), QStringLiteral("Pause the update queue after the current app finishes"));
        QCOMPARE(ToolbarRules::pauseSymbol(true), QStringLiteral("play.fill"));
        QCOMPARE(ToolbarRules::pauseWord(true), QStringLiteral("resume"));
        QCOMPARE(ToolbarRules::pauseHelp(true), QStringLiteral("Resume the queue"));
        QCOMPARE(ToolbarRules::pauseLabel(true), QStringLiteral("Resume"));
        QCOMPARE(ToolbarRules::scanningText(), QStringLiteral("Scanning..."));
    }

    void scanAndModesDriveTheModel()
    {
        ModelFixture f;
        QVERIFY(f.ready);
        ToolbarAreaView toolbar(f.model.get(), new QLineEdit, {}, {}, {});
        toolbar.resize(1100, 60);
        toolbar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&toolbar));
        QVERIFY(!toolbar.badge()->isVisible());
        QVERIFY(!toolbar.updateAllButton()->isVisible());
        QVERIFY(toolbar.simplePill()->isActive() && !toolbar.detailsPill()->isActive());
        // Assistive technology meets the pills as radio buttons, the chosen one checked.
        const auto checked = [](QWidget *pill) {
            QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(pill);
            return accessible && accessible->role() == QAccessible::RadioButton && accessible->state().checkable
                && accessible->state().checked;
        };
        QVERIFY(checked(toolbar.simplePill()) && !checked(toolbar.detailsPill()));

        QVERIFY(f.setKnobs("{\"rules\":[{\"command\":\"scan\",\"delay\":0.5}]}"));
        QTest::mouseClick(toolbar.scanButton(), Qt::LeftButton);
        QVERIFY(f.model->isScanning());
        QVERIFY(toolbar.scanningIndicator()->isVisible());
        QVERIFY(!toolbar.scanButton()->isEnabled());
        QVERIFY(VarnoTest::waitUntil([&] { return !f.model->isScanning(); }));
        QCOMPARE(countInJournal("\"scan\"]"), 1);
        QVERIFY(!toolbar.scanningIndicator()->isVisible());
        // The demo library has outdated apps: the badge and Update All.
        const QString outdated = QString::number(f.model->outdatedApps().size());
        QVERIFY(f.model->outdatedApps().size() > 0);
        QCOMPARE(toolbar.badge()->text(), outdated);
        QVERIFY(toolbar.updateAllButton()->isVisible() && toolbar.updateAllButton()->isEnabled());
        QCOMPARE(toolbar.updateAllButton()->text(), QStringLiteral("Update All"));

        QTest::mouseClick(toolbar.detailsPill(), Qt::LeftButton);
        QVERIFY(f.model->detailsMode());
        QVERIFY(toolbar.detailsPill()->isActive() && !toolbar.simplePill()->isActive());
        QVERIFY(checked(toolbar.detailsPill()) && !checked(toolbar.simplePill()));
        QTest::mouseClick(toolbar.detailsPill(), Qt::LeftButton); // already active: stays
        QVERIFY(f.model->detailsMode());
        QVERIFY(checked(toolbar.detailsPill()) && !checked(toolbar.simplePill()));
        QTest::mouseClick(toolbar.simplePill(), Qt::LeftButton);
        QVERIFY(!f.model->detailsMode());
        QVERIFY(checked(toolbar.simplePill()) && !checked(toolbar.detailsPill()));
    }

    // At the size a new window opens at, the strip shows the scanning
    // explanation whole, also beside the outdated count and Update All; a
    // narrower window cuts it rather than growing while a scan runs.
    void scanningHintIsWholeAtTheDefaultSize_data()
    {
        QTest::addColumn<bool>("outdated");
        QTest::addColumn<bool>("narrowest");
        QTest::newRow("first scan, default size") << false << false;
        QTest::newRow("rescan with outdated apps, default size") << true << false;
        QTest::newRow("rescan with outdated apps, narrowest window") << true << true;
    }

    void scanningHintIsWholeAtTheDefaultSize()
    {
        QFETCH(bool, outdated);
        QFETCH(bool, narrowest);
        ModelFixture f;
        QVERIFY(f.ready);
        if (outdated) {
            QVERIFY(f.scanDirectly());
            VarnoTest::await(f.model->load());
            QVERIFY(!f.model->outdatedApps().isEmpty());
        }
        f.model->setShowOnboarding(false);
        WorkshopWindow window(f.model.get());
        const int width = narrowest ? int(WorkshopWindow::kMinimumWidth) : window.width();
        window.resize(width, window.height());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        // Laid out at once, while the scan has only just started.
        auto scan = f.model->scan();
        QVERIFY(f.model->isScanning());
        window.centralWidget()->layout()->activate();
        ToolbarAreaView *toolbar = window.toolbar();
        toolbar->layout()->activate();
        FittedLabel *hint = toolbar->scanningHintLabel();
        QVERIFY(hint->isVisible());
        QCOMPARE(toolbar->updateAllButton()->isVisible(), outdated);
        QCOMPARE(toolbar->badge()->isVisible(), outdated);
        QCOMPARE(hint->fullText(), QStringLiteral("Library refreshes when the scan finishes."));
        QCOMPARE(hint->text() == hint->fullText(), !narrowest);
        QCOMPARE(window.width(), width);
        // Nothing after the hint is pushed out of the strip.
        QWidget *last = outdated ? static_cast<QWidget *>(toolbar->updateAllButton()) : toolbar->scanButton();
        QVERIFY(last->geometry().right() < toolbar->width());
        VarnoTest::await(std::move(scan));
    }

    void updateAllAndTheQueueControls()
    {
        ModelFixture f;
        QVERIFY(f.ready);
        QVERIFY(f.scanDirectly());
        VarnoTest::await(f.model->load());
        bool progressWasEmpty = false;
        int sheets = 0;
        ToolbarAreaView toolbar(f.model.get(), new QLineEdit,
                                [&] {
                                    ++sheets;
                                    progressWasEmpty = f.model->updateProgress().isEmpty() && !f.model->isUpdating();
                                },
                                {}, {});
        toolbar.resize(1100, 60);
        toolbar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&toolbar));
        // An earlier run's states are still there.
        UpdateEvent::AppDone earlier;
        earlier.bundleId = QStringLiteral("org.sim.quarry");
        earlier.success = true;
        f.model->handleUpdateEvent(UpdateEvent(earlier));
        QVERIFY(!f.model->updateProgress().isEmpty());

        QVERIFY(f.sim({QStringLiteral("knobs"), QStringLiteral("speed"), QStringLiteral("0.3")}));
        QTest::mouseClick(toolbar.updateAllButton(), Qt::LeftButton);
        // Progress emptied, then the sheet, then the queue.
        QCOMPARE(sheets, 1);
        QVERIFY(progressWasEmpty);
        QVERIFY(f.model->isUpdating());
        QVERIFY(!toolbar.updateAllButton()->isVisible());
        for (StyledButton *button :
             {toolbar.progressButton(), toolbar.pauseButton(), toolbar.skipButton(), toolbar.stopButton()})
            QVERIFY(button->isVisible() && button->isEnabled());
        QCOMPARE(toolbar.scanButton()->text(), QString());
        QVERIFY(!toolbar.scanButton()->isEnabled());
        QCOMPARE(toolbar.scanButton()->toolTip(), QStringLiteral("Scan for updates"));

        QTest::mouseClick(toolbar.progressButton(), Qt::LeftButton);
        QCOMPARE(sheets, 2);

        QVERIFY(VarnoTest::waitUntil([&] {
            return std::any_of(f.model->updateProgress().cbegin(), f.model->updateProgress().cend(),
                               [](const UpdateState &s) { return s.kind() == UpdateState::Kind::running; });
        }));
        QTest::mouseClick(toolbar.pauseButton(), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([&] { return f.model->isPaused(); }));
        QCOMPARE(toolbar.pauseButton()->symbol(), QStringLiteral("play.fill"));
        QCOMPARE(toolbar.pauseButton()->accessibleName(), QStringLiteral("Resume"));
        QTest::mouseClick(toolbar.pauseButton(), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([&] { return !f.model->isPaused(); }));
        QCOMPARE(toolbar.pauseButton()->symbol(), QStringLiteral("pause.fill"));
        // Skip ends one app as skipped at the user's request; the queue runs on.
        QTest::mouseClick(toolbar.skipButton(), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([&] {
            return std::any_of(f.model->updateProgress().cbegin(), f.model->updateProgress().cend(),
                               [](const UpdateState &s) {
                                   return s == UpdateState::skipped(QStringLiteral("Skipped at your request"));
                               });
        }));
        QVERIFY(f.model->isUpdating());
        QTest::mouseClick(toolbar.stopButton(), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([&] { return !f.model->isUpdating(); }, 60s));
        const bool stopped = std::any_of(f.model->updateProgress().cbegin(), f.model->updateProgress().cend(),
                                         [](const UpdateState &s) {
                                             return s == UpdateState::skipped(QStringLiteral("Stopped at your request"));
                                         });
        QVERIFY(stopped);
        // With no queue, the controls are dropped without a word.
        toolbar.sendQueueCommand(QStringLiteral("skip"));
        toolbar.togglePause();
        QVERIFY(!f.model->updateController());
    }
};

VARNO_TEST_CLASS(TestToolbar)
#include "tst_toolbar.moc"
