#include "sheets/UpdateFlowView.h"

#include "kit/BrandArtwork.h"
#include "kit/ButtonStyles.h"
#include "kit/Labels.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "model/AppModel.h"
#include "platform/Appearance.h"
#include "sheets/UpdateRowView.h"
#include "widgets/SheetFrame.h"

#include <QApplication>
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
                                       const QHash<QString, UpdateState> &updateProgress, bool isPaused, bool allTerminal)
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
    QLabel *lead = Labels::plain(QStringLiteral("Brusk is "), VarnoFont::brusk(26, QFont::Light),
                                 VarnoColor::textPrimary(), block);
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
    connect(m_scroll->verticalScrollBar(), &QScrollBar::valueChanged, this, &UpdateFlowView::layOutRows);
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
    m_escLine = Labels::plain(QStringLiteral("Press Esc to close. The queue keeps running."),
                              VarnoFont::italicBrusk(11), VarnoColor::textTertiary(), footer);
    m_escLine->setAlignment(Qt::AlignHCenter);
    footerColumn->addWidget(m_escLine);
    column->addWidget(footer);

    // Both buttons only close the sheet (as Esc does); the run goes on.
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_done, &QPushButton::clicked, this, &QDialog::accept);

    // Changes are gathered and drawn once per turn of the event loop: the
    // apps the model names, or everything after a whole map or the library
    // changed.
    m_pending.setSingleShot(true);
    m_pending.setInterval(0);
    connect(&m_pending, &QTimer::timeout, this, &UpdateFlowView::refresh);
    connect(model, &AppModel::appsChanged, this, [this] {
        m_recordsChanged = true;
        m_rebuild = true;
        scheduleRefresh();
    });
    for (const auto changed : {&AppModel::updateStateChanged, &AppModel::incidentChanged})
        connect(model, changed, this, [this](const QString &bundleId) {
            if (!m_rebuild)
                m_changed.insert(bundleId);
            scheduleRefresh();
        });
    for (const auto changed : {&AppModel::updateProgressChanged, &AppModel::isPausedChanged, &AppModel::incidentsChanged})
        connect(model, changed, this, &UpdateFlowView::scheduleRefresh);
    // A row that takes the keyboard focus is scrolled into view (and placed).
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        for (QWidget *widget = now; widget && widget != m_rowsHost; widget = widget->parentWidget()) {
            if (auto *row = qobject_cast<UpdateRowView *>(widget)) {
                if (row->parentWidget() == m_rowsHost)
                    scrollToRow(row);
                return;
            }
        }
    });
    refresh();
}

UpdateFlowView::~UpdateFlowView() = default;

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

// --- Display order ---------------------------------------------------------------------------

namespace {

// The six ranks of the main list (stateSortRank), then the waiting section.
constexpr int kWaitingBucket = 6;
constexpr int kBuckets = 7;
constexpr int kRowWidth = UpdateFlowView::kWidth - 2 * kListSideMargin;
// Where a row with a remedy waits while it is far from the visible part of
// the list: shown (Tab reaches it), above the list's content, out of sight.
constexpr int kParkedY = -100000;

// Sums over the library's positions (a Fenwick tree): what the positions
// before one hold, and the position at a running sum, in O(log n).
class PositionSums {
public:
    void reset(int size)
    {
        m_tree.assign(std::size_t(size) + 1, 0);
        m_total = 0;
        m_step = 1;
        while (m_step * 2 <= size)
            m_step *= 2;
    }
    int size() const { return int(m_tree.size()) - 1; }
    void add(int position, qint64 delta)
    {
        m_total += delta;
        for (int i = position + 1; i < int(m_tree.size()); i += i & -i)
            m_tree[std::size_t(i)] += delta;
    }
    qint64 before(int position) const
    {
        qint64 sum = 0;
        for (int i = position; i > 0; i -= i & -i)
            sum += m_tree[std::size_t(i)];
        return sum;
    }
    qint64 total() const { return m_total; }
    // The first position whose running sum passes `offset`; size() when none does.
    int at(qint64 offset) const
    {
        int position = 0;
        for (int step = m_step; step > 0; step /= 2) {
            if (position + step < int(m_tree.size()) && m_tree[std::size_t(position + step)] <= offset) {
                position += step;
                offset -= m_tree[std::size_t(position)];
            }
        }
        return position;
    }

private:
    std::vector<qint64> m_tree{0};
    qint64 m_total = 0;
    int m_step = 1;
};

} // namespace

