#include "TestRegistry.h"
#include "TestScopes.h"
#include "TestSupport.h"

#include "platform/ToolRunner.h"
#include "services/AppMetadata.h"
#include "services/DiagnosticsReport.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::optional<VersionStatusCounts>)

namespace {

// Runs the real sqlite3 on a database (the test's own way to make one);
// returns its error output, empty on success.
QByteArray sqlite(const QString &database, const QString &sql)
{
    ToolRequest request;
    request.program = QStringLiteral("/usr/bin/sqlite3");
    request.arguments = QStringList{database, sql};
    const ToolResult result = ToolRunner::runBlocking(request);
    return result.succeeded() ? QByteArray() : result.standardError + result.errorString.toUtf8() + " ";
}

QString realPython()
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"), {QStringLiteral("/usr/bin")});
    return python.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("python3")) : python;
}

} // namespace

class TestRunShell : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void forms_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");
        // Children that answer get a deadline no loaded machine reaches;
        // only the one that never answers meets its short one.
        QTest::addColumn<int>("deadlineMs");
        constexpr int answers = 30000;

        QTest::newRow("status 0: output") << QByteArray("echo out\necho err >&2\n") << QStringLiteral("out\n") << answers;
        QTest::newRow("status 0, no output: error output")
            << QByteArray("echo err >&2\n") << QStringLiteral("err\n") << answers;
        QTest::newRow("status 0, nothing") << QByteArray("exit 0\n") << QString() << answers;
        QTest::newRow("status 2, error output only")
            << QByteArray("echo boom >&2\nexit 2\n") << QStringLiteral("[exit 2]\nstdout: \nstderr: boom\n") << answers;
        QTest::newRow("status 1, both") << QByteArray("echo a\necho b >&2\nexit 1\n")
                                        << QStringLiteral("[exit 1]\nstdout: a\n\nstderr: b\n") << answers;
        QTest::newRow("output not UTF-8 counts as empty")
            << QByteArray("printf 'bad \\377'\necho fallback >&2\n") << QStringLiteral("fallback\n") << answers;
        // A child that fills its error pipe before it writes its output.
        QTest::newRow("error flood first")
            << QByteArray("head -c 2000000 /dev/zero >&2\necho listing\n") << QStringLiteral("listing\n") << answers;
        QTest::newRow("never answers") << QByteArray("echo partial\nexec /bin/sleep 30\n")
                                       << QStringLiteral("[timed out after 0.3 s]\nstdout: partial\n\nstderr: ") << 300;
    }

    void forms()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        QFETCH(int, deadlineMs);
        const std::chrono::milliseconds deadline(deadlineMs);
        VarnoTest::FakeTools tools;
        const QString tool = tools.write(QStringLiteral("tool"), body);
        QCOMPARE(DiagnosticsReport::runShell(tool, {}, std::nullopt, deadline), expected);
        QCOMPARE(VarnoTest::await(DiagnosticsReport::runShellAsync(tool, {}, std::nullopt, deadline)), expected);
    }

    void argumentsAndWorkingDirectory()
    {
        VarnoTest::FakeTools tools;
        const QString tool = tools.write(QStringLiteral("tool"), "printf '%s ' \"$@\"\npwd\n");
        QCOMPARE(DiagnosticsReport::runShell(tool, {QStringLiteral("list"), QStringLiteral("--json")},
                                             QStringLiteral("/")),
                 QStringLiteral("list --json /\n"));
    }

    void launchFailures()
    {
        const QString absent = DiagnosticsReport::runShell(QStringLiteral("/nonexistent/tool"), {});
        QVERIFY2(absent.startsWith(QStringLiteral("ERROR launching /nonexistent/tool: ")), qPrintable(absent));
        QVERIFY(absent.size() > QStringLiteral("ERROR launching /nonexistent/tool: ").size());
        const QString badFolder = DiagnosticsReport::runShell(QStringLiteral("/bin/true"), {},
                                                              QStringLiteral("/nonexistent/folder"));
        QVERIFY2(badFolder.startsWith(QStringLiteral("ERROR launching /bin/true: ")), qPrintable(badFolder));
    }

    void summarize_data()
    {
        QTest::addColumn<QString>("json");
        QTest::addColumn<std::optional<VersionStatusCounts>>("counts");

        QTest::newRow("empty array") << QStringLiteral("[]") << std::optional(VersionStatusCounts{});
        QTest::newRow("every status") << QStringLiteral(
            "[{\"version_check_status\":\"current\"},{\"version_check_status\":\"Outdated\"},"
            "{\"version_check_status\":\"unmeasured\"},{\"version_check_status\":\"catalog_stale\"},"
            "{\"version_check_status\":\"EXCLUDED\"},{\"version_check_status\":\"unknown\"},"
            "{\"version_check_status\":\"weird\"},{\"version_check_status\":7},{\"bundle_id\":\"x\"},"
            "{\"version_check_status\":null}]")
                                      << std::optional(VersionStatusCounts{1, 1, 1, 5, 1, 1});
        QTest::newRow("not JSON") << QStringLiteral("Traceback (most recent call last):")
                                  << std::optional<VersionStatusCounts>();
        QTest::newRow("an object") << QStringLiteral("{\"apps\":[]}") << std::optional<VersionStatusCounts>();
        QTest::newRow("an array of numbers") << QStringLiteral("[1,2]") << std::optional<VersionStatusCounts>();
        QTest::newRow("one element not an object") << QStringLiteral("[{},3]") << std::optional<VersionStatusCounts>();
    }

    void summarize()
    {
        QFETCH(QString, json);
        QFETCH(std::optional<VersionStatusCounts>, counts);
        QCOMPARE(DiagnosticsReport::summarizeVersionCheckStatuses(json), counts);
    }

    void characters_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("shorter") << QStringLiteral("abc") << 400 << QStringLiteral("abc");
        QTest::newRow("plain") << QStringLiteral("abcdef") << 3 << QStringLiteral("abc");
        QTest::newRow("combining mark stays with its letter")
            << QStringLiteral("e\u0301tude") << 1 << QStringLiteral("e\u0301");
        QTest::newRow("pair of surrogates is one") << QStringLiteral("\U0001F600x") << 1 << QStringLiteral("\U0001F600");
        QTest::newRow("zero") << QStringLiteral("abc") << 0 << QString();
    }

    void characters()
    {
        QFETCH(QString, text);
        QFETCH(int, count);
        QFETCH(QString, prefix);
        QCOMPARE(DiagnosticsReport::prefixCharacters(text, count), prefix);
    }

    void dateDescription()
    {
        QCOMPARE(DiagnosticsReport::dateDescription(QDateTime(QDate(2025, 1, 31), QTime(12, 0), Qt::UTC)),
                 QStringLiteral("2025-01-31 12:00:00 +0000"));
        QCOMPARE(DiagnosticsReport::dateDescription(QDateTime(QDate(2025, 1, 31), QTime(12, 0), Qt::OffsetFromUTC, 3600)),
                 QStringLiteral("2025-01-31 11:00:00 +0000"));
    }
};

