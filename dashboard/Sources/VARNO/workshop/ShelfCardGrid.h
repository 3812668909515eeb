#pragma once

#include "records/AppRecord.h"

#include <QAbstractScrollArea>
#include <QHash>
#include <QList>
#include <QPointer>

#include <functional>
#include <memory>

class AppModel;
class ShelfCard;

// The shelf's cards, built lazily: the simple cards in an adaptive grid
// (columns of at least 240, 10 apart, padded 16), or the detailed rows in a
// list (1 apart on the border colour, corners rounded by 12, padded 16).
//
// Only the cards in view (and, from the first frame on, one row beyond each
// edge, so that Tab can walk on) exist. As the view scrolls, cards that leave it are kept aside and bound
// to the records that come into view, so a library of any size costs about a
// screenful of widgets. Row heights come from the cards' heightFor(), asked of
// one measuring card that is never shown, and kept per record: a keystroke in
// the search field or a scroll measures nothing again. A layout measures the
// rows down to the view's bottom edge (and one more) at once; the rows below
// take an estimate until they are measured, a batch at a time, while the
// event loop is idle after a frame, or as soon as scrolling brings them near
// the view. So
// the first frame costs a screenful whatever the library's size, and nothing
// in view moves when an estimate is replaced. What a card's height
// depends on drops them all: the library changing (a record's text), the
// model state the cards follow (progress, incidents, busy flags), the column
// width, the card kind, and the appearance or the fonts.
class ShelfCardGrid : public QAbstractScrollArea {
    Q_OBJECT

public:
    ShelfCardGrid(AppModel *model, std::function<void(const AppRecord &)> showProvenance, QWidget *parent = nullptr);
    ~ShelfCardGrid() override;

    // The simple grid (false) or the details list (true). Switching drops
    // every card: the two layouts use different cards.
    void setDetailsMode(bool detailsMode);
    bool detailsMode() const { return m_detailsMode; }

    // The records to show: positions in the model's library, in order. Cards
    // that stay in view keep their widget and are bound again only when their
    // record changed.
    void setRecords(QList<qsizetype> positions);
    const QList<qsizetype> &records() const { return m_positions; }

    // Measures the rows (those whose height may have changed) and places the
    // cards. While the grid is hidden this waits until it shows.
    void relayout();

    // For tests and benchmarks.
    int columnCount() const { return m_columns; }
    // How many times a card's height was worked out since the grid was made.
    int heightsMeasured() const { return m_heightsMeasured; }
    // Whether every row's height is measured (none is an estimate).
    bool heightsSettled() const { return !m_estimated; }
    int contentHeight() const { return m_contentHeight; }
    // The cards that exist (in view or kept aside), and those in view, in
    // record order.
    int builtCardCount() const;
    QList<ShelfCard *> cardsInView() const;
    // The card's rectangle in content coordinates (before scrolling).
    QRect cellRect(qsizetype index) const;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void showEvent(QShowEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    struct Row {
        int top = 0;
        int height = 0;
    };

    ShelfCard *measuringCard();
    void measure();
    void layOutRestLater();
    void layOutRest();
    // Drops every kept height; the next layout measures afresh.
    void forgetHeights();
    int heightOf(qsizetype position, const AppRecord &record);
    void placeCards();
    void scrollToShow(QWidget *focused);
    int rowOf(qsizetype index) const;
    void paintListBackground(QPainter &painter);

    QPointer<AppModel> m_model;
    std::function<void(const AppRecord &)> m_showProvenance;
    bool m_detailsMode = false;
    bool m_modeChosen = false;
    QList<qsizetype> m_positions;
    int m_columns = 1;
    int m_columnWidth = 0;
    int m_contentHeight = 0;
    int m_measuredWidth = -1;
    bool m_layoutPending = false;
    QList<Row> m_rows;
    // Card heights by position in the model's library (-1: not measured),
    // at m_heightsWidth.
    QList<int> m_heights;
    int m_heightsWidth = -1;
    int m_heightsMeasured = 0;
    // Whether rows below the view have an estimated height, and whether the
    // rows beyond the view's edges are built; until both are done, a paint
    // posts layOutRest().
    bool m_estimated = false;
    bool m_edgeRows = false;
    bool m_restPosted = false;
    std::unique_ptr<ShelfCard> m_measure;
    // Cards in view by index into m_positions, with the record each shows.
    QHash<qsizetype, ShelfCard *> m_active;
    QHash<ShelfCard *, AppRecord> m_bound;
    QList<ShelfCard *> m_spare;
    QList<QWidget *> m_corners;
};
