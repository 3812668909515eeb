#include "TestRegistry.h"
#include "TestSupport.h"

#include "ModelFixture.h"

#include "kit/VarnoColor.h"
#include "model/Tone.h"
#include "platform/MainBundle.h"
#include "platform/UpdaterController.h"
#include "platform/Workspace.h"
#include "services/SparkleUpdater.h"
#include "workshop/LibraryFilters.h"
#include "workshop/SidebarRules.h"
#include "workshop/SidebarView.h"

#include <QAccessible>
#include <QLabel>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString toneName(Tone tone)
{
    switch (tone) {
    case Tone::good:
        return QStringLiteral("green");
    case Tone::caution:
        return QStringLiteral("orange");
    case Tone::risk:
        return QStringLiteral("red");
    case Tone::neutral:
        return QStringLiteral("grey");
    }
    return QString::number(int(tone));
}

// The name of the tone whose token a shown dot has.
QString tokenName(const ColorPair &pair)
{
    for (const Tone tone : {Tone::good, Tone::caution, Tone::risk, Tone::neutral}) {
        if (VarnoColor::tone(tone) == pair)
            return toneName(tone);
    }
    return pair.dark() + QLatin1Char('/') + pair.light();
}

MacOSUpdateStatus status(qint64 count, const QString &headline, std::optional<QString> detail = std::nullopt)
{
    MacOSUpdateStatus s;
    s.availableCount = count;
    s.headline = headline;
    s.detail = std::move(detail);
    return s;
}

} // namespace

