#include "TestRegistry.h"
#include "TestSupport.h"

#include "EngineFixture.h"

#include "base/Async.h"
#include "engine/UpdateLogWriter.h"
#include "engine/UpdateStream.h"
#include "engine/VARNOError.h"
#include "engine/VARNOProcess.h"
#include "platform/ChildProcesses.h"
#include "platform/VarnoPaths.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QScopeGuard>
#include <QSet>
#include <QTest>
#include <QThread>

#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;
using namespace EngineFixture;
using E = UpdateEvent;

namespace {

QByteArray updateLog()
{
    return VarnoTest::readFile(UpdateLogWriter::defaultPath());
}

QJsonObject recordedCall()
{
    return QJsonDocument::fromJson(VarnoTest::readFile(VarnoPaths::inHome(QStringLiteral("argv.json")))).object();
}

} // namespace

// The stream against the engine stand-in and its demo library.
class TestUpdateStreamEngine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fullRunDeliversEveryEventInOrder()
    {
        VarnoTest::TempHome home;
        installStandIn();
        const StreamRun run = runStream({});
        QVERIFY2(!run.error, run.error ? run.error->what() : "");
        QVERIFY(run.otherError.isEmpty());
        QCOMPARE(run.controllerCalls, 1);
        QCOMPARE(run.eventsBeforeController, 0);

        QVERIFY(run.events.size() >= 3);
        const auto *start = run.events.first().as<E::QueueStart>();
        QVERIFY(start);
        QVERIFY(start->apps.size() >= 2);
        QCOMPARE(start->count, start->apps.size());
        const auto *done = run.events.last().as<E::QueueDone>();
        QVERIFY(done);
        QCOMPARE(done->updated + done->failed + done->skipped, start->apps.size());

        // Every queued app starts before it is done, and is done exactly once.
        QSet<QString> started;
        QHash<QString, int> finished;
        for (const UpdateEvent &event : run.events) {
            if (const auto *s = event.as<E::AppStart>()) {
                QVERIFY2(!finished.contains(s->bundleId), qPrintable(s->bundleId));
                started.insert(s->bundleId);
            } else if (const auto *d = event.as<E::AppDone>()) {
                finished[d->bundleId] += 1;
            }
        }
        for (const auto &app : start->apps)
            QCOMPARE(finished.value(app.bundleId), 1);

        // The app that asks before updating is skipped with its incident code.
        const auto doneEvents = run.all<E::AppDone>();
        const auto pebble = std::find_if(doneEvents.cbegin(), doneEvents.cend(), [](const E::AppDone &d) {
            return d.bundleId == QLatin1String("org.sim.pebblenote");
        });
        QVERIFY(pebble != doneEvents.cend());
        QVERIFY(pebble->skipped);
        QCOMPARE(pebble->errorCode, QStringLiteral("UPDATE_MODE_ASK_HEADLESS"));
        // Event lines never reach the update log.
        QVERIFY(!updateLog().contains("\"event\""));
    }

    void onlyRunsTheNamedApps()
    {
        VarnoTest::TempHome home;
        installStandIn();
        const StreamRun run = runStream({QStringLiteral("org.sim.tallybook")});
        QVERIFY(!run.error);
        const auto starts = run.all<E::QueueStart>();
        QCOMPARE(starts.size(), 1);
        QCOMPARE(starts.first().apps.size(), 1);
        QCOMPARE(starts.first().apps.first().bundleId, QStringLiteral("org.sim.tallybook"));
        QCOMPARE(starts.first().apps.first().appName, QStringLiteral("Tallybook"));
        const auto done = run.all<E::AppDone>();
        QCOMPARE(done.size(), 1);
        QVERIFY(done.first().success);
        QCOMPARE(done.first().newVersion, QStringLiteral("1.10"));
    }

    void pauseResumeSkipAbort()
    {
        VarnoTest::TempHome home;
        installStandIn();
        setKnobs("{\"rules\": [{\"command\": \"update\", \"step_delay\": 0.15}]}");

        // Pause at the start; resume once the engine confirms; skip the first
        // app that starts after that; abort when the next one starts.
        QString skippedApp;
        QString abortedAt;
        bool resumed = false;
        const StreamRun run = runStream({}, [&](const UpdateEvent &event, UpdateQueueController &controller) {
            if (event.as<E::QueueStart>()) {
                controller.send(QStringLiteral("pause"));
            } else if (event.as<E::QueuePaused>()) {
                controller.send(QStringLiteral("resume"));
            } else if (event.as<E::QueueResumed>()) {
                resumed = true;
            } else if (const auto *start = event.as<E::AppStart>(); start && resumed) {
                if (skippedApp.isEmpty()) {
                    skippedApp = start->bundleId;
                    controller.send(QStringLiteral("skip"));
                } else if (abortedAt.isEmpty() && start->bundleId != skippedApp) {
                    abortedAt = start->bundleId;
                    controller.send(QStringLiteral("abort"));
                }
            }
        });
        QVERIFY2(!run.error, run.error ? run.error->what() : "");
        const QStringList kinds = run.kinds();
        QVERIFY(kinds.indexOf(QStringLiteral("queuePaused")) > 0);
        QVERIFY(kinds.indexOf(QStringLiteral("queueResumed")) > kinds.indexOf(QStringLiteral("queuePaused")));
        QVERIFY(!skippedApp.isEmpty());
        QVERIFY(!abortedAt.isEmpty());

        const auto done = run.all<E::AppDone>();
        const auto find = [&](const QString &id) {
            return *std::find_if(done.cbegin(), done.cend(), [&](const E::AppDone &d) { return d.bundleId == id; });
        };
        QVERIFY(find(skippedApp).skipped);
        QCOMPARE(find(skippedApp).error, QStringLiteral("Skipped at your request"));
        QVERIFY(!find(skippedApp).errorCode);
        QVERIFY(find(abortedAt).skipped);
        const auto queueDone = run.all<E::QueueDone>();
        QCOMPARE(queueDone.size(), 1);
        QCOMPARE(queueDone.first().reason, QStringLiteral("aborted"));
        QCOMPARE(done.size(), run.all<E::QueueStart>().first().apps.size());
        QVERIFY(kinds.last() == QLatin1String("queueDone"));

        // Once the run is over, a word goes nowhere and harms nothing.
        run.controller->send(QStringLiteral("pause"));
    }

    void watchdogEndsASilentEngine_data()
    {
        QTest::addColumn<QByteArray>("knobs");
        QTest::newRow("silent engine") << QByteArray("{\"rules\": [{\"command\": \"update\", \"silence\": 60}]}");
        QTest::newRow("silent engine that ignores the termination request")
            << QByteArray("{\"rules\": [{\"command\": \"update\", \"silence\": 60, \"on_sigterm\": \"ignore\"}]}");
    }

    void watchdogEndsASilentEngine()
    {
        QFETCH(QByteArray, knobs);
        VarnoTest::TempHome home;
        installStandIn();
        setKnobs(knobs);
        StreamTuning tuning(1.0);
        QElapsedTimer clock;
        clock.start();
        const StreamRun run = runStream({QStringLiteral("org.sim.tallybook")}, {}, 30s);
        QVERIFY(!run.timedOutWaiting);
        QVERIFY(clock.elapsed() < 30000);
        QVERIFY(run.error);
        QCOMPARE(run.error->kind(), VARNOError::Kind::processFailure);
        QCOMPARE(run.error->code(), -1);
        QCOMPARE(run.error->stderrText(),
                 QStringLiteral("Update queue timed out: no progress event for 1s. The installer may be hung; try "
                                "again or install manually."));
        // What came before the silence was delivered.
        QCOMPARE(run.kinds().mid(0, 2), (QStringList{QStringLiteral("queueStart"), QStringLiteral("appStart")}));
    }

    void heartbeatsKeepTheWatchdogAway()
    {
        // Phases longer than the threshold, bridged by bare line feeds. The threshold leaves a loaded machine
        // time to start the engine before its first line.
        VarnoTest::TempHome home;
        installStandIn();
        setKnobs("{\"rules\": [{\"command\": \"update\", \"step_delay\": 2.0, \"heartbeat\": 0.05}]}");
        StreamTuning tuning(1.5);
        const StreamRun run = runStream({QStringLiteral("org.sim.tallybook")});
        QVERIFY2(!run.error, run.error ? run.error->what() : "");
        QCOMPARE(run.all<E::AppDone>().size(), 1);
        QVERIFY(run.all<E::AppDone>().first().success);
        QVERIFY(!updateLog().contains("\n]")); // heartbeats are neither events nor log lines
    }

    void noiseGoesToTheLogAndNothingElse()
    {
        VarnoTest::TempHome home;
        installStandIn();
        setKnobs("{\"rules\": [{\"command\": \"update\", \"noise\": true}]}");
        const StreamRun run = runStream({QStringLiteral("org.sim.tallybook")});
        QVERIFY2(!run.error, run.error ? run.error->what() : "");
        QCOMPARE(run.kinds(),
                 (QStringList{QStringLiteral("queueStart"), QStringLiteral("appStart"), QStringLiteral("appStart"),
                              QStringLiteral("appStart"), QStringLiteral("appStart"), QStringLiteral("appDone"),
                              QStringLiteral("queueDone")}));
        const QByteArray log = updateLog();
        for (const QByteArray &line : {QByteArray("] Resolving mirrors (this line is plain text)\n"),
                                       QByteArray("] [1,2,3]\n"), QByteArray("] \"just a string\"\n"),
                                       QByteArray("] {\"event\":\"queue_warming\",\"detail\":\"unknown event\"}\n"),
                                       QByteArray("] {\"event\":\"Queue_Paused\"}\n"),
                                       QByteArray("] {\"event\":\"app_start\",\"status\":\"fetching\"}\n"),
                                       QByteArray("] {\"event\":\"app_start\",\"bundle_id\":\n"),
                                       // the unterminated last line is text even though it is an event
                                       QByteArray("] {\"event\":\"queue_resumed\"}\n"),
                                       // bytes that are not UTF-8 are logged, not dropped
                                       QByteArray(" not UTF-8 ")}) {
            QVERIFY2(log.contains(line), line.constData());
        }
        QCOMPARE(log.count("\"event\":\"app_start\",\"bundle_id\":\"org.sim"), 0);
    }

    void failingRunReportsItsTail()
    {
        VarnoTest::TempHome home;
        installStandIn();
        setKnobs("{\"rules\": [{\"command\": \"update\", \"free_text\": 250, \"then_exit\": 3}]}");
        const StreamRun run = runStream({});
        QVERIFY(run.error);
        QCOMPARE(run.error->code(), 3);
        const QStringList lines = run.error->stderrText().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 201);
        QCOMPARE(lines.first(), QStringLiteral("[\u2026 50 earlier line(s) dropped \u2026]"));
        QCOMPARE(lines.at(1), QStringLiteral("engine log line 51 of 250: resolving update sources"));
        QCOMPARE(lines.last(), QStringLiteral("engine log line 250 of 250: resolving update sources"));
        QVERIFY(run.error->errorDescription().startsWith(
            QStringLiteral("Something went wrong running VARNO. [\u2026 50 earlier line(s) dropped \u2026]\n")));
        QVERIFY(run.error->errorDescription().endsWith(QStringLiteral(" (exit 3)")));
        // All 250 lines are in the log.
        QCOMPARE(updateLog().count("engine log line "), 250);
    }
};