struct UpdateFlowView::Entry {
    int position = -1; // of the app's first record in the library
    int bucket = -1;   // its rank in the main list, or the waiting section; -1 while nowhere
    int height = 0;    // as counted in the order: the row's height and the spacing below it
    UpdateState::Kind kind = UpdateState::Kind::idle;
    bool remedy = false; // the row shows a remedy button
    bool stale = false;  // the row has not yet been told of the model's latest state
    UpdateRowView *row = nullptr;
};

// The rows' heights in display order: per bucket, over the library's
// positions, with the number of rows placed.
class UpdateFlowView::Heights {
public:
    explicit Heights(int size)
    {
        for (int bucket = 0; bucket < kBuckets; ++bucket) {
            m_heights[bucket].reset(size);
            m_counts[bucket].reset(size);
        }
    }
    int size() const { return m_heights[0].size(); }
    void put(int bucket, int position, int height)
    {
        m_heights[bucket].add(position, height);
        m_counts[bucket].add(position, 1);
    }
    void take(int bucket, int position, int height)
    {
        m_heights[bucket].add(position, -height);
        m_counts[bucket].add(position, -1);
    }
    void resize(int bucket, int position, int delta) { m_heights[bucket].add(position, delta); }
    qint64 total(int bucket) const { return m_heights[bucket].total(); }
    int count(int bucket) const { return int(m_counts[bucket].total()); }
    qint64 before(int bucket, int position) const { return m_heights[bucket].before(position); }
    // The row placed at an offset from the bucket's top, or the first one after it.
    int at(int bucket, qint64 offset) const { return m_heights[bucket].at(offset); }
    // The next position with a row after `position` (-1: the first); size() when none.
    int next(int bucket, int position) const { return m_counts[bucket].at(m_counts[bucket].before(position + 1)); }

private:
    std::array<PositionSums, kBuckets> m_heights;
    std::array<PositionSums, kBuckets> m_counts;
};

namespace {

UpdateState::Kind progressKindOf(const QHash<QString, UpdateState> &progress, const QString &bundleId)
{
    const auto it = progress.constFind(bundleId);
    return it == progress.cend() ? UpdateState::Kind::idle : it->kind();
}

std::size_t kindSlot(UpdateState::Kind kind)
{
    return std::size_t(kind);
}

bool waitsForApproval(const QHash<QString, AppIncident> &incidents, const QString &bundleId)
{
    const auto it = incidents.constFind(bundleId);
    return it != incidents.cend() && it->code == QLatin1String("UPDATE_MODE_ASK_HEADLESS");
}

} // namespace

int UpdateFlowView::rowCount() const
{
    return int(m_entries.size());
}

int UpdateFlowView::bucketTop(int bucket) const
{
    qint64 y = kListVerticalMargin;
    for (int b = 0; b < qMin(bucket, kWaitingBucket); ++b)
        y += m_heights->total(b);
    if (bucket == kWaitingBucket)
        y += 12 + m_waitingHeading->sizeHint().height() + kRowSpacing;
    return int(y);
}

int UpdateFlowView::contentHeight() const
{
    if (m_heights->count(kWaitingBucket) > 0)
        return bucketTop(kWaitingBucket) + int(m_heights->total(kWaitingBucket)) - kRowSpacing + kListVerticalMargin;
    const int main = bucketTop(kWaitingBucket - 1) + int(m_heights->total(kWaitingBucket - 1)) - kListVerticalMargin;
    return main > 0 ? kListVerticalMargin + main - kRowSpacing + kListVerticalMargin : 2 * kListVerticalMargin;
}

