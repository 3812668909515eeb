#include "sheets/UpdateFlowView.h"

#include "kit/BrandArtwork.h"
#include "kit/ButtonStyles.h"
#include "kit/Labels.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "model/AppModel.h"
#include "sheets/SheetFrame.h"
#include "platform/Appearance.h"
#include "sheets/UpdateRowView.h"

#include <QGraphicsOpacityEffect>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kListSideMargin = 32;
constexpr int kListVerticalMargin = 24;
constexpr int kRowSpacing = 6;

QString appsWord(qsizetype count)
{
    return count == 1 ? QStringLiteral("app") : QStringLiteral("apps");
}

ButtonStyle doneStyle(bool finished)
{
    ButtonStyle style;
    style.face = ButtonStyle::Face{13, QFont::Medium};
    style.text = finished ? VarnoColor::background() : VarnoColor::textSecondary();
    style.fill = finished ? VarnoColor::accent() : VarnoColor::surface();
    style.fillHoveredOpacity = finished ? 0.9 : 1.0;
    style.pressedOpacity = 0.8;
    style.cornerRadius = 8;
    style.horizontalPadding = 14;
    style.verticalPadding = 10;
    style.fillsWidth = true;
    return style;
}

ButtonStyle closeStyle()
{
    ButtonStyle style;
    style.face = ButtonStyle::Face{12, QFont::Medium};
    style.text = VarnoColor::textSecondary();
    style.textHovered = VarnoColor::textPrimary();
    style.fill = VarnoColor::surface();
    style.pressedOpacity = 0.8;
    style.cornerRadius = 14; // a circle around the padded symbol
    style.horizontalPadding = 8;
    style.verticalPadding = 8;
    style.tracksHover = true;
    return style;
}

} // namespace

// --- Rules -----------------------------------------------------------------------------------
//
// The sheet redraws on every change of a run, so the rules work on pointers
// into the model's list; the public forms take and give copies.

namespace {

using Apps = QList<const AppRecord *>;

Apps pointers(const QList<AppRecord> &apps)
{
    Apps out;
    out.reserve(apps.size());
    for (const AppRecord &app : apps)
        out.append(&app);
    return out;
}

QList<AppRecord> copies(const Apps &apps)
{
    QList<AppRecord> out;
    out.reserve(apps.size());
    for (const AppRecord *app : apps)
        out.append(*app);
    return out;
}

Apps activeOf(const QList<AppRecord> &apps, const QList<AppRecord> &outdatedApps,
              const QHash<QString, UpdateState> &updateProgress)
{
    if (updateProgress.isEmpty())
        return pointers(outdatedApps);
    // The library's first record of each id wins; library order keeps rows of
    // equal rank in one stable order throughout the run.
    Apps active;
    QSet<QString> seen;
    for (const AppRecord &app : apps) {
        if (!updateProgress.contains(app.bundle_id) || seen.contains(app.bundle_id))
            continue;
        seen.insert(app.bundle_id);
        active.append(&app);
    }
    return active;
}

QString subtitleOf(const Apps &activeApps, const QHash<QString, UpdateState> &updateProgress, bool isPaused,
                   bool allTerminal)
{
    if (allTerminal)
        return QStringLiteral("All done.");
    if (isPaused)
        return QStringLiteral("Queue paused.");
    if (activeApps.isEmpty())
        return QStringLiteral("Waiting to start...");
    const auto any = [&](UpdateState::Kind kind) {
        return std::any_of(activeApps.cbegin(), activeApps.cend(), [&](const AppRecord *app) {
            const auto it = updateProgress.constFind(app->bundle_id);
            return it != updateProgress.cend() && it->kind() == kind;
        });
    };
    if (any(UpdateState::Kind::running))
        return QStringLiteral("Running your update queue...");
    if (any(UpdateState::Kind::queued))
        return QStringLiteral("Up next in the queue...");
    return QStringLiteral("Waiting to start...");
}

QString completionOf(const Apps &activeApps, const QHash<QString, UpdateState> &updateProgress, bool allTerminal)
{
    if (!allTerminal)
        return QString();
    qsizetype failed = 0;
    qsizetype skipped = 0;
    const auto count = [&](const UpdateState &state) {
        if (state.kind() == UpdateState::Kind::failed)
            ++failed;
        else if (state.kind() == UpdateState::Kind::skipped || state.kind() == UpdateState::Kind::quitDenied)
            ++skipped;
    };
    if (activeApps.isEmpty()) {
        for (const UpdateState &state : updateProgress)
            count(state);
    } else {
        for (const AppRecord *app : activeApps) {
            const auto it = updateProgress.constFind(app->bundle_id);
            if (it != updateProgress.cend())
                count(*it);
        }
    }
    if (failed == 0 && skipped == 0)
        return QStringLiteral("The library is in order.");
    if (failed == 0)
        return QStringLiteral("%1 %2 skipped.").arg(skipped).arg(appsWord(skipped));
    if (skipped > 0)
        return QStringLiteral("%1 %2 couldn't be updated and %3 skipped — see details above.")
            .arg(failed)
            .arg(appsWord(failed))
            .arg(skipped);
    return QStringLiteral("%1 %2 couldn't be updated — see details above.").arg(failed).arg(appsWord(failed));
}

Apps orderOf(const Apps &activeApps, const QHash<QString, UpdateState> &updateProgress)
{
    QList<std::pair<int, const AppRecord *>> keyed;
    keyed.reserve(activeApps.size());
    for (const AppRecord *app : activeApps)
        keyed.append({UpdateFlowView::stateSortRank(UpdateState::of(updateProgress, app->bundle_id)), app});
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    Apps ordered;
    ordered.reserve(keyed.size());
    for (const auto &[rank, app] : keyed)
        ordered.append(app);
    return ordered;
}

Apps waitingOf(const Apps &waiting, const Apps &queueApps)
{
    QSet<QString> queued;
    for (const AppRecord *app : queueApps)
        queued.insert(app->bundle_id);
    Apps left;
    for (const AppRecord *app : waiting) {
        if (!queued.contains(app->bundle_id))
            left.append(app);
    }
    return left;
}

} // namespace