// The stream against tiny fake engines, for what the stand-in never does.
class TestUpdateStreamBytes : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void argumentsAndEnvironment_data()
    {
        QTest::addColumn<QStringList>("only");
        QTest::addColumn<QStringList>("argv");
        QTest::newRow("everything") << QStringList() << QStringList{QStringLiteral("update")};
        QTest::newRow("two ids") << QStringList{QStringLiteral("a"), QStringLiteral("b c")}
                                 << QStringList{QStringLiteral("update"), QStringLiteral("--only"), QStringLiteral("a"),
                                                QStringLiteral("b c")};
    }

    void argumentsAndEnvironment()
    {
        QFETCH(QStringList, only);
        QFETCH(QStringList, argv);
        VarnoTest::TempHome home;
        writeFakeEngine(recordingEngine("err(b'{\"event\":\"queue_done\"}\\n')\n"));
        const StreamRun run = runStream(only);
        QVERIFY2(!run.error, run.error ? run.error->what() : "");
        QCOMPARE(run.kinds(), QStringList{QStringLiteral("queueDone")});
        const QJsonObject call = recordedCall();
        QStringList recorded;
        for (const QJsonValue &value : call.value(QLatin1String("argv")).toArray())
            recorded.append(value.toString());
        QCOMPARE(recorded, QStringList({QStringLiteral("--engine-contract-version"), QStringLiteral("1")}) + argv);
        QCOMPARE(call.value(QLatin1String("events")).toString(), QStringLiteral("1"));
        QCOMPARE(call.value(QLatin1String("quiet")).toString(), QStringLiteral("1"));
        QCOMPARE(call.value(QLatin1String("cwd")).toString(), VarnoPaths::engineDir());
    }

    void anIdThatReadsAsAnOptionIsRefused()
    {
        VarnoTest::TempHome home;
        writeFakeEngine(recordingEngine(""));
        const StreamRun run = runStream({QStringLiteral("--all")});
        QVERIFY(!run.otherError.isEmpty());
        QCOMPARE(run.controllerCalls, 0);
        QVERIFY(!QFile::exists(VarnoPaths::inHome(QStringLiteral("argv.json"))));
    }

    void readsSplitInsideACharacter()
    {
        // Each write ends inside a multi-byte character; the engine pauses
        // between them so that they arrive as separate reads.
        VarnoTest::TempHome home;
        writeFakeEngine(recordingEngine("err(b'{\"event\":\"app_start\",\"bundle_id\":\"caf\\xc3')\n"
                                        "time.sleep(0.3)\n"
                                        "err(b'\\xa9\",\"status\":\"v\\xe2\\x80')\n"
                                        "time.sleep(0.3)\n"
                                        "err(b'\\xa6\"}\\nd\\xc3')\n"
                                        "time.sleep(0.3)\n"
                                        "err(b'\\xa9j\\xc3\\xa0 vu\\n')\n"));
        const StreamRun run = runStream({});
        QVERIFY(!run.error);
        QCOMPARE(run.events.size(), 1);
        QCOMPARE(run.events.first(), E(E::AppStart{QStringLiteral("caf\u00e9"), 0, 0, QStringLiteral("v\u2026")}));
        QVERIFY(updateLog().endsWith("] d\xC3\xA9j\xC3\xA0 vu\n"));
    }

    void overlongLineLosesItsFrontOnly()
    {
        VarnoTest::TempHome home;
        writeFakeEngine(recordingEngine("err(b'x' * 200000 + b'TAIL\\n')\n"
                                        "err(b'{\"event\":\"queue_paused\"}\\n')\n"
                                        "sys.exit(4)\n"));
        const StreamRun run = runStream({});
        QCOMPARE(run.kinds(), QStringList{QStringLiteral("queuePaused")});
        QVERIFY(run.error);
        QCOMPARE(run.error->code(), 4);
        const QString text = run.error->stderrText();
        QVERIFY(text.endsWith(QStringLiteral("xxxxTAIL")));
        QVERIFY(text.size() <= 65536);
        QVERIFY(text.size() >= 60000);
    }

    void finalLineWithoutLineFeedIsText()
    {
        VarnoTest::TempHome home;
        writeFakeEngine(recordingEngine("err(b'{\"event\":\"queue_paused\"}\\n{\"event\":\"queue_done\"}')\n"));
        const StreamRun run = runStream({});
        QVERIFY(!run.error);
        QCOMPARE(run.kinds(), QStringList{QStringLiteral("queuePaused")});
        QVERIFY(updateLog().endsWith("] {\"event\":\"queue_done\"}\n"));
    }

    void failureTexts_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("stdout only") << QByteArray("out(b'  boom  \\n')\nsys.exit(2)\n") << 2 << QStringLiteral("boom");
        QTest::newRow("nothing at all") << QByteArray("sys.exit(1)\n") << 1
                                        << QStringLiteral("Update queue exited without structured diagnostics.");
        QTest::newRow("blank stderr lines fall back to stdout")
            << QByteArray("err(b'   \\n\\t\\n')\nout(b'from stdout')\nsys.exit(5)\n") << 5
            << QStringLiteral("from stdout");
        QTest::newRow("tail lines trimmed and joined")
            << QByteArray("err(b'  first  \\n{\"event\":\"queue_paused\"}\\n\\n second\\n')\nsys.exit(6)\n") << 6
            << QStringLiteral("first\nsecond");
        // 1 MiB of stdout kept, cut inside its last character: the text stays.
        QTest::newRow("stdout cut inside a character") << QByteArray("out(b'a' + b'\\xc3\\xa9' * 600000)\nsys.exit(7)\n")
                                                       << 7 << QStringLiteral("a") + QString(524287, QChar(0xE9));
        QTest::newRow("stdout not UTF-8") << QByteArray("out(b'\\xff\\xfe')\nsys.exit(8)\n") << 8
                                          << QStringLiteral("Update queue exited without structured diagnostics.");
        QTest::newRow("killed by a signal") << QByteArray("os.kill(os.getpid(), 9)\n") << 9
                                            << QStringLiteral("Update queue exited without structured diagnostics.");
    }

    void failureTexts()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, code);
        QFETCH(QString, text);
        VarnoTest::TempHome home;
        writeFakeEngine(recordingEngine(body));
        const StreamRun run = runStream({});
        QVERIFY(run.error);
        QCOMPARE(run.error->kind(), VARNOError::Kind::processFailure);
        QCOMPARE(run.error->code(), code);
        QCOMPARE(run.error->stderrText(), text);
    }

    void aGrandchildHoldingStderrDoesNotHoldTheRun()
    {
        VarnoTest::TempHome home;
        writeFakeEngine(recordingEngine("subprocess.Popen(['sleep', '30'])\n"
                                        "err(b'{\"event\":\"queue_done\"}\\n')\n"));
        QElapsedTimer clock;
        clock.start();
        const StreamRun run = runStream({}, {}, 20s);
        QVERIFY(!run.timedOutWaiting);
        QVERIFY(!run.error);
        QCOMPARE(run.kinds(), QStringList{QStringLiteral("queueDone")});
        QVERIFY(clock.elapsed() < 20000);
    }

    void pausedQueueIsNotAHungInstaller_data()
    {
        QTest::addColumn<QByteArray>("afterResume");
        QTest::addColumn<bool>("timesOut");
        // Paused for more than twice the threshold, then on to the end.
        QTest::newRow("paused longer than the threshold") << QByteArray() << false;
        // The watchdog counts again once the queue goes on.
        QTest::newRow("silent after resuming") << QByteArray("sleep 60\n") << true;
    }

    void pausedQueueIsNotAHungInstaller()
    {
        QFETCH(QByteArray, afterResume);
        QFETCH(bool, timesOut);
        VarnoTest::TempHome home;
        // A shell engine: it starts well within the threshold even on a busy machine.
        VarnoTest::ShellInterpreter shell;
        writeFakeEngine("printf '%s\\n' '{\"event\":\"queue_start\",\"apps\":[]}' '{\"event\":\"queue_paused\"}' >&2\n"
                        "sleep 2.5\n"
                        "printf '%s\\n' '{\"event\":\"queue_resumed\"}' >&2\n"
                        + afterResume + "printf '%s\\n' '{\"event\":\"queue_done\"}' >&2\n");
        StreamTuning tuning(1.0, 50, 200);
        const StreamRun run = runStream({}, {}, 30s);
        QVERIFY(!run.timedOutWaiting);
        if (timesOut) {
            QVERIFY(run.error);
            QCOMPARE(run.error->code(), UpdateStream::timeoutExitCode);
            QCOMPARE(run.kinds(),
                     (QStringList{QStringLiteral("queueStart"), QStringLiteral("queuePaused"),
                                  QStringLiteral("queueResumed")}));
        } else {
            QVERIFY2(!run.error, run.error ? run.error->what() : "");
            QCOMPARE(run.kinds(),
                     (QStringList{QStringLiteral("queueStart"), QStringLiteral("queuePaused"),
                                  QStringLiteral("queueResumed"), QStringLiteral("queueDone")}));
        }
    }

    void logIsOpenedOffTheGuiThread()
    {
        VarnoTest::TempHome home;
        writeFakeEngine(recordingEngine("err(b'a warning\\n')\n"));
        QStringList onGuiThread;
        QStringList elsewhere;
        QMutex mutex;
        QThread *const gui = QThread::currentThread();
        Async::setObserverForTesting([&](const char *what) {
            QMutexLocker lock(&mutex);
            (QThread::currentThread() == gui ? onGuiThread : elsewhere).append(QString::fromLatin1(what));
        });
        const StreamRun run = runStream({});
        Async::setObserverForTesting({});
        QVERIFY(!run.error);
        QCOMPARE(elsewhere, QStringList{QStringLiteral("update log open")});
        QVERIFY(onGuiThread.isEmpty());
        QVERIFY(updateLog().endsWith("] a warning\n"));
    }

    void watchdogEndsTheEngineAndWhatItStarted()
    {
        // An engine that ignores SIGTERM, leaves an installer behind and goes
        // silent: both are gone when the run has ended.
        VarnoTest::TempHome home;
        VarnoTest::ShellInterpreter shell;
        writeFakeEngine("trap '' TERM\nsleep 300 &\necho \"$$ $!\" > \"$HOME/pids\"\n"
                        "printf '%s\\n' '{\"event\":\"queue_start\",\"apps\":[]}' >&2\nsleep 300\n");
        StreamTuning tuning(1.0, 50, 200);
        const StreamRun run = runStream({}, {}, 30s);
        QVERIFY(!run.timedOutWaiting);
        QVERIFY(run.error);
        QCOMPARE(run.error->code(), UpdateStream::timeoutExitCode);
        const QList<qint64> pids = VarnoTest::readPids(home.filePath(QStringLiteral("pids")));
        QCOMPARE(pids.size(), 2);
        QVERIFY(VarnoTest::waitUntil(
            [&pids] { return !VarnoTest::processIsAlive(pids.at(0)) && !VarnoTest::processIsAlive(pids.at(1)); }, 5s));
    }

    void quittingBeforeTheStartIsDeliveredEndsTheEngineAndWhatItStarted()
    {
        VarnoTest::TempHome home;
        VarnoTest::ShellInterpreter shell;
        writeFakeEngine("trap '' TERM\nsleep 300 &\necho \"$$ $!\" > \"$HOME/pids\"\n"
                        "echo ready > \"$HOME/ready\"\nsleep 300\n");
        VarnoTest::ReadySignal ready(home.filePath(QStringLiteral("ready")));
        // The stream forks the engine and waits for the event loop to deliver
        // the start. The loop is held back meanwhile: the engine starts its
        // installer and says it is ready, and the app quits before the stream
        // has heard that its engine started.
        auto stream = UpdateStream::streamUpdate({}, {}, {});
        QVERIFY(ready.waitHoldingEvents());
        const QList<qint64> pids = VarnoTest::readPids(home.filePath(QStringLiteral("pids")));
        QCOMPARE(pids.size(), 2);
        const auto leftovers = qScopeGuard([&pids] { VarnoTest::killProcesses(pids); });
        ChildProcesses::shutDown(300);
        ChildProcesses::resetForTesting();
        QVERIFY(VarnoTest::waitUntil(
            [&pids] { return !VarnoTest::processIsAlive(pids.at(0)) && !VarnoTest::processIsAlive(pids.at(1)); }, 5s));

        // (In the app the stream is never resumed; here the loop runs on.)
        std::optional<VARNOError> error;
        try {
            VarnoTest::await(std::move(stream), 30s);
        } catch (const VARNOError &e) {
            error = e;
        }
        QVERIFY(error);
        QCOMPARE(ChildProcesses::runningCount(), 0);
    }

    void controlWordsReachTheEngine()
    {
        VarnoTest::TempHome home;
        // Echoes each control word back as free text, then an event.
        writeFakeEngine(recordingEngine("err(b'{\"event\":\"queue_start\",\"apps\":[]}\\n')\n"
                                        "for line in sys.stdin:\n"
                                        "    word = line.strip()\n"
                                        "    err(('got ' + word + '\\n').encode())\n"
                                        "    if word == 'abort':\n"
                                        "        break\n"
                                        "err(b'{\"event\":\"queue_done\",\"reason\":\"aborted\"}\\n')\n"));
        const StreamRun run = runStream({}, [](const UpdateEvent &event, UpdateQueueController &controller) {
            if (event.as<E::QueueStart>()) {
                for (const char *word : {"pause", "resume", "skip", "abort"})
                    controller.send(QString::fromLatin1(word));
            }
        });
        QVERIFY(!run.error);
        QCOMPARE(run.kinds(), (QStringList{QStringLiteral("queueStart"), QStringLiteral("queueDone")}));
        const QByteArray log = updateLog();
        const qsizetype pause = log.indexOf("] got pause\n");
        const qsizetype resume = log.indexOf("] got resume\n");
        const qsizetype skip = log.indexOf("] got skip\n");
        const qsizetype abort = log.indexOf("] got abort\n");
        QVERIFY(pause >= 0 && pause < resume && resume < skip && skip < abort);
    }

    void wordsFromAnotherThreadAndAFailingHandler()
    {
        // The engine waits for "abort"; it comes from a worker thread. The
        // handler fails on the first event; the run goes on regardless.
        VarnoTest::TempHome home;
        writeFakeEngine(recordingEngine("err(b'{\"event\":\"queue_start\",\"apps\":[]}\\n')\n"
                                        "for line in sys.stdin:\n"
                                        "    if line.strip() == 'abort':\n"
                                        "        break\n"
                                        "err(b'{\"event\":\"queue_done\",\"reason\":\"aborted\"}\\n')\n"));
        std::thread sender;
        int calls = 0;
        const StreamRun run = runStream(
            {},
            [&](const UpdateEvent &event, UpdateQueueController &controller) {
                ++calls;
                if (event.as<E::QueueStart>()) {
                    sender = std::thread([&controller] { controller.send(QStringLiteral("abort")); });
                    throw std::runtime_error("a handler that fails");
                }
            },
            30s);
        if (sender.joinable())
            sender.join();
        QVERIFY(!run.timedOutWaiting);
        QVERIFY(!run.error);
        QCOMPARE(calls, 2);
        QCOMPARE(run.kinds(), (QStringList{QStringLiteral("queueStart"), QStringLiteral("queueDone")}));
    }

    void engineMissingOrUnstartable()
    {
        VarnoTest::TempHome home;
        // No engine script.
        StreamRun run = runStream({});
        QVERIFY(run.error);
        QCOMPARE(run.error->kind(), VARNOError::Kind::scriptNotFound);
        QCOMPARE(run.controllerCalls, 0);

        // An interpreter that exists but cannot be started.
        writeFakeEngine("print('never')\n");
        const QString notRunnable = home.filePath(QStringLiteral("python3"));
        QVERIFY(VarnoTest::writeFile(notRunnable, "not a program"));
        VARNOProcess::setPython3OverrideForTesting(notRunnable);
        run = runStream({});
        VARNOProcess::setPython3OverrideForTesting(std::nullopt);
        QVERIFY(!run.error);
        QVERIFY(!run.otherError.isEmpty());
        QCOMPARE(run.controllerCalls, 0);
    }

    void runGoesOnWithoutALog()
    {
        VarnoTest::TempHome home;
        // A file where the log folder belongs: no log, the run still works.
        QVERIFY(VarnoTest::writeFile(VarnoPaths::logsDir(), "in the way"));
        writeFakeEngine(recordingEngine("err(b'warning\\n{\"event\":\"queue_done\"}\\n')\nsys.exit(2)\n"));
        const StreamRun run = runStream({});
        QVERIFY(run.error);
        QCOMPARE(run.error->stderrText(), QStringLiteral("warning"));
        QCOMPARE(run.kinds(), QStringList{QStringLiteral("queueDone")});
    }
};

VARNO_TEST_CLASS(TestUpdateStreamEngine)
VARNO_TEST_CLASS(TestUpdateStreamBytes)
#include "tst_stream.moc"
