#include "SettingsOpsSupport.h"
#include "TestRegistry.h"
#include "TestSupport.h"

#include "engine/EngineSettingsCommands.h"
#include "engine/VARNOError.h"
#include "engine/WorkbenchSaver.h"
#include "records/RecordCodingError.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

template<typename Error, typename T>
std::optional<Error> failureOf(QCoro::Task<T> task)
{
    try {
        VarnoTest::await(std::move(task));
    } catch (const Error &error) {
        return error;
    }
    return std::nullopt;
}

QStringList words(const char *text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '));
}

} // namespace

// The settings commands against the engine stand-in: what they send, what
// they read back, and how bad output fails.
class TestSettingsOperations : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<VarnoTest::TempHome>();
        QVERIFY(SettingsOpsTest::installStagedEngine());
    }

    void cleanup() { m_home.reset(); }

    void argumentVectors()
    {
        QCOMPARE(EngineSettingsCommands::developerSetStateArguments(), words("dev set"));
        QCOMPARE(EngineSettingsCommands::developerInspectArguments(), words("dev inspect --json"));
        QCOMPARE(EngineSettingsCommands::developerUpdatePlanArguments(), words("dev plan-updates --json"));
        QCOMPARE(EngineSettingsCommands::retentionStatusArguments(), words("retention status --json"));
        QCOMPARE(EngineSettingsCommands::retentionSetArguments(words("--keep 3 --days 30")),
                 words("retention set --keep 3 --days 30 --json"));
        QCOMPARE(EngineSettingsCommands::retentionConsentArguments(true), words("retention consent --grant --json"));
        QCOMPARE(EngineSettingsCommands::retentionConsentArguments(false), words("retention consent --revoke --json"));
        QCOMPARE(EngineSettingsCommands::telemetryStatusArguments(), words("telemetry status"));
    }

    void retentionRoundTrip()
    {
        const RetentionStatus initial = VarnoTest::await(EngineSettingsCommands::retentionStatus());
        QCOMPARE(initial.policy, RetentionPolicy());

        const RetentionStatus set = VarnoTest::await(EngineSettingsCommands::retentionSet(words("--keep 3 --days 45")));
        QCOMPARE(set.policy.keepPerApp, 3);
        QCOMPARE(set.policy.retentionDays, 45);

        const RetentionStatus granted = VarnoTest::await(EngineSettingsCommands::retentionConsent(true));
        QVERIFY(granted.consent.granted);
        QVERIFY(granted.consent.asked);
        const RetentionStatus revoked = VarnoTest::await(EngineSettingsCommands::retentionConsent(false));
        QVERIFY(!revoked.consent.granted);

        const RetentionStatus reread = VarnoTest::await(EngineSettingsCommands::retentionStatus());
        QCOMPARE(reread.policy.keepPerApp, 3);
        QCOMPARE(reread.policy.retentionDays, 45);
        QCOMPARE(reread, revoked);

        const QList<QStringList> journal = SettingsOpsTest::journal();
        QVERIFY(journal.contains(words("retention set --keep 3 --days 45 --json")));
        QVERIFY(journal.contains(words("retention consent --grant --json")));
        QVERIFY(journal.contains(words("retention consent --revoke --json")));
    }

    // retention status wraps bad output as the engine's invalid-output error
    // (its first 200 bytes); set and consent pass the decoder's error on.
    void retentionWithBadOutput()
    {
        const QString junk = QString(250, QLatin1Char('x'));
        SettingsOpsTest::setKnob("{\"command\":\"retention\",\"stdout\":\"" + junk.toLatin1() + "\"}");

        const auto status = failureOf<VARNOError>(EngineSettingsCommands::retentionStatus());
        QVERIFY(status);
        QCOMPARE(status->kind(), VARNOError::Kind::invalidJSON);
        QCOMPARE(status->text(), junk.left(200));

        const auto set = failureOf<RecordDecodingError>(EngineSettingsCommands::retentionSet(words("--keep 2 --days 30")));
        QVERIFY(set);
        QCOMPARE(set->kind(), RecordDecodingError::Kind::dataCorrupted);
        const auto consent = failureOf<RecordDecodingError>(EngineSettingsCommands::retentionConsent(true));
        QVERIFY(consent);
    }

    void retentionWithWrongType()
    {
        SettingsOpsTest::setKnob(
            "{\"command\":\"retention set\",\"stdout\":\"{\\\"policy\\\":{\\\"keep_per_app\\\":\\\"3\\\"}}\"}");
        const auto set = failureOf<RecordDecodingError>(EngineSettingsCommands::retentionSet(words("--keep 3 --days 30")));
        QVERIFY(set);
        QCOMPARE(set->codingPath(), QStringLiteral("policy.keep_per_app"));
        QCOMPARE(set->errorDescription(),
                 QStringLiteral("The data couldn’t be read because it isn’t in the correct format."));
        // What a caller that only knows std::exception shows.
        QCOMPARE(localizedDescription(*set), set->errorDescription());
    }

    // A failing engine reaches the caller unchanged.
    void engineFailurePassesOn()
    {
        SettingsOpsTest::setKnob("{\"command\":\"retention\",\"exit\":2,\"stderr\":\"no retention here\"}");
        const auto failure = failureOf<VARNOError>(EngineSettingsCommands::retentionSet(words("--keep 2 --days 30")));
        QVERIFY(failure);
        QCOMPARE(failure->kind(), VARNOError::Kind::processFailure);
        QCOMPARE(failure->code(), 2);
        QVERIFY(failure->stderrText().contains(QStringLiteral("no retention here")));
    }

    void telemetryRoundTrip()
    {
        QCOMPARE(VarnoTest::await(EngineSettingsCommands::telemetryStatus()), false);
        SettingsOpsTest::runEngine(words("telemetry opt-in"));
        QCOMPARE(VarnoTest::await(EngineSettingsCommands::telemetryStatus()), true);
        SettingsOpsTest::runEngine(words("telemetry opt-out"));
        QCOMPARE(VarnoTest::await(EngineSettingsCommands::telemetryStatus()), false);
    }

    // Without a readable opt-in line the operation fails with the first 120
    // characters of the output (characters, not bytes).
    void telemetryWithoutAnswer()
    {
        QString line = QStringLiteral("Telemetry opt-in: YES ");
        while (line.size() < 150)
            line += QStringLiteral("é");
        SettingsOpsTest::setKnob("{\"command\":\"telemetry status\",\"telemetry_line\":\"" + line.toUtf8() + "\"}");
        const auto failure = failureOf<VARNOError>(EngineSettingsCommands::telemetryStatus());
        QVERIFY(failure);
        QCOMPARE(failure->kind(), VARNOError::Kind::invalidJSON);
        QCOMPARE(failure->text(), line.left(120));
    }

    void parseTelemetry_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<bool>>("expected");

        QTest::newRow("yes") << QStringLiteral("Telemetry opt-in: yes\n") << std::optional(true);
        QTest::newRow("no with blanks around") << QStringLiteral("  Telemetry opt-in: no \t\n") << std::optional(false);
        QTest::newRow("upper-case YES") << QStringLiteral("Telemetry opt-in: YES") << std::optional<bool>();
        QTest::newRow("second line") << QStringLiteral("Engine 1.0\nTelemetry opt-in: yes") << std::optional(true);
        QTest::newRow("first answer wins")
            << QStringLiteral("Telemetry opt-in: no\nTelemetry opt-in: yes") << std::optional(false);
        QTest::newRow("unanswered line skipped")
            << QStringLiteral("Telemetry opt-in: maybe\r\nTelemetry opt-in: yes") << std::optional(true);
        QTest::newRow("line separator") << QStringLiteral("x\u2028Telemetry opt-in: yes\u2029y") << std::optional(true);
        QTest::newRow("next line and form feed")
            << QStringLiteral("a\u0085b\fTelemetry opt-in: no\vc") << std::optional(false);
        QTest::newRow("carriage return only") << QStringLiteral("a\rTelemetry opt-in: yes") << std::optional(true);
        QTest::newRow("prefix must start the line")
            << QStringLiteral("Note: Telemetry opt-in: yes") << std::optional<bool>();
        QTest::newRow("prefix is case-sensitive") << QStringLiteral("telemetry opt-in: yes") << std::optional<bool>();
        QTest::newRow("empty") << QString() << std::optional<bool>();
    }

    void parseTelemetry()
    {
        QFETCH(QString, text);
        QFETCH(std::optional<bool>, expected);
        QCOMPARE(EngineSettingsCommands::parseTelemetryStatus(text), expected);
    }

    // dev set sends the state on standard input; the engine stores it where
    // the store reads it.
    void developerStateRoundTrip()
    {
        DeveloperWorkbenchState state;
        state.workbenchEnabled = true;
        state.npmEnabled = true;
        state.updatePolicy = QStringLiteral("ask_before_updating");
        state.projectFolders = {m_home->mkpath(QStringLiteral("proj/b")), m_home->mkpath(QStringLiteral("proj/a"))};
        VarnoTest::await(EngineSettingsCommands::developerSetState(state));
        QCOMPARE(DeveloperWorkbenchStateStore::load(), state);
        QVERIFY(SettingsOpsTest::journal().contains(words("dev set")));

        const DeveloperReport inspect = VarnoTest::await(EngineSettingsCommands::developerInspect());
        QVERIFY(!inspect.summary.isEmpty());
        const DeveloperReport plan = VarnoTest::await(EngineSettingsCommands::developerUpdatePlan());
        QVERIFY(!plan.summary.isEmpty());
    }

    void developerReportWithBadOutput()
    {
        SettingsOpsTest::setKnob("{\"command\":\"dev inspect\",\"stdout\":\"{\\\"kind\\\":\\\"inspect\\\"}\"}");
        const auto failure = failureOf<VARNOError>(EngineSettingsCommands::developerInspect());
        QVERIFY(failure);
        QCOMPARE(failure->kind(), VARNOError::Kind::invalidJSON);
        QCOMPARE(failure->text(), QStringLiteral("{\"kind\":\"inspect\"}"));
    }

    // A state that JSON cannot carry starts no engine at all.
    void unencodableStateStartsNothing()
    {
        DeveloperWorkbenchState state;
        state.projectFolders = {QString(QChar(0xDC00))};
        QVERIFY(failureOf<RecordEncodingError>(EngineSettingsCommands::developerSetState(state)));
        QVERIFY(!SettingsOpsTest::journal().contains(words("dev set")));
    }

    // The saver's default handler sends the normal form.
    void saverStoresTheNormalForm()
    {
        WorkbenchSaver saver;
        QStringList failures;
        saver.setOnFailure([&failures](const QString &message) { failures.append(message); });
        DeveloperWorkbenchState state;
        state.pythonEnabled = true;
        state.updatePolicy = QStringLiteral("Ask");
        state.projectFolders = {QStringLiteral("/z"), QString(), QStringLiteral("/y"), QStringLiteral("/z")};
        saver.requestSave(state);
        VarnoTest::await(saver.flush());
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));
        QCOMPARE(DeveloperWorkbenchStateStore::load(), state.normalized());
        QCOMPARE(saver.lastSaved(), std::optional(state.normalized()));
    }

    void saverReportsAFailingEngine()
    {
        SettingsOpsTest::setKnob("{\"command\":\"dev set\",\"exit\":1,\"stderr\":\"settings are locked\"}");
        WorkbenchSaver saver;
        QStringList failures;
        saver.setOnFailure([&failures](const QString &message) { failures.append(message); });
        DeveloperWorkbenchState state;
        state.npmEnabled = true;
        saver.requestSave(state);
        VarnoTest::await(saver.flush());
        QCOMPARE(failures.size(), 1);
        QVERIFY2(failures.first().startsWith(QStringLiteral("Couldn't save Developer Workbench settings: ")),
                 qPrintable(failures.first()));
        QVERIFY2(failures.first().contains(QStringLiteral("settings are locked")), qPrintable(failures.first()));
        QCOMPARE(saver.lastSaved(), std::nullopt);
        QVERIFY(!QFileInfo::exists(DeveloperWorkbenchStateStore::filePath()));
    }

private:
    std::unique_ptr<VarnoTest::TempHome> m_home;
};

VARNO_TEST_CLASS(TestSettingsOperations)
#include "tst_settingsops.moc"
