#include "TestRegistry.h"
#include "TestSupport.h"

#include "ModelFixture.h"

#include "workshop/LibraryFilters.h"
#include "workshop/ShelfRules.h"

#include <QTest>

using ShelfRules::ShelfState;

namespace {

QList<AppRecord> shelfLibrary()
{
    return {
        makeRecord(
            R"({"bundle_id":"com.tinyco.Notes","app_name":"Quill Notes","current_version":"1.0","latest_version":"1.2","update_mechanism":"cask"})"),
        makeRecord(
            R"({"bundle_id":"org.ignored.one","app_name":"Ignored Newer","current_version":"1.0","latest_version":"2.0","update_mechanism":"cask","user_ignored":1})"),
        makeRecord(
            R"({"bundle_id":"org.ignored.zero","app_name":"Zero Ignored","current_version":"1.0","latest_version":"2.0","update_mechanism":"Cask","user_ignored":0})"),
        makeRecord(
            R"({"bundle_id":"org.latest","app_name":"Latest Word","current_version":"1.0","latest_version":"LaTeSt","update_mechanism":"mas"})"),
        makeRecord(
            R"({"bundle_id":"org.status.empty","app_name":"Empty Status","current_version":"1.0","latest_version":"2.0","version_check_status":"","update_mechanism":"sparkle"})"),
        makeRecord(
            R"({"bundle_id":"org.status.outdated","app_name":"Said Outdated","current_version":"2.0","latest_version":"1.0","version_check_status":"OUTDATED"})"),
        makeRecord(
            R"({"bundle_id":"org.risky.current","app_name":"Risky Current","current_version":"3.0","latest_version":"3.0","risk_tier":"Critical","update_mechanism":"sparkle"})"),
        makeRecord(
            R"({"bundle_id":"org.mode.ignore","app_name":"Mode Ignore","current_version":"1.0","latest_version":"2.0","update_mode":"ignore","risk_tier":"high"})"),
        makeRecord(
            R"({"bundle_id":"org.self","app_name":"Selfish","current_version":"5","update_mechanism":"sparkle_internal","version_check_status":"unmeasured"})"),
        makeRecord(
            R"({"bundle_id":"org.verified","app_name":"Proven","current_version":"2.0","latest_version":"2.0","update_mechanism":"cask","last_sha256":"ab","last_team_id":"T1"})"),
    };
}

QStringList ids(const QList<AppRecord> &apps, const QList<qsizetype> &positions)
{
    QStringList list;
    for (const qsizetype position : positions)
        list.append(apps.at(position).bundle_id);
    return list;
}

} // namespace

