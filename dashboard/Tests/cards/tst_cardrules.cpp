#include "TestRegistry.h"
#include "TestSupport.h"

#include "cards/CardRules.h"
#include "kit/VarnoColor.h"
#include "widgets/AppIconView.h"
#include "widgets/IncidentActionButton.h"
#include "widgets/TrustBadges.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

Q_DECLARE_METATYPE(AppTrustState)
Q_DECLARE_METATYPE(PostureTone)
Q_DECLARE_METATYPE(IncidentAction)
Q_DECLARE_METATYPE(CardRules::ActionArea::Kind)
Q_DECLARE_METATYPE(CardRules::VersionGroup::Kind)

namespace {

AppRecord rec(const char *json)
{
    QByteArray text = QByteArray("{\"bundle_id\":\"org.x\",\"app_name\":\"Xylo\"") + (json[0] ? "," : "") + json + "}";
    const auto record = AppRecord::fromJson(QJsonDocument::fromJson(text).object());
    if (!record)
        qFatal("test record does not decode: %s", text.constData());
    return *record;
}

using Kind = CardRules::ActionArea::Kind;

} // namespace

// The pure rules of the cards and the incident button, as tables.
class TestCardRules : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void toneAndBorder_data()
    {
        QTest::addColumn<AppTrustState>("state");
        QTest::addColumn<PostureTone>("tone");
        QTest::addColumn<ColorPair>("border");
        QTest::addColumn<qreal>("opacity");
        const ColorPair &outline = VarnoColor::border();
        const ColorPair &orange = VarnoColor::warning();
        const ColorPair &red = VarnoColor::danger();
        QTest::newRow("community") << AppTrustState::currentCommunityVerified << PostureTone::green << outline << 1.0;
        QTest::newRow("locally") << AppTrustState::currentLocallyVerified << PostureTone::green << outline << 1.0;
        QTest::newRow("unverified") << AppTrustState::currentUnverified << PostureTone::neutral << outline << 1.0;
        QTest::newRow("outdated") << AppTrustState::outdatedTrusted << PostureTone::orange << orange << 0.25;
        QTest::newRow("at risk") << AppTrustState::outdatedAtRisk << PostureTone::red << red << 0.3;
        QTest::newRow("updating") << AppTrustState::updating << PostureTone::orange << orange << 0.25;
        QTest::newRow("queued") << AppTrustState::queued << PostureTone::neutral << outline << 1.0;
        QTest::newRow("skipped") << AppTrustState::skipped << PostureTone::neutral << outline << 1.0;
        QTest::newRow("failed") << AppTrustState::failed << PostureTone::red << red << 0.3;
    }
    void toneAndBorder()
    {
        QFETCH(AppTrustState, state);
        QFETCH(PostureTone, tone);
        QFETCH(ColorPair, border);
        QFETCH(qreal, opacity);
        QCOMPARE(CardRules::toneFor(state), tone);
        QCOMPARE(CardRules::borderFor(state).color, border);
        QCOMPARE(CardRules::borderFor(state).opacity, opacity);
    }

    void inAppUpdater_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("expected");
        QTest::newRow("cannot trigger") << QByteArray(R"("self_managed":true,"update_mode":"self")") << false;
        QTest::newRow("trigger false") << QByteArray(R"("can_trigger_self_update":false,"self_managed":true)") << false;
        QTest::newRow("self managed") << QByteArray(R"("can_trigger_self_update":true,"self_managed":true)") << true;
        QTest::newRow("false flag, mode self")
            << QByteArray(R"("can_trigger_self_update":true,"self_managed":false,"update_mode":"self")") << true;
        QTest::newRow("false flag, mode auto")
            << QByteArray(R"("can_trigger_self_update":true,"self_managed":false,"update_mechanism":"vendor_self_update")")
            << false;
        QTest::newRow("first present wins")
            << QByteArray(R"("can_trigger_self_update":true,"self_managed":false,"vendor_self_update":true)") << false;
        QTest::newRow("vendor flag") << QByteArray(R"("can_trigger_self_update":true,"vendor_self_update":true)") << true;
        QTest::newRow("no flags, vendor mechanism")
            << QByteArray(R"("can_trigger_self_update":true,"update_mechanism":"vendor_self_update")") << true;
        QTest::newRow("no flags, other mechanism")
            << QByteArray(R"("can_trigger_self_update":true,"update_mechanism":"Vendor_Self_Update")") << false;
    }
    void inAppUpdater()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, expected);
        QCOMPARE(CardRules::canTriggerInAppUpdate(rec(json.constData())), expected);
    }

    void cardLabel_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("label");
        QTest::newRow("current") << QByteArray(R"("current_version":"1","latest_version":"1")") << "Xylo, Status";
        QTest::newRow("outdated, both") << QByteArray(R"("current_version":"1.2","latest_version":"1.3")")
                                        << "Xylo, Status, installed 1.2, latest 1.3";
        QTest::newRow("outdated, no latest")
            << QByteArray(R"("current_version":"1.2","version_check_status":"outdated")") << "Xylo, Status";
        QTest::newRow("unmeasured") << QByteArray(R"("version_check_status":"unmeasured")")
                                    << "Xylo, Status, version not independently checked";
        QTest::newRow("unknown") << QByteArray("") << "Xylo, Status, version status unknown";
        QTest::newRow("catalog stale") << QByteArray(R"("version_check_status":"catalog_stale")")
                                       << "Xylo, Status, catalog latest older than installed";
        QTest::newRow("excluded") << QByteArray(R"("user_ignored":1)") << "Xylo, Status";
    }
    void cardLabel()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, label);
        QCOMPARE(CardRules::accessibilityCardLabel(rec(json.constData()), QStringLiteral("Status")), label);
    }

    // Non-idle states override the idle chain; the idle chain's first match
    // decides.
    void actionArea_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<UpdateState>("state");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("symbol");
        QTest::addColumn<QString>("name");
        const QByteArray outdatedSeal = R"("current_version":"1","latest_version":"2","green_seal":true)";
        QTest::newRow("queued") << outdatedSeal << UpdateState::queued(1, 2) << Kind::symbol << "clock"
                                << "";
        QTest::newRow("running") << outdatedSeal << UpdateState::running("x") << Kind::progress << ""
                                 << "";
        QTest::newRow("done, seal though outdated") << outdatedSeal << UpdateState::done() << Kind::greenSeal << ""
                                                    << "";
        QTest::newRow("done, path") << QByteArray(R"("verified_path":true)") << UpdateState::done()
                                    << Kind::verifiedPath << ""
                                    << "";
        QTest::newRow("done, plain") << QByteArray("") << UpdateState::done() << Kind::symbol << "checkmark"
                                     << "";
        QTest::newRow("skipped") << outdatedSeal << UpdateState::skipped("r") << Kind::symbol << "arrow.uturn.forward"
                                 << "";
        QTest::newRow("failed") << outdatedSeal << UpdateState::failed("m") << Kind::symbol << "exclamationmark.triangle"
                                << "";
        QTest::newRow("quit denied") << outdatedSeal << UpdateState::quitDenied("m") << Kind::symbol << "hand.raised"
                                     << "";
        QTest::newRow("idle outdated with seal: Update")
            << outdatedSeal << UpdateState::idle() << Kind::updateButton << ""
            << "Update";
        QTest::newRow("in-app beats unmeasured")
            << QByteArray(R"("can_trigger_self_update":true,"self_managed":true,"version_check_status":"unmeasured")")
            << UpdateState::idle() << Kind::checkInAppButton << ""
            << "Check in App";
        QTest::newRow("unmeasured") << QByteArray(R"("update_mechanism":"mas")") << UpdateState::idle() << Kind::symbol
                                    << "questionmark.circle"
                                    << "Not checked";
        QTest::newRow("unknown") << QByteArray(R"("update_mechanism":"cask")") << UpdateState::idle() << Kind::symbol
                                 << "ellipsis.circle"
                                 << "Version status unknown";
        QTest::newRow("catalog stale") << QByteArray(R"("version_check_status":"catalog_stale")") << UpdateState::idle()
                                       << Kind::symbol << "arrow.down.to.line.compact"
                                       << "Catalog behind installed version";
        QTest::newRow("self managed") << QByteArray(
            R"("update_mechanism":"vendor_self_update","version_check_status":"current")")
                                      << UpdateState::idle() << Kind::symbol << "arrow.triangle.2.circlepath"
                                      << "Self-updating, version confirmed";
        QTest::newRow("seal") << QByteArray(
            R"("latest_version":"1","current_version":"1","green_seal":true,"verified_path":true)")
                              << UpdateState::idle() << Kind::greenSeal << ""
                              << "";
        QTest::newRow("path") << QByteArray(R"("latest_version":"1","current_version":"1","verified_path":true)")
                              << UpdateState::idle() << Kind::verifiedPath << ""
                              << "";
        QTest::newRow("nothing") << QByteArray(R"("latest_version":"1","current_version":"1")") << UpdateState::idle()
                                 << Kind::empty << ""
                                 << "";
    }
    void actionArea()
    {
        QFETCH(QByteArray, json);
        QFETCH(UpdateState, state);
        QFETCH(Kind, kind);
        QFETCH(QString, symbol);
        QFETCH(QString, name);
        const CardRules::ActionArea area = CardRules::actionAreaFor(rec(json.constData()), state, {});
        QCOMPARE(area.kind, kind);
        QCOMPARE(area.symbol, symbol);
        QCOMPARE(area.accessibleName, name);
    }

    void updateButtonGate_data()
    {
        QTest::addColumn<bool>("updating");
        QTest::addColumn<bool>("scanning");
        QTest::addColumn<bool>("fixing");
        QTest::addColumn<bool>("single");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("help");
        QTest::addColumn<bool>("checkInAppEnabled");
        const QString plain = QStringLiteral("Update this app through VARNO");
        QTest::newRow("idle") << false << false << false << false << true << plain << true;
        QTest::newRow("batch run") << true << false << false << false << false << plain << false;
        QTest::newRow("scan") << false << true << false << false << false << "Updates resume when the scan finishes."
                              << true;
        QTest::newRow("single") << false << false << false << true << false
                                << "Updates resume when the current update finishes." << true;
        QTest::newRow("scan beats single")
            << false << true << false << true << false << "Updates resume when the scan finishes." << true;
        QTest::newRow("fixing") << false << false << true << false << true << plain << true;
    }
    void updateButtonGate()
    {
        QFETCH(bool, updating);
        QFETCH(bool, scanning);
        QFETCH(bool, fixing);
        QFETCH(bool, single);
        QFETCH(bool, enabled);
        QFETCH(QString, help);
        QFETCH(bool, checkInAppEnabled);
        const CardRules::BusyFlags busy{updating, scanning, fixing, single};
        const CardRules::ActionArea update = CardRules::actionAreaFor(rec(R"("current_version":"1","latest_version":"2")"),
                                                                      UpdateState::idle(), busy);
        QCOMPARE(update.kind, Kind::updateButton);
        QCOMPARE(update.enabled, enabled);
        QCOMPARE(update.help, help);
        QCOMPARE(update.accessibleDescription, help);
        const CardRules::ActionArea check =
            CardRules::actionAreaFor(rec(R"("can_trigger_self_update":true,"update_mode":"self")"), UpdateState::idle(),
                                     busy);
        QCOMPARE(check.kind, Kind::checkInAppButton);
        QCOMPARE(check.enabled, checkInAppEnabled);
        QCOMPARE(check.help, QStringLiteral("Check for Update in App"));
        QCOMPARE(check.accessibleDescription, QStringLiteral("Open the app’s own updater"));
    }

    void updateButtonRisk_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("risk");
        QTest::newRow("none") << QByteArray(R"("current_version":"1","latest_version":"2")") << false;
        QTest::newRow("critical") << QByteArray(R"("current_version":"1","latest_version":"2","risk_tier":"critical")")
                                  << true;
        QTest::newRow("High") << QByteArray(R"("current_version":"1","latest_version":"2","risk_tier":"High")") << true;
        QTest::newRow("low") << QByteArray(R"("current_version":"1","latest_version":"2","risk_tier":"low")") << false;
    }
    void updateButtonRisk()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, risk);
        QCOMPARE(CardRules::actionAreaFor(rec(json.constData()), UpdateState::idle(), {}).isRisk, risk);
    }

    void versionGroup_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<CardRules::VersionGroup::Kind>("kind");
        QTest::addColumn<QString>("text");
        using V = CardRules::VersionGroup::Kind;
        QTest::newRow("outdated") << QByteArray(R"("current_version":"1.2","latest_version":"1.3")") << V::outdated
                                  << "1.2|1.3";
        QTest::newRow("outdated, no latest")
            << QByteArray(R"("current_version":"1.2","version_check_status":"outdated")") << V::outdated << "1.2|?";
        QTest::newRow("ignored") << QByteArray(R"("current_version":"1.2","latest_version":"1.3","user_ignored":1)")
                                 << V::current << "1.2|";
        QTest::newRow("mode ignore") << QByteArray(
            R"("current_version":"1.2","latest_version":"1.3","update_mode":"ignore")")
                                     << V::current << "1.2|";
        QTest::newRow("current") << QByteArray(R"x("current_version":"2.0 (1234)","latest_version":"2.0 (1234)")x")
                                 << V::current << "2.0 (1234)|";
        QTest::newRow("no version") << QByteArray("") << V::nothing << "|";
        QTest::newRow("empty version") << QByteArray(R"("current_version":"")") << V::nothing << "|";
    }
    void versionGroup()
    {
        QFETCH(QByteArray, json);
        QFETCH(CardRules::VersionGroup::Kind, kind);
        QFETCH(QString, text);
        const CardRules::VersionGroup group = CardRules::versionGroupFor(rec(json.constData()));
        QCOMPARE(group.kind, kind);
        QCOMPARE(group.current + QLatin1Char('|') + group.latest, text);
    }

    void badges_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<ColorPair>("background");
        QTest::addColumn<qreal>("opacity");
        QTest::addColumn<ColorPair>("foreground");
        QTest::newRow("BREW") << "BREW" << VarnoColor::warning() << 0.1 << VarnoColor::attention();
        QTest::newRow("MAS") << "MAS" << VarnoColor::info() << 0.1 << VarnoColor::info();
        QTest::newRow("SPARK") << "SPARK" << VarnoColor::surfaceHover() << 1.0 << VarnoColor::textSecondary();
        QTest::newRow("SELF") << "SELF" << VarnoColor::success() << 0.1 << VarnoColor::success();
        QTest::newRow("TRIG") << "TRIG" << VarnoColor::accent() << 0.1 << VarnoColor::accent();
        QTest::newRow("spark lower case") << "spark" << VarnoColor::accent() << 0.1 << VarnoColor::accent();
    }
    void badges()
    {
        QFETCH(QString, label);
        QFETCH(ColorPair, background);
        QFETCH(qreal, opacity);
        QFETCH(ColorPair, foreground);
        const CardRules::BadgeStyle style = CardRules::mechanismBadgeStyle(label);
        QCOMPARE(style.background, background);
        QCOMPARE(style.backgroundOpacity, opacity);
        QCOMPARE(style.foreground, foreground);
    }

    void collaboration()
    {
        QCOMPARE(CardRules::collaborationText(3), QStringLiteral("3x"));
        QCOMPARE(CardRules::collaborationHelp(1), QStringLiteral("Verified by 1 community endpoint"));
        QCOMPARE(CardRules::collaborationHelp(2), QStringLiteral("Verified by 2 community endpoints"));
        QCOMPARE(CardRules::incidentAccessibilityLabel(AppIncident::Kind::skipped, QStringLiteral("Busy.")),
                 QStringLiteral("Update skipped: Busy."));
    }

    void caskToken_data()
    {
        QTest::addColumn<QString>("token");
        QTest::addColumn<bool>("safe");
        QTest::newRow("plain") << "inkwell" << true;
        QTest::newRow("all allowed") << "font-x_1.2@3+beta" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("upper case") << "Inkwell" << false;
        QTest::newRow("space") << "ink well" << false;
        QTest::newRow("semicolon") << "ink;rm" << false;
        QTest::newRow("slash") << "../x" << false;
        QTest::newRow("dot dot") << ".." << false;
        QTest::newRow("dot") << "." << false;
        QTest::newRow("option") << "-x" << false;
        QTest::newRow("trailing newline") << "inkwell\n" << false;
        QTest::newRow("non-ASCII") << "inkwéll" << false;
    }
    void caskToken()
    {
        QFETCH(QString, token);
        QFETCH(bool, safe);
        QCOMPARE(CardRules::isSafeCaskToken(token), safe);
    }

    void reinstallGate_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<bool>("expected");
        QTest::newRow("cask in second root")
            << QByteArray(R"("update_mechanism":"cask","cask_token":"second")") << false << true;
        QTest::newRow("cask in first root")
            << QByteArray(R"("update_mechanism":"cask","cask_token":"first")") << false << true;
        QTest::newRow("busy") << QByteArray(R"("update_mechanism":"cask","cask_token":"first")") << true << false;
        QTest::newRow("not installed") << QByteArray(R"("update_mechanism":"cask","cask_token":"elsewhere")") << false
                                       << false;
        QTest::newRow("Cask") << QByteArray(R"("update_mechanism":"Cask","cask_token":"first")") << false << false;
        QTest::newRow("no token") << QByteArray(R"("update_mechanism":"cask")") << false << false;
        QTest::newRow("empty token") << QByteArray(R"("update_mechanism":"cask","cask_token":"")") << false << false;
        QTest::newRow("token climbs out")
            << QByteArray(R"("update_mechanism":"cask","cask_token":"..")") << false << false;
        QTest::newRow("token with a command")
            << QByteArray(R"("update_mechanism":"cask","cask_token":"first; rm -rf ~")") << false << false;
    }
    void reinstallGate()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, busy);
        QFETCH(bool, expected);
        QTemporaryDir first;
        QTemporaryDir second;
        QVERIFY(QDir(first.path()).mkdir(QStringLiteral("first")));
        QVERIFY(QDir(second.path()).mkdir(QStringLiteral("second")));
        QVERIFY(QDir(first.path()).mkdir(QStringLiteral("first; rm -rf ~")));
        CardRules::setCaskroomRoots({first.path(), second.path()});
        QCOMPARE(CardRules::canReinstall(rec(json.constData()), busy), expected);
        CardRules::setCaskroomRoots({});
        QCOMPARE(CardRules::caskroomRoots(),
                 (QStringList{QStringLiteral("/opt/homebrew/Caskroom"), QStringLiteral("/usr/local/Caskroom")}));
    }

    void uninstallGate_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<bool>("expected");
        QTest::newRow("applications") << QByteArray(R"("install_path":"/Applications/Xylo.app")") << false << true;
        QTest::newRow("busy") << QByteArray(R"("install_path":"/Applications/Xylo.app")") << true << false;
        QTest::newRow("no path") << QByteArray("") << false << false;
        QTest::newRow("empty path") << QByteArray(R"("install_path":"")") << false << false;
        QTest::newRow("System") << QByteArray(R"("install_path":"/System/Applications/X.app")") << false << false;
        QTest::newRow("SystemTools") << QByteArray(R"("install_path":"/SystemTools/X.app")") << false << false;
        QTest::newRow("libexec") << QByteArray(R"("install_path":"/usr/libexec/x")") << false << false;
        QTest::newRow("usr/bin") << QByteArray(R"("install_path":"/usr/bin/x")") << false << false;
        QTest::newRow("usr/sbin") << QByteArray(R"("install_path":"/usr/sbin/x")") << false << false;
        QTest::newRow("case differs") << QByteArray(R"("install_path":"/system/X.app")") << false << true;
    }
    void uninstallGate()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, busy);
        QFETCH(bool, expected);
        QCOMPARE(CardRules::canUninstall(rec(json.constData()), busy), expected);
        AppRecord apple = rec(json.constData());
        apple.bundle_id = QStringLiteral("com.apple.Safari");
        QVERIFY(!CardRules::canUninstall(apple, busy));
        apple.bundle_id = QStringLiteral("com.system.x");
        QVERIFY(!CardRules::canUninstall(apple, busy));
    }

    // The one busy rule of re-install and uninstall.
    void lifecycleBusy_data()
    {
        QTest::addColumn<int>("flag");
        QTest::addColumn<UpdateState>("own");
        QTest::addColumn<bool>("busy");
        QTest::newRow("nothing") << -1 << UpdateState::idle() << false;
        QTest::newRow("updating") << 0 << UpdateState::idle() << true;
        QTest::newRow("scanning") << 1 << UpdateState::idle() << true;
        QTest::newRow("fixing") << 2 << UpdateState::idle() << true;
        QTest::newRow("single update") << 3 << UpdateState::idle() << true;
        QTest::newRow("own entry running") << -1 << UpdateState::running("x") << true;
        QTest::newRow("own entry failed") << -1 << UpdateState::failed("x") << false;
        QTest::newRow("own entry queued") << -1 << UpdateState::queued(1, 1) << false;
    }
    void lifecycleBusy()
    {
        QFETCH(int, flag);
        QFETCH(UpdateState, own);
        QFETCH(bool, busy);
        CardRules::BusyFlags flags;
        flags.isUpdating = flag == 0;
        flags.isScanning = flag == 1;
        flags.isFixing = flag == 2;
        flags.hasSingleUpdate = flag == 3;
        QCOMPARE(CardRules::lifecycleBusy(flags, own), busy);
    }

    void unclassified_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("expected");
        QTest::newRow("absent") << QByteArray("") << true;
        QTest::newRow("empty") << QByteArray(R"("update_mechanism":"")") << true;
        QTest::newRow("unknown") << QByteArray(R"("update_mechanism":"unknown")") << true;
        QTest::newRow("Unknown") << QByteArray(R"("update_mechanism":"Unknown")") << false;
        QTest::newRow("sparkle") << QByteArray(R"("update_mechanism":"sparkle")") << false;
    }
    void unclassified()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, expected);
        QCOMPARE(CardRules::isUnclassified(rec(json.constData())), expected);
    }

    void confirmations_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("uninstall");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("confirm");
        QTest::addColumn<bool>("destructive");
        const QString trash = QStringLiteral(
            "This will move the app bundle to Trash. If a PKG receipt is present, tracked preferences, caches, and "
            "launch agents will also be moved to Trash; otherwise only the bundle is removed.");
        QTest::newRow("uninstall cask")
            << QByteArray(R"("update_mechanism":"cask")") << true << "Uninstall Xylo?"
            << "This will run `brew uninstall --cask` for this app. Homebrew will remove the app and its Caskroom metadata."
            << "Uninstall" << true;
        QTest::newRow("uninstall other") << QByteArray(R"("update_mechanism":"sparkle")") << true << "Uninstall Xylo?"
                                         << trash << "Uninstall" << true;
        QTest::newRow("uninstall, no mechanism")
            << QByteArray("") << true << "Uninstall Xylo?" << trash << "Uninstall" << true;
        QTest::newRow("reinstall") << QByteArray(R"("update_mechanism":"cask","cask_token":"xylo")") << false
                                   << "Re-install Xylo?"
                                   << "This will run `brew reinstall --cask xylo` and may overwrite app settings."
                                   << "Re-install" << false;
        QTest::newRow("reinstall, no token")
            << QByteArray(R"("update_mechanism":"cask")") << false << "Re-install Xylo?"
            << "This will run `brew reinstall --cask Xylo` and may overwrite app settings."
            << "Re-install" << false;
    }
    void confirmations()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, uninstall);
        QFETCH(QString, title);
        QFETCH(QString, message);
        QFETCH(QString, confirm);
        QFETCH(bool, destructive);
        const CardRules::Confirmation texts = CardRules::confirmationFor(uninstall
                                                                             ? CardRules::AppLifecycleAction::uninstall
                                                                             : CardRules::AppLifecycleAction::reinstall,
                                                                         rec(json.constData()));
        QCOMPARE(texts.title, title);
        QCOMPARE(texts.message, message);
        QCOMPARE(texts.confirmTitle, confirm);
        QCOMPARE(texts.destructive, destructive);
    }

    void safeBundleId_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("safe");
        QTest::newRow("plain") << "com.acme.App-2_x" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("space") << "com.acme app" << false;
        QTest::newRow("slash") << "com/acme" << false;
        QTest::newRow("quote") << "com.acme'" << false;
        QTest::newRow("semicolon") << "com.acme;ls" << false;
        QTest::newRow("trailing newline") << "com.x\n" << false;
        QTest::newRow("inner newline") << "com.x\nrm" << false;
        QTest::newRow("non-ASCII") << "com.acmé" << false;
        QTest::newRow("reads as an option") << "--dash" << false;
        QTest::newRow("reads as a short option") << "-x" << false;
        QTest::newRow("a dash inside") << "com.acme.-x" << true;
    }
    void safeBundleId()
    {
        QFETCH(QString, id);
        QFETCH(bool, safe);
        QCOMPARE(IncidentActionRules::isSafeBundleID(id), safe);
    }

    // Remedy -> title, style, disabled rule, tooltip and accessible name.
    void incidentButton_data()
    {
        QTest::addColumn<IncidentAction>("action");
        QTest::addColumn<int>("busy"); // -1 none, 0 updating, 1 scanning, 2 fixing, 3 own entry running
        QTest::addColumn<bool>("visible");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("prominent");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("tip");
        QTest::addColumn<QString>("name");
        const QString fixTip = QStringLiteral("Runs `varno fix org.x` and re-checks the app");
        QTest::newRow("fix") << IncidentAction::fixIt << -1 << true << "Fix It" << true << true << fixTip
                             << "Fix It — Xylo";
        QTest::newRow("fix, scanning") << IncidentAction::fixIt << 1 << true << "Fix It" << true << false << fixTip
                                       << "Fix It — Xylo";
        QTest::newRow("fix, fixing") << IncidentAction::fixIt << 2 << true << "Fix It" << true << false << fixTip
                                     << "Fix It — Xylo";
        const QString terminalTip = QStringLiteral("This fix needs your OK — copies `varno fix org.x` to run in Terminal");
        const QString terminalName = QStringLiteral("Run in Terminal — copies the fix command for Xylo");
        QTest::newRow("terminal") << IncidentAction::runInTerminal << -1 << true << "Run in Terminal" << false << true
                                  << terminalTip << terminalName;
        QTest::newRow("terminal, own entry running") << IncidentAction::runInTerminal << 3 << true << "Run in Terminal"
                                                     << false << true << terminalTip << terminalName;
        QTest::newRow("none") << IncidentAction::none << -1 << false << "" << false << true << ""
                              << "";
        const QString helpTip = QStringLiteral(
            "Builds a local support bundle and shows it in Finder — nothing is sent anywhere");
        QTest::newRow("help, scanning") << IncidentAction::getHelp << 1 << true << "Get help" << false << true
                                        << helpTip << "Get help — Xylo";
        QTest::newRow("help, own entry running")
            << IncidentAction::getHelp << 3 << true << "Get help" << false << false << helpTip << "Get help — Xylo";
        const QString quitTip = QStringLiteral(
            "Asks Xylo to quit gently (never force-quit), updates it, and opens it again");
        QTest::newRow("quit") << IncidentAction::quitAndUpdate << -1 << true << "Quit & Update" << true << true
                              << quitTip << "Quit and Update — Xylo";
        QTest::newRow("quit, updating") << IncidentAction::quitAndUpdate << 0 << true << "Quit & Update" << true
                                        << false << quitTip << "Quit and Update — Xylo";
        const QString adoptTip = QStringLiteral(
            "Adopt Xylo into Homebrew Cask — brew takes ownership of the app already on disk");
        QTest::newRow("adopt") << IncidentAction::adopt << -1 << true << "Adopt" << true << true << adoptTip
                               << "Adopt — Xylo";
        QTest::newRow("adopt, own entry running")
            << IncidentAction::adopt << 3 << true << "Adopt" << true << false << adoptTip << "Adopt — Xylo";
        const QString approveTip = QStringLiteral(
            "You set this app to ask first — Approve runs `varno update --only org.x --approved`");
        QTest::newRow("approve") << IncidentAction::approve << -1 << true << "Approve" << true << true << approveTip
                                 << "Approve update — Xylo";
    }
    void incidentButton()
    {
        QFETCH(IncidentAction, action);
        QFETCH(int, busy);
        QFETCH(bool, visible);
        QFETCH(QString, title);
        QFETCH(bool, prominent);
        QFETCH(bool, enabled);
        QFETCH(QString, tip);
        QFETCH(QString, name);
        IncidentActionRules::Busy flags;
        flags.isUpdating = busy == 0;
        flags.isScanning = busy == 1;
        flags.isFixing = busy == 2;
        flags.ownEntryRunning = busy == 3;
        const IncidentActionRules::ButtonSpec spec = IncidentActionRules::specFor(action, rec(""), flags, false);
        QCOMPARE(spec.visible, visible);
        QCOMPARE(spec.title, title);
        QCOMPARE(spec.prominent, prominent);
        QCOMPARE(spec.enabled, enabled);
        QCOMPARE(spec.toolTip, tip);
        QCOMPARE(spec.accessibleName, name);
        if (action == IncidentAction::runInTerminal)
            QCOMPARE(IncidentActionRules::specFor(action, rec(""), flags, true).title, QStringLiteral("Copied"));
    }

    void quitConsentTexts()
    {
        QCOMPARE(IncidentActionRules::quitConsentTitle(QStringLiteral("Xylo")),
                 QStringLiteral("Quit Xylo to update it?"));
        QCOMPARE(IncidentActionRules::quitConsentMessage(QStringLiteral("Xylo")),
                 QStringLiteral("Brusk never swaps a tool while it's in your hands. He'll ask Xylo to quit gently — you "
                                "can still save your work — install the update, and open it again. Or Brusk can wait "
                                "and update it the next time you quit it yourself."));
    }

    // 16 vertices alternating R and 0.8 R, vertex 0 on top, clockwise; a
    // wide rectangle gives a seal of its height, centred.
    void sealShape()
    {
        const QPainterPath path = SealShape::path(QRectF(0, 0, 40, 20));
        QCOMPARE(path.elementCount(), 17); // move, 15 lines, and the closing line
        const QPointF top = path.elementAt(0);
        QCOMPARE(top, QPointF(20, 0));
        const QPointF second = path.elementAt(1);
        const qreal inner = 8.0;
        QVERIFY(std::abs(second.x() - (20 + inner * std::cos(-M_PI / 2 + M_PI / 8))) < 1e-9);
        QVERIFY(second.x() > 20); // clockwise on screen: to the right of the top
        const QPointF right = path.elementAt(4);
        QVERIFY(std::abs(right.x() - 30) < 1e-9 && std::abs(right.y() - 10) < 1e-9);
        QCOMPARE(path.boundingRect().center(), QPointF(20, 10));
    }

    void firstCharacter_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("letter");
        QTest::newRow("lower case") << "inkwell"
                                    << "i";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("combining mark") << QString::fromUtf8("e\u0301clair") << QString::fromUtf8("e\u0301");
        QTest::newRow("emoji") << QString::fromUtf8("\U0001F680 Rocket") << QString::fromUtf8("\U0001F680");
        QTest::newRow("flag") << QString::fromUtf8("\U0001F1EB\U0001F1F7 app")
                              << QString::fromUtf8("\U0001F1EB\U0001F1F7");
    }
    void firstCharacter()
    {
        QFETCH(QString, name);
        QFETCH(QString, letter);
        QCOMPARE(AppIconView::firstCharacter(name), letter);
    }
};

VARNO_TEST_CLASS(TestCardRules)

#include "tst_cardrules.moc"
