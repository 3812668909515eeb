// Bringing the library in from the engine: load, incident reconciliation,
// scan history, scan, ghosts and pruning.

#include "model/AppModel.h"

#include "base/Async.h"
#include "base/Logging.h"
#include "engine/VARNOProcess.h"
#include "model/EngineFailure.h"
#include "model/ModelChanges.h"
#include "platform/Clock.h"
#include "platform/ToolRunner.h"
#include "platform/VarnoPaths.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>

namespace {

const QString sqlite3Path = QStringLiteral("/usr/bin/sqlite3");
const QString lastScanQuery = QStringLiteral("SELECT value FROM scan_metadata WHERE key='last_scan' LIMIT 1;");
// The database answers in milliseconds; a tool that hangs on a locked or
// damaged file must not hold the scan history up for long.
constexpr auto lastScanTimeout = std::chrono::seconds(5);

QString databasePath()
{
    return VarnoPaths::appSupportDir() + QStringLiteral("/varno.db");
}

QStringList scanArguments()
{
    return {QStringLiteral("scan")};
}

QString ghostListPath()
{
    return VarnoPaths::appSupportDir() + QStringLiteral("/ghosts.json");
}

} // namespace

QCoro::Task<void> AppModel::load()
{
    QPointer<AppModel> self(this);
    const qint64 snapshot = m_incidentEventSeq;
    const quint64 serial = ++m_loadSerial;

    QList<AppRecord> records;
    std::optional<QString> failure;
    try {
        records = co_await VARNOProcess::listApps(false);
    } catch (...) {
        failure = EngineFailure::from(std::current_exception()).description;
    }
    if (!self)
        co_return;

    if (failure) {
        // A failure replaces nothing, so it takes no number: an older load
        // that succeeds later is still applied. It is shown unless a newer
        // list has been applied already.
        if (serial > m_lastAppliedLoad)
            setError(failure);
        co_return;
    }
    // A list that was requested before the one applied last is dropped.
    if (!claimLoadResult(serial))
        co_return;
    // The library, its incidents and the cleared error are one change to
    // the views.
    const ModelChanges::Batch batch(this);
    setApps(std::move(records));
    reconcileIncidents(m_apps, snapshot);
    setError(std::nullopt);
    // The last-scan time arrives when sqlite3 answers; nothing here waits
    // for it.
    Async::detach(reconcileScanHistoryFromMetadata());
    refreshOpenCoreStatusIfNeeded(false);
    refreshMacOSUpdateStatusIfNeeded(false);
    refreshMechanismHealthIfNeeded(false);
    enrichEligibleSeals();
}

bool AppModel::claimLoadResult(quint64 serial)
{
    if (serial <= m_lastAppliedLoad)
        return false;
    m_lastAppliedLoad = serial;
    return true;
}

void AppModel::reconcileIncidents(const QList<AppRecord> &records, qint64 snapshotSeq)
{
    QHash<QString, AppIncident> derived = AppIncident::from(records);
    for (auto it = m_liveIncidentSeq.cbegin(); it != m_liveIncidentSeq.cend(); ++it) {
        if (it.value() <= snapshotSeq)
            continue;
        const auto live = m_incidents.constFind(it.key());
        if (live != m_incidents.cend())
            derived.insert(it.key(), live.value());
        else
            derived.remove(it.key());
    }
    setIncidents(std::move(derived));
}

