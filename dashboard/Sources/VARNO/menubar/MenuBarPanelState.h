#pragma once

#include "model/PosturePresenter.h"
#include "model/UpdateState.h"
#include "records/AppRecord.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

class AppModel;

// The one body the menu-bar panel shows between its header and its footer.
enum class PanelState {
    running,    // an update run is under way
    error,      // the model holds a failure text
    loadFailed, // the library is empty although a scan has happened
    needsScan,  // the library is empty and was never scanned
    pending,    // some apps are outdated
    clean,      // every app is current and fully checked
    unmeasured, // some apps are not fully checked
};

// Where an update run stands, as the panel's running body shows it.
struct PanelProgress {
    qsizetype entries = 0;  // of the update states
    qsizetype finished = 0; // of them, those that end an update
    bool running = false;   // some app runs
    QString runningName;    // the app's name (its bundle id when no listed app has it)
    QString runningStatus;
};

// Everything the panel reads of the model, taken at once; the panel draws
// from it and nothing else.
struct PanelSnapshot {
    bool isUpdating = false;
    bool isScanning = false;
    bool isPaused = false;
    std::optional<QString> error;
    QList<AppRecord> apps;
    std::optional<QDateTime> lastScanDate;
    bool hasEverScanned = false;
    bool hasDetectionFailure = false;
    // A library has been read (AppModel::hasLibrary); a snapshot made by hand
    // stands for one that has.
    bool hasLibrary = true;
    // A snapshot of the model holds where its update states stand (kept by
    // the model as they change, so that taking a snapshot costs the same
    // however long the run); update states written in by hand count instead.
    QHash<QString, UpdateState> updateProgress;
    std::optional<PanelProgress> progress;
    qsizetype outdatedCount = 0;
    qsizetype urgentCount = 0;
    qsizetype atRiskCount = 0;
    qsizetype sensingGapCount = 0;
    qsizetype unmeasuredCount = 0;
    PosturePresentation posture;

    static PanelSnapshot of(const AppModel &model);
};

// Pure functions of their arguments.
namespace MenuBarPanelText {

// The state rule: the first test that holds picks the body.
PanelState state(const PanelSnapshot &snapshot);

// "<app name> — <status>" of the first running entry (its bundle id when no
// listed app has it), else "Paused" while paused, else "Working…".
QString progressHeadline(const QHash<QString, UpdateState> &progress, const QList<AppRecord> &apps, bool isPaused);
// "<finished>/<total>", or an empty text when there are no entries.
QString progressCounter(const QHash<QString, UpdateState> &progress);
// finished / total; 0 with no entries.
double progressFraction(const QHash<QString, UpdateState> &progress);
// The same three from where a run stands.
PanelProgress progressOf(const QHash<QString, UpdateState> &progress, const QList<AppRecord> &apps);
QString progressHeadline(const PanelProgress &progress, bool isPaused);
QString progressCounter(const PanelProgress &progress);
double progressFraction(const PanelProgress &progress);
// Urgent only is offered when some, but not all, outdated apps are urgent.
bool shouldShowUrgentOnly(qsizetype urgentCount, qsizetype outdatedCount);

QString updateAllLabel(qsizetype outdatedCount); // "Update all (N)"
QString urgentOnlyLabel(qsizetype urgentCount);  // "Urgent only (N)"

// "Last scan unknown", or "Last scan " and the time since, short style
// ("5 sec. ago", "12 min. ago", "3 hr. ago", "2 days ago").
QString lastScanLabel(const std::optional<QDateTime> &lastScanDate, const QDateTime &now);
// The short relative text of `date` seen from `now`.
QString shortRelative(const QDateTime &date, const QDateTime &now);

QString unmeasuredHeadline(qsizetype sensingGapCount); // "<N> not fully checked."
QString unmeasuredDetail(qsizetype unmeasuredCount);
QString unmeasuredAccessibleLabel(qsizetype sensingGapCount);

// The tone's word and symbol, and "<tone word>. <title>", as the status strip
// has them.
using PosturePresenter::toneSymbol;
using PosturePresenter::toneWord;
inline QString postureAccessibleLabel(const PosturePresentation &posture)
{
    return PosturePresenter::accessibleLabel(posture);
}

} // namespace MenuBarPanelText