bool UpdateFlowView::isTerminal(const QList<AppRecord> &, const QHash<QString, UpdateState> &updateProgress)
{
    if (updateProgress.isEmpty())
        return false;
    return std::all_of(updateProgress.cbegin(), updateProgress.cend(),
                       [](const UpdateState &state) { return state.isFinal(); });
}

QString UpdateFlowView::headerSubtitle(const QList<AppRecord> &activeApps,
                                       const QHash<QString, UpdateState> &updateProgress, bool isPaused,
                                       bool allTerminal)
{
    return subtitleOf(pointers(activeApps), updateProgress, isPaused, allTerminal);
}

QString UpdateFlowView::completionMessage(const QList<AppRecord> &activeApps,
                                          const QHash<QString, UpdateState> &updateProgress, bool allTerminal)
{
    return completionOf(pointers(activeApps), updateProgress, allTerminal);
}

QList<AppRecord> UpdateFlowView::waitingSectionApps(const QList<AppRecord> &waiting, const QList<AppRecord> &queueApps)
{
    return copies(waitingOf(pointers(waiting), pointers(queueApps)));
}

int UpdateFlowView::stateSortRank(const UpdateState &state)
{
    switch (state.kind()) {
    case UpdateState::Kind::running:
        return 0;
    case UpdateState::Kind::failed:
    case UpdateState::Kind::quitDenied:
        return 1;
    case UpdateState::Kind::queued:
        return 2;
    case UpdateState::Kind::skipped:
        return 3;
    case UpdateState::Kind::done:
        return 4;
    case UpdateState::Kind::idle:
        break;
    }
    return 5;
}

QList<AppRecord> UpdateFlowView::activeApps(const QList<AppRecord> &apps, const QList<AppRecord> &outdatedApps,
                                            const QHash<QString, UpdateState> &updateProgress)
{
    return copies(activeOf(apps, outdatedApps, updateProgress));
}

QList<AppRecord> UpdateFlowView::displayOrder(const QList<AppRecord> &activeApps,
                                              const QHash<QString, UpdateState> &updateProgress)
{
    return copies(orderOf(pointers(activeApps), updateProgress));
}

// --- The sheet -------------------------------------------------------------------------------

