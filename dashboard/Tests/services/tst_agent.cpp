#include "TestRegistry.h"
#include "TestScopes.h"
#include "TestSupport.h"

#include "platform/FakeServiceBackend.h"
#include "platform/LinuxServiceBackend.h"
#include "platform/PropertyList.h"
#include "platform/ToolRunner.h"
#include "platform/UserDefaults.h"
#include "services/LaunchAgentManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <unistd.h>

using namespace std::chrono_literals;
using Status = SMAppService::Status;

Q_DECLARE_METATYPE(SMAppService::Status)

namespace {

const ServiceIdentity kAgent{ServiceIdentity::Kind::Agent, QStringLiteral("org.varno.scan.plist")};
const ServiceIdentity kMainApp{ServiceIdentity::Kind::MainApp, QString()};

bool userDisabled()
{
    return UserDefaults::open()->value(QStringLiteral("varno_agent_user_disabled"), false).toBool();
}

// A fake launchctl that appends its arguments to a log and exits with `status`.
QString writeLaunchctl(VarnoTest::FakeTools &tools, int status)
{
    return tools.write(QStringLiteral("launchctl"),
                       QStringLiteral("echo \"$*\" >> '%1'\necho 'Boot-out failed: 3: No such process' >&2\nexit %2\n")
                           .arg(tools.filePath(QStringLiteral("launchctl.log")))
                           .arg(status)
                           .toUtf8());
}

} // namespace

class TestLaunchAgent : public QObject {
    Q_OBJECT

