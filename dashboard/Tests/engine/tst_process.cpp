#include "EngineTestSupport.h"
#include "TestRegistry.h"
#include "TestSupport.h"

#include "base/Utf8Text.h"
#include "engine/VARNOProcess.h"
#include "platform/ChildProcesses.h"
#include "platform/VarnoPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// Runs and returns the error the run failed with; fails the test when it succeeded.
template<typename Error>
std::optional<Error> runExpectingError(const QStringList &arguments, double timeout,
                                       std::shared_ptr<VARNOCancellationToken> token = {},
                                       std::optional<QByteArray> stdinData = std::nullopt)
{
    try {
        VarnoTest::await(VARNOProcess::run(arguments, timeout, std::move(token), std::move(stdinData)));
    } catch (const Error &error) {
        return error;
    }
    return std::nullopt;
}

// Shortens the runner's kill grace for the object's lifetime.
class KillGrace {
public:
    explicit KillGrace(int ms)
        : m_saved(VARNOProcess::tuning())
    {
        VARNOProcess::Tuning tuning = m_saved;
        tuning.killGraceMs = ms;
        VARNOProcess::setTuning(tuning);
    }
    ~KillGrace() { VARNOProcess::setTuning(m_saved); }

private:
    VARNOProcess::Tuning m_saved;
};

// A fake engine that ignores SIGTERM (its children inherit that), leaves a
// grandchild behind, writes "<its pid> <the grandchild's pid>" to ~/pids,
// optionally says it is ready through ~/ready, and then hangs.
QByteArray stubbornEngine(bool saysReady)
{
    QByteArray script = "trap '' TERM\nsleep 300 &\necho \"$$ $!\" > \"$HOME/pids\"\n";
    if (saysReady)
        script += "echo ready > \"$HOME/ready\"\n";
    return script + "sleep 300\necho never\n";
}

// Whether anything of the stubborn engine is alive: itself or its grandchild.
// A process just killed may take a moment to be gone.
bool stubbornEngineIsGone(const QList<qint64> &pids)
{
    return VarnoTest::waitUntil(
        [&pids] {
            for (const qint64 pid : pids) {
                if (VarnoTest::processIsAlive(pid))
                    return false;
            }
            return true;
        },
        5s);
}

QByteArray runOk(const QStringList &arguments, double timeout = 120, std::shared_ptr<VARNOCancellationToken> token = {},
                 std::optional<QByteArray> stdinData = std::nullopt)
{
    return VarnoTest::await(VARNOProcess::run(arguments, timeout, std::move(token), std::move(stdinData)));
}

} // namespace