void UpdateFlowView::count(const Entry &entry, int delta)
{
    if (entry.bucket >= 0 && entry.bucket < kWaitingBucket)
        m_activeKinds[kindSlot(entry.kind)] += delta;
}

void UpdateFlowView::countState(const QString &bundleId)
{
    const QHash<QString, UpdateState> &progress = m_model->updateProgress();
    const auto now = progress.constFind(bundleId);
    const auto before = m_kinds.find(bundleId);
    if (before != m_kinds.end()) {
        --m_progressKinds[kindSlot(*before)];
        if (now == progress.cend())
            m_kinds.erase(before);
        else
            *before = now->kind();
    } else if (now != progress.cend()) {
        m_kinds.insert(bundleId, now->kind());
    }
    if (now != progress.cend())
        ++m_progressKinds[kindSlot(now->kind())];
}

void UpdateFlowView::place(const QString &, Entry &entry, int bucket)
{
    if (entry.bucket == bucket)
        return;
    unplace(entry);
    if (entry.height <= 0)
        entry.height = (m_estimatedHeight > 0 ? m_estimatedHeight : 56) + kRowSpacing;
    entry.bucket = bucket;
    m_heights->put(bucket, entry.position, entry.height);
}

void UpdateFlowView::unplace(Entry &entry)
{
    if (entry.bucket < 0)
        return;
    m_heights->take(entry.bucket, entry.position, entry.height);
    entry.bucket = -1;
}

UpdateRowView *UpdateFlowView::buildRow(const QString &, Entry &entry)
{
    entry.row = new UpdateRowView(m_model, m_model->apps().at(entry.position), m_rowsHost);
    entry.stale = false;
    ++m_rowsBuilt;
    measure(entry);
    return entry.row;
}

void UpdateFlowView::measure(Entry &entry)
{
    const int height = entry.row->heightForWidth(kRowWidth);
    if (m_estimatedHeight <= 0 && !entry.remedy)
        m_estimatedHeight = height;
    if (height + kRowSpacing == entry.height)
        return;
    if (entry.bucket >= 0)
        m_heights->resize(entry.bucket, entry.position, height + kRowSpacing - entry.height);
    entry.height = height + kRowSpacing;
}

// A row out of the placed part of the list: a row with a remedy waits out of
// sight, shown; any other is hidden.
namespace {

void putRowAside(UpdateRowView *row, bool remedy)
{
    if (remedy) {
        const QRect parked(kListSideMargin, kParkedY, kRowWidth, row->height() > 0 ? row->height() : 1);
        if (row->geometry() != parked)
            row->setGeometry(parked);
        if (!row->isVisible())
            row->show();
    } else if (!row->isHidden()) {
        row->hide();
    }
}

} // namespace