    std::shared_ptr<FakeServiceBackend> m_backend;
    std::unique_ptr<VarnoTest::TempHome> m_home;

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<VarnoTest::TempHome>();
        m_backend = std::make_shared<FakeServiceBackend>();
        ServiceManagement::setBackend(m_backend);
    }

    void cleanup()
    {
        ServiceManagement::setBackend(nullptr);
        m_backend.reset();
        m_home.reset();
    }

    void installRegistersOnlyWhatNeedsIt_data()
    {
        QTest::addColumn<Status>("before");
        QTest::addColumn<bool>("registers");
        QTest::addColumn<Status>("after");

        QTest::newRow("not registered") << Status::notRegistered << true << Status::enabled;
        QTest::newRow("not found") << Status::notFound << true << Status::enabled;
        QTest::newRow("enabled") << Status::enabled << false << Status::enabled;
        QTest::newRow("waiting for approval") << Status::requiresApproval << false << Status::requiresApproval;
        // Registering again would ask the same silent manager.
        QTest::newRow("no manager answers") << Status::unconfirmed << false << Status::unconfirmed;
    }

    void installRegistersOnlyWhatNeedsIt()
    {
        QFETCH(Status, before);
        QFETCH(bool, registers);
        QFETCH(Status, after);

        m_backend->setStatus(kAgent, before);
        LaunchAgentManager::install();
        QCOMPARE(m_backend->calls().contains(QStringLiteral("register agent:org.varno.scan.plist")), registers);
        QCOMPARE(m_backend->status(kAgent), after);
    }

    void registrationThatNeedsApprovalIsLeftAlone()
    {
        m_backend->setStatusAfterRegister(Status::requiresApproval);
        LaunchAgentManager::install();
        LaunchAgentManager::install();
        QCOMPARE(m_backend->calls().count(QStringLiteral("register agent:org.varno.scan.plist")), 1);
    }

    void failedRegistrationThrowsItsDescription()
    {
        m_backend->setRegisterFailure(QStringLiteral("Operation not permitted"));
        try {
            LaunchAgentManager::install();
            QFAIL("install() did not throw");
        } catch (const LaunchAgentError &error) {
            QCOMPARE(error.kind(), LaunchAgentError::Kind::registrationFailed);
            QCOMPARE(error.errorDescription(), QStringLiteral("Could not register scan agent: Operation not permitted"));
        }
        QCOMPARE(LaunchAgentError::migrationFailed(QStringLiteral("x")).errorDescription(),
                 QStringLiteral("Could not migrate legacy agent: x"));
    }

    void userSwitchedOffStaysOffUntilSwitchedOn()
    {
        LaunchAgentManager::install();
        QCOMPARE(m_backend->status(kAgent), Status::enabled);

        m_backend->setUnregisterFailure(QStringLiteral("not registered"));
        LaunchAgentManager::uninstall(); // a failing unregister is ignored
        m_backend->setUnregisterFailure(std::nullopt);
        QVERIFY(userDisabled());
        LaunchAgentManager::uninstall();
        QCOMPARE(m_backend->status(kAgent), Status::notRegistered);

        // Launch and onboarding call install(): the user's "off" holds.
        m_backend->clearCalls();
        LaunchAgentManager::install();
        QVERIFY(!m_backend->calls().contains(QStringLiteral("register agent:org.varno.scan.plist")));
        QCOMPARE(m_backend->status(kAgent), Status::notRegistered);

        LaunchAgentManager::switchBackgroundScansOn();
        QVERIFY(!userDisabled());
        QCOMPARE(m_backend->status(kAgent), Status::enabled);
    }

    void legacyAgentIsBootedOutAndRemoved_data()
    {
        QTest::addColumn<bool>("userDisabled");
        QTest::addColumn<int>("launchctlStatus");
        QTest::newRow("job loaded") << false << 0;
        QTest::newRow("job not loaded") << false << 3;
        QTest::newRow("background scans off") << true << 0;
    }

    void legacyAgentIsBootedOutAndRemoved()
    {
        QFETCH(bool, userDisabled);
        QFETCH(int, launchctlStatus);

        VarnoTest::FakeTools tools;
        ToolPaths::Scoped launchctl(QStringLiteral("/bin/launchctl"), writeLaunchctl(tools, launchctlStatus));
        const QString legacy = m_home->filePath(QStringLiteral("Library/LaunchAgents/org.varno.scan.plist"));
        QCOMPARE(LaunchAgentManager::legacyPlistPath(), legacy);
        QVERIFY(VarnoTest::writeFile(legacy, "<plist/>"));
        UserDefaults::open()->setValue(QStringLiteral("varno_agent_user_disabled"), userDisabled);

        LaunchAgentManager::install();

        QVERIFY(!QFileInfo::exists(legacy));
        QCOMPARE(VarnoTest::readFile(tools.filePath(QStringLiteral("launchctl.log"))),
                 QStringLiteral("bootout gui/%1/org.varno.scan\n").arg(::getuid()).toUtf8());
        QCOMPARE(m_backend->status(kAgent), userDisabled ? Status::notRegistered : Status::enabled);
    }

    void noLegacyFileRunsNoLaunchctl()
    {
        VarnoTest::FakeTools tools;
        ToolPaths::Scoped launchctl(QStringLiteral("/bin/launchctl"), writeLaunchctl(tools, 0));
        LaunchAgentManager::install();
        LaunchAgentManager::uninstall();
        QVERIFY(!QFileInfo::exists(tools.filePath(QStringLiteral("launchctl.log"))));
    }

    void absentLaunchctlStillRemovesTheLegacyFile()
    {
        ToolPaths::Scoped launchctl(QStringLiteral("/bin/launchctl"), QStringLiteral("/nonexistent/launchctl"));
        const QString legacy = m_home->filePath(QStringLiteral("Library/LaunchAgents/org.varno.scan.plist"));
        QVERIFY(VarnoTest::writeFile(legacy, "<plist/>"));
        LaunchAgentManager::uninstall();
        QVERIFY(!QFileInfo::exists(legacy));
        QVERIFY(userDisabled());
    }

    void loginItemStoresTheWishFirst_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("fails");
        QTest::addColumn<Status>("status");

        QTest::newRow("on") << true << false << Status::enabled;
        QTest::newRow("on, refused") << true << true << Status::notRegistered;
        QTest::newRow("off when never registered") << false << false << Status::notRegistered;
        QTest::newRow("off, refused") << false << true << Status::notRegistered;
    }

    void loginItemStoresTheWishFirst()
    {
        QFETCH(bool, enabled);
        QFETCH(bool, fails);
        QFETCH(Status, status);

        UserDefaults::open()->setValue(QStringLiteral("varno_launch_at_login"), !enabled);
        if (fails) {
            m_backend->setRegisterFailure(QStringLiteral("refused"));
            m_backend->setUnregisterFailure(QStringLiteral("refused"));
        }
        QCOMPARE(LoginItemManager::set(enabled), status);
        QCOMPARE(UserDefaults::open()->value(QStringLiteral("varno_launch_at_login")).toBool(), enabled);
        QCOMPARE(m_backend->calls().last(), QStringLiteral("status mainApp"));
    }
};

