#include "ModelFixture.h"
#include "TestRegistry.h"

#include "platform/UserDefaults.h"

#include <QSignalSpy>
#include <QTest>

namespace {

QStringList ids(const QList<AppRecord> &records)
{
    QStringList result;
    for (const AppRecord &record : records)
        result.append(record.bundle_id);
    return result;
}

} // namespace

class TestModelState : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void freshInstallStartsWithOnboardingAndNoFlags()
    {
        VarnoTest::TempHome home;
        AppModel model(FakeModelServices().services());
        QVERIFY(model.showOnboarding());
        QVERIFY(!model.hasEverScanned());
        QVERIFY(!model.detailsMode());
        QVERIFY(!model.allowUnsignedAdopt());
        QVERIFY(model.apps().isEmpty());
        QVERIFY(!model.error());
        QCOMPARE(model.selectedFilter(), AppFilter::all);
        QCOMPARE(model.macOSUpdateStatus().headline, QStringLiteral("macOS update check unavailable"));
        QVERIFY(model.brewHealth().isUnknown());
        QVERIFY(model.masHealth().isUnknown());
        QVERIFY(!model.isBusy());
        QVERIFY(!model.hasDetectionFailure());
    }

    // A library is applied only when it differs from the one applied: an
    // equal list (another copy or the same data) tells nobody and keeps the
    // revision; any difference, down to one field or the order, is applied.
    void aLibraryIsAppliedOnlyWhenItDiffers()
    {
        VarnoTest::TempHome home;
        AppModel model(FakeModelServices().services());
        const AppRecord alpha = makeRecord(R"({"bundle_id":"org.alpha","app_name":"Alpha","latest_version":"2.0"})");
        const AppRecord beta = makeRecord(R"({"bundle_id":"org.beta","app_name":"Beta","latest_version":"1.0"})");
        const AppRecord betaNewer = makeRecord(R"({"bundle_id":"org.beta","app_name":"Beta","latest_version":"1.1"})");
        const QList<AppRecord> pair{alpha, beta};
        struct Step {
            const char *what;
            QList<AppRecord> library;
            bool applied;
        };
        const QList<Step> steps{
            {"the first library, empty as it is", {}, true},
            {"the empty library again", {}, false},
            {"two apps", pair, true},
            {"the same list", pair, false},
            {"an equal copy of it", QList<AppRecord>{alpha, beta}, false},
            {"one field of one record changed", {alpha, betaNewer}, true},
            {"the same records in another order", {betaNewer, alpha}, true},
            {"one record fewer", {betaNewer}, true},
        };
        QSignalSpy changed(&model, &AppModel::appsChanged);
        for (const Step &step : steps) {
            const quint64 revision = model.libraryRevision();
            changed.clear();
            model.setApps(step.library);
            QVERIFY2(changed.count() == (step.applied ? 1 : 0), step.what);
            QVERIFY2((model.libraryRevision() != revision) == step.applied, step.what);
            QVERIFY2(model.apps() == step.library, step.what);
            QVERIFY2(model.hasLibrary(), step.what);
        }
    }

    void persistedFlagsAreReadAndWritten()
    {
        VarnoTest::TempHome home;
        {
            auto defaults = UserDefaults::open();
            defaults->setValue(AppModel::hasEverScannedKey, true);
            defaults->setValue(AppModel::onboardingDoneKey, true);
        }
        AppModel model(FakeModelServices().services());
        QVERIFY(model.hasEverScanned());
        QVERIFY(!model.showOnboarding());

        QSignalSpy spy(&model, &AppModel::detailsModeChanged);
        model.setDetailsMode(true);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(UserDefaults::open()->value(AppModel::detailsModeKey).toBool(), true);

        // Assigning the same value writes the default again (it was removed
        // behind the model's back) without a second change signal.
        UserDefaults::open()->remove(AppModel::detailsModeKey);
        model.setDetailsMode(true);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(UserDefaults::open()->value(AppModel::detailsModeKey).toBool(), true);

        model.setAllowUnsignedAdopt(true);
        QCOMPARE(UserDefaults::open()->value(AppModel::allowUnsignedAdoptKey).toBool(), true);
        // showOnboarding is not written back by its own assignment.
        model.setShowOnboarding(true);
        QCOMPARE(UserDefaults::open()->value(AppModel::onboardingDoneKey).toBool(), true);
    }

    void derivedListsKeepLibraryOrder()
    {
        VarnoTest::TempHome home;
        AppModel model(FakeModelServices().services());
        model.setApps({
            makeRecord(
                "{\"bundle_id\":\"a\",\"app_name\":\"A\",\"update_mechanism\":\"cask\",\"current_version\":\"1\",\"latest_version\":\"2\"}"),
            makeRecord(
                "{\"bundle_id\":\"b\",\"app_name\":\"B\",\"update_mechanism\":\"Cask\",\"current_version\":\"1\",\"latest_version\":\"1\"}"),
            makeRecord("{\"bundle_id\":\"c\",\"app_name\":\"C\",\"update_mechanism\":\"SPARKLE_INTERNAL\"}"),
            makeRecord("{\"bundle_id\":\"d\",\"app_name\":\"D\",\"update_mechanism\":\"sparkle\",\"self_managed\":true}"),
            makeRecord("{\"bundle_id\":\"e\",\"app_name\":\"E\",\"self_managed\":false,\"vendor_self_update\":true}"),
            makeRecord("{\"bundle_id\":\"f\",\"app_name\":\"F\",\"vendor_self_update\":true}"),
            makeRecord("{\"bundle_id\":\"g\",\"app_name\":\"G\",\"update_mode\":\"self\"}"),
            makeRecord(
                "{\"bundle_id\":\"h\",\"app_name\":\"H\",\"update_mechanism\":\"mas\",\"risk_tier\":\"Critical\",\"current_version\":\"1\",\"latest_version\":\"2\"}"),
            makeRecord(
                "{\"bundle_id\":\"i\",\"app_name\":\"I\",\"risk_tier\":\"high\",\"current_version\":\"2\",\"latest_version\":\"2\"}"),
            makeRecord(
                "{\"bundle_id\":\"j\",\"app_name\":\"J\",\"risk_tier\":\"critical\",\"update_mode\":\"ignore\",\"current_version\":\"1\",\"latest_version\":\"2\"}"),
            // The mechanism in any case, but only as it lowers: a dotted
            // capital I lowers to two characters, a blank is kept; the mode
            // exactly.
            makeRecord("{\"bundle_id\":\"k\",\"app_name\":\"K\",\"update_mechanism\":\"Vendor_Self_Update\"}"),
            makeRecord("{\"bundle_id\":\"l\",\"app_name\":\"L\",\"update_mechanism\":\"SPARKLE_\u0130NTERNAL\"}"),
            makeRecord("{\"bundle_id\":\"m\",\"app_name\":\"M\",\"update_mechanism\":\"vendor_self_update \"}"),
            makeRecord("{\"bundle_id\":\"n\",\"app_name\":\"N\",\"update_mode\":\"Self\"}"),
        });
        QCOMPARE(ids(model.brewApps()), QStringList({QStringLiteral("a")}));
        QCOMPARE(ids(model.masApps()), QStringList({QStringLiteral("h")}));
        QCOMPARE(ids(model.sparkleApps()), QStringList({QStringLiteral("d")}));
        QCOMPARE(ids(model.selfManagedApps()),
                 QStringList({QStringLiteral("c"), QStringLiteral("d"), QStringLiteral("f"), QStringLiteral("g"),
                              QStringLiteral("k")}));
        QCOMPARE(ids(model.outdatedApps()), QStringList({QStringLiteral("a"), QStringLiteral("h")}));
        QCOMPARE(ids(model.outdatedBrewApps()), QStringList({QStringLiteral("a")}));
        QCOMPARE(ids(model.atRiskApps()), QStringList({QStringLiteral("h"), QStringLiteral("i")}));
        QCOMPARE(ids(model.urgentApps()), QStringList({QStringLiteral("h")}));
    }

    void detectionFailureNeedsAScanAndAnEmptyBucket()
    {
        VarnoTest::TempHome home;
        AppModel model(FakeModelServices().services());
        model.setApps({
            makeRecord("{\"bundle_id\":\"a\",\"app_name\":\"A\",\"update_mechanism\":\"cask\"}"),
            makeRecord("{\"bundle_id\":\"b\",\"app_name\":\"B\",\"update_mechanism\":\"mas\"}"),
            makeRecord("{\"bundle_id\":\"c\",\"app_name\":\"C\",\"update_mechanism\":\"sparkle\"}"),
        });
        QVERIFY(!model.hasDetectionFailure());
        model.setHasEverScanned(true);
        QVERIFY(model.hasDetectionFailure());
        QList<AppRecord> apps = model.apps();
        apps.append(makeRecord("{\"bundle_id\":\"d\",\"app_name\":\"D\",\"update_mode\":\"self\"}"));
        model.setApps(apps);
        QVERIFY(!model.hasDetectionFailure());
    }

    void selectionAndWaitingApps()
    {
        VarnoTest::TempHome home;
        AppModel model(FakeModelServices().services());
        model.setApps({
            makeRecord(
                "{\"bundle_id\":\"x\",\"app_name\":\"First\",\"last_incident_code\":\"UPDATE_MODE_ASK_HEADLESS\",\"last_incident_kind\":\"skipped\"}"),
            makeRecord("{\"bundle_id\":\"x\",\"app_name\":\"Second\"}"),
            makeRecord(
                "{\"bundle_id\":\"y\",\"app_name\":\"Y\",\"last_incident_code\":\"NETWORK_TIMEOUT\",\"last_incident_kind\":\"failed\"}"),
        });
        QVERIFY(!model.selectedApp());
        model.setSelectedBundleID(QStringLiteral("x"));
        QCOMPARE(model.selectedApp()->app_name, QStringLiteral("First"));
        model.setSelectedBundleID(QStringLiteral("nope"));
        QVERIFY(!model.selectedApp());

        model.reconcileIncidents(model.apps(), 0);
        QCOMPARE(ids(model.waitingForOKApps()), QStringList({QStringLiteral("x"), QStringLiteral("x")}));
    }

    void postureSnapshotCountsTheLists()
    {
        VarnoTest::TempHome home;
        AppModel model(FakeModelServices().services());
        model.setApps({
            makeRecord(
                "{\"bundle_id\":\"a\",\"app_name\":\"A\",\"risk_tier\":\"high\",\"current_version\":\"1\",\"latest_version\":\"2\"}"),
            makeRecord("{\"bundle_id\":\"b\",\"app_name\":\"B\",\"version_check_status\":\"unmeasured\"}"),
        });
        model.setError(QStringLiteral("boom"));
        const PostureSnapshot snapshot = model.postureSnapshot();
        QCOMPARE(snapshot.outdatedCount, 1);
        QCOMPARE(snapshot.atRiskCount, 1);
        QCOMPARE(snapshot.sensingGapCount, 1);
        QCOMPARE(snapshot.error.value_or(QString()), QStringLiteral("boom"));
    }

    void emptyLibraryHasEmptyLists()
    {
        VarnoTest::TempHome home;
        AppModel model(FakeModelServices().services());
        model.setHasEverScanned(true);
        QVERIFY(model.outdatedApps().isEmpty());
        QVERIFY(model.sensingGapApps().isEmpty());
        QVERIFY(model.waitingForOKApps().isEmpty());
        QVERIFY(model.hasDetectionFailure());
    }
};

VARNO_TEST_CLASS(TestModelState)

#include "tst_modelstate.moc"
