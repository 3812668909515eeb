#include "EngineTestSupport.h"
#include "TestRegistry.h"
#include "TestSupport.h"

#include "base/Async.h"
#include "engine/VARNOProcess.h"
#include "platform/VarnoPaths.h"
#include "records/RemediationRegistry.h"
#include "records/VendorUpdaters.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QTest>
#include <QThread>

#include <functional>

using Call = std::function<QString()>;
Q_DECLARE_METATYPE(Call)

namespace {

// A fake engine that records its arguments (NUL-separated) and prints what
// the test put into ~/stdout.bin.
const QByteArray kRecordingEngine = "printf '%s\\0' \"$@\" > \"$HOME/argv.bin\"\n"
                                    "if [ -f \"$HOME/stdout.bin\" ]; then cat \"$HOME/stdout.bin\"; fi\n"
                                    "exit \"$(cat \"$HOME/exit.txt\" 2>/dev/null || echo 0)\"\n";

QStringList recordedArguments()
{
    const QByteArray bytes = VarnoTest::readFile(VarnoPaths::inHome(QStringLiteral("argv.bin")));
    QStringList arguments;
    if (bytes.isEmpty())
        return arguments;
    const QList<QByteArray> parts = bytes.left(bytes.size() - 1).split('\0');
    for (const QByteArray &part : parts)
        arguments.append(QString::fromUtf8(part));
    return arguments;
}

QStringList framed(const QStringList &arguments)
{
    return QStringList{QStringLiteral("--engine-contract-version"), QStringLiteral("1")} + arguments;
}

QString names(const QList<AppRecord> &records)
{
    QStringList ids;
    for (const AppRecord &record : records)
        ids.append(record.bundle_id);
    return QStringLiteral("%1 records: %2").arg(records.size()).arg(ids.join(QLatin1Char(',')));
}

// Awaits a task of no value and says "ok".
QString done(QCoro::Task<void> task)
{
    VarnoTest::await(std::move(task));
    return QStringLiteral("ok");
}

QString invalidJSONTextOf(const Call &call)
{
    try {
        call();
    } catch (const VARNOError &error) {
        if (error.kind() == VARNOError::Kind::invalidJSON)
            return QStringLiteral("invalidJSON:") + error.text();
        return QStringLiteral("other VARNOError");
    }
    return QStringLiteral("no error");
}

} // namespace

