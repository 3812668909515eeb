#include "TestRegistry.h"
#include "TestSupport.h"

#include "records/RemediationRegistry.h"
#include "records/VendorUpdaters.h"

#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(IncidentAction)

namespace {

const QString kUnclassified = QStringLiteral("Brusk hasn't classified this failure yet.");
const QString kLocked = QStringLiteral(
    "A security gate blocked this update. Brusk explains these \u2014 never bypasses them.");

RemediationEntry entry(const QString &cause, const QString &kind, const QString &consent)
{
    return RemediationEntry{cause, false, RemediationEntry::Fix{kind, consent}};
}

RemediationRegistry sampleRegistry()
{
    return RemediationRegistry(QHash<QString, RemediationEntry>{
        {QStringLiteral("SIG_INVALID"),
         entry(QStringLiteral("Bad signature."), QStringLiteral("retry_after_wait"), QStringLiteral("auto"))},
        {QStringLiteral("UPDATE_MODE_ASK_HEADLESS"),
         entry(QStringLiteral("Waiting."), QStringLiteral("none"), QStringLiteral("always"))},
        {QStringLiteral("UNKNOWN"),
         entry(QStringLiteral("Unknown cause."), QStringLiteral("retry_after_wait"), QStringLiteral("auto"))},
        {QStringLiteral("unknown"),
         entry(QStringLiteral("Lower-case code."), QStringLiteral("open_url"), QStringLiteral("auto"))},
        {QStringLiteral("APP_RUNNING"),
         entry(QStringLiteral("Open."), QStringLiteral("quit_update_relaunch"), QStringLiteral("always"))},
        {QStringLiteral("BREW_NO_CASK"),
         entry(QStringLiteral("No cask."), QStringLiteral("adopt"), QStringLiteral("always"))},
        {QStringLiteral("OPEN_AUTO"), entry(QStringLiteral("Url."), QStringLiteral("open_url"), QStringLiteral("auto"))},
        {QStringLiteral("OPEN_ALWAYS"),
         entry(QStringLiteral("Url."), QStringLiteral("open_url"), QStringLiteral("always"))},
        {QStringLiteral("STRANGE_KIND"),
         entry(QStringLiteral("Strange."), QStringLiteral("reboot"), QStringLiteral("auto"))},
        {QStringLiteral("ADOPT_BAD_CONSENT"),
         entry(QStringLiteral("Adopt?"), QStringLiteral("adopt"), QStringLiteral("never"))},
        {QStringLiteral("NOTHING"), entry(QStringLiteral("Just so."), QStringLiteral("none"), QStringLiteral("auto"))},
    });
}

} // namespace

