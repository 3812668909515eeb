#include "workshop/ShelfCardGrid.h"

#include "kit/VarnoColor.h"
#include "model/AppModel.h"
#include "model/ModelChanges.h"
#include "widgets/ShelfCard.h"
#include "workshop/ShelfRules.h"
#include "workshop/ViewHelpers.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>

#include <algorithm>

namespace {

constexpr int kListSpacing = 1;
constexpr qreal kListRadius = 12;
constexpr int kScrollStep = 24;
// Heights measured per turn of the event loop once the view is laid out:
// a few milliseconds' work.
constexpr int kHeightsPerTurn = 200;

// Paints the scroll area's colour over one corner of the details list,
// outside the list's rounded edge, so that the rows show clipped to it.
class ListCorner : public QWidget {
public:
    ListCorner(Qt::Corner corner, QWidget *parent)
        : QWidget(parent)
        , m_corner(corner)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        resize(int(kListRadius), int(kListRadius));
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        // A square of twice the radius, placed so that its quarter in this
        // widget is the list's rounded corner; what lies outside it is
        // painted over.
        const qreal d = 2 * kListRadius;
        const qreal x = (m_corner == Qt::TopLeftCorner || m_corner == Qt::BottomLeftCorner) ? 0 : -kListRadius;
        const qreal y = (m_corner == Qt::TopLeftCorner || m_corner == Qt::TopRightCorner) ? 0 : -kListRadius;
        QPainterPath outside;
        outside.addRect(QRectF(rect()));
        QPainterPath inside;
        inside.addRoundedRect(QRectF(x, y, d, d), kListRadius, kListRadius);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(outside.subtracted(inside), VarnoColor::backgroundRaised().resolved());
    }

private:
    Qt::Corner m_corner;
};

} // namespace

ShelfCardGrid::ShelfCardGrid(AppModel *model, std::function<void(const AppRecord &)> showProvenance, QWidget *parent)
    : QAbstractScrollArea(parent)
    , m_model(model)
    , m_showProvenance(std::move(showProvenance))
{
    setObjectName(QStringLiteral("shelfGrid"));
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The scroll indicator is always shown; it also keeps the width steady,
    // so the grid's columns never flip as the bar comes and goes.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    verticalScrollBar()->setSingleStep(kScrollStep);
    viewport()->setBackgroundRole(QPalette::Window);
    viewport()->setAutoFillBackground(true);
    styleScrollBar(verticalScrollBar());
    VarnoColor::bindBackground(viewport(), VarnoColor::backgroundRaised());
    VarnoColor::repaintOnAppearanceChange(viewport());
    for (const Qt::Corner corner : {Qt::TopLeftCorner, Qt::TopRightCorner, Qt::BottomLeftCorner, Qt::BottomRightCorner}) {
        auto *mask = new ListCorner(corner, viewport());
        VarnoColor::repaintOnAppearanceChange(mask);
        mask->hide();
        m_corners.append(mask);
    }
    // The kept heights follow what a card's height depends on. These run
    // before the shelf's own handlers of the same signals (connected later),
    // so a layout they start measures afresh.
    if (m_model) {
        ModelChanges::follow(m_model, this, ModelChanges::Field::apps, [this] { forgetHeights(); });
        connectCardRefresh(m_model, this, [this] { forgetHeights(); });
    }
    VarnoColor::onAppearanceChange(this, [this] {
        forgetHeights();
        relayout();
    });
    connect(qApp, &QGuiApplication::fontDatabaseChanged, this, [this] {
        forgetHeights();
        relayout();
    });
    // A card that takes the keyboard focus (Tab reaches the row beyond each
    // edge) is scrolled into view, which builds the next row in turn.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        if (now && viewport()->isAncestorOf(now))
            scrollToShow(now);
    });
}

ShelfCardGrid::~ShelfCardGrid() = default;

