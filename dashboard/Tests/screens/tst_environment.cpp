#include "TestRegistry.h"

#include "PanelsFixture.h"

#include "engine/ExperimentRecorder.h"
#include "engine/VARNOError.h"
#include "kit/VarnoSignals.h"
#include "model/AppModel.h"
#include "platform/ToolRunner.h"
#include "platform/UserDefaults.h"
#include "screens/EnvironmentRules.h"
#include "screens/EnvironmentView.h"
#include "screens/PanelParts.h"
#include "services/LaunchAgentManager.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

Q_DECLARE_METATYPE(std::optional<RetentionStatus>)

using namespace PanelsTest;

namespace {

ESE extension(const QString &bundleId, const QString &name, const QString &version, const QString &state,
              ESE::Category category)
{
    return ESE{bundleId, QStringLiteral("ABCDE12345"), name, version, state, category};
}

// Services answering from the test; the calls are counted.
struct ScriptedSystem {
    bool fda = true;
    bool receipts = true;
    int agent = EnvironmentRules::enabled;
    int loginItem = EnvironmentRules::notRegistered;
    int loginItemAfterSet = EnvironmentRules::enabled;
    QList<ESE> extensions;
    std::optional<RetentionStatus> retention = RetentionStatus();
    Gate *probeGate = nullptr;
    QList<bool> loginSets;
    QStringList events;

    EnvironmentServices services()
    {
        EnvironmentServices s;
        s.hasFullDiskAccess = [this] { return fda; };
        s.receiptsFolderExists = [this] { return receipts; };
        s.agentStatus = [this] { return agent; };
        s.loginItemStatus = [this] { return loginItem; };
        s.probeExtensions = [this]() -> QCoro::Task<QList<ESE>> {
            if (probeGate)
                co_await probeGate->pass();
            co_return extensions;
        };
        s.retentionStatus = [this]() -> QCoro::Task<RetentionStatus> {
            if (!retention)
                throw VARNOError::processFailure(1, QStringLiteral("database is locked"));
            co_return *retention;
        };
        s.setLoginItem = [this](bool enabled) {
            loginSets << enabled;
            return enabled ? loginItemAfterSet : EnvironmentRules::notRegistered;
        };
        s.recordEvent = [this](const QString &event) { events << event; };
        return s;
    }
};

RetentionStatus reclaimable(qint64 bytes)
{
    RetentionStatus status;
    status.pendingPlan.bytes = bytes;
    status.pendingPlan.count = bytes > 0 ? 1 : 0;
    return status;
}

bool refreshed(EnvironmentView &view)
{
    return VarnoTest::waitUntil([&view] { return !view.isLoading(); });
}

} // namespace

