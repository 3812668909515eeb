#include "TestRegistry.h"
#include "TestSupport.h"

#include "EngineFixture.h"

#include "engine/CLIBootstrap.h"
#include "engine/EngineGate.h"
#include "engine/EngineManifest.h"
#include "engine/ShellLauncher.h"
#include "engine/VARNOError.h"
#include "engine/VARNOProcess.h"
#include "platform/MainBundle.h"
#include "platform/VarnoPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <QtConcurrent>

#include <sys/stat.h>

using namespace std::chrono_literals;
using namespace EngineFixture;

namespace {

QCoro::Task<void> passGate(QString folder, std::shared_ptr<int> passed)
{
    co_await EngineGate::ready(folder);
    ++*passed;
}

// Runs a whole bootstrap on its own thread, as the app does; the error it
// threw, if any.
std::exception_ptr bootstrap()
{
    try {
        VarnoTest::await(CLIBootstrap::bootstrap(), 120s);
        return nullptr;
    } catch (...) {
        return std::current_exception();
    }
}

template<typename Error>
std::optional<Error> errorOf(std::exception_ptr error)
{
    if (!error)
        return std::nullopt;
    try {
        std::rethrow_exception(error);
    } catch (const Error &e) {
        return e;
    } catch (...) {
        return std::nullopt;
    }
}

QString describe(std::exception_ptr error)
{
    if (!error)
        return QStringLiteral("success");
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &e) {
        return CLIBootstrap::failureMessage(e);
    }
}

// A fake engine whose migrate and selftest run the given Python snippets.
QByteArray setupEngine(const QByteArray &migrate, const QByteArray &selftest = "pass\n")
{
    return QByteArray("import os, sys, time\n"
                      "cmd = sys.argv[-1]\n"
                      "open(os.path.join(os.environ['HOME'], 'ran-' + cmd), 'w').close()\n"
                      "if cmd == 'migrate':\n")
        + "    " + QByteArray(migrate).replace("\n", "\n    ").trimmed()
        + "\n"
          "elif cmd == 'selftest':\n"
          "    "
        + QByteArray(selftest).replace("\n", "\n    ").trimmed() + "\n";
}

// Puts a compiled engine.cli in the engine's bytecode cache as an entry the
// engine takes for its installed engine/cli.py: the same interpreter, path
// and source, but code that also appends a line to `marker`.
bool plantCompiledModule(const QString &marker)
{
    static const char *planter = R"(
import marshal, os, sys
installed, source_file, cache, marker = sys.argv[1:5]
with open(source_file, "rb") as fh:
    source = fh.read()
code = compile(source + ("\nopen(%r, 'a').write('planted code ran\\n')\n" % marker).encode(), installed, "exec")
folder = os.path.join(cache, sys.implementation.cache_tag or "python")
os.makedirs(folder, mode=0o700, exist_ok=True)
with open(os.path.join(folder, "engine.cli.bin"), "wb") as fh:
    fh.write(marshal.dumps(("varno-bytecode 1\n" + sys.version, installed, source, code)))
)";
    QProcess python;
    python.setProcessChannelMode(QProcess::ForwardedChannels);
    python.start(VARNOProcess::python3(),
                 {QStringLiteral("-c"), QString::fromUtf8(planter),
                  VarnoPaths::engineDir() + QStringLiteral("/engine/cli.py"),
                  stagedEngine() + QStringLiteral("/engine/cli.py"), VarnoPaths::engineBytecodeDir(), marker});
    return python.waitForFinished(60000) && python.exitStatus() == QProcess::NormalExit && python.exitCode() == 0;
}

class BootstrapTiming {
public:
    BootstrapTiming(double setupTimeout, int killGraceMs)
        : m_saved(CLIBootstrap::timing())
    {
        CLIBootstrap::setTiming({setupTimeout, killGraceMs});
    }
    ~BootstrapTiming() { CLIBootstrap::setTiming(m_saved); }

private:
    CLIBootstrap::Timing m_saved;
};

} // namespace