void ShelfCardGrid::setDetailsMode(bool detailsMode)
{
    if (m_modeChosen && detailsMode == m_detailsMode)
        return;
    m_modeChosen = true;
    m_detailsMode = detailsMode;
    // The two layouts take different cards: drop every card of the old one.
    for (ShelfCard *card : std::as_const(m_active))
        card->deleteLater();
    for (ShelfCard *card : std::as_const(m_spare))
        card->deleteLater();
    m_active.clear();
    m_spare.clear();
    m_bound.clear();
    m_measure.reset();
    forgetHeights();
    verticalScrollBar()->setValue(0);
    relayout();
}

void ShelfCardGrid::setRecords(QList<qsizetype> positions)
{
    m_positions = std::move(positions);
    relayout();
}

void ShelfCardGrid::relayout()
{
    // A hidden grid (the window not shown yet, or the shelf on another page)
    // lays out once it shows, at the size it shows at.
    if (!isVisible()) {
        m_layoutPending = true;
        return;
    }
    m_layoutPending = false;
    measure();
    placeCards();
    viewport()->update();
}

ShelfCard *ShelfCardGrid::measuringCard()
{
    if (!m_measure) {
        m_measure.reset(makeShelfCard(m_model, m_detailsMode, {}, nullptr));
        m_measure->setAttribute(Qt::WA_DontShowOnScreen);
    }
    return m_measure.get();
}

void ShelfCardGrid::measure()
{
    using namespace ShelfRules;
    const int width = viewport()->width();
    m_measuredWidth = width;
    if (m_detailsMode) {
        m_columns = 1;
        m_columnWidth = std::max(1, width - 2 * kPadding);
    } else {
        m_columns = gridColumns(width);
        m_columnWidth = columnWidth(width, m_columns);
    }
    const int spacing = m_detailsMode ? kListSpacing : kSpacing;
    m_rows.clear();
    m_estimated = false;
    int top = kPadding;
    if (m_model && !m_positions.isEmpty()) {
        const QList<AppRecord> &apps = m_model->apps();
        if (m_heightsWidth != m_columnWidth || m_heights.size() != apps.size()) {
            m_heights.fill(-1, apps.size());
            m_heightsWidth = m_columnWidth;
        }
        // Rows that start above the view's bottom edge, and the one after
        // them (built for Tab to walk on), are measured now; so nothing in
        // view or above it ever rests on an estimate.
        const int bottom = verticalScrollBar()->value() + viewport()->height();
        int rowsBelow = 0;
        int estimate = 0;
        m_rows.reserve((m_positions.size() + m_columns - 1) / m_columns);
        for (qsizetype first = 0; first < m_positions.size(); first += m_columns) {
            const bool now = top <= bottom || rowsBelow++ < 1;
            int height = 0;
            bool known = true;
            const qsizetype end = std::min(first + m_columns, m_positions.size());
            for (qsizetype i = first; i < end && known; ++i) {
                const qsizetype position = m_positions.at(i);
                if (position < 0 || position >= apps.size())
                    continue;
                if (now)
                    height = std::max(height, heightOf(position, apps.at(position)));
                else if (m_heights.at(position) >= 0)
                    height = std::max(height, m_heights.at(position));
                else
                    known = false;
            }
            if (!known) {
                // The shortest row measured so far: a card of one status line.
                height = estimate > 0 ? estimate : height;
                m_estimated = true;
            } else if (height > 0) {
                estimate = estimate > 0 ? std::min(estimate, height) : height;
            }
            m_rows.append(Row{top, height});
            top += height + spacing;
        }
        top -= spacing;
    }
    m_contentHeight = top + kPadding;
    QScrollBar *bar = verticalScrollBar();
    bar->setPageStep(std::max(1, viewport()->height()));
    bar->setRange(0, std::max(0, m_contentHeight - viewport()->height()));
    // The estimates are measured once a frame is painted (paintEvent()).
}

void ShelfCardGrid::layOutRestLater()
{
    // A posted call rather than a timer: each batch waits for a turn of the
    // event loop of its own, after whatever input came meanwhile.
    if (m_restPosted)
        return;
    m_restPosted = true;
    QMetaObject::invokeMethod(this, &ShelfCardGrid::layOutRest, Qt::QueuedConnection);
}