void UpdateFlowView::rebuild()
{
    const AppModel &model = *m_model;
    const QList<AppRecord> &apps = model.apps();
    const QHash<QString, UpdateState> &progress = model.updateProgress();
    const QHash<QString, AppIncident> &incidents = model.incidents();
    if (m_recordsChanged || !m_heights) {
        // The library's first record of each bundle id.
        m_positions.clear();
        m_positions.reserve(apps.size());
        for (int position = int(apps.size()) - 1; position >= 0; --position)
            m_positions.insert(apps.at(position).bundle_id, position);
    }
    m_heights = std::make_unique<Heights>(int(apps.size()));
    m_kinds.clear();
    m_progressKinds = {};
    m_activeKinds = {};
    for (auto it = progress.cbegin(); it != progress.cend(); ++it) {
        m_kinds.insert(it.key(), it->kind());
        ++m_progressKinds[kindSlot(it->kind())];
    }
    m_progressWasEmpty = progress.isEmpty();

    // Every entry afresh; the rows are kept by bundle id.
    QHash<QString, Entry> previous = std::exchange(m_entries, {});
    m_entries.reserve(progress.isEmpty() ? apps.size() / 4 : progress.size());
    for (int position = 0; position < int(apps.size()); ++position) {
        const AppRecord &app = apps.at(position);
        const QString &bundleId = app.bundle_id;
        const auto state = progress.constFind(bundleId);
        const auto incident = incidents.constFind(bundleId);
        const bool inProgress = state != progress.cend();
        int bucket = -1;
        if (m_progressWasEmpty ? app.isOutdated() : inProgress)
            bucket = stateSortRank(inProgress ? *state : UpdateState());
        else if (incident != incidents.cend() && incident->code == QLatin1String("UPDATE_MODE_ASK_HEADLESS"))
            bucket = kWaitingBucket;
        if (bucket < 0 || m_positions.value(bundleId) != position)
            continue;
        Entry entry;
        entry.position = position;
        entry.kind = inProgress ? state->kind() : UpdateState::Kind::idle;
        entry.remedy = UpdateRowView::showsIncidentAction(inProgress ? *state : UpdateState(),
                                                          incident == incidents.cend()
                                                              ? std::nullopt
                                                              : std::optional<AppIncident>(*incident));
        if (const auto kept = previous.find(bundleId); kept != previous.end() && kept->row) {
            entry.row = std::exchange(kept->row, nullptr);
            entry.height = kept->height;
            entry.stale = true;
        }
        Entry &placed = m_entries.insert(bundleId, entry).value();
        place(bundleId, placed, bucket);
        count(placed, +1);
    }
    for (const Entry &gone : std::as_const(previous)) {
        if (gone.row) {
            m_placed.removeAll(gone.row);
            gone.row->hide();
            gone.row->deleteLater();
        }
    }
    // Every row is told once it is placed. A row with a remedy is shown
    // wherever it is, so one that gains its button is told now (one that
    // keeps it is told when it is placed, as when it takes the focus; one
    // that loses it is hidden until then).
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->remedy && !it->row) {
            buildRow(it.key(), *it);
            ++m_rowsUpdated;
        } else if (it->row && it->remedy && !it->row->incidentButton()) {
            it->row->setApp(apps.at(it->position));
            it->row->refresh();
            it->stale = false;
            measure(*it);
            ++m_rowsUpdated;
        }
        if (it->row && !m_placed.contains(it->row))
            putRowAside(it->row, it->remedy);
    }
    m_recordsChanged = false;
    m_rebuild = false;
    m_changed.clear();
    m_wholeMapChanges = model.wholeMapChanges();
}

void UpdateFlowView::update(const QString &bundleId)
{
    const AppModel &model = *m_model;
    const QHash<QString, UpdateState> &progress = model.updateProgress();
    const QHash<QString, AppIncident> &incidents = model.incidents();
    countState(bundleId);
    int bucket = -1;
    const auto position = m_positions.constFind(bundleId);
    if (position != m_positions.cend()) {
        const AppRecord &app = model.apps().at(*position);
        if (m_progressWasEmpty ? app.isOutdated() : progress.contains(bundleId))
            bucket = stateSortRank(UpdateState::of(progress, bundleId));
        else if (waitsForApproval(incidents, bundleId))
            bucket = kWaitingBucket;
    }
    auto it = m_entries.find(bundleId);
    if (bucket < 0) {
        // Out of both lists.
        if (it == m_entries.end())
            return;
        count(*it, -1);
        unplace(*it);
        if (it->row) {
            m_placed.removeAll(it->row);
            it->row->hide();
            it->row->deleteLater();
        }
        m_entries.erase(it);
        return;
    }
    if (it == m_entries.end()) {
        Entry entry;
        entry.position = *position;
        it = m_entries.insert(bundleId, entry);
    }
    Entry &entry = *it;
    count(entry, -1);
    entry.kind = progressKindOf(progress, bundleId);
    place(bundleId, entry, bucket);
    count(entry, +1);
    const auto incident = incidents.constFind(bundleId);
    entry.remedy = UpdateRowView::showsIncidentAction(UpdateState::of(progress, bundleId),
                                                      incident == incidents.cend()
                                                          ? std::nullopt
                                                          : std::optional<AppIncident>(*incident));
    ++m_rowsUpdated;
    const bool placed = entry.row && m_placed.contains(entry.row);
    if (!entry.row) {
        if (entry.remedy)
            putRowAside(buildRow(bundleId, entry), true);
        return;
    }
    if (placed || entry.remedy) {
        entry.row->refresh();
        entry.stale = false;
        measure(entry);
    } else {
        entry.stale = true;
    }
    if (!placed)
        putRowAside(entry.row, entry.remedy);
}

