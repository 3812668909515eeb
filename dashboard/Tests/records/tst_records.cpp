#include "TestRegistry.h"

#include "records/AppIncident.h"
#include "records/AppRecord.h"
#include "records/BackupRecord.h"
#include "records/GhostAppRecord.h"
#include "records/ProvenanceRecord.h"
#include "records/StrictJson.h"
#include "records/TrustSealRecord.h"

#include <QJsonDocument>
#include <QTest>
#include <QUuid>

Q_DECLARE_METATYPE(AppStatusColor)

namespace {

// One record from the fields of a JSON object (bundle id and name added).
AppRecord record(const QByteArray &fields)
{
    QByteArray json = "{\"bundle_id\":\"org.sim.app\",\"app_name\":\"App\"";
    if (!fields.isEmpty())
        json += "," + fields;
    json += "}";
    const auto decoded = AppRecord::decodeList("[" + json + "]");
    if (!decoded || decoded->size() != 1)
        qFatal("fixture record does not decode: %s", json.constData());
    return decoded->first();
}

} // namespace

class TestAppRecordDecoding : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void decodesEveryField()
    {
        const QByteArray json =
            "[{\"bundle_id\":\"org.sim.inkwell\",\"app_name\":\"Inkwell\",\"current_version\":\"3.2.1\","
            "\"latest_version\":\"3.2.1\",\"update_mechanism\":\"cask\",\"vendor_updater_name\":\"v\","
            "\"cask_token\":\"inkwell\",\"mas_id\":\"1234500001\",\"cask_match_confidence\":\"high\","
            "\"last_updated\":\"2026-01-02\",\"last_sha256\":\"ab\",\"last_cdn_domain\":\"cdn.sim\","
            "\"last_team_id\":\"TEAM\",\"last_update_source\":\"brew\",\"update_count\":2,"
            "\"community_sha256_count\":4,\"version_first_seen\":\"x\",\"risk_score\":-3,\"risk_tier\":\"low\","
            "\"install_path\":\"/Applications/Inkwell.app\",\"user_ignored\":0,\"unmanaged_state\":\"none\","
            "\"update_mode\":\"auto\",\"self_managed\":false,\"vendor_self_update\":false,"
            "\"can_trigger_self_update\":true,\"trigger_kind\":\"app_menu\",\"green_seal\":true,"
            "\"verified_path\":true,\"last_incident_code\":\"C\",\"last_incident_kind\":\"failed\","
            "\"last_incident_at\":\"t\",\"latest_source\":\"catalog\",\"version_check_status\":\"current\","
            "\"something_new\":[1,2]}]";
        const auto list = AppRecord::decodeList(json);
        QVERIFY(list);
        QCOMPARE(list->size(), 1);
        const AppRecord &r = list->first();
        QCOMPARE(r.id(), QStringLiteral("org.sim.inkwell"));
        QCOMPARE(r.app_name, QStringLiteral("Inkwell"));
        QCOMPARE(r.mas_id, std::optional<QString>(QStringLiteral("1234500001")));
        QCOMPARE(r.update_count, std::optional<qint64>(2));
        QCOMPARE(r.community_sha256_count, std::optional<qint64>(4));
        QCOMPARE(r.risk_score, std::optional<qint64>(-3));
        QCOMPARE(r.user_ignored, std::optional<qint64>(0));
        QCOMPARE(r.self_managed, std::optional<bool>(false));
        QCOMPARE(r.can_trigger_self_update, std::optional<bool>(true));
        QCOMPARE(r.trigger_kind, std::optional<QString>(QStringLiteral("app_menu")));
        QCOMPARE(r.green_seal, std::optional<bool>(true));
        QCOMPARE(r.last_incident_at, std::optional<QString>(QStringLiteral("t")));
        QCOMPARE(r.version_check_status, std::optional<QString>(QStringLiteral("current")));
        QCOMPARE(r.latest_source, std::optional<QString>(QStringLiteral("catalog")));
    }

    void listDecoding_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("count"); // -1: the list fails
        const QByteArray good = "{\"bundle_id\":\"a\",\"app_name\":\"A\"}";
        QTest::newRow("empty array") << QByteArray(" [ ]\n") << 0;
        QTest::newRow("two records") << "[" + good + "," + good + "]" << 2;
        QTest::newRow("null and missing alike") << QByteArray("[{\"bundle_id\":\"a\",\"app_name\":\"A\","
                                                              "\"latest_version\":null,\"green_seal\":null}]")
                                                << 1;
        QTest::newRow("unknown keys in every record") << QByteArray("[{\"bundle_id\":\"a\",\"app_name\":\"A\","
                                                                    "\"x\":1},{\"y\":{},\"bundle_id\":\"b\","
                                                                    "\"app_name\":\"B\"}]")
                                                      << 2;
        QTest::newRow("integral number written as 3.0") << QByteArray("[{\"bundle_id\":\"a\",\"app_name\":\"A\","
                                                                      "\"update_count\":3.0}]")
                                                        << 1;
        QTest::newRow("largest int64") << QByteArray("[{\"bundle_id\":\"a\",\"app_name\":\"A\","
                                                     "\"risk_score\":9223372036854775807}]")
                                       << 1;
        QTest::newRow("update_count as a string fails the list")
            << "[" + good + ",{\"bundle_id\":\"b\",\"app_name\":\"B\",\"update_count\":\"2\"}]" << -1;
        QTest::newRow("green_seal as the number 1 fails the list")
            << "[" + good + ",{\"bundle_id\":\"b\",\"app_name\":\"B\",\"green_seal\":1}]" << -1;
        QTest::newRow("a fraction is not an integer")
            << QByteArray("[{\"bundle_id\":\"a\",\"app_name\":\"A\",\"user_ignored\":0.5}]") << -1;
        QTest::newRow("beyond int64") << QByteArray(
            "[{\"bundle_id\":\"a\",\"app_name\":\"A\",\"update_count\":9223372036854775808}]")
                                      << -1;
        QTest::newRow("mas_id as a number")
            << QByteArray("[{\"bundle_id\":\"a\",\"app_name\":\"A\",\"mas_id\":1}]") << -1;
        QTest::newRow("bundle_id null") << QByteArray("[{\"bundle_id\":null,\"app_name\":\"A\"}]") << -1;
        QTest::newRow("bundle_id missing") << QByteArray("[{\"app_name\":\"A\"}]") << -1;
        QTest::newRow("app_name a number") << QByteArray("[{\"bundle_id\":\"a\",\"app_name\":7}]") << -1;
        QTest::newRow("an element that is not an object") << "[" + good + ",3]" << -1;
        QTest::newRow("a progress line before the JSON") << "Scanning…\n[" + good + "]" << -1;
        QTest::newRow("an object, not an array") << good << -1;
        QTest::newRow("empty output") << QByteArray() << -1;
    }

    void listDecoding()
    {
        QFETCH(QByteArray, json);
        QFETCH(int, count);
        const auto list = AppRecord::decodeList(json);
        QCOMPARE(list.has_value(), count >= 0);
        if (list)
            QCOMPARE(int(list->size()), count);
    }

    void equalityComparesEveryField()
    {
        const AppRecord a = record("\"latest_version\":\"2.0\"");
        AppRecord b = a;
        QCOMPARE(a, b);
        b.latest_version.reset();
        QVERIFY(!(a == b));
        b = a;
        b.latest_version = QString();
        QVERIFY(!(a == b)); // a present empty text is not an absent one
        b = a;
        b.verified_path = false;
        QVERIFY(!(a == b));
    }
};