UpdateFlowView::UpdateFlowView(AppModel *model, QWidget *parent)
    : QDialog(parent)
    , m_model(model)
{
    if (!model)
        qFatal("UpdateFlowView needs the app's model");
    setObjectName(QStringLiteral("update-flow"));
    setWindowTitle(QStringLiteral("Update run"));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(kWidth);
    VarnoColor::bindBackground(this, VarnoColor::backgroundRaised());

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->setSizeConstraint(QLayout::SetFixedSize);

    // 1. Header: Brusk, the title and the status, with the close button in
    //    the top trailing corner.
    auto *header = new QWidget(this);
    header->setFixedWidth(kWidth);
    auto *headerGrid = new QGridLayout(header);
    headerGrid->setContentsMargins(0, 0, 0, 0);
    auto *block = new QWidget(header);
    auto *blockColumn = new QVBoxLayout(block);
    blockColumn->setContentsMargins(0, 28, 0, 8);
    blockColumn->setSpacing(6);
    m_brusk = new BruskView(80, BruskVariant::craftsman, block);
    m_brusk->setFixedSize(80, 84); // 4 points of room below
    blockColumn->addWidget(m_brusk, 0, Qt::AlignHCenter);
    auto *titleRow = new QHBoxLayout();
    titleRow->setSpacing(0);
    titleRow->addStretch(1);
    QLabel *lead = Labels::plain(QStringLiteral("Brusk is "), VarnoFont::brusk(26, QFont::Light), VarnoColor::textPrimary(), block);
    QLabel *tail = Labels::plain(QStringLiteral("on it."), VarnoFont::italicBrusk(26), VarnoColor::accent(), block);
    titleRow->addWidget(lead, 0, Qt::AlignBaseline);
    titleRow->addWidget(tail, 0, Qt::AlignBaseline);
    titleRow->addStretch(1);
    blockColumn->addLayout(titleRow);
    block->setAccessibleName(QStringLiteral("Brusk is on it."));
    m_subtitle = Labels::plain(QString(), VarnoFont::ui(13), VarnoColor::textSecondary(), block);
    m_subtitle->setObjectName(QStringLiteral("update-flow-subtitle"));
    m_subtitle->setAlignment(Qt::AlignHCenter);
    blockColumn->addWidget(m_subtitle);
    headerGrid->addWidget(block, 0, 0);
    auto *corner = new QWidget(header);
    auto *cornerLayout = new QHBoxLayout(corner);
    cornerLayout->setContentsMargins(0, 16, 20, 0);
    m_close = new StyledButton(closeStyle(), corner);
    m_close->setObjectName(QStringLiteral("update-flow-close"));
    m_close->setSymbol(QStringLiteral("xmark"));
    m_close->setToolTip(QStringLiteral("Close — the queue keeps running in the background"));
    m_close->setAccessibleName(QStringLiteral("Close update sheet"));
    m_close->setAccessibleDescription(QStringLiteral("Closes the window; the queue keeps running"));
    cornerLayout->addWidget(m_close);
    headerGrid->addWidget(corner, 0, 0, Qt::AlignTop | Qt::AlignRight);
    column->addWidget(header);

    // 2. The rows, placed by layOutRows().
    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("update-flow-list"));
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setWidgetResizable(false);
    m_scroll->setFixedWidth(kWidth);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_rowsHost = new QWidget(m_scroll);
    connect(m_scroll->verticalScrollBar(), &QScrollBar::valueChanged, this, &UpdateFlowView::showRowsInView);
    m_rowsHost->setAutoFillBackground(false);
    m_scroll->setWidget(m_rowsHost);
    m_waitingHeading = Labels::plain(QStringLiteral("Waiting for your OK"), VarnoFont::ui(11, QFont::Medium),
                             VarnoColor::textSecondary(), m_rowsHost);
    m_waitingHeading->setObjectName(QStringLiteral("waiting-heading"));
    m_waitingHeading->setAccessibleDescription(QStringLiteral("heading"));
    m_waitingHeading->hide();
    column->addWidget(m_scroll);

    // 3. The closing line, once every app is through.
    m_completion = Labels::plain(QString(), VarnoFont::italicBrusk(15), VarnoColor::textSecondary(), this);
    m_completion->setObjectName(QStringLiteral("update-flow-completion"));
    m_completion->setAlignment(Qt::AlignHCenter);
    m_completion->setWordWrap(true);
    m_completion->setContentsMargins(32, 0, 32, 16);
    m_completion->setFixedWidth(kWidth);
    m_completion->hide();
    column->addWidget(m_completion);

    // 4. Footer: Done, and the Esc line while the run goes on.
    auto *footer = new QWidget(this);
    footer->setFixedWidth(kWidth);
    auto *footerColumn = new QVBoxLayout(footer);
    footerColumn->setContentsMargins(32, 0, 32, 28);
    footerColumn->setSpacing(6);
    m_done = new StyledButton(QStringLiteral("Working..."), doneStyle(false), footer);
    m_done->setObjectName(QStringLiteral("update-flow-done"));
    footerColumn->addWidget(m_done);
    m_escLine = Labels::plain(QStringLiteral("Press Esc to close. The queue keeps running."), VarnoFont::italicBrusk(11),
                      VarnoColor::textTertiary(), footer);
    m_escLine->setAlignment(Qt::AlignHCenter);
    footerColumn->addWidget(m_escLine);
    column->addWidget(footer);

    // Both buttons only close the sheet (as Esc does); the run goes on.
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_done, &QPushButton::clicked, this, &QDialog::accept);

    // Changes are gathered and drawn once per turn of the event loop.
    m_pending.setSingleShot(true);
    m_pending.setInterval(0);
    connect(&m_pending, &QTimer::timeout, this, &UpdateFlowView::refresh);
    connect(model, &AppModel::appsChanged, this, [this] {
        m_recordsChanged = true;
        scheduleRefresh();
    });
    for (const auto changed : {&AppModel::updateProgressChanged, &AppModel::isPausedChanged, &AppModel::incidentsChanged})
        connect(model, changed, this, &UpdateFlowView::scheduleRefresh);
    refresh();
}

