#include "DemoLibrary.h"
#include "TestRegistry.h"
#include "TestSupport.h"

#include "model/ModelText.h"
#include "records/AppRecord.h"

#include <QTest>

class TestModelText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void mechanismDisplayName_data()
    {
        QTest::addColumn<std::optional<QString>>("mechanism");
        QTest::addColumn<QString>("expected");
        auto text = [](const char *value) { return std::optional(QString::fromUtf8(value)); };
        QTest::newRow("cask") << text("cask") << QStringLiteral("Homebrew Cask");
        QTest::newRow("CASK in capitals") << text("CASK") << QStringLiteral("Homebrew Cask");
        QTest::newRow("mas") << text("mas") << QStringLiteral("Mac App Store");
        QTest::newRow("sparkle") << text("Sparkle") << QStringLiteral("Sparkle");
        QTest::newRow("sparkle_internal") << text("sparkle_internal") << QStringLiteral("Sparkle (built-in)");
        QTest::newRow("vendor_self_update") << text("vendor_self_update") << QStringLiteral("Vendor self-updater");
        QTest::newRow("empty") << text("") << QStringLiteral("Unknown");
        QTest::newRow("absent") << std::optional<QString>() << QStringLiteral("Unknown");
        QTest::newRow("outside the table, unchanged") << text("Brew_Tap") << QStringLiteral("Brew_Tap");
        QTest::newRow("unknown is printed as is") << text("unknown") << QStringLiteral("unknown");
    }

    void mechanismDisplayName()
    {
        QFETCH(std::optional<QString>, mechanism);
        QFETCH(QString, expected);
        QCOMPARE(ModelText::mechanismDisplayName(mechanism), expected);
    }

    // Over the demo library: every status phrase has an app that shows it.
    void statusSummaryOfDemoApps_data()
    {
        QTest::addColumn<QString>("bundleId");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ignored by mode, though outdated")
            << QStringLiteral("org.sim.brightside") << QStringLiteral("Ignored");
        QTest::newRow("ignored by the user") << QStringLiteral("org.sim.oldtimer") << QStringLiteral("Ignored");
        QTest::newRow("outdated") << QStringLiteral("org.sim.kettle") << QStringLiteral("Update available");
        QTest::newRow("current") << QStringLiteral("org.sim.inkwell") << QStringLiteral("Up to date");
        QTest::newRow("unmeasured") << QStringLiteral("org.sim.quillpad") << QStringLiteral("Not checked");
        QTest::newRow("catalog stale") << QStringLiteral("org.sim.vellum")
                                       << QStringLiteral("Catalog older than installed");
        QTest::newRow("unknown falls to the default")
            << QStringLiteral("org.sim.mossgrid") << QStringLiteral("Status unknown");
    }

    void statusSummaryOfDemoApps()
    {
        QFETCH(QString, bundleId);
        QFETCH(QString, expected);
        QCOMPARE(ModelText::statusSummary(PresentersTest::demoApp(bundleId)), expected);
    }

    void statusSummaryEdges_data()
    {
        QTest::addColumn<AppRecord>("app");
        QTest::addColumn<QString>("expected");
        QTest::newRow("engine says excluded without the user ignoring it")
            << PresentersTest::exampleApp([](AppRecord &a) { a.version_check_status = QStringLiteral("excluded"); })
            << QStringLiteral("Excluded");
        QTest::newRow("user_ignored 0 does not ignore") << PresentersTest::exampleApp([](AppRecord &a) {
            a.user_ignored = 0;
            a.version_check_status = QStringLiteral("current");
        }) << QStringLiteral("Up to date");
        QTest::newRow("negative user_ignored ignores") << PresentersTest::exampleApp([](AppRecord &a) {
            a.user_ignored = -1;
            a.version_check_status = QStringLiteral("outdated");
        }) << QStringLiteral("Ignored");
        QTest::newRow("mode IGNORE in capitals is not ignore") << PresentersTest::exampleApp([](AppRecord &a) {
            a.update_mode = QStringLiteral("IGNORE");
            a.version_check_status = QStringLiteral("outdated");
        }) << QStringLiteral("Update available");
    }

    void statusSummaryEdges()
    {
        QFETCH(AppRecord, app);
        QFETCH(QString, expected);
        QCOMPARE(ModelText::statusSummary(app), expected);
    }

    void appDetailsSummary_data()
    {
        QTest::addColumn<AppRecord>("app");
        QTest::addColumn<QString>("expected");

        QTest::newRow("demo app with every line")
            << PresentersTest::demoApp(QStringLiteral("org.sim.kettle"))
            << QStringLiteral("%1\nBundle ID: org.sim.kettle\nInstalled: 1.4\nLatest: 1.5\nMechanism: Sparkle\n"
                              "Status: Update available\nPath: %2")
                   .arg(PresentersTest::demoApp(QStringLiteral("org.sim.kettle")).app_name,
                        PresentersTest::demoApp(QStringLiteral("org.sim.kettle")).install_path.value_or(QString()));
        QTest::newRow("five lines without latest version and path")
            << PresentersTest::exampleApp([](AppRecord &a) {
                   a.current_version = QStringLiteral("2.0");
                   a.update_mechanism = QStringLiteral("mas");
                   a.version_check_status = QStringLiteral("unmeasured");
               })
            << QStringLiteral("Example\nBundle ID: com.example.app\nInstalled: 2.0\nMechanism: Mac App Store\n"
                              "Status: Not checked");
        QTest::newRow("absent version reads unknown, empty latest and path are left out")
            << PresentersTest::exampleApp([](AppRecord &a) {
                   a.latest_version = QString();
                   a.install_path = QString();
               })
            << QStringLiteral("Example\nBundle ID: com.example.app\nInstalled: unknown\nMechanism: Unknown\n"
                              "Status: Status unknown");
        QTest::newRow("empty installed version stays empty") << PresentersTest::exampleApp([](AppRecord &a) {
            a.current_version = QString();
            a.update_mechanism = QStringLiteral("Brew_Tap");
            a.update_mode = QStringLiteral("ignore");
        }) << QStringLiteral("Example\nBundle ID: com.example.app\nInstalled: \nMechanism: Brew_Tap\nStatus: Ignored");
    }

    void appDetailsSummary()
    {
        QFETCH(AppRecord, app);
        QFETCH(QString, expected);
        QCOMPARE(ModelText::appDetailsSummary(app), expected);
    }

    void updateModeLabel_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("expected");
        QTest::newRow("auto") << QStringLiteral("auto") << QStringLiteral("Automatic");
        QTest::newRow("ask") << QStringLiteral("ask") << QStringLiteral("Ask first");
        QTest::newRow("notify") << QStringLiteral("notify") << QStringLiteral("Notify only");
        QTest::newRow("ignore") << QStringLiteral("ignore") << QStringLiteral("Ignore");
        QTest::newRow("self") << QStringLiteral("self") << QStringLiteral("Use app\u2019s updater");
        QTest::newRow("AUTO is not auto") << QStringLiteral("AUTO") << QStringLiteral("Auto");
        QTest::newRow("words") << QStringLiteral("weekly digest MODE") << QStringLiteral("Weekly Digest Mode");
        QTest::newRow("underscores are not word breaks") << QStringLiteral("on_quit") << QStringLiteral("On_quit");
        QTest::newRow("empty") << QString() << QString();
    }

    void updateModeLabel()
    {
        QFETCH(QString, mode);
        QFETCH(QString, expected);
        QCOMPARE(ModelText::updateModeLabel(mode), expected);
    }
};

VARNO_TEST_CLASS(TestModelText)
#include "tst_modeltext.moc"