class TestAppRecordPredicates : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void predicates_data()
    {
        QTest::addColumn<QByteArray>("fields");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("outdated");
        QTest::addColumn<bool>("unmeasured");
        QTest::addColumn<bool>("unknown");
        QTest::addColumn<bool>("stale");
        QTest::addColumn<bool>("verified");
        QTest::addColumn<AppStatusColor>("color");
        using C = AppStatusColor;

        QTest::newRow("engine outdated but ignored")
            << QByteArray("\"version_check_status\":\"outdated\",\"update_mode\":\"ignore\"") << "outdated" << false
            << false << false << false << false << C::muted;
        QTest::newRow("engine status in capitals") << QByteArray("\"version_check_status\":\"OUTDATED\"") << "outdated"
                                                   << true << false << false << false << false << C::outdated;
        QTest::newRow("catalog stale in mixed case")
            << QByteArray("\"version_check_status\":\"Catalog_Stale\"") << "catalog_stale" << false << false << false
            << true << false << C::muted;
        QTest::newRow("empty engine status counts as absent")
            << QByteArray("\"version_check_status\":\"\",\"current_version\":\"1.2\",\"latest_version\":\"1.10\"")
            << "outdated" << true << false << false << false << false << C::outdated;
        QTest::newRow("engine current") << QByteArray("\"version_check_status\":\"current\"") << "current" << false
                                        << false << false << false << false << C::current;
        QTest::newRow("engine current at high risk")
            << QByteArray("\"version_check_status\":\"current\","
                          "\"risk_tier\":\"High\"")
            << "current" << false << false << false << false << false << C::atRisk;
        QTest::newRow("engine unmeasured") << QByteArray("\"version_check_status\":\"unmeasured\"") << "unmeasured"
                                           << false << true << false << false << false << C::unchecked;
        QTest::newRow("engine unknown") << QByteArray("\"version_check_status\":\"unknown\"") << "unknown" << false
                                        << false << true << false << false << C::unchecked;
        QTest::newRow("ignore in capitals does not exclude")
            << QByteArray("\"update_mode\":\"Ignore\",\"current_version\":\"1\",\"latest_version\":\"2\"") << "outdated"
            << true << false << false << false << false << C::outdated;
        QTest::newRow("user_ignored 0 does not exclude")
            << QByteArray("\"user_ignored\":0,\"current_version\":\"1\",\"latest_version\":\"2\"") << "outdated" << true
            << false << false << false << false << C::outdated;
        QTest::newRow("user_ignored 1 excludes whatever the mode")
            << QByteArray("\"user_ignored\":1,\"update_mode\":\"auto\",\"current_version\":\"1\","
                          "\"latest_version\":\"2\"")
            << "excluded" << false << false << false << false << false << C::muted;
        QTest::newRow("1.2 before 1.10") << QByteArray("\"current_version\":\"1.2\",\"latest_version\":\"1.10\"")
                                         << "outdated" << true << false << false << false << false << C::outdated;
        QTest::newRow("latest is the word latest")
            << QByteArray("\"current_version\":\"1\",\"latest_version\":"
                          "\"LaTeSt\"")
            << "current" << false << false << false << false << false << C::current;
        QTest::newRow("latest is the word unknown")
            << QByteArray("\"current_version\":\"1\",\"latest_version\":"
                          "\"UNKNOWN\"")
            << "current" << false << false << false << false << false << C::current;
        QTest::newRow("empty installed version") << QByteArray("\"current_version\":\"\",\"latest_version\":\"2.0\"")
                                                 << "current" << false << false << false << false << false << C::current;
        QTest::newRow("self_managed false stops the self-managed rule")
            << QByteArray("\"self_managed\":false,\"vendor_self_update\":true,\"update_mechanism\":\"cask\"")
            << "unknown" << false << false << true << false << false << C::unchecked;
        QTest::newRow("vendor_self_update when self_managed is absent")
            << QByteArray("\"vendor_self_update\":true") << "unmeasured" << false << true << false << false << false
            << C::unchecked;
        QTest::newRow("self_managed true") << QByteArray("\"self_managed\":true") << "unmeasured" << false << true
                                           << false << false << false << C::unchecked;
        QTest::newRow("mechanism vendor_self_update alone")
            << QByteArray("\"update_mechanism\":\"vendor_self_update\"") << "unmeasured" << false << true << false
            << false << false << C::unchecked;
        QTest::newRow("MAS in capitals with self_managed false")
            << QByteArray("\"update_mechanism\":\"MAS\",\"self_managed\":false") << "unmeasured" << false << true
            << false << false << false << C::unchecked;
        QTest::newRow("SPARKLE_INTERNAL with self_managed false")
            << QByteArray("\"update_mechanism\":\"SPARKLE_INTERNAL\",\"self_managed\":false") << "unmeasured" << false
            << true << false << false << false << C::unchecked;
        QTest::newRow("vendor_self_update mechanism with self_managed false")
            << QByteArray("\"update_mechanism\":\"vendor_self_update\",\"self_managed\":false") << "unmeasured" << false
            << true << false << false << false << C::unchecked;
        QTest::newRow("nothing known") << QByteArray() << "unknown" << false << false << true << false << false
                                       << C::unchecked;
        QTest::newRow("risk tier high on an excluded record")
            << QByteArray("\"risk_tier\":\"high\",\"update_mode\":\"ignore\"") << "excluded" << false << false << false
            << false << false << C::muted;
        QTest::newRow("critical and outdated is at risk")
            << QByteArray("\"risk_tier\":\"CRITICAL\",\"current_version\":\"4.0 (1234)\",\"latest_version\":\"4.1\"")
            << "outdated" << true << false << false << false << false << C::atRisk;
        QTest::newRow("verified with both evidence fields")
            << QByteArray("\"latest_version\":\"2\",\"current_version\":\"2\",\"last_sha256\":\"ab\","
                          "\"last_team_id\":\"T\"")
            << "current" << false << false << false << false << true << C::current;
        QTest::newRow("an empty evidence field is not evidence")
            << QByteArray("\"latest_version\":\"2\",\"last_sha256\":\"\",\"last_team_id\":\"T\"") << "current" << false
            << false << false << false << false << C::current;
        QTest::newRow("catalogue-stale is not verified")
            << QByteArray("\"version_check_status\":\"catalog_stale\",\"last_sha256\":\"ab\",\"last_team_id\":\"T\"")
            << "catalog_stale" << false << false << false << true << false << C::muted;
        QTest::newRow("excluded with evidence is verified and muted")
            << QByteArray("\"user_ignored\":2,\"version_check_status\":\"outdated\",\"last_sha256\":\"ab\","
                          "\"last_team_id\":\"T\"")
            << "outdated" << false << false << false << false << true << C::muted;
    }

    void predicates()
    {
        QFETCH(QByteArray, fields);
        QFETCH(QString, status);
        QFETCH(bool, outdated);
        QFETCH(bool, unmeasured);
        QFETCH(bool, unknown);
        QFETCH(bool, stale);
        QFETCH(bool, verified);
        QFETCH(AppStatusColor, color);
        const AppRecord r = record(fields);
        QCOMPARE(r.versionCheckStatus(), status);
        QCOMPARE(r.isOutdated(), outdated);
        QCOMPARE(r.isUnmeasured(), unmeasured);
        QCOMPARE(r.isUnknownStatus(), unknown);
        QCOMPARE(r.isCatalogStale(), stale);
        QCOMPARE(r.isVerified(), verified);
        QCOMPARE(r.statusColor(), color);
    }
};