class TestCLIBootstrap : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void installsChecksAndReinstallsTheStandIn()
    {
        VarnoTest::TempHome home;
        StagedBundle bundle;
        ShellEnv shell("/bin/zsh");
        QVERIFY(CLIBootstrap::bundledVersion());
        QVERIFY(!CLIBootstrap::installedVersion());

        // First install.
        QCOMPARE(describe(bootstrap()), QStringLiteral("success"));
        QCOMPARE(CLIBootstrap::installedVersion(), CLIBootstrap::bundledVersion());
        QCOMPARE(VarnoTest::readFile(VarnoPaths::engineScript()),
                 VarnoTest::readFile(stagedEngine() + QStringLiteral("/varno.py")));
        QCOMPARE(modeOf(VarnoPaths::engineDir()), 0700);
        QVERIFY(QFile::exists(VarnoPaths::appSupportDir() + QStringLiteral("/varno.db"))); // migrate ran
        for (const QString &folder : {QStringLiteral("Library/Application Support/VARNO"),
                                      QStringLiteral("Library/Logs/VARNO"), QStringLiteral("Library/Caches/VARNO")})
            QCOMPARE(modeOf(home.filePath(folder)), 0700);
        const QString launcher = home.filePath(QStringLiteral(".local/bin/varno"));
        QCOMPARE(VarnoTest::readFile(launcher), ShellLauncher::launcherContent());
        QCOMPARE(VarnoTest::readFile(home.filePath(QStringLiteral(".zshrc"))), ShellLauncher::pathBlock());

        // Second launch of the same version: copied and checked again, the
        // scan log kept and rotated, the launcher left alone; what the
        // manifest does not list is gone (a module planted beside the
        // engine's own would be imported by it).
        QVERIFY(VarnoTest::writeFile(VarnoPaths::engineScript(), "# edited by hand\n"));
        QVERIFY(VarnoTest::writeFile(VarnoPaths::engineDir() + QStringLiteral("/extra.txt"), "mine"));
        QVERIFY(VarnoTest::writeFile(VarnoPaths::engineDir() + QStringLiteral("/engine/planted.py"), "import os\n"));
        QVERIFY(VarnoTest::writeFile(VarnoPaths::engineDir() + QStringLiteral("/logs/scan.err"), "last scan"));
        QVERIFY(QFile::remove(launcher));
        QCOMPARE(describe(bootstrap()), QStringLiteral("success"));
        QCOMPARE(VarnoTest::readFile(VarnoPaths::engineScript()),
                 VarnoTest::readFile(stagedEngine() + QStringLiteral("/varno.py")));
        QVERIFY(!QFile::exists(VarnoPaths::engineDir() + QStringLiteral("/extra.txt")));
        QVERIFY(!QFile::exists(VarnoPaths::engineDir() + QStringLiteral("/engine/planted.py")));
        QVERIFY(!QFile::exists(CLIBootstrap::stagingDir()));
        QCOMPARE(modeOf(VarnoPaths::engineDir()), 0700);
        QVERIFY(!QFile::exists(VarnoPaths::engineDir() + QStringLiteral("/logs/scan.err")));
        QCOMPARE(VarnoTest::readFile(VarnoPaths::engineDir() + QStringLiteral("/logs/scan.err.prev")),
                 QByteArray("last scan"));
        QVERIFY(!QFile::exists(launcher));

        // The repair makes the next run a first install: the launcher comes
        // back, the start-up file keeps its one block.
        QVERIFY(QFile::remove(VarnoPaths::engineDir() + QStringLiteral("/.cli_version")));
        QCOMPARE(describe(bootstrap()), QStringLiteral("success"));
        QCOMPARE(VarnoTest::readFile(launcher), ShellLauncher::launcherContent());
        QCOMPARE(VarnoTest::readFile(home.filePath(QStringLiteral(".zshrc"))), ShellLauncher::pathBlock());
    }

    void tamperedEngineFileFailsTheCheck()
    {
        VarnoTest::TempHome home;
        FakeBundle bundle;
        QVERIFY(VarnoTest::copyTree(stagedEngine(), bundle.cli()));
        bundle.writeManifest();
        const QString manifestDigest = QJsonDocument::fromJson(
                                           VarnoTest::readFile(bundle.resources() + QStringLiteral("/cli-manifest.json")))
                                           .object()
                                           .value(QLatin1String("files"))
                                           .toObject()
                                           .value(QLatin1String("engine/stream.py"))
                                           .toString();
        QVERIFY(!manifestDigest.isEmpty());
        // A sound install from before, with a file of its own.
        QVERIFY(VarnoTest::copyTree(stagedEngine(), VarnoPaths::engineDir()));
        QVERIFY(VarnoTest::writeFile(VarnoPaths::engineDir() + QStringLiteral("/logs/scan.err"), "last scan"));
        const QByteArray installedStream = VarnoTest::readFile(VarnoPaths::engineDir()
                                                               + QStringLiteral("/engine/stream.py"));
        QByteArray changed = VarnoTest::readFile(bundle.cli() + QStringLiteral("/engine/stream.py"));
        changed[0] = changed[0] == '#' ? '"' : '#';
        bundle.writeEngineFile(QStringLiteral("engine/stream.py"), changed);

        const auto error = errorOf<CLIBootstrapError>(bootstrap());
        QVERIFY(error);
        QCOMPARE(error->kind(), CLIBootstrapError::Kind::hashMismatch);
        QCOMPARE(error->file(), QStringLiteral("engine/stream.py"));
        QCOMPARE(error->expected(), manifestDigest);
        QCOMPARE(error->actual(), EngineManifest::sha256Hex(changed));
        QCOMPARE(error->errorDescription(),
                 QStringLiteral("VARNO's helper tools failed an integrity check (engine/stream.py). Reinstall VARNO."));
        // Nothing ran after the check, and the previous install is as it was.
        QVERIFY(!QFile::exists(VarnoPaths::appSupportDir() + QStringLiteral("/varno.db")));
        QCOMPARE(VarnoTest::readFile(VarnoPaths::engineDir() + QStringLiteral("/engine/stream.py")), installedStream);
        QCOMPARE(VarnoTest::readFile(VarnoPaths::engineDir() + QStringLiteral("/logs/scan.err")),
                 QByteArray("last scan"));
        QVERIFY(!QFile::exists(CLIBootstrap::stagingDir()));

        // The unverified engine runs no command: each fails with the check's own sentence.
        QVERIFY(!EngineGate::isVerified(VarnoPaths::engineDir()));
        const QStringList commands{QStringLiteral("list"), QStringLiteral("--json")};
        QString refused;
        try {
            VarnoTest::await(VARNOProcess::run(commands, 120));
        } catch (const std::exception &e) {
            refused = localizedDescription(e);
        }
        QCOMPARE(refused, error->errorDescription());
    }

    void engineCommandsWaitForTheBootstrap()
    {
        // A command asked for while the engine is being replaced starts only
        // once the bootstrap has finished.
        VarnoTest::TempHome home;
        FakeBundle bundle;
        VarnoTest::ShellInterpreter shell;
        bundle.writeEngineFile(QStringLiteral("varno.py"),
                               "echo \"$3 begin\" >> \"$HOME/order\"\n"
                               "if [ \"$3\" = migrate ]; then sleep 0.5; fi\n"
                               "echo \"$3 end\" >> \"$HOME/order\"\n");
        bundle.writeManifest();
        auto running = CLIBootstrap::bootstrap();
        QVERIFY(!EngineGate::isVerified(VarnoPaths::engineDir()));
        const QStringList commands{QStringLiteral("list")};
        auto list = VARNOProcess::run(commands, 120);
        VarnoTest::await(std::move(list), 60s);
        VarnoTest::await(std::move(running), 60s);
        QCOMPARE(VarnoTest::readFile(home.filePath(QStringLiteral("order"))),
                 QByteArray("migrate begin\nmigrate end\nselftest begin\nselftest end\nlist begin\nlist end\n"));
        QVERIFY(EngineGate::isVerified(VarnoPaths::engineDir()));
    }

    // A bootstrap may start and end (or end and another start) before the
    // event loop tells a waiting command of either: the command goes through
    // once, and the later change is told to nobody who has gone on.
    void twoChangesInOneTurnLetAWaitingCommandThroughOnce()
    {
        const QString folder = QStringLiteral("two-changes-in-one-turn");
        EngineGate::bootstrapStarted(folder);
        auto passed = std::make_shared<int>(0);
        auto waiting = passGate(folder, passed);
        QCOMPARE(*passed, 0);
        EngineGate::bootstrapFinished(folder, nullptr);
        EngineGate::bootstrapStarted(folder);
        EngineGate::bootstrapFinished(folder, nullptr);
        VarnoTest::await(std::move(waiting), 10s);
        // What is still queued is delivered; the command that went through is not resumed again.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(*passed, 1);
        QVERIFY(EngineGate::isVerified(folder));
    }

    void failingMigrateIsLoggedAndStopsTheRun()
    {
        VarnoTest::TempHome home;
        StagedBundle bundle;
        setKnobs("{\"rules\": [{\"command\": \"migrate\", \"exit\": 3, \"stderr\": \"boom\"}]}");
        const std::exception_ptr failure = bootstrap();
        const auto error = errorOf<CLIBootstrapError>(failure);
        QVERIFY(error);
        QCOMPARE(error->kind(), CLIBootstrapError::Kind::migrationFailed);
        QCOMPARE(error->exitCode(), 3);
        QCOMPARE(error->stderrText().trimmed(), QStringLiteral("boom"));
        QCOMPARE(error->errorDescription(),
                 QStringLiteral("VARNO couldn't prepare its database (setup exit 3). Open Diagnostics for details, "
                                "or reinstall VARNO."));
        // selftest, hardening and the launcher did not run.
        QVERIFY(!QFile::exists(home.filePath(QStringLiteral("Library/Caches/VARNO"))));
        QVERIFY(!QFile::exists(home.filePath(QStringLiteral(".local/bin/varno"))));

        VarnoTest::FixedClock clock(QDateTime(QDate(2026, 1, 31), QTime(8, 5, 9), Qt::UTC));
        CLIBootstrap::logBootstrapFailure(failure);
        clock.advance(1s);
        CLIBootstrap::logBootstrapFailure(VARNOError::python3NotFound());
        QCOMPARE(VarnoTest::readFile(VarnoPaths::logsDir() + QStringLiteral("/bootstrap.err")),
                 QByteArray("[2026-01-31T08:05:09Z] VARNO couldn't prepare its database (setup exit 3). Open "
                            "Diagnostics for details, or reinstall VARNO.\n"
                            "boom\n\n\n"
                            "[2026-01-31T08:05:10Z] python3 not found in expected system or Homebrew locations. "
                            "Install Python 3 to continue.\n\n"));
    }

    void failureLogRotatesBeforeAnEntryWouldPassItsSize_data()
    {
        QTest::addColumn<int>("earlier"); // bytes the log holds already
        QTest::addColumn<int>("detail");  // bytes of the failing step's standard error
        QTest::addColumn<bool>("rotated");
        QTest::newRow("room for the entry") << 1000 << 1000 << false;
        QTest::newRow("the entry would pass the size") << 262000 << 1000 << true;
        QTest::newRow("a megabyte of standard error") << 1000 << 1048576 << true;
        QTest::newRow("a megabyte into an empty log") << 0 << 1048576 << false;
    }

    void failureLogRotatesBeforeAnEntryWouldPassItsSize()
    {
        // What the log held moves to bootstrap.err.prev whole, and the new
        // entry is whole in bootstrap.err.
        QFETCH(int, earlier);
        QFETCH(int, detail);
        QFETCH(bool, rotated);
        VarnoTest::TempHome home;
        const QString log = VarnoPaths::logsDir() + QStringLiteral("/bootstrap.err");
        const QString previous = log + QStringLiteral(".prev");
        const QByteArray held = QByteArray(earlier, 'e');
        QVERIFY(VarnoTest::writeFile(log, held));
        QVERIFY(VarnoTest::writeFile(previous, "an older generation"));
        VarnoTest::FixedClock clock(QDateTime(QDate(2026, 1, 31), QTime(8, 5, 9), Qt::UTC));
        const CLIBootstrapError failure = CLIBootstrapError::migrationFailed(3, QString(detail, QLatin1Char('d')));
        CLIBootstrap::logBootstrapFailure(failure);
        const QByteArray entry = "[2026-01-31T08:05:09Z] " + failure.errorDescription().toUtf8() + '\n'
            + QByteArray(detail, 'd') + "\n\n";
        if (rotated) {
            QCOMPARE(VarnoTest::readFile(previous), held);
            QCOMPARE(VarnoTest::readFile(log), entry);
        } else {
            QCOMPARE(VarnoTest::readFile(previous), QByteArray("an older generation"));
            QCOMPARE(VarnoTest::readFile(log), held + entry);
        }
    }

    void failureLogStaysBoundedOverRepeatedFailures()
    {
        // Every failed launch with a megabyte of standard error: the log
        // holds the newest entry, .prev the newest 262144 bytes before it.
        VarnoTest::TempHome home;
        const QString log = VarnoPaths::logsDir() + QStringLiteral("/bootstrap.err");
        VarnoTest::FixedClock clock(QDateTime(QDate(2026, 1, 31), QTime(8, 5, 9), Qt::UTC));
        for (int launch = 0; launch < 5; ++launch) {
            clock.advance(1s);
            CLIBootstrap::logBootstrapFailure(
                CLIBootstrapError::selftestFailed(1, QString(1048576, QLatin1Char('0' + launch))));
        }
        const QByteArray kept = VarnoTest::readFile(log);
        QVERIFY2(kept.startsWith("[2026-01-31T08:05:14Z] "), kept.left(40).constData());
        QCOMPARE(kept.size(), kept.indexOf('\n') + 1 + 1048576 + 2);
        QVERIFY(kept.contains(QByteArray(1048576, '4')));
        const QByteArray previous = VarnoTest::readFile(log + QStringLiteral(".prev"));
        QCOMPARE(previous.size(), 262144);
        QVERIFY(previous.startsWith(QByteArray(1000, '3')));
        QVERIFY(previous.endsWith("3\n\n"));
    }

    void setupStepsThatFail_data()
    {
        QTest::addColumn<QByteArray>("migrate");
        QTest::addColumn<QByteArray>("selftest");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("stderrText");
        QTest::addColumn<double>("deadline"); // a step that answers gets time to answer on a loaded machine

        const QByteArray mib(1048576, 'x');
        QTest::newRow("selftest fails") << QByteArray("pass") << QByteArray("sys.stderr.write('bad'); sys.exit(4)")
                                        << int(CLIBootstrapError::Kind::selftestFailed) << 4 << QByteArray("bad")
                                        << 30.0;
        QTest::newRow("3 MiB of stderr") << QByteArray("os.write(2, b'x' * (3 * 1048576)); sys.exit(2)")
                                         << QByteArray("pass") << int(CLIBootstrapError::Kind::migrationFailed) << 2
                                         << mib + "\n[stderr truncated at 1 MB]" << 30.0;
        QTest::newRow("cap inside a character")
            << QByteArray("os.write(2, b'x' * 1048575 + b'\\xc3\\xa9' * 10); sys.exit(2)") << QByteArray("pass")
            << int(CLIBootstrapError::Kind::migrationFailed) << 2 << mib.left(1048575) + "\n[stderr truncated at 1 MB]"
            << 30.0;
        QTest::newRow("hangs past its deadline")
            << QByteArray("time.sleep(60)") << QByteArray("pass") << int(CLIBootstrapError::Kind::migrationFailed) << 15
            << QByteArray() << 1.0;
        QTest::newRow("stops cleanly when asked at its deadline")
            << QByteArray("import signal; signal.signal(signal.SIGTERM, lambda *a: sys.exit(0)); time.sleep(60)")
            << QByteArray("pass") << int(CLIBootstrapError::Kind::migrationFailed) << 15 << QByteArray() << 1.0;
        QTest::newRow("hangs and ignores the request to stop")
            << QByteArray("import signal; signal.signal(signal.SIGTERM, signal.SIG_IGN); time.sleep(60)")
            << QByteArray("pass") << int(CLIBootstrapError::Kind::migrationFailed) << 9 << QByteArray() << 1.0;
    }

    void setupStepsThatFail()
    {
        QFETCH(QByteArray, migrate);
        QFETCH(QByteArray, selftest);
        QFETCH(int, kind);
        QFETCH(int, code);
        QFETCH(QByteArray, stderrText);
        QFETCH(double, deadline);
        VarnoTest::TempHome home;
        FakeBundle bundle;
        bundle.writeEngineFile(QStringLiteral("varno.py"), setupEngine(migrate, selftest));
        bundle.writeEngineFile(QStringLiteral(".cli_version"), "1.0-test\n");
        bundle.writeManifest();
        BootstrapTiming timing(deadline, 300);

        const auto error = errorOf<CLIBootstrapError>(bootstrap());
        QVERIFY(error);
        QCOMPARE(int(error->kind()), kind);
        QCOMPARE(error->exitCode(), code);
        QCOMPARE(error->stderrText().toUtf8(), stderrText);
        if (error->kind() == CLIBootstrapError::Kind::migrationFailed)
            QVERIFY(!QFile::exists(home.filePath(QStringLiteral("ran-selftest"))));
        QCOMPARE(CLIBootstrap::installedVersion(), QStringLiteral("1.0-test")); // nothing rolled back
    }

    void aHungStepIsEndedWithWhatItStarted()
    {
        VarnoTest::TempHome home;
        FakeBundle bundle;
        // A shell engine, quick to start: it ignores SIGTERM and leaves a helper behind.
        VarnoTest::ShellInterpreter shell;
        bundle.writeEngineFile(QStringLiteral("varno.py"),
                               "trap '' TERM\nsleep 300 &\necho \"$$ $!\" > \"$HOME/pids\"\nsleep 300\n");
        bundle.writeManifest();
        BootstrapTiming timing(1.0, 300);
        const auto error = errorOf<CLIBootstrapError>(bootstrap());
        QVERIFY(error);
        QCOMPARE(error->kind(), CLIBootstrapError::Kind::migrationFailed);
        QCOMPARE(error->exitCode(), 9);
        const QList<qint64> pids = VarnoTest::readPids(home.filePath(QStringLiteral("pids")));
        QCOMPARE(pids.size(), 2);
        QVERIFY(VarnoTest::waitUntil(
            [&pids] { return !VarnoTest::processIsAlive(pids.at(0)) && !VarnoTest::processIsAlive(pids.at(1)); }, 5s));
    }

    void noEngineToInstall_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("message");
        const QString missing = QStringLiteral("No bundled CLI in app Resources. This is a packaging bug.");
        QTest::newRow("not in a bundle") << QStringLiteral("none") << missing;
        QTest::newRow("bundle without cli") << QStringLiteral("no-cli") << missing;
        QTest::newRow("cli is a file while ~/.varno exists")
            << QStringLiteral("cli-file")
            << QStringLiteral("VARNO couldn't finish setting up its helper tools: ") + missing;
        QTest::newRow("engine without manifest")
            << QStringLiteral("no-manifest")
            << QStringLiteral("VARNO's helper tools failed an integrity check (manifest). Reinstall VARNO.");
    }

    void noEngineToInstall()
    {
        QFETCH(QString, setup);
        QFETCH(QString, message);
        VarnoTest::TempHome home;
        std::optional<FakeBundle> bundle;
        if (setup == QLatin1String("none")) {
            MainBundle::setPathOverride(std::nullopt);
        } else {
            bundle.emplace();
            if (setup == QLatin1String("no-cli")) {
                QVERIFY(QDir(bundle->cli()).removeRecursively());
            } else if (setup == QLatin1String("cli-file")) {
                QVERIFY(QDir(bundle->cli()).removeRecursively());
                QVERIFY(VarnoTest::writeFile(bundle->cli(), "not a folder"));
                home.mkpath(QStringLiteral(".varno"));
            } else {
                bundle->writeEngineFile(QStringLiteral("varno.py"), setupEngine("pass"));
            }
        }
        const std::exception_ptr error = bootstrap();
        QVERIFY(errorOf<CLIBootstrapError>(error));
        QCOMPARE(describe(error), message);
        QVERIFY(!QFile::exists(home.filePath(QStringLiteral("ran-migrate"))));
    }

    void wholeRunsNeverOverlap()
    {
        VarnoTest::TempHome home;
        FakeBundle bundle;
        bundle.writeEngineFile(QStringLiteral("varno.py"),
                               setupEngine("log = open(os.path.join(os.environ['HOME'], 'runs.log'), 'a')\n"
                                           "log.write('begin\\n'); log.flush(); time.sleep(0.3)\n"
                                           "log.write('end\\n'); log.close()"));
        bundle.writeEngineFile(QStringLiteral(".cli_version"), "1\n");
        bundle.writeManifest();
        // Two callers on two threads at once, as the launch and the
        // onboarding may be.
        QFuture<void> first = QtConcurrent::run([] { CLIBootstrap::bootstrapIfNeeded(); });
        QFuture<void> second = QtConcurrent::run([] { CLIBootstrap::bootstrapIfNeeded(); });
        first.waitForFinished();
        second.waitForFinished();
        QCOMPARE(VarnoTest::readFile(home.filePath(QStringLiteral("runs.log"))), QByteArray("begin\nend\nbegin\nend\n"));
    }

    // The engine's cached bytecode is trusted whenever its stored source
    // matches the file; an install or a repair leaves none of it, so what
    // runs is compiled from the files the manifest vouched for.
    void installLeavesNoCompiledCodeBehind_data()
    {
        QTest::addColumn<QString>("before");
        QTest::newRow("first install") << QStringLiteral("nothing installed");
        QTest::newRow("launch over an install") << QStringLiteral("installed");
        QTest::newRow("repair") << QStringLiteral("repair");
    }

    void installLeavesNoCompiledCodeBehind()
    {
        QFETCH(QString, before);
        VarnoTest::TempHome home;
        StagedBundle bundle;
        ShellEnv shell("/bin/zsh");
        const QString marker = home.filePath(QStringLiteral("planted-code-ran"));
        if (before != QLatin1String("nothing installed")) {
            QCOMPARE(describe(bootstrap()), QStringLiteral("success"));
            QVERIFY(QFileInfo(VarnoPaths::engineBytecodeDir()).isDir()); // the engine keeps its bytecode
        }
        QVERIFY(plantCompiledModule(marker));
        if (before == QLatin1String("repair"))
            QVERIFY(QFile::remove(VarnoPaths::engineDir() + QStringLiteral("/.cli_version")));

        // migrate and selftest run in the bootstrap, then a command of the app.
        QCOMPARE(describe(bootstrap()), QStringLiteral("success"));
        QCOMPARE(VarnoTest::await(VARNOProcess::run({QStringLiteral("--version")}, 120)),
                 QStringLiteral("varno %1\n").arg(CLIBootstrap::bundledVersion().value_or(QString())).toUtf8());
        QVERIFY2(!QFile::exists(marker), VarnoTest::readFile(marker).constData());

        // The planted entry is one the engine takes (it is trusted between
        // installs): the bootstrap alone kept it from running.
        QVERIFY(plantCompiledModule(marker));
        VarnoTest::await(VARNOProcess::run({QStringLiteral("--version")}, 120));
        QCOMPARE(VarnoTest::readFile(marker), QByteArray("planted code ran\n"));
    }

    void hardensDataFolders_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::newRow("missing") << QStringLiteral("missing");
        QTest::newRow("open folder") << QStringLiteral("folder");
        QTest::newRow("file in the way") << QStringLiteral("file");
        QTest::newRow("link to a folder") << QStringLiteral("link");
        QTest::newRow("dangling link") << QStringLiteral("dangling");
    }

    void hardensDataFolders()
    {
        QFETCH(QString, setup);
        VarnoTest::TempHome home;
        const QString path = home.filePath(QStringLiteral("Library/Logs/VARNO"));
        const QString elsewhere = home.mkpath(QStringLiteral("elsewhere/logs"));
        QFile::setPermissions(elsewhere, QFileDevice::Permissions(0x7777));
        home.mkpath(QStringLiteral("Library/Logs"));
        if (setup == QLatin1String("folder")) {
            home.mkpath(QStringLiteral("Library/Logs/VARNO"));
            QFile::setPermissions(path, QFileDevice::Permissions(0x7777));
        } else if (setup == QLatin1String("file")) {
            QVERIFY(VarnoTest::writeFile(path, "x"));
        } else if (setup == QLatin1String("link")) {
            QVERIFY(QFile::link(elsewhere, path));
        } else if (setup == QLatin1String("dangling")) {
            QVERIFY(QFile::link(home.filePath(QStringLiteral("nowhere")), path));
        }

        CLIBootstrap::hardenDataDirectoryPermissions(QStringList{path});

        if (setup == QLatin1String("link")) {
            QVERIFY(QFileInfo(path).isSymLink());
            QCOMPARE(modeOf(elsewhere), 0700);
        } else {
            QVERIFY(!QFileInfo(path).isSymLink());
            QVERIFY(QFileInfo(path).isDir());
            QCOMPARE(modeOf(path), 0700);
        }
    }
};

VARNO_TEST_CLASS(TestCLIBootstrap)
#include "tst_bootstrap.moc"