// The frame of every child: interpreter, script, contract flag, working
// directory, environment; and the choice of interpreter.
class TestProcessFrame : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<VarnoTest::TempHome>();
        m_shell = std::make_unique<EngineTest::ShellInterpreter>();
    }
    void cleanup()
    {
        m_shell.reset();
        m_home.reset();
    }

    void childGetsScriptFlagArgumentsAndWorkingDirectory()
    {
        EngineTest::installScript("printf '%s|' \"$0\" \"$@\"\nprintf '\\n%s\\n%s\\n' \"$(pwd)\" \"$HOME\"\n");
        const QByteArray out = runOk({QStringLiteral("adopt"), QStringLiteral("Two Words"), QString()});
        const QList<QByteArray> lines = out.split('\n');
        QCOMPARE(QString::fromUtf8(lines.value(0)),
                 VarnoPaths::engineScript() + QStringLiteral("|--engine-contract-version|1|adopt|Two Words||"));
        QCOMPARE(QFileInfo(QString::fromUtf8(lines.value(1))).canonicalFilePath(),
                 QFileInfo(VarnoPaths::engineDir()).canonicalFilePath());
        QCOMPARE(QString::fromUtf8(lines.value(2)), m_home->path());
    }

    void childSearchPathHasTheHomebrewFolders()
    {
        EngineTest::installScript("printf '%s' \"$PATH\"\n");
        const QString path = QString::fromUtf8(runOk({QStringLiteral("list")}));
        QCOMPARE(path, VARNOProcess::processEnvironment().value(QStringLiteral("PATH")));
        QVERIFY(path.contains(QStringLiteral("/opt/homebrew/bin")));
        QVERIFY(path.contains(QStringLiteral("/usr/local/bin")));
    }

    void searchPathRule_data()
    {
        QTest::addColumn<std::optional<QString>>("path");
        QTest::addColumn<std::optional<QString>>("expected");
        QTest::newRow("no PATH: the default path with all three in front")
            << std::optional<QString>()
            << std::optional<QString>(
                   QStringLiteral("/opt/homebrew/bin:/opt/homebrew/sbin:/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin"));
        QTest::newRow("plain system path")
            << std::optional<QString>(QStringLiteral("/usr/bin:/bin"))
            << std::optional<QString>(QStringLiteral("/opt/homebrew/bin:/opt/homebrew/sbin:/usr/local/bin:/usr/bin:/bin"));
        QTest::newRow("a longer folder name counts as present (substring test)")
            << std::optional<QString>(QStringLiteral("/usr/local/bin2:/usr/bin"))
            << std::optional<QString>(QStringLiteral("/opt/homebrew/bin:/opt/homebrew/sbin:/usr/local/bin2:/usr/bin"));
        QTest::newRow("all present: unchanged")
            << std::optional<QString>(QStringLiteral("/usr/local/bin:/opt/homebrew/sbin:/opt/homebrew/bin"))
            << std::optional<QString>(QStringLiteral("/usr/local/bin:/opt/homebrew/sbin:/opt/homebrew/bin"));
        QTest::newRow("only the missing ones, in their order")
            << std::optional<QString>(QStringLiteral("/opt/homebrew/bin:/usr/bin"))
            << std::optional<QString>(QStringLiteral("/opt/homebrew/sbin:/usr/local/bin:/opt/homebrew/bin:/usr/bin"));
        QTest::newRow("empty PATH") << std::optional<QString>(
            QString()) << std::optional<QString>(QStringLiteral("/opt/homebrew/bin:/opt/homebrew/sbin:/usr/local/bin:"));
    }

    void searchPathRule()
    {
        QFETCH(std::optional<QString>, path);
        QFETCH(std::optional<QString>, expected);
        QProcessEnvironment base;
        base.insert(QStringLiteral("LANG"), QStringLiteral("C"));
        if (path)
            base.insert(QStringLiteral("PATH"), *path);
        const QProcessEnvironment result = VARNOProcess::environmentFor(base);
        QCOMPARE(result.value(QStringLiteral("LANG")), QStringLiteral("C"));
        QCOMPARE(result.contains(QStringLiteral("PATH")), expected.has_value());
        QCOMPARE(result.value(QStringLiteral("PATH")), expected.value_or(QString()));
    }

    void extraEnvironmentReplacesVariables()
    {
        EngineTest::installScript("");
        const auto process = VARNOProcess::makeProcess(VarnoPaths::engineScript(), QStringLiteral("/tmp"),
                                                       {QStringLiteral("update")},
                                                       {{QStringLiteral("VARNO_EVENTS"), QStringLiteral("1")},
                                                        {QStringLiteral("PATH"), QStringLiteral("/x")}},
                                                       1);
        QCOMPARE(process->program(), QStringLiteral("/bin/sh"));
        QCOMPARE(process->arguments(),
                 QStringList({VarnoPaths::engineScript(), QStringLiteral("--engine-contract-version"),
                              QStringLiteral("1"), QStringLiteral("update")}));
        QCOMPARE(process->workingDirectory(), QStringLiteral("/tmp"));
        QCOMPARE(process->processEnvironment().value(QStringLiteral("VARNO_EVENTS")), QStringLiteral("1"));
        QCOMPARE(process->processEnvironment().value(QStringLiteral("PATH")), QStringLiteral("/x"));
        QCOMPARE(process->state(), QProcess::NotRunning);
    }

    void missingInterpreterIsReportedBeforeMissingScript()
    {
        VARNOProcess::setPython3OverrideForTesting(m_home->filePath(QStringLiteral("no-such-python3")));
        const auto both = runExpectingError<VARNOError>({QStringLiteral("list")}, 120);
        QVERIFY(both);
        QCOMPARE(both->kind(), VARNOError::Kind::python3NotFound);

        VARNOProcess::setPython3OverrideForTesting(QStringLiteral("/bin/sh"));
        const auto script = runExpectingError<VARNOError>({QStringLiteral("list")}, 120);
        QVERIFY(script);
        QCOMPARE(script->kind(), VARNOError::Kind::scriptNotFound);
        QCOMPARE(script->path(), VarnoPaths::engineScript());
        QCOMPARE(script->errorDescription(),
                 QStringLiteral("varno.py not found at ") + VarnoPaths::engineScript()
                     + QStringLiteral(". Run install.sh to set up VARNO."));
    }

    void interpreterThatCannotStartIsALaunchError()
    {
        EngineTest::installScript("exit 0\n");
        const QString notExecutable = m_home->filePath(QStringLiteral("python3"));
        QVERIFY(VarnoTest::writeFile(notExecutable, "not a program"));
        VARNOProcess::setPython3OverrideForTesting(notExecutable);
        const auto error = runExpectingError<ProcessLaunchError>({QStringLiteral("list")}, 120);
        QVERIFY(error);
        QVERIFY(!error->errorDescription().isEmpty());
    }

    void interpreterIsTheFirstCandidateThatExists()
    {
        VARNOProcess::setPython3OverrideForTesting(std::nullopt);
        VARNOProcess::resetCachedValuesForTesting();
        QString expected = QStringLiteral("/usr/bin/python3");
        for (const QString &candidate : VARNOProcess::python3Candidates()) {
            if (QFileInfo::exists(candidate)) {
                expected = candidate;
                break;
            }
        }
        QCOMPARE(VARNOProcess::python3Candidates(),
                 QStringList({QStringLiteral("/opt/homebrew/bin/python3"), QStringLiteral("/usr/local/bin/python3"),
                              QStringLiteral("/usr/bin/python3")}));
        QCOMPARE(VARNOProcess::python3(), expected);
    }

    void realInterpreterRunsAPythonEngine()
    {
        VARNOProcess::setPython3OverrideForTesting(std::nullopt);
        if (!QFileInfo::exists(VARNOProcess::python3()))
            QSKIP("no python3 on this machine");
        EngineTest::installScript("import json, sys\nprint(json.dumps(sys.argv[1:]))\n");
        QCOMPARE(runOk({QStringLiteral("list"), QStringLiteral("--json")}),
                 QByteArray("[\"--engine-contract-version\", \"1\", \"list\", \"--json\"]\n"));
    }