void UpdateFlowView::refresh()
{
    m_pending.stop();
    if (!m_model)
        return;
    ++m_refreshes;
    m_rowsUpdated = 0;
    const AppModel &model = *m_model;
    const QHash<QString, UpdateState> &progress = model.updateProgress();
    if (m_rebuild || model.wholeMapChanges() != m_wholeMapChanges || progress.isEmpty() != m_progressWasEmpty) {
        rebuild();
    } else {
        const QSet<QString> changed = std::exchange(m_changed, {});
        for (const QString &bundleId : changed)
            update(bundleId);
    }
    showHeader();
    layOutRows();
}

void UpdateFlowView::showHeader()
{
    const AppModel &model = *m_model;
    const QHash<QString, UpdateState> &progress = model.updateProgress();
    const auto of = [](const std::array<int, 7> &counts, UpdateState::Kind kind) { return counts[kindSlot(kind)]; };
    using Kind = UpdateState::Kind;
    // isTerminal: a non-empty map in which every state ends an update.
    m_allTerminal = !progress.isEmpty()
        && of(m_progressKinds, Kind::queued) + of(m_progressKinds, Kind::running) + of(m_progressKinds, Kind::idle) == 0;
    int active = 0;
    for (int bucket = 0; bucket < kWaitingBucket; ++bucket)
        active += m_heights->count(bucket);
    // headerSubtitle, from the counts.
    QString subtitle;
    if (m_allTerminal)
        subtitle = QStringLiteral("All done.");
    else if (model.isPaused())
        subtitle = QStringLiteral("Queue paused.");
    else if (active > 0 && of(m_activeKinds, Kind::running) > 0)
        subtitle = QStringLiteral("Running your update queue...");
    else if (active > 0 && of(m_activeKinds, Kind::queued) > 0)
        subtitle = QStringLiteral("Up next in the queue...");
    else
        subtitle = QStringLiteral("Waiting to start...");
    if (m_subtitle->text() != subtitle)
        m_subtitle->setText(subtitle);
    setFinished(m_allTerminal);
    if (m_allTerminal) {
        // completionMessage: the active apps' states, else every state of the map.
        const std::array<int, 7> &counts = active > 0 ? m_activeKinds : m_progressKinds;
        const qsizetype failed = of(counts, Kind::failed);
        const qsizetype skipped = of(counts, Kind::skipped) + of(counts, Kind::quitDenied);
        QString completion;
        if (failed == 0 && skipped == 0)
            completion = QStringLiteral("The library is in order.");
        else if (failed == 0)
            completion = QStringLiteral("%1 %2 skipped.").arg(skipped).arg(appsWord(skipped));
        else if (skipped > 0)
            completion = QStringLiteral("%1 %2 couldn't be updated and %3 skipped — see details above.")
                             .arg(failed)
                             .arg(appsWord(failed))
                             .arg(skipped);
        else
            completion = QStringLiteral("%1 %2 couldn't be updated — see details above.").arg(failed).arg(appsWord(failed));
        if (m_completion->text() != completion)
            m_completion->setText(completion);
    }
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
    if (m_layingOut)
        return;
    m_layingOut = true;
    // The list's length first: its scroll bar decides which rows are near
    // the visible part. Placing rows measures them, which may change it.
    for (int pass = 0; pass < 2; ++pass) {
        const int height = contentHeight();
        if (m_rowsHost->size() != QSize(kWidth, height))
            m_rowsHost->resize(kWidth, height);
        const int listHeight = qMin(height, kMaximumListHeight);
        if (m_scroll->height() != listHeight || m_scroll->minimumHeight() != listHeight)
            m_scroll->setFixedHeight(listHeight);
        showRowsInView();
        if (contentHeight() == height)
            break;
    }
    m_layingOut = false;
}

