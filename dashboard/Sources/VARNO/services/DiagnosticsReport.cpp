#include "services/DiagnosticsReport.h"

#include "base/Async.h"
#include "platform/PlainText.h"

#include "platform/ToolRunner.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <qcoro/qcorofuture.h>

namespace {

const QString kSqlite3 = QStringLiteral("/usr/bin/sqlite3");
const QString kLaunchctlPath = QStringLiteral("/bin/launchctl");
const QString kSystemctlPath = QStringLiteral("/usr/bin/systemctl");
constexpr qsizetype kShellOutputCap = 16 * 1024 * 1024;

struct Query {
    QString label;
    QString sql;
};

const QList<Query> &databaseQueries()
{
    static const QList<Query> queries = {
        {QStringLiteral("apps total"), QStringLiteral("SELECT COUNT(*) FROM apps")},
        {QStringLiteral("apps with latest_version"),
         QStringLiteral("SELECT COUNT(*) FROM apps WHERE latest_version IS NOT NULL AND latest_version != ''")},
        {QStringLiteral("apps version string mismatch (raw SQL)"),
         QStringLiteral("SELECT COUNT(*) FROM apps WHERE latest_version IS NOT NULL AND latest_version != '' "
                        "AND latest_version != current_version")},
        {QStringLiteral("scan_metadata last_scan"),
         QStringLiteral("SELECT value FROM scan_metadata WHERE key='last_scan'")},
        {QStringLiteral("migrations applied"), QStringLiteral("SELECT GROUP_CONCAT(name, ', ') FROM schema_version")},
        {QStringLiteral("provenance events"), QStringLiteral("SELECT COUNT(*) FROM provenance_events")},
    };
    return queries;
}

// Any newline character splits, each on its own ("\r\n" leaves an empty piece).
QStringList splitAtNewlines(const QString &text)
{
    static const QRegularExpression newline(QStringLiteral("[\\n\\x{000B}\\x{000C}\\r\\x{0085}\\x{2028}\\x{2029}]"));
    return text.split(newline);
}

// The last `lines` lines of a log, read from at most its last `maxBytes`
// bytes (a log that nobody trimmed is never read whole; a line cut at the
// start of that window is dropped). Nothing when the file can't be read or
// is not UTF-8.
std::optional<QString> logTail(const QString &path, int lines, qint64 maxBytes = 256 * 1024)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const qint64 size = file.size();
    QByteArray bytes;
    if (size > maxBytes) {
        if (!file.seek(size - maxBytes))
            return std::nullopt;
        bytes = file.read(maxBytes);
        const qsizetype newline = bytes.indexOf('\n');
        bytes = newline < 0 ? QByteArray() : bytes.mid(newline + 1);
    } else {
        bytes = file.readAll();
    }
    const auto text = decodeUtf8Strict(bytes);
    if (!text)
        return std::nullopt;
    const QStringList pieces = splitAtNewlines(*text);
    return pieces.mid(std::max<qsizetype>(0, pieces.size() - lines)).join(QLatin1Char('\n'));
}

std::optional<QString> readUtf8File(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return decodeUtf8Strict(file.readAll());
}

QString trueOrFalse(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

ToolRequest shellRequest(const QString &path, const QStringList &args, const std::optional<QString> &cwd,
                         std::chrono::milliseconds timeout)
{
    ToolRequest request;
    request.program = path;
    request.arguments = args;
    request.workingDirectory = cwd;
    request.timeout = timeout;
    request.outputCap = kShellOutputCap;
    return request;
}

QString describeShellResult(const QString &path, const ToolResult &result, std::chrono::milliseconds timeout)
{
    const QString output = result.standardOutputText();
    const QString errors = result.standardErrorText();
    switch (result.status) {
    case ToolResult::Status::FailedToStart:
        return QStringLiteral("ERROR launching %1: %2").arg(path, result.errorString);
    case ToolResult::Status::TimedOut: {
        const auto seconds = std::chrono::duration<double>(timeout).count();
        return QStringLiteral("[timed out after %1 s]\nstdout: %2\nstderr: %3")
            .arg(QString::number(seconds, 'g', 6), output, errors);
    }
    case ToolResult::Status::Exited:
        if (result.exitCode == 0)
            return output.isEmpty() ? errors : output;
        break;
    case ToolResult::Status::Crashed:
        break;
    }
    return QStringLiteral("[exit %1]\nstdout: %2\nstderr: %3").arg(QString::number(result.exitCode), output, errors);
}

} // namespace

