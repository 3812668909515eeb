#pragma once

#include "model/AppFilter.h"
#include "records/AppRecord.h"
#include "workshop/ShelfRules.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class AppModel;
class BruskView;
class QLabel;
class QScrollArea;
class QStackedLayout;
class ShelfCardGrid;
class SkeletonAppCardView;
class StyledButton;

// The shelf: the library's apps as cards, narrowed by the window's filter and
// search text, as a grid of simple cards or a list of detailed rows; or, when
// there is nothing to show, exactly one state instead (placeholders while the
// first scan runs, an error, a tidy library, a library that did not load, a
// first run, or the filter's empty text). It holds nothing of the library:
// what it shows follows the model, the filter and the search text. Choosing a
// card calls `showProvenance` with its record.
class ShelfView : public QWidget {
    Q_OBJECT

public:
    ShelfView(AppModel *model, std::function<void(const AppRecord &)> showProvenance, QWidget *parent = nullptr);

    void setFilter(AppFilter filter);
    AppFilter filter() const { return m_filter; }
    void setSearchText(const QString &text);
    QString searchText() const { return m_searchText; }

    ShelfRules::ShelfState state() const { return m_state; }
    // The shelf's records (the filter's, narrowed by the search), as positions
    // in the model's library, and as copies (tests).
    const QList<qsizetype> &filteredPositions() const { return m_positions; }
    QList<AppRecord> filteredApps() const;

    // The parts (tests, screenshots, benchmarks).
    ShelfCardGrid *grid() const { return m_grid; }
    QLabel *stateTitle() const { return m_title; }
    QLabel *stateSubtitle() const { return m_subtitle; }
    StyledButton *stateButton() const { return m_button; }
    QList<SkeletonAppCardView *> placeholders() const { return m_placeholders; }

private:
    void refresh();
    void showStateBlock(const ShelfRules::StateBlock &block);
    void runStateAction();
    void layOutPlaceholders();
    void fitSubtitle();
    bool eventFilter(QObject *watched, QEvent *event) override;

    QPointer<AppModel> m_model;
    AppFilter m_filter = AppFilter::all;
    QString m_searchText;
    ShelfRules::ShelfState m_state = ShelfRules::ShelfState::firstRun;
    QList<qsizetype> m_positions;

    QStackedLayout *m_pages;
    ShelfCardGrid *m_grid;
    QScrollArea *m_blockArea;
    QWidget *m_block;
    BruskView *m_artwork;
    QLabel *m_title;
    QLabel *m_subtitle;
    StyledButton *m_button;
    QWidget *m_placeholderPage;
    QList<SkeletonAppCardView *> m_placeholders;
};