// The screen's rules, as tables.
class TestEnvironmentRules : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void summary_data()
    {
        QTest::addColumn<bool>("fda");
        QTest::addColumn<int>("agent");
        QTest::addColumn<int>("login");
        QTest::addColumn<bool>("pref");
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<PostureTone>("tone");
        const QString ready = QStringLiteral("Environment ready");
        const QString readyDetail = QStringLiteral("Core permissions and background services are in place.");
        QTest::newRow("no access, no agent")
            << false << 0 << 0 << false << qint64(0) << QStringLiteral("Permissions incomplete")
            << QStringLiteral("Full Disk Access is missing, so some provenance and "
                              "removal context will be incomplete.")
            << PostureTone::orange;
        QTest::newRow("fresh sheet") << true << 0 << 0 << false << qint64(0)
                                     << QStringLiteral("Background scan needs attention")
                                     << QStringLiteral("VARNO can still run manually, but background scanning is not "
                                                       "currently active.")
                                     << PostureTone::orange;
        QTest::newRow("agent waits for approval")
            << true << 2 << 1 << false << qint64(0) << QStringLiteral("Background scan needs attention")
            << QStringLiteral("VARNO can still run manually, but background "
                              "scanning is not currently active.")
            << PostureTone::orange;
        QTest::newRow("login pending approval")
            << true << 1 << 2 << true << qint64(0) << QStringLiteral("Login launch pending approval")
            << QStringLiteral("You asked VARNO to open at login, but macOS has not "
                              "enabled it yet.")
            << PostureTone::orange;
        QTest::newRow("login not wished")
            << true << 1 << 0 << false << qint64(0) << ready << readyDetail << PostureTone::green;
        QTest::newRow("storage to reclaim")
            << true << 1 << 1 << true << qint64(1536) << QStringLiteral("Environment ready — storage can be reclaimed")
            << QStringLiteral("VARNO can free 1.5 KB of old backups — see Settings → "
                              "Storage.")
            << PostureTone::orange;
        QTest::newRow("one byte") << true << 1 << 1 << false << qint64(1)
                                  << QStringLiteral("Environment ready — storage can be reclaimed")
                                  << QStringLiteral("VARNO can free 1 bytes of old backups — see Settings → Storage.")
                                  << PostureTone::orange;
        QTest::newRow("nothing to reclaim")
            << true << 1 << 1 << true << qint64(0) << ready << readyDetail << PostureTone::green;
        QTest::newRow("agent registered, no manager answers")
            << true << EnvironmentRules::unconfirmed << 1 << false << qint64(0)
            << QStringLiteral("Background scan needs attention")
            << QStringLiteral("VARNO can still run manually, but background scanning is not currently active.")
            << PostureTone::orange;
        QTest::newRow("agent status out of range")
            << true << 7 << 1 << false << qint64(0) << QStringLiteral("Background scan needs attention")
            << QStringLiteral("VARNO can still run manually, but background "
                              "scanning is not currently active.")
            << PostureTone::orange;
    }

    void summary()
    {
        QFETCH(bool, fda);
        QFETCH(int, agent);
        QFETCH(int, login);
        QFETCH(bool, pref);
        QFETCH(qint64, bytes);
        QFETCH(QString, title);
        QFETCH(QString, detail);
        QFETCH(PostureTone, tone);
        const PosturePresentation result = EnvironmentRules::summary({fda, agent, login, pref, bytes});
        QCOMPARE(result.title, title);
        QCOMPARE(result.detail, std::optional(detail));
        QCOMPARE(result.tone, tone);
    }

    void statusTexts_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("agent");
        QTest::addColumn<QString>("login");
        QTest::newRow("not registered") << 0
                                        << QStringLiteral("Not registered. Brusk can't scan while the app is closed.")
                                        << QStringLiteral("Disabled.");
        QTest::newRow("enabled") << 1 << QStringLiteral("Running every hour. Logs at ~/Library/Logs/VARNO/scan.err.")
                                 << QStringLiteral("Active.");
        QTest::newRow("requires approval") << 2 << QStringLiteral("Waiting for your approval in System Settings.")
                                           << QStringLiteral("Approval required in System Settings.");
        QTest::newRow("not found") << 3
                                   << QStringLiteral("Background agent bundle not found in this build. This is normal in "
                                                     "some local development runs.")
                                   << QStringLiteral("Disabled.");
        QTest::newRow("registered, no manager answers")
            << EnvironmentRules::unconfirmed
            << QStringLiteral("Registered, but no service manager answered. Brusk can't confirm that it runs.")
            << QStringLiteral("Disabled.");
        QTest::newRow("other") << 4 << QStringLiteral("Unknown state.") << QStringLiteral("Disabled.");
        QTest::newRow("negative") << -1 << QStringLiteral("Unknown state.") << QStringLiteral("Disabled.");
    }

    void statusTexts()
    {
        QFETCH(int, status);
        QFETCH(QString, agent);
        QFETCH(QString, login);
        QCOMPARE(EnvironmentRules::agentDetail(status), agent);
        QCOMPARE(EnvironmentRules::loginItemDetail(status), login);
    }

    void fullDiskAccessTexts_data()
    {
        QTest::addColumn<bool>("granted");
        QTest::addColumn<bool>("folderExists");
        QTest::addColumn<QString>("detail");
        const QString denied = QStringLiteral(
            "Denied. Brusk can't read PKG receipts — Clean Remove won't have full context.");
        QTest::newRow("granted") << true << true
                                 << QStringLiteral("Granted. Brusk can read /private/var/db/receipts for provenance.");
        QTest::newRow("no receipts folder")
            << true << false
            << QStringLiteral("Nothing to read. This system has no "
                              "/private/var/db/receipts, so there are no PKG receipts for "
                              "Brusk to use.");
        QTest::newRow("denied") << false << true << denied;
        QTest::newRow("denied, no folder") << false << false << denied;
    }

    void fullDiskAccessTexts()
    {
        QFETCH(bool, granted);
        QFETCH(bool, folderExists);
        QFETCH(QString, detail);
        QCOMPARE(EnvironmentRules::fullDiskAccessDetail(granted, folderExists), detail);
    }

    void versionLabel_data()
    {
        QTest::addColumn<std::optional<QString>>("shortVersion");
        QTest::addColumn<std::optional<QString>>("build");
        QTest::addColumn<QString>("label");
        const auto text = [](const char *value) { return std::optional<QString>(QString::fromUtf8(value)); };
        const QString development = QStringLiteral("Currently running a development build");
        QTest::newRow("with build") << text("1.4.2") << text("88") << QStringLiteral("Currently running v1.4.2 (88)");
        QTest::newRow("build equals version")
            << text("1.4.2") << text("1.4.2") << QStringLiteral("Currently running v1.4.2");
        QTest::newRow("empty build") << text("1.4.2") << text("") << QStringLiteral("Currently running v1.4.2");
        QTest::newRow("no build") << text("1.4.2") << std::optional<QString>()
                                  << QStringLiteral("Currently running v1.4.2");
        QTest::newRow("question mark") << text("?") << text("88") << development;
        QTest::newRow("empty") << text("") << text("88") << development;
        QTest::newRow("absent") << std::optional<QString>() << text("88") << development;
    }

    void versionLabel()
    {
        QFETCH(std::optional<QString>, shortVersion);
        QFETCH(std::optional<QString>, build);
        QFETCH(QString, label);
        QCOMPARE(EnvironmentRules::currentVersionLabel(shortVersion, build), label);
    }

    void extensionActive_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("active");
        QTest::newRow("activated enabled") << QStringLiteral("activated enabled") << true;
        QTest::newRow("activated, waiting") << QStringLiteral("activated waiting for user") << true;
        QTest::newRow("upper case") << QStringLiteral("ENABLED") << true;
        QTest::newRow("in brackets") << QStringLiteral("[enabled]") << true;
        QTest::newRow("deactivated") << QStringLiteral("deactivated") << false;
        QTest::newRow("disabled") << QStringLiteral("disabled") << false;
        QTest::newRow("deactivated, disabled") << QStringLiteral("terminated deactivated disabled") << false;
        QTest::newRow("terminated") << QStringLiteral("terminated waiting to uninstall on reboot") << false;
        QTest::newRow("empty") << QString() << false;
    }

    void extensionActive()
    {
        QFETCH(QString, state);
        QFETCH(bool, active);
        QCOMPARE(EnvironmentRules::eseIsActive(state), active);
    }

    void extensionRows_data()
    {
        QTest::addColumn<ESE>("row");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<std::optional<QString>>("note");
        QTest::newRow("network filter") << extension(QStringLiteral("com.example.filter"), QStringLiteral("Filter"),
                                                     QStringLiteral("5.5"), QStringLiteral("activated enabled"),
                                                     ESE::Category::networkFilter)
                                        << QStringLiteral("Filter")
                                        << QStringLiteral("com.example.filter · 5.5 · Network filter")
                                        << std::optional(
                                               QStringLiteral("May block Sparkle feed polls and GitHub downloads."));
        QTest::newRow("endpoint security, no name or version")
            << extension(QStringLiteral("com.example.guard"), QString(), QString(), QStringLiteral("enabled"),
                         ESE::Category::endpointSecurity)
            << QStringLiteral("com.example.guard") << QStringLiteral("com.example.guard · — · Endpoint security")
            << std::optional(QStringLiteral("May quarantine downloaded DMGs or slow subprocess calls."));
        QTest::newRow("driver") << extension(QStringLiteral("com.example.driver"), QStringLiteral("Driver"),
                                             QStringLiteral("1"), QString(), ESE::Category::driverExtension)
                                << QStringLiteral("Driver")
                                << QStringLiteral("com.example.driver · 1 · Driver extension")
                                << std::optional<QString>();
        QTest::newRow("unknown") << extension(QStringLiteral("com.example.x"), QStringLiteral("X"), QStringLiteral("2"),
                                              QString(), ESE::Category::unknown)
                                 << QStringLiteral("X") << QStringLiteral("com.example.x · 2 · Extension")
                                 << std::optional<QString>();
    }

    void extensionRows()
    {
        QFETCH(ESE, row);
        QFETCH(QString, title);
        QFETCH(QString, detail);
        QFETCH(std::optional<QString>, note);
        QCOMPARE(EnvironmentRules::eseTitle(row), title);
        QCOMPARE(EnvironmentRules::eseDetail(row), detail);
        QCOMPARE(EnvironmentRules::categoryNote(row.category), note);
    }

    void updateTexts()
    {
        QCOMPARE(EnvironmentRules::engineLine(std::nullopt), std::nullopt);
        QCOMPARE(EnvironmentRules::engineLine(QString()), std::nullopt);
        QCOMPARE(EnvironmentRules::engineLine(QStringLiteral("2.3.0")), std::optional(QStringLiteral("Engine: 2.3.0")));
        QCOMPARE(EnvironmentRules::updateHint(),
                 QStringLiteral("Menu bar panel → \"Update VARNO\", or Workshop menu VARNO → Check for Updates…"));
        QCOMPARE(EnvironmentRules::updateNote(QStringLiteral("varno.org")),
                 QStringLiteral("Scan / Update all only patch *other* apps — not VARNO itself. Manual: varno.org DMG + "
                                "SHA256."));
        const QString site = EnvironmentRules::websiteAddress(std::nullopt);
        QCOMPARE(EnvironmentRules::websiteDomain(site), QStringLiteral("varno.org"));
        QCOMPARE(EnvironmentRules::downloadUrl(site), QUrl(QStringLiteral("https://varno.org#download")));
        QCOMPARE(EnvironmentRules::websiteAddress(QStringLiteral(" https://example.org/app ")),
                 QStringLiteral("https://example.org/app"));
        QVERIFY(!EnvironmentRules::downloadUrl(QStringLiteral("not a url")).isValid());
        QCOMPARE(EnvironmentRules::extensionsContent(true, false), EnvironmentRules::ExtensionsContent::probing);
        QCOMPARE(EnvironmentRules::extensionsContent(false, true), EnvironmentRules::ExtensionsContent::none);
        QCOMPARE(EnvironmentRules::extensionsContent(false, false), EnvironmentRules::ExtensionsContent::list);
    }
};

