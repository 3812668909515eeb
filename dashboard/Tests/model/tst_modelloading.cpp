#include "ModelFixture.h"
#include "TestRegistry.h"

#include "engine/VARNOProcess.h"
#include "platform/PlainText.h"
#include "platform/ToolRunner.h"
#include "platform/VarnoPaths.h"

#include <sys/stat.h>

#include <QFileSystemWatcher>
#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;

namespace {

QCoro::Task<MacOSUpdateStatus> brokenSoftwareUpdate(std::atomic<int> *calls)
{
    ++*calls;
    throw std::runtime_error("softwareupdate broke");
    co_return MacOSUpdateStatus::upToDate();
}

} // namespace

class TestModelLoading : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void scanLoadsTheLibraryGhostsAndHistory()
    {
        ModelFixture f;
        QVERIFY(f.ready);
        const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
        VarnoTest::await(f.model->scan());
        QVERIFY2(!f.model->error(), qPrintable(f.model->error().value_or(QString())));
        QCOMPARE(f.model->apps().size(), 25);
        QVERIFY(f.model->hasEverScanned());
        QVERIFY(f.model->lastScanDate() && *f.model->lastScanDate() >= before);
        QVERIFY(!f.model->isScanning());
        QCOMPARE(f.model->ghostApps().size(), 2);
        QCOMPARE(f.model->incidents().value(QStringLiteral("org.sim.netherby")).code, QStringLiteral("NETWORK_TIMEOUT"));

        // The probes ran once after the load; a second load within their
        // intervals starts none.
        QVERIFY(VarnoTest::waitUntil(
            [&] { return !f.model->isCheckingMechanismHealth() && !f.model->isCheckingOpenCore(); }));
        QCOMPARE(f.fakes.openCoreCalls.load(), 1);
        QCOMPARE(f.fakes.brewCalls.load(), 1);
        QCOMPARE(f.fakes.softwareUpdateCalls.load(), 1);
        QVERIFY(f.model->brewHealth().isHealthy());
        QCOMPARE(f.model->masHealth().detail(), QStringLiteral("mas not found"));
        QCOMPARE(f.model->macOSUpdateStatus(), MacOSUpdateStatus::upToDate());
        VarnoTest::await(f.model->load());
        QVERIFY(VarnoTest::waitUntil([&] { return !f.model->isEnrichingSeals(); }));
        QCOMPARE(f.fakes.openCoreCalls.load(), 1);
        QCOMPARE(f.fakes.brewCalls.load(), 1);
        QCOMPARE(f.fakes.softwareUpdateCalls.load(), 1);
    }

    void firstLoadPicksUpABackgroundScan()
    {
        ModelFixture f;
        QVERIFY(f.ready);
        QVERIFY(f.scanDirectly());
        QVERIFY(!f.model->hasEverScanned());
        VarnoTest::await(f.model->load());
        QCOMPARE(f.model->apps().size(), 25);
        // The last-scan time follows when sqlite3 has answered.
        QVERIFY(VarnoTest::waitUntil([&] { return !f.model->isReadingScanHistory(); }));
        QVERIFY(f.model->hasEverScanned());
        QVERIFY(f.model->lastScanDate());
        QVERIFY(qAbs(f.model->lastScanDate()->secsTo(QDateTime::currentDateTimeUtc())) < 120);
    }

    void failedLoadKeepsTheLibraryAndSucceedingClearsTheError()
    {
        ModelFixture f;
        QVERIFY(f.ready);
        VarnoTest::await(f.model->scan());
        QCOMPARE(f.model->apps().size(), 25);
        QVERIFY(f.setKnobs(
            "{\"rules\":[{\"command\":\"list\",\"times\":1,\"exit\":1,\"stderr\":\"the database is locked\"}]}"));
        VarnoTest::await(f.model->load());
        QCOMPARE(f.model->error().value_or(QString()),
                 QStringLiteral("Something went wrong running VARNO. the database is locked (exit 1)"));
        QCOMPARE(f.model->apps().size(), 25);
        VarnoTest::await(f.model->load());
        QVERIFY(!f.model->error());
    }

    void undecodableListIsAnError()
    {
        ModelFixture f;
        QVERIFY(f.ready);
        QVERIFY(f.scanDirectly());
        QVERIFY(f.setKnobs("{\"rules\":[{\"command\":\"list\",\"stdout_mode\":\"wrong_type:app_name\"}]}"));
        VarnoTest::await(f.model->load());
        QVERIFY(f.model->error());
        QVERIFY(f.model->apps().isEmpty());
    }

    void failedScanShowsTheErrorWithoutReload()
    {
        ModelFixture f;
        QVERIFY(f.ready);
        QVERIFY(f.setKnobs("{\"rules\":[{\"command\":\"scan\",\"exit\":2,\"stderr\":\"disk went away\"}]}"));
        VarnoTest::await(f.model->scan());
        QCOMPARE(f.model->error().value_or(QString()),
                 QStringLiteral("Something went wrong running VARNO. disk went away (exit 2)"));
        QVERIFY(!f.model->isScanning());
        QVERIFY(!f.model->lastScanDate());
        QVERIFY(f.model->apps().isEmpty());
    }

    void scanWhileBusyDoesNothing()
    {
        ModelFixture f;
        QVERIFY(f.ready);
        QVERIFY(f.setKnobs("{\"rules\":[{\"command\":\"scan\",\"delay\":1.0}]}"));
        auto first = f.model->scan();
        QVERIFY(f.model->isScanning());
        QSignalSpy errors(f.model.get(), &AppModel::errorChanged);
        VarnoTest::await(f.model->scan()); // returns at once
        QVERIFY(f.model->isScanning());
        VarnoTest::await(std::move(first));
        QVERIFY(!f.model->isScanning());
        QCOMPARE(errors.count(), 0);
        const QByteArray journal = VarnoTest::runEngine({QStringLiteral("sim"), QStringLiteral("journal")}).standardOutput;
        QCOMPARE(journal.count("\"scan\"]"), 1);
    }

    void overlappingLoadsKeepTheNewestResult()
    {
        // A fake engine: the first list answers late with the old library,
        // the second at once with the new one.
        VarnoTest::TempHome home;
        VARNOProcess::resetCachedValuesForTesting();
        VARNOProcess::setPython3OverrideForTesting(QStringLiteral("/bin/sh"));
        const QString counter = home.filePath(QStringLiteral("calls"));
        QVERIFY(VarnoTest::writeFile(VarnoPaths::engineScript(),
                                     "n=$(cat '" + counter.toUtf8()
                                         + "' 2>/dev/null || echo 0); n=$((n+1)); echo $n > '" + counter.toUtf8()
                                         + "'\n"
                                           "if [ $n -eq 1 ]; then sleep 1; echo '[{\"bundle_id\":\"old\",\"app_name\":\"Old\"}]';\n"
                                           "else echo '[{\"bundle_id\":\"new\",\"app_name\":\"New\"}]'; fi\n"));
        FakeModelServices fakes;
        AppModel model(fakes.services());
        auto slow = model.load();
        QTest::qWait(200);
        VarnoTest::await(model.load());
        QCOMPARE(model.apps().first().bundle_id, QStringLiteral("new"));
        VarnoTest::await(std::move(slow));
        QCOMPARE(model.apps().size(), 1);
        QCOMPARE(model.apps().first().bundle_id, QStringLiteral("new"));
        VARNOProcess::setPython3OverrideForTesting(std::nullopt);
    }

    void aProbeThatThrowsRunsAgain_data()
    {
        QTest::addColumn<int>("probe");
        QTest::newRow("OpenCore") << 0;
        QTest::newRow("Homebrew and mas") << 1;
        QTest::newRow("Software Update") << 2;
    }

    void aProbeThatThrowsRunsAgain()
    {
        QFETCH(int, probe);
        VarnoTest::TempHome home;
        FakeModelServices fakes;
        std::atomic<int> calls{0};
        AppModelServices services = fakes.services();
        if (probe == 0)
            services.detectOpenCore = [&calls](double) -> bool {
                ++calls;
                throw std::runtime_error("nvram broke");
            };
        else if (probe == 1)
            services.checkBrew = [&calls](double) -> MechanismHealth {
                ++calls;
                throw std::runtime_error("brew broke");
            };
        else
            services.checkSoftwareUpdate = [&calls](double) { return brokenSoftwareUpdate(&calls); };
        AppModel model(services);
        const auto checking = [&] {
            return probe == 0 ? model.isCheckingOpenCore()
                : probe == 1  ? model.isCheckingMechanismHealth()
                              : model.isCheckingMacOSUpdate();
        };
        const auto refresh = [&] {
            if (probe == 0)
                model.refreshOpenCoreStatusIfNeeded(false);
            else if (probe == 1)
                model.refreshMechanismHealthIfNeeded(false);
            else
                model.refreshMacOSUpdateStatusIfNeeded(false);
        };
        refresh();
        QVERIFY(VarnoTest::waitUntil([&] { return !checking(); }));
        QCOMPARE(calls.load(), 1);
        // Nothing was learnt, so the next refresh asks again.
        refresh();
        QVERIFY(VarnoTest::waitUntil([&] { return !checking(); }));
        QCOMPARE(calls.load(), 2);
        QVERIFY(!model.lastOpenCoreCheck() && !model.lastMechanismHealthCheck() && !model.lastMacOSUpdateCheck());
        QVERIFY(!model.isOpenCore());
        QCOMPARE(model.macOSUpdateStatus(), MacOSUpdateStatus::unavailable());
    }

    void loadDoesNotWaitForTheLastScanTime()
    {
        // sqlite3 answers only when the test lets it.
        ModelFixture f;
        QVERIFY(f.ready);
        QVERIFY(f.scanDirectly());
        const QString fifo = f.home.filePath(QStringLiteral("sqlite-gate"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        VarnoTest::FakeTools tools;
        const QString sqlite = tools.write(QStringLiteral("sqlite3"),
                                           "read go < '" + fifo.toUtf8() + "'\nexec /usr/bin/sqlite3 \"$@\"\n");
        ToolPaths::Scoped scoped(QStringLiteral("/usr/bin/sqlite3"), sqlite);

        VarnoTest::await(f.model->load());
        QCOMPARE(f.model->apps().size(), 25);
        QVERIFY(f.model->isReadingScanHistory());
        QVERIFY(!f.model->hasEverScanned());
        QVERIFY(!f.model->lastScanDate());

        QFile gate(fifo);
        QVERIFY(gate.open(QIODevice::WriteOnly));
        gate.write("go\n");
        gate.close();
        QVERIFY(VarnoTest::waitUntil([&] { return !f.model->isReadingScanHistory(); }));
        QVERIFY(f.model->hasEverScanned());
        QVERIFY(f.model->lastScanDate());
    }

    void aNewerFailureKeepsAnOlderSuccess_data()
    {
        QTest::addColumn<bool>("olderSucceeds");
        QTest::newRow("older success answers after a newer failure") << true;
        QTest::newRow("older failure answers after a newer success") << false;
    }

    void aNewerFailureKeepsAnOlderSuccess()
    {
        // A shell engine: the first list to arrive waits for the test, the
        // second answers at once; one of them fails.
        QFETCH(bool, olderSucceeds);
        VarnoTest::TempHome home;
        VARNOProcess::resetCachedValuesForTesting();
        VarnoTest::ShellInterpreter shell;
        const QString gateDir = home.mkpath(QStringLiteral("gate"));
        const QString fifo = gateDir + QStringLiteral("/fifo");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QByteArray success = "echo '[{\"bundle_id\":\"listed\",\"app_name\":\"Listed\"}]'";
        const QByteArray failure = "echo 'the database is locked' >&2; exit 1";
        QVERIFY(VarnoTest::writeFile(VarnoPaths::engineScript(),
                                     "if mkdir '" + gateDir.toUtf8() + "/first' 2>/dev/null; then read go < '"
                                         + fifo.toUtf8() + "'; " + (olderSucceeds ? success : failure) + "; else "
                                         + (olderSucceeds ? failure : success) + "; fi\n"));
        FakeModelServices fakes;
        AppModel model(fakes.services());
        QFileSystemWatcher watcher({gateDir});
        QSignalSpy arrived(&watcher, &QFileSystemWatcher::directoryChanged);
        auto older = model.load();
        QVERIFY(arrived.wait(30000));
        VarnoTest::await(model.load());
        const QString lockedText = QStringLiteral("Something went wrong running VARNO. the database is locked (exit 1)");
        if (olderSucceeds) {
            QCOMPARE(model.error().value_or(QString()), lockedText);
            QVERIFY(model.apps().isEmpty());
        } else {
            QVERIFY(!model.error());
            QCOMPARE(model.apps().size(), 1);
        }
        QFile gate(fifo);
        QVERIFY(gate.open(QIODevice::WriteOnly));
        gate.write("go\n");
        gate.close();
        VarnoTest::await(std::move(older));
        // Either way the library is the one list that arrived, and no stale
        // error stays.
        QCOMPARE(model.apps().size(), 1);
        QCOMPARE(model.apps().first().bundle_id, QStringLiteral("listed"));
        QVERIFY(!model.error());
        QVERIFY(VarnoTest::waitUntil([&] { return !model.isEnrichingSeals() && !model.isReadingScanHistory(); }));
    }

    void aFloodedFailureIsShownBoundedAndLoggedWhole()
    {
        // 10 MiB of stderr: the model's error is a few lines, cut with a
        // marker; the log has the whole text.
        VarnoTest::TempHome home;
        VARNOProcess::setPython3OverrideForTesting(QStringLiteral("/bin/sh"));
        QVERIFY(VarnoTest::writeFile(VarnoPaths::engineScript(),
                                     "head -c 10485760 /dev/zero | tr '\\0' 'e' >&2\nexit 2\n"));
        FakeModelServices fakes;
        AppModel model(fakes.services());
        VarnoTest::LogCapture log;
        VarnoTest::await(model.load());
        VARNOProcess::setPython3OverrideForTesting(std::nullopt);
        QVERIFY(model.error());
        QVERIFY(model.error()->startsWith(QStringLiteral("Something went wrong running VARNO. eee")));
        QVERIFY(model.error()->endsWith(QStringLiteral("e\u2026")));
        QCOMPARE(model.error()->size(), PlainText::displayCharacters + 1);
        // A text that long is written to the log from the pool.
        QVERIFY(VarnoTest::waitUntil([&log] {
            for (const QString &message : log.messages()) {
                if (message.startsWith(QStringLiteral("error (shown cut): ")) && message.size() > 10485760)
                    return true;
            }
            return false;
        }));
    }

    void ghostsAreReadAndDismissed()
    {
        ModelFixture f;
        QVERIFY(f.ready);
        VarnoTest::await(f.model->scan());
        const QString ghosts = VarnoPaths::appSupportDir() + QStringLiteral("/ghosts.json");
        QVERIFY(QFile::exists(ghosts));
        QCOMPARE(f.model->ghostApps().size(), 2);
        f.model->dismissGhosts();
        QVERIFY(f.model->ghostApps().isEmpty());
        QVERIFY(!QFile::exists(ghosts));
        f.model->dismissGhosts(); // a missing file is fine
    }

    void parsesTheLastScanTime_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("expected");
        const QDateTime base(QDate(2026, 12, 1), QTime(9, 30, 15), Qt::UTC);
        QTest::newRow("Z") << QStringLiteral("2026-12-01T09:30:15Z") << base;
        QTest::newRow("fraction") << QStringLiteral("2026-12-01T09:30:15.250Z") << base.addMSecs(250);
        QTest::newRow("long fraction") << QStringLiteral("2026-12-01T09:30:15.123456+00:00") << base.addMSecs(123);
        QTest::newRow("offset") << QStringLiteral("2026-12-01T11:30:15+02:00") << base;
        QTest::newRow("negative offset") << QStringLiteral("2026-12-01T04:00:15-05:30") << base;
        QTest::newRow("blank for T") << QStringLiteral("2026-12-01 09:30:15Z") << QDateTime();
        QTest::newRow("no zone") << QStringLiteral("2026-12-01T09:30:15") << QDateTime();
        QTest::newRow("bad month") << QStringLiteral("2026-13-01T09:30:15Z") << QDateTime();
        QTest::newRow("bad offset") << QStringLiteral("2026-12-01T09:30:15+25:00") << QDateTime();
        QTest::newRow("empty") << QString() << QDateTime();
        QTest::newRow("words") << QStringLiteral("yesterday") << QDateTime();
    }

    void parsesTheLastScanTime()
    {
        QFETCH(QString, text);
        QFETCH(QDateTime, expected);
        const auto parsed = AppModel::parseLastScan(text);
        if (!expected.isValid()) {
            QVERIFY(!parsed);
        } else {
            QVERIFY(parsed);
            QCOMPARE(*parsed, expected);
        }
    }

    void storedScanTimeWithoutFractionIsRead()
    {
        VarnoTest::TempHome home;
        const QString db = VarnoPaths::appSupportDir() + QStringLiteral("/varno.db");
        QDir().mkpath(VarnoPaths::appSupportDir());
        QProcess sqlite;
        sqlite.start(QStringLiteral("/usr/bin/sqlite3"),
                     {db,
                      QStringLiteral("CREATE TABLE scan_metadata(key TEXT, value TEXT);"
                                     "INSERT INTO scan_metadata VALUES('last_scan','2026-11-30T08:00:00Z');")});
        QVERIFY(sqlite.waitForFinished(10000));
        const auto date = VarnoTest::await(AppModel::readLastScanDateFromMetadata());
        QVERIFY(date);
        QCOMPARE(*date, QDateTime(QDate(2026, 11, 30), QTime(8, 0), Qt::UTC));

        // A damaged database gives nothing, quietly.
        QVERIFY(VarnoTest::writeFile(db, "not a database"));
        QVERIFY(!VarnoTest::await(AppModel::readLastScanDateFromMetadata()));
    }

    void scanPrunesSettledFinalStates()
    {
        ModelFixture f;
        QVERIFY(f.ready);
        VarnoTest::await(f.model->scan());
        const AppRecord quarry = *f.app(QStringLiteral("org.sim.quarry"));
        const AppRecord saltmarsh = *f.app(QStringLiteral("org.sim.saltmarsh"));
        QVERIFY(f.setKnobs(
            "{\"rules\":[{\"command\":\"update --only\",\"times\":1,\"exit\":1,\"stderr\":\"no network\"}]}"));
        VarnoTest::await(f.model->update(quarry));
        QCOMPARE(f.model->updateState(quarry.bundle_id).kind(), UpdateState::Kind::failed);
        VarnoTest::await(f.model->update(saltmarsh));
        QCOMPARE(f.model->updateState(saltmarsh.bundle_id), UpdateState::done());
        VarnoTest::await(f.model->scan());
        // Saltmarsh is current now: its final state goes. Quarry is still
        // outdated: its failure stays.
        QVERIFY(!f.model->updateProgress().contains(saltmarsh.bundle_id));
        QCOMPARE(f.model->updateState(quarry.bundle_id).kind(), UpdateState::Kind::failed);
    }
};

VARNO_TEST_CLASS(TestModelLoading)

#include "tst_modelloading.moc"