class TestAppIncident : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fromRecords()
    {
        const QByteArray json =
            "[{\"bundle_id\":\"nocode\",\"app_name\":\"A\",\"last_incident_kind\":\"failed\","
            "\"last_incident_at\":\"2026-03-01T10:00:00Z\"},"
            "{\"bundle_id\":\"caps\",\"app_name\":\"A\",\"last_incident_kind\":\"Failed\",\"last_incident_code\":\"X\"},"
            "{\"bundle_id\":\"blank\",\"app_name\":\"A\",\"last_incident_kind\":\" failed\"},"
            "{\"bundle_id\":\"error\",\"app_name\":\"A\",\"last_incident_kind\":\"error\"},"
            "{\"bundle_id\":\"codeonly\",\"app_name\":\"A\",\"last_incident_code\":\"SIG_INVALID\"},"
            "{\"bundle_id\":\"emptycode\",\"app_name\":\"A\",\"last_incident_kind\":\"skipped\","
            "\"last_incident_code\":\"\"},"
            "{\"bundle_id\":\"twice\",\"app_name\":\"A\",\"last_incident_kind\":\"failed\",\"last_incident_code\":\"F\","
            "\"last_incident_at\":\"1\"},"
            "{\"bundle_id\":\"twice\",\"app_name\":\"A\",\"last_incident_kind\":\"skipped\","
            "\"last_incident_code\":\"S\",\"last_incident_at\":\"2\"},"
            "{\"bundle_id\":\"kept\",\"app_name\":\"A\",\"last_incident_kind\":\"failed\",\"last_incident_code\":\"K\"},"
            "{\"bundle_id\":\"kept\",\"app_name\":\"A\"}]";
        const auto records = AppRecord::decodeList(json);
        QVERIFY(records);
        const QHash<QString, AppIncident> incidents = AppIncident::from(*records);
        QCOMPARE(incidents.size(), 4);
        QCOMPARE(incidents.value(QStringLiteral("nocode")),
                 (AppIncident{QStringLiteral("UNKNOWN"), AppIncident::Kind::failed,
                              QStringLiteral("2026-03-01T10:00:00Z")}));
        QCOMPARE(incidents.value(QStringLiteral("emptycode")),
                 (AppIncident{QString(), AppIncident::Kind::skipped, std::nullopt}));
        QCOMPARE(incidents.value(QStringLiteral("twice")),
                 (AppIncident{QStringLiteral("S"), AppIncident::Kind::skipped, QStringLiteral("2")}));
        QCOMPARE(incidents.value(QStringLiteral("kept")),
                 (AppIncident{QStringLiteral("K"), AppIncident::Kind::failed, std::nullopt}));
        QVERIFY(AppIncident::from({}).isEmpty());
    }

    void incidentsDifferingInTimeAreUnequal()
    {
        const AppIncident stream{QStringLiteral("APP_RUNNING"), AppIncident::Kind::skipped, std::nullopt};
        QVERIFY(!(stream == AppIncident{QStringLiteral("APP_RUNNING"), AppIncident::Kind::skipped, QStringLiteral("t")}));
        QCOMPARE(stream, (AppIncident{QStringLiteral("APP_RUNNING"), AppIncident::Kind::skipped, std::nullopt}));
    }

    void kindRawValues()
    {
        QCOMPARE(AppIncident::kindFromRawValue(QStringLiteral("failed")),
                 std::optional<AppIncident::Kind>(AppIncident::Kind::failed));
        QCOMPARE(AppIncident::kindFromRawValue(QStringLiteral("skipped")),
                 std::optional<AppIncident::Kind>(AppIncident::Kind::skipped));
        QCOMPARE(AppIncident::kindFromRawValue(QStringLiteral("SKIPPED")), std::optional<AppIncident::Kind>());
        QCOMPARE(AppIncident::kindFromRawValue(QString()), std::optional<AppIncident::Kind>());
        QCOMPARE(AppIncident::rawValue(AppIncident::Kind::skipped), QStringLiteral("skipped"));
    }
};

