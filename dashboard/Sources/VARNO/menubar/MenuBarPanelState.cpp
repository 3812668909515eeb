#include "menubar/MenuBarPanelState.h"

#include "model/AppModel.h"
#include "platform/PlainText.h"

PanelSnapshot PanelSnapshot::of(const AppModel &model)
{
    PanelSnapshot snapshot;
    snapshot.isUpdating = model.isUpdating();
    snapshot.isScanning = model.isScanning();
    snapshot.isPaused = model.isPaused();
    snapshot.error = model.error();
    snapshot.apps = model.apps();
    snapshot.lastScanDate = model.lastScanDate();
    snapshot.hasEverScanned = model.hasEverScanned();
    snapshot.hasDetectionFailure = model.hasDetectionFailure();
    snapshot.hasLibrary = model.hasLibrary();
    // Not the map itself: a copy held here would make the model copy it
    // whole at its next change.
    const AppModel::UpdateRunTally &tally = model.updateRunTally();
    PanelProgress progress;
    progress.entries = tally.entries;
    progress.finished = tally.finished;
    if (!tally.running.isEmpty()) {
        const QString &bundleId = tally.running.constFirst();
        const AppRecord *app = model.firstRecord(bundleId);
        progress.running = true;
        progress.runningName = app ? app->app_name : bundleId;
        progress.runningStatus = model.updateState(bundleId).text();
    }
    snapshot.progress = progress;
    // Counted once per library by the model, with the posture the status
    // strip reads too.
    const AppModel::LibraryCounts &counts = model.libraryCounts();
    snapshot.outdatedCount = counts.outdated;
    snapshot.urgentCount = counts.urgent;
    snapshot.atRiskCount = counts.atRisk;
    snapshot.sensingGapCount = counts.sensingGap;
    snapshot.unmeasuredCount = counts.unmeasured;
    snapshot.posture = PosturePresenter::menuBar(model.postureSnapshot());
    return snapshot;
}

namespace MenuBarPanelText {

PanelState state(const PanelSnapshot &s)
{
    if (s.isUpdating)
        return PanelState::running;
    if (s.error)
        return PanelState::error;
    if (s.apps.isEmpty() && (s.lastScanDate || s.hasEverScanned))
        return PanelState::loadFailed;
    if (s.apps.isEmpty())
        return PanelState::needsScan;
    if (s.outdatedCount > 0)
        return PanelState::pending;
    if (s.sensingGapCount == 0)
        return PanelState::clean;
    return PanelState::unmeasured;
}

PanelProgress progressOf(const QHash<QString, UpdateState> &progress, const QList<AppRecord> &apps)
{
    PanelProgress result;
    result.entries = progress.size();
    for (auto it = progress.cbegin(); it != progress.cend(); ++it) {
        result.finished += it->isFinal();
        if (result.running || it->kind() != UpdateState::Kind::running)
            continue;
        result.running = true;
        result.runningName = it.key();
        result.runningStatus = it->text();
        for (const AppRecord &app : apps) {
            if (app.bundle_id == it.key()) {
                result.runningName = app.app_name;
                break;
            }
        }
    }
    return result;
}

QString progressHeadline(const PanelProgress &progress, bool isPaused)
{
    if (progress.running)
        return PlainText::forField(progress.runningName) + QStringLiteral(" — ") + progress.runningStatus;
    return isPaused ? QStringLiteral("Paused") : QStringLiteral("Working…");
}

QString progressCounter(const PanelProgress &progress)
{
    if (progress.entries == 0)
        return QString();
    return QStringLiteral("%1/%2").arg(progress.finished).arg(progress.entries);
}

double progressFraction(const PanelProgress &progress)
{
    if (progress.entries == 0)
        return 0.0;
    return double(progress.finished) / double(progress.entries);
}

QString progressHeadline(const QHash<QString, UpdateState> &progress, const QList<AppRecord> &apps, bool isPaused)
{
    return progressHeadline(progressOf(progress, apps), isPaused);
}

QString progressCounter(const QHash<QString, UpdateState> &progress)
{
    return progressCounter(progressOf(progress, {}));
}

double progressFraction(const QHash<QString, UpdateState> &progress)
{
    return progressFraction(progressOf(progress, {}));
}

bool shouldShowUrgentOnly(qsizetype urgentCount, qsizetype outdatedCount)
{
    return urgentCount > 0 && urgentCount < outdatedCount;
}

QString updateAllLabel(qsizetype outdatedCount)
{
    return QStringLiteral("Update all (%1)").arg(outdatedCount);
}

QString urgentOnlyLabel(qsizetype urgentCount)
{
    return QStringLiteral("Urgent only (%1)").arg(urgentCount);
}

QString shortRelative(const QDateTime &date, const QDateTime &now)
{
    const qint64 seconds = date.secsTo(now);
    const bool future = seconds < 0;
    const qint64 magnitude = future ? -seconds : seconds;
    QString amount;
    if (magnitude < 60) {
        amount = QStringLiteral("%1 sec.").arg(magnitude);
    } else if (magnitude < 3600) {
        amount = QStringLiteral("%1 min.").arg(magnitude / 60);
    } else if (magnitude < 86400) {
        amount = QStringLiteral("%1 hr.").arg(magnitude / 3600);
    } else if (magnitude < 7 * 86400) {
        const qint64 days = magnitude / 86400;
        amount = days == 1 ? QStringLiteral("1 day") : QStringLiteral("%1 days").arg(days);
    } else if (magnitude < 30 * 86400) {
        amount = QStringLiteral("%1 wk.").arg(magnitude / (7 * 86400));
    } else if (magnitude < 365 * 86400) {
        amount = QStringLiteral("%1 mo.").arg(magnitude / (30 * 86400));
    } else {
        amount = QStringLiteral("%1 yr.").arg(magnitude / (365 * 86400));
    }
    return future ? QStringLiteral("in ") + amount : amount + QStringLiteral(" ago");
}

QString lastScanLabel(const std::optional<QDateTime> &lastScanDate, const QDateTime &now)
{
    if (!lastScanDate)
        return QStringLiteral("Last scan unknown");
    return QStringLiteral("Last scan ") + shortRelative(*lastScanDate, now);
}

QString unmeasuredHeadline(qsizetype sensingGapCount)
{
    return QStringLiteral("%1 not fully checked.").arg(sensingGapCount);
}

QString unmeasuredDetail(qsizetype unmeasuredCount)
{
    return unmeasuredCount > 0
        ? QStringLiteral("Includes apps without an independent version source (MAS/self-managed).")
        : QStringLiteral("Some managed apps still lack a completed version check.");
}

QString unmeasuredAccessibleLabel(qsizetype sensingGapCount)
{
    return QStringLiteral("%1 apps not fully checked for updates. Open Workshop for details.").arg(sensingGapCount);
}

} // namespace MenuBarPanelText
