#include "TestRegistry.h"
#include "TestSupport.h"

#include "provenance/ProvenanceRules.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <ctime>

using namespace ProvenanceRules;

Q_DECLARE_METATYPE(UpdateSlot)
Q_DECLARE_METATYPE(HistoryBadge::Kind)
Q_DECLARE_METATYPE(RestoreContent)
Q_DECLARE_METATYPE(RestoreFooterButton)

namespace {

AppRecord app(const char *json)
{
    const auto record = AppRecord::fromJson(QJsonDocument::fromJson(QByteArray(json)).object());
    if (!record)
        qFatal("test record does not decode: %s", json);
    return *record;
}

BackupRecord backup(const char *json)
{
    const auto record = BackupRecord::decode(QByteArray(json));
    if (!record)
        qFatal("test backup does not decode: %s", json);
    return *record;
}

const QLocale english(QLocale::English, QLocale::UnitedStates);

// Local time is UTC while these tests run, so that days are known.
struct UtcScope {
    QByteArray saved = qgetenv("TZ");
    UtcScope()
    {
        qputenv("TZ", "UTC");
        tzset();
    }
    ~UtcScope()
    {
        if (saved.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", saved);
        tzset();
    }
};

} // namespace

// The drawer's and the restore sheet's rules, as tables.
class TestProvenanceRules : public QObject {
    Q_OBJECT

    std::unique_ptr<UtcScope> m_utc;

private Q_SLOTS:
    void initTestCase() { m_utc = std::make_unique<UtcScope>(); }
    void cleanupTestCase() { m_utc.reset(); }

    void historyDates_data()
    {
        QTest::addColumn<QString>("timestamp");
        QTest::addColumn<QString>("shown");
        QTest::newRow("internet date-time") << "2025-03-04T10:20:00Z"
                                            << "Mar 4, 2025";
        QTest::newRow("zone moves the day") << "2025-03-04T23:30:00-05:00"
                                            << "Mar 5, 2025";
        QTest::newRow("zone without colon") << "2025-03-04T23:30:00+0100"
                                            << "Mar 4, 2025";
        QTest::newRow("fractional seconds unchanged") << "2025-03-04T10:20:00.123Z"
                                                      << "2025-03-04T10:20:00.123Z";
        QTest::newRow("no zone unchanged") << "2025-03-04T10:20:00"
                                           << "2025-03-04T10:20:00";
        QTest::newRow("no seconds unchanged") << "2025-03-04T10:20Z"
                                              << "2025-03-04T10:20Z";
        QTest::newRow("compact form unchanged") << "20250304-102000"
                                                << "20250304-102000";
        QTest::newRow("impossible date unchanged") << "2025-02-30T10:20:00Z"
                                                   << "2025-02-30T10:20:00Z";
        QTest::newRow("impossible zone unchanged") << "2025-03-04T10:20:00+25:00"
                                                   << "2025-03-04T10:20:00+25:00";
        QTest::newRow("free text") << "last Tuesday"
                                   << "last Tuesday";
        QTest::newRow("empty") << ""
                               << "";
    }

    void historyDates()
    {
        QFETCH(QString, timestamp);
        QFETCH(QString, shown);
        QCOMPARE(historyDate(timestamp, english), shown);
    }

    void backupDates_data()
    {
        QTest::addColumn<QString>("timestamp");
        QTest::addColumn<QString>("shown");
        QTest::newRow("compact form") << "20261120-084107"
                                      << "Nov 20, 2026";
        QTest::newRow("internet date-time") << "2025-03-04T10:20:00Z"
                                            << "Mar 4, 2025";
        QTest::newRow("fractional seconds unchanged") << "2025-03-04T10:20:00.5Z"
                                                      << "2025-03-04T10:20:00.5Z";
        QTest::newRow("compact impossible time unchanged") << "20261120-250000"
                                                           << "20261120-250000";
        QTest::newRow("compact too short unchanged") << "2026112-084107"
                                                     << "2026112-084107";
        QTest::newRow("free text") << "yesterday"
                                   << "yesterday";
    }

    void backupDates()
    {
        QFETCH(QString, timestamp);
        QFETCH(QString, shown);
        QCOMPARE(backupDate(timestamp, english), shown);
    }