// Every command operation against a tiny recording engine.
class TestEngineCommands : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<VarnoTest::TempHome>();
        m_shell = std::make_unique<EngineTest::ShellInterpreter>();
        EngineTest::installScript(kRecordingEngine);
    }
    void cleanup()
    {
        m_shell.reset();
        m_home.reset();
    }

    void argumentsAndResults_data()
    {
        QTest::addColumn<Call>("call");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("result");
        const QString id = QStringLiteral("org.sim.tallybook");
        const QByteArray two = "[{\"bundle_id\":\"a\",\"app_name\":\"A\"},{\"bundle_id\":\"b\",\"app_name\":\"B\"}]";

        QTest::newRow("listApps, all") << Call([] { return names(VarnoTest::await(VARNOProcess::listApps(false))); })
                                       << two << QStringList{"list", "--json", "--all"} << "2 records: a,b";
        QTest::newRow("listApps, empty array")
            << Call([] { return names(VarnoTest::await(VARNOProcess::listApps())); }) << QByteArray("[]\n")
            << QStringList{"list", "--json", "--all"} << "0 records: ";
        QTest::newRow("listApps, outdated only")
            << Call([] { return names(VarnoTest::await(VARNOProcess::listApps(true))); }) << QByteArray("[]")
            << QStringList{"list", "--json"} << "0 records: ";
        QTest::newRow("trustSeal") << Call([id] {
            const TrustSealRecord seal = VarnoTest::await(VARNOProcess::trustSeal(id));
            return QStringLiteral("%1 %2").arg(seal.green_seal).arg(seal.verified_path);
        }) << QByteArray("{\"green_seal\":true,\"verified_path\":false}")
                                   << QStringList{"seal", "--bundle-id", id, "--json"} << "1 0";
        QTest::newRow("setUpdateMode ignores output")
            << Call([id] { return done(VARNOProcess::setUpdateMode(id, QStringLiteral("ask"))); })
            << QByteArray("Mode set.\n") << QStringList{"mode", id, "ask"} << "ok";
        QTest::newRow("setUpdateOnQuit") << Call([id] { return done(VARNOProcess::setUpdateOnQuit(id)); })
                                         << QByteArray() << QStringList{"mode", id, "--on-quit"} << "ok";
        QTest::newRow("reinstall") << Call([id] { return done(VARNOProcess::reinstall(id)); }) << QByteArray()
                                   << QStringList{"reinstall", "--bundle-id", id} << "ok";
        QTest::newRow("fix returns the text")
            << Call([id] { return VarnoTest::await(VARNOProcess::fix(id)); })
            << QByteArray("Cleared NETWORK_TIMEOUT \xE2\x80\x94 retried.\n") << QStringList{"fix", id}
            << QStringLiteral("Cleared NETWORK_TIMEOUT \u2014 retried.\n");
        QTest::newRow("fix that prints nothing") << Call([id] { return VarnoTest::await(VARNOProcess::fix(id)); })
                                                 << QByteArray() << QStringList{"fix", id} << QString();
        QTest::newRow("fix that prints invalid UTF-8") << Call([id] { return VarnoTest::await(VARNOProcess::fix(id)); })
                                                       << QByteArray("ok \xFF") << QStringList{"fix", id} << QString();
        QTest::newRow("updateApproved") << Call([id] { return done(VARNOProcess::updateApproved(id)); }) << QByteArray()
                                        << QStringList{"update", "--only", id, "--approved"} << "ok";
        QTest::newRow("adopt dry run without a cask") << Call([] {
            return QString::fromUtf8(
                VarnoTest::await(VARNOProcess::adoptDryRunJSON(QStringLiteral("Handmade Paint"), QString())));
        }) << QByteArray("{\"match_found\":false}") << QStringList{"adopt", "--dry-run", "--json", "Handmade Paint"}
                                                      << "{\"match_found\":false}";
        QTest::newRow("adopt dry run with a cask")
            << Call([] {
                   return QString::fromUtf8(VarnoTest::await(
                       VARNOProcess::adoptDryRunJSON(QStringLiteral("Roughcut"), QStringLiteral("roughcut"))));
               })
            << QByteArray("not even JSON")
            << QStringList{"adopt", "--dry-run", "--json", "Roughcut", "--cask", "roughcut"} << "not even JSON";
        QTest::newRow("adopt approved, all options") << Call([] {
            return done(VARNOProcess::adoptApproved(QStringLiteral("Roughcut"), QStringLiteral("roughcut"), true));
        }) << QByteArray() << QStringList{"adopt", "--approved", "Roughcut", "--cask", "roughcut", "--allow-unsigned"}
                                                     << "ok";
        QTest::newRow("adopt approved, bare")
            << Call([] { return done(VARNOProcess::adoptApproved(QStringLiteral("Roughcut"), std::nullopt, false)); })
            << QByteArray() << QStringList{"adopt", "--approved", "Roughcut"} << "ok";
        QTest::newRow("uninstall") << Call([id] { return done(VARNOProcess::uninstall(id)); }) << QByteArray()
                                   << QStringList{"remove", "--bundle-id", id, "--yes"} << "ok";
        QTest::newRow("provenance of everything")
            << Call([] { return QString::number(VarnoTest::await(VARNOProcess::provenance()).size()); })
            << QByteArray("[{\"bundle_id\":\"a\"},{\"bundle_id\":\"b\"}]") << QStringList{"provenance", "--json"} << "2";
        QTest::newRow("provenance with an empty id")
            << Call([] { return QString::number(VarnoTest::await(VARNOProcess::provenance(QString())).size()); })
            << QByteArray("[]") << QStringList{"provenance", "--json", "--bundle-id", ""} << "0";
        QTest::newRow("provenance of one app")
            << Call([id] { return VarnoTest::await(VARNOProcess::provenance(id)).value(0).id(); })
            << QByteArray("[{\"bundle_id\":\"org.sim.tallybook\",\"timestamp\":\"2026-01-01T00:00:00Z\"}]")
            << QStringList{"provenance", "--json", "--bundle-id", id} << "org.sim.tallybook-2026-01-01T00:00:00Z";
        QTest::newRow("backupStatus") << Call([id] {
            const BackupRecord backup = VarnoTest::await(VARNOProcess::backupStatus(id));
            return QStringLiteral("%1 %2").arg(backup.available).arg(backup.reason.value_or(QStringLiteral("-")));
        }) << QByteArray("{\"available\":false,\"reason\":\"running\"}")
                                      << QStringList{"backup", "--bundle-id", id, "--json"} << "0 running";
        QTest::newRow("restore") << Call([id] { return done(VARNOProcess::restore(id)); }) << QByteArray()
                                 << QStringList{"restore", "--bundle-id", id} << "ok";
        QTest::newRow("diagnoseBundle returns its path")
            << Call([] {
                   return VarnoTest::await(VARNOProcess::diagnoseBundle(QStringLiteral("/logs/support-bundle-x.json")));
               })
            << QByteArray("Wrote /somewhere/else.json\n")
            << QStringList{"diagnose", "--bundle", "--out", "/logs/support-bundle-x.json"}
            << "/logs/support-bundle-x.json";
    }

    void argumentsAndResults()
    {
        QFETCH(Call, call);
        QFETCH(QByteArray, output);
        QFETCH(QStringList, arguments);
        QFETCH(QString, result);
        QVERIFY(VarnoTest::writeFile(VarnoPaths::inHome(QStringLiteral("stdout.bin")), output));
        QCOMPARE(call(), result);
        QCOMPARE(recordedArguments(), framed(arguments));
    }

    void undecodableOutputIsInvalidJSON_data()
    {
        QTest::addColumn<Call>("call");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QString>("text");
        const Call list([] { return names(VarnoTest::await(VARNOProcess::listApps())); });
        const Call seal([] { return QString::number(VarnoTest::await(VARNOProcess::trustSeal("a")).green_seal); });
        const Call history([] { return QString::number(VarnoTest::await(VARNOProcess::provenance()).size()); });
        const Call backup([] { return QString::number(VarnoTest::await(VARNOProcess::backupStatus("a")).available); });

        QTest::newRow("a progress line before the list")
            << list << QByteArray("Scanning\xE2\x80\xA6\n[]\n") << QStringLiteral("Scanning\u2026\n[]\n");
        QTest::newRow("only the first 200 bytes") << list << QByteArray(300, 'x') << QString(200, QLatin1Char('x'));
        QTest::newRow("a cut inside a character keeps what came before")
            << list << QByteArray(199, 'y') + "\xC3\xA9 more" << QString(199, QLatin1Char('y'));
        QTest::newRow("invalid bytes show as replacement characters")
            << list << QByteArray("\xFF[]\xC3") << QStringLiteral("\uFFFD[]\uFFFD");
        QTest::newRow("invalid bytes and a cut inside a character")
            << list << QByteArray("\xFE") + QByteArray(198, 'y') + "\xC3\xA9"
            << QStringLiteral("\uFFFD") + QString(198, QLatin1Char('y'));
        QTest::newRow("one bad record fails the list")
            << list << QByteArray("[{\"bundle_id\":\"a\",\"app_name\":\"A\"},{\"bundle_id\":\"b\"}]")
            << QStringLiteral("[{\"bundle_id\":\"a\",\"app_name\":\"A\"},{\"bundle_id\":\"b\"}]");
        QTest::newRow("empty output") << list << QByteArray() << QString();
        QTest::newRow("seal without verified_path")
            << seal << QByteArray("{\"green_seal\":true}") << QStringLiteral("{\"green_seal\":true}");
        QTest::newRow("provenance entry without a bundle id") << history << QByteArray("[{}]") << QStringLiteral("[{}]");
        QTest::newRow("backup as an array") << backup << QByteArray("[]") << QStringLiteral("[]");
    }

    void undecodableOutputIsInvalidJSON()
    {
        QFETCH(Call, call);
        QFETCH(QByteArray, output);
        QFETCH(QString, text);
        QVERIFY(VarnoTest::writeFile(VarnoPaths::inHome(QStringLiteral("stdout.bin")), output));
        QCOMPARE(invalidJSONTextOf(call), QStringLiteral("invalidJSON:") + text);
    }

    void answersAreDecodedOffTheGuiThread_data()
    {
        QTest::addColumn<Call>("call");
        QTest::addColumn<QString>("work");
        QTest::newRow("library list") << Call([] { return names(VarnoTest::await(VARNOProcess::listApps())); })
                                      << QStringLiteral("decode list");
        QTest::newRow("provenance") << Call([] {
            return QString::number(VarnoTest::await(VARNOProcess::provenance()).size());
        }) << QStringLiteral("decode provenance");
    }

    void answersAreDecodedOffTheGuiThread()
    {
        QFETCH(Call, call);
        QFETCH(QString, work);
        QVERIFY(VarnoTest::writeFile(VarnoPaths::inHome(QStringLiteral("stdout.bin")), "[]"));
        QStringList onGuiThread;
        QStringList elsewhere;
        QMutex mutex;
        QThread *const gui = QThread::currentThread();
        Async::setObserverForTesting([&](const char *what) {
            QMutexLocker lock(&mutex);
            (QThread::currentThread() == gui ? onGuiThread : elsewhere).append(QString::fromLatin1(what));
        });
        const QString result = call();
        Async::setObserverForTesting({});
        QVERIFY(result.startsWith(QLatin1String("0")));
        QCOMPARE(elsewhere, QStringList{work});
        QVERIFY(onGuiThread.isEmpty());
    }

    void failedRunIsPassedOnUnchanged()
    {
        QVERIFY(VarnoTest::writeFile(VarnoPaths::inHome(QStringLiteral("stdout.bin")), "[]"));
        QVERIFY(VarnoTest::writeFile(VarnoPaths::inHome(QStringLiteral("exit.txt")), "3\n"));
        try {
            VarnoTest::await(VARNOProcess::listApps());
            QFAIL("the list should have failed");
        } catch (const VARNOError &error) {
            QCOMPARE(error.kind(), VARNOError::Kind::processFailure);
            QCOMPARE(error.code(), 3);
        }
    }

    void optionLikeValuesNeverReachTheEngine_data()
    {
        QTest::addColumn<Call>("call");
        QTest::addColumn<QString>("value");
        QTest::newRow("bundle id") << Call([] { return done(VARNOProcess::restore(QStringLiteral("--all"))); })
                                   << QStringLiteral("--all");
        QTest::newRow("seal") << Call([] {
            return QString::number(VarnoTest::await(VARNOProcess::trustSeal("-x")).green_seal);
        }) << QStringLiteral("-x");
        QTest::newRow("fix") << Call([] { return VarnoTest::await(VARNOProcess::fix(QStringLiteral("-h"))); })
                             << QStringLiteral("-h");
        QTest::newRow("provenance") << Call([] {
            return QString::number(VarnoTest::await(VARNOProcess::provenance(QStringLiteral("-q"))).size());
        }) << QStringLiteral("-q");
        QTest::newRow("app name") << Call([] {
            return done(VARNOProcess::adoptApproved(QStringLiteral("--undo"), std::nullopt, false));
        }) << QStringLiteral("--undo");
        QTest::newRow("cask token") << Call([] {
            return QString::fromUtf8(
                VarnoTest::await(VARNOProcess::adoptDryRunJSON(QStringLiteral("Roughcut"), QStringLiteral("-c"))));
        }) << QStringLiteral("-c");
        QTest::newRow("update mode") << Call([] {
            return done(VARNOProcess::setUpdateMode(QStringLiteral("a"), QStringLiteral("--on-quit")));
        }) << QStringLiteral("--on-quit");
    }

    void optionLikeValuesNeverReachTheEngine()
    {
        QFETCH(Call, call);
        QFETCH(QString, value);
        try {
            call();
            QFAIL("the value should have been refused");
        } catch (const EngineArgumentError &error) {
            QCOMPARE(error.value(), value);
        }
        QVERIFY(!QFileInfo::exists(VarnoPaths::inHome(QStringLiteral("argv.bin"))));
    }

