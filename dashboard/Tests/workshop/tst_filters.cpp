#include "TestRegistry.h"
#include "TestSupport.h"

#include "model/AppModel.h"
#include "workshop/LibraryFilters.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

AppRecord record(const QByteArray &json)
{
    return VarnoTest::makeRecord(json);
}

// One record for each way into (or out of) a filter.
QList<AppRecord> library()
{
    return {
        record("{\"bundle_id\":\"cask.old\",\"app_name\":\"Old Cask\",\"current_version\":\"1.0\",\"latest_version\":\"1.2\",\"update_mechanism\":\"cask\"}"),
        record("{\"bundle_id\":\"cask.verified\",\"app_name\":\"Verified Cask\",\"current_version\":\"2.0\",\"latest_version\":\"2.0\",\"update_mechanism\":\"cask\",\"last_sha256\":\"ab\",\"last_team_id\":\"T1\"}"),
        record("{\"bundle_id\":\"cask.risky\",\"app_name\":\"Risky\",\"current_version\":\"3.0\",\"latest_version\":\"3.0\",\"update_mechanism\":\"cask\",\"risk_tier\":\"High\"}"),
        record("{\"bundle_id\":\"mas.unmeasured\",\"app_name\":\"Store\",\"current_version\":\"1.0\",\"update_mechanism\":\"mas\",\"version_check_status\":\"unmeasured\"}"),
        record("{\"bundle_id\":\"sparkle.old.urgent\",\"app_name\":\"Feed\",\"current_version\":\"1.0\",\"latest_version\":\"1.1\",\"update_mechanism\":\"sparkle\",\"risk_tier\":\"critical\"}"),
        record("{\"bundle_id\":\"case.mismatch\",\"app_name\":\"Upper\",\"current_version\":\"1.0\",\"latest_version\":\"1.0\",\"update_mechanism\":\"Cask\"}"),
        record("{\"bundle_id\":\"vendor.self\",\"app_name\":\"Vendor\",\"current_version\":\"5\",\"latest_version\":\"6\",\"update_mechanism\":\"vendor_self_update\"}"),
        record("{\"bundle_id\":\"mode.self\",\"app_name\":\"Mode Self\",\"current_version\":\"1\",\"update_mode\":\"self\"}"),
        record("{\"bundle_id\":\"ignored.risky\",\"app_name\":\"Ignored\",\"current_version\":\"1.0\",\"latest_version\":\"2.0\",\"update_mechanism\":\"cask\",\"risk_tier\":\"high\",\"update_mode\":\"ignore\"}"),
        record("{\"bundle_id\":\"no.mechanism\",\"app_name\":\"Loose\",\"current_version\":\"1.0\",\"latest_version\":\"latest\"}"),
    };
}

QStringList ids(const QList<AppRecord> &records)
{
    QStringList list;
    for (const AppRecord &r : records)
        list.append(r.bundle_id);
    return list;
}

} // namespace