void UpdateFlowView::scheduleRefresh()
{
    if (!m_pending.isActive())
        m_pending.start();
}

QString UpdateFlowView::subtitle() const
{
    return m_subtitle->text();
}

QString UpdateFlowView::completionText() const
{
    return m_completion->isVisibleTo(this) ? m_completion->text() : QString();
}

void UpdateFlowView::refresh()
{
    m_pending.stop();
    if (!m_model)
        return;
    ++m_refreshes;
    const AppModel &model = *m_model;
    const QHash<QString, UpdateState> &progress = model.updateProgress();
    // The outdated apps matter only before a run fills the map.
    const QList<AppRecord> outdated = progress.isEmpty() ? model.outdatedApps() : QList<AppRecord>();
    const Apps active = activeOf(model.apps(), outdated, progress);
    m_allTerminal = isTerminal(outdated, progress);

    m_subtitle->setText(subtitleOf(active, progress, model.isPaused(), m_allTerminal));
    setFinished(m_allTerminal);
    if (m_allTerminal)
        m_completion->setText(completionOf(active, progress, true));

    // Rows, kept per app and updated in place; a record is handed to its
    // row again only after the library changed.
    const Apps ordered = orderOf(active, progress);
    const QList<AppRecord> waitingApps = model.waitingForOKApps();
    const Apps waiting = waitingOf(pointers(waitingApps), ordered);
    const bool recordsChanged = m_recordsChanged;
    m_recordsChanged = false;
    bool changed = false;
    const auto reconcile = [&](const Apps &records, QHash<QString, UpdateRowView *> &rows,
                               QList<UpdateRowView *> &order) {
        QHash<QString, UpdateRowView *> kept;
        kept.reserve(records.size());
        QList<UpdateRowView *> newOrder;
        newOrder.reserve(records.size());
        for (const AppRecord *record : records) {
            UpdateRowView *row = rows.take(record->bundle_id);
            if (!row) {
                row = new UpdateRowView(m_model, *record, m_rowsHost);
                changed = true;
            } else {
                if (recordsChanged)
                    row->setApp(*record);
                changed = row->refresh() || changed;
            }
            kept.insert(record->bundle_id, row);
            newOrder.append(row);
        }
        for (UpdateRowView *gone : std::as_const(rows)) {
            gone->hide();
            gone->deleteLater();
            changed = true;
        }
        rows = std::move(kept);
        changed = changed || newOrder != order;
        order = std::move(newOrder);
    };
    // A row moving between the lists is made afresh in its new list.
    for (const AppRecord *record : waiting) {
        if (UpdateRowView *row = m_rows.take(record->bundle_id)) {
            m_rowOrder.removeAll(row);
            row->hide();
            row->deleteLater();
        }
    }
    reconcile(ordered, m_rows, m_rowOrder);
    for (const AppRecord *record : ordered) {
        if (UpdateRowView *row = m_waiting.take(record->bundle_id)) {
            m_waitingOrder.removeAll(row);
            row->hide();
            row->deleteLater();
        }
    }
    reconcile(waiting, m_waiting, m_waitingOrder);
    if (changed || m_laidOut.isEmpty())
        layOutRows();
}