class TestHistoryRecords : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void backup_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        QTest::newRow("unavailable with a reason")
            << QByteArray("{\"available\":false,\"reason\":\"too large\"}") << true;
        QTest::newRow("full") << QByteArray("{\"available\":true,\"backup_path\":\"/b/x\",\"backup_dir\":\"/b\","
                                            "\"timestamp\":\"20260101-101010\",\"bytes\":1048576}")
                              << true;
        QTest::newRow("available missing") << QByteArray("{\"reason\":\"x\"}") << false;
        QTest::newRow("available null") << QByteArray("{\"available\":null}") << false;
        QTest::newRow("bytes as a string") << QByteArray("{\"available\":true,\"bytes\":\"12\"}") << false;
        QTest::newRow("an array") << QByteArray("[{\"available\":true}]") << false;
    }

    void backup()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        QCOMPARE(BackupRecord::decode(json).has_value(), decodes);
    }

    void backupIdentity()
    {
        const auto none = BackupRecord::decode("{\"available\":false,\"reason\":\"running\"}");
        QVERIFY(none);
        QVERIFY(!none->backup_path && !none->backup_dir && !none->timestamp && !none->bytes);
        QCOMPARE(none->reason, std::optional<QString>(QStringLiteral("running")));
        const QString first = none->id();
        QCOMPARE(first.size(), 36);
        QVERIFY(!QUuid::fromString(first).isNull());
        QVERIFY(first != none->id());

        const auto empty = BackupRecord::decode("{\"available\":true,\"backup_path\":\"\",\"bytes\":5}");
        QVERIFY(empty);
        QCOMPARE(empty->id(), QString());
        QCOMPARE(empty->bytes, std::optional<qint64>(5));
    }

    void provenance()
    {
        const auto list = ProvenanceRecord::decodeList(
            "[{\"bundle_id\":\"org.sim.inkwell\",\"from_version\":\"3.2\",\"to_version\":\"3.2.1\","
            "\"timestamp\":\"2026-01-02T03:04:05Z\",\"update_count\":2},{\"bundle_id\":\"org.sim.inkwell\"}]");
        QVERIFY(list);
        QCOMPARE(list->size(), 2);
        QCOMPARE(list->at(0).id(), QStringLiteral("org.sim.inkwell-2026-01-02T03:04:05Z"));
        QCOMPARE(list->at(0).update_count, std::optional<qint64>(2));
        QCOMPARE(list->at(1).id(), QStringLiteral("org.sim.inkwell-"));
        QVERIFY(!ProvenanceRecord::decodeList("[{\"bundle_id\":\"a\"},{\"app_name\":\"no id\"}]"));
        QVERIFY(!ProvenanceRecord::decodeList("[{\"bundle_id\":\"a\",\"update_count\":true}]"));
        QCOMPARE(ProvenanceRecord::decodeList("[]")->size(), 0);
    }

    void ghosts_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("count");
        QTest::newRow("two ghosts, one without a token")
            << QByteArray("[{\"bundle_id\":\"org.sim.vanished\",\"app_name\":\"Vanished\",\"install_path\":\"/A\","
                          "\"cask_token\":\"vanished\"},{\"bundle_id\":\"org.sim.faded\",\"app_name\":\"Faded\","
                          "\"install_path\":\"/B\",\"cask_token\":\"\"}]")
            << 2;
        QTest::newRow("cask_token missing fails the file")
            << QByteArray("[{\"bundle_id\":\"a\",\"app_name\":\"A\",\"install_path\":\"/A\",\"cask_token\":\"a\"},"
                          "{\"bundle_id\":\"b\",\"app_name\":\"B\",\"install_path\":\"/B\"}]")
            << -1;
        QTest::newRow("cask_token null fails")
            << QByteArray("[{\"bundle_id\":\"b\",\"app_name\":\"B\",\"install_path\":\"/B\",\"cask_token\":null}]")
            << -1;
        QTest::newRow("not an array") << QByteArray("{}") << -1;
        QTest::newRow("not JSON") << QByteArray("ghosts") << -1;
    }

    void ghosts()
    {
        QFETCH(QByteArray, json);
        QFETCH(int, count);
        const auto list = GhostAppRecord::decodeList(json);
        QCOMPARE(list.has_value(), count >= 0);
        if (list) {
            QCOMPARE(int(list->size()), count);
            QCOMPARE(list->first().id(), list->first().bundle_id);
        }
    }

    void trustSeal()
    {
        const auto bare = TrustSealRecord::decode("{\"green_seal\":true,\"verified_path\":false}");
        QVERIFY(bare);
        QCOMPARE(*bare, (TrustSealRecord{std::nullopt, true, false, std::nullopt}));

        const auto full = TrustSealRecord::decode("{\"bundle_id\":\"a\",\"green_seal\":false,\"verified_path\":true,"
                                                  "\"checks\":{\"team_id\":true,\"sha256\":false}}");
        QVERIFY(full);
        const auto reordered = TrustSealRecord::decode("{\"checks\":{\"sha256\":false,\"team_id\":true},"
                                                       "\"verified_path\":true,\"green_seal\":false,"
                                                       "\"bundle_id\":\"a\"}");
        QCOMPARE(*full, *reordered);
        QCOMPARE(full->checks->value(QStringLiteral("team_id")), true);

        QVERIFY(!TrustSealRecord::decode("{\"green_seal\":true}"));
        QVERIFY(!TrustSealRecord::decode("{\"green_seal\":true,\"verified_path\":true,\"checks\":{\"a\":1}}"));
        QVERIFY(!TrustSealRecord::decode("{\"green_seal\":true,\"verified_path\":true,\"checks\":[]}"));
        QVERIFY(!TrustSealRecord::decode("{\"green_seal\":true,\"verified_path\":true,\"bundle_id\":3}"));
    }
};