void UpdateFlowView::showRowsInView()
{
    if (!m_heights || !m_model)
        return;
    // Rows far from the visible part of the list are not placed, so that
    // moving them as the order changes costs nothing; one that enters is
    // brought up to date and measured as it is placed.
    const QList<AppRecord> &apps = m_model->apps();
    const int top = m_scroll->verticalScrollBar()->value();
    const qint64 bandTop = qint64(top) - kMaximumListHeight;
    const qint64 bandBottom = qint64(top) + 2 * kMaximumListHeight;
    QList<UpdateRowView *> placed;
    for (int bucket = 0; bucket < kBuckets; ++bucket) {
        if (m_heights->count(bucket) == 0)
            continue;
        const qint64 base = bucketTop(bucket);
        if (base >= bandBottom)
            break;
        if (base + m_heights->total(bucket) <= bandTop)
            continue;
        for (int position = m_heights->at(bucket, qMax<qint64>(0, bandTop - base)); position < m_heights->size();
             position = m_heights->next(bucket, position)) {
            const qint64 y = base + m_heights->before(bucket, position);
            if (y >= bandBottom)
                break;
            const QString &bundleId = apps.at(position).bundle_id;
            const auto found = m_entries.find(bundleId);
            if (found == m_entries.end())
                break; // never: each placed position has its entry
            Entry &entry = *found;
            if (!entry.row) {
                buildRow(bundleId, entry);
            } else if (entry.stale) {
                entry.row->setApp(apps.at(position));
                entry.row->refresh();
                entry.stale = false;
                ++m_rowsUpdated;
                measure(entry);
            }
            const QRect geometry(kListSideMargin, int(y), kRowWidth, entry.height - kRowSpacing);
            if (entry.row->geometry() != geometry)
                entry.row->setGeometry(geometry);
            if (entry.row->isHidden())
                entry.row->show();
            placed.append(entry.row);
        }
    }
    if (m_heights->count(kWaitingBucket) > 0) {
        const int headingHeight = m_waitingHeading->sizeHint().height();
        m_waitingHeading->setGeometry(kListSideMargin, bucketTop(kWaitingBucket) - kRowSpacing - headingHeight,
                                      kRowWidth, headingHeight);
        m_waitingHeading->show();
    } else {
        m_waitingHeading->hide();
    }
    // The rows placed before and not now: out of sight.
    const QSet<UpdateRowView *> now(placed.cbegin(), placed.cend());
    for (UpdateRowView *row : std::as_const(m_placed)) {
        if (!now.contains(row)) {
            const auto entry = m_entries.constFind(row->app().bundle_id);
            putRowAside(row, entry != m_entries.cend() && entry->remedy);
        }
    }
    m_placed = std::move(placed);
}

void UpdateFlowView::scrollToRow(UpdateRowView *row)
{
    const auto entry = m_entries.constFind(row->app().bundle_id);
    if (entry == m_entries.cend() || entry->bucket < 0)
        return;
    const int y = bucketTop(entry->bucket) + int(m_heights->before(entry->bucket, entry->position));
    QScrollBar *bar = m_scroll->verticalScrollBar();
    const int visible = m_scroll->viewport()->height();
    if (y < bar->value())
        bar->setValue(y);
    else if (y + entry->height - kRowSpacing > bar->value() + visible)
        bar->setValue(y + entry->height - kRowSpacing - visible);
    else if (!m_placed.contains(row))
        showRowsInView();
}

QList<UpdateRowView *> UpdateFlowView::laidOutRows(bool waiting) const
{
    QList<std::pair<std::pair<int, int>, UpdateRowView *>> rows;
    for (const Entry &entry : m_entries) {
        if (!entry.row || (entry.bucket == kWaitingBucket) != waiting)
            continue;
        if (entry.remedy || m_placed.contains(entry.row))
            rows.append({{entry.bucket, entry.position}, entry.row});
    }
    std::sort(rows.begin(), rows.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    QList<UpdateRowView *> ordered;
    ordered.reserve(rows.size());
    for (const auto &[key, row] : rows)
        ordered.append(row);
    return ordered;
}