class TestSupportReport : public QObject {
    Q_OBJECT

    std::unique_ptr<VarnoTest::TempHome> m_home;
    std::unique_ptr<VarnoTest::FakeTools> m_tools;
    std::unique_ptr<ToolPaths::Scoped> m_launchctl;
    std::unique_ptr<ToolPaths::Scoped> m_systemctl;
    DiagnosticsReport::Inputs m_inputs;

    QString database() const { return m_home->filePath(QStringLiteral("Library/Application Support/VARNO/varno.db")); }

    // The engine stand-in installed in ~/.varno, as the app's start-up does.
    void installEngine()
    {
        QVERIFY(VarnoTest::copyTree(VarnoTest::stagedBundlePath() + QStringLiteral("/Contents/Resources/cli"),
                                    m_home->filePath(QStringLiteral(".varno"))));
    }

    // Everything in the report that comes from elsewhere in the report's lines.
    QString expandGolden(QString golden) const
    {
        const QFileInfo db(database());
        golden.replace(QStringLiteral("<HOME>"), m_home->path());
        golden.replace(QStringLiteral("<BUNDLE>"), m_inputs.bundlePath);
        golden.replace(QStringLiteral("<PYTHON>"), m_inputs.python3);
        golden.replace(QStringLiteral("<SIZE>"), QString::number(db.size()));
        golden.replace(QStringLiteral("<MODIFIED>"), DiagnosticsReport::dateDescription(db.lastModified()));
        golden.replace(QStringLiteral("<CLI_VERSION>"),
                       QString::fromUtf8(VarnoTest::readFile(
                           VarnoTest::sourcePath(QStringLiteral("dashboard/Resources/cli/.cli_version")))));
        return golden;
    }

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<VarnoTest::TempHome>();
        m_tools = std::make_unique<VarnoTest::FakeTools>();
        m_launchctl = std::make_unique<ToolPaths::Scoped>(
            QStringLiteral("/bin/launchctl"),
            m_tools->write(
                QStringLiteral("launchctl"),
                "[ \"$1\" = list ] || exit 9\n"
                "printf 'PID\\tStatus\\tLabel\\n-\\t0\\torg.varno.scan\\n312\\t0\\tcom.apple.Finder\\n-\\t78\\tORG.VARNO.helper\\n'\n"));
        const QString python = realPython();
        QVERIFY(!python.isEmpty());
        // The interpreter as the report sees it: real, with a fixed version line.
        m_inputs.python3 = m_tools->write(QStringLiteral("python3"),
                                          QStringLiteral("if [ \"$1\" = --version ]; then echo 'Python 3.11.2'; exit 0; fi\n"
                                                         "exec '%1' \"$@\"\n")
                                              .arg(python)
                                              .toUtf8());
        m_inputs.home = m_home->path();
        m_inputs.bundlePath = VarnoTest::stagedBundlePath();
        m_inputs.bundleIdentifier = QStringLiteral("org.varno.workshop");
        m_inputs.version = QStringLiteral("0.9.14");
        m_inputs.build = QStringLiteral("30");
        m_inputs.path = QStringLiteral("/usr/local/bin:/usr/bin:/bin");
    }

    void cleanup()
    {
        m_launchctl.reset();
        m_systemctl.reset();
        m_tools.reset();
        m_home.reset();
    }

    void wholeReport()
    {
        installEngine();
        // The engine makes its database, then a few rows go in with sqlite3.
        QCOMPARE(DiagnosticsReport::runShell(m_inputs.python3,
                                             {m_home->filePath(QStringLiteral(".varno/varno.py")),
                                              QStringLiteral("migrate")},
                                             m_home->filePath(QStringLiteral(".varno")))
                     .contains(QStringLiteral("[exit")),
                 false);
        QCOMPARE(sqlite(database(),
                        QStringLiteral(
                            "INSERT INTO apps(bundle_id, app_name, current_version, latest_version, version_check_status, "
                            "update_mechanism) VALUES ('org.example.alpha','Alpha','1.0','1.1','outdated','cask'),"
                            "('org.example.beta','Beta','2.0','2.0','Current','mas'),('org.example.gamma','Gamma','3.0',NULL,NULL,NULL);"
                            "INSERT INTO scan_metadata(key, value) VALUES('last_scan','2026-03-04T10:00:00Z');"
                            "INSERT INTO provenance_events(bundle_id, timestamp) VALUES('org.example.alpha','2026-03-01T09:00:00Z'),"
                            "('org.example.beta','2026-03-02T09:00:00Z');")),
                 QByteArray());
        QByteArray log;
        for (int i = 1; i <= 100; ++i)
            log += "scan line " + QByteArray::number(i) + "\n";
        QVERIFY(VarnoTest::writeFile(m_home->filePath(QStringLiteral("Library/Logs/VARNO/scan.err")), log));
        QVERIFY(VarnoTest::writeFile(m_home->filePath(QStringLiteral(".varno/logs/scan.err")),
                                     "[2026-03-04 10:00] catalog feed slow\n"));
        QVERIFY(VarnoTest::writeFile(m_home->filePath(QStringLiteral("Library/LaunchAgents/org.varno.scan.plist")),
                                     "<plist/>"));

        QString scanTail;
        for (int i = 62; i <= 100; ++i)
            scanTail += QStringLiteral("scan line %1\n").arg(i);

        const QString listing = QStringLiteral(
            "[\n"
            "{\"bundle_id\": \"org.example.alpha\", \"app_name\": \"Alpha\", \"current_version\": \"1.0\", \"latest_version\": \"1.1\", "
            "\"version_check_status\": \"outdated\", \"update_mechanism\": \"cask\", \"update_mode\": \"auto\"},\n"
            "{\"bundle_id\": \"org.example.beta\", \"app_name\": \"Beta\", \"current_version\": \"2.0\", \"latest_version\": \"2.0\", "
            "\"version_check_status\": \"Current\", \"update_mechanism\": \"mas\", \"update_mode\": \"auto\"},\n"
            "{\"bundle_id\": \"org.example.gamma\", \"app_name\": \"Gamma\", \"current_version\": \"3.0\", \"update_mode\": \"auto\"}\n"
            "]");

        const QString golden =
            QStringLiteral(
                "=== APP ===\n"
                "Version: 0.9.14 (build 30)\n"
                "Bundle path: <BUNDLE>\n"
                "Bundle identifier: org.varno.workshop\n"
                "\n"
                "=== CLI VERSIONS ===\n"
                "~/.varno/.cli_version: <CLI_VERSION>\n"
                "Bundled .cli_version: <CLI_VERSION>\n"
                "~/.varno/varno.py exists: true\n"
                "Bundled varno.py exists: true\n"
                "\n"
                "=== DATABASE ===\n"
                "Path: <HOME>/Library/Application Support/VARNO/varno.db\n"
                "Exists: true\n"
                "Size: <SIZE> bytes\n"
                "Modified: <MODIFIED>\n"
                "  apps total: 3\n"
                "  apps with latest_version: 2\n"
                "  apps version string mismatch (raw SQL): 1\n"
                "  scan_metadata last_scan: 2026-03-04T10:00:00Z\n"
                "  migrations applied: 001_apps, 002_scan_metadata, 003_provenance_events, 004_settings, 005_experiment_events, "
                "006_contributions, 007_adoptions\n"
                "  provenance events: 2\n"
                "  tables: adoptions          contributions      provenance_events  schema_version   \n"
                "apps               experiment_events  scan_metadata      settings\n"
                "\n"
                "=== varno list --json --all (canonical UI source) ===\n"
                "Returned: 3 record(s)\n"
                "  apps outdated (UI semantics): 1\n"
                "  version_check_status: current=1 outdated=1 unmeasured=0 unknown=1 catalog_stale=0 excluded=0\n"
                "First 400 chars: ")
            + listing.left(400)
            + QStringLiteral("\u2026\n"
                             "\n"
                             "=== SCAN LOG (last 40 lines of ~/Library/Logs/VARNO/scan.err) ===\n")
            + scanTail
            + QStringLiteral(
                "\n"
                "--- engine scan diagnostics (last 40 lines of ~/.varno/logs/scan.err) ---\n"
                "[2026-03-04 10:00] catalog feed slow\n"
                "\n"
                "\n"
                "=== LAUNCHCTL ===\n"
                "-\t0\torg.varno.scan\n"
                "-\t78\tORG.VARNO.helper\n"
                "\n"
                "=== ENVIRONMENT ===\n"
                "HOME: <HOME>\n"
                "PATH: /usr/local/bin:/usr/bin:/bin\n"
                "CLI root: <HOME>/.varno\n"
                "Data root: <HOME>/Library/Application Support/VARNO\n"
                "Logs root: <HOME>/Library/Logs/VARNO\n"
                "python3 resolved: <PYTHON>\n"
                "python3 version: Python 3.11.2\n"
                "\n"
                "=== LEGACY ARTIFACTS ===\n"
                "Legacy plist (<HOME>/Library/LaunchAgents/org.varno.scan.plist): PRESENT (should be removed by v0.8 migration)\n"
                "Legacy top-level db.py (<HOME>/.varno/db.py): absent \u2713");

        const QString expected = expandGolden(golden);
        const QString report = DiagnosticsReport::gather(m_inputs);
        if (report != expected) {
            const QStringList got = report.split(QLatin1Char('\n'));
            const QStringList want = expected.split(QLatin1Char('\n'));
            for (qsizetype i = 0; i < std::min(got.size(), want.size()); ++i)
                QCOMPARE(got[i], want[i]);
            QCOMPARE(got.size(), want.size());
        }
        QCOMPARE(report, expected);
    }

    void freshHomeInADevelopmentRun()
    {
        m_inputs.bundlePath = QStringLiteral("/opt/build/bin");
        m_inputs.bundleIdentifier = std::nullopt;
        m_inputs.path = std::nullopt;
        m_launchctl = std::make_unique<ToolPaths::Scoped>(QStringLiteral("/bin/launchctl"),
                                                          QStringLiteral("/nonexistent/launchctl"));
        m_systemctl = std::make_unique<ToolPaths::Scoped>(QStringLiteral("/usr/bin/systemctl"),
                                                          QStringLiteral("/nonexistent/systemctl"));

        const QString report = DiagnosticsReport::gather(m_inputs);
        const QString home = m_home->path();
        const QString expectedStart = QStringLiteral("=== APP ===\n"
                                                     "Version: 0.9.14 (build 30)\n"
                                                     "Bundle path: /opt/build/bin\n"
                                                     "Bundle identifier: (development executable)\n"
                                                     "Bundle kind: not an .app bundle (expected when running via SwiftPM)\n"
                                                     "\n"
                                                     "=== CLI VERSIONS ===\n"
                                                     "~/.varno/.cli_version: (missing)\n"
                                                     "Bundled .cli_version: (not present in SwiftPM dev run)\n"
                                                     "~/.varno/varno.py exists: false\n"
                                                     "Bundled varno.py exists: (not present in SwiftPM dev run)\n"
                                                     "\n"
                                                     "=== DATABASE ===\n"
                                                     "Path: %1/Library/Application Support/VARNO/varno.db\n"
                                                     "Exists: false\n"
                                                     "\n"
                                                     "=== varno list --json --all (canonical UI source) ===\n"
                                                     "UNEXPECTED OUTPUT (first 800 chars):\n"
                                                     "ERROR launching ")
                                          .arg(home);
        QVERIFY2(report.startsWith(expectedStart), qPrintable(report));
        QVERIFY(report.contains(QStringLiteral("\n\n=== SCAN LOG (last 40 lines of ~/Library/Logs/VARNO/scan.err) ===\n"
                                               "(file does not exist)\n"
                                               "--- engine scan diagnostics (last 40 lines of ~/.varno/logs/scan.err) ---\n"
                                               "(file does not exist)\n"
                                               "\n"
                                               "=== LAUNCHCTL ===\n"
                                               "no varno agent registered with launchctl; the systemd user manager did "
                                               "not answer: ERROR launching /usr/bin/systemctl: ")));
        QVERIFY(report.contains(QStringLiteral("\nPATH: (unset)\n")));
        QVERIFY(report.endsWith(QStringLiteral("absent \u2713")));
        QVERIFY(!report.endsWith(QLatin1Char('\n')));
    }

    void engineListings_data()
    {
        QTest::addColumn<QByteArray>("engine");
        QTest::addColumn<QString>("section");

        QTest::newRow("empty library") << QByteArray("print('[]')\n")
                                       << QStringLiteral(
                                              "Returned: 0 record(s)\n"
                                              "  apps outdated (UI semantics): 0\n"
                                              "  version_check_status: current=0 outdated=0 unmeasured=0 unknown=0 "
                                              "catalog_stale=0 excluded=0\n\n");
        QTest::newRow("array that is not JSON")
            << QByteArray("print('[{\"bundle_id\": \"a\"}, {\"bundle_id\"')\n")
            << QStringLiteral("Returned: 2 record(s)\nFirst 400 chars: [{\"bundle_id\": \"a\"}, {\"bundle_id\"\u2026\n\n");
        QTest::newRow("error trace cut at 800")
            << QByteArray("import sys\nsys.stderr.write('Traceback: ' + 'x' * 2000)\nsys.exit(2)\n")
            << QStringLiteral("UNEXPECTED OUTPUT (first 800 chars):\n[exit 2]\nstdout: \nstderr: Traceback: ")
                + QString(800 - 37, QLatin1Char('x')) + QStringLiteral("\n\n");
        QTest::newRow("run without the contract flag, in the engine folder")
            << QByteArray(
                   "import os, sys, json\nprint(json.dumps([{'bundle_id': ' '.join(sys.argv[1:]) + ' @ ' + os.path.basename(os.getcwd())}]))\n")
            << QStringLiteral(
                   "Returned: 1 record(s)\n  apps outdated (UI semantics): 0\n"
                   "  version_check_status: current=0 outdated=0 unmeasured=0 unknown=1 catalog_stale=0 excluded=0\n"
                   "First 400 chars: [{\"bundle_id\": \"list --json --all @ .varno\"}]\u2026\n\n");
    }

    void engineListings()
    {
        QFETCH(QByteArray, engine);
        QFETCH(QString, section);
        QVERIFY(VarnoTest::writeFile(m_home->filePath(QStringLiteral(".varno/varno.py")), engine));
        const QString report = DiagnosticsReport::gather(m_inputs);
        const QString header = QStringLiteral("=== varno list --json --all (canonical UI source) ===\n");
        const qsizetype start = report.indexOf(header);
        const qsizetype end = report.indexOf(QStringLiteral("=== SCAN LOG"));
        QVERIFY(start > 0 && end > start);
        QCOMPARE(report.mid(start + header.size(), end - start - header.size()), section);
    }

    void engineSeesItsArgumentsAndFolder()
    {
        QVERIFY(VarnoTest::writeFile(
            m_home->filePath(QStringLiteral(".varno/varno.py")),
            "import os, sys\nsys.stderr.write(' '.join(sys.argv[1:]) + ' @ ' + os.getcwd())\nsys.exit(3)\n"));
        const QString report = DiagnosticsReport::gather(m_inputs);
        QVERIFY2(report.contains(QStringLiteral("stderr: list --json --all @ ")
                                 + QFileInfo(m_home->filePath(QStringLiteral(".varno"))).canonicalFilePath()),
                 qPrintable(report));
    }

    void scanLogs_data()
    {
        QTest::addColumn<QByteArray>("log");
        QTest::addColumn<QString>("shown");
        QTest::newRow("empty") << QByteArray() << QStringLiteral("(empty)");
        QTest::newRow("one line, no newline") << QByteArray("only") << QStringLiteral("only");
        QTest::newRow("carriage returns split too") << QByteArray("a\r\nb") << QStringLiteral("a\n\nb");
        QTest::newRow("not UTF-8") << QByteArray("bad \xff") << QStringLiteral("(file does not exist)");
    }

    void scanLogs()
    {
        QFETCH(QByteArray, log);
        QFETCH(QString, shown);
        QVERIFY(VarnoTest::writeFile(m_home->filePath(QStringLiteral("Library/Logs/VARNO/scan.err")), log));
        const QString report = DiagnosticsReport::gather(m_inputs);
        QVERIFY2(report.contains(QStringLiteral("scan.err) ===\n") + shown
                                 + QStringLiteral("\n--- engine scan diagnostics (last 40 lines of ~/.varno/logs/scan.err) ---\n"
                                                  "(file does not exist)\n\n=== LAUNCHCTL ===")),
                 qPrintable(report));
    }

    // A log that nothing trimmed is read from its end only: the last 40
    // lines show, whatever its size; the engine's own scan log shows too.
    void longScanLogsShowTheirEnd()
    {
        QByteArray log;
        for (int i = 1; i <= 60000; ++i)
            log += "agent line " + QByteArray::number(i) + " \xc3\xa9\n"; // UTF-8 throughout, 17+ bytes a line
        QVERIFY(VarnoTest::writeFile(m_home->filePath(QStringLiteral("Library/Logs/VARNO/scan.err")), log));
        QVERIFY(VarnoTest::writeFile(m_home->filePath(QStringLiteral(".varno/logs/scan.err")),
                                     "[10:00] engine line 1\n[10:01] engine line 2"));
        QString agentTail;
        for (int i = 59962; i <= 60000; ++i)
            agentTail += QStringLiteral("agent line %1 \u00e9\n").arg(i);
        const QString report = DiagnosticsReport::gather(m_inputs);
        QVERIFY2(report.contains(QStringLiteral("scan.err) ===\n") + agentTail
                                 + QStringLiteral("\n--- engine scan diagnostics (last 40 lines of ~/.varno/logs/scan.err) ---\n"
                                                  "[10:00] engine line 1\n[10:01] engine line 2\n\n=== LAUNCHCTL ===")),
                 qPrintable(report.right(3000)));
    }

    // Without launchctl the agent section is the systemd user timer as the
    // user's manager reports it.
    void agentSectionOnLinux_data()
    {
        QTest::addColumn<QByteArray>("systemctl");
        QTest::addColumn<QString>("section");

        QTest::newRow("timer active")
            << QByteArray(
                   "case \"$4\" in\n"
                   "*.timer) printf 'LoadState=loaded\\nUnitFileState=enabled\\nActiveState=active\\nSubState=waiting\\n"
                   "LastTriggerUSec=n/a\\nNextElapseUSecRealtime=Thu 2026-03-05 11:00:00 UTC\\n' ;;\n"
                   "*) printf 'LoadState=loaded\\nActiveState=inactive\\nResult=success\\nExecMainStatus=0\\n' ;;\n"
                   "esac\n")
            << QStringLiteral("systemd user unit org.varno.scan.timer: LoadState=loaded UnitFileState=enabled "
                              "ActiveState=active SubState=waiting LastTriggerUSec=n/a "
                              "NextElapseUSecRealtime=Thu 2026-03-05 11:00:00 UTC\n"
                              "systemd user unit org.varno.scan.service: LoadState=loaded ActiveState=inactive "
                              "Result=success ExecMainStatus=0");
        QTest::newRow("never registered")
            << QByteArray("printf 'LoadState=not-found\\nActiveState=inactive\\n'\n")
            << QStringLiteral("systemd user unit org.varno.scan.timer: LoadState=not-found ActiveState=inactive\n"
                              "systemd user unit org.varno.scan.service: LoadState=not-found ActiveState=inactive");
        QTest::newRow("no user manager")
            << QByteArray("echo 'Failed to connect to bus: No medium found' >&2\nexit 1\n")
            << QStringLiteral("no varno agent registered with launchctl; the systemd user manager did not answer: "
                              "[exit 1] stdout: stderr: Failed to connect to bus: No medium found");
    }

    void agentSectionOnLinux()
    {
        QFETCH(QByteArray, systemctl);
        QFETCH(QString, section);
        m_launchctl = std::make_unique<ToolPaths::Scoped>(QStringLiteral("/bin/launchctl"),
                                                          QStringLiteral("/nonexistent/launchctl"));
        m_systemctl = std::make_unique<ToolPaths::Scoped>(QStringLiteral("/usr/bin/systemctl"),
                                                          m_tools->write(QStringLiteral("systemctl"), systemctl));
        const QString report = DiagnosticsReport::gather(m_inputs);
        QVERIFY2(report.contains(QStringLiteral("=== LAUNCHCTL ===\n") + section
                                 + QStringLiteral("\n\n=== ENVIRONMENT ===")),
                 qPrintable(report));
    }

    void emptyQueryResultsAndFailingDatabase()
    {
        // A database with few of the engine's tables: those queries fail and say so.
        m_home->mkpath(QStringLiteral("Library/Application Support/VARNO"));
        QCOMPARE(sqlite(database(),
                        QStringLiteral("CREATE TABLE apps(bundle_id TEXT, latest_version TEXT, current_version TEXT);"
                                       "CREATE TABLE scan_metadata(key TEXT, value TEXT);")),
                 QByteArray());
        const QString report = DiagnosticsReport::gather(m_inputs);
        QVERIFY2(report.contains(QStringLiteral("  apps total: 0\n")), qPrintable(report));
        QVERIFY(report.contains(QStringLiteral("  scan_metadata last_scan: (empty)\n")));
        QVERIFY(report.contains(QStringLiteral("  migrations applied: [exit 1]\nstdout: \nstderr: ")));
        QVERIFY(report.contains(QStringLiteral("  tables: apps           scan_metadata\n")));
    }

    void gatherAsyncDoesNotBlock()
    {
        // The whole report off the calling thread: timers here keep firing.
        QVERIFY(VarnoTest::writeFile(m_home->filePath(QStringLiteral(".varno/varno.py")),
                                     "import time\ntime.sleep(0.5)\nprint('[]')\n"));
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
        timer.start(20);
        const QString report = VarnoTest::await(DiagnosticsReport::gatherAsync(m_inputs));
        QVERIFY(report.contains(QStringLiteral("Returned: 0 record(s)")));
        QVERIFY(ticks > 5);
    }
};

