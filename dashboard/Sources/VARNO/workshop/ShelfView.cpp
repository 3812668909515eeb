#include "workshop/ShelfView.h"

#include "base/Async.h"
#include "kit/BrandArtwork.h"
#include "kit/ButtonStyles.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "model/AppModel.h"
#include "model/ModelChanges.h"
#include "widgets/Skeleton.h"
#include "workshop/LibraryFilters.h"
#include "workshop/ShelfCardGrid.h"
#include "workshop/ViewHelpers.h"

#include <QEvent>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedLayout>
#include <QVBoxLayout>

#include <algorithm>

using ShelfRules::ShelfState;

namespace {

constexpr int kSubtitleWidthLimit = 460;
constexpr int kPlaceholderHeight = 70; // 16 + 38 + 16

// The state block's button: the prominent (gold) style with the label in the
// interface face at 14 medium, padded 16 by 8.
ButtonStyle stateButtonStyle()
{
    ButtonStyle style = PrimaryButtonStyle();
    style.face = ButtonStyle::Face{14, QFont::Medium};
    style.horizontalPadding = 16;
    style.verticalPadding = 8;
    return style;
}

QFont titleFont()
{
    QFont font = VarnoFont::brusk(24, QFont::Light);
    font.setItalic(true);
    return font;
}

} // namespace

