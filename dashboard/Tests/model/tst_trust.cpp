#include "DemoLibrary.h"
#include "TestRegistry.h"
#include "TestSupport.h"

#include "model/AppTrustPresenter.h"
#include "model/PosturePresenter.h"

#include <QTest>

Q_DECLARE_METATYPE(AppTrustState)

namespace {

// A registry of our own, so that the cause sentences are known here.
const RemediationRegistry &testRegistry()
{
    static const RemediationRegistry registry = [] {
        QHash<QString, RemediationEntry> entries;
        auto add = [&entries](const char *code, const char *cause) {
            RemediationEntry entry;
            entry.cause = QString::fromUtf8(cause);
            entry.fix = {QStringLiteral("none"), QStringLiteral("always")};
            entries.insert(QString::fromLatin1(code), entry);
        };
        add("BREW_NO_CASK", "No Homebrew cask ships this app.");
        add("NETWORK_TIMEOUT", "The download timed out.");
        add("BREW_LOCKED", "Homebrew was busy.");
        add("SIG_TEAM_MISMATCH", "The new version is signed by someone else.");
        return RemediationRegistry(entries);
    }();
    return registry;
}

const VendorUpdaters &testVendors()
{
    static const VendorUpdaters vendors({{QStringLiteral("ferrous_updater"), QStringLiteral("Ferrous Updater")}});
    return vendors;
}

std::optional<AppIncident> demoIncident(const QString &bundleId)
{
    const QHash<QString, AppIncident> incidents = AppIncident::from(PresentersTest::demoLibrary());
    const auto it = incidents.constFind(bundleId);
    return it == incidents.constEnd() ? std::nullopt : std::optional(*it);
}

AppTrustPresentation present(const QString &bundleId, const UpdateState &state, bool withIncident = true)
{
    return AppTrustPresenter::make(PresentersTest::demoApp(bundleId), state,
                                   withIncident ? demoIncident(bundleId) : std::nullopt, testVendors(), testRegistry());
}

QString cause(const char *code)
{
    return testRegistry().cause(QString::fromLatin1(code));
}

} // namespace

