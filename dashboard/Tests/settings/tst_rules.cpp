#include "TestRegistry.h"

#include "settings/SettingsRules.h"

#include <QTest>

// The Settings window's texts and gates, without widgets.
class TestSettingsRules : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void storageTexts_data()
    {
        QTest::addColumn<qint64>("snapshots");
        QTest::addColumn<qint64>("apps");
        QTest::addColumn<qint64>("pendingCount");
        QTest::addColumn<qint64>("pendingBytes");
        QTest::addColumn<QString>("snapshotText");
        QTest::addColumn<bool>("reclaimableShown");
        QTest::addColumn<QString>("reclaimable");
        QTest::addColumn<QString>("sentence");

        QTest::newRow("nothing pending") << qint64(0) << qint64(0) << qint64(0) << qint64(0) << "0 across 0 apps"
                                         << false << "0 bytes (0 snapshots)"
                                         << "Nothing to clear right now \u2014 everything is within policy.";
        QTest::newRow("plural kept for one") << qint64(1) << qint64(1) << qint64(1) << qint64(1536) << "1 across 1 apps"
                                             << true << "1.5 KB (1 snapshots)"
                                             << "VARNO can free 1.5 KB of old backups. Nothing has been deleted.";
        QTest::newRow("no grouping in large counts")
            << qint64(12345) << qint64(1200) << qint64(2500) << qint64(5368709120LL) << "12345 across 1200 apps" << true
            << "5.0 GB (2500 snapshots)"
            << "VARNO can free 5.0 GB of old backups. Nothing has been deleted.";
        QTest::newRow("a negative plan counts as nothing")
            << qint64(2) << qint64(1) << qint64(-1) << qint64(0) << "2 across 1 apps" << false << "0 bytes (-1 snapshots)"
            << "Nothing to clear right now \u2014 everything is within policy.";
    }

    void storageTexts()
    {
        QFETCH(qint64, snapshots);
        QFETCH(qint64, apps);
        QFETCH(qint64, pendingCount);
        QFETCH(qint64, pendingBytes);
        RetentionUsage usage;
        usage.snapshotCount = snapshots;
        usage.bundleCount = apps;
        RetentionPlan plan;
        plan.count = pendingCount;
        plan.bytes = pendingBytes;
        QTEST(StorageRules::snapshotsText(usage), "snapshotText");
        QTEST(StorageRules::showsReclaimable(plan), "reclaimableShown");
        QTEST(StorageRules::showsPruneOnce(plan), "reclaimableShown");
        QTEST(StorageRules::reclaimableText(plan), "reclaimable");
        QTEST(StorageRules::cleanupSentence(plan), "sentence");
    }

    void consentFooter_data()
    {
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("granted");
        QTest::addColumn<QString>("footer");
        const QString plain = QStringLiteral("VARNO does not delete backups until you say so.");
        QTest::newRow("never asked") << false << false << plain;
        QTest::newRow("declined") << true << false << "You previously declined. VARNO is not deleting anything.";
        QTest::newRow("granted") << true << true << plain;
        QTest::newRow("granted without asking") << false << true << plain;
    }

    void consentFooter()
    {
        QFETCH(bool, asked);
        QFETCH(bool, granted);
        RetentionConsent consent;
        consent.asked = asked;
        consent.granted = granted;
        QTEST(StorageRules::consentFooter(consent), "footer");
    }

    void stepperValuesAndArguments()
    {
        QCOMPARE(StorageRules::keepAccessibleValue(3), QStringLiteral("3 per app"));
        QCOMPARE(StorageRules::daysText(3650), QStringLiteral("3650 days"));
        QCOMPARE(StorageRules::policyArguments(12, 1500), QStringList({"--keep", "12", "--days", "1500"}));
        QCOMPARE(StorageRules::daysStep, 15);
        QCOMPARE(StorageRules::keepMaximum, 50);
        QCOMPARE(StorageRules::daysMaximum, 3650);
    }

    void sources_data()
    {
        QTest::addColumn<DeveloperSource>("source");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("subtitle");
        QTest::addColumn<bool>("perProject");
        QTest::newRow("formulae") << DeveloperSource::homebrewFormulae << "Homebrew formulae"
                                  << "Formula-based tools and CLIs." << false;
        QTest::newRow("casks") << DeveloperSource::homebrewCasks << "Homebrew casks"
                               << "Desktop apps delivered through casks." << false;
        QTest::newRow("npm") << DeveloperSource::npm << "npm projects"
                             << "JavaScript toolchains and lockfiles." << true;
        QTest::newRow("python") << DeveloperSource::python << "Python runtimes"
                                << "Virtualenvs, packages, and runtimes." << true;
        QTest::newRow("vendor") << DeveloperSource::vendorInstallers << "Vendor installers"
                                << "Updaters that ship outside package managers." << true;
    }

    void sources()
    {
        QFETCH(DeveloperSource, source);
        QFETCH(bool, perProject);
        QTEST(WorkbenchRules::title(source), "title");
        QTEST(WorkbenchRules::subtitle(source), "subtitle");
        QCOMPARE(WorkbenchRules::perProjectSources().contains(source), perProject);
        QCOMPARE(WorkbenchRules::machineWideSources().contains(source), !perProject);
    }

    void groupsKeepTheirOrder()
    {
        QCOMPARE(WorkbenchRules::machineWideSources(),
                 QList<DeveloperSource>({DeveloperSource::homebrewFormulae, DeveloperSource::homebrewCasks}));
        QCOMPARE(WorkbenchRules::perProjectSources(),
                 QList<DeveloperSource>(
                     {DeveloperSource::npm, DeveloperSource::python, DeveloperSource::vendorInstallers}));
    }

    void shownPolicy_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<DeveloperUpdatePolicy>("shown");
        QTest::newRow("track") << "track_only" << DeveloperUpdatePolicy::trackOnly;
        QTest::newRow("ask") << "ask_before_updating" << DeveloperUpdatePolicy::askBeforeUpdating;
        QTest::newRow("unknown") << "nightly" << DeveloperUpdatePolicy::trackOnly;
        QTest::newRow("case matters") << "Ask_Before_Updating" << DeveloperUpdatePolicy::trackOnly;
        QTest::newRow("empty") << "" << DeveloperUpdatePolicy::trackOnly;
    }

    void shownPolicy()
    {
        QFETCH(QString, raw);
        QTEST(WorkbenchRules::shownPolicy(raw), "shown");
    }

    void policyLabels()
    {
        QCOMPARE(WorkbenchRules::label(DeveloperUpdatePolicy::trackOnly), QStringLiteral("Track only"));
        QCOMPARE(WorkbenchRules::label(DeveloperUpdatePolicy::askBeforeUpdating), QStringLiteral("Ask first"));
    }

    void folderWarning_data()
    {
        QTest::addColumn<QStringList>("on");
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<bool>("warning");
        QTest::newRow("nothing on") << QStringList() << QStringList() << false;
        QTest::newRow("machine-wide only")
            << QStringList({"homebrewFormulae", "homebrewCasks"}) << QStringList() << false;
        QTest::newRow("npm without folder") << QStringList({"npm"}) << QStringList() << true;
        QTest::newRow("python without folder") << QStringList({"python"}) << QStringList() << true;
        QTest::newRow("vendor installers without folder") << QStringList({"vendorInstallers"}) << QStringList() << true;
        QTest::newRow("with a folder") << QStringList({"npm", "python"}) << QStringList({"/p"}) << false;
    }

    void folderWarning()
    {
        QFETCH(QStringList, on);
        QFETCH(QStringList, folders);
        DeveloperWorkbenchState state;
        for (const QString &raw : on)
            state.setEnabled(*DeveloperWorkbench::sourceFromRawValue(raw), true);
        state.projectFolders = folders;
        QTEST(WorkbenchRules::needsFolderWarning(state), "warning");
    }

    void addingFolders_data()
    {
        QTest::addColumn<QStringList>("current");
        QTest::addColumn<QStringList>("chosen");
        QTest::addColumn<QStringList>("result");
        QTest::newRow("sorted by code point")
            << QStringList({"/c"}) << QStringList({"/b", "/A"}) << QStringList({"/A", "/b", "/c"});
        QTest::newRow("a listed folder stays once")
            << QStringList({"/a", "/b"}) << QStringList({"/b"}) << QStringList({"/a", "/b"});
        QTest::newRow("duplicates already stored go")
            << QStringList({"/z", "/z", "/a"}) << QStringList() << QStringList({"/a", "/z"});
        QTest::newRow("empty texts dropped") << QStringList({""}) << QStringList({"", "/x"}) << QStringList({"/x"});
        QTest::newRow("beyond the basic plane after it")
            << QStringList({QStringLiteral("/\U0001F600")}) << QStringList({QStringLiteral("/\uFF21")})
            << QStringList({QStringLiteral("/\uFF21"), QStringLiteral("/\U0001F600")});
    }

    void addingFolders()
    {
        QFETCH(QStringList, current);
        QFETCH(QStringList, chosen);
        QTEST(WorkbenchRules::addingFolders(current, chosen), "result");
    }

    void removingFolder_data()
    {
        QTest::addColumn<QStringList>("current");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("result");
        QTest::newRow("every equal entry") << QStringList({"/b", "/a", "/b"}) << "/b" << QStringList({"/a"});
        QTest::newRow("order of the rest kept") << QStringList({"/z", "/a", "/m"}) << "/a" << QStringList({"/z", "/m"});
        QTest::newRow("not listed") << QStringList({"/a"}) << "/A" << QStringList({"/a"});
        QTest::newRow("the last one") << QStringList({"/a"}) << "/a" << QStringList();
    }

    void removingFolder()
    {
        QFETCH(QStringList, current);
        QFETCH(QString, path);
        QTEST(WorkbenchRules::removingFolder(current, path), "result");
    }

    void privacyTexts()
    {
        // The read message has a straight apostrophe, the two others a curly one.
        QCOMPARE(PrivacyRules::readFailedPrefix, QStringLiteral("Couldn't read telemetry status: "));
        QCOMPARE(PrivacyRules::updateFailedPrefix, QStringLiteral("Couldn\u2019t update telemetry preference: "));
        QCOMPARE(PrivacyRules::forgetFailedPrefix, QStringLiteral("Couldn\u2019t forget telemetry state: "));
        QCOMPARE(PrivacyRules::telemetryAction(true), QStringLiteral("opt-in"));
        QCOMPARE(PrivacyRules::telemetryAction(false), QStringLiteral("opt-out"));
    }
};

VARNO_TEST_CLASS(TestSettingsRules)

#include "tst_rules.moc"