// The sheet over scripted system reads: its refresh, sections, switch,
// banner and links.
class TestEnvironmentSheet : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void freshSheetBeforeItsRefresh()
    {
        AppModel model(quietServices());
        ScriptedSystem system;
        system.extensions = {extension(QStringLiteral("com.example.filter"), QStringLiteral("Filter"),
                                       QStringLiteral("1"), QStringLiteral("enabled"), ESE::Category::networkFilter)};
        Gate probe;
        system.probeGate = &probe;
        EnvironmentView view(&model, system.services());
        QCOMPARE(view.summary().title, QStringLiteral("Background scan needs attention"));
        QVERIFY(view.isLoading());
        view.show();
        QVERIFY(VarnoTest::waitUntil([&] { return probe.entered == 1; }));
        // Statuses are in; the probe has not answered.
        QCOMPARE(view.summary().title, QStringLiteral("Environment ready"));
        QCOMPARE(view.sectionTexts(QStringLiteral("Security extensions")),
                 (QStringList{QStringLiteral("SECURITY EXTENSIONS"), QStringLiteral("Probing system extensions…")}));
        probe.open();
        QVERIFY(refreshed(view));
        QCOMPARE(view.eses().size(), 1);
        QCOMPARE(view.sectionTexts(QStringLiteral("Security extensions")).size(), 5);
        QCOMPARE(view.minimumSize(), QSize(540, 520));
        QVERIFY(view.doneButton()->isDefault());
        QTest::keyClick(&view, Qt::Key_Return);
        QVERIFY(!view.isVisible());
    }

    void sectionsFollowTheStatuses_data()
    {
        QTest::addColumn<bool>("fda");
        QTest::addColumn<bool>("receipts");
        QTest::addColumn<int>("agent");
        QTest::addColumn<QStringList>("permissions");
        QTest::addColumn<bool>("settingsButton");
        QTest::addColumn<QStringList>("background");
        QTest::addColumn<bool>("approveButton");
        QTest::addColumn<QList<bool>>("dots"); // permissions, background scan
        QTest::addColumn<QString>("posture");
        QTest::newRow("granted, running")
            << true << true << 1
            << QStringList{QStringLiteral("PERMISSIONS"), QStringLiteral("Full Disk Access"),
                           QStringLiteral("Granted. Brusk can read /private/var/db/receipts for provenance.")}
            << false
            << QStringList{QStringLiteral("BACKGROUND SCAN"), QStringLiteral("Hourly scan agent"),
                           QStringLiteral("Running every hour. Logs at ~/Library/Logs/VARNO/scan.err.")}
            << false << QList<bool>{true, true} << QStringLiteral("Environment ready");
        QTest::newRow("denied, waiting for approval")
            << false << true << 2
            << QStringList{QStringLiteral("PERMISSIONS"), QStringLiteral("Full Disk Access"),
                           QStringLiteral("Denied. Brusk can't read PKG receipts — Clean Remove won't have full context.")}
            << true
            << QStringList{QStringLiteral("BACKGROUND SCAN"), QStringLiteral("Hourly scan agent"),
                           QStringLiteral("Waiting for your approval in System Settings.")}
            << true << QList<bool>{false, false} << QStringLiteral("Permissions incomplete");
        QTest::newRow("unknown agent state")
            << true << true << 9
            << QStringList{QStringLiteral("PERMISSIONS"), QStringLiteral("Full Disk Access"),
                           QStringLiteral("Granted. Brusk can read /private/var/db/receipts for provenance.")}
            << false
            << QStringList{QStringLiteral("BACKGROUND SCAN"), QStringLiteral("Hourly scan agent"),
                           QStringLiteral("Unknown state.")}
            << false << QList<bool>{true, false} << QStringLiteral("Background scan needs attention");
        // A system without the receipts folder and without a service manager
        // that answers (a Linux machine with no user systemd).
        QTest::newRow("no receipts folder, agent unconfirmed")
            << true << false << EnvironmentRules::unconfirmed
            << QStringList{QStringLiteral("PERMISSIONS"), QStringLiteral("Full Disk Access"),
                           QStringLiteral("Nothing to read. This system has no /private/var/db/receipts, so there are "
                                          "no PKG receipts for Brusk to use.")}
            << false
            << QStringList{QStringLiteral("BACKGROUND SCAN"), QStringLiteral("Hourly scan agent"),
                           QStringLiteral("Registered, but no service manager answered. Brusk can't confirm that it "
                                          "runs.")}
            << false << QList<bool>{true, false} << QStringLiteral("Background scan needs attention");
    }

    void sectionsFollowTheStatuses()
    {
        QFETCH(bool, fda);
        QFETCH(bool, receipts);
        QFETCH(int, agent);
        QFETCH(QStringList, permissions);
        QFETCH(bool, settingsButton);
        QFETCH(QStringList, background);
        QFETCH(bool, approveButton);
        QFETCH(QList<bool>, dots);
        QFETCH(QString, posture);
        WorkspaceScope workspace;
        AppModel model(quietServices());
        ScriptedSystem system;
        system.fda = fda;
        system.receipts = receipts;
        system.agent = agent;
        EnvironmentView view(&model, system.services());
        view.show();
        QVERIFY(refreshed(view));
        QCOMPARE(view.sectionTexts(QStringLiteral("Permissions")), permissions);
        QCOMPARE(view.sectionTexts(QStringLiteral("Background scan")), background);
        QCOMPARE(view.sectionTexts(QStringLiteral("Posture")).value(1), posture);
        QCOMPARE(view.openSettingsButton()->isVisible(), settingsButton);
        QCOMPARE(view.approveButton()->isVisible(), approveButton);
        QCOMPARE((QList<bool>{view.sectionDots(QStringLiteral("Permissions")).value(0),
                              view.sectionDots(QStringLiteral("Background scan")).value(0)}),
                 dots);
        // System Settings has no counterpart here: the links say why they are off.
        for (QPushButton *link : {view.openSettingsButton(), view.approveButton()}) {
            QVERIFY(!link->isEnabled());
            QVERIFY(!link->toolTip().isEmpty());
        }
        QVERIFY(workspace.workspace->openedUrls().isEmpty());
    }

    void extensionsAreListedInProbeOrder()
    {
        AppModel model(quietServices());
        ScriptedSystem system;
        system.extensions = {extension(QStringLiteral("com.example.guard"), QString(), QString(),
                                       QStringLiteral("activated enabled"), ESE::Category::endpointSecurity),
                             extension(QStringLiteral("com.example.old"), QStringLiteral("Old Filter"),
                                       QStringLiteral("2"), QStringLiteral("terminated deactivated"),
                                       ESE::Category::networkFilter)};
        EnvironmentView view(&model, system.services());
        view.show();
        QVERIFY(refreshed(view));
        const QStringList texts = view.sectionTexts(QStringLiteral("Security extensions"));
        QCOMPARE(texts.mid(2),
                 (QStringList{QStringLiteral("com.example.guard"),
                              QStringLiteral("com.example.guard · — · Endpoint security"),
                              QStringLiteral("May quarantine downloaded DMGs or slow subprocess calls."),
                              QStringLiteral("Old Filter"), QStringLiteral("com.example.old · 2 · Network filter"),
                              QStringLiteral("May block Sparkle feed polls and GitHub downloads.")}));
        QVERIFY(texts.at(1).startsWith(QStringLiteral("These extensions run in the background")));
        QCOMPARE(view.sectionDots(QStringLiteral("Security extensions")), (QList<bool>{true, false}));
    }

    void noExtensionsAndTheProbeTool()
    {
        // The probe itself, on a machine without the tool, and with a fake one.
        AppModel model(quietServices());
        ScriptedSystem system;
        EnvironmentServices services = system.services();
        services.probeExtensions = EnvironmentServices::system().probeExtensions;
        {
            VarnoTest::FakeTools tools;
            ToolPaths::Scoped absent(ESEProbe::toolPath, tools.filePath(QStringLiteral("absent")));
            EnvironmentView view(&model, services);
            view.show();
            QVERIFY(refreshed(view));
            QCOMPARE(view.sectionTexts(QStringLiteral("Security extensions")).value(1),
                     QStringLiteral("No active endpoint security or network extensions detected."));
        }
        VarnoTest::FakeTools tools;
        ToolPaths::Scoped listing(ESEProbe::toolPath,
                                  tools.write(QStringLiteral("systemextensionsctl"),
                                              "echo '--- com.apple.system_extension.network_extension'\n"
                                              "printf '*\\t*\\tMLZF7K7B5R\\tcom.example.net (5.5.3)\\tNet Guard\\t"
                                              "[activated enabled]\\n'\n"));
        EnvironmentView view(&model, services);
        view.show();
        QVERIFY(refreshed(view));
        QCOMPARE(view.eses().size(), 1);
        QCOMPARE(view.sectionTexts(QStringLiteral("Security extensions")).value(2), QStringLiteral("Net Guard"));
        QCOMPARE(view.sectionDots(QStringLiteral("Security extensions")), QList<bool>{true});
    }

    void reclaimableStorage_data()
    {
        QTest::addColumn<std::optional<RetentionStatus>>("retention");
        QTest::addColumn<QString>("title");
        QTest::newRow("1.5 KB pending") << std::optional(reclaimable(1536))
                                        << QStringLiteral("Environment ready — storage can be reclaimed");
        QTest::newRow("nothing pending") << std::optional(reclaimable(0)) << QStringLiteral("Environment ready");
        QTest::newRow("engine fails") << std::optional<RetentionStatus>() << QStringLiteral("Environment ready");
    }

    void reclaimableStorage()
    {
        QFETCH(std::optional<RetentionStatus>, retention);
        QFETCH(QString, title);
        AppModel model(quietServices());
        ScriptedSystem system;
        system.loginItem = EnvironmentRules::enabled;
        system.retention = retention;
        EnvironmentView view(&model, system.services());
        view.show();
        QVERIFY(refreshed(view));
        QCOMPARE(view.summary().title, title);
        QCOMPARE(view.sectionTexts(QStringLiteral("Posture")).value(1), title);
    }

    void loginSwitch()
    {
        VarnoTest::TempHome home;
        UserDefaults::open()->setValue(LoginItemManager::launchAtLoginKey, true);
        FakeServicesScope services;
        services.backend->setStatus({ServiceIdentity::Kind::Agent, LaunchAgentManager::agentPlistName},
                                    SMAppService::Status::enabled);
        services.backend->setStatus({ServiceIdentity::Kind::MainApp, {}}, SMAppService::Status::enabled);
        services.backend->setStatusAfterRegister(SMAppService::Status::requiresApproval);
        AppModel model(quietServices());
        EnvironmentServices real = EnvironmentServices::system();
        ScriptedSystem scripted;
        real.probeExtensions = scripted.services().probeExtensions;
        real.retentionStatus = scripted.services().retentionStatus;
        real.hasFullDiskAccess = [] { return true; };
        EnvironmentView view(&model, real);
        view.show();
        QVERIFY(refreshed(view));
        // The stored wish shows; reading it called nothing.
        QVERIFY(view.loginSwitch()->isChecked());
        QVERIFY(!services.backend->calls().join(QLatin1Char(' ')).contains(QStringLiteral("register")));
        QCOMPARE(view.summary().title, QStringLiteral("Environment ready"));
        QCOMPARE(view.sectionTexts(QStringLiteral("Open at Login")).value(2), QStringLiteral("Active."));

        // Off: unregistered at once, row 3 no longer applies.
        QTest::mouseClick(view.loginSwitch(), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([&] { return view.loginItemStatus() == EnvironmentRules::notRegistered; }));
        QCOMPARE(view.sectionTexts(QStringLiteral("Open at Login")).value(2), QStringLiteral("Disabled."));
        QCOMPARE(UserDefaults::open()->value(LoginItemManager::launchAtLoginKey).toBool(), false);
        QCOMPARE(view.summary().title, QStringLiteral("Environment ready"));

        // On again, the system wants approval.
        QTest::keyClick(view.loginSwitch(), Qt::Key_Space);
        QVERIFY(VarnoTest::waitUntil([&] { return view.loginItemStatus() == EnvironmentRules::requiresApproval; }));
        QCOMPARE(view.sectionTexts(QStringLiteral("Open at Login")).value(2),
                 QStringLiteral("Approval required in System Settings."));
        QCOMPARE(view.summary().title, QStringLiteral("Login launch pending approval"));
        QVERIFY(services.backend->calls().contains(QStringLiteral("unregister mainApp")));
        QVERIFY(services.backend->calls().contains(QStringLiteral("register mainApp")));
    }

    void detectionBanner()
    {
        AppModel model(quietServices());
        model.setHasEverScanned(true);
        // Only Homebrew apps: the other mechanisms found nothing.
        model.setApps({app(QStringLiteral("org.a"), QStringLiteral("Alpha"), QStringLiteral("cask"))});
        QVERIFY(model.hasDetectionFailure());
        ScriptedSystem system;
        auto view = std::make_unique<EnvironmentView>(&model, system.services());
        QVERIFY(system.events.isEmpty());
        view->show();
        QVERIFY(refreshed(*view));
        QVERIFY(view->detectionBanner()->isVisible());
        QCOMPARE(system.events, QStringList{ExperimentRecorder::detectionFailureBannerShown});
        QCOMPARE(view->detectionBanner()->accessibleName(),
                 QStringLiteral("Attention needed. Detection incomplete. One or more update mechanisms returned zero apps. "
                                "Run diagnostics to see what Brusk found."));
        // Repaints and unrelated changes record nothing; each new showing does.
        view->repaint();
        model.setApps({app(QStringLiteral("org.a"), QStringLiteral("Alpha"), QStringLiteral("cask")),
                       app(QStringLiteral("org.b"), QStringLiteral("Beta"), QStringLiteral("cask"))});
        QCOMPARE(system.events.size(), 1);
        model.setHasEverScanned(false);
        QVERIFY(!view->detectionBanner()->isVisible());
        model.setHasEverScanned(true);
        QVERIFY(view->detectionBanner()->isVisible());
        QCOMPARE(system.events.size(), 2);

        QSignalSpy diagnostics(&VarnoSignals::instance(), &VarnoSignals::varnoShowDiagnostics);
        QTest::mouseClick(view->runDiagnosticsButton(), Qt::LeftButton);
        QCOMPARE(system.events.constLast(), ExperimentRecorder::detectionFailureBannerCtaClicked);
        QVERIFY(!view->isVisible());
        QCOMPARE(diagnostics.count(), 0);
        view.reset(); // the post outlives the sheet
        QVERIFY(diagnostics.wait(5000));
        QCOMPARE(diagnostics.count(), 1);
    }

    void noBannerNoEvent()
    {
        AppModel model(quietServices());
        model.setHasEverScanned(false);
        ScriptedSystem system;
        EnvironmentView view(&model, system.services());
        view.show();
        QVERIFY(refreshed(view));
        QVERIFY(!view.detectionBanner()->isVisible());
        QVERIFY(system.events.isEmpty());
    }

    // Every wrapped label of the rows is as tall as its lines, its text at
    // the top; the lines of a row's text column are 2 apart.
    void wrappedLabelsTakeTheirOwnHeight()
    {
        AppModel model(quietServices());
        ScriptedSystem system;
        system.extensions = {extension(QStringLiteral("com.example.filter"), QStringLiteral("Filter"),
                                       QStringLiteral("1"), QStringLiteral("enabled"), ESE::Category::networkFilter)};
        EnvironmentView view(&model, system.services());
        view.resize(600, 900);
        view.show();
        QVERIFY(refreshed(view));
        int checked = 0;
        int pairs = 0;
        for (const QString &section :
             {QStringLiteral("Posture"), QStringLiteral("Permissions"), QStringLiteral("Privilege model"),
              QStringLiteral("Update VARNO"), QStringLiteral("Background scan"), QStringLiteral("Open at Login"),
              QStringLiteral("Security extensions")}) {
            QWidget *body = view.sectionWidget(section);
            QVERIFY(body);
            for (QLabel *label : body->findChildren<QLabel *>()) {
                if (!label->wordWrap() || !label->isVisible())
                    continue;
                ++checked;
                const QString what = section + QStringLiteral(": ") + label->text();
                QVERIFY2(label->height() == label->heightForWidth(label->width()), qPrintable(what));
                QVERIFY2(label->alignment() & Qt::AlignTop, qPrintable(what));
            }
            // The text columns of the rows (every column but the section's
            // own): neighbouring lines 2 apart.
            for (QVBoxLayout *column : body->findChildren<QVBoxLayout *>()) {
                if (column == body->layout())
                    continue;
                QWidget *previous = nullptr;
                for (int item = 0; item < column->count(); ++item) {
                    QWidget *line = column->itemAt(item)->widget();
                    if (!qobject_cast<QLabel *>(line) || !line->isVisible())
                        continue;
                    if (previous) {
                        ++pairs;
                        QCOMPARE(line->y() - previous->geometry().bottom() - 1, 2);
                    }
                    previous = line;
                }
            }
        }
        QVERIFY(pairs >= 7);
        QVERIFY(checked >= 10);
    }

    void updateSection()
    {
        WorkspaceScope workspace;
        AppModel model(quietServices());
        ScriptedSystem system;
        EnvironmentView view(&model, system.services());
        view.show();
        QVERIFY(refreshed(view));
        const QStringList texts = view.sectionTexts(QStringLiteral("Update VARNO"));
        QCOMPARE(texts.value(0), QStringLiteral("UPDATE VARNO"));
        QVERIFY(texts.value(1).startsWith(QStringLiteral("Currently running ")));
        if (const auto engine = model.engineVersion(); engine && !engine->isEmpty())
            QVERIFY(texts.contains(QStringLiteral("Engine: ") + *engine));
        QVERIFY(texts.contains(EnvironmentRules::updateHint()));
        QCOMPARE(view.websiteButton()->text(), QStringLiteral("Open varno.org"));
        QTest::mouseClick(view.websiteButton(), Qt::LeftButton);
        QCOMPARE(workspace.workspace->openedUrls(), QList<QUrl>{QUrl(QStringLiteral("https://varno.org#download"))});
    }
};