    // The month name follows the locale.
    void datesFollowTheLocale()
    {
        const QLocale german(QLocale::German, QLocale::Germany);
        const QString shown = historyDate(QStringLiteral("2025-10-04T10:20:00Z"), german);
        QCOMPARE(shown, german.toString(QDate(2025, 10, 4), QStringLiteral("MMM d, yyyy")));
        QVERIFY(shown != QStringLiteral("Oct 4, 2025"));
        QCOMPARE(backupDate(QStringLiteral("20251004-102000"), german), shown);
    }

    void updateSlots_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<UpdateSlot>("slot");
        QTest::newRow("outdated cask") << QByteArray(
            R"({"bundle_id":"a","app_name":"A","current_version":"1","latest_version":"2","update_mechanism":"cask"})")
                                       << UpdateSlot::update;
        QTest::newRow("current cask") << QByteArray(
            R"({"bundle_id":"a","app_name":"A","current_version":"2","latest_version":"2","update_mechanism":"cask"})")
                                      << UpdateSlot::none;
        QTest::newRow("self managed, outdated: never Update") << QByteArray(
            R"({"bundle_id":"a","app_name":"A","current_version":"1","latest_version":"2","self_managed":true,"can_trigger_self_update":true})")
                                                              << UpdateSlot::checkInApp;
        QTest::newRow("self_managed false decides over vendor_self_update") << QByteArray(
            R"({"bundle_id":"a","app_name":"A","current_version":"1","latest_version":"2","self_managed":false,"vendor_self_update":true,"can_trigger_self_update":true,"update_mode":"auto"})")
                                                                            << UpdateSlot::update;
        QTest::newRow("mode self") << QByteArray(
            R"({"bundle_id":"a","app_name":"A","self_managed":false,"can_trigger_self_update":true,"update_mode":"self"})")
                                   << UpdateSlot::checkInApp;
        QTest::newRow("vendor mechanism, no flags") << QByteArray(
            R"({"bundle_id":"a","app_name":"A","update_mechanism":"vendor_self_update","can_trigger_self_update":true})")
                                                    << UpdateSlot::checkInApp;
        QTest::newRow("cannot trigger") << QByteArray(
            R"({"bundle_id":"a","app_name":"A","self_managed":true,"can_trigger_self_update":false})")
                                        << UpdateSlot::none;
        QTest::newRow("trigger flag absent")
            << QByteArray(R"({"bundle_id":"a","app_name":"A","self_managed":true})") << UpdateSlot::none;
    }

    void updateSlots()
    {
        QFETCH(QByteArray, json);
        QFETCH(UpdateSlot, slot);
        QCOMPARE(updateSlot(app(json.constData())), slot);
    }