// The sidebar: its rows' texts, counts and dots, the macOS row, the footer,
// and the view over a real model.
class TestSidebar : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void subtitles_data()
    {
        QTest::addColumn<int>("pending");
        QTest::addColumn<int>("total");
        QTest::addColumn<QString>("subtitle");
        QTest::newRow("none") << 0 << 0 << "0 apps";
        QTest::newRow("total of one stays plural") << 0 << 1 << "1 apps";
        QTest::newRow("one of one") << 1 << 1 << "1 update \u00B7 1 apps";
        QTest::newRow("three of forty") << 3 << 40 << "3 updates \u00B7 40 apps";
    }

    void subtitles()
    {
        QFETCH(int, pending);
        QFETCH(int, total);
        QFETCH(QString, subtitle);
        QCOMPARE(SidebarRules::mechanismSubtitle(pending, total), subtitle);
    }

    void accessibilityValues_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("digits");
        QTest::newRow("0") << 0 << "0 apps"
                           << "";
        QTest::newRow("1") << 1 << "1 app"
                           << "1";
        QTest::newRow("12") << 12 << "12 apps"
                            << "12";
    }

    void accessibilityValues()
    {
        QFETCH(int, count);
        QFETCH(QString, value);
        QFETCH(QString, digits);
        QCOMPARE(SidebarRules::accessibilityValue(count), value);
        QCOMPARE(SidebarRules::countText(count), digits);
    }

    void mechanismDots_data()
    {
        QTest::addColumn<MechanismHealth>("health");
        QTest::addColumn<int>("total");
        QTest::addColumn<QString>("dot");
        QTest::newRow("healthy without apps") << MechanismHealth::healthy() << 0 << "grey";
        QTest::newRow("missing tool without apps") << MechanismHealth::unavailable("brew not found") << 0 << "grey";
        QTest::newRow("unknown") << MechanismHealth::unknown() << 3 << "grey";
        QTest::newRow("healthy") << MechanismHealth::healthy() << 3 << "green";
        QTest::newRow("unavailable") << MechanismHealth::unavailable("brew failed") << 3 << "orange";
    }

    void mechanismDots()
    {
        QFETCH(MechanismHealth, health);
        QFETCH(int, total);
        QFETCH(QString, dot);
        QCOMPARE(toneName(SidebarRules::mechanismDot(health, total)), dot);
    }

    void rowDots_data()
    {
        QTest::addColumn<QByteArrayList>("records");
        QTest::addColumn<MechanismHealth>("masHealth");
        QTest::addColumn<AppFilter>("filter");
        QTest::addColumn<QString>("dot");
        const QByteArray unmeasuredMas =
            R"({"bundle_id":"m","app_name":"M","update_mechanism":"mas","version_check_status":"unmeasured"})";
        const QByteArray ignoredMas =
            R"({"bundle_id":"m","app_name":"M","update_mechanism":"mas","version_check_status":"unmeasured","update_mode":"ignore"})";
        const QByteArray userIgnoredMas =
            R"({"bundle_id":"m","app_name":"M","update_mechanism":"mas","version_check_status":"unmeasured","user_ignored":2})";
        const QByteArray currentMas =
            R"({"bundle_id":"c","app_name":"C","update_mechanism":"mas","current_version":"1","latest_version":"1"})";
        const QByteArray sparkleOld =
            R"({"bundle_id":"s","app_name":"S","update_mechanism":"sparkle","current_version":"1","latest_version":"2"})";
        const QByteArray selfChecked =
            R"({"bundle_id":"v","app_name":"V","update_mechanism":"vendor_self_update","version_check_status":"current"})";
        const QByteArray selfUnchecked =
            R"({"bundle_id":"u","app_name":"U","update_mode":"self","version_check_status":"unmeasured"})";
        QTest::newRow("unchecked App Store app while mas is healthy")
            << QByteArrayList{unmeasuredMas} << MechanismHealth::healthy() << AppFilter::mas << "orange";
        QTest::newRow("the same app ignored by mode")
            << QByteArrayList{ignoredMas} << MechanismHealth::healthy() << AppFilter::mas << "green";
        QTest::newRow("the same app ignored by the user")
            << QByteArrayList{userIgnoredMas} << MechanismHealth::healthy() << AppFilter::mas << "green";
        QTest::newRow("mas unknown, none unchecked")
            << QByteArrayList{currentMas} << MechanismHealth::unknown() << AppFilter::mas << "grey";
        QTest::newRow("sparkle green whatever the updates")
            << QByteArrayList{sparkleOld} << MechanismHealth::healthy() << AppFilter::sparkle << "green";
        QTest::newRow("no sparkle apps") << QByteArrayList{currentMas} << MechanismHealth::healthy()
                                         << AppFilter::sparkle << "grey";
        QTest::newRow("self-managed all checked")
            << QByteArrayList{selfChecked} << MechanismHealth::healthy() << AppFilter::selfManaged << "green";
        QTest::newRow("self-managed one unchecked") << QByteArrayList{selfChecked, selfUnchecked}
                                                    << MechanismHealth::healthy() << AppFilter::selfManaged << "orange";
        QTest::newRow("no self-managed apps")
            << QByteArrayList{currentMas} << MechanismHealth::healthy() << AppFilter::selfManaged << "grey";
        QTest::newRow("library rows keep their colour")
            << QByteArrayList{} << MechanismHealth::healthy() << AppFilter::atRisk << "red";
        QTest::newRow("all apps grey") << QByteArrayList{sparkleOld} << MechanismHealth::healthy() << AppFilter::all
                                       << "grey";
    }

    void rowDots()
    {
        QFETCH(QByteArrayList, records);
        QFETCH(MechanismHealth, masHealth);
        QFETCH(AppFilter, filter);
        QFETCH(QString, dot);
        FakeModelServices fakes;
        AppModelServices services = fakes.services();
        services.checkMas = [masHealth](double) { return masHealth; };
        AppModel model(services);
        QList<AppRecord> apps;
        for (const QByteArray &json : records)
            apps.append(makeRecord(json));
        model.setApps(apps);
        if (!masHealth.isUnknown()) {
            model.refreshMechanismHealthIfNeeded(true);
            QVERIFY(VarnoTest::waitUntil([&] { return model.masHealth() == masHealth; }));
        }
        QCOMPARE(toneName(SidebarRules::rowDotColor(model, filter, SidebarRules::libraryDot(filter))), dot);
    }

    void systemRow_data()
    {
        QTest::addColumn<MacOSUpdateStatus>("status");
        QTest::addColumn<QString>("dot");
        QTest::addColumn<QString>("secondary");
        QTest::addColumn<QString>("help");
        QTest::newRow("three updates") << status(3, "macOS update ready", QStringLiteral("macOS 15.2")) << "orange"
                                       << "3 updates available"
                                       << "macOS updates are available. Click to open Software Update.";
        QTest::newRow("one update") << status(1, "macOS update ready") << "orange"
                                    << "1 update available"
                                    << "macOS updates are available. Click to open Software Update.";
        QTest::newRow("the model's starting status")
            << MacOSUpdateStatus::unavailable() << "grey"
            << "Can't check right now"
            << "VARNO couldn't query Software Update right now. Click to open Software Update.";
        QTest::newRow("unavailable headline with a detail")
            << status(0, "macOS update check unavailable", QStringLiteral("softwareupdate failed")) << "green"
            << "Up to date"
            << "macOS appears up to date. Click to open Software Update.";
        QTest::newRow("up to date") << status(0, "macOS up to date") << "green"
                                    << "Up to date"
                                    << "macOS appears up to date. Click to open Software Update.";
    }

    void systemRow()
    {
        QFETCH(MacOSUpdateStatus, status);
        QFETCH(QString, dot);
        QFETCH(QString, secondary);
        QFETCH(QString, help);
        QCOMPARE(toneName(SidebarRules::systemDotColor(status)), dot);
        QCOMPARE(SidebarRules::systemSecondary(status), secondary);
        QCOMPARE(SidebarRules::systemHelp(status), help);
    }

    void footerDateLine()
    {
        QCOMPARE(SidebarRules::footerDateLine(QStringLiteral("Mar 4")), QStringLiteral("VARNO updated Mar 4"));
        // Never "VARNO updated updated recently".
        QCOMPARE(SidebarRules::footerDateLine(std::nullopt), QStringLiteral("VARNO updated recently"));
    }

    void rowsFollowTheModel()
    {
        ModelFixture f;
        f.model->setApps({makeRecord(
            R"({"bundle_id":"b","app_name":"B","update_mechanism":"cask","current_version":"1","latest_version":"2"})")});
        SidebarView sidebar(f.model.get());
        // Titles in order, "Not checked" before "Verified".
        QStringList titles;
        for (SidebarRow *row : sidebar.rows())
            titles.append(row->title());
        QCOMPARE(titles,
                 (QStringList{"All Apps", "Outdated", "At Risk", "Not checked", "Verified", "Homebrew", "App Store",
                              "Sparkle", "Self-managed"}));
        SidebarRow *brew = sidebar.row(AppFilter::brew);
        QCOMPARE(brew->subtitle(), QStringLiteral("1 update \u00B7 1 apps"));
        QCOMPARE(brew->accessibleValue(), QStringLiteral("1 app"));
        QCOMPARE(sidebar.row(AppFilter::all)->countText(), QStringLiteral("1"));
        QCOMPARE(sidebar.row(AppFilter::verified)->countText(), QString());
        QCOMPARE(sidebar.row(AppFilter::verified)->accessibleValue(), QStringLiteral("0 apps"));
        QCOMPARE(sidebar.row(AppFilter::atRisk)->toolTip(),
                 QStringLiteral("At Risk highlights apps VARNO believes need urgent attention."));
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(brew);
        QVERIFY(accessible);
        QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("Homebrew"));
        QCOMPARE(accessible->text(QAccessible::Value), QStringLiteral("1 app"));

        // An empty library: grey dots, "0 apps" everywhere, Homebrew too while
        // brew is healthy.
        f.model->refreshMechanismHealthIfNeeded(true);
        QVERIFY(VarnoTest::waitUntil([&] { return f.model->brewHealth().isHealthy(); }));
        QCOMPARE(tokenName(brew->dotColor()), QStringLiteral("green"));
        f.model->setApps({});
        QCOMPARE(tokenName(brew->dotColor()), QStringLiteral("grey"));
        QCOMPARE(brew->subtitle(), QStringLiteral("0 apps"));
        QCOMPARE(sidebar.row(AppFilter::all)->countText(), QString());
        QCOMPARE(sidebar.row(AppFilter::all)->accessibleValue(), QStringLiteral("0 apps"));
    }

    void choosingRowsSetsTheFilterAndTheMacOSRowDoesNot()
    {
        VarnoTest::TempHome home;
        FakeModelServices fakes;
        AppModel model(fakes.services());
        auto recording = std::make_shared<RecordingWorkspace>();
        Workspace::setShared(recording);
        SidebarView sidebar(&model);
        sidebar.resize(210, 700);
        sidebar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sidebar));

        QTest::mouseClick(sidebar.row(AppFilter::sparkle), Qt::LeftButton);
        QCOMPARE(model.selectedFilter(), AppFilter::sparkle);
        QVERIFY(sidebar.row(AppFilter::sparkle)->isSelected());
        QVERIFY(!sidebar.row(AppFilter::all)->isSelected());
        // The keyboard: Up moves to the row above and chooses it.
        sidebar.row(AppFilter::sparkle)->setFocus();
        QTest::keyClick(sidebar.row(AppFilter::sparkle), Qt::Key_Up);
        QCOMPARE(model.selectedFilter(), AppFilter::mas);
        // The model's filter, set elsewhere, moves the selection.
        model.setSelectedFilter(AppFilter::unmeasured);
        QVERIFY(sidebar.row(AppFilter::unmeasured)->isSelected());

        QVERIFY(sidebar.systemSection()->isVisible());
        QCOMPARE(sidebar.systemRow()->secondary(), QStringLiteral("Can't check right now"));
        QTest::mouseClick(sidebar.systemRow(), Qt::LeftButton);
        QCOMPARE(model.selectedFilter(), AppFilter::unmeasured);
        QCOMPARE(recording->openedUrls(),
                 QList<QUrl>{QUrl(QStringLiteral("x-apple.systempreferences:com.apple.preferences.softwareupdate"))});
        Workspace::setShared(nullptr);

        // On an OpenCore Mac there is no System section.
        fakes.openCore = true;
        model.refreshOpenCoreStatusIfNeeded(true);
        QVERIFY(VarnoTest::waitUntil([&] { return model.isOpenCore(); }));
        QVERIFY(!sidebar.systemSection()->isVisible());
    }

    void checkChipFollowsTheUpdaterOnRedraw()
    {
        VarnoTest::TempHome home;
        AppModel model;
        SparkleUpdater::setShared(nullptr);
        SidebarView sidebar(&model);
        sidebar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sidebar));
        // No updater: no chip; the version and the date line stay.
        QVERIFY(!sidebar.checkChip()->isVisible());
        QVERIFY(sidebar.versionLabel()->text().startsWith(QLatin1Char('v')));
        QVERIFY(sidebar.dateLabel()->text().startsWith(QStringLiteral("VARNO updated ")));
        QVERIFY(!sidebar.dateLabel()->text().contains(QStringLiteral("updated updated")));
        QCOMPARE(sidebar.checkChip()->accessibleName(), QStringLiteral("Check for VARNO app update"));
    }

    // Where the app's updater can check, the chip shows, and pressing it asks
    // the updater for a check of the user's.
    void checkChipAsksTheUpdater()
    {
        VarnoTest::TempHome home;
        QTemporaryDir dir;
        const QByteArray plist = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                                 "<key>CFBundleIdentifier</key><string>org.varno.workshop</string>"
                                 "<key>SUFeedURL</key><string>https://example.org/appcast.xml</string></dict></plist>\n";
        QVERIFY(VarnoTest::writeFile(dir.filePath(QStringLiteral("VARNO.app/Contents/Info.plist")), plist));
        MainBundle::setPathOverride(dir.filePath(QStringLiteral("VARNO.app")));
        QPointer<FakeUpdaterController> fake;
        Updater::setFactory([&fake](const QString &) {
            auto controller = std::make_unique<FakeUpdaterController>();
            fake = controller.get();
            controller->setCanCheckForUpdates(true);
            return controller;
        });
        SparkleUpdater updater;
        Updater::setFactory({});
        MainBundle::setPathOverride(std::nullopt);
        QVERIFY(fake);
        QVERIFY(updater.canCheckForUpdates());

        SparkleUpdater::setShared(&updater);
        AppModel model;
        SidebarView sidebar(&model);
        sidebar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sidebar));
        QVERIFY(sidebar.checkChip()->isVisible());
        QCOMPARE(fake->userChecks(), 0);
        QTest::mouseClick(sidebar.checkChip(), Qt::LeftButton);
        QCOMPARE(fake->userChecks(), 1);
        QCOMPARE(fake->backgroundChecks(), 0);
        SparkleUpdater::setShared(nullptr);
    }
};

VARNO_TEST_CLASS(TestSidebar)
#include "tst_sidebar.moc"