// The screen against the engine stand-in: the retention state it reads.
class TestEnvironmentEngine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void retentionFromTheEngine_data()
    {
        QTest::addColumn<QByteArray>("knobs");
        QTest::newRow("answers") << QByteArray();
        QTest::newRow("fails") << QByteArray(R"([{"command": "retention", "exit": 1, "stderr": "locked"}])");
    }

    void retentionFromTheEngine()
    {
        QFETCH(QByteArray, knobs);
        VarnoTest::TempHome home;
        StagedBundleScope bundle;
        EnvScope speed("VARNO_SIM_SPEED", "0");
        QVERIFY(VarnoTest::prepareSimulatedMac());
        std::optional<EnvScope> knobScope;
        if (!knobs.isEmpty())
            knobScope.emplace("VARNO_SIM_KNOBS", knobs);
        AppModel model(quietServices());
        ScriptedSystem system;
        EnvironmentServices services = system.services();
        services.retentionStatus = EnvironmentServices::system().retentionStatus;
        EnvironmentView view(&model, services);
        view.show();
        QVERIFY(VarnoTest::waitUntil([&] { return !view.isLoading(); }, std::chrono::seconds(120)));
        const QString journal = QString::fromUtf8(
            VarnoTest::runEngine({QStringLiteral("sim"), QStringLiteral("journal")}).standardOutput);
        QVERIFY2(journal.contains(QStringLiteral("\"1\", \"retention\", \"status\", \"--json\"]")),
                 qPrintable(journal.right(400)));
        QCOMPARE(view.backupReclaimableBytes() > 0,
                 view.summary().title == QStringLiteral("Environment ready — storage can be reclaimed"));
        if (!knobs.isEmpty())
            QCOMPARE(view.backupReclaimableBytes(), qint64(0));
    }
};