class TestRemediationRegistry : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void emptyRegistryUsesTheBuiltInRules_data()
    {
        QTest::addColumn<std::optional<QString>>("code");
        QTest::addColumn<IncidentAction>("action");
        QTest::addColumn<QString>("cause");
        QTest::newRow("no code") << std::optional<QString>() << IncidentAction::getHelp << kUnclassified;
        QTest::newRow("empty code") << std::optional<QString>(QString()) << IncidentAction::getHelp << kUnclassified;
        QTest::newRow("UNKNOWN") << std::optional<QString>(QStringLiteral("UNKNOWN")) << IncidentAction::getHelp
                                 << kUnclassified;
        QTest::newRow("ordinary code") << std::optional<QString>(QStringLiteral("NETWORK_TIMEOUT"))
                                       << IncidentAction::getHelp << kUnclassified;
        QTest::newRow("ask headless") << std::optional<QString>(QStringLiteral("UPDATE_MODE_ASK_HEADLESS"))
                                      << IncidentAction::approve << kUnclassified;
        for (const QString &locked : {QStringLiteral("SIG_TEAM_MISMATCH"), QStringLiteral("SIG_INVALID"),
                                      QStringLiteral("PKG_AUDIT_BLOCKED"), QStringLiteral("DOWNLOAD_HASH_MISMATCH")})
            QTest::newRow(qPrintable(locked)) << std::optional<QString>(locked) << IncidentAction::none << kLocked;
    }

    void emptyRegistryUsesTheBuiltInRules()
    {
        QFETCH(std::optional<QString>, code);
        QFETCH(IncidentAction, action);
        QFETCH(QString, cause);
        const RemediationRegistry empty = RemediationRegistry::fromFile(std::nullopt);
        QVERIFY(empty.remediations.isEmpty());
        QCOMPARE(empty.action(code), action);
        QCOMPARE(empty.cause(code), cause);
    }

    void tableAndRules_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<IncidentAction>("action");
        QTest::addColumn<QString>("cause");
        QTest::newRow("locked code with a retry entry") << "SIG_INVALID" << IncidentAction::none << "Bad signature.";
        QTest::newRow("ask headless whatever its fix")
            << "UPDATE_MODE_ASK_HEADLESS" << IncidentAction::approve << "Waiting.";
        QTest::newRow("UNKNOWN keeps get help, shows its cause")
            << "UNKNOWN" << IncidentAction::getHelp << "Unknown cause.";
        QTest::newRow("codes are case-sensitive") << "unknown" << IncidentAction::fixIt << "Lower-case code.";
        QTest::newRow("quit and update ignores consent") << "APP_RUNNING" << IncidentAction::quitAndUpdate << "Open.";
        QTest::newRow("adopt ignores consent") << "BREW_NO_CASK" << IncidentAction::adopt << "No cask.";
        QTest::newRow("auto consent fixes") << "OPEN_AUTO" << IncidentAction::fixIt << "Url.";
        QTest::newRow("always consent goes to Terminal") << "OPEN_ALWAYS" << IncidentAction::runInTerminal << "Url.";
        QTest::newRow("unknown kind becomes none") << "STRANGE_KIND" << IncidentAction::none << "Strange.";
        QTest::newRow("adopt with a bad consent becomes none") << "ADOPT_BAD_CONSENT" << IncidentAction::none << "Adopt?";
        QTest::newRow("none") << "NOTHING" << IncidentAction::none << "Just so.";
        QTest::newRow("unregistered") << "NEVER_SEEN" << IncidentAction::getHelp << kUnclassified;
    }

    void tableAndRules()
    {
        QFETCH(QString, code);
        QFETCH(IncidentAction, action);
        QFETCH(QString, cause);
        const RemediationRegistry registry = sampleRegistry();
        QCOMPARE(registry.action(code), action);
        QCOMPARE(registry.cause(code), cause);
    }

    void validationKeepsEveryEntry()
    {
        const RemediationRegistry registry = sampleRegistry();
        QCOMPARE(registry.remediations.size(), 11);
        QCOMPARE(registry.remediations.value(QStringLiteral("STRANGE_KIND")),
                 (RemediationEntry{QStringLiteral("Strange."), false,
                                   RemediationEntry::Fix{QStringLiteral("none"), QStringLiteral("always")}}));
        QCOMPARE(registry.remediations.value(QStringLiteral("OPEN_AUTO")).fix,
                 (RemediationEntry::Fix{QStringLiteral("open_url"), QStringLiteral("auto")}));
        QCOMPARE(RemediationRegistry::validFixKinds().size(), 7);
        QCOMPARE(RemediationRegistry::validConsentValues().size(), 2);
        QCOMPARE(RemediationRegistry::securityLockedCodes().size(), 4);
    }

    void fileDecoding_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("entries"); // -1: the file does not decode
        const QByteArray good = "{\"cause\":\"c\",\"transient\":true,\"fix\":{\"kind\":\"none\",\"consent\":\"auto\"}}";
        QTest::newRow("one entry, extra keys ignored")
            << QByteArray("{\"version\":1,\"extra\":0,\"remediations\":{\"A\":{\"cause\":\"c\",\"transient\":false,"
                          "\"x\":1,\"fix\":{\"kind\":\"adopt\",\"consent\":\"always\",\"y\":2}}}}")
            << 1;
        QTest::newRow("no entries") << QByteArray("{\"version\":2,\"remediations\":{}}") << 0;
        QTest::newRow("version missing") << "{\"remediations\":{\"A\":" + good + "}}" << -1;
        QTest::newRow("version a string") << "{\"version\":\"1\",\"remediations\":{\"A\":" + good + "}}" << -1;
        QTest::newRow("remediations missing") << QByteArray("{\"version\":1}") << -1;
        QTest::newRow("an entry without fix")
            << "{\"version\":1,\"remediations\":{\"A\":" + good + ",\"B\":{\"cause\":\"c\",\"transient\":true}}}" << -1;
        QTest::newRow("an entry without transient")
            << QByteArray("{\"version\":1,\"remediations\":{\"A\":{\"cause\":\"c\",\"fix\":{\"kind\":\"none\","
                          "\"consent\":\"auto\"}}}}")
            << -1;
        QTest::newRow("a cause that is a number")
            << QByteArray("{\"version\":1,\"remediations\":{\"A\":{\"cause\":5,\"transient\":true,\"fix\":"
                          "{\"kind\":\"none\",\"consent\":\"auto\"}}}}")
            << -1;
        QTest::newRow("a null consent") << QByteArray(
            "{\"version\":1,\"remediations\":{\"A\":{\"cause\":\"c\",\"transient\":true,\"fix\":"
            "{\"kind\":\"none\",\"consent\":null}}}}")
                                        << -1;
        QTest::newRow("malformed") << QByteArray("{\"version\":1,") << -1;
        QTest::newRow("an array") << QByteArray("[]") << -1;
    }

    void fileDecoding()
    {
        QFETCH(QByteArray, json);
        QFETCH(int, entries);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("remediation_registry.json"));
        QVERIFY(VarnoTest::writeFile(path, json));
        const RemediationRegistry registry = RemediationRegistry::fromFile(path);
        QCOMPARE(int(registry.remediations.size()), std::max(entries, 0));
        QCOMPARE(RemediationRegistry::decode(json).has_value(), entries >= 0);
    }

    void unreadableFileGivesAnEmptyRegistry()
    {
        QTemporaryDir dir;
        QVERIFY(RemediationRegistry::fromFile(dir.filePath(QStringLiteral("missing.json"))).remediations.isEmpty());
        QVERIFY(RemediationRegistry::fromFile(dir.path()).remediations.isEmpty());
    }

    // The registry the app ships covers every code the engine stand-in emits,
    // with the remedy each is meant to get.
    void shippedRegistry_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<IncidentAction>("action");
        QTest::newRow("APP_RUNNING") << "APP_RUNNING" << IncidentAction::quitAndUpdate;
        QTest::newRow("BREW_NO_CASK") << "BREW_NO_CASK" << IncidentAction::adopt;
        QTest::newRow("NETWORK_TIMEOUT") << "NETWORK_TIMEOUT" << IncidentAction::fixIt;
        QTest::newRow("BREW_LOCKED") << "BREW_LOCKED" << IncidentAction::runInTerminal;
        QTest::newRow("SUDO_REQUIRED") << "SUDO_REQUIRED" << IncidentAction::runInTerminal;
        QTest::newRow("FDA_REQUIRED") << "FDA_REQUIRED" << IncidentAction::runInTerminal;
        QTest::newRow("UPDATE_MODE_ASK_HEADLESS") << "UPDATE_MODE_ASK_HEADLESS" << IncidentAction::approve;
        QTest::newRow("SIG_TEAM_MISMATCH") << "SIG_TEAM_MISMATCH" << IncidentAction::none;
        QTest::newRow("SIG_INVALID") << "SIG_INVALID" << IncidentAction::none;
        QTest::newRow("PKG_AUDIT_BLOCKED") << "PKG_AUDIT_BLOCKED" << IncidentAction::none;
        QTest::newRow("DOWNLOAD_HASH_MISMATCH") << "DOWNLOAD_HASH_MISMATCH" << IncidentAction::none;
    }

    void shippedRegistry()
    {
        QFETCH(QString, code);
        QFETCH(IncidentAction, action);
        const RemediationRegistry &shipped = RemediationRegistry::shared();
        QCOMPARE(&shipped, &RemediationRegistry::shared());
        QVERIFY2(shipped.remediations.contains(code), qPrintable(code));
        QCOMPARE(shipped.action(code), action);
        QVERIFY(!shipped.cause(code).isEmpty());
        QVERIFY(shipped.cause(code) != kUnclassified);
        // Every shipped entry is valid as written (validation changed nothing).
        const auto raw = RemediationRegistry::decode(
            VarnoTest::readFile(VarnoTest::sourcePath(QStringLiteral("dashboard/Resources/remediation_registry.json"))));
        QVERIFY(raw);
        QCOMPARE(raw->value(code), shipped.remediations.value(code));
    }
};