class TestAppMetadata : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString devPlist(const QByteArray &body)
    {
        const QString path = m_dir.filePath(QStringLiteral("Sources/VARNO/Info.plist"));
        VarnoTest::writeFile(path, body);
        return path;
    }

private Q_SLOTS:
    void values_data()
    {
        QTest::addColumn<QVariantMap>("bundle");
        QTest::addColumn<QByteArray>("dev"); // empty: no development Info.plist
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("build");

        const QByteArray devValues = "<plist version=\"1.0\"><dict><key>CFBundleShortVersionString</key><string>1.4.0</string>"
                                     "<key>CFBundleVersion</key><string>77</string></dict></plist>";
        QTest::newRow("bundle values") << QVariantMap{{QStringLiteral("CFBundleShortVersionString"),
                                                       QStringLiteral("1.2.3")},
                                                      {QStringLiteral("CFBundleVersion"), QStringLiteral("45")}}
                                       << devValues << QStringLiteral("1.2.3") << QStringLiteral("45");
        QTest::newRow("'?' falls to the development plist")
            << QVariantMap{{QStringLiteral("CFBundleShortVersionString"), QStringLiteral("?")}} << devValues
            << QStringLiteral("1.4.0") << QStringLiteral("77");
        QTest::newRow("empty falls through") << QVariantMap{{QStringLiteral("CFBundleShortVersionString"), QString()}}
                                             << devValues << QStringLiteral("1.4.0") << QStringLiteral("77");
        QTest::newRow("not text falls through") << QVariantMap{{QStringLiteral("CFBundleVersion"), qint64(5)}}
                                                << devValues << QStringLiteral("1.4.0") << QStringLiteral("77");
        QTest::newRow("'?' in the development plist counts")
            << QVariantMap{}
            << QByteArray(
                   "<plist version=\"1.0\"><dict><key>CFBundleShortVersionString</key><string>?</string></dict></plist>")
            << QStringLiteral("?") << QStringLiteral("30");
        QTest::newRow("nothing anywhere")
            << QVariantMap{{QStringLiteral("CFBundleShortVersionString"), QStringLiteral("?")}} << QByteArray()
            << QStringLiteral("0.9.14") << QStringLiteral("30");
        QTest::newRow("development plist not a plist")
            << QVariantMap{} << QByteArray("{ not a plist") << QStringLiteral("0.9.14") << QStringLiteral("30");
        QTest::newRow("development plist not a dictionary")
            << QVariantMap{} << QByteArray("<plist version=\"1.0\"><array><string>1</string></array></plist>")
            << QStringLiteral("0.9.14") << QStringLiteral("30");
    }

    void values()
    {
        QFETCH(QVariantMap, bundle);
        QFETCH(QByteArray, dev);
        QFETCH(QString, version);
        QFETCH(QString, build);

        AppMetadata::Sources sources;
        sources.bundleInfo = bundle;
        if (!dev.isEmpty())
            sources.developmentInfoPlist = devPlist(dev);
        QCOMPARE(AppMetadata::version(sources), version);
        QCOMPARE(AppMetadata::build(sources), build);
    }

    void installDate()
    {
        const QDateTime devTime(QDate(2026, 3, 4), QTime(12, 0), Qt::UTC);
        const QDateTime exeTime(QDate(2025, 11, 20), QTime(8, 0), Qt::UTC);
        const QString plist = devPlist("<plist version=\"1.0\"><dict/></plist>");
        const QString exe = m_dir.filePath(QStringLiteral("VARNO"));
        VarnoTest::writeFile(exe, "x");
        for (const auto &[path, time] : {std::pair{plist, devTime}, std::pair{exe, exeTime}}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(time, QFileDevice::FileModificationTime));
        }

        AppMetadata::Sources sources;
        sources.developmentInfoPlist = plist;
        sources.executablePath = exe;
        QCOMPARE(AppMetadata::installDate(sources), std::optional(devTime.toLocalTime()));

        sources.developmentInfoPlist = m_dir.filePath(QStringLiteral("absent/Info.plist"));
        QCOMPARE(AppMetadata::installDate(sources), std::optional(exeTime.toLocalTime()));

        // A relative first argument is taken from the current folder.
        const QString saved = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        sources.executablePath = QStringLiteral("VARNO");
        const auto relative = AppMetadata::installDate(sources);
        QDir::setCurrent(saved);
        QCOMPARE(relative, std::optional(exeTime.toLocalTime()));

        sources.executablePath = m_dir.filePath(QStringLiteral("gone"));
        QCOMPARE(AppMetadata::installDate(sources), std::nullopt);
        QCOMPARE(AppMetadata::installedDateLabel(sources), QStringLiteral("updated recently"));
    }

    void dateLabel_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("label");
        QTest::newRow("month first") << QStringLiteral("en_US") << QStringLiteral("Mar 4");
        QTest::newRow("day first") << QStringLiteral("en_GB") << QStringLiteral("4 Mar");
    }

    void dateLabel()
    {
        QFETCH(QString, locale);
        QFETCH(QString, label);
        const QDateTime date(QDate(2026, 3, 4), QTime(12, 0), Qt::LocalTime);
        QCOMPARE(AppMetadata::formatInstalledDate(date, QLocale(locale)), label);
    }
};

VARNO_TEST_CLASS(TestRunShell)
VARNO_TEST_CLASS(TestSupportReport)
VARNO_TEST_CLASS(TestAppMetadata)
#include "tst_report.moc"
