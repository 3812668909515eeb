#include "AppTestSupport.h"
#include "TestRegistry.h"

#include "engine/UpdateEvent.h"
#include "kit/VarnoSignals.h"
#include "kit/WindowRegistry.h"
#include "platform/MainBundle.h"
#include "platform/UpdaterController.h"
#include "services/SparkleUpdater.h"
#include "shell/MainMenu.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using Item = VARNOCommands::Item;

Q_DECLARE_METATYPE(VARNOCommands::Item)

namespace {

struct Recorder {
    QStringList journal;
    QStringList clipboard;
    QStringList revealed;
    QList<QUrl> opened;

    static QCoro::Task<QString> report()
    {
        co_await QCoro::sleepFor(std::chrono::milliseconds(1));
        co_return QStringLiteral("=== VARNO report ===");
    }

    VARNOCommands::Environment environment()
    {
        VARNOCommands::Environment env;
        env.openWorkshop = [this] { journal.append(QStringLiteral("openWorkshop")); };
        env.showAbout = [this] { journal.append(QStringLiteral("about")); };
        env.quit = [this] { journal.append(QStringLiteral("quit")); };
        env.gatherDiagnostics = [] { return report(); };
        env.copyToClipboard = [this](const QString &text) { clipboard.append(text); };
        env.openUrl = [this](const QUrl &url) {
            opened.append(url);
            return true;
        };
        env.revealFile = [this](const QString &path) { revealed.append(path); };
        return env;
    }
};

QByteArray outdatedJson()
{
    return "\"current_version\":\"1.0\",\"latest_version\":\"2.0\"";
}

} // namespace