// The nine filters: their titles, the lists the menus walk, which records
// each shows and the counts the sidebar gives them.
class TestLibraryFilters : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void titles_data()
    {
        QTest::addColumn<AppFilter>("filter");
        QTest::addColumn<QString>("title");
        QTest::newRow("all") << AppFilter::all << QStringLiteral("All Apps");
        QTest::newRow("outdated") << AppFilter::outdated << QStringLiteral("Outdated");
        QTest::newRow("atRisk") << AppFilter::atRisk << QStringLiteral("At Risk");
        QTest::newRow("verified") << AppFilter::verified << QStringLiteral("Verified");
        QTest::newRow("unmeasured") << AppFilter::unmeasured << QStringLiteral("Not checked");
        QTest::newRow("brew") << AppFilter::brew << QStringLiteral("Homebrew");
        QTest::newRow("mas") << AppFilter::mas << QStringLiteral("App Store");
        QTest::newRow("sparkle") << AppFilter::sparkle << QStringLiteral("Sparkle");
        QTest::newRow("selfManaged") << AppFilter::selfManaged << QStringLiteral("Self-managed");
    }

    void titles()
    {
        QFETCH(AppFilter, filter);
        QFETCH(QString, title);
        QCOMPARE(AppFilters::title(filter), title);
        QCOMPARE(AppFilters::fromTitle(title), std::optional<AppFilter>(filter));
        QCOMPARE(qHash(filter, 7), qHash(title, 7));
    }

    void unknownTitlesGiveNothing_data()
    {
        QTest::addColumn<QString>("title");
        QTest::newRow("other case") << QStringLiteral("not checked");
        QTest::newRow("case name") << QStringLiteral("unmeasured");
        QTest::newRow("padded") << QStringLiteral(" Outdated");
        QTest::newRow("empty") << QString();
    }

    void unknownTitlesGiveNothing()
    {
        QFETCH(QString, title);
        QCOMPARE(AppFilters::fromTitle(title), std::nullopt);
    }

    void lists()
    {
        const QList<AppFilter> all = AppFilters::allCases();
        QCOMPARE(all.size(), 9);
        QCOMPARE(all.first(), AppFilter::all);
        QCOMPARE(all.last(), AppFilter::selfManaged);
        QCOMPARE(AppFilters::menuBuckets(),
                 (QList<AppFilter>{AppFilter::all, AppFilter::outdated, AppFilter::atRisk, AppFilter::unmeasured,
                                   AppFilter::verified}));
    }

    void membershipAndCounts_data()
    {
        QTest::addColumn<AppFilter>("filter");
        QTest::addColumn<QStringList>("members");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("total"); // -1: no total

        QTest::newRow("all") << AppFilter::all << ids(library()) << 10 << -1;
        QTest::newRow("outdated") << AppFilter::outdated << QStringList{"cask.old", "sparkle.old.urgent", "vendor.self"}
                                  << 3 << -1;
        QTest::newRow("at risk, outdated or not, never ignored")
            << AppFilter::atRisk << QStringList{"cask.risky", "sparkle.old.urgent"} << 2 << -1;
        QTest::newRow("verified") << AppFilter::verified << QStringList{"cask.verified"} << 1 << -1;
        QTest::newRow("not checked") << AppFilter::unmeasured << QStringList{"mas.unmeasured"} << 1 << -1;
        QTest::newRow("homebrew, exact mechanism")
            << AppFilter::brew << QStringList{"cask.old", "cask.verified", "cask.risky", "ignored.risky"} << 1 << 4;
        QTest::newRow("app store") << AppFilter::mas << QStringList{"mas.unmeasured"} << 0 << 1;
        QTest::newRow("sparkle") << AppFilter::sparkle << QStringList{"sparkle.old.urgent"} << 1 << 1;
        QTest::newRow("self-managed") << AppFilter::selfManaged << QStringList{"vendor.self", "mode.self"} << 1 << 2;
    }

    void membershipAndCounts()
    {
        QFETCH(AppFilter, filter);
        QFETCH(QStringList, members);
        QFETCH(int, count);
        QFETCH(int, total);
        VarnoTest::TempHome home;
        AppModel model;
        model.setApps(library());
        QCOMPARE(ids(LibraryFilters::apps(model, filter)), members);
        QCOMPARE(LibraryFilters::count(model, filter), qsizetype(count));
        QCOMPARE(LibraryFilters::totalCount(model, filter),
                 total < 0 ? std::optional<qsizetype>() : std::optional<qsizetype>(total));
    }

    void search_data()
    {
        QTest::addColumn<AppFilter>("filter");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("members");
        QTest::newRow("blank keeps all") << AppFilter::outdated << QStringLiteral(" \n")
                                         << QStringList{"cask.old", "sparkle.old.urgent", "vendor.self"};
        QTest::newRow("name, any case, trimmed")
            << AppFilter::all << QStringLiteral("  cASK ") << QStringList{"cask.old", "cask.verified", "cask.risky"};
        QTest::newRow("bundle id") << AppFilter::all << QStringLiteral("urgent") << QStringList{"sparkle.old.urgent"};
        QTest::newRow("within the filter") << AppFilter::brew << QStringLiteral("feed") << QStringList{};
    }

    void search()
    {
        QFETCH(AppFilter, filter);
        QFETCH(QString, text);
        QFETCH(QStringList, members);
        VarnoTest::TempHome home;
        AppModel model;
        model.setApps(library());
        QCOMPARE(ids(LibraryFilters::filteredApps(model, filter, text)), members);
    }
};

VARNO_TEST_CLASS(TestLibraryFilters)

#include "tst_filters.moc"