// The Linux registrations: a systemd user timer made from the agent's
// property list, and an XDG autostart entry.
class TestLinuxServiceBackend : public QObject {
    Q_OBJECT

    std::unique_ptr<VarnoTest::TempHome> m_home;
    std::unique_ptr<VarnoTest::FakeTools> m_tools;
    std::unique_ptr<ToolPaths::Scoped> m_systemctl;

    // A user manager that logs each call, starts and stops the timer, and
    // answers `show` with its state: loaded and enabled, active once started.
    // A file "manager-state" in its folder, when present, is the answer instead.
    QString writeSystemctl()
    {
        const QString log = m_tools->filePath(QStringLiteral("systemctl.log"));
        const QString started = m_tools->filePath(QStringLiteral("started"));
        const QString fixed = m_tools->filePath(QStringLiteral("manager-state"));
        return m_tools->write(QStringLiteral("systemctl"),
                              QStringLiteral(
                                  "echo \"$*\" >> '%1'\n"
                                  "case \"$2\" in\n"
                                  "start) touch '%2' ;;\n"
                                  "stop) rm -f '%2' ;;\n"
                                  "show)\n"
                                  "  if [ -f '%3' ]; then cat '%3'; exit 0; fi\n"
                                  "  echo LoadState=loaded; echo UnitFileState=enabled\n"
                                  "  if [ -f '%2' ]; then echo ActiveState=active; else echo ActiveState=inactive; fi ;;\n"
                                  "esac\n")
                                  .arg(log, started, fixed)
                                  .toUtf8());
    }

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<VarnoTest::TempHome>();
        m_tools = std::make_unique<VarnoTest::FakeTools>();
        m_systemctl = std::make_unique<ToolPaths::Scoped>(QStringLiteral("/usr/bin/systemctl"), writeSystemctl());
        MainBundle::setPathOverride(VarnoTest::stagedBundlePath());
    }

    void cleanup()
    {
        MainBundle::setPathOverride(std::nullopt);
        m_systemctl.reset();
        m_tools.reset();
        m_home.reset();
    }

    void agentBecomesAUserTimer()
    {
        LinuxServiceBackend backend;
        QCOMPARE(backend.status(kAgent), Status::notRegistered);
        backend.registerService(kAgent);
        QCOMPARE(backend.status(kAgent), Status::enabled);

        const QString units = m_home->filePath(QStringLiteral(".config/systemd/user"));
        QCOMPARE(LinuxServiceBackend::systemdUserDir(), units);
        const QString service = QString::fromUtf8(VarnoTest::readFile(units + QStringLiteral("/org.varno.scan.service")));
        const QString timer = QString::fromUtf8(VarnoTest::readFile(units + QStringLiteral("/org.varno.scan.timer")));
        // A hung scan ends before the next is due.
        QVERIFY(service.contains(QStringLiteral("TimeoutStartSec=2700\n")));
        QCOMPARE(LinuxServiceBackend::scanTimeoutFor(3600), 2700);
        QCOMPARE(LinuxServiceBackend::scanTimeoutFor(10), 60);
        QCOMPARE(LinuxServiceBackend::scanTimeoutFor(86400), 2700);
        QVERIFY(
            service.contains(QStringLiteral("ExecStart=\"/bin/sh\" \"-c\" \"logs=\\\"$$HOME/Library/Logs/VARNO\\\";")));
        QVERIFY(timer.contains(QStringLiteral("OnUnitActiveSec=3600s\n")));
        QVERIFY(timer.contains(QStringLiteral("OnActiveSec=3600s\n")));
        QVERIFY(QFileInfo(units + QStringLiteral("/timers.target.wants/org.varno.scan.timer")).isSymLink());
        QCOMPARE(QFileInfo(units + QStringLiteral("/timers.target.wants/org.varno.scan.timer")).canonicalFilePath(),
                 QFileInfo(units + QStringLiteral("/org.varno.scan.timer")).canonicalFilePath());
        QCOMPARE(VarnoTest::readFile(m_tools->filePath(QStringLiteral("systemctl.log"))),
                 QByteArray("--user daemon-reload\n--user start org.varno.scan.timer\n"
                            "--user show --property=LoadState,UnitFileState,ActiveState org.varno.scan.timer\n"));

        backend.unregisterService(kAgent);
        QCOMPARE(backend.status(kAgent), Status::notRegistered);
        QVERIFY(QDir(units).entryList(QDir::Files).isEmpty());
        QVERIFY_THROWS_EXCEPTION(ServiceManagementError, backend.unregisterService(kAgent));
    }

    // The files are written, but no manager confirms that they will run.
    void unreachableSystemdStillRegisters()
    {
        ToolPaths::Scoped systemctl(QStringLiteral("/usr/bin/systemctl"),
                                    m_tools->write(QStringLiteral("systemctl-down"),
                                                   "echo 'Failed to connect to bus' >&2\nexit 1\n"));
        LinuxServiceBackend backend;
        backend.registerService(kAgent);
        QVERIFY(QFileInfo::exists(LinuxServiceBackend::systemdUserDir() + QStringLiteral("/org.varno.scan.timer")));
        QCOMPARE(backend.status(kAgent), Status::unconfirmed);
    }

    // Enabled means the user's manager runs the timer; where no manager
    // answers, the unit files in place are only unconfirmed.
    void agentStatusIsTheManagers_data()
    {
        QTest::addColumn<QByteArray>("manager");
        QTest::addColumn<SMAppService::Status>("status");

        QTest::newRow("loaded, enabled, active")
            << QByteArray("LoadState=loaded\nUnitFileState=enabled\nActiveState=active\n") << Status::enabled;
        QTest::newRow("never loaded (no daemon-reload)")
            << QByteArray("LoadState=not-found\nUnitFileState=\nActiveState=inactive\n") << Status::notRegistered;
        QTest::newRow("loaded but never started")
            << QByteArray("LoadState=loaded\nUnitFileState=enabled\nActiveState=inactive\n") << Status::notRegistered;
        QTest::newRow("disabled") << QByteArray("LoadState=loaded\nUnitFileState=disabled\nActiveState=active\n")
                                  << Status::notRegistered;
        QTest::newRow("failed") << QByteArray("LoadState=loaded\nUnitFileState=enabled\nActiveState=failed\n")
                                << Status::notRegistered;
        QTest::newRow("no user manager: unconfirmed") << QByteArray("exit 1") << Status::unconfirmed;
        QTest::newRow("an answer without the states: unconfirmed") << QByteArray("\n") << Status::unconfirmed;
    }

    void agentStatusIsTheManagers()
    {
        QFETCH(QByteArray, manager);
        QFETCH(SMAppService::Status, status);

        LinuxServiceBackend backend;
        backend.registerService(kAgent);
        if (manager == "exit 1") {
            ToolPaths::Scoped down(QStringLiteral("/usr/bin/systemctl"),
                                   m_tools->write(QStringLiteral("systemctl-down"),
                                                  "echo 'Failed to connect to bus: No medium found' >&2\nexit 1\n"));
            QCOMPARE(backend.status(kAgent), status);
        } else {
            VarnoTest::writeFile(m_tools->filePath(QStringLiteral("manager-state")), manager);
            QCOMPARE(backend.status(kAgent), status);
        }
    }

    // A timer the manager does not run is registered again at the next
    // install (the launch's repair), and then reads as enabled.
    void installRestartsATimerTheManagerDoesNotRun()
    {
        LinuxServiceBackend backend;
        backend.registerService(kAgent);
        QFile::remove(m_tools->filePath(QStringLiteral("started"))); // e.g. stopped by hand, or never loaded
        QCOMPARE(backend.status(kAgent), Status::notRegistered);
        QFile::remove(m_tools->filePath(QStringLiteral("systemctl.log")));

        LaunchAgentManager::install();
        QVERIFY(VarnoTest::readFile(m_tools->filePath(QStringLiteral("systemctl.log")))
                    .contains("--user daemon-reload\n--user start org.varno.scan.timer\n"));
        QCOMPARE(backend.status(kAgent), Status::enabled);
    }

    void agentWithoutItsPropertyListIsNotFound()
    {
        QTemporaryDir dir;
        MainBundle::setPathOverride(TestScopes::makeFakeBundle(dir.path(), {}));
        LinuxServiceBackend backend;
        QCOMPARE(backend.status(kAgent), Status::notFound);
        try {
            backend.registerService(kAgent);
            QFAIL("registering an agent without its property list succeeded");
        } catch (const ServiceManagementError &error) {
            QVERIFY(error.localizedDescription().contains(QStringLiteral("org.varno.scan.plist")));
        }
        QCOMPARE(backend.status(kAgent), Status::notFound);
    }

    void loginItemIsAnAutostartEntry()
    {
        LinuxServiceBackend backend;
        QCOMPARE(backend.status(kMainApp), Status::notRegistered);
        backend.registerService(kMainApp);
        QCOMPARE(backend.status(kMainApp), Status::enabled);
        const QString entry = m_home->filePath(QStringLiteral(".config/autostart/org.varno.workshop.desktop"));
        QCOMPARE(LinuxServiceBackend::autostartFilePath(), entry);
        const QString text = QString::fromUtf8(VarnoTest::readFile(entry));
        QVERIFY(text.startsWith(QStringLiteral("[Desktop Entry]\n")));
        QVERIFY(
            text.contains(QStringLiteral("Exec=\"") + QCoreApplication::applicationFilePath() + QStringLiteral("\"\n")));
        backend.unregisterService(kMainApp);
        QCOMPARE(backend.status(kMainApp), Status::notRegistered);
        backend.unregisterService(kMainApp); // nothing to remove is no failure
    }

    // The login item is on only while its entry starts the running binary;
    // an entry left by a binary that has moved is rewritten by the repair.
    void loginItemFollowsTheRunningBinary_data()
    {
        QTest::addColumn<QString>("exec");
        QTest::addColumn<SMAppService::Status>("status");

        const QString running = QCoreApplication::applicationFilePath();
        QTest::newRow("this binary") << LinuxServiceBackend::quoteForDesktopEntry(running) << Status::enabled;
        QTest::newRow("this binary, bare, with a field code") << running + QStringLiteral(" %u") << Status::enabled;
        QTest::newRow("a binary that has moved")
            << QStringLiteral("\"/opt/old/VARNO.app/Contents/MacOS/VARNO\"") << Status::notRegistered;
        QTest::newRow("another program") << QStringLiteral("/bin/true") << Status::notRegistered;
        QTest::newRow("unclosed quote") << QStringLiteral("\"") + running << Status::notRegistered;
        QTest::newRow("no Exec") << QString() << Status::notRegistered;
    }

    void loginItemFollowsTheRunningBinary()
    {
        QFETCH(QString, exec);
        QFETCH(SMAppService::Status, status);

        QByteArray entry = "[Desktop Entry]\nType=Application\nName=VARNO Workshop\n";
        if (!exec.isEmpty())
            entry += "Exec=" + exec.toUtf8() + "\n";
        VarnoTest::writeFile(LinuxServiceBackend::autostartFilePath(), entry);
        LinuxServiceBackend backend;
        QCOMPARE(backend.status(kMainApp), status);

        // The launch's repair for a user who wants the item: rewritten to start this binary.
        LoginItemManager::set(true);
        QCOMPARE(backend.status(kMainApp), Status::enabled);
    }

    void desktopEntryProgram_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<QString>>("program");

        QTest::newRow("quoted with escapes") << QStringLiteral("[Desktop Entry]\nExec=")
                + LinuxServiceBackend::quoteForDesktopEntry(QStringLiteral("/a b/$x%y\\z\"q"))
                                             << std::optional(QStringLiteral("/a b/$x%y\\z\"q"));
        QTest::newRow("bare with arguments") << QStringLiteral("[Desktop Entry]\nExec=/usr/bin/varno --x %u")
                                             << std::optional(QStringLiteral("/usr/bin/varno"));
        QTest::newRow("Exec of another group only")
            << QStringLiteral("[Desktop Action x]\nExec=/bin/a\n[Desktop Entry]\nName=n") << std::optional<QString>();
        QTest::newRow("empty Exec") << QStringLiteral("[Desktop Entry]\nExec=") << std::optional<QString>();
    }

    void desktopEntryProgram()
    {
        QFETCH(QString, text);
        QFETCH(std::optional<QString>, program);
        QCOMPARE(LinuxServiceBackend::programOfDesktopEntry(text), program);
    }

    void systemdQuoting_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("quoted");
        QTest::newRow("plain") << QStringLiteral("/bin/sh") << QStringLiteral("\"/bin/sh\"");
        QTest::newRow("blank and quote") << QStringLiteral("a \"b\"") << QStringLiteral("\"a \\\"b\\\"\"");
        QTest::newRow("variables stay for the shell") << QStringLiteral("$HOME/%h") << QStringLiteral("\"$$HOME/%%h\"");
        QTest::newRow("backslash") << QStringLiteral("a\\b") << QStringLiteral("\"a\\\\b\"");
    }

    void systemdQuoting()
    {
        QFETCH(QString, argument);
        QFETCH(QString, quoted);
        QCOMPARE(LinuxServiceBackend::quoteForSystemd(argument), quoted);
    }

    void desktopEntryQuoting_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("quoted");
        QTest::newRow("plain") << QStringLiteral("/opt/VARNO.app/Contents/MacOS/VARNO")
                               << QStringLiteral("\"/opt/VARNO.app/Contents/MacOS/VARNO\"");
        QTest::newRow("blank") << QStringLiteral("/home/a b/VARNO") << QStringLiteral("\"/home/a b/VARNO\"");
        QTest::newRow("quote") << QStringLiteral("a\"b") << QStringLiteral("\"a\\\\\"b\"");
        QTest::newRow("dollar and percent") << QStringLiteral("$x%y") << QStringLiteral("\"\\\\$x%%y\"");
        QTest::newRow("backslash") << QStringLiteral("a\\b") << QStringLiteral("\"a\\\\\\\\b\"");
    }

    void desktopEntryQuoting()
    {
        QFETCH(QString, argument);
        QFETCH(QString, quoted);
        QCOMPARE(LinuxServiceBackend::quoteForDesktopEntry(argument), quoted);
    }
};

