#pragma once

#include "model/UpdateState.h"
#include "records/AppRecord.h"

#include <QDialog>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QTimer>

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
// It keeps up with a run however fast its events come: the model's changes
// are gathered and drawn once per turn of the event loop, rows are kept per
// app and updated in place, and only rows whose content changed repaint.
class UpdateFlowView : public QDialog {
    Q_OBJECT

public:
    explicit UpdateFlowView(AppModel *model, QWidget *parent = nullptr);

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
    QList<UpdateRowView *> rows() const { return m_rowOrder; }
    QList<UpdateRowView *> waitingRows() const { return m_waitingOrder; }
    QLabel *waitingHeading() const { return m_waitingHeading; }
    BruskView *mascot() const { return m_brusk; }
    StyledButton *doneButton() const { return m_done; }
    StyledButton *closeButton() const { return m_close; }
    QLabel *escapeLine() const { return m_escLine; }
    QLabel *completionLabel() const { return m_completion; }
    QScrollArea *list() const { return m_scroll; }

private:
    void scheduleRefresh();
    void layOutRows();
    void showRowsInView();
    void setFinished(bool finished);

    QPointer<AppModel> m_model;
    QTimer m_pending;
    int m_refreshes = 0;
    bool m_allTerminal = false;
    bool m_finishedShown = false;
    bool m_recordsChanged = false;

    BruskView *m_brusk = nullptr;
    QLabel *m_subtitle = nullptr;
    StyledButton *m_close = nullptr;
    QScrollArea *m_scroll = nullptr;
    QWidget *m_rowsHost = nullptr;
    QLabel *m_waitingHeading = nullptr;
    QLabel *m_completion = nullptr;
    StyledButton *m_done = nullptr;
    QLabel *m_escLine = nullptr;

    QHash<QString, UpdateRowView *> m_rows;
    QList<UpdateRowView *> m_rowOrder;
    QHash<QString, UpdateRowView *> m_waiting;
    QList<UpdateRowView *> m_waitingOrder;
    // Row heights and order as last laid out.
    QList<std::pair<UpdateRowView *, int>> m_laidOut;
    int m_laidOutWaiting = -1;
};