class TestMainMenu : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void busyRuleAndUpdateAllHelp_data()
    {
        QTest::addColumn<bool>("scanning");
        QTest::addColumn<bool>("updating");
        QTest::addColumn<bool>("single");
        QTest::addColumn<bool>("fixing");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<QString>("help");

        const QString scanHelp = QStringLiteral("Updates resume when the scan finishes.");
        const QString fixHelp = QStringLiteral("Updates resume when the current fix finishes.");
        const QString defaultHelp = QStringLiteral("Update all outdated apps");
        QTest::newRow("idle") << false << false << false << false << false << defaultHelp;
        QTest::newRow("scanning") << true << false << false << false << true << scanHelp;
        QTest::newRow("fixing") << false << false << false << true << true << fixHelp;
        QTest::newRow("scan beats fix") << true << false << false << true << true << scanHelp;
        QTest::newRow("update stream") << false << true << false << false << true << defaultHelp;
        QTest::newRow("single update") << false << false << true << false << true << defaultHelp;
        QTest::newRow("update stream while fixing") << false << true << false << true << true << fixHelp;
    }

    void busyRuleAndUpdateAllHelp()
    {
        QFETCH(bool, scanning);
        QFETCH(bool, updating);
        QFETCH(bool, single);
        QFETCH(bool, fixing);
        QFETCH(bool, busy);
        QFETCH(QString, help);
        const VARNOCommands::BusyFlags flags{scanning, updating, single, fixing};
        QCOMPARE(VARNOCommands::isBusy(flags), busy);
        QCOMPARE(VARNOCommands::updateAllHelp(flags), help);
    }

    void shortcuts_data()
    {
        QTest::addColumn<Item>("item");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QKeySequence>("shortcut");
        QTest::newRow("open") << Item::openWorkshop << "Open Workshop" << QKeySequence("Ctrl+0");
        QTest::newRow("simple") << Item::simple << "Simple" << QKeySequence("Ctrl+1");
        QTest::newRow("details") << Item::details << "Details" << QKeySequence("Ctrl+2");
        QTest::newRow("scan") << Item::scanNow << "Scan Now" << QKeySequence("Ctrl+R");
        QTest::newRow("update all") << Item::updateAll << "Update All" << QKeySequence("Ctrl+U");
        QTest::newRow("diagnostics") << Item::diagnostics << "Diagnostics\u2026" << QKeySequence("Ctrl+Shift+D");
        QTest::newRow("close") << Item::closeWindow << "Close Window" << QKeySequence("Ctrl+W");
        QTest::newRow("quit") << Item::quit << "Quit VARNO" << QKeySequence("Ctrl+Q");
        QTest::newRow("settings") << Item::settings << "Settings\u2026" << QKeySequence("Ctrl+,");
        QTest::newRow("reload") << Item::reloadLibrary << "Reload Library" << QKeySequence();
        QTest::newRow("refresh") << Item::refresh << "Refresh" << QKeySequence();
        QTest::newRow("check") << Item::checkForUpdates << "Check for Updates\u2026" << QKeySequence();
        QTest::newRow("health") << Item::runHealthCheck << "Run Health Check" << QKeySequence();
        QTest::newRow("about") << Item::about << "About VARNO" << QKeySequence();
        QTest::newRow("website") << Item::website << "VARNO Website\u2026" << QKeySequence();
        QTest::newRow("notes") << Item::releaseNotes << "Release Notes\u2026" << QKeySequence();
        QTest::newRow("details copy") << Item::copyAppDetails << "Copy App Details" << QKeySequence();
        QTest::newRow("report copy") << Item::copyDiagnostics << "Copy Diagnostics" << QKeySequence();
        QTest::newRow("reveal") << Item::revealInFinder << "Reveal in Finder" << QKeySequence();
        QTest::newRow("provenance") << Item::showProvenance << "Show Provenance" << QKeySequence();
    }

    void shortcuts()
    {
        QFETCH(Item, item);
        QFETCH(QString, text);
        QFETCH(QKeySequence, shortcut);
        AppModel model(AppTest::quietServices());
        VARNOCommands commands(&model, nullptr);
        QCOMPARE(commands.action(item)->text(), text);
        QCOMPARE(commands.action(item)->shortcut(), shortcut);
    }

    void menusAndSharedItems()
    {
        AppModel model(AppTest::quietServices());
        QMainWindow window;
        auto *commands = new VARNOCommands(&model, nullptr, {}, &window);
        commands->install(window.menuBar());

        QStringList titles;
        QHash<QString, QMenu *> menus;
        for (QAction *action : window.menuBar()->actions()) {
            titles.append(action->text());
            menus.insert(action->text(), action->menu());
        }
        QCOMPARE(titles, (QStringList{"File", "Edit", "View", "VARNO", "Go", "Window", "Help"}));

        const auto texts = [&](const QString &menu) {
            QStringList list;
            for (QAction *action : menus.value(menu)->actions())
                list.append(action->isSeparator() ? QStringLiteral("-") : action->text());
            return list;
        };
        QCOMPARE(texts("VARNO"),
                 (QStringList{"Open Workshop", "Scan Now", "Update All", "Reload Library", "Diagnostics\u2026", "-",
                              "Check for Updates\u2026", "-", "Quit VARNO"}));
        QCOMPARE(texts("View"),
                 (QStringList{"Simple", "Details", "-", "All Apps", "Outdated", "At Risk", "Not checked", "Verified",
                              "-", "Refresh"}));
        QCOMPARE(texts("Go"), (QStringList{"Reveal in Finder", "Show Provenance"}));
        QCOMPARE(texts("Help").mid(0, 5),
                 (QStringList{"VARNO Website\u2026", "Release Notes\u2026", "-", "Run Health Check",
                              "Diagnostics\u2026"}));

        // Items of two menus are one action: one shortcut, never ambiguous.
        QCOMPARE(menus.value("Window")->actions().last(), commands->action(Item::openWorkshop));
        QVERIFY(menus.value("Help")->actions().contains(commands->action(Item::diagnostics)));
        QHash<QKeySequence, QAction *> owners;
        for (QMenu *menu : std::as_const(menus)) {
            for (QAction *action : menu->actions()) {
                if (action->shortcut().isEmpty())
                    continue;
                QAction *owner = owners.value(action->shortcut(), action);
                QVERIFY2(owner == action, qPrintable(action->shortcut().toString()));
                owners.insert(action->shortcut(), action);
            }
        }
    }

    void itemsFollowTheModel()
    {
        AppModel model(AppTest::quietServices());
        VARNOCommands commands(&model, nullptr);
        const auto enabled = [&](Item item) { return commands.action(item)->isEnabled(); };

        // Nothing outdated, nothing selected.
        model.setApps({AppTest::record("org.example.current")});
        QVERIFY(enabled(Item::scanNow));
        QVERIFY(enabled(Item::reloadLibrary));
        QVERIFY(!enabled(Item::updateAll));
        QVERIFY(!enabled(Item::copyAppDetails));
        QVERIFY(!enabled(Item::revealInFinder));
        QVERIFY(!enabled(Item::showProvenance));
        QVERIFY(enabled(Item::copyDiagnostics));
        QCOMPARE(commands.action(Item::copyAppDetails)->toolTip(), QStringLiteral("Select an app in the library first"));
        QCOMPARE(commands.action(Item::updateAll)->toolTip(), QStringLiteral("Update all outdated apps"));

        model.setApps({AppTest::record("org.example.current"), AppTest::record("org.example.old", outdatedJson())});
        QVERIFY(enabled(Item::updateAll));

        // A selection without an install path.
        model.setSelectedBundleID(QStringLiteral("org.example.old"));
        QVERIFY(enabled(Item::copyAppDetails));
        QVERIFY(enabled(Item::showProvenance));
        QVERIFY(!enabled(Item::revealInFinder));
        QCOMPARE(commands.action(Item::copyAppDetails)->toolTip(),
                 QStringLiteral("Copy a summary of the selected app to the clipboard"));
        model.setApps({AppTest::record("org.example.old", "\"install_path\":\"\"")});
        QVERIFY(!enabled(Item::revealInFinder));
        model.setApps({AppTest::record("org.example.old", "\"install_path\":\"/Applications/Old.app\"")});
        QVERIFY(enabled(Item::revealInFinder));
        // A selected id that is no longer in the library selects nothing.
        model.setApps({AppTest::record("org.example.other")});
        QVERIFY(!enabled(Item::showProvenance));
    }

    void viewModeAndFilterCheckmarks()
    {
        AppModel model(AppTest::quietServices());
        model.setDetailsMode(false);
        VARNOCommands commands(&model, nullptr);
        QVERIFY(commands.action(Item::simple)->isChecked());
        QVERIFY(!commands.action(Item::details)->isChecked());

        commands.action(Item::details)->trigger();
        QVERIFY(model.detailsMode());
        QVERIFY(!commands.action(Item::simple)->isChecked());
        QVERIFY(commands.action(Item::details)->isChecked());
        // Choosing the checked item again keeps it checked.
        commands.action(Item::details)->trigger();
        QVERIFY(commands.action(Item::details)->isChecked());

        QVERIFY(commands.filterAction(AppFilter::all)->isChecked());
        commands.filterAction(AppFilter::unmeasured)->trigger();
        QCOMPARE(model.selectedFilter(), AppFilter::unmeasured);
        for (const AppFilter filter : VARNOCommands::menuBuckets())
            QCOMPARE(commands.filterAction(filter)->isChecked(), filter == AppFilter::unmeasured);
        QCOMPARE(commands.filterAction(AppFilter::unmeasured)->text(), QStringLiteral("Not checked"));
        QVERIFY(!commands.filterAction(AppFilter::brew));

        // A change made elsewhere moves the checkmarks too.
        model.setSelectedFilter(AppFilter::brew);
        for (const AppFilter filter : VARNOCommands::menuBuckets())
            QVERIFY(!commands.filterAction(filter)->isChecked());
    }

    void checkForUpdatesFollowsTheUpdater()
    {
        QTemporaryDir dir;
        QByteArray plist = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                           "<key>CFBundleIdentifier</key><string>org.varno.workshop</string>"
                           "<key>SUFeedURL</key><string>https://example.org/appcast.xml</string></dict></plist>\n";
        QVERIFY(VarnoTest::writeFile(dir.filePath("VARNO.app/Contents/Info.plist"), plist));
        MainBundle::setPathOverride(dir.filePath("VARNO.app"));
        QPointer<FakeUpdaterController> fake;
        Updater::setFactory([&fake](const QString &) {
            auto controller = std::make_unique<FakeUpdaterController>();
            fake = controller.get();
            return controller;
        });
        SparkleUpdater updater;
        Updater::setFactory({});
        MainBundle::setPathOverride(std::nullopt);
        QVERIFY(fake);

        AppModel model(AppTest::quietServices());
        VARNOCommands commands(&model, &updater);
        QVERIFY(!commands.action(Item::checkForUpdates)->isEnabled());
        fake->setCanCheckForUpdates(true);
        QVERIFY(commands.action(Item::checkForUpdates)->isEnabled());
        commands.action(Item::checkForUpdates)->trigger();
        QCOMPARE(fake->userChecks(), 1);
        fake->setCanCheckForUpdates(false);
        QVERIFY(!commands.action(Item::checkForUpdates)->isEnabled());
    }

    void updateAllClearsThenAsksForTheSheetThenStarts()
    {
        VarnoTest::TempHome home; // no engine: the run fails at once, harmlessly
        AppModel model(AppTest::quietServices());
        model.setApps({AppTest::record("org.example.old", outdatedJson())});
        UpdateEvent::AppStart start;
        start.bundleId = QStringLiteral("org.example.old");
        start.status = QStringLiteral("downloading");
        model.handleUpdateEvent(UpdateEvent(start));
        QVERIFY(!model.updateProgress().isEmpty());

        VARNOCommands commands(&model, nullptr);
        QStringList journal;
        const auto connection = connect(&VarnoSignals::instance(), &VarnoSignals::varnoShowUpdateFlow, this, [&] {
            journal.append(
                QStringLiteral("sheet progress=%1 updating=%2").arg(model.updateProgress().size()).arg(model.isUpdating()));
        });
        connect(&model, &AppModel::isUpdatingChanged, this,
                [&] { journal.append(QStringLiteral("updating=%1").arg(model.isUpdating())); });
        commands.action(Item::updateAll)->trigger();
        QCOMPARE(journal, QStringList{QStringLiteral("sheet progress=0 updating=0")});
        QVERIFY(VarnoTest::waitUntil([&] { return journal.size() >= 3; }));
        QCOMPARE(journal, (QStringList{"sheet progress=0 updating=0", "updating=1", "updating=0"}));
        disconnect(connection);
    }

    void healthCheckOpensTheWindowThenAsksInOrder()
    {
        QStringList journal;
        WindowRegistry::Scenes scenes;
        scenes.openWorkshop = [&] { journal.append(QStringLiteral("open")); };
        scenes.activate = [&] { journal.append(QStringLiteral("activate")); };
        WindowRegistry::setScenes(scenes);
        const auto a = connect(&VarnoSignals::instance(), &VarnoSignals::varnoShowDiagnostics, this,
                               [&] { journal.append(QStringLiteral("showDiagnostics")); });
        const auto b = connect(&VarnoSignals::instance(), &VarnoSignals::varnoRunHealthCheck, this,
                               [&] { journal.append(QStringLiteral("runHealthCheck")); });

        AppModel model(AppTest::quietServices());
        VARNOCommands commands(&model, nullptr);
        commands.action(Item::runHealthCheck)->trigger();
        QCOMPARE(journal, (QStringList{"open", "activate"}));
        QVERIFY(VarnoTest::waitUntil([&] { return journal.size() == 4; }));
        QCOMPARE(journal, (QStringList{"open", "activate", "showDiagnostics", "runHealthCheck"}));

        journal.clear();
        commands.action(Item::diagnostics)->trigger();
        QVERIFY(VarnoTest::waitUntil([&] { return journal.size() == 3; }));
        QTest::qWait(VarnoSignals::runHealthCheckDelay.count() + 100);
        QCOMPARE(journal, (QStringList{"open", "activate", "showDiagnostics"}));

        disconnect(a);
        disconnect(b);
        WindowRegistry::setScenes({});
    }

    void clipboardRevealAndProvenance()
    {
        Recorder recorder;
        AppModel model(AppTest::quietServices());
        model.setApps({AppTest::record("org.example.old", "\"install_path\":\"/Applications/Old.app\"")});
        VARNOCommands commands(&model, nullptr, recorder.environment());

        // Without a selection the actions re-check and do nothing.
        commands.action(Item::copyAppDetails)->trigger();
        commands.action(Item::revealInFinder)->trigger();
        QVERIFY(recorder.clipboard.isEmpty());
        QVERIFY(recorder.revealed.isEmpty());

        model.setSelectedBundleID(QStringLiteral("org.example.old"));
        commands.action(Item::copyAppDetails)->trigger();
        QCOMPARE(recorder.clipboard.size(), 1);
        QVERIFY(recorder.clipboard.first().startsWith(QStringLiteral("org.example.old\nBundle ID: org.example.old")));
        QVERIFY(recorder.clipboard.first().contains(QStringLiteral("Path: /Applications/Old.app")));

        commands.action(Item::revealInFinder)->trigger();
        QCOMPARE(recorder.revealed, QStringList{QStringLiteral("/Applications/Old.app")});

        QSignalSpy provenance(&VarnoSignals::instance(), &VarnoSignals::varnoShowProvenance);
        commands.action(Item::showProvenance)->trigger();
        QCOMPARE(provenance.count(), 1);
        QCOMPARE(provenance.first().first().toString(), QStringLiteral("org.example.old"));

        commands.action(Item::copyDiagnostics)->trigger();
        QVERIFY(VarnoTest::waitUntil([&] { return recorder.clipboard.size() == 2; }));
        QCOMPARE(recorder.clipboard.last(), QStringLiteral("=== VARNO report ==="));
    }

    void websiteAndReleaseNotes_data()
    {
        QTest::addColumn<QString>("website");
        QTest::addColumn<QString>("notes");
        QTest::newRow("plain") << "https://varno.org"
                               << "https://varno.org/releases";
        QTest::newRow("trailing slash") << "https://varno.org/"
                                        << "https://varno.org/releases";
        QTest::newRow("not an address") << "not a url"
                                        << "";
        QTest::newRow("empty") << ""
                               << "";
    }

    void websiteAndReleaseNotes()
    {
        QFETCH(QString, website);
        QFETCH(QString, notes);
        QCOMPARE(VARNOCommands::releaseNotesUrl(website).toString(), notes);
    }

    void helpItemsOpenTheSite()
    {
        Recorder recorder;
        AppModel model(AppTest::quietServices());
        VARNOCommands commands(&model, nullptr, recorder.environment());
        commands.action(Item::website)->trigger();
        commands.action(Item::releaseNotes)->trigger();
        QCOMPARE(recorder.opened.size(), 2);
        QCOMPARE(recorder.opened.at(1).toString(), recorder.opened.at(0).toString() + QStringLiteral("/releases"));
    }
};

VARNO_TEST_CLASS(TestMainMenu)
#include "tst_menu.moc"