private:
    std::unique_ptr<VarnoTest::TempHome> m_home;
    std::unique_ptr<EngineTest::ShellInterpreter> m_shell;
};

// Exit statuses and their sentences.
class TestProcessFailures : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<VarnoTest::TempHome>();
        m_shell = std::make_unique<EngineTest::ShellInterpreter>();
    }
    void cleanup()
    {
        m_shell.reset();
        m_home.reset();
    }

    void describeProcessFailure_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("stderrText");
        QTest::addColumn<QString>("expected");
        const QString generic = QStringLiteral("Something went wrong running VARNO (exit %1). Open Workshop and run "
                                               "Diagnostics for details.");
        QTest::newRow("9 ignores stderr") << 9 << QStringLiteral("killed")
                                          << QStringLiteral("The VARNO helper was force-stopped. Try again; if this "
                                                            "repeats, open Workshop \u2192 Diagnostics.");
        QTest::newRow("15 without stderr") << 15 << QStringLiteral(" \n\t")
                                           << QStringLiteral("A VARNO helper timed out or was cancelled (library "
                                                             "load, scan, or update). Try again; if the Workshop "
                                                             "stays empty, open Diagnostics.");
        QTest::newRow("15 with stderr") << 15 << QStringLiteral("\n  gave up\n")
                                        << QStringLiteral("A VARNO helper timed out or was cancelled. gave up");
        QTest::newRow("1 empty") << 1 << QString() << generic.arg(1);
        QTest::newRow("75 is generic here") << 75 << QStringLiteral("Another update is running.\n")
                                            << QStringLiteral("Something went wrong running VARNO. Another update "
                                                              "is running. (exit 75)");
        QTest::newRow("negative status keeps its sign") << -1 << QString() << generic.arg(QStringLiteral("-1"));
        QTest::newRow("negative with text") << -1 << QStringLiteral("no output")
                                            << QStringLiteral("Something went wrong running VARNO. no output (exit -1)");
    }

    void describeProcessFailure()
    {
        QFETCH(int, code);
        QFETCH(QString, stderrText);
        QFETCH(QString, expected);
        QCOMPARE(VARNOError::describeProcessFailure(code, stderrText), expected);
        const VARNOError error = VARNOError::processFailure(code, stderrText);
        QCOMPARE(error.errorDescription(), expected);
        QCOMPARE(localizedDescription(error), expected);
        QCOMPARE(QString::fromUtf8(error.what()), expected);
    }

    void otherDescriptions()
    {
        QCOMPARE(VARNOError::invalidJSON(QStringLiteral("Scanning\u2026")).errorDescription(),
                 QStringLiteral("Unexpected output from varno.py: Scanning\u2026"));
        QCOMPARE(VARNOError::python3NotFound().errorDescription(),
                 QStringLiteral("python3 not found in expected system or Homebrew locations. Install Python 3 to "
                                "continue."));
    }

    void exitStatusBecomesProcessFailure_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("description");
        QTest::newRow("exit 2 with stderr, stdout discarded")
            << QByteArray("echo '[]'\nprintf '  cask not found\\n' >&2\nexit 2\n") << 2
            << QStringLiteral("Something went wrong running VARNO. cask not found (exit 2)");
        QTest::newRow("exit 1, empty stderr")
            << QByteArray("exit 1\n") << 1
            << QStringLiteral("Something went wrong running VARNO (exit 1). Open Workshop and run Diagnostics for "
                              "details.");
        QTest::newRow("invalid UTF-8 stderr counts as empty")
            << QByteArray("printf 'bad \\377 byte' >&2\nexit 3\n") << 3
            << QStringLiteral("Something went wrong running VARNO (exit 3). Open Workshop and run Diagnostics for "
                              "details.");
        QTest::newRow("killed by SIGKILL")
            << QByteArray("echo doomed >&2\nkill -9 $$\n") << 9
            << QStringLiteral("The VARNO helper was force-stopped. Try again; if this repeats, open Workshop "
                              "\u2192 Diagnostics.");
        QTest::newRow("killed by SIGTERM")
            << QByteArray("kill -15 $$\n") << 15
            << QStringLiteral("A VARNO helper timed out or was cancelled (library load, scan, or update). Try "
                              "again; if the Workshop stays empty, open Diagnostics.");
        QTest::newRow("75: another update runs")
            << QByteArray("echo 'An update is already running.' >&2\nexit 75\n") << 75
            << QStringLiteral("Something went wrong running VARNO. An update is already running. (exit 75)");
    }

    void exitStatusBecomesProcessFailure()
    {
        QFETCH(QByteArray, script);
        QFETCH(int, code);
        QFETCH(QString, description);
        EngineTest::installScript(script);
        const auto error = runExpectingError<VARNOError>({QStringLiteral("scan")}, 120);
        QVERIFY(error);
        QCOMPARE(error->kind(), VARNOError::Kind::processFailure);
        QCOMPARE(error->code(), code);
        QCOMPARE(error->errorDescription(), description);
    }

    void successReturnsStdoutOnly()
    {
        EngineTest::installScript("printf 'out'\nprintf 'noise' >&2\nexit 0\n");
        QCOMPARE(runOk({QStringLiteral("scan")}), QByteArray("out"));
    }