class TestVendorUpdaters : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void manifestDecoding_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("entries"); // -1: the file does not decode
        QByteArray ten = "{\"schema_version\":1,\"fingerprints\":[";
        for (int i = 0; i < 10; ++i)
            ten += "{\"vendor_key\":\"k" + QByteArray::number(i) + "\",\"display_name\":\"K\"},";
        QTest::newRow("one bad entry among ten good ones") << ten + "{\"vendor_key\":\"bad\"}]}" << -1;
        ten.chop(1);
        QTest::newRow("ten good ones") << ten + "]}" << 10;
        QTest::newRow("extra keys ignored")
            << QByteArray("{\"schema_version\":1,\"more\":true,\"fingerprints\":[{\"vendor_key\":\"a\","
                          "\"display_name\":\"A\",\"homepage\":\"x\"}]}")
            << 1;
        QTest::newRow("empty fingerprints") << QByteArray("{\"schema_version\":1,\"fingerprints\":[]}") << 0;
        QTest::newRow("no schema_version") << QByteArray("{\"fingerprints\":[]}") << -1;
        QTest::newRow("fingerprints an object") << QByteArray("{\"schema_version\":1,\"fingerprints\":{}}") << -1;
        QTest::newRow("display name null")
            << QByteArray("{\"schema_version\":1,\"fingerprints\":[{\"vendor_key\":\"a\",\"display_name\":null}]}")
            << -1;
        QTest::newRow("not JSON") << QByteArray("schema_version: 1") << -1;
    }

    void manifestDecoding()
    {
        QFETCH(QByteArray, json);
        QFETCH(int, entries);
        const auto manifest = VendorUpdatersManifest::decode(json);
        QCOMPARE(manifest.has_value(), entries >= 0);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("vendor_updaters.json"));
        QVERIFY(VarnoTest::writeFile(path, json));
        QCOMPARE(int(VendorUpdaters::fromFile(path).displayNames.size()), std::max(entries, 0));
    }

    void firstEntryWinsAndKeysAreExact()
    {
        const VendorUpdaters registry({VendorUpdater{QStringLiteral("alpha_updater"), QStringLiteral("Alpha Updater")},
                                       VendorUpdater{QStringLiteral("alpha_updater"), QStringLiteral("Other")}});
        QCOMPARE(registry.displayNames.size(), 1);
        QCOMPARE(registry.displayName(QStringLiteral("alpha_updater")),
                 std::optional<QString>(QStringLiteral("Alpha Updater")));
        QCOMPARE(registry.displayName(QStringLiteral("Alpha_Updater")), std::optional<QString>());
        QCOMPARE(registry.displayName(QStringLiteral(" alpha_updater")), std::optional<QString>());
        QVERIFY(VendorUpdaters::fromFile(std::nullopt).displayNames.isEmpty());
    }

    void shippedTableKnowsTheEnginesUpdaters()
    {
        const VendorUpdaters &shipped = VendorUpdaters::shared();
        QCOMPARE(&shipped, &VendorUpdaters::shared());
        QCOMPARE(shipped.displayName(QStringLiteral("ferrous_updater")),
                 std::optional<QString>(QStringLiteral("Ferrous Updater")));
    }
};

VARNO_TEST_CLASS(TestRemediationRegistry)
VARNO_TEST_CLASS(TestVendorUpdaters)

#include "tst_registries.moc"