private:
    std::unique_ptr<VarnoTest::TempHome> m_home;
    std::unique_ptr<EngineTest::ShellInterpreter> m_shell;
};

// The command operations against the engine stand-in that ships with the app.
class TestEngineCommandsWithStandIn : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_home = std::make_unique<VarnoTest::TempHome>();
        if (!EngineTest::installStagedEngine())
            QSKIP("no engine is staged in this build");
        qputenv("VARNO_SIM_SPEED", "0");
        VARNOProcess::resetCachedValuesForTesting();
        VarnoTest::await(VARNOProcess::run({QStringLiteral("migrate")}, 60));
        VarnoTest::await(VARNOProcess::run({QStringLiteral("scan")}, 120));
    }
    void cleanupTestCase()
    {
        qunsetenv("VARNO_SIM_SPEED");
        VARNOProcess::resetCachedValuesForTesting();
        m_home.reset();
    }

    void libraryDecodes()
    {
        const QList<AppRecord> apps = VarnoTest::await(VARNOProcess::listApps());
        QVERIFY(apps.size() >= 10);
        QHash<QString, AppRecord> byId;
        for (const AppRecord &app : apps)
            byId.insert(app.bundle_id, app);
        QVERIFY(byId.contains(QStringLiteral("org.sim.inkwell")));
        QVERIFY(byId.value(QStringLiteral("org.sim.tallybook")).isOutdated());
        QCOMPARE(byId.value(QStringLiteral("org.sim.oldtimer")).statusColor(), AppStatusColor::muted);
        QCOMPARE(byId.value(QStringLiteral("org.sim.bastion")).statusColor(), AppStatusColor::atRisk);
        QCOMPARE(byId.value(QStringLiteral("org.sim.quillpad")).statusColor(), AppStatusColor::unchecked);
    }

    // The app's registries know every incident code and vendor updater the
    // engine reports for its library.
    void registriesCoverTheLibrary()
    {
        const QList<AppRecord> apps = VarnoTest::await(VARNOProcess::listApps());
        int codes = 0;
        int vendors = 0;
        for (const AppRecord &app : apps) {
            if (app.last_incident_code && !app.last_incident_code->isEmpty()) {
                ++codes;
                QVERIFY2(RemediationRegistry::shared().remediations.contains(*app.last_incident_code),
                         qPrintable(*app.last_incident_code));
            }
            if (app.vendor_updater_name && !app.vendor_updater_name->trimmed().isEmpty()) {
                ++vendors;
                QVERIFY2(VendorUpdaters::shared().displayName(app.vendor_updater_name->trimmed()),
                         qPrintable(*app.vendor_updater_name));
            }
        }
        QVERIFY(codes > 0);
        QVERIFY(vendors > 0);
    }

    void sealProvenanceAndBackup()
    {
        const QString inkwell = QStringLiteral("org.sim.inkwell");
        const TrustSealRecord seal = VarnoTest::await(VARNOProcess::trustSeal(inkwell));
        QVERIFY(seal.verified_path);
        QVERIFY(!VarnoTest::await(VARNOProcess::provenance(inkwell)).isEmpty());
        QVERIFY(VarnoTest::await(VARNOProcess::backupStatus(inkwell)).available);
    }

    void adoptPreviewIsRawJSON()
    {
        const QByteArray preview = VarnoTest::await(VARNOProcess::adoptDryRunJSON(QStringLiteral("Handmade Paint")));
        const QJsonDocument document = QJsonDocument::fromJson(preview);
        QVERIFY(document.isObject());
        QVERIFY(document.object().value(QStringLiteral("match_found")).isBool());
    }

    void diagnoseWritesTheBundle()
    {
        const QString out = VarnoPaths::logsDir() + QStringLiteral("/support-bundle-20260101T000000Z.json");
        QCOMPARE(VarnoTest::await(VARNOProcess::diagnoseBundle(out)), out);
        QVERIFY(QFileInfo::exists(out));
    }

    void unknownAppFails()
    {
        try {
            VarnoTest::await(VARNOProcess::trustSeal(QStringLiteral("org.sim.nowhere")));
            QFAIL("an unknown app should fail");
        } catch (const VARNOError &error) {
            QCOMPARE(error.kind(), VARNOError::Kind::processFailure);
            QVERIFY(error.code() != 0);
        }
    }

private:
    std::unique_ptr<VarnoTest::TempHome> m_home;
};

VARNO_TEST_CLASS(TestEngineCommands)
VARNO_TEST_CLASS(TestEngineCommandsWithStandIn)

#include "tst_commands.moc"