private:
    std::unique_ptr<VarnoTest::TempHome> m_home;
    std::unique_ptr<EngineTest::ShellInterpreter> m_shell;
};

// The caps on both streams.
class TestProcessOutputCap : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<VarnoTest::TempHome>();
        m_shell = std::make_unique<EngineTest::ShellInterpreter>();
    }
    void cleanup()
    {
        m_shell.reset();
        m_home.reset();
    }

    void stdoutIsCutAtTenMebibytesAndDrained()
    {
        // 12 MiB: the child must be read to its end or it would block on a full pipe.
        EngineTest::installScript("head -c 12582912 /dev/zero | tr '\\0' 'a'\nexit 0\n");
        EngineTest::LogCapture log;
        const QByteArray out = runOk({QStringLiteral("list"), QStringLiteral("--json")});
        QCOMPARE(out.size(), VARNOProcess::outputCap);
        QCOMPARE(out.count('a'), VARNOProcess::outputCap);
        QCOMPARE(log.count(QStringLiteral("subprocess stdout truncated at 10485760 bytes (args=[\"list\", \"--json\"])")),
                 1);
        QCOMPARE(log.countStartingWith(QStringLiteral("subprocess stderr truncated")), 0);
    }

    void stdoutOfExactlyTheCapIsNotTruncated()
    {
        EngineTest::installScript("head -c 10485760 /dev/zero\n");
        EngineTest::LogCapture log;
        QCOMPARE(runOk({QStringLiteral("list")}).size(), VARNOProcess::outputCap);
        QCOMPARE(log.countStartingWith(QStringLiteral("subprocess stdout truncated")), 0);
    }

    void stderrIsCutWithANote()
    {
        EngineTest::installScript("printf '  ' >&2\nhead -c 11534336 /dev/zero | tr '\\0' 'e' >&2\nexit 2\n");
        EngineTest::LogCapture log;
        const auto error = runExpectingError<VARNOError>({QStringLiteral("scan")}, 120);
        QVERIFY(error);
        QCOMPARE(error->code(), 2);
        const QString note = QStringLiteral(" (stderr truncated at 10 MB)");
        QVERIFY(error->stderrText().endsWith(note));
        QCOMPARE(error->stderrText().size(), VARNOProcess::outputCap + note.size());
        QVERIFY(error->stderrText().startsWith(QStringLiteral("  eee")));
        const QString description = error->errorDescription();
        QVERIFY(description.startsWith(QStringLiteral("Something went wrong running VARNO. eee")));
        QVERIFY(description.endsWith(QStringLiteral("e (stderr truncated at 10 MB) (exit 2)")));
        QCOMPARE(log.count(QStringLiteral("subprocess stderr truncated at 10485760 bytes (args=[\"scan\"])")), 1);
    }

    void stderrCutInsideACharacterKeepsTheTextBeforeIt()
    {
        // 10485759 ASCII bytes, then "é" (two bytes) across the cap.
        EngineTest::installScript("head -c 10485759 /dev/zero | tr '\\0' 'x' >&2\nprintf '\\303\\251 tail' >&2\n"
                                  "exit 4\n");
        const auto error = runExpectingError<VARNOError>({QStringLiteral("scan")}, 120);
        QVERIFY(error);
        const QString text = error->stderrText();
        QCOMPARE(text.size(), VARNOProcess::outputCap - 1 + 28);
        QVERIFY(text.startsWith(QStringLiteral("xxx")));
        QVERIFY(text.endsWith(QStringLiteral("xx (stderr truncated at 10 MB)")));
    }

