#include "TestRegistry.h"
#include "TestScopes.h"
#include "TestSupport.h"

#include "platform/ToolRun_p.h"
#include "platform/ToolRunner.h"

#include <QFileInfo>
#include <QTest>
#include <QThread>
#include <QtConcurrent>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(ToolResult::Status)

namespace {

ToolRequest requestFor(const QString &program, std::chrono::milliseconds timeout = 20s)
{
    ToolRequest request;
    request.program = program;
    request.timeout = timeout;
    return request;
}

} // namespace

class TestToolRunner : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void outcomes_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<ToolResult::Status>("status");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");

        QTest::newRow("both streams, status 0")
            << QByteArray("echo out\necho err >&2\nexit 0\n") << ToolResult::Status::Exited << 0 << QByteArray("out\n")
            << QByteArray("err\n");
        QTest::newRow("status 3") << QByteArray("echo nope >&2\nexit 3\n") << ToolResult::Status::Exited << 3
                                  << QByteArray() << QByteArray("nope\n");
        QTest::newRow("killed by a signal") << QByteArray("echo before\nkill -SEGV $$\n") << ToolResult::Status::Crashed
                                            << 11 << QByteArray("before\n") << QByteArray();
        QTest::newRow("input is closed at once") << QByteArray("cat\necho done\n") << ToolResult::Status::Exited << 0
                                                 << QByteArray("done\n") << QByteArray();
    }

    void outcomes()
    {
        QFETCH(QByteArray, script);
        QFETCH(ToolResult::Status, status);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);

        VarnoTest::FakeTools tools;
        const ToolRequest request = requestFor(tools.write(QStringLiteral("tool"), script));
        for (const bool blocking : {false, true}) {
            const ToolResult result = blocking ? ToolRunner::runBlocking(request)
                                               : VarnoTest::await(ToolRunner::run(request));
            QCOMPARE(result.status, status);
            QCOMPARE(result.exitCode, exitCode);
            QCOMPARE(result.standardOutput, out);
            QCOMPARE(result.standardError, err);
            QCOMPARE(result.succeeded(), status == ToolResult::Status::Exited && exitCode == 0);
        }
    }

    void argumentsInputAndWorkingDirectory()
    {
        VarnoTest::FakeTools tools;
        ToolRequest request = requestFor(tools.write(QStringLiteral("tool"), "pwd\nprintf '%s|' \"$@\"\ncat\n"));
        request.arguments = QStringList{QStringLiteral("a b"), QStringLiteral("--x"), QString()};
        request.workingDirectory = tools.path();
        request.standardInput = QByteArray("typed");
        const ToolResult result = VarnoTest::await(ToolRunner::run(request));
        QVERIFY(result.succeeded());
        QCOMPARE(result.standardOutputText(),
                 QFileInfo(tools.path()).canonicalFilePath() + QStringLiteral("\na b|--x||typed"));
    }

    void failuresToStart_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("workingDirectory");

        QTest::newRow("absent tool") << QStringLiteral("/nonexistent/usr/sbin/nvram") << QString();
        QTest::newRow("not executable") << QStringLiteral("plain-file") << QString();
        QTest::newRow("missing working folder") << QStringLiteral("/bin/true") << QStringLiteral("/nonexistent/cwd");
        QTest::newRow("no program") << QString() << QString();
    }

    void failuresToStart()
    {
        QFETCH(QString, program);
        QFETCH(QString, workingDirectory);

        VarnoTest::FakeTools tools;
        if (program == QLatin1String("plain-file")) {
            program = tools.filePath(QStringLiteral("plain"));
            VarnoTest::writeFile(program, "echo hi\n");
        }
        ToolRequest request = requestFor(program);
        if (!workingDirectory.isEmpty())
            request.workingDirectory = workingDirectory;
        for (const bool blocking : {false, true}) {
            const ToolResult result = blocking ? ToolRunner::runBlocking(request)
                                               : VarnoTest::await(ToolRunner::run(request), 10s);
            QCOMPARE(result.status, ToolResult::Status::FailedToStart);
            QVERIFY(!result.started());
            QVERIFY(!result.errorString.isEmpty());
        }
    }

    // A tool that never answers is ended at its time-out, and so is what it started.
    void timeOutEndsTheToolAndItsChildren()
    {
        VarnoTest::FakeTools tools;
        const QString marker = tools.filePath(QStringLiteral("child-survived"));
        const QString script = QStringLiteral("echo started\n(sleep 1; touch '%1') &\nsleep 30\n").arg(marker);
        ToolRequest request = requestFor(tools.write(QStringLiteral("hang"), script.toUtf8()), 300ms);
        for (const bool blocking : {false, true}) {
            const ToolResult result = blocking ? ToolRunner::runBlocking(request)
                                               : VarnoTest::await(ToolRunner::run(request), 20s);
            QCOMPARE(result.status, ToolResult::Status::TimedOut);
            QVERIFY(result.timedOut());
            QVERIFY(!result.succeeded());
            QCOMPARE(result.standardOutput, QByteArray("started\n"));
        }
        // The background child was in the tool's process group and got the signal too.
        QTest::qWait(1500);
        QVERIFY(!QFileInfo::exists(marker));
    }

    void toolIgnoringTerminateIsKilled()
    {
        VarnoTest::FakeTools tools;
        ToolRequest request = requestFor(tools.write(QStringLiteral("stubborn"), "trap '' TERM\nsleep 30\n"), 200ms);
        request.killGrace = 200ms;
        const ToolResult result = VarnoTest::await(ToolRunner::run(request), 20s);
        QCOMPARE(result.status, ToolResult::Status::TimedOut);
    }

    // A run that goes away while its tool runs leaves the GUI thread at once:
    // the tool gets SIGTERM, and SIGKILL only after its grace, in the
    // background, and so does whatever it started.
    void destroyedRunEndsItsToolWithoutWaiting()
    {
        VarnoTest::FakeTools tools;
        const QString pids = tools.filePath(QStringLiteral("pids"));
        const QString ready = tools.filePath(QStringLiteral("ready"));
        const QString script = QStringLiteral("trap '' TERM\n"
                                              "sleep 30 &\n"
                                              "echo \"$$ $!\" > '%1'\n"
                                              "echo ready > '%2'\n"
                                              "wait\n")
                                   .arg(pids, ready);
        ToolRequest request = requestFor(tools.write(QStringLiteral("stubborn"), script.toUtf8()), 60s);
        request.killGrace = 300ms;
        const VarnoTest::ReadySignal readySignal(ready);
        auto run = std::make_unique<ToolRun>(request);
        run->start();
        QVERIFY(readySignal.wait());
        const QList<qint64> started = VarnoTest::readPids(pids);
        QCOMPARE(started.size(), 2);

        run.reset();
        // Still running: nothing waited for it to end.
        QVERIFY(VarnoTest::processIsAlive(started.at(0)));
        // Its grace over, the whole group is killed and reaped.
        QVERIFY(VarnoTest::waitUntil(
            [&] { return !VarnoTest::processIsAlive(started.at(0)) && !VarnoTest::processIsAlive(started.at(1)); }, 10s));
    }

    // Both pipes are drained while the tool runs: a tool that fills standard
    // error before it writes standard output does not stall.
    void largeOutputOnBothStreams()
    {
        VarnoTest::FakeTools tools;
        const QString tool = tools.write(QStringLiteral("flood"),
                                         "head -c 1000000 /dev/zero | tr '\\0' e >&2\n"
                                         "head -c 3000000 /dev/zero | tr '\\0' o\n"
                                         "echo end >&2\n");
        for (const bool blocking : {false, true}) {
            const ToolResult result = blocking ? ToolRunner::runBlocking(requestFor(tool, 20s))
                                               : VarnoTest::await(ToolRunner::run(requestFor(tool, 20s)));
            QVERIFY(result.succeeded());
            QCOMPARE(result.standardOutput.size(), 3000000);
            QCOMPARE(result.standardError.size(), 1000004);
            QVERIFY(result.standardError.endsWith("eend\n"));
            QVERIFY(!result.standardOutputTruncated);
        }
    }

    void outputIsCappedButStillDrained()
    {
        VarnoTest::FakeTools tools;
        ToolRequest request = requestFor(tools.write(QStringLiteral("flood"),
                                                     "head -c 2000000 /dev/zero | tr '\\0' o\n"
                                                     "head -c 500000 /dev/zero | tr '\\0' e >&2\nexit 4\n"));
        request.outputCap = 1000;
        const ToolResult result = VarnoTest::await(ToolRunner::run(request));
        QCOMPARE(result.status, ToolResult::Status::Exited);
        QCOMPARE(result.exitCode, 4);
        QCOMPARE(result.standardOutput, QByteArray(1000, 'o'));
        QCOMPARE(result.standardError, QByteArray(1000, 'e'));
        QVERIFY(result.standardOutputTruncated);
        QVERIFY(result.standardErrorTruncated);
    }

    void discardedOutputIsNotCaptured()
    {
        VarnoTest::FakeTools tools;
        ToolRequest request = requestFor(tools.write(QStringLiteral("tool"), "echo out\necho err >&2\n"));
        request.captureStandardOutput = false;
        const ToolResult result = VarnoTest::await(ToolRunner::run(request));
        QVERIFY(result.succeeded());
        QVERIFY(result.standardOutput.isEmpty());
        QCOMPARE(result.standardError, QByteArray("err\n"));
    }

    void runsFromWorkerThreads()
    {
        VarnoTest::FakeTools tools;
        const ToolRequest request = requestFor(tools.write(QStringLiteral("tool"), "echo \"$$\"\n"));
        QList<QFuture<ToolResult>> futures;
        for (int i = 0; i < 6; ++i)
            futures.append(QtConcurrent::run([request] { return ToolRunner::runBlocking(request); }));
        QSet<QByteArray> pids;
        for (auto &future : futures) {
            const ToolResult result = future.result();
            QVERIFY(result.succeeded());
            pids.insert(result.standardOutput);
        }
        QCOMPARE(pids.size(), 6);
    }

    void utf8Decoding_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("cut");
        QTest::addColumn<std::optional<QString>>("expected");

        QTest::newRow("plain") << QByteArray("caf\xc3\xa9") << false << std::optional(QStringLiteral("caf\u00e9"));
        QTest::newRow("invalid in the middle") << QByteArray("a\xff b") << false << std::optional<QString>();
        QTest::newRow("invalid even when cut") << QByteArray("a\xff b") << true << std::optional<QString>();
        QTest::newRow("cut inside a character")
            << QByteArray("ok \xe2\x9c") << true << std::optional(QStringLiteral("ok "));
        QTest::newRow("the same not cut is invalid") << QByteArray("ok \xe2\x9c") << false << std::optional<QString>();
        QTest::newRow("cut after a whole character")
            << QByteArray("ok \xe2\x9c\x93") << true << std::optional(QStringLiteral("ok \u2713"));
        QTest::newRow("empty") << QByteArray() << true << std::optional(QString());
    }

    void utf8Decoding()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, cut);
        QFETCH(std::optional<QString>, expected);
        QCOMPARE(decodeUtf8Strict(bytes, cut), expected);
    }

    void toolPathsReplaceAndRestore()
    {
        VarnoTest::FakeTools tools;
        const QString fake = tools.write(QStringLiteral("nvram"), "echo fake nvram\n");
        const QString documented = QStringLiteral("/usr/sbin/nvram");
        {
            ToolPaths::Scoped outer(documented, fake);
            QCOMPARE(ToolPaths::resolve(documented), fake);
            {
                ToolPaths::Scoped inner(documented, QStringLiteral("/elsewhere"));
                QCOMPARE(ToolPaths::resolve(documented), QStringLiteral("/elsewhere"));
            }
            QCOMPARE(ToolPaths::resolve(documented), fake);
            const ToolResult result = VarnoTest::await(ToolRunner::run(requestFor(documented)));
            QCOMPARE(result.standardOutput, QByteArray("fake nvram\n"));
        }
        QCOMPARE(ToolPaths::resolve(documented), documented);
    }

    void secondsToTimeOut_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<qint64>("ms");
        QTest::newRow("two") << 2.0 << qint64(2000);
        QTest::newRow("fraction") << 0.25 << qint64(250);
        QTest::newRow("negative") << -1.0 << qint64(0);
        QTest::newRow("not a number") << std::nan("") << qint64(0);
    }

    void secondsToTimeOut()
    {
        QFETCH(double, seconds);
        QFETCH(qint64, ms);
        QCOMPARE(ToolRunner::fromSeconds(seconds).count(), ms);
    }
};

VARNO_TEST_CLASS(TestToolRunner)
#include "tst_toolrunner.moc"
