#pragma once

#include "model/UpdateState.h"
#include "records/AppRecord.h"

#include <QDialog>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <array>
#include <memory>

class AppModel;
class BruskView;
class QLabel;
class QScrollArea;
class StyledButton;
class UpdateRowView;

// The update-run sheet: one update run of the library as it happens. Brusk
// and a one-line status over a row per app taking part (running first, then
// problems, the queue, skipped and done), the apps waiting for the user's OK,
// a closing line once every app is through, and Done. A read-only view over
// the model: it starts, pauses, skips and stops nothing, and closing it
// (close button, Done or Esc) leaves the run going.
//
// It keeps up with a run however fast its events come, and however many apps
// take part: the model's changes are gathered and drawn once per turn of the
// event loop, and a change of one app's state costs the same whatever the
// size of the run. The sheet keeps each app's place in the display order
// (rank, then library order) in a tree of row heights, updates only the apps
// the model says changed, and builds and places rows only in and near the
// visible part of the list; a row with a remedy button is built wherever it
// is, and kept shown out of sight, so that Tab reaches every remedy (the row
// that takes the focus is scrolled into view). A row once built is kept and
// updated in place.
class UpdateFlowView : public QDialog {
    Q_OBJECT

public:
    explicit UpdateFlowView(AppModel *model, QWidget *parent = nullptr);
    ~UpdateFlowView() override;

    static constexpr int kWidth = 520;
    static constexpr int kMaximumListHeight = 380;

    // --- Rules, each a pure function ---
    // The update map is non-empty and every state in it is terminal.
    static bool isTerminal(const QList<AppRecord> &outdatedApps, const QHash<QString, UpdateState> &updateProgress);
    static QString headerSubtitle(const QList<AppRecord> &activeApps, const QHash<QString, UpdateState> &updateProgress,
                                  bool isPaused, bool allTerminal);
    static QString completionMessage(const QList<AppRecord> &activeApps,
                                     const QHash<QString, UpdateState> &updateProgress, bool allTerminal);
    // The waiting apps whose bundle id has no row among queueApps, in waiting's order.
    static QList<AppRecord> waitingSectionApps(const QList<AppRecord> &waiting, const QList<AppRecord> &queueApps);
    // running 0; failed and quitDenied 1; queued 2; skipped 3; done 4; idle 5.
    static int stateSortRank(const UpdateState &state);
    // The apps taking part: the outdated apps while the map is empty, else
    // the library's first record of each bundle id in the map, in library
    // order (ids without a record give none).
    static QList<AppRecord> activeApps(const QList<AppRecord> &apps, const QList<AppRecord> &outdatedApps,
                                       const QHash<QString, UpdateState> &updateProgress);
    // The active apps stably sorted by rank.
    static QList<AppRecord> displayOrder(const QList<AppRecord> &activeApps,
                                         const QHash<QString, UpdateState> &updateProgress);

    // Draws the model's state now (the sheet does so by itself once per
    // turn of the event loop after a change).
    void refresh();
    bool hasPendingRefresh() const { return m_pending.isActive(); }
    int refreshCount() const { return m_refreshes; }

    // What is shown, for tests and scenes.
    bool allTerminal() const { return m_allTerminal; }
    QString subtitle() const;
    QString completionText() const;
    // The rows laid out now (in and near the visible part of the list, and
    // those with a remedy), main list and waiting section, in display order.
    QList<UpdateRowView *> rows() const { return laidOutRows(false); }
    QList<UpdateRowView *> waitingRows() const { return laidOutRows(true); }
    // The apps of the main list and of the waiting section.
    int rowCount() const;
    // How many rows the last refresh updated from the model, and how many
    // row widgets were built so far (what one change costs, for tests and
    // the benchmark).
    int rowsUpdatedByLastRefresh() const { return m_rowsUpdated; }
    int rowsBuilt() const { return m_rowsBuilt; }
    QLabel *waitingHeading() const { return m_waitingHeading; }
    BruskView *mascot() const { return m_brusk; }
    StyledButton *doneButton() const { return m_done; }
    StyledButton *closeButton() const { return m_close; }
    QLabel *escapeLine() const { return m_escLine; }
    QLabel *completionLabel() const { return m_completion; }
    QScrollArea *list() const { return m_scroll; }

private:
    struct Entry;
    class Heights;

    void scheduleRefresh();
    void noteWholeMapChange();
    void rebuild();
    void update(const QString &bundleId);
    void place(const QString &bundleId, Entry &entry, int bucket);
    void unplace(Entry &entry);
    UpdateRowView *buildRow(const QString &bundleId, Entry &entry);
    void measure(Entry &entry);
    void count(const Entry &entry, int delta);
    void countState(const QString &bundleId);
    void showHeader();
    void layOutRows();
    void showRowsInView();
    void scrollToRow(UpdateRowView *row);
    int bucketTop(int bucket) const;
    int contentHeight() const;
    QList<UpdateRowView *> laidOutRows(bool waiting) const;
    void setFinished(bool finished);

    QPointer<AppModel> m_model;
    QTimer m_pending;
    int m_refreshes = 0;
    bool m_allTerminal = false;
    bool m_finishedShown = false;
    bool m_recordsChanged = false;
    // What the next refresh must bring up to date: everything, or the apps
    // the model named.
    bool m_rebuild = true;
    QSet<QString> m_changed;
    quint64 m_wholeMapChanges = 0;
    bool m_progressWasEmpty = true;
    int m_rowsUpdated = 0;
    int m_rowsBuilt = 0;
    bool m_layingOut = false;

    BruskView *m_brusk = nullptr;
    QLabel *m_subtitle = nullptr;
    StyledButton *m_close = nullptr;
    QScrollArea *m_scroll = nullptr;
    QWidget *m_rowsHost = nullptr;
    QLabel *m_waitingHeading = nullptr;
    QLabel *m_completion = nullptr;
    StyledButton *m_done = nullptr;
    QLabel *m_escLine = nullptr;

    // Each app of the main list or the waiting section, by bundle id; the
    // first record of each bundle id in the library, by position.
    QHash<QString, Entry> m_entries;
    QHash<QString, int> m_positions;
    std::unique_ptr<Heights> m_heights;
    // The state of every entry of the model's updateProgress, and how many
    // entries of the main list and of updateProgress are in each state.
    QHash<QString, UpdateState::Kind> m_kinds;
    std::array<int, 7> m_progressKinds{};
    std::array<int, 7> m_activeKinds{};
    int m_estimatedHeight = 0;
    // The rows placed in the visible part of the list and near it.
    QList<UpdateRowView *> m_placed;
};