private:
    std::unique_ptr<VarnoTest::TempHome> m_home;
    std::unique_ptr<EngineTest::ShellInterpreter> m_shell;
};

// Time-outs, cancellation, standard input, and children that leave helpers behind.
class TestProcessLifecycle : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<VarnoTest::TempHome>();
        m_shell = std::make_unique<EngineTest::ShellInterpreter>();
    }
    void cleanup()
    {
        m_shell.reset();
        m_home.reset();
    }

    void childStillRunningAtItsTimeoutIsTerminated()
    {
        EngineTest::installScript("echo partial\nexec sleep 30\n");
        EngineTest::LogCapture log;
        const auto error = runExpectingError<VARNOError>({QStringLiteral("scan")}, 1);
        QVERIFY(error);
        QCOMPARE(error->code(), 15);
        QCOMPARE(error->errorDescription(),
                 QStringLiteral("A VARNO helper timed out or was cancelled (library load, scan, or update). Try "
                                "again; if the Workshop stays empty, open Diagnostics."));
        QCOMPARE(log.count(QStringLiteral("subprocess exceeded 1s timeout, terminating")), 1);
    }

    void childThatExitsZeroAfterItsTimeoutStillFails()
    {
        // The request reaches the whole group, the engine's sleep too; the
        // shell's note about that sleep goes nowhere.
        EngineTest::installScript(
            "trap 'echo stopped >&2; exit 0' TERM\nsleep 30 &\nwait $! 2>/dev/null\nsleep 30 &\nwait $! 2>/dev/null\n");
        // Two seconds leave the shell time to set its trap on a busy machine.
        const auto error = runExpectingError<VARNOError>({QStringLiteral("scan")}, 2);
        QVERIFY(error);
        QCOMPARE(error->code(), 15);
        QCOMPARE(error->errorDescription(), QStringLiteral("A VARNO helper timed out or was cancelled. stopped"));
    }

    void childThatFinishesInTimeLogsNothing()
    {
        EngineTest::installScript("echo ok\n");
        EngineTest::LogCapture log;
        QCOMPARE(runOk({QStringLiteral("scan")}, 1), QByteArray("ok\n"));
        // Outlive the time-out: a timer left armed would log now.
        QTest::qWait(1500);
        QCOMPARE(log.countStartingWith(QStringLiteral("subprocess exceeded")), 0);
    }

    void timeoutThatIsNotPositiveTerminatesAtOnce_data()
    {
        QTest::addColumn<double>("timeout");
        QTest::addColumn<QString>("logged");
        QTest::newRow("zero") << 0.0 << QStringLiteral("subprocess exceeded 0s timeout, terminating");
        QTest::newRow("negative") << -5.0 << QStringLiteral("subprocess exceeded -5s timeout, terminating");
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN()
                                      << QStringLiteral("subprocess exceeded nans timeout, terminating");
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity()
                                  << QStringLiteral("subprocess exceeded infs timeout, terminating");
    }

    void timeoutThatIsNotPositiveTerminatesAtOnce()
    {
        QFETCH(double, timeout);
        QFETCH(QString, logged);
        EngineTest::installScript("exec sleep 30\n");
        EngineTest::LogCapture log;
        const auto error = runExpectingError<VARNOError>({QStringLiteral("scan")}, timeout);
        QVERIFY(error);
        QCOMPARE(error->code(), 15);
        QCOMPARE(log.count(logged), 1);
    }

    void tokenCancelledBeforeTheRunTerminatesTheChild()
    {
        EngineTest::installScript("exec sleep 30\n");
        auto token = VARNOCancellationToken::create();
        token->cancel();
        EngineTest::LogCapture log;
        const auto error = runExpectingError<VARNOError>({QStringLiteral("update"), QStringLiteral("--only"),
                                                          QStringLiteral("a.b")},
                                                         300, token);
        QVERIFY(error);
        QCOMPARE(error->code(), 15);
        QCOMPARE(log.count(QStringLiteral("subprocess cancelled, terminating")), 1);
        QCOMPARE(token->handlerCount(), 0);
    }

    void cancelFromAnotherThreadReachesTheChild_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("output");
        // The engine says "ready" through a FIFO once it is set up; the other
        // thread cancels when it hears it.
        QTest::newRow("dies of SIGTERM") << QByteArray("echo started\necho ready > \"$HOME/ready\"\nexec sleep 30\n")
                                         << 15 << QByteArray();
        // A cancelled run ends by the exit status: one that stops cleanly succeeds.
        QTest::newRow("handles SIGTERM and exits 0")
            << QByteArray("trap 'echo bye; exit 0' TERM\necho started\nsleep 30 &\necho ready > \"$HOME/ready\"\n"
                          "wait $!\n")
            << 0 << QByteArray("started\nbye\n");
    }

    void cancelFromAnotherThreadReachesTheChild()
    {
        QFETCH(QByteArray, script);
        QFETCH(int, code);
        QFETCH(QByteArray, output);
        EngineTest::installScript(script);
        const QByteArray fifo = QFile::encodeName(m_home->filePath(QStringLiteral("ready")));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        auto token = VARNOCancellationToken::create();
        QThread *canceller = QThread::create([token, fifo] {
            QFile ready(QFile::decodeName(fifo));
            if (ready.open(QIODevice::ReadOnly)) // blocks until the engine opens it
                ready.readLine();
            token->cancel();
        });
        canceller->start();
        EngineTest::LogCapture log;
        int status = 0;
        QByteArray out;
        try {
            out = runOk({QStringLiteral("update")}, 300, token);
        } catch (const VARNOError &error) {
            status = error.code();
        }
        if (!canceller->wait(0)) {
            // The engine never said "ready": release the waiting thread.
            const int fd = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
        canceller->wait();
        delete canceller;
        QCOMPARE(status, code);
        QCOMPARE(out, output);
        QCOMPARE(log.count(QStringLiteral("subprocess cancelled, terminating")), 1);
        QVERIFY(token->isCancelled());
    }

    void cancellingAfterTheRunHasEndedDoesNothing()
    {
        EngineTest::installScript("echo done\n");
        auto token = VARNOCancellationToken::create();
        QCOMPARE(runOk({QStringLiteral("update")}, 300, token), QByteArray("done\n"));
        QCOMPARE(token->handlerCount(), 1);
        EngineTest::LogCapture log;
        token->cancel();
        token->cancel();
        QCoreApplication::processEvents();
        QCOMPARE(log.countStartingWith(QStringLiteral("subprocess cancelled")), 0);
    }

    void standardInputData_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("state JSON") << QByteArray("{\"workbenchEnabled\":true}");
        QTest::newRow("present but empty: end of file at once") << QByteArray();
        QTest::newRow("larger than a pipe") << QByteArray(300000, 'z');
    }

    void standardInputData()
    {
        QFETCH(QByteArray, data);
        EngineTest::installScript("cat\n");
        QCOMPARE(runOk({QStringLiteral("dev"), QStringLiteral("set")}, 120, {}, data), data);
    }

    void withoutDataTheChildSharesTheAppsStandardInput()
    {
        EngineTest::installScript("readlink /proc/$$/fd/0\n");
        const QString expected = QFileInfo(QStringLiteral("/proc/self/fd/0")).symLinkTarget();
        QCOMPARE(QString::fromUtf8(runOk({QStringLiteral("list")})).trimmed(), expected);
    }

    void childThatIgnoresItsInputDoesNotHurtTheApp()
    {
        EngineTest::installScript("exec 0<&-\necho closed\n");
        QCOMPARE(runOk({QStringLiteral("dev"), QStringLiteral("set")}, 120, {}, QByteArray(4 << 20, 'q')),
                 QByteArray("closed\n"));
    }

    void childThatIgnoresTheRequestToStopIsKilledWithItsGroup_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("time-out") << false;
        QTest::newRow("cancellation") << true;
    }

    void childThatIgnoresTheRequestToStopIsKilledWithItsGroup()
    {
        QFETCH(bool, cancel);
        KillGrace grace(200);
        EngineTest::installScript(stubbornEngine(cancel));
        EngineTest::LogCapture log;
        std::optional<VarnoTest::ReadySignal> ready;
        auto token = VARNOCancellationToken::create();
        if (cancel)
            ready.emplace(m_home->filePath(QStringLiteral("ready")));
        // Two seconds leave the shell time to set its trap on a busy machine.
        auto run = VARNOProcess::run({QStringLiteral("scan")}, cancel ? 300 : 2, token);
        if (cancel) {
            QVERIFY(ready->wait());
            token->cancel();
        }
        std::optional<VARNOError> error;
        try {
            VarnoTest::await(std::move(run), 30s);
        } catch (const VARNOError &e) {
            error = e;
        }
        QVERIFY(error);
        QCOMPARE(error->code(), 15);
        QCOMPARE(error->errorDescription(),
                 QStringLiteral("A VARNO helper timed out or was cancelled (library load, scan, or update). Try "
                                "again; if the Workshop stays empty, open Diagnostics."));
        QCOMPARE(log.count(QStringLiteral("subprocess ignored the termination request, killing")), 1);
        const QList<qint64> pids = VarnoTest::readPids(m_home->filePath(QStringLiteral("pids")));
        QCOMPARE(pids.size(), 2);
        QVERIFY(stubbornEngineIsGone(pids));
        QCOMPARE(ChildProcesses::runningCount(), 0);
    }

    void grandchildOfAChildEndedForItsTimeoutGoesToo()
    {
        // The engine dies of SIGTERM at once; the helper it started goes with it.
        EngineTest::installScript("sleep 300 &\necho \"$$ $!\" > \"$HOME/pids\"\nsleep 300\n");
        const auto error = runExpectingError<VARNOError>({QStringLiteral("scan")}, 1);
        QVERIFY(error);
        QCOMPARE(error->code(), 15);
        const QList<qint64> pids = VarnoTest::readPids(m_home->filePath(QStringLiteral("pids")));
        QCOMPARE(pids.size(), 2);
        QVERIFY(stubbornEngineIsGone(pids));
    }

    void quittingEndsEveryRunningChildAndItsGroup()
    {
        EngineTest::installScript(stubbornEngine(true));
        VarnoTest::ReadySignal ready(m_home->filePath(QStringLiteral("ready")));
        auto run = VARNOProcess::run({QStringLiteral("scan")}, 300);
        QVERIFY(ready.wait());
        QCOMPARE(ChildProcesses::runningCount(), 1);
        const QList<qint64> pids = VarnoTest::readPids(m_home->filePath(QStringLiteral("pids")));
        QCOMPARE(pids.size(), 2);

        // The quit path returns after its grace, with nothing of the engine left.
        ChildProcesses::shutDown(300);
        for (const qint64 pid : pids)
            QVERIFY(!VarnoTest::processIsAlive(pid) || stubbornEngineIsGone({pid}));

        // Nothing starts once the app is quitting.
        bool refused = false;
        try {
            VarnoTest::await(VARNOProcess::run({QStringLiteral("list")}, 120));
        } catch (const ProcessLaunchError &) {
            refused = true;
        }
        ChildProcesses::resetForTesting();
        QVERIFY(refused);

        // (In the app the run is never resumed; here the loop runs on.)
        std::optional<VARNOError> error;
        try {
            VarnoTest::await(std::move(run), 30s);
        } catch (const VARNOError &e) {
            error = e;
        }
        QVERIFY(error);
        QCOMPARE(error->code(), 9);
    }

    void quittingBeforeTheStartIsDeliveredEndsTheChildAndItsGroup()
    {
        EngineTest::installScript(stubbornEngine(true));
        VarnoTest::ReadySignal ready(m_home->filePath(QStringLiteral("ready")));
        // The run forks the engine and waits for the event loop to deliver
        // the start. The loop is held back meanwhile: the engine starts its
        // helper and says it is ready, and the app quits before the run has
        // heard that its engine started.
        auto run = VARNOProcess::run({QStringLiteral("scan")}, 300);
        QVERIFY(ready.waitHoldingEvents());
        const QList<qint64> pids = VarnoTest::readPids(m_home->filePath(QStringLiteral("pids")));
        QCOMPARE(pids.size(), 2);
        const auto leftovers = qScopeGuard([&pids] { VarnoTest::killProcesses(pids); });
        ChildProcesses::shutDown(300);
        ChildProcesses::resetForTesting();
        QVERIFY(stubbornEngineIsGone(pids));

        // (In the app the run is never resumed; here the loop runs on.)
        std::optional<VARNOError> error;
        try {
            VarnoTest::await(std::move(run), 30s);
        } catch (const VARNOError &e) {
            error = e;
        }
        QVERIFY(error);
        QCOMPARE(error->code(), 9);
        QCOMPARE(ChildProcesses::runningCount(), 0);
    }

    void grandchildHoldingThePipesDoesNotHoldTheRun()
    {
        EngineTest::installScript("(sleep 20; echo late) &\necho done\nexit 0\n");
        QCOMPARE(VarnoTest::await(VARNOProcess::run({QStringLiteral("scan")}, 120), 10s), QByteArray("done\n"));
    }

    void runsGoOnSideBySide()
    {
        EngineTest::installScript("sleep 0.3\necho \"$4\"\n");
        auto first = VARNOProcess::run({QStringLiteral("seal"), QStringLiteral("one")}, 120);
        auto second = VARNOProcess::run({QStringLiteral("seal"), QStringLiteral("two")}, 120);
        QCOMPARE(VarnoTest::await(std::move(second)), QByteArray("two\n"));
        QCOMPARE(VarnoTest::await(std::move(first)), QByteArray("one\n"));
    }

