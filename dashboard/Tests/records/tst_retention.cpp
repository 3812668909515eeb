#include "TestRegistry.h"
#include "TestSupport.h"

#include "records/RecordCodingError.h"
#include "records/RetentionStatus.h"

#include <QTest>

Q_DECLARE_METATYPE(RetentionStatus)

namespace {

RetentionStatus defaults()
{
    return RetentionStatus();
}

} // namespace

class TestRetentionStatus : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void defaultsAreTheDocumentedOnes()
    {
        const RetentionStatus status = RetentionStatus::decode("{}");
        QCOMPARE(status.policy.keepPerApp, 1);
        QCOMPARE(status.policy.retentionDays, 30);
        QCOMPARE(status.policy.supportBundleKeep, 5);
        QCOMPARE(status.policy.logMaxMb, 2);
        QCOMPARE(status.policy.osSnapshotMaxAgeDays, 90);
        QVERIFY(!status.consent.granted && !status.consent.asked && !status.consent.autoPruneAllowed);
        QCOMPARE(status.usage, RetentionUsage());
        QCOMPARE(status.usage.bytes, 0);
        QCOMPARE(status.pendingPlan.count, 0);
        QCOMPARE(status.pendingPlan.bytes, 0);
    }

    void decodes_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<RetentionStatus>("expected");

        RetentionStatus partialPolicy;
        partialPolicy.policy.retentionDays = 7;
        QTest::newRow("partial policy keeps the other defaults")
            << QByteArray("{\"policy\":{\"retention_days\":7}}") << partialPolicy;
        QTest::newRow("null member is its default") << QByteArray("{\"pending_plan\":null,\"usage\":null}") << defaults();
        QTest::newRow("null field is its default") << QByteArray("{\"policy\":{\"keep_per_app\":null}}") << defaults();

        RetentionStatus full;
        full.policy = {3, 14, 2, 8, 30};
        full.consent = {true, true, false};
        full.usage = {6442450944LL, 4, 2, 1073741824LL, 1};
        full.pendingPlan = {1, 1073741824LL};
        QTest::newRow("everything given, unknown keys ignored")
            << QByteArray("{\"policy\":{\"keep_per_app\":3,\"retention_days\":14,\"support_bundle_keep\":2,"
                          "\"log_max_mb\":8,\"os_snapshot_max_age_days\":30,\"extra\":\"x\"},"
                          "\"consent\":{\"granted\":true,\"asked\":true,\"auto_prune_allowed\":false},"
                          "\"usage\":{\"bytes\":6442450944,\"snapshot_count\":4,\"bundle_count\":2,"
                          "\"reclaimable_bytes\":1073741824,\"reclaimable_count\":1},"
                          "\"pending_plan\":{\"count\":1,\"bytes\":1073741824},\"version\":2}")
            << full;

        RetentionStatus integral;
        integral.policy.keepPerApp = 3;
        QTest::newRow("an integral number written with a fraction")
            << QByteArray("{\"policy\":{\"keep_per_app\":3.0}}") << integral;
    }

    void decodes()
    {
        QFETCH(QByteArray, json);
        QFETCH(RetentionStatus, expected);
        QCOMPARE(RetentionStatus::decode(json), expected);
    }

    // One value of the wrong type fails the whole record.
    void wrongTypesFail_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("codingPath");

        QTest::newRow("text for an integer")
            << QByteArray("{\"policy\":{\"keep_per_app\":\"3\"}}") << QStringLiteral("policy.keep_per_app");
        QTest::newRow("fraction for an integer")
            << QByteArray("{\"usage\":{\"bytes\":1.5}}") << QStringLiteral("usage.bytes");
        QTest::newRow("out of range") << QByteArray("{\"usage\":{\"bytes\":1e30}}") << QStringLiteral("usage.bytes");
        QTest::newRow("number for a flag")
            << QByteArray("{\"consent\":{\"granted\":1}}") << QStringLiteral("consent.granted");
        QTest::newRow("array for a record") << QByteArray("{\"pending_plan\":[]}") << QStringLiteral("pending_plan");
        QTest::newRow("flag for an integer")
            << QByteArray("{\"pending_plan\":{\"count\":true}}") << QStringLiteral("pending_plan.count");
        QTest::newRow("top level array") << QByteArray("[]") << QString();
        QTest::newRow("not JSON") << QByteArray("Retention: ok") << QString();
        QTest::newRow("empty output") << QByteArray() << QString();
    }

    void wrongTypesFail()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, codingPath);
        try {
            RetentionStatus::decode(json);
            QFAIL("decoded");
        } catch (const RecordDecodingError &error) {
            QCOMPARE(error.codingPath(), codingPath);
            QCOMPARE(error.errorDescription(),
                     QStringLiteral("The data couldn’t be read because it isn’t in the correct format."));
        }
    }

    void formatBytes_data()
    {
        QTest::addColumn<qint64>("count");
        QTest::addColumn<QString>("expected");

        const qint64 tb = 1024LL * 1024 * 1024 * 1024;
        QTest::newRow("zero") << qint64(0) << QStringLiteral("0 bytes");
        QTest::newRow("one has no singular") << qint64(1) << QStringLiteral("1 bytes");
        QTest::newRow("below a kilobyte") << qint64(1023) << QStringLiteral("1023 bytes");
        QTest::newRow("one kilobyte") << qint64(1024) << QStringLiteral("1.0 KB");
        QTest::newRow("one and a half") << qint64(1536) << QStringLiteral("1.5 KB");
        QTest::newRow("rounds up after the unit is chosen") << qint64(1048575) << QStringLiteral("1024.0 KB");
        QTest::newRow("one megabyte") << qint64(1048576) << QStringLiteral("1.0 MB");
        QTest::newRow("gigabytes") << qint64(6442450944LL) << QStringLiteral("6.0 GB");
        QTest::newRow("no unit past TB") << qint64(5 * 1024 * tb) << QStringLiteral("5120.0 TB");
        QTest::newRow("negative keeps its sign") << qint64(-2048) << QStringLiteral("-2.0 KB");
        QTest::newRow("small negative") << qint64(-5) << QStringLiteral("-5 bytes");
        QTest::newRow("no thousands separator") << qint64(1000) << QStringLiteral("1000 bytes");
        QTest::newRow("largest") << std::numeric_limits<qint64>::max() << QStringLiteral("8388608.0 TB");
    }

    void formatBytes()
    {
        QFETCH(qint64, count);
        QFETCH(QString, expected);
        QCOMPARE(RetentionStatus::formatBytes(count), expected);
    }

    // The decimal point does not follow the user's locale.
    void formatBytesIgnoresTheLocale()
    {
        const QLocale saved;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const QString text = RetentionStatus::formatBytes(1536);
        QLocale::setDefault(saved);
        QCOMPARE(text, QStringLiteral("1.5 KB"));
    }
};

VARNO_TEST_CLASS(TestRetentionStatus)
#include "tst_retention.moc"
