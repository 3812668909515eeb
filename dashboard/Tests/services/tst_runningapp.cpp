#include "TestRegistry.h"
#include "TestScopes.h"
#include "TestSupport.h"

#include "engine/VARNOProcess.h"
#include "services/AppMetadata.h"
#include "services/DiagnosticsReport.h"

#include <QTemporaryDir>
#include <QTest>

// What the version facts and the report read of the running program.
class TestRunningAppFacts : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup()
    {
        MainBundle::setPathOverride(std::nullopt);
        AppMetadata::resetForTesting();
    }

    void versionFactsOfTheStagedBundle()
    {
        TestScopes::BundleScope bundle(VarnoTest::stagedBundlePath());
        AppMetadata::resetForTesting();
        QCOMPARE(AppMetadata::version(), QStringLiteral("0.9.14"));
        QCOMPARE(AppMetadata::build(), QStringLiteral("30"));
        QCOMPARE(AppMetadata::shortVersionLabel(), QStringLiteral("v0.9.14"));
        QCOMPARE(AppMetadata::bundleValue(QStringLiteral("CFBundleIdentifier")),
                 std::optional(QStringLiteral("org.varno.workshop")));
        QVERIFY(!AppMetadata::installedDateLabel().isEmpty());
    }

    void computedOncePerProcess()
    {
        QTemporaryDir dir;
        TestScopes::BundleScope first(
            TestScopes::makeFakeBundle(dir.path(),
                                       {{QStringLiteral("CFBundleShortVersionString"), QStringLiteral("2.0")}}));
        AppMetadata::resetForTesting();
        QCOMPARE(AppMetadata::version(), QStringLiteral("2.0"));
        MainBundle::setPathOverride(VarnoTest::stagedBundlePath());
        QCOMPARE(AppMetadata::version(), QStringLiteral("2.0"));
        AppMetadata::resetForTesting();
        QCOMPARE(AppMetadata::version(), QStringLiteral("0.9.14"));
    }

    void reportInputsComeFromTheApp()
    {
        TestScopes::BundleScope bundle(VarnoTest::stagedBundlePath());
        AppMetadata::resetForTesting();
        const DiagnosticsReport::Inputs inputs = DiagnosticsReport::Inputs::current();
        QCOMPARE(inputs.home, qEnvironmentVariable("HOME"));
        QCOMPARE(inputs.python3, VARNOProcess::python3());
        QCOMPARE(inputs.bundlePath, VarnoTest::stagedBundlePath());
        QCOMPARE(inputs.bundleIdentifier, std::optional(QStringLiteral("org.varno.workshop")));
        QCOMPARE(inputs.version, QStringLiteral("0.9.14"));
        QCOMPARE(inputs.build, QStringLiteral("30"));
        QCOMPARE(inputs.path, std::optional(qEnvironmentVariable("PATH")));

        const QString report = VarnoTest::await(DiagnosticsReport::gatherAsync());
        QVERIFY2(report.startsWith(QStringLiteral("=== APP ===\nVersion: 0.9.14 (build 30)\nBundle path: ")
                                   + VarnoTest::stagedBundlePath()
                                   + QStringLiteral("\nBundle identifier: org.varno.workshop\n\n")),
                 qPrintable(report));
        QVERIFY(report.contains(QStringLiteral("\npython3 resolved: ") + VARNOProcess::python3() + QLatin1Char('\n')));
    }
};

VARNO_TEST_CLASS(TestRunningAppFacts)
#include "tst_runningapp.moc"