void ShelfCardGrid::layOutRest()
{
    m_restPosted = false;
    if (!m_model || !isVisible())
        return;
    // The rows beyond the view's edges, left out of the first frame.
    if (!m_edgeRows) {
        m_edgeRows = true;
        placeCards();
    }
    // A grid whose kept heights were dropped measures when it lays out next.
    if (!m_estimated || m_heightsWidth != m_columnWidth)
        return;
    const QList<AppRecord> &apps = m_model->apps();
    if (m_heights.size() != apps.size())
        return;
    int measured = 0;
    for (const qsizetype position : std::as_const(m_positions)) {
        if (position < 0 || position >= apps.size() || m_heights.at(position) >= 0)
            continue;
        if (measured == kHeightsPerTurn) {
            layOutRestLater();
            return;
        }
        heightOf(position, apps.at(position));
        ++measured;
    }
    // Every height is known: the rows below the view take them. What is in
    // view stays where it is; the scroll bar learns the true length.
    measure();
    placeCards();
    viewport()->update();
}

int ShelfCardGrid::heightOf(qsizetype position, const AppRecord &record)
{
    int &kept = m_heights[position];
    if (kept < 0) {
        kept = measuringCard()->heightFor(record, m_columnWidth);
        ++m_heightsMeasured;
    }
    return kept;
}

void ShelfCardGrid::forgetHeights()
{
    m_heights.clear();
    m_heightsWidth = -1;
}

int ShelfCardGrid::rowOf(qsizetype index) const
{
    return int(index / std::max(1, m_columns));
}

QRect ShelfCardGrid::cellRect(qsizetype index) const
{
    const int row = rowOf(index);
    if (index < 0 || row >= m_rows.size())
        return {};
    const int column = int(index % m_columns);
    const int spacing = m_detailsMode ? 0 : ShelfRules::kSpacing;
    const int x = ShelfRules::kPadding + column * (m_columnWidth + spacing);
    return QRect(x, m_rows.at(row).top, m_columnWidth, m_rows.at(row).height);
}

void ShelfCardGrid::placeCards()
{
    const int offset = verticalScrollBar()->value();
    const int bottom = offset + viewport()->height();
    // The rows in view, and one beyond each edge once a frame is painted.
    auto firstVisible = std::partition_point(m_rows.cbegin(), m_rows.cend(),
                                             [offset](const Row &row) { return row.top + row.height < offset; });
    auto endVisible = std::partition_point(firstVisible, m_rows.cend(),
                                           [bottom](const Row &row) { return row.top <= bottom; });
    const int edge = m_edgeRows ? 1 : 0;
    int firstRow = int(firstVisible - m_rows.cbegin()) - edge;
    int endRow = int(endVisible - m_rows.cbegin()) + edge;
    firstRow = std::max(0, firstRow);
    endRow = std::min(int(m_rows.size()), endRow);
    const qsizetype firstIndex = qsizetype(firstRow) * m_columns;
    const qsizetype endIndex = std::min(qsizetype(endRow) * m_columns, m_positions.size());

    // Cards that left the view are kept aside.
    for (auto it = m_active.begin(); it != m_active.end();) {
        if (it.key() < firstIndex || it.key() >= endIndex) {
            it.value()->hide();
            m_spare.append(it.value());
            it = m_active.erase(it);
        } else {
            ++it;
        }
    }
    if (!m_model)
        return;
    const QList<AppRecord> &apps = m_model->apps();
    ShelfCard *previous = nullptr;
    for (qsizetype index = firstIndex; index < endIndex; ++index) {
        const qsizetype position = m_positions.at(index);
        if (position < 0 || position >= apps.size())
            continue;
        ShelfCard *card = m_active.value(index);
        if (!card) {
            card = m_spare.isEmpty() ? makeShelfCard(m_model, m_detailsMode, m_showProvenance, viewport())
                                     : m_spare.takeLast();
            m_active.insert(index, card);
        }
        // Placed first, so that the card lays out its record once, at the
        // cell's width.
        card->setGeometry(cellRect(index).translated(0, -offset));
        const AppRecord &record = apps.at(position);
        auto bound = m_bound.find(card);
        if (bound == m_bound.end() || !(*bound == record)) {
            card->bind(record);
            m_bound.insert(card, record);
        }
        card->show();
        if (previous)
            QWidget::setTabOrder(previous, card);
        previous = card;
    }

    const bool corners = m_detailsMode && !m_rows.isEmpty();
    for (QWidget *corner : std::as_const(m_corners))
        corner->setVisible(corners);
    if (corners) {
        const int left = ShelfRules::kPadding;
        const int right = left + m_columnWidth - int(kListRadius);
        const int top = ShelfRules::kPadding - offset;
        const int end = m_rows.last().top + m_rows.last().height - offset - int(kListRadius);
        m_corners.at(0)->move(left, top);
        m_corners.at(1)->move(right, top);
        m_corners.at(2)->move(left, end);
        m_corners.at(3)->move(right, end);
        for (QWidget *corner : std::as_const(m_corners))
            corner->raise();
    }
}