// The agent's property list: what it runs, and that it runs it as described.
class TestScanAgentPropertyList : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void runsTheEngineScanHourly()
    {
        const auto parsed = PropertyList::parseFile(
            VarnoTest::sourcePath(QStringLiteral("dashboard/Resources/org.varno.scan.plist")));
        QVERIFY2(parsed.ok(), qPrintable(parsed.error));
        const QVariantMap plist = parsed.value.toMap();
        QCOMPARE(plist.value(QStringLiteral("Label")).toString(), QStringLiteral("org.varno.scan"));
        QCOMPARE(plist.value(QStringLiteral("StartInterval")).toLongLong(), 3600);
        const QStringList arguments = plist.value(QStringLiteral("ProgramArguments")).toStringList();
        QCOMPARE(arguments.size(), 3);
        QCOMPARE(arguments.mid(0, 2), (QStringList{QStringLiteral("/bin/sh"), QStringLiteral("-c")}));

        // Run the agent's command in a temporary home with a stand-in engine
        // that records its arguments and complains on standard error.
        VarnoTest::TempHome home;
        VarnoTest::writeFile(home.filePath(QStringLiteral(".varno/varno.py")),
                             "import sys\n"
                             "open(sys.argv[0] + '.args', 'w').write(' '.join(sys.argv[1:]))\n"
                             "print('scanned')\n"
                             "print('slow vendor feed', file=sys.stderr)\n");
        ToolRequest request;
        request.program = arguments[0];
        request.arguments = arguments.mid(1);
        request.timeout = 60s;
        const ToolResult result = ToolRunner::runBlocking(request);
        QVERIFY2(result.succeeded(), result.standardError.constData());
        QVERIFY(result.standardOutput.isEmpty());
        QCOMPARE(VarnoTest::readFile(home.filePath(QStringLiteral(".varno/varno.py.args"))),
                 QByteArray("--engine-contract-version 1 scan"));
        QCOMPARE(VarnoTest::readFile(home.filePath(QStringLiteral("Library/Logs/VARNO/scan.err"))),
                 QByteArray("slow vendor feed\n"));
    }

    // The log the scans append to is rotated like the app's other logs: past
    // 262144 bytes it becomes scan.err.prev (one generation) before a scan writes.
    void scanLogIsRotated_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<bool>("rotated");
        QTest::newRow("small: appended") << 1000 << false;
        QTest::newRow("at the limit: appended") << 262144 << false;
        QTest::newRow("past the limit: rotated") << 262145 << true;
    }

    void scanLogIsRotated()
    {
        QFETCH(int, before);
        QFETCH(bool, rotated);
        const auto parsed = PropertyList::parseFile(
            VarnoTest::sourcePath(QStringLiteral("dashboard/Resources/org.varno.scan.plist")));
        QVERIFY2(parsed.ok(), qPrintable(parsed.error));
        const QStringList arguments = parsed.value.toMap().value(QStringLiteral("ProgramArguments")).toStringList();

        VarnoTest::TempHome home;
        VarnoTest::writeFile(home.filePath(QStringLiteral(".varno/varno.py")),
                             "import sys\nprint('slow vendor feed', file=sys.stderr)\n");
        const QString log = home.filePath(QStringLiteral("Library/Logs/VARNO/scan.err"));
        const QByteArray old(before, 'o');
        VarnoTest::writeFile(log, old);
        VarnoTest::writeFile(log + QStringLiteral(".prev"), "older generation\n");
        ToolRequest request;
        request.program = arguments.value(0);
        request.arguments = arguments.mid(1);
        request.timeout = 60s;
        QVERIFY(ToolRunner::runBlocking(request).succeeded());
        if (rotated) {
            QCOMPARE(VarnoTest::readFile(log), QByteArray("slow vendor feed\n"));
            QCOMPARE(VarnoTest::readFile(log + QStringLiteral(".prev")), old);
        } else {
            QCOMPARE(VarnoTest::readFile(log), old + "slow vendor feed\n");
            QCOMPARE(VarnoTest::readFile(log + QStringLiteral(".prev")), QByteArray("older generation\n"));
        }
    }

    void isStagedAmongTheResources()
    {
        QVERIFY(QFileInfo::exists(VarnoTest::stagedBundlePath()
                                  + QStringLiteral("/Contents/Resources/org.varno.scan.plist")));
    }
};

VARNO_TEST_CLASS(TestLaunchAgent)
VARNO_TEST_CLASS(TestLinuxServiceBackend)
VARNO_TEST_CLASS(TestScanAgentPropertyList)
#include "tst_agent.moc"