// The screen over this machine's own services, nothing scripted: every
// sentence it shows must be true here, as the machine itself tells when asked
// directly. (On a build machine without a user service manager the agent row
// must not say that it runs.)
class TestEnvironmentOnThisMachine : public QObject {
    Q_OBJECT

    // The user's service manager on a unit, asked directly: its active state,
    // or nothing when no manager answers.
    static std::optional<QString> managerActiveState(const QString &unit)
    {
        QProcess systemctl;
        systemctl.start(QStringLiteral("/usr/bin/systemctl"),
                        {QStringLiteral("--user"), QStringLiteral("is-active"), unit});
        if (!systemctl.waitForStarted(30000))
            return std::nullopt;
        if (!systemctl.waitForFinished(60000)) {
            systemctl.kill();
            systemctl.waitForFinished();
            return std::nullopt;
        }
        const QString state = QString::fromUtf8(systemctl.readAllStandardOutput()).trimmed();
        if (state.isEmpty())
            return std::nullopt;
        return state;
    }

private Q_SLOTS:
    void sentencesAreTrueHere()
    {
        VarnoTest::TempHome home;
        StagedBundleScope bundle;
        // The agent is registered as the launch registers it, with the
        // platform's own service backend.
        try {
            LaunchAgentManager::install();
        } catch (const LaunchAgentError &error) {
            qInfo().noquote() << error.errorDescription();
        }
        AppModel model(quietServices());
        EnvironmentView view(&model, EnvironmentServices::system());
        view.show();
        QVERIFY(VarnoTest::waitUntil([&] { return !view.isLoading(); }, std::chrono::seconds(120)));

        // Full Disk Access: what listing the receipts folder gives.
        const QString receipts = QStringLiteral("/private/var/db/receipts");
        const QFileInfo folder(receipts);
        const bool folderExists = folder.exists() || folder.isSymLink();
        const bool readable = !folderExists
            || !QDir(receipts).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System).isEmpty();
        const QString permissions = view.sectionTexts(QStringLiteral("Permissions")).value(2);
        if (!folderExists)
            QCOMPARE(permissions,
                     QStringLiteral("Nothing to read. This system has no /private/var/db/receipts, so there "
                                    "are no PKG receipts for Brusk to use."));
        else if (readable)
            QCOMPARE(permissions, QStringLiteral("Granted. Brusk can read /private/var/db/receipts for provenance."));
        else
            QCOMPARE(permissions,
                     QStringLiteral("Denied. Brusk can't read PKG receipts — Clean Remove won't have full context."));
        QCOMPARE(view.sectionDots(QStringLiteral("Permissions")), QList<bool>{readable});

