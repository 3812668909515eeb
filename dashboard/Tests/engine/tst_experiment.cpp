#include "SettingsOpsSupport.h"
#include "TestRegistry.h"
#include "TestSupport.h"

#include "engine/ExperimentRecorder.h"
#include "platform/VarnoPaths.h"

#include <QFileInfo>
#include <QTest>

// Usage events go to the engine in the background; the caller never waits
// and never hears of a failure.
class TestExperimentRecorder : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<VarnoTest::TempHome>();
        m_finished.clear();
        ExperimentRecorder::setFinishedHookForTesting([this](const QString &event) { m_finished.append(event); });
    }

    void cleanup()
    {
        ExperimentRecorder::setFinishedHookForTesting(nullptr);
        m_home.reset();
    }

    void eventNames()
    {
        QCOMPARE(ExperimentRecorder::detectionFailureBannerShown, QStringLiteral("detection_failure_banner_shown"));
        QCOMPARE(ExperimentRecorder::detectionFailureBannerCtaClicked,
                 QStringLiteral("detection_failure_banner_cta_clicked"));
        QCOMPARE(ExperimentRecorder::restoreAvailable, QStringLiteral("restore_available"));
        QCOMPARE(ExperimentRecorder::restoreUsed, QStringLiteral("restore_used"));
    }

    // record() hands the event over and returns before the engine starts;
    // the engine then has it in its experiment log.
    void recordReachesTheEngine()
    {
        QVERIFY(SettingsOpsTest::installStagedEngine());
        ExperimentRecorder::record(ExperimentRecorder::restoreUsed);
        ExperimentRecorder::record(ExperimentRecorder::restoreAvailable);
        QVERIFY(m_finished.isEmpty());
        QVERIFY(VarnoTest::waitUntil([this] { return m_finished.size() == 2; }));

        const QString events = QString::fromUtf8(
            SettingsOpsTest::runEngine({QStringLiteral("sim"), QStringLiteral("events")}));
        QVERIFY2(events.contains(QStringLiteral("\trestore_used\n")), qPrintable(events));
        QVERIFY2(events.contains(QStringLiteral("\trestore_available\n")), qPrintable(events));
        const QList<QStringList> journal = SettingsOpsTest::journal();
        QVERIFY(journal.contains(QStringList({QStringLiteral("experiment"), QStringLiteral("record"),
                                              QStringLiteral("--event"), QStringLiteral("restore_used")})));
    }

    // No engine installed: nothing happens, nothing is thrown or created.
    void recordWithoutEngineIsSilent()
    {
        ExperimentRecorder::record(ExperimentRecorder::detectionFailureBannerShown);
        QVERIFY(VarnoTest::waitUntil([this] { return m_finished.size() == 1; }));
        QCOMPARE(m_finished.first(), ExperimentRecorder::detectionFailureBannerShown);
        QVERIFY(!QFileInfo::exists(VarnoPaths::engineScript()));
    }

    void failingEngineIsSwallowed()
    {
        SettingsOpsTest::ShellEngine engine("printf '%s ' \"$@\" > \"$HOME/argv.txt\"\necho boom >&2\nexit 3\n");
        VarnoTest::await(ExperimentRecorder::send(ExperimentRecorder::detectionFailureBannerCtaClicked));
        QCOMPARE(VarnoTest::readFile(m_home->filePath(QStringLiteral("argv.txt"))),
                 QByteArray("--engine-contract-version 1 experiment record --event "
                            "detection_failure_banner_cta_clicked "));
    }

private:
    std::unique_ptr<VarnoTest::TempHome> m_home;
    QStringList m_finished;
};

VARNO_TEST_CLASS(TestExperimentRecorder)
#include "tst_experiment.moc"