std::optional<QDateTime> AppModel::parseLastScan(const QString &text)
{
    // Full date, "T", full time, an optional fraction, then "Z" or an offset
    // with a colon. Anything else (a blank in place of the "T", no zone) is
    // not a time the engine writes.
    static const QRegularExpression form(
        QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})T(\\d{2}):(\\d{2}):(\\d{2})(\\.\\d+)?(Z|[+-]\\d{2}:\\d{2})$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    const QTime time(match.captured(4).toInt(), match.captured(5).toInt(), match.captured(6).toInt());
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    int msecs = 0;
    if (match.hasCaptured(7)) {
        // ".5" is half a second: keep three digits, padded on the right.
        const QString fraction = match.captured(7).mid(1).left(3).leftJustified(3, QLatin1Char('0'));
        msecs = fraction.toInt();
    }
    int offsetSeconds = 0;
    const QString zone = match.captured(8);
    if (zone != QLatin1String("Z")) {
        const int hours = zone.mid(1, 2).toInt();
        const int minutes = zone.mid(4, 2).toInt();
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        offsetSeconds = (hours * 3600 + minutes * 60) * (zone.startsWith(QLatin1Char('-')) ? -1 : 1);
    }
    QDateTime when(date, time.addMSecs(msecs), Qt::OffsetFromUTC, offsetSeconds);
    if (!when.isValid())
        return std::nullopt;
    return when.toUTC();
}

QCoro::Task<std::optional<QDateTime>> AppModel::readLastScanDateFromMetadata()
{
    const QString database = databasePath();
    if (!QFile::exists(database))
        co_return std::nullopt;
    // sqlite3 runs beside the event loop with a time-out; its output is read
    // while it runs and its error stream is dropped.
    ToolRequest request;
    request.program = ToolPaths::resolve(sqlite3Path);
    request.arguments = {database, lastScanQuery};
    request.timeout = lastScanTimeout;
    request.outputCap = 64 * 1024;
    const ToolResult result = co_await ToolRunner::run(std::move(request));
    if (!result.started() || result.timedOut())
        co_return std::nullopt;
    const QString text = decodeUtf8Strict(result.standardOutput).value_or(QString()).trimmed();
    if (text.isEmpty())
        co_return std::nullopt;
    co_return parseLastScan(text);
}

QCoro::Task<void> AppModel::reconcileScanHistoryFromMetadata()
{
    QPointer<AppModel> self(this);
    ++m_scanHistoryReads;
    const std::optional<QDateTime> date = co_await readLastScanDateFromMetadata();
    if (!self)
        co_return;
    --m_scanHistoryReads;
    if (!date)
        co_return;
    if (!m_hasEverScanned)
        setHasEverScanned(true);
    if (!m_lastScanDate)
        setLastScanDate(date);
}

QCoro::Task<void> AppModel::scan()
{
    if (isBusy())
        co_return;
    QPointer<AppModel> self(this);
    setIsScanning(true);

    const std::optional<EngineFailure> failure = co_await attemptEngineCall(VARNOProcess::run(scanArguments(), 120));
    if (!self)
        co_return;
    if (failure) {
        setError(failure->description);
        setIsScanning(false);
        co_return;
    }

    co_await load();
    if (!self)
        co_return;
    const ModelChanges::Batch batch(this);
    loadGhosts();
    setLastScanDate(Clock::now());
    setHasEverScanned(true);
    pruneStaleUpdateProgress();
    setIsScanning(false);
}

void AppModel::loadGhosts()
{
    QFile file(ghostListPath());
    if (!file.open(QIODevice::ReadOnly)) {
        setGhostApps({});
        return;
    }
    const auto ghosts = GhostAppRecord::decodeList(file.readAll());
    setGhostApps(ghosts.value_or(QList<GhostAppRecord>()));
}

void AppModel::dismissGhosts()
{
    setGhostApps({});
    QFile::remove(ghostListPath());
}

void AppModel::pruneStaleUpdateProgress()
{
    QSet<QString> settled;
    for (const AppRecord &app : std::as_const(m_apps)) {
        if (!app.isOutdated())
            settled.insert(app.bundle_id);
    }
    QHash<QString, UpdateState> kept = m_updateProgress;
    for (auto it = kept.begin(); it != kept.end();) {
        if (it->isFinal() && settled.contains(it.key()))
            it = kept.erase(it);
        else
            ++it;
    }
    setUpdateProgress(std::move(kept));
}