private:
    std::unique_ptr<VarnoTest::TempHome> m_home;
    std::unique_ptr<EngineTest::ShellInterpreter> m_shell;
};

class TestCancellationToken : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void handlersRunOnceAndLateHandlersRunAtOnce()
    {
        auto token = VARNOCancellationToken::create();
        QVERIFY(!token->isCancelled());
        int calls = 0;
        token->onCancel([&calls] { ++calls; });
        token->onCancel([&calls] { calls += 10; });
        QCOMPARE(calls, 0);
        token->cancel();
        QVERIFY(token->isCancelled());
        QCOMPARE(calls, 11);
        token->cancel();
        QCOMPARE(calls, 11);
        token->onCancel([&calls] { calls += 100; });
        QCOMPARE(calls, 111);
        QCOMPARE(token->handlerCount(), 2);
    }
};

class TestOptionLikeValues : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void refusesValuesThatLookLikeOptions_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("refused");
        QTest::newRow("bundle id") << QStringLiteral("org.sim.inkwell") << false;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("dash inside") << QStringLiteral("Two-Words") << false;
        QTest::newRow("leading blank then dash") << QStringLiteral(" -x") << false;
        QTest::newRow("single dash") << QStringLiteral("-") << true;
        QTest::newRow("long option") << QStringLiteral("--yes") << true;
        QTest::newRow("short option") << QStringLiteral("-rf") << true;
    }

    void refusesValuesThatLookLikeOptions()
    {
        QFETCH(QString, value);
        QFETCH(bool, refused);
        bool thrown = false;
        try {
            VARNOProcess::ensureNotOptionLike(value, QStringLiteral("bundle id"));
        } catch (const EngineArgumentError &error) {
            thrown = true;
            QCOMPARE(error.value(), value);
            QCOMPARE(localizedDescription(error),
                     QStringLiteral("The bundle id \u201C") + value
                         + QStringLiteral("\u201D begins with \u201C-\u201D, so VARNO won\u2019t pass it to the engine."));
        }
        QCOMPARE(thrown, refused);
    }
};