// ---------------------------------------------------------------------------
// Tools

QString DiagnosticsReport::systemdAgentStatus()
{
    QStringList lines;
    const QStringList units = {QStringLiteral("org.varno.scan.timer"), QStringLiteral("org.varno.scan.service")};
    const QStringList properties =
        {QStringLiteral("--property=LoadState,UnitFileState,ActiveState,SubState,LastTriggerUSec,NextElapseUSecRealtime"),
         QStringLiteral("--property=LoadState,ActiveState,Result,ExecMainStatus")};
    for (qsizetype i = 0; i < units.size(); ++i) {
        const ToolRequest request = shellRequest(kSystemctlPath,
                                                 {QStringLiteral("--user"), QStringLiteral("show"), properties.at(i),
                                                  units.at(i)},
                                                 std::nullopt, quickToolTimeout);
        const ToolResult result = ToolRunner::runBlocking(request);
        if (!result.succeeded()) {
            const QString why = describeShellResult(kSystemctlPath, result, quickToolTimeout).trimmed();
            lines << QStringLiteral("no varno agent registered with launchctl; the systemd user manager did not "
                                    "answer: ")
                    + PlainText::prefixCharacters(why.simplified(), 300);
            break;
        }
        QStringList values;
        const QStringList answer = splitAtNewlines(result.standardOutputText().trimmed());
        for (const QString &line : answer) {
            if (!line.trimmed().isEmpty())
                values << line.trimmed();
        }
        lines << QStringLiteral("systemd user unit %1: %2").arg(units.at(i), values.join(QLatin1Char(' ')));
    }
    return lines.join(QLatin1Char('\n'));
}

QString DiagnosticsReport::runShell(const QString &path, const QStringList &args, const std::optional<QString> &cwd,
                                    std::chrono::milliseconds timeout)
{
    return describeShellResult(path, ToolRunner::runBlocking(shellRequest(path, args, cwd, timeout)), timeout);
}

QCoro::Task<QString> DiagnosticsReport::runShellAsync(QString path, QStringList args, std::optional<QString> cwd,
                                                      std::chrono::milliseconds timeout)
{
    ToolRequest request = shellRequest(path, args, cwd, timeout);
    const ToolResult result = co_await ToolRunner::run(std::move(request));
    co_return describeShellResult(path, result, timeout);
}

std::optional<VersionStatusCounts> DiagnosticsReport::summarizeVersionCheckStatuses(const QString &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    const QJsonArray array = document.array();
    VersionStatusCounts counts;
    for (const QJsonValue &value : array) {
        if (!value.isObject())
            return std::nullopt;
        const QJsonValue status = value.toObject().value(QStringLiteral("version_check_status"));
        const QString text = status.isString() ? status.toString().toLower() : QStringLiteral("unknown");
        if (text == QLatin1String("current"))
            ++counts.current;
        else if (text == QLatin1String("outdated"))
            ++counts.outdated;
        else if (text == QLatin1String("unmeasured"))
            ++counts.unmeasured;
        else if (text == QLatin1String("catalog_stale"))
            ++counts.catalogStale;
        else if (text == QLatin1String("excluded"))
            ++counts.excluded;
        else
            ++counts.unknown;
    }
    return counts;
}

QString DiagnosticsReport::prefixCharacters(const QString &text, qsizetype count)
{
    return PlainText::prefixCharacters(text, count);
}

QString DiagnosticsReport::dateDescription(const QDateTime &date)
{
    return date.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" +0000");
}

// ---------------------------------------------------------------------------
// The report

QCoro::Task<QString> DiagnosticsReport::gatherAsync(Inputs inputs)
{
    Async::Work<QString> future = Async::offThread(nullptr, Async::toolPool(), [inputs = std::move(inputs)]() mutable {
        return DiagnosticsReport::gatherFrom(std::move(inputs));
    });
    const QString report = co_await future;
    co_return report;
}

QString DiagnosticsReport::gatherFrom(Inputs inputs)
{
    return gather(inputs);
}

