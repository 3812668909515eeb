#include "TestRegistry.h"
#include "TestSupport.h"

#include "records/AdoptFlow.h"
#include "records/AppRecord.h"
#include "records/ShellQuoting.h"

#include <QProcess>
#include <QTest>

Q_DECLARE_METATYPE(AdoptFlow::ConfirmAvailability)

namespace {

using Availability = AdoptFlow::ConfirmAvailability;

AdoptFlow::Preview matchWith(std::optional<bool> signatureOk, std::optional<bool> alreadyManaged, bool matchFound = true)
{
    AdoptFlow::Preview preview;
    preview.match_found = matchFound;
    preview.signature_ok = signatureOk;
    preview.already_managed = alreadyManaged;
    return preview;
}

const std::optional<QString> none;
std::optional<QString> text(const char *value)
{
    return QString::fromUtf8(value);
}

} // namespace

class TestAdoptFlow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void previewDecodes()
    {
        const auto preview = AdoptFlow::Preview::decode(
            "{\"match_found\":true,\"reason\":null,\"cask_token\":\"acme-notes\",\"app_name\":\"Acme Notes\","
            "\"bundle_id\":\"com.acme.notes\",\"confidence\":\"high\",\"current_version\":\"2.0\","
            "\"cask_version\":\"1.9\",\"install_path\":\"/Applications/Acme Notes.app\","
            "\"code_signature\":\"Developer ID\",\"signature_ok\":true,\"already_managed\":false,"
            "\"version_downgrade\":true,\"extra\":[1]}");
        QVERIFY(preview);
        QVERIFY(preview->match_found);
        QCOMPARE(preview->reason, none);
        QCOMPARE(preview->cask_token, text("acme-notes"));
        QCOMPARE(preview->app_name, text("Acme Notes"));
        QCOMPARE(preview->bundle_id, text("com.acme.notes"));
        QCOMPARE(preview->confidence, text("high"));
        QCOMPARE(preview->current_version, text("2.0"));
        QCOMPARE(preview->cask_version, text("1.9"));
        QCOMPARE(preview->install_path, text("/Applications/Acme Notes.app"));
        QCOMPARE(preview->code_signature, text("Developer ID"));
        QCOMPARE(preview->signature_ok, std::optional(true));
        QCOMPARE(preview->already_managed, std::optional(false));
        QCOMPARE(preview->version_downgrade, std::optional(true));
    }

    void previewRejects_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("no match_found") << QByteArray("{\"cask_token\":\"x\"}");
        QTest::newRow("null match_found") << QByteArray("{\"match_found\":null}");
        QTest::newRow("match_found as number") << QByteArray("{\"match_found\":1}");
        QTest::newRow("signature_ok as number") << QByteArray("{\"match_found\":true,\"signature_ok\":1}");
        QTest::newRow("token as number") << QByteArray("{\"match_found\":true,\"cask_token\":7}");
        QTest::newRow("top level array") << QByteArray("[{\"match_found\":true}]");
        QTest::newRow("not JSON") << QByteArray("No cask found.");
    }

    void previewRejects()
    {
        QFETCH(QByteArray, json);
        QCOMPARE(AdoptFlow::Preview::decode(json), std::nullopt);
    }

    void availability_data()
    {
        QTest::addColumn<bool>("matchFound");
        QTest::addColumn<std::optional<bool>>("signatureOk");
        QTest::addColumn<std::optional<bool>>("alreadyManaged");
        QTest::addColumn<bool>("setting");
        QTest::addColumn<Availability>("expected");

        const std::optional<bool> absent;
        QTest::newRow("no match, whatever else") << false << std::optional(true) << absent << true << Availability::none;
        QTest::newRow("already managed, verified")
            << true << std::optional(true) << std::optional(true) << true << Availability::none;
        QTest::newRow("verified, setting off") << true << std::optional(true) << absent << false << Availability::allowed;
        QTest::newRow("verified, setting on")
            << true << std::optional(true) << std::optional(false) << true << Availability::allowed;
        QTest::newRow("unverified, setting on")
            << true << std::optional(false) << absent << true << Availability::unsignedOverride;
        QTest::newRow("signature absent, setting on")
            << true << absent << absent << true << Availability::unsignedOverride;
        QTest::newRow("signature absent, setting off") << true << absent << absent << false << Availability::refused;
        QTest::newRow("unverified, setting off")
            << true << std::optional(false) << std::optional(false) << false << Availability::refused;
    }

    void availability()
    {
        QFETCH(bool, matchFound);
        QFETCH(std::optional<bool>, signatureOk);
        QFETCH(std::optional<bool>, alreadyManaged);
        QFETCH(bool, setting);
        QFETCH(Availability, expected);
        QCOMPARE(AdoptFlow::confirmAvailability(matchWith(signatureOk, alreadyManaged, matchFound), setting), expected);
    }

    void consentBody()
    {
        QCOMPARE(AdoptFlow::consentBody(QStringLiteral("Acme \"Pro\" Notes")),
                 QStringLiteral("Homebrew will take ownership of your existing Acme \"Pro\" Notes so Brusk can keep it "
                                "updated. Your app and its data aren't replaced, and this is reversible with "
                                "`varno adopt --undo`."));
    }

    void downgradeWarning_data()
    {
        QTest::addColumn<std::optional<bool>>("downgrade");
        QTest::addColumn<std::optional<QString>>("caskVersion");
        QTest::addColumn<std::optional<QString>>("currentVersion");
        QTest::addColumn<std::optional<QString>>("expected");

        QTest::newRow("both versions") << std::optional(true) << text("1.9") << text("2.0")
                                       << text("The Homebrew Cask version (1.9) is older than what's installed (2.0).");
        QTest::newRow("both absent") << std::optional(true) << none << none
                                     << text("The Homebrew Cask version (the cask version) is older than what's "
                                             "installed (the installed version).");
        QTest::newRow("empty versions stay empty")
            << std::optional(true) << text("") << text("")
            << text("The Homebrew Cask version () is older than what's installed ().");
        QTest::newRow("no downgrade") << std::optional(false) << text("1.9") << text("2.0") << none;
        QTest::newRow("downgrade absent") << std::optional<bool>() << text("1.9") << text("2.0") << none;
    }

    void downgradeWarning()
    {
        QFETCH(std::optional<bool>, downgrade);
        QFETCH(std::optional<QString>, caskVersion);
        QFETCH(std::optional<QString>, currentVersion);
        QFETCH(std::optional<QString>, expected);
        AdoptFlow::Preview preview;
        preview.match_found = true;
        preview.version_downgrade = downgrade;
        preview.cask_version = caskVersion;
        preview.current_version = currentVersion;
        QCOMPARE(AdoptFlow::downgradeWarning(preview), expected);
    }

    void noMatchMessage_data()
    {
        QTest::addColumn<std::optional<QString>>("reason");
        QTest::addColumn<QString>("expected");
        QTest::newRow("engine reason") << text("No cask ships this app.") << QStringLiteral("No cask ships this app.");
        QTest::newRow("empty reason") << text("")
                                      << QStringLiteral("Brusk couldn't find a matching Homebrew Cask for Acme.");
        QTest::newRow("no reason") << none << QStringLiteral("Brusk couldn't find a matching Homebrew Cask for Acme.");
    }

    void noMatchMessage()
    {
        QFETCH(std::optional<QString>, reason);
        QFETCH(QString, expected);
        QCOMPARE(AdoptFlow::noMatchMessage(QStringLiteral("Acme"), reason), expected);
    }

    void terminalToken_data()
    {
        QTest::addColumn<std::optional<QString>>("appToken");
        QTest::addColumn<std::optional<QString>>("previewToken");
        QTest::addColumn<std::optional<QString>>("expected");
        QTest::newRow("library token first") << text("a") << text("b") << text("a");
        QTest::newRow("empty library token") << text("") << text("b") << text("b");
        QTest::newRow("absent library token") << none << text("b") << text("b");
        QTest::newRow("both empty") << text("") << text("") << none;
        QTest::newRow("both absent") << none << none << none;
    }

    void terminalToken()
    {
        QFETCH(std::optional<QString>, appToken);
        QFETCH(std::optional<QString>, previewToken);
        QFETCH(std::optional<QString>, expected);
        QCOMPARE(AdoptFlow::terminalCommandToken(appToken, previewToken), expected);
    }

    void failedText()
    {
        QCOMPARE(AdoptFlow::failedText(QStringLiteral("Acme Notes")),
                 QStringLiteral("Adopt ran, but Acme Notes still isn't showing as Homebrew-managed. Run "
                                "`varno adopt 'Acme Notes'` in Terminal for details."));
        QCOMPARE(AdoptFlow::failedText(QStringLiteral("Bob's App")),
                 QStringLiteral("Adopt ran, but Bob's App still isn't showing as Homebrew-managed. Run "
                                "`varno adopt 'Bob'\\''s App'` in Terminal for details."));
    }

    void outcomeAfterReload_data()
    {
        QTest::addColumn<QList<AppRecord>>("reloaded");
        QTest::addColumn<bool>("success");

        auto app = [](const char *bundleId, std::optional<QString> mechanism, std::optional<QString> token) {
            AppRecord record;
            record.bundle_id = QString::fromLatin1(bundleId);
            record.app_name = QStringLiteral("Acme Notes");
            record.update_mechanism = std::move(mechanism);
            record.cask_token = std::move(token);
            return record;
        };
        const auto cask = text("cask");
        QTest::newRow("managed now") << QList<AppRecord>{app("com.other", none, none),
                                                         app("com.acme.notes", cask, text("acme-notes"))}
                                     << true;
        QTest::newRow("mechanism with a capital")
            << QList<AppRecord>{app("com.acme.notes", text("Cask"), text("acme-notes"))} << false;
        QTest::newRow("empty token") << QList<AppRecord>{app("com.acme.notes", cask, text(""))} << false;
        QTest::newRow("no token") << QList<AppRecord>{app("com.acme.notes", cask, none)} << false;
        QTest::newRow("gone from the library") << QList<AppRecord>{app("com.acme.notes2", cask, text("t"))} << false;
        QTest::newRow("empty library") << QList<AppRecord>() << false;
        QTest::newRow("only the first record counts")
            << QList<AppRecord>{app("com.acme.notes", text("unknown"), none), app("com.acme.notes", cask, text("t"))}
            << false;
        QTest::newRow("first record managed")
            << QList<AppRecord>{app("com.acme.notes", cask, text("t")), app("com.acme.notes", none, none)} << true;
    }

    void outcomeAfterReload()
    {
        QFETCH(QList<AppRecord>, reloaded);
        QFETCH(bool, success);
        const AdoptOutcome outcome = AdoptFlow::outcomeAfterReload(QStringLiteral("Acme Notes"),
                                                                   QStringLiteral("com.acme.notes"), reloaded);
        QCOMPARE(outcome,
                 success ? AdoptOutcome::success()
                         : AdoptOutcome::failed(AdoptFlow::failedText(QStringLiteral("Acme Notes"))));
    }

    void outcomeTypes()
    {
        QCOMPARE(AdoptOutcome::success().kind(), AdoptOutcome::Kind::success);
        QCOMPARE(AdoptOutcome::failed(QStringLiteral("x")).text(), QStringLiteral("x"));
        QVERIFY(AdoptOutcome::failed(QStringLiteral("x")) != AdoptOutcome::refused(QStringLiteral("x")));
    }

    // Whatever the name holds, the shell reads back exactly one word: the name.
    void shellQuotingSurvivesTheShell_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << QStringLiteral("Acme");
        QTest::newRow("blanks") << QStringLiteral("Acme Notes  Pro");
        QTest::newRow("single quotes") << QStringLiteral("Bob's 'quoted' App'");
        QTest::newRow("double quote breaks out of double quotes") << QStringLiteral("x\"; touch pwned; echo \"");
        QTest::newRow("command substitution") << QStringLiteral("$(touch pwned)`touch pwned`");
        QTest::newRow("variables and globs") << QStringLiteral("$HOME * ? [a] ~");
        QTest::newRow("backslashes") << QStringLiteral("a\\'b\\\\");
        QTest::newRow("line break") << QStringLiteral("first\ntouch pwned");
        QTest::newRow("empty") << QString();
        QTest::newRow("unicode") << QStringLiteral("Café — “Notes”");
    }

    void shellQuotingSurvivesTheShell()
    {
        QFETCH(QString, name);
        VarnoTest::TempHome home;
        QProcess shell;
        shell.setWorkingDirectory(home.path());
        shell.start(QStringLiteral("/bin/sh"),
                    {QStringLiteral("-c"), QStringLiteral("printf '%s|' ") + ShellQuoting::singleQuoted(name)});
        QVERIFY(shell.waitForFinished(10000));
        QCOMPARE(shell.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(shell.readAllStandardOutput()), name + QLatin1Char('|'));
        QVERIFY(!QFile::exists(home.filePath(QStringLiteral("pwned"))));
    }
};

VARNO_TEST_CLASS(TestAdoptFlow)
#include "tst_adopt.moc"