// The shelf's rules: which records each filter keeps, what the search keeps,
// the one state the shelf shows, its texts and its grid's columns.
class TestShelfRules : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void membership_data()
    {
        QTest::addColumn<AppFilter>("filter");
        QTest::addColumn<QStringList>("members");
        QTest::newRow("outdated: ignored 1 no, ignored 0 yes, \"latest\" no, empty status by versions, status word")
            << AppFilter::outdated
            << QStringList{"com.tinyco.Notes", "org.ignored.zero", "org.status.empty", "org.status.outdated"};
        QTest::newRow("at risk whether outdated or not, never when excluded")
            << AppFilter::atRisk << QStringList{"org.risky.current"};
        QTest::newRow("verified") << AppFilter::verified << QStringList{"org.verified"};
        QTest::newRow("not checked") << AppFilter::unmeasured << QStringList{"org.self"};
        QTest::newRow("homebrew: exactly \"cask\"")
            << AppFilter::brew << QStringList{"com.tinyco.Notes", "org.ignored.one", "org.verified"};
        QTest::newRow("app store") << AppFilter::mas << QStringList{"org.latest"};
        QTest::newRow("sparkle, none without a mechanism")
            << AppFilter::sparkle << QStringList{"org.status.empty", "org.risky.current"};
        QTest::newRow("self-managed") << AppFilter::selfManaged << QStringList{"org.self"};
    }

    void membership()
    {
        QFETCH(AppFilter, filter);
        QFETCH(QStringList, members);
        const QList<AppRecord> apps = shelfLibrary();
        QCOMPARE(ids(apps, LibraryFilters::filteredIndices(apps, filter, QString())), members);
        // The same rule as the model's own list where there is one.
        VarnoTest::TempHome home;
        AppModel model;
        model.setApps(apps);
        if (filter == AppFilter::outdated)
            QCOMPARE(LibraryFilters::apps(model, filter), model.outdatedApps());
        if (filter == AppFilter::unmeasured)
            QCOMPARE(LibraryFilters::apps(model, filter), model.unmeasuredApps());
        if (filter == AppFilter::selfManaged)
            QCOMPARE(LibraryFilters::apps(model, filter), model.selfManagedApps());
    }

    void search_data()
    {
        QTest::addColumn<AppFilter>("filter");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("members");
        QTest::newRow("name in capitals, blanks and a line break around it")
            << AppFilter::all << QStringLiteral("  QUILL NOTES \n") << QStringList{"com.tinyco.Notes"};
        QTest::newRow("only blanks keep the whole filtered list")
            << AppFilter::sparkle << QStringLiteral("   ") << QStringList{"org.status.empty", "org.risky.current"};
        QTest::newRow("part of the bundle id when the name lacks it")
            << AppFilter::all << QStringLiteral("tinyco") << QStringList{"com.tinyco.Notes"};
        QTest::newRow("the search narrows the filter's own list")
            << AppFilter::brew << QStringLiteral("o")
            << QStringList{"com.tinyco.Notes", "org.ignored.one", "org.verified"};
        QTest::newRow("no match") << AppFilter::brew << QStringLiteral("selfish") << QStringList{};
    }

    void search()
    {
        QFETCH(AppFilter, filter);
        QFETCH(QString, text);
        QFETCH(QStringList, members);
        const QList<AppRecord> apps = shelfLibrary();
        QCOMPARE(ids(apps, LibraryFilters::filteredIndices(apps, filter, text)), members);
    }

    void stateChoice_data()
    {
        QTest::addColumn<bool>("scanning");
        QTest::addColumn<bool>("appsEmpty");
        QTest::addColumn<bool>("error");
        QTest::addColumn<bool>("everScanned");
        QTest::addColumn<bool>("scanDate");
        QTest::addColumn<bool>("filteredEmpty");
        QTest::addColumn<bool>("details");
        QTest::addColumn<AppFilter>("filter");
        QTest::addColumn<ShelfState>("state");
        //                                     scan   empty  error  ever   date   fEmpty details
        QTest::newRow("scan over empty library, even with an error")
            << true << true << true << true << true << true << false << AppFilter::all << ShelfState::placeholders;
        QTest::newRow("error") << false << true << true << true << true << true << false << AppFilter::all
                               << ShelfState::error;
        QTest::newRow("tidy: scanned, no scan time")
            << false << true << false << true << false << true << false << AppFilter::all << ShelfState::tidy;
        QTest::newRow("load failed: scanned with a scan time")
            << false << true << false << true << true << true << false << AppFilter::all << ShelfState::loadFailed;
        QTest::newRow("first run") << false << true << false << false << false << true << true << AppFilter::brew
                                   << ShelfState::firstRun;
        QTest::newRow("filter empty") << false << false << true << true << true << true << false << AppFilter::brew
                                      << ShelfState::filterEmpty;
        QTest::newRow("all filter empty shows tidy")
            << false << false << false << true << true << true << false << AppFilter::all << ShelfState::tidy;
        QTest::newRow("no empty state during a scan over a library")
            << true << false << false << true << true << true << false << AppFilter::mas << ShelfState::cardGrid;
        QTest::newRow("details") << false << false << false << true << true << false << true << AppFilter::all
                                 << ShelfState::detailsList;
        QTest::newRow("grid") << true << false << false << true << true << false << false << AppFilter::all
                              << ShelfState::cardGrid;
    }

    void stateChoice()
    {
        QFETCH(bool, scanning);
        QFETCH(bool, appsEmpty);
        QFETCH(bool, error);
        QFETCH(bool, everScanned);
        QFETCH(bool, scanDate);
        QFETCH(bool, filteredEmpty);
        QFETCH(bool, details);
        QFETCH(AppFilter, filter);
        QFETCH(ShelfState, state);
        ShelfRules::Inputs in;
        in.isScanning = scanning;
        in.appsEmpty = appsEmpty;
        in.hasError = error;
        in.hasEverScanned = everScanned;
        in.hasLastScanDate = scanDate;
        in.filteredEmpty = filteredEmpty;
        in.detailsMode = details;
        in.filter = filter;
        QCOMPARE(ShelfRules::state(in), state);
    }

    void stateTexts_data()
    {
        QTest::addColumn<ShelfState>("state");
        QTest::addColumn<AppFilter>("filter");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("subtitle");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("artwork");
        QTest::newRow("tidy") << ShelfState::tidy << AppFilter::all << "Nothing to fix."
                              << "Brusk has checked the whole library."
                              << "" << 120;
        QTest::newRow("load failed")
            << ShelfState::loadFailed << AppFilter::all << "Library didn't load."
            << "A scan ran, but Brusk couldn't show the apps. Retry reload — open Diagnostics if it keeps happening."
            << "Reload library" << 120;
        QTest::newRow("first run") << ShelfState::firstRun << AppFilter::all << "Let's take a look."
                                   << "Brusk hasn't scanned your library yet."
                                   << "Scan now" << 120;
        QTest::newRow("error without text") << ShelfState::error << AppFilter::all << "Something's not right."
                                            << "Brusk couldn't read the library."
                                            << "Try again" << 120;
        QTest::newRow("outdated") << ShelfState::filterEmpty << AppFilter::outdated << "Nothing pending here."
                                  << "Brusk does not currently see any app updates waiting in this view."
                                  << "" << 112;
        QTest::newRow("at risk")
            << ShelfState::filterEmpty << AppFilter::atRisk << "No urgent app security updates right now."
            << "This view will surface urgent app security updates when VARNO has enough evidence to flag them."
            << "" << 112;
        QTest::newRow("verified")
            << ShelfState::filterEmpty << AppFilter::verified << "No verified apps yet."
            << "Verified means VARNO has local provenance evidence for the app's update path (checksum and Team ID) and an independent version check completed."
            << "" << 112;
        QTest::newRow("not checked")
            << ShelfState::filterEmpty << AppFilter::unmeasured << "Everything Brusk can sense has a version check."
            << "Not checked means VARNO classified the app but has not independently confirmed its latest version (common for App Store without the mas CLI, or vendor self-updaters without a version probe). This is honest ignorance — not a green bill of health."
            << "" << 112;
        QTest::newRow("homebrew") << ShelfState::filterEmpty << AppFilter::brew << "No Homebrew apps found."
                                  << "VARNO will show Homebrew-managed apps here when it sees them in the library."
                                  << "" << 112;
        QTest::newRow("app store") << ShelfState::filterEmpty << AppFilter::mas << "No App Store apps found."
                                   << "VARNO will show App Store-managed apps here when it sees them in the library."
                                   << "" << 112;
        QTest::newRow("sparkle") << ShelfState::filterEmpty << AppFilter::sparkle << "No Sparkle apps found."
                                 << "VARNO will show Sparkle-managed apps here when it sees them in the library."
                                 << "" << 112;
        QTest::newRow("self-managed")
            << ShelfState::filterEmpty << AppFilter::selfManaged << "No self-managed apps found."
            << "Apps like Chrome, Microsoft Office, or Slack that update through their own vendor mechanism will show up here once Brusk spots them."
            << "" << 112;
    }

    void stateTexts()
    {
        QFETCH(ShelfState, state);
        QFETCH(AppFilter, filter);
        QFETCH(QString, title);
        QFETCH(QString, subtitle);
        QFETCH(QString, button);
        QFETCH(int, artwork);
        const ShelfRules::StateBlock block = ShelfRules::stateBlock(state, filter, std::nullopt);
        QCOMPARE(block.title, title);
        QCOMPARE(block.subtitle, subtitle);
        QCOMPARE(block.button, button);
        QCOMPARE(block.artworkSize, artwork);
        QCOMPARE(block.variant, artwork == 112 ? BruskVariant::sentry : BruskVariant::main);
    }

    void errorStateShowsTheErrorVerbatim()
    {
        const QString error = QStringLiteral("<b>engine</b> exited 2");
        QCOMPARE(ShelfRules::stateBlock(ShelfState::error, AppFilter::brew, error).subtitle, error);
    }

    void gridColumns_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("columns");
        QTest::newRow("narrower than one card") << 100 << 1;
        QTest::newRow("one card exactly") << 272 << 1;
        QTest::newRow("two cards exactly") << 32 + 240 + 10 + 240 << 2;
        QTest::newRow("less than a third") << 32 + 3 * 240 + 2 * 10 - 1 << 2;
        QTest::newRow("three") << 32 + 3 * 240 + 2 * 10 << 3;
        QTest::newRow("negative width") << -50 << 1;
    }

    void gridColumns()
    {
        QFETCH(int, width);
        QFETCH(int, columns);
        QCOMPARE(ShelfRules::gridColumns(width), columns);
        if (width > 0 && columns > 1)
            QVERIFY(ShelfRules::columnWidth(width, columns) >= ShelfRules::kMinimumCardWidth);
    }

    void widerColumnsBeforeAnotherColumn()
    {
        // Widening by less than another column widens the two columns.
        const int two = 32 + 240 + 10 + 240;
        QCOMPARE(ShelfRules::columnWidth(two, 2), 240);
        QCOMPARE(ShelfRules::gridColumns(two + 200), 2);
        QCOMPARE(ShelfRules::columnWidth(two + 200, 2), 340);
    }
};

VARNO_TEST_CLASS(TestShelfRules)
#include "tst_shelfrules.moc"