QString DiagnosticsReport::gather(const Inputs &inputs)
{
    const QString home = inputs.home;
    const QString cliRoot = home + QStringLiteral("/.varno");
    const QString engineScript = cliRoot + QStringLiteral("/varno.py");
    const QString dataRoot = home + QStringLiteral("/Library/Application Support/VARNO");
    const QString database = dataRoot + QStringLiteral("/varno.db");
    const QString logsRoot = home + QStringLiteral("/Library/Logs/VARNO");
    const QString scanLog = logsRoot + QStringLiteral("/scan.err");
    const QString engineScanLog = cliRoot + QStringLiteral("/logs/scan.err");
    const QString engineResources = inputs.bundlePath + QStringLiteral("/Contents/Resources/cli");
    const QString legacyAgent = home + QStringLiteral("/Library/LaunchAgents/org.varno.scan.plist");
    const QString legacyModule = cliRoot + QStringLiteral("/db.py");
    const bool isAppBundle = inputs.bundlePath.endsWith(QLatin1String(".app"));

    QStringList lines;

    // APP
    lines << QStringLiteral("=== APP ===");
    lines << QStringLiteral("Version: %1 (build %2)").arg(inputs.version, inputs.build);
    lines << QStringLiteral("Bundle path: ") + inputs.bundlePath;
    if (inputs.bundleIdentifier && !inputs.bundleIdentifier->isEmpty())
        lines << QStringLiteral("Bundle identifier: ") + *inputs.bundleIdentifier;
    else
        lines << QStringLiteral("Bundle identifier: (development executable)");
    if (!isAppBundle)
        lines << QStringLiteral("Bundle kind: not an .app bundle (expected when running via SwiftPM)");

    // CLI VERSIONS
    lines << QString() << QStringLiteral("=== CLI VERSIONS ===");
    lines << QStringLiteral("~/.varno/.cli_version: ")
            + readUtf8File(cliRoot + QStringLiteral("/.cli_version")).value_or(QStringLiteral("(missing)"));
    if (isAppBundle)
        lines << QStringLiteral("Bundled .cli_version: ")
                + readUtf8File(engineResources + QStringLiteral("/.cli_version")).value_or(QStringLiteral("(missing)"));
    else
        lines << QStringLiteral("Bundled .cli_version: (not present in SwiftPM dev run)");
    lines << QStringLiteral("~/.varno/varno.py exists: ") + trueOrFalse(QFileInfo::exists(engineScript));
    if (isAppBundle)
        lines << QStringLiteral("Bundled varno.py exists: ")
                + trueOrFalse(QFileInfo::exists(engineResources + QStringLiteral("/varno.py")));
    else
        lines << QStringLiteral("Bundled varno.py exists: (not present in SwiftPM dev run)");

    // DATABASE
    lines << QString() << QStringLiteral("=== DATABASE ===");
    lines << QStringLiteral("Path: ") + database;
    const QFileInfo databaseInfo(database);
    const bool databaseExists = databaseInfo.exists();
    lines << QStringLiteral("Exists: ") + trueOrFalse(databaseExists);
    if (databaseExists) {
        lines << QStringLiteral("Size: %1 bytes").arg(databaseInfo.size());
        const QDateTime modified = databaseInfo.lastModified();
        lines << QStringLiteral("Modified: ") + (modified.isValid() ? dateDescription(modified) : QStringLiteral("?"));
        for (const Query &query : databaseQueries()) {
            const QString result = runShell(kSqlite3, {database, query.sql}, std::nullopt, databaseTimeout).trimmed();
            lines << QStringLiteral("  %1: %2").arg(query.label, result.isEmpty() ? QStringLiteral("(empty)") : result);
        }
        lines << QStringLiteral("  tables: ")
                + runShell(kSqlite3, {database, QStringLiteral(".tables")}, std::nullopt, databaseTimeout).trimmed();
    }

    // Engine listing
    lines << QString() << QStringLiteral("=== varno list --json --all (canonical UI source) ===");
    // Only an engine that exited with status 0 returned a listing: a failure
    // ("[exit 1]\nstdout: …") also begins with "[", and must show as what it is.
    const auto listingRequest = shellRequest(inputs.python3,
                                             {engineScript, QStringLiteral("list"), QStringLiteral("--json"),
                                              QStringLiteral("--all")},
                                             cliRoot, listingTimeout);
    const ToolResult listingResult = ToolRunner::runBlocking(listingRequest);
    const QString listing = describeShellResult(inputs.python3, listingResult, listingTimeout).trimmed();
    if (listingResult.succeeded() && listing.startsWith(QLatin1Char('['))) {
        const qsizetype records = listing.count(QStringLiteral("{\"bundle_id\""));
        lines << QStringLiteral("Returned: %1 record(s)").arg(records);
        if (const auto counts = summarizeVersionCheckStatuses(listing)) {
            lines << QStringLiteral("  apps outdated (UI semantics): %1").arg(counts->outdated);
            lines << QStringLiteral("  version_check_status: current=%1 outdated=%2 unmeasured=%3 unknown=%4 "
                                    "catalog_stale=%5 excluded=%6")
                         .arg(counts->current)
                         .arg(counts->outdated)
                         .arg(counts->unmeasured)
                         .arg(counts->unknown)
                         .arg(counts->catalogStale)
                         .arg(counts->excluded);
        }
        if (records >= 1)
            lines << QStringLiteral("First 400 chars: ") + prefixCharacters(listing, 400) + QStringLiteral("\u2026");
    } else {
        lines << QStringLiteral("UNEXPECTED OUTPUT (first 800 chars):");
        lines << prefixCharacters(listing, 800);
    }

    // SCAN LOG
    lines << QString() << QStringLiteral("=== SCAN LOG (last 40 lines of ~/Library/Logs/VARNO/scan.err) ===");
    // What the background scans print on standard error, then what the
    // engine's scan itself records of its work.
    if (const auto tail = logTail(scanLog, 40))
        lines << (tail->isEmpty() ? QStringLiteral("(empty)") : *tail);
    else
        lines << QStringLiteral("(file does not exist)");
    lines << QStringLiteral("--- engine scan diagnostics (last 40 lines of ~/.varno/logs/scan.err) ---");
    if (const auto tail = logTail(engineScanLog, 40))
        lines << (tail->isEmpty() ? QStringLiteral("(empty)") : *tail);
    else
        lines << QStringLiteral("(file does not exist)");

    // LAUNCHCTL
    lines << QString() << QStringLiteral("=== LAUNCHCTL ===");
    const ToolRequest launchctlRequest = shellRequest(kLaunchctlPath, {QStringLiteral("list")}, std::nullopt,
                                                      quickToolTimeout);
    const ToolResult launchctl = ToolRunner::runBlocking(launchctlRequest);
    if (launchctl.started()) {
        QStringList agents;
        const QStringList launchctlLines = splitAtNewlines(
            describeShellResult(kLaunchctlPath, launchctl, quickToolTimeout));
        for (const QString &line : launchctlLines) {
            if (line.toLower().contains(QLatin1String("varno")))
                agents << line;
        }
        lines << (agents.isEmpty() ? QStringLiteral("no varno agent registered with launchctl")
                                   : agents.join(QLatin1Char('\n')));
    } else {
        // No launchctl: the agent is the systemd user timer, as its manager sees it.
        lines << systemdAgentStatus();
    }

    // ENVIRONMENT
    lines << QString() << QStringLiteral("=== ENVIRONMENT ===");
    lines << QStringLiteral("HOME: ") + home;
    lines << QStringLiteral("PATH: ") + inputs.path.value_or(QStringLiteral("(unset)"));
    lines << QStringLiteral("CLI root: ") + cliRoot;
    lines << QStringLiteral("Data root: ") + dataRoot;
    lines << QStringLiteral("Logs root: ") + logsRoot;
    lines << QStringLiteral("python3 resolved: ") + inputs.python3;
    lines << QStringLiteral("python3 version: ")
            + runShell(inputs.python3, {QStringLiteral("--version")}, std::nullopt, quickToolTimeout).trimmed();

    // LEGACY ARTIFACTS
    lines << QString() << QStringLiteral("=== LEGACY ARTIFACTS ===");
    lines << QStringLiteral("Legacy plist (%1): %2")
                 .arg(legacyAgent,
                      QFileInfo::exists(legacyAgent) ? QStringLiteral("PRESENT (should be removed by v0.8 migration)")
                                                     : QStringLiteral("absent \u2713"));
    lines << QStringLiteral("Legacy top-level db.py (%1): %2")
                 .arg(legacyModule,
                      QFileInfo::exists(legacyModule) ? QStringLiteral("PRESENT (remove: `rm ~/.varno/db.py`)")
                                                      : QStringLiteral("absent \u2713"));

    return lines.join(QLatin1Char('\n'));
}

QCoro::Task<DiagnosticsReport::ShellOutcome> DiagnosticsReport::runShellOutcomeAsync(QString path, QStringList args,
                                                                                     std::optional<QString> cwd,
                                                                                     std::chrono::milliseconds timeout)
{
    const ToolRequest request = shellRequest(path, args, cwd, timeout);
    QCoro::Task<ToolResult> running = ToolRunner::run(request);
    const ToolResult result = co_await std::move(running);
    co_return ShellOutcome{describeShellResult(path, result, timeout), result.succeeded()};
}