// The one-pass list reader must agree with reading a QJsonDocument and
// decoding it record by record, on good and bad input alike.
class TestLibraryReader : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void agreesWithTheDocumentReader_data()
    {
        QTest::addColumn<QByteArray>("json");
        const QByteArray a = "\"bundle_id\":\"a\",\"app_name\":\"A\"";
        auto row = [](const char *name, const QByteArray &json) { QTest::newRow(name) << json; };
        row("empty array", "[]");
        row("white space around", " \n\t[ {" + a + "} ]\r\n");
        row("every type",
            "[{" + a
                + ",\"latest_version\":\"1.10\",\"update_count\":3,\"green_seal\":true,"
                  "\"self_managed\":false,\"risk_score\":-12,\"mas_id\":\"12\"}]");
        row("nulls", "[{" + a + ",\"latest_version\":null,\"update_count\":null,\"green_seal\":null}]");
        row("escapes", "[{\"bundle_id\":\"a\\\"b\\\\c\\/d\\n\\t\\u00e9\\u2026\\ud83d\\ude00\",\"app_name\":\"x\"}]");
        row("escaped key", "[{\"bundle\\u005fid\":\"a\",\"app_name\":\"A\"}]");
        row("utf-8 text", "[{" + a + ",\"install_path\":\"/Applications/Caf\xc3\xa9 \xe2\x80\x94.app\"}]");
        row("invalid utf-8 in a value", "[{" + a + ",\"install_path\":\"bad \xff\"}]");
        row("invalid utf-8 in an unknown key's value", "[{" + a + ",\"extra\":\"\xc3\"}]");
        row("unknown nested values", "[{" + a + ",\"x\":{\"y\":[1,2.5e3,-0,true,false,null,{\"z\":\"w\"}]},\"q\":[]}]");
        row("integral 3.0 and 1e2", "[{" + a + ",\"update_count\":3.0,\"risk_score\":1e2}]");
        row("fraction", "[{" + a + ",\"update_count\":3.5}]");
        row("largest and smallest int64",
            "[{" + a + ",\"update_count\":9223372036854775807,\"risk_score\":-9223372036854775808}]");
        row("one past int64", "[{" + a + ",\"update_count\":9223372036854775808}]");
        row("huge exponent", "[{" + a + ",\"update_count\":1e400}]");
        row("negative zero", "[{" + a + ",\"user_ignored\":-0}]");
        row("leading zero", "[{" + a + ",\"update_count\":01}]");
        row("leading plus", "[{" + a + ",\"update_count\":+1}]");
        row("number for text", "[{" + a + ",\"mas_id\":1}]");
        row("string for integer", "[{" + a + ",\"update_count\":\"2\"}]");
        row("number for boolean", "[{" + a + ",\"green_seal\":1}]");
        row("missing app_name", "[{\"bundle_id\":\"a\"}]");
        row("null bundle_id", "[{\"bundle_id\":null,\"app_name\":\"A\"}]");
        row("empty object", "[{}]");
        row("non-object element", "[{" + a + "},3]");
        row("nested array element", "[[{" + a + "}]]");
        row("trailing comma in array", "[{" + a + "},]");
        row("trailing comma in object", "[{" + a + ",}]");
        row("missing colon", "[{\"bundle_id\" \"a\",\"app_name\":\"A\"}]");
        row("unterminated string", "[{" + a + ",\"risk_tier\":\"abc");
        row("unterminated array", "[{" + a + "}");
        row("trailing text", "[{" + a + "}] x");
        row("two arrays", "[][]");
        row("progress line first", "Scanning\xe2\x80\xa6\n[]");
        row("top-level object", "{" + a + "}");
        row("empty input", "");
        row("only white space", "  \n");
        row("bad literal", "[{" + a + ",\"green_seal\":tru}]");
        row("unquoted key", "[{bundle_id:\"a\",\"app_name\":\"A\"}]");
        row("single quotes", "[{'bundle_id':'a','app_name':'A'}]");
        row("empty texts", "[{\"bundle_id\":\"\",\"app_name\":\"\",\"latest_version\":\"\"}]");
        // Numbers a double cannot hold are malformed wherever they stand.
        row("huge exponent in an unknown key", "[{" + a + ",\"x\":1e400}]");
        row("tiny exponent in an unknown key", "[{" + a + ",\"x\":[-1e-400]}]");
        row("huge exponent in a text field", "[{" + a + ",\"mas_id\":1e400}]");
        row("400 digits in an unknown key", "[{" + a + ",\"x\":" + QByteArray(400, '7') + "}]");
        row("huge exponent in a boolean field, then a good value",
            "[{" + a + ",\"green_seal\":1e400,\"green_seal\":true}]");
        row("huge exponent in an integer field, then a good value",
            "[{" + a + ",\"update_count\":-1E+999,\"update_count\":1}]");
        // A repeated key: the last value counts, whatever came before.
        row("wrong type, then the right one", "[{" + a + ",\"green_seal\":\"yes\",\"green_seal\":true}]");
        row("right type, then a wrong one", "[{" + a + ",\"green_seal\":true,\"green_seal\":\"yes\"}]");
        row("fraction, then an integer", "[{" + a + ",\"update_count\":2.5,\"update_count\":2}]");
        row("null bundle_id, then a text", "[{\"bundle_id\":null,\"app_name\":\"A\",\"bundle_id\":\"b\"}]");
        row("number app_name, then a text", "[{\"app_name\":[1],\"bundle_id\":\"b\",\"app_name\":\"B\"}]");
        row("text, then null", "[{" + a + ",\"latest_version\":\"2\",\"latest_version\":null}]");
        row("bundle_id twice", "[{" + a + ",\"bundle_id\":\"second\"}]");
        row("wrong type, then malformed", "[{" + a + ",\"green_seal\":2,\"green_seal\":tru}]");
        // Nesting: QJsonDocument takes 1024 levels (the list and the record
        // included) and refuses 1025.
        row("nested to the limit", "[{" + a + ",\"x\":" + QByteArray(1022, '[') + QByteArray(1022, ']') + "}]");
        row("nested one past the limit", "[{" + a + ",\"x\":" + QByteArray(1023, '[') + QByteArray(1023, ']') + "}]");
        row("objects nested one past the limit",
            "[{" + a + ",\"x\":" + QByteArray("{\"k\":").repeated(1023) + "1" + QByteArray(1023, '}') + "}]");
    }

    void agreesWithTheDocumentReader()
    {
        QFETCH(QByteArray, json);
        const auto document = StrictJson::parseArray(json);
        const std::optional<QList<AppRecord>> expected = document ? AppRecord::listFromJson(*document)
                                                                  : std::optional<QList<AppRecord>>();
        const std::optional<QList<AppRecord>> actual = AppRecord::decodeList(json);
        QCOMPARE(actual.has_value(), expected.has_value());
        if (actual)
            QVERIFY(*actual == *expected);
    }

    // Malformed JSON that QJsonDocument lets pass is refused, as JSON requires.
    void refusesWhatTheJsonGrammarForbids_data()
    {
        QTest::addColumn<QByteArray>("json");
        const QByteArray a = "\"bundle_id\":\"a\",\"app_name\":\"A\"";
        QTest::newRow("lone high surrogate") << "[{" + a + ",\"risk_tier\":\"\\ud800x\"}]";
        QTest::newRow("lone low surrogate") << "[{" + a + ",\"risk_tier\":\"\\udc00\"}]";
        QTest::newRow("control character in a string") << "[{" + a + ",\"risk_tier\":\"a\tb\"}]";
        QTest::newRow("unknown escape") << "[{" + a + ",\"risk_tier\":\"\\x41\"}]";
        QTest::newRow("number ending in a dot") << "[{" + a + ",\"update_count\":1.}]";
    }

    void refusesWhatTheJsonGrammarForbids()
    {
        QFETCH(QByteArray, json);
        QVERIFY(!AppRecord::decodeList(json));
    }

    void readsTheEscapedTextsRight()
    {
        const auto list = AppRecord::decodeList(
            "[{\"bundle_id\":\"a\\\"b\\u00e9\\ud83d\\ude00\",\"app_name\":\"\xe2\x80\x94\"}]");
        QVERIFY(list);
        QCOMPARE(list->first().bundle_id, QStringLiteral("a\"b\u00e9\U0001F600"));
        QCOMPARE(list->first().app_name, QStringLiteral("\u2014"));
    }

    void deepNestingIsRefusedNotACrash()
    {
        const QByteArray deep = QByteArray(100000, '[') + QByteArray(100000, ']');
        QVERIFY(!AppRecord::decodeList("[{\"bundle_id\":\"a\",\"app_name\":\"A\",\"x\":" + deep + "}]"));
    }
};

VARNO_TEST_CLASS(TestLibraryReader)
VARNO_TEST_CLASS(TestAppRecordDecoding)
VARNO_TEST_CLASS(TestAppRecordPredicates)
VARNO_TEST_CLASS(TestAppIncident)
VARNO_TEST_CLASS(TestHistoryRecords)

#include "tst_records.moc"