void UpdateFlowView::setFinished(bool finished)
{
    const bool first = m_refreshes == 1;
    if (finished == m_finishedShown && !first)
        return;
    m_finishedShown = finished;
    m_brusk->setVariant(finished ? BruskVariant::curator : BruskVariant::craftsman);
    m_done->setText(finished ? QStringLiteral("Done") : QStringLiteral("Working..."));
    m_done->setAccessibleName(m_done->text());
    m_done->setButtonStyle(doneStyle(finished));
    m_done->setEnabled(finished);
    m_escLine->setVisible(!finished);
    if (!finished) {
        m_completion->hide();
        return;
    }
    m_completion->show();
    // The closing line fades in (at once under Reduce Motion).
    if (!first && !Appearance::instance().reduceMotion()) {
        auto *effect = new QGraphicsOpacityEffect(m_completion);
        m_completion->setGraphicsEffect(effect);
        auto *fade = new QPropertyAnimation(effect, "opacity", m_completion);
        fade->setDuration(250);
        fade->setStartValue(0.0);
        fade->setEndValue(1.0);
        connect(fade, &QPropertyAnimation::finished, m_completion, [this] { m_completion->setGraphicsEffect(nullptr); });
        fade->start(QAbstractAnimation::DeleteWhenStopped);
    }
}

void UpdateFlowView::layOutRows()
{
    const int rowWidth = kWidth - 2 * kListSideMargin;
    int y = kListVerticalMargin;
    QList<std::pair<UpdateRowView *, int>> laidOut;
    laidOut.reserve(m_rowOrder.size() + m_waitingOrder.size());
    const auto place = [&](UpdateRowView *row) {
        const int h = row->heightForWidth(rowWidth);
        if (row->geometry() != QRect(kListSideMargin, y, rowWidth, h))
            row->setGeometry(kListSideMargin, y, rowWidth, h);
        laidOut.append({row, h});
        y += h + kRowSpacing;
    };
    for (UpdateRowView *row : std::as_const(m_rowOrder))
        place(row);
    if (!m_waitingOrder.isEmpty()) {
        y += 12;
        const int headingHeight = m_waitingHeading->sizeHint().height();
        m_waitingHeading->setGeometry(kListSideMargin, y, rowWidth, headingHeight);
        m_waitingHeading->show();
        y += headingHeight + kRowSpacing;
        for (UpdateRowView *row : std::as_const(m_waitingOrder))
            place(row);
    } else {
        m_waitingHeading->hide();
    }
    const int contentHeight = (laidOut.isEmpty() ? y : y - kRowSpacing) + kListVerticalMargin;
    if (m_rowsHost->size() != QSize(kWidth, contentHeight))
        m_rowsHost->resize(kWidth, contentHeight);
    const int listHeight = qMin(contentHeight, kMaximumListHeight);
    if (m_scroll->height() != listHeight || m_scroll->minimumHeight() != listHeight)
        m_scroll->setFixedHeight(listHeight);
    m_laidOut = std::move(laidOut);
    showRowsInView();
}

void UpdateFlowView::showRowsInView()
{
    // Rows far from the visible part of the list are hidden, so that moving
    // them as the order changes costs nothing; those with a remedy button
    // stay shown, so that Tab reaches every remedy.
    const int top = m_scroll->verticalScrollBar()->value();
    const QRect band(0, top - kMaximumListHeight, kWidth, 3 * kMaximumListHeight);
    for (const auto &[row, height] : std::as_const(m_laidOut)) {
        const bool shown = row->geometry().intersects(band) || row->incidentButton();
        if (shown != row->isVisibleTo(m_rowsHost))
            row->setVisible(shown);
    }
}