class TestTrustPresenter : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every demo app at rest, with the incidents its record carries.
    void demoLibraryAtRest_data()
    {
        QTest::addColumn<QString>("bundleId");
        QTest::addColumn<AppTrustState>("state");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QString>("label");

        QTest::newRow("community verified")
            << QStringLiteral("org.sim.fernlight") << AppTrustState::currentCommunityVerified
            << QStringLiteral("Verified with community consensus") << QStringLiteral("Verified by 3 endpoints")
            << QStringLiteral("SPARK");
        QTest::newRow("verified path, no consensus")
            << QStringLiteral("org.sim.driftwood") << AppTrustState::currentLocallyVerified
            << QStringLiteral("Locally verified") << QStringLiteral("Trust signals recorded on this Mac")
            << QStringLiteral("SPARK");
        QTest::newRow("current without evidence")
            << QStringLiteral("org.sim.bastion") << AppTrustState::currentUnverified
            << QStringLiteral("Current, trust data still forming") << QStringLiteral("No local verification record yet")
            << QStringLiteral("BREW");
        QTest::newRow("outdated") << QStringLiteral("org.sim.kettle") << AppTrustState::outdatedTrusted
                                  << QStringLiteral("Update available") << QStringLiteral("1.4 → 1.5")
                                  << QStringLiteral("SPARK");
        QTest::newRow("outdated by version order")
            << QStringLiteral("org.sim.tallybook") << AppTrustState::outdatedTrusted
            << QStringLiteral("Update available") << QStringLiteral("1.2 → 1.10") << QStringLiteral("BREW");
        QTest::newRow("outdated beats the seal")
            << QStringLiteral("org.sim.saltmarsh") << AppTrustState::outdatedTrusted
            << QStringLiteral("Update available") << QStringLiteral("1.8.2 → 1.9.0") << QStringLiteral("BREW");
        QTest::newRow("outdated and at risk")
            << QStringLiteral("org.sim.lanternfish") << AppTrustState::outdatedAtRisk
            << QStringLiteral("Update needs review") << QStringLiteral("4.0 (1234) → 4.1") << QStringLiteral("BREW");
        QTest::newRow("skipped incident")
            << QStringLiteral("org.sim.handmade") << AppTrustState::skipped << QStringLiteral("Update skipped")
            << cause("BREW_NO_CASK") << QStringLiteral("TRIG");
        QTest::newRow("failed incident") << QStringLiteral("org.sim.netherby") << AppTrustState::failed
                                         << QStringLiteral("Update failed") << cause("NETWORK_TIMEOUT")
                                         << QStringLiteral("BREW");
        QTest::newRow("failed incident without code")
            << QStringLiteral("org.sim.wickerbox") << AppTrustState::failed << QStringLiteral("Update failed")
            << cause("UNKNOWN") << QStringLiteral("SPARK");
        QTest::newRow("incident of an app no longer outdated")
            << QStringLiteral("org.sim.roughcut") << AppTrustState::currentUnverified
            << QStringLiteral("Current, trust data still forming") << QStringLiteral("No local verification record yet")
            << QStringLiteral("TRIG");
        QTest::newRow("vendor updater, outdated")
            << QStringLiteral("org.sim.ferrous") << AppTrustState::outdatedTrusted
            << QStringLiteral("Self-updating via Ferrous Updater") << QStringLiteral("2024.01 — update available")
            << QStringLiteral("SELF");
        QTest::newRow("self-managed, unmeasured")
            << QStringLiteral("org.sim.cobalt") << AppTrustState::currentUnverified
            << QStringLiteral("Self-updating via vendor updater")
            << QStringLiteral("Vendor updater present — version not independently checked") << QStringLiteral("SELF");
        QTest::newRow("ignored") << QStringLiteral("org.sim.brightside") << AppTrustState::currentUnverified
                                 << QStringLiteral("Current, trust data still forming")
                                 << QStringLiteral("No local verification record yet") << QStringLiteral("BREW");
    }

    void demoLibraryAtRest()
    {
        QFETCH(QString, bundleId);
        QFETCH(AppTrustState, state);
        QFETCH(QString, title);
        QFETCH(QString, detail);
        QFETCH(QString, label);
        const AppTrustPresentation result = present(bundleId, UpdateState::idle());
        QCOMPARE(result.state, state);
        QCOMPARE(result.title, title);
        QCOMPARE(result.detail, std::optional(detail));
        QCOMPARE(result.mechanismLabel, label);
    }

    // No demo record makes the presenter fall over, whatever its state.
    void everyDemoAppInEveryState()
    {
        const QList<UpdateState> states = {UpdateState::idle(),
                                           UpdateState::done(),
                                           UpdateState::queued(1, 3),
                                           UpdateState::running(QStringLiteral("Fetching…")),
                                           UpdateState::skipped(QStringLiteral("skipped")),
                                           UpdateState::failed(QStringLiteral("update failed")),
                                           UpdateState::quitDenied(QStringLiteral("no"))};
        QSet<AppTrustState> reached;
        for (const AppRecord &app : PresentersTest::demoLibrary()) {
            for (const UpdateState &state : states) {
                const AppTrustPresentation result = AppTrustPresenter::make(app, state, demoIncident(app.bundle_id),
                                                                            testVendors(), testRegistry());
                QVERIFY(!result.title.isEmpty());
                QVERIFY(result.detail.has_value());
                QVERIFY(!result.evidence.isEmpty());
                QVERIFY(result.collaborationCount >= 0);
                QVERIFY(!(result.showsSeal && result.showsVerifiedPath));
                reached.insert(result.state);
            }
        }
        QCOMPARE(reached.size(), 9);
    }

    void updateStates_data()
    {
        QTest::addColumn<QString>("bundleId");
        QTest::addColumn<UpdateState>("updateState");
        QTest::addColumn<bool>("withIncident");
        QTest::addColumn<AppTrustState>("state");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("detail");

        const QString longMessage = QStringLiteral("Still 1.4 — brew may have failed. ") + QString(80, QLatin1Char('x'));
        QTest::newRow("queued") << QStringLiteral("org.sim.kettle") << UpdateState::queued(2, 5) << true
                                << AppTrustState::queued << QStringLiteral("Queued") << QStringLiteral("2 of 5");
        QTest::newRow("running") << QStringLiteral("org.sim.netherby")
                                 << UpdateState::running(QStringLiteral("Verifying…")) << true << AppTrustState::updating
                                 << QStringLiteral("Updating now") << QStringLiteral("Verifying…");
        QTest::newRow("skipped with incident")
            << QStringLiteral("org.sim.handmade") << UpdateState::skipped(QStringLiteral("r")) << true
            << AppTrustState::skipped << QStringLiteral("Update skipped") << cause("BREW_NO_CASK");
        QTest::newRow("skipped without incident")
            << QStringLiteral("org.sim.kettle")
            << UpdateState::skipped(QStringLiteral("Brusk will update it after you quit it")) << true
            << AppTrustState::skipped << QStringLiteral("Skipped")
            << QStringLiteral("Brusk will update it after you quit it");
        QTest::newRow("failed, skipped incident")
            << QStringLiteral("org.sim.handmade") << UpdateState::failed(QStringLiteral("m")) << true
            << AppTrustState::failed << QStringLiteral("Update skipped") << cause("BREW_NO_CASK");
        QTest::newRow("failed, failed incident")
            << QStringLiteral("org.sim.signet") << UpdateState::failed(QStringLiteral("m")) << true
            << AppTrustState::failed << QStringLiteral("Update failed") << cause("SIG_TEAM_MISMATCH");
        QTest::newRow("failed, no incident, message shortened")
            << QStringLiteral("org.sim.kettle") << UpdateState::failed(longMessage) << true << AppTrustState::failed
            << QStringLiteral("Update failed") << PosturePresenter::shortVersion(longMessage, 88);
        QTest::newRow("failed but no longer outdated")
            << QStringLiteral("org.sim.inkwell") << UpdateState::failed(QStringLiteral("m")) << true
            << AppTrustState::currentUnverified << QStringLiteral("Mechanism re-evaluating")
            << QStringLiteral("VARNO will reclassify this app on the next scan.");
        QTest::newRow("quit denied") << QStringLiteral("org.sim.kettle")
                                     << UpdateState::quitDenied(QStringLiteral("Brusk couldn't quit Kettle.")) << true
                                     << AppTrustState::skipped << QStringLiteral("Couldn't quit it")
                                     << QStringLiteral("Brusk couldn't quit Kettle.");
        QTest::newRow("done ignores the incident")
            << QStringLiteral("org.sim.netherby") << UpdateState::done() << true << AppTrustState::outdatedTrusted
            << QStringLiteral("Update available") << QStringLiteral("2.2 → 2.3");
        QTest::newRow("idle keeps the incident")
            << QStringLiteral("org.sim.netherby") << UpdateState::idle() << true << AppTrustState::failed
            << QStringLiteral("Update failed") << cause("NETWORK_TIMEOUT");
        QTest::newRow("vendor rows come before the update state")
            << QStringLiteral("org.sim.ferrous") << UpdateState::running(QStringLiteral("Installing…")) << true
            << AppTrustState::outdatedTrusted << QStringLiteral("Self-updating via Ferrous Updater")
            << QStringLiteral("2024.01 — update available");
    }

    void updateStates()
    {
        QFETCH(QString, bundleId);
        QFETCH(UpdateState, updateState);
        QFETCH(bool, withIncident);
        QFETCH(AppTrustState, state);
        QFETCH(QString, title);
        QFETCH(QString, detail);
        const AppTrustPresentation result = present(bundleId, updateState, withIncident);
        QCOMPARE(result.state, state);
        QCOMPARE(result.title, title);
        QCOMPARE(result.detail, std::optional(detail));
    }

    // Sparkle built-in apps show their own texts in every update state.
    void sparkleInternal()
    {
        const AppRecord app = PresentersTest::exampleApp([](AppRecord &a) {
            a.update_mechanism = QStringLiteral("sparkle_internal");
            a.version_check_status = QStringLiteral("outdated");
        });
        for (const UpdateState &state :
             {UpdateState::idle(), UpdateState::running(QStringLiteral("x")), UpdateState::done()}) {
            const AppTrustPresentation result = AppTrustPresenter::make(app, state, std::nullopt, testVendors(),
                                                                        testRegistry());
            QCOMPARE(result.state, AppTrustState::currentLocallyVerified);
            QCOMPARE(result.title, QStringLiteral("Self-updates via Sparkle"));
            QCOMPARE(result.detail,
                     std::optional(QStringLiteral(
                         "Use the app\u2019s own \u201CCheck for Updates\u201D \u2014 VARNO can\u2019t poll it.")));
            QCOMPARE(result.mechanismLabel, QStringLiteral("SPARK"));
        }
    }

    void sealAndPath_data()
    {
        QTest::addColumn<std::optional<bool>>("seal");
        QTest::addColumn<std::optional<bool>>("path");
        QTest::addColumn<qint64>("count");
        QTest::addColumn<AppTrustState>("state");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<bool>("showsSeal");
        QTest::addColumn<bool>("showsPath");

        const std::optional<bool> yes(true), no(false), absent;
        QTest::newRow("seal alone") << yes << absent << qint64(0) << AppTrustState::currentLocallyVerified
                                    << QStringLiteral("Trust signals recorded on this Mac") << true << false;
        QTest::newRow("seal, one endpoint") << yes << no << qint64(1) << AppTrustState::currentCommunityVerified
                                            << QStringLiteral("Verified by 1 endpoint") << true << false;
        QTest::newRow("seal wins over path") << yes << yes << qint64(2) << AppTrustState::currentCommunityVerified
                                             << QStringLiteral("Verified by 2 endpoints") << true << false;
        QTest::newRow("path alone") << no << yes << qint64(0) << AppTrustState::currentLocallyVerified
                                    << QStringLiteral("Trust signals recorded on this Mac") << false << true;
        QTest::newRow("path, endpoints") << absent << yes << qint64(12) << AppTrustState::currentCommunityVerified
                                         << QStringLiteral("Verified by 12 endpoints") << false << true;
        QTest::newRow("negative count is none") << absent << yes << qint64(-4) << AppTrustState::currentLocallyVerified
                                                << QStringLiteral("Trust signals recorded on this Mac") << false << true;
        QTest::newRow("neither") << no << no << qint64(5) << AppTrustState::currentUnverified
                                 << QStringLiteral("No local verification record yet") << false << false;
    }

    void sealAndPath()
    {
        QFETCH(std::optional<bool>, seal);
        QFETCH(std::optional<bool>, path);
        QFETCH(qint64, count);
        QFETCH(AppTrustState, state);
        QFETCH(QString, detail);
        QFETCH(bool, showsSeal);
        QFETCH(bool, showsPath);
        const AppRecord app = PresentersTest::exampleApp([&](AppRecord &a) {
            a.version_check_status = QStringLiteral("current");
            a.green_seal = seal;
            a.verified_path = path;
            a.community_sha256_count = count;
        });
        const AppTrustPresentation result = AppTrustPresenter::make(app, UpdateState::idle(), std::nullopt,
                                                                    testVendors(), testRegistry());
        QCOMPARE(result.state, state);
        QCOMPARE(result.detail, std::optional(detail));
        QCOMPARE(result.showsSeal, showsSeal);
        QCOMPARE(result.showsVerifiedPath, showsPath);
        QCOMPARE(result.collaborationCount, std::max<qint64>(count, 0));
    }

    void evidence_data()
    {
        QTest::addColumn<AppRecord>("app");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("everything") << PresentersTest::exampleApp([](AppRecord &a) {
            a.last_team_id = QStringLiteral("ABCDE12345");
            a.last_sha256 = QStringLiteral("00ff");
            a.last_cdn_domain = QStringLiteral("dl.example.com");
            a.community_sha256_count = 3;
        })
                                    << QStringList{QStringLiteral("Team ID continuity recorded"),
                                                   QStringLiteral("Checksum captured"),
                                                   QStringLiteral("Source domain: dl.example.com"),
                                                   QStringLiteral("Community checksum consensus: 3")};
        QTest::newRow("empty texts count as none") << PresentersTest::exampleApp([](AppRecord &a) {
            a.last_team_id = QString();
            a.last_sha256 = QString();
            a.last_cdn_domain = QString();
            a.community_sha256_count = 0;
        }) << QStringList{QStringLiteral("No trust evidence recorded yet")};
        QTest::newRow("negative consensus")
            << PresentersTest::exampleApp([](AppRecord &a) { a.community_sha256_count = -1; })
            << QStringList{QStringLiteral("No trust evidence recorded yet")};
        QTest::newRow("checksum only") << PresentersTest::exampleApp([](AppRecord &a) {
            a.last_sha256 = QStringLiteral("ab");
        }) << QStringList{QStringLiteral("Checksum captured")};
    }

    void evidence()
    {
        QFETCH(AppRecord, app);
        QFETCH(QStringList, expected);
        QCOMPARE(AppTrustPresenter::make(app, UpdateState::idle(), std::nullopt, testVendors(), testRegistry()).evidence,
                 expected);
    }

    void mechanismLabels_data()
    {
        QTest::addColumn<std::optional<QString>>("mechanism");
        QTest::addColumn<QString>("label");
        auto m = [](const char *s) { return std::optional(QString::fromLatin1(s)); };
        QTest::newRow("cask") << m("cask") << QStringLiteral("BREW");
        QTest::newRow("mas") << m("mas") << QStringLiteral("MAS");
        QTest::newRow("sparkle") << m("sparkle") << QStringLiteral("SPARK");
        QTest::newRow("vendor_self_update") << m("vendor_self_update") << QStringLiteral("SELF");
        QTest::newRow("sparkle_internal") << m("sparkle_internal") << QStringLiteral("SPARK");
        QTest::newRow("capitals are another mechanism") << m("Cask") << QStringLiteral("TRIG");
        QTest::newRow("unknown") << m("unknown") << QStringLiteral("TRIG");
        QTest::newRow("absent") << std::optional<QString>() << QStringLiteral("TRIG");
    }

    void mechanismLabels()
    {
        QFETCH(std::optional<QString>, mechanism);
        QFETCH(QString, label);
        QCOMPARE(AppTrustPresenter::mechanismLabel(mechanism), label);
    }

    void vendorSelfManaged_data()
    {
        QTest::addColumn<AppRecord>("app");
        QTest::addColumn<bool>("expected");
        const auto s = [](const char *t) { return std::optional(QString::fromLatin1(t)); };

        QTest::newRow("mode self") << PresentersTest::exampleApp([&](AppRecord &a) { a.update_mode = s("self"); })
                                   << true;
        QTest::newRow("mode Self") << PresentersTest::exampleApp([&](AppRecord &a) { a.update_mode = s("Self"); })
                                   << false;
        QTest::newRow("self_managed true")
            << PresentersTest::exampleApp([&](AppRecord &a) { a.self_managed = true; }) << true;
        QTest::newRow("vendor_self_update true")
            << PresentersTest::exampleApp([&](AppRecord &a) { a.vendor_self_update = true; }) << true;
        QTest::newRow("first present flag decides rule 2") << PresentersTest::exampleApp([&](AppRecord &a) {
            a.self_managed = false;
            a.vendor_self_update = true;
        }) << false;
        QTest::newRow("a false flag does not stop the mechanism rule") << PresentersTest::exampleApp([&](AppRecord &a) {
            a.self_managed = false;
            a.update_mechanism = s("vendor_self_update");
        }) << true;
        QTest::newRow("a false flag does not stop the updater-name rule") << PresentersTest::exampleApp([&](AppRecord &a) {
            a.vendor_self_update = false;
            a.vendor_updater_name = s("acme_updater");
            a.update_mechanism = s("UNKNOWN");
        }) << true;
        QTest::newRow("updater name, no mechanism")
            << PresentersTest::exampleApp([&](AppRecord &a) { a.vendor_updater_name = s("acme_updater"); }) << true;
        QTest::newRow("updater name, empty mechanism") << PresentersTest::exampleApp([&](AppRecord &a) {
            a.vendor_updater_name = s("acme_updater");
            a.update_mechanism = s("");
        }) << true;
        QTest::newRow("updater name, but a known mechanism") << PresentersTest::exampleApp([&](AppRecord &a) {
            a.vendor_updater_name = s("acme_updater");
            a.update_mechanism = s("cask");
        }) << false;
        QTest::newRow("empty updater name")
            << PresentersTest::exampleApp([&](AppRecord &a) { a.vendor_updater_name = s(""); }) << false;
        QTest::newRow("plain cask") << PresentersTest::exampleApp([&](AppRecord &a) { a.update_mechanism = s("cask"); })
                                    << false;
    }

    void vendorSelfManaged()
    {
        QFETCH(AppRecord, app);
        QFETCH(bool, expected);
        QCOMPARE(AppTrustPresenter::isVendorSelfManaged(app), expected);
    }

    void vendorNames_data()
    {
        QTest::addColumn<std::optional<QString>>("key");
        QTest::addColumn<QString>("expected");
        auto k = [](const char *t) { return std::optional(QString::fromUtf8(t)); };
        QTest::newRow("registry name") << k("ferrous_updater") << QStringLiteral("Ferrous Updater");
        QTest::newRow("registry name after trimming") << k(" ferrous_updater\n") << QStringLiteral("Ferrous Updater");
        QTest::newRow("key made readable") << k("acme_UPDATER") << QStringLiteral("Acme Updater");
        QTest::newRow("blank") << k(" \t") << QStringLiteral("vendor updater");
        QTest::newRow("absent") << std::optional<QString>() << QStringLiteral("vendor updater");
    }

    void vendorNames()
    {
        QFETCH(std::optional<QString>, key);
        QFETCH(QString, expected);
        const AppRecord app = PresentersTest::exampleApp([&](AppRecord &a) { a.vendor_updater_name = key; });
        QCOMPARE(AppTrustPresenter::vendorDisplayName(app, testVendors()), expected);
    }

    // The tone of each verdict, and what that tone says.
    void tones_data()
    {
        QTest::addColumn<AppTrustState>("state");
        QTest::addColumn<PostureTone>("posture");
        QTest::addColumn<Tone>("tone");
        auto row = [](const char *name, AppTrustState state, PostureTone posture, Tone tone) {
            QTest::newRow(name) << state << posture << tone;
        };
        row("community verified", AppTrustState::currentCommunityVerified, PostureTone::green, Tone::good);
        row("locally verified", AppTrustState::currentLocallyVerified, PostureTone::green, Tone::good);
        row("unverified", AppTrustState::currentUnverified, PostureTone::neutral, Tone::neutral);
        row("outdated trusted", AppTrustState::outdatedTrusted, PostureTone::orange, Tone::caution);
        row("outdated at risk", AppTrustState::outdatedAtRisk, PostureTone::red, Tone::risk);
        row("updating", AppTrustState::updating, PostureTone::orange, Tone::caution);
        row("queued", AppTrustState::queued, PostureTone::neutral, Tone::neutral);
        row("skipped", AppTrustState::skipped, PostureTone::neutral, Tone::neutral);
        row("failed", AppTrustState::failed, PostureTone::red, Tone::risk);
    }

    void tones()
    {
        QFETCH(AppTrustState, state);
        QFETCH(PostureTone, posture);
        QFETCH(Tone, tone);
        QCOMPARE(AppTrustPresenter::tone(state), posture);
        QCOMPARE(PosturePresenter::tone(AppTrustPresenter::tone(state)), tone);
    }
};

VARNO_TEST_CLASS(TestTrustPresenter)
#include "tst_trust.moc"