    void lifecycleGates_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<bool>("reinstall");
        QTest::addColumn<bool>("uninstall");
        QTest::newRow("cask with token") << QByteArray(
            R"({"bundle_id":"org.a","app_name":"A","update_mechanism":"cask","cask_token":"a","install_path":"/Applications/A.app"})")
                                         << false << true << true;
        QTest::newRow("busy") << QByteArray(
            R"({"bundle_id":"org.a","app_name":"A","update_mechanism":"cask","cask_token":"a","install_path":"/Applications/A.app"})")
                              << true << false << false;
        QTest::newRow("cask without token") << QByteArray(
            R"({"bundle_id":"org.a","app_name":"A","update_mechanism":"cask","install_path":"/Applications/A.app"})")
                                            << false << false << true;
        QTest::newRow("cask with empty token")
            << QByteArray(R"({"bundle_id":"org.a","app_name":"A","update_mechanism":"cask","cask_token":""})") << false
            << false << false;
        QTest::newRow("not cask") << QByteArray(
            R"({"bundle_id":"org.a","app_name":"A","update_mechanism":"mas","cask_token":"a","install_path":"/Applications/A.app"})")
                                  << false << false << true;
        QTest::newRow("empty install path")
            << QByteArray(R"({"bundle_id":"org.a","app_name":"A","install_path":""})") << false << false << false;
        QTest::newRow("apple bundle") << QByteArray(
            R"({"bundle_id":"com.apple.Safari","app_name":"S","install_path":"/Applications/Safari.app"})")
                                      << false << false << false;
        QTest::newRow("system bundle") << QByteArray(
            R"({"bundle_id":"com.system.x","app_name":"S","install_path":"/Applications/X.app"})")
                                       << false << false << false;
        QTest::newRow("apple prefix is case-sensitive")
            << QByteArray(R"({"bundle_id":"COM.apple.x","app_name":"S","install_path":"/Applications/X.app"})") << false
            << false << true;
        QTest::newRow("/usr/libexec is under /usr/lib")
            << QByteArray(R"({"bundle_id":"org.a","app_name":"A","install_path":"/usr/libexec/a"})") << false << false
            << false;
        QTest::newRow("/Systemwide is under /System")
            << QByteArray(R"({"bundle_id":"org.a","app_name":"A","install_path":"/Systemwide/A.app"})") << false
            << false << false;
        QTest::newRow("/usr/sbin") << QByteArray(R"({"bundle_id":"org.a","app_name":"A","install_path":"/usr/sbin/a"})")
                                   << false << false << false;
        QTest::newRow("/usr/local is fine")
            << QByteArray(R"({"bundle_id":"org.a","app_name":"A","install_path":"/usr/local/a"})") << false << false
            << true;
    }

    void lifecycleGates()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, busy);
        QFETCH(bool, reinstall);
        QFETCH(bool, uninstall);
        const AppRecord record = app(json.constData());
        QCOMPARE(canReinstall(record, busy), reinstall);
        QCOMPARE(canUninstall(record, busy), uninstall);
    }

    void confirmations()
    {
        const AppRecord cask = app(
            R"({"bundle_id":"org.a","app_name":"Alpha","update_mechanism":"cask","cask_token":"alpha-app"})");
        const AppRecord plain = app(R"({"bundle_id":"org.b","app_name":"Beta","update_mechanism":"sparkle"})");
        QCOMPARE(confirmationTitle(AppLifecycleAction::uninstall, cask), QStringLiteral("Uninstall Alpha?"));
        QCOMPARE(confirmationTitle(AppLifecycleAction::reinstall, cask), QStringLiteral("Re-install Alpha?"));
        QCOMPARE(confirmationTitle(std::nullopt, cask), QString());
        QCOMPARE(confirmationMessage(std::nullopt, cask), QString());
        QCOMPARE(confirmationMessage(AppLifecycleAction::uninstall, cask),
                 QStringLiteral(
                     "This will run `brew uninstall --cask` for this app. Homebrew will remove the app and its Caskroom metadata."));
        QCOMPARE(confirmationMessage(AppLifecycleAction::uninstall, plain),
                 QStringLiteral(
                     "This will move the app bundle to Trash. If a PKG receipt is present, tracked preferences, caches, and launch agents will also be moved to Trash; otherwise only the bundle is removed."));
        QCOMPARE(confirmationMessage(AppLifecycleAction::reinstall, cask),
                 QStringLiteral("This will run `brew reinstall --cask alpha-app` and may overwrite app settings."));
        QCOMPARE(confirmationMessage(AppLifecycleAction::reinstall, plain),
                 QStringLiteral("This will run `brew reinstall --cask Beta` and may overwrite app settings."));
        QCOMPARE(confirmButtonText(AppLifecycleAction::uninstall), QStringLiteral("Uninstall"));
        QCOMPARE(confirmButtonText(AppLifecycleAction::reinstall), QStringLiteral("Re-install"));
        QCOMPARE(actionIdentity(AppLifecycleAction::reinstall), QStringLiteral("reinstall"));
        QCOMPARE(actionIdentity(AppLifecycleAction::uninstall), QStringLiteral("uninstall"));
    }

    void stateRows_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<qint64>("count");
        QTest::addColumn<bool>("seal");
        QTest::addColumn<bool>("path");
        QTest::addColumn<QStringList>("rows"); // "key=value@colour"
        QTest::newRow("nothing recorded")
            << QByteArray(R"({"bundle_id":"a","app_name":"A"})") << qint64(0) << false << false
            << QStringList{"version=—@0", "latest=—@2", "mechanism=TRIG@0", "mode=Automatic@0"};
        QTest::newRow("outdated, one endpoint, evidence") << QByteArray(
            R"({"bundle_id":"a","app_name":"A","current_version":"1","latest_version":"2","update_mode":"notify","last_updated":"","last_team_id":"TEAM1","last_cdn_domain":"cdn.example","last_sha256":"abc"})")
                                                          << qint64(1) << false << false
                                                          << QStringList{"version=1@0",
                                                                         "latest=2@3",
                                                                         "mechanism=TRIG@0",
                                                                         "mode=Notify only@0",
                                                                         "community=verified by 1 endpoint@2",
                                                                         "updated=@0",
                                                                         "teamID=TEAM1@4",
                                                                         "cdn=cdn.example@0",
                                                                         "sha256=abc...@4"};
        QTest::newRow("two endpoints, long digest") << QByteArray(
            R"({"bundle_id":"a","app_name":"A","update_mechanism":"cask","last_sha256":"0123456789abcdef0123","last_team_id":""})")
                                                    << qint64(2) << true << false
                                                    << QStringList{"version=—@0",
                                                                   "latest=—@2",
                                                                   "mechanism=BREW@0",
                                                                   "mode=Automatic@0",
                                                                   "community=verified by 2 endpoints@2",
                                                                   "sha256=0123456789abcdef...@4"};
        QTest::newRow("local verification only")
            << QByteArray(R"({"bundle_id":"a","app_name":"A","update_mechanism":"mas"})") << qint64(0) << false << true
            << QStringList{"version=—@0", "latest=—@2", "mechanism=MAS@0", "mode=Automatic@0",
                           "community=local verification only@1"};
        QTest::newRow("trigger row") << QByteArray(
            R"({"bundle_id":"a","app_name":"A","self_managed":true,"can_trigger_self_update":true,"trigger_kind":"url_scheme"})")
                                     << qint64(0) << false << false
                                     << QStringList{"version=—@0", "latest=—@2", "mechanism=TRIG@0", "mode=Automatic@0",
                                                    "trigger=url_scheme@2"};
        QTest::newRow("self_managed false hides the trigger") << QByteArray(
            R"({"bundle_id":"a","app_name":"A","self_managed":false,"vendor_self_update":true,"can_trigger_self_update":true,"trigger_kind":"url_scheme"})")
                                                              << qint64(0) << false << false
                                                              << QStringList{"version=—@0", "latest=—@2",
                                                                             "mechanism=TRIG@0", "mode=Automatic@0"};
        QTest::newRow("no trigger kind") << QByteArray(
            R"({"bundle_id":"a","app_name":"A","update_mechanism":"vendor_self_update","can_trigger_self_update":true})")
                                         << qint64(0) << false << false
                                         << QStringList{"version=—@0", "latest=—@2", "mechanism=SELF@0",
                                                        "mode=Automatic@0"};
    }

    void stateRows()
    {
        QFETCH(QByteArray, json);
        QFETCH(qint64, count);
        QFETCH(bool, seal);
        QFETCH(bool, path);
        QFETCH(QStringList, rows);
        const AppRecord record = app(json.constData());
        AppTrustPresentation presentation;
        presentation.collaborationCount = count;
        presentation.showsSeal = seal;
        presentation.showsVerifiedPath = path;
        presentation.mechanismLabel = AppTrustPresenter::mechanismLabel(record.update_mechanism);
        QStringList shown;
        for (const StateRow &row : currentStateRows(record, presentation))
            shown.append(row.key + QLatin1Char('=') + row.value + QLatin1Char('@') + QString::number(int(row.color)));
        QCOMPARE(shown, rows);
    }

    void historyBadges_data()
    {
        QTest::addColumn<bool>("sha");
        QTest::addColumn<qint64>("count");
        QTest::addColumn<bool>("seal");
        QTest::addColumn<bool>("path");
        QTest::addColumn<HistoryBadge::Kind>("kind");
        QTest::addColumn<QString>("text");
        QTest::newRow("count with checksum") << true << qint64(2) << true << true << HistoryBadge::Kind::count << "2x";
        QTest::newRow("count without checksum") << false << qint64(2) << true << false << HistoryBadge::Kind::none << "";
        QTest::newRow("seal with checksum") << true << qint64(0) << true << true << HistoryBadge::Kind::seal << "";
        QTest::newRow("verified path is not a seal")
            << true << qint64(0) << false << true << HistoryBadge::Kind::verifiedPath << "";
        QTest::newRow("no verdict") << true << qint64(0) << false << false << HistoryBadge::Kind::none << "";
        QTest::newRow("seal without checksum") << false << qint64(0) << true << false << HistoryBadge::Kind::none << "";
    }

    void historyBadges()
    {
        QFETCH(bool, sha);
        QFETCH(qint64, count);
        QFETCH(bool, seal);
        QFETCH(bool, path);
        QFETCH(HistoryBadge::Kind, kind);
        QFETCH(QString, text);
        ProvenanceRecord record;
        record.bundle_id = QStringLiteral("a");
        if (sha)
            record.sha256 = QStringLiteral("ff");
        AppTrustPresentation presentation;
        presentation.collaborationCount = count;
        presentation.showsSeal = seal;
        presentation.showsVerifiedPath = path;
        const HistoryBadge badge = historyBadge(record, presentation);
        QCOMPARE(badge.kind, kind);
        QCOMPARE(badge.text, text);
        QCOMPARE(headerBadge(presentation),
                 seal       ? TrustBadge::seal
                     : path ? TrustBadge::verifiedPath
                            : TrustBadge::none);
    }

    void historyRowTexts()
    {
        ProvenanceRecord bare;
        QCOMPARE(historyVersion(bare), QStringLiteral("—"));
        QCOMPARE(historyTimestamp(bare, english), QStringLiteral("—"));
        ProvenanceRecord full;
        full.to_version = QStringLiteral("3.2.1");
        full.timestamp = QStringLiteral("2026-11-20T08:41:07Z");
        QCOMPARE(historyVersion(full), QStringLiteral("3.2.1"));
        QCOMPARE(historyTimestamp(full, english), QStringLiteral("Nov 20, 2026"));
        QCOMPARE(historyContent(true, QStringLiteral("x"), false), HistoryContent::loading);
        QCOMPARE(historyContent(false, QStringLiteral("x"), true), HistoryContent::error);
        QCOMPARE(historyContent(false, std::nullopt, true), HistoryContent::empty);
        QCOMPARE(historyContent(false, std::nullopt, false), HistoryContent::rows);
        QCOMPARE(routingSentence(QStringLiteral("BREW")),
                 QStringLiteral(
                     "VARNO routed this update via BREW. Trust is strongest when local verification and community checksum consensus agree. Your data stays local unless you explicitly opt in to sync."));
    }

    void reasons_data()
    {
        QTest::addColumn<std::optional<QString>>("reason");
        QTest::addColumn<std::optional<qint64>>("days");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("expiry");
        const QString large = QStringLiteral(
            "This app is larger than 2 GB, so VARNO skipped the snapshot before updating.");
        const QString running = QStringLiteral("The app is currently running. Quit it first, then try again.");
        const QString signature = QStringLiteral("The backup’s signature no longer verifies, so Brusk won’t restore it.");
        const QString none = QStringLiteral("No local backup was found for this app.");
        QTest::newRow("too large") << std::optional<QString>("app too large for a snapshot") << std::optional<qint64>()
                                   << large << false;
        QTest::newRow("running before expired")
            << std::optional<QString>("running; also expired") << std::optional<qint64>(30) << running << false;
        QTest::newRow("capitals") << std::optional<QString>("SIGNATURE MISMATCH") << std::optional<qint64>()
                                  << signature << false;
        QTest::newRow("expired, configured days")
            << std::optional<QString>("backup expired") << std::optional<qint64>(14)
            << QStringLiteral("The backup has expired. VARNO keeps backups for 14 days.") << true;
        QTest::newRow("expired, one day")
            << std::optional<QString>("Expired") << std::optional<qint64>(1)
            << QStringLiteral("The backup has expired. VARNO keeps backups for 1 day.") << true;
        QTest::newRow("expired, retention unknown") << std::optional<QString>("expired") << std::optional<qint64>()
                                                    << QStringLiteral("The backup has expired.") << true;
        QTest::newRow("no reason") << std::optional<QString>() << std::optional<qint64>() << none << false;
        QTest::newRow("other reason") << std::optional<QString>("no backup has been taken yet")
                                      << std::optional<qint64>() << none << false;
    }

    void reasons()
    {
        QFETCH(std::optional<QString>, reason);
        QFETCH(std::optional<qint64>, days);
        QFETCH(QString, text);
        QFETCH(bool, expiry);
        BackupRecord record;
        record.reason = reason;
        QCOMPARE(reasonText(record, days), text);
        QCOMPARE(reasonIsExpiry(record), expiry);
        QCOMPARE(reasonText(std::nullopt), QStringLiteral("No local backup was found for this app."));
    }

    void sizeAndDateLines_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<std::optional<QString>>("size");
        QTest::addColumn<QString>("date");
        QTest::newRow("zero") << QByteArray(R"({"available":true,"bytes":0,"timestamp":"20261120-084107"})")
                              << std::optional<QString>("Size: 0 MB") << "A backup from Nov 20, 2026 is available.";
        QTest::newRow("just under a MiB") << QByteArray(R"({"available":true,"bytes":1048575})")
                                          << std::optional<QString>("Size: 0 MB") << "A backup from  is available.";
        QTest::newRow("one and a half MiB") << QByteArray(R"({"available":true,"bytes":1572864})")
                                            << std::optional<QString>("Size: 1 MB") << "A backup from  is available.";
        QTest::newRow("2 GiB") << QByteArray(R"({"available":true,"bytes":2147483648,"timestamp":"free text"})")
                               << std::optional<QString>("Size: 2048 MB") << "A backup from free text is available.";
        QTest::newRow("negative") << QByteArray(R"({"available":true,"bytes":-1})") << std::optional<QString>()
                                  << "A backup from  is available.";
        QTest::newRow("missing") << QByteArray(R"({"available":true})") << std::optional<QString>()
                                 << "A backup from  is available.";
    }

    void sizeAndDateLines()
    {
        QFETCH(QByteArray, json);
        QFETCH(std::optional<QString>, size);
        QFETCH(QString, date);
        const BackupRecord record = backup(json.constData());
        QCOMPARE(backupSizeLine(record), size);
        QCOMPARE(backupDateLine(record, english), date);
    }

    void restoreStates_data()
    {
        QTest::addColumn<bool>("loading");
        QTest::addColumn<std::optional<QString>>("error");
        QTest::addColumn<bool>("restored");
        QTest::addColumn<int>("backup"); // -1 none, 0 unavailable, 1 available
        QTest::addColumn<RestoreContent>("content");
        QTest::addColumn<RestoreFooterButton>("button");
        const std::optional<QString> noError;
        const std::optional<QString> failed(QStringLiteral("boom"));
        QTest::newRow("loading wins") << true << failed << true << 1 << RestoreContent::loading
                                      << RestoreFooterButton::done;
        QTest::newRow("first frame") << true << noError << false << -1 << RestoreContent::loading
                                     << RestoreFooterButton::none;
        QTest::newRow("error over success")
            << false << failed << true << 1 << RestoreContent::error << RestoreFooterButton::done;
        QTest::newRow("error is final") << false << failed << false << 1 << RestoreContent::error
                                        << RestoreFooterButton::none;
        QTest::newRow("restored") << false << noError << true << 1 << RestoreContent::restored
                                  << RestoreFooterButton::done;
        QTest::newRow("ready") << false << noError << false << 1 << RestoreContent::ready << RestoreFooterButton::restore;
        QTest::newRow("unavailable") << false << noError << false << 0 << RestoreContent::noBackup
                                     << RestoreFooterButton::none;
        QTest::newRow("no record") << false << noError << false << -1 << RestoreContent::noBackup
                                   << RestoreFooterButton::none;
    }

    void restoreStates()
    {
        QFETCH(bool, loading);
        QFETCH(std::optional<QString>, error);
        QFETCH(bool, restored);
        QFETCH(int, backup);
        QFETCH(RestoreContent, content);
        QFETCH(RestoreFooterButton, button);
        std::optional<BackupRecord> record;
        if (backup >= 0) {
            record = BackupRecord();
            record->available = backup == 1;
        }
        QCOMPARE(restoreContent(loading, error, restored, record), content);
        QCOMPARE(restoreFooterButton(record, restored, error), button);
    }
};

VARNO_TEST_CLASS(TestProvenanceRules)
#include "tst_rules.moc"