ShelfView::ShelfView(AppModel *model, std::function<void(const AppRecord &)> showProvenance, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_pages(new QStackedLayout(this))
    , m_grid(new ShelfCardGrid(model, std::move(showProvenance), this))
    , m_blockArea(new QScrollArea(this))
    , m_block(new QWidget())
    , m_artwork(new BruskView(120, BruskVariant::main, m_block))
    , m_title(new QLabel(m_block))
    , m_subtitle(new QLabel(m_block))
    , m_button(new StyledButton(stateButtonStyle(), m_block))
    , m_placeholderPage(new QWidget(this))
{
    setObjectName(QStringLiteral("shelf"));
    VarnoColor::bindBackground(this, VarnoColor::backgroundRaised());

    // A state block: artwork, title, subtitle and a button, centred, 80 below
    // the top, inside a scroll area like the grids.
    auto *column = new QVBoxLayout(m_block);
    column->setContentsMargins(16, 80, 16, 16);
    column->setSpacing(16);
    column->addWidget(m_artwork, 0, Qt::AlignHCenter);
    m_title->setTextFormat(Qt::PlainText);
    m_title->setFont(titleFont());
    m_title->setAlignment(Qt::AlignCenter);
    m_title->setWordWrap(true);
    VarnoColor::bindForeground(m_title, VarnoColor::textSecondary());
    column->addWidget(m_title);
    m_subtitle->setTextFormat(Qt::PlainText);
    m_subtitle->setFont(VarnoFont::ui(14));
    m_subtitle->setAlignment(Qt::AlignCenter);
    m_subtitle->setWordWrap(true);
    m_subtitle->setTextInteractionFlags(Qt::TextSelectableByMouse);
    VarnoColor::bindForeground(m_subtitle, VarnoColor::textTertiary());
    column->addWidget(m_subtitle);
    column->addSpacing(12); // above the button
    column->addWidget(m_button, 0, Qt::AlignHCenter);
    column->addStretch(1);
    m_block->setAutoFillBackground(false);
    m_blockArea->setWidget(m_block);
    m_blockArea->setWidgetResizable(true);
    m_blockArea->setFrameShape(QFrame::NoFrame);
    m_blockArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    styleScrollBar(m_blockArea->verticalScrollBar());
    VarnoColor::bindBackground(m_blockArea->viewport(), VarnoColor::backgroundRaised());
    connect(m_button, &QPushButton::clicked, this, &ShelfView::runStateAction);

    // Six placeholder cards in the card grid's columns.
    for (int i = 0; i < ShelfRules::kPlaceholderCount; ++i)
        m_placeholders.append(new SkeletonAppCardView(m_placeholderPage));
    m_placeholderPage->installEventFilter(this);
    m_blockArea->viewport()->installEventFilter(this);
    VarnoColor::bindBackground(m_placeholderPage, VarnoColor::backgroundRaised());

    m_pages->addWidget(m_grid);
    m_pages->addWidget(m_blockArea);
    m_pages->addWidget(m_placeholderPage);

    if (m_model) {
        // An incident line may change a detailed row's height (a refresh
        // lays the grid out again); the cards follow the rest of the model
        // (update progress) themselves.
        using F = ModelChanges::Field;
        ModelChanges::follow(m_model, this,
                             F::apps | F::isScanning | F::error | F::hasEverScanned | F::lastScanDate | F::detailsMode
                                 | F::incidents,
                             [this] { refresh(); });
    }
    refresh();
}

void ShelfView::setFilter(AppFilter filter)
{
    if (filter == m_filter)
        return;
    m_filter = filter;
    refresh();
}

void ShelfView::setSearchText(const QString &text)
{
    if (text == m_searchText)
        return;
    m_searchText = text;
    refresh();
}

QList<AppRecord> ShelfView::filteredApps() const
{
    QList<AppRecord> records;
    if (!m_model)
        return records;
    for (const qsizetype position : m_positions)
        records.append(m_model->apps().at(position));
    return records;
}

void ShelfView::refresh()
{
    if (!m_model)
        return;
    m_positions = LibraryFilters::filteredIndices(m_model->apps(), m_filter, m_searchText);
    ShelfRules::Inputs inputs;
    inputs.isScanning = m_model->isScanning();
    inputs.appsEmpty = m_model->apps().isEmpty();
    inputs.hasError = m_model->error().has_value();
    inputs.hasEverScanned = m_model->hasEverScanned();
    inputs.hasLastScanDate = m_model->lastScanDate().has_value();
    inputs.filteredEmpty = m_positions.isEmpty();
    inputs.detailsMode = m_model->detailsMode();
    inputs.filter = m_filter;
    m_state = ShelfRules::state(inputs);

    switch (m_state) {
    case ShelfState::placeholders:
        m_grid->setRecords({});
        m_pages->setCurrentWidget(m_placeholderPage);
        layOutPlaceholders();
        break;
    case ShelfState::detailsList:
    case ShelfState::cardGrid:
        m_grid->setDetailsMode(m_state == ShelfState::detailsList);
        m_grid->setRecords(m_positions);
        m_pages->setCurrentWidget(m_grid);
        break;
    default:
        m_grid->setRecords({});
        showStateBlock(ShelfRules::stateBlock(m_state, m_filter, m_model->error()));
        m_pages->setCurrentWidget(m_blockArea);
        break;
    }
}

void ShelfView::showStateBlock(const ShelfRules::StateBlock &block)
{
    m_artwork->setVariant(block.variant);
    m_artwork->setSide(block.artworkSize);
    m_title->setText(block.title);
    m_subtitle->setText(block.subtitle);
    // The filters' empty texts are set in lines at most 460 wide; the others
    // take the width of the shelf.
    auto *column = static_cast<QVBoxLayout *>(m_block->layout());
    if (m_state == ShelfState::filterEmpty) {
        m_subtitle->setFixedWidth(kSubtitleWidthLimit);
        column->setAlignment(m_subtitle, Qt::AlignHCenter);
    } else {
        m_subtitle->setMinimumWidth(0);
        m_subtitle->setMaximumWidth(QWIDGETSIZE_MAX);
        column->setAlignment(m_subtitle, Qt::Alignment());
    }
    fitSubtitle();
    m_button->setText(block.button);
    m_button->setAccessibleName(block.button);
    m_button->setVisible(!block.button.isEmpty());
}

void ShelfView::runStateAction()
{
    if (!m_model)
        return;
    switch (m_state) {
    case ShelfState::loadFailed:
        // Reload library: acknowledge the error, then load (no scan).
        m_model->setError(std::nullopt);
        Async::detach(m_model->load());
        break;
    case ShelfState::firstRun:
        Async::detach(m_model->scan());
        break;
    case ShelfState::error:
        // Try again: acknowledge the error, then scan.
        m_model->setError(std::nullopt);
        Async::detach(m_model->scan());
        break;
    default:
        break;
    }
}

void ShelfView::layOutPlaceholders()
{
    const int width = m_placeholderPage->width();
    const int columns = ShelfRules::gridColumns(width);
    const int columnWidth = ShelfRules::columnWidth(width, columns);
    for (int i = 0; i < m_placeholders.size(); ++i) {
        const int row = i / columns;
        const int column = i % columns;
        m_placeholders.at(i)->setGeometry(ShelfRules::kPadding + column * (columnWidth + ShelfRules::kSpacing),
                                          ShelfRules::kPadding + row * (kPlaceholderHeight + ShelfRules::kSpacing),
                                          columnWidth, kPlaceholderHeight);
    }
}

void ShelfView::fitSubtitle()
{
    // A wrapped text inside a scroll area is given the height of its lines at
    // the width it is laid out at, and follows that width both ways. The
    // label never measures itself below its minimum height, so the old
    // minimum goes first: else a text first measured narrow (before the
    // window is shown) would keep that height and push the button out of view.
    const int width = m_state == ShelfState::filterEmpty ? kSubtitleWidthLimit
                                                         : std::max(1, m_blockArea->viewport()->width() - 32);
    m_subtitle->setMinimumHeight(0);
    m_subtitle->setMinimumHeight(std::max(0, m_subtitle->heightForWidth(width)));
}

bool ShelfView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_blockArea->viewport() && event->type() == QEvent::Resize)
        fitSubtitle();
    if (watched == m_placeholderPage && event->type() == QEvent::Resize)
        layOutPlaceholders();
    return QWidget::eventFilter(watched, event);
}