class TestUtf8Text : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void prefix_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("expected");
        QTest::newRow("shorter than the limit") << QByteArray("[1,2]") << 200 << QStringLiteral("[1,2]");
        QTest::newRow("ascii cut") << QByteArray("abcdef") << 3 << QStringLiteral("abc");
        QTest::newRow("cut inside a two-byte character") << QByteArray("ab\xC3\xA9") << 3 << QStringLiteral("ab");
        QTest::newRow("cut inside a three-byte character") << QByteArray("a\xE2\x80\xA6z") << 3 << QStringLiteral("a");
        QTest::newRow("cut inside a four-byte character") << QByteArray("a\xF0\x9F\x98\x80z") << 4 << QStringLiteral("a");
        QTest::newRow("cut right after a character") << QByteArray("a\xE2\x80\xA6z") << 4 << QStringLiteral("a\u2026");
        QTest::newRow("invalid before the cut stays empty") << QByteArray("a\xFF"
                                                                          "bcd")
                                                            << 3 << QString();
        QTest::newRow("invalid without a cut") << QByteArray("\xC3") << 200 << QString();
        QTest::newRow("a stray continuation byte") << QByteArray("ab\x80"
                                                                 "cd")
                                                   << 200 << QString();
        QTest::newRow("overlong encoding is invalid") << QByteArray("\xC0\xAF") << 200 << QString();
    }

    void prefix()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, limit);
        QFETCH(QString, expected);
        QCOMPARE(Utf8Text::prefix(bytes, limit), expected);
    }

    void decodeKeepsAByteOrderMark()
    {
        QCOMPARE(Utf8Text::decode(QByteArray("\xEF\xBB\xBFhi")), std::optional<QString>(QStringLiteral("\uFEFFhi")));
        QCOMPARE(Utf8Text::decode(QByteArray("\xFE")), std::optional<QString>());
        QCOMPARE(Utf8Text::decode(QByteArray()), std::optional<QString>(QString()));
    }
};

VARNO_TEST_CLASS(TestProcessFrame)
VARNO_TEST_CLASS(TestProcessFailures)
VARNO_TEST_CLASS(TestProcessOutputCap)
VARNO_TEST_CLASS(TestProcessLifecycle)
VARNO_TEST_CLASS(TestCancellationToken)
VARNO_TEST_CLASS(TestOptionLikeValues)
VARNO_TEST_CLASS(TestUtf8Text)

#include "tst_process.moc"