        // The hourly agent: running only if the user's manager runs its timer.
        const std::optional<QString> timer = managerActiveState(QStringLiteral("org.varno.scan.timer"));
        const bool running = timer == QStringLiteral("active");
        const QString agent = view.sectionTexts(QStringLiteral("Background scan")).value(2);
        if (running)
            QCOMPARE(agent, QStringLiteral("Running every hour. Logs at ~/Library/Logs/VARNO/scan.err."));
        else if (timer)
            QCOMPARE(agent, QStringLiteral("Not registered. Brusk can't scan while the app is closed."));
        else
            QCOMPARE(agent,
                     QStringLiteral("Registered, but no service manager answered. Brusk can't confirm that it runs."));
        QCOMPARE(view.sectionDots(QStringLiteral("Background scan")), QList<bool>{running});

        // The verdict claims only what holds.
        const QString verdict = view.sectionTexts(QStringLiteral("Posture")).value(1);
        if (!readable)
            QCOMPARE(verdict, QStringLiteral("Permissions incomplete"));
        else if (!running)
            QCOMPARE(verdict, QStringLiteral("Background scan needs attention"));
        else
            QVERIFY2(verdict.startsWith(QStringLiteral("Environment ready")), qPrintable(verdict));
        QCOMPARE(view.sectionDots(QStringLiteral("Posture")),
                 QList<bool>{verdict == QStringLiteral("Environment ready")});

        // Open at login: active only with an autostart entry in this home.
        const bool autostart = !QDir(home.filePath(QStringLiteral(".config/autostart")))
                                    .entryList({QStringLiteral("*.desktop")})
                                    .isEmpty();
        QCOMPARE(view.sectionTexts(QStringLiteral("Open at Login")).value(2),
                 autostart ? QStringLiteral("Active.") : QStringLiteral("Disabled."));

        // Security extensions: none where the listing tool is absent.
        if (!QFileInfo::exists(QStringLiteral("/usr/bin/systemextensionsctl")))
            QCOMPARE(view.sectionTexts(QStringLiteral("Security extensions")).value(1),
                     QStringLiteral("No active endpoint security or network extensions detected."));
    }
};

VARNO_TEST_CLASS(TestEnvironmentRules)
VARNO_TEST_CLASS(TestEnvironmentSheet)
VARNO_TEST_CLASS(TestEnvironmentEngine)
VARNO_TEST_CLASS(TestEnvironmentOnThisMachine)
#include "tst_environment.moc"