int ShelfCardGrid::builtCardCount() const
{
    return int(m_active.size() + m_spare.size());
}

QList<ShelfCard *> ShelfCardGrid::cardsInView() const
{
    QList<qsizetype> indices = m_active.keys();
    std::sort(indices.begin(), indices.end());
    QList<ShelfCard *> cards;
    const QRect view = viewport()->rect();
    for (const qsizetype index : indices) {
        ShelfCard *card = m_active.value(index);
        if (card->geometry().intersects(view))
            cards.append(card);
    }
    return cards;
}

void ShelfCardGrid::scrollToShow(QWidget *focused)
{
    QWidget *card = focused;
    while (card && card->parentWidget() != viewport())
        card = card->parentWidget();
    if (!card)
        return;
    const QRect area = card->geometry();
    QScrollBar *bar = verticalScrollBar();
    if (area.top() < 0)
        bar->setValue(bar->value() + area.top() - ShelfRules::kPadding);
    else if (area.bottom() > viewport()->height())
        bar->setValue(bar->value() + area.bottom() - viewport()->height() + ShelfRules::kPadding);
}

void ShelfCardGrid::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

void ShelfCardGrid::showEvent(QShowEvent *event)
{
    QAbstractScrollArea::showEvent(event);
    if (m_layoutPending)
        relayout();
}

void ShelfCardGrid::scrollContentsBy(int, int)
{
    // Nothing is scrolled by pixels: the cards in view are placed (and the
    // ones coming into view bound) afresh. Rows coming into view that still
    // have an estimated height are measured first.
    if (m_estimated)
        measure();
    placeCards();
    viewport()->update();
}

bool ShelfCardGrid::viewportEvent(QEvent *event)
{
    // The scroll bar coming or going changes the viewport's width alone.
    if (event->type() == QEvent::Resize && viewport()->width() != m_measuredWidth)
        relayout();
    return QAbstractScrollArea::viewportEvent(event);
}

bool ShelfCardGrid::event(QEvent *event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::ApplicationFontChange) {
        forgetHeights();
        relayout();
    }
    return QAbstractScrollArea::event(event);
}

void ShelfCardGrid::paintEvent(QPaintEvent *)
{
    // A frame is on its way: the rows beyond the view's edges are built and
    // the estimated ones measured after it, while the event loop is idle.
    if (!m_edgeRows || m_estimated)
        layOutRestLater();
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), VarnoColor::backgroundRaised().resolved());
    if (m_detailsMode && !m_rows.isEmpty())
        paintListBackground(painter);
}

void ShelfCardGrid::paintListBackground(QPainter &painter)
{
    // The border colour behind the rows, seen as a hairline in each 1-point
    // gap between them.
    const int offset = verticalScrollBar()->value();
    const QRect list(ShelfRules::kPadding, ShelfRules::kPadding - offset, m_columnWidth,
                     m_rows.last().top + m_rows.last().height - ShelfRules::kPadding);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(list), kListRadius, kListRadius);
    painter.fillPath(path, VarnoColor::border().resolved());
}
