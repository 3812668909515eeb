#include "TestRegistry.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScopeGuard>
#include <QTest>

#include <csignal>

using namespace std::chrono_literals;

namespace {

// The live processes that run the engine installed in the home (their
// command line names <home>/.varno/varno.py).
QList<qint64> enginesOf(const QString &home)
{
    const QByteArray script = QFile::encodeName(home + QStringLiteral("/.varno/varno.py"));
    QList<qint64> pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok)
            continue;
        QFile cmdline(QStringLiteral("/proc/") + entry + QStringLiteral("/cmdline"));
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().split('\0').contains(script)
            && VarnoTest::processIsAlive(pid))
            pids.append(pid);
    }
    return pids;
}

} // namespace

// The app asked to end by a signal, as when the session ends.
class TestQuitSignals : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aSignalToEndQuitsTheAppAndEndsItsEngine_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }

    void aSignalToEndQuitsTheAppAndEndsItsEngine()
    {
        QFETCH(int, signal);
        VarnoTest::TempHome home;
        QProcess app;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // Every engine command hangs and ignores SIGTERM: only the quit path
        // ends it.
        environment.insert(QStringLiteral("VARNO_SIM_KNOBS"),
                           QStringLiteral(R"({"rules": [{"command": "", "hang": true, "on_sigterm": "ignore"}]})"));
        app.setProcessEnvironment(environment);
        app.setProcessChannelMode(QProcess::MergedChannels);
        app.start(VarnoTest::stagedBundlePath() + QStringLiteral("/Contents/MacOS/VARNO"), {});
        QVERIFY(app.waitForStarted(30000));
        const auto leftovers = qScopeGuard([&app, &home] {
            if (app.state() != QProcess::NotRunning) {
                app.kill();
                app.waitForFinished();
            }
            VarnoTest::killProcesses(enginesOf(home.path()));
        });
        // The app has set up its engine and runs its first command.
        QVERIFY(VarnoTest::waitUntil([&home] { return !enginesOf(home.path()).isEmpty(); }, 120s));
        const QList<qint64> engines = enginesOf(home.path());

        ::kill(pid_t(app.processId()), signal);
        QVERIFY(app.waitForFinished(60000));
        // Nothing of the engine is left running, and the app has quit, not died.
        QVERIFY(VarnoTest::waitUntil(
            [&home, &engines] {
                for (const qint64 pid : engines) {
                    if (VarnoTest::processIsAlive(pid))
                        return false;
                }
                return enginesOf(home.path()).isEmpty();
            },
            10s));
        const QByteArray output = app.readAll();
        QVERIFY2(app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0, output.constData());
        // The bootstrap, whose step the quit ended, gave up before the app
        // tore down (and with it the lock the bootstrap still held).
        QVERIFY2(!output.contains("destroying locked mutex"), output.constData());
    }
};

VARNO_TEST_CLASS(TestQuitSignals)
#include "tst_quit.moc"
