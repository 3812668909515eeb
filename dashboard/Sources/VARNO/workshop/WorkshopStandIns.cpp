#include "workshop/WorkshopStandIns.h"

#include "kit/ButtonStyles.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "kit/VarnoSignals.h"
#include "model/AppModel.h"
#include "model/PosturePresenter.h"
#include "workshop/LibraryFilters.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QVBoxLayout>

namespace StandIn {

namespace {

QLabel *label(const QString &text, const QFont &font, const ColorPair &color, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    l->setFont(font);
    VarnoColor::bindForeground(l, color);
    return l;
}

QFont italicBrusk(qreal size)
{
    QFont font = VarnoFont::brusk(size, QFont::Light);
    font.setItalic(true);
    return font;
}

void styleList(QListWidget *list)
{
    list->setFrameShape(QFrame::NoFrame);
    list->setFont(VarnoFont::ui(13));
    VarnoColor::onAppearanceChange(list, [list] {
        QPalette palette = list->palette();
        palette.setColor(QPalette::Base, VarnoColor::backgroundRaised().resolved());
        palette.setColor(QPalette::Text, VarnoColor::textPrimary().resolved());
        palette.setColor(QPalette::Highlight, VarnoColor::surfaceHover().resolved());
        palette.setColor(QPalette::HighlightedText, VarnoColor::textPrimary().resolved());
        list->setPalette(palette);
    });
}

const QList<AppFilter> &sidebarOrder()
{
    static const QList<AppFilter> order{AppFilter::all,        AppFilter::outdated, AppFilter::atRisk,
                                        AppFilter::unmeasured, AppFilter::verified, AppFilter::brew,
                                        AppFilter::mas,        AppFilter::sparkle,  AppFilter::selfManaged};
    return order;
}

} // namespace

// --- SidebarView ---------------------------------------------------------------

SidebarView::SidebarView(AppModel *model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_list(new QListWidget(this))
{
    setObjectName(QStringLiteral("sidebar"));
    VarnoColor::bindBackground(this, VarnoColor::backgroundRaised());
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 16, 8, 12);
    layout->setSpacing(8);
    layout->addWidget(label(QStringLiteral("Library"), VarnoFont::mono(10), VarnoColor::textTertiary(), this));
    styleList(m_list);
    layout->addWidget(m_list, 1);
    layout->addWidget(label(QStringLiteral("Sidebar (stand-in)"), VarnoFont::mono(9), VarnoColor::textTertiary(), this));
    connect(m_list, &QListWidget::currentRowChanged, this, [this](int row) {
        if (m_refreshing || !m_model || row < 0 || row >= sidebarOrder().size())
            return;
        m_model->setSelectedFilter(sidebarOrder().at(row));
    });
    if (m_model) {
        connect(m_model, &AppModel::appsChanged, this, &SidebarView::refresh);
        connect(m_model, &AppModel::selectedFilterChanged, this, &SidebarView::refresh);
    }
    refresh();
}

void SidebarView::refresh()
{
    if (!m_model)
        return;
    m_refreshing = true;
    m_list->clear();
    for (const AppFilter filter : sidebarOrder()) {
        QString text = AppFilters::title(filter) + QStringLiteral("   ")
            + QString::number(LibraryFilters::count(*m_model, filter));
        if (const auto total = LibraryFilters::totalCount(*m_model, filter))
            text += QStringLiteral("/") + QString::number(*total);
        m_list->addItem(text);
    }
    m_list->setCurrentRow(int(sidebarOrder().indexOf(m_model->selectedFilter())));
    m_refreshing = false;
}

// --- ToolbarAreaView -------------------------------------------------------------

ToolbarAreaView::ToolbarAreaView(QLineEdit *searchField, std::function<void()> showEnvironment,
                                 std::function<void()> showDiagnostics, QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("toolbarArea"));
    VarnoColor::bindBackground(this, VarnoColor::backgroundRaised());
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(16, 10, 16, 10);
    row->setSpacing(8);
    row->addWidget(label(QStringLiteral("Toolbar (stand-in)"), VarnoFont::mono(10), VarnoColor::textTertiary(), this));
    row->addStretch(1);
    searchField->setParent(this);
    searchField->setFixedWidth(220);
    row->addWidget(searchField);
    auto *environment = new StyledButton(QStringLiteral("Environment"), GhostButtonStyle(), this);
    auto *diagnostics = new StyledButton(QStringLiteral("Diagnostics"), GhostButtonStyle(), this);
    row->addWidget(environment);
    row->addWidget(diagnostics);
    connect(environment, &QPushButton::clicked, this, [showEnvironment] { showEnvironment(); });
    connect(diagnostics, &QPushButton::clicked, this, [showDiagnostics] { showDiagnostics(); });
}

// --- GhostBannerView ---------------------------------------------------------------

GhostBannerView::GhostBannerView(AppModel *model, std::function<void()> showGhosts, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_text(label(QString(), VarnoFont::ui(12), VarnoColor::attention(), this))
{
    setObjectName(QStringLiteral("ghostBanner"));
    VarnoColor::bindBackground(this, VarnoColor::surface());
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(16, 8, 16, 8);
    row->addWidget(m_text, 1);
    auto *review = new StyledButton(QStringLiteral("Review"), GhostButtonStyle(), this);
    row->addWidget(review);
    connect(review, &QPushButton::clicked, this, [showGhosts] { showGhosts(); });
    if (m_model)
        connect(m_model, &AppModel::ghostAppsChanged, this, &GhostBannerView::refresh);
    refresh();
}

void GhostBannerView::refresh()
{
    if (m_model)
        m_text->setText(QStringLiteral("Ghost apps (stand-in): %1").arg(m_model->ghostApps().size()));
}

// --- ShelfView -------------------------------------------------------------------------

ShelfView::ShelfView(AppModel *model, std::function<void(const AppRecord &)> showProvenance, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_showProvenance(std::move(showProvenance))
    , m_list(new QListWidget(this))
    , m_empty(label(QString(), italicBrusk(20), VarnoColor::textSecondary(), this))
{
    setObjectName(QStringLiteral("shelf"));
    VarnoColor::bindBackground(this, VarnoColor::backgroundRaised());
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(8);
    layout->addWidget(label(QStringLiteral("Shelf (stand-in)"), VarnoFont::mono(10), VarnoColor::textTertiary(), this));
    styleList(m_list);
    layout->addWidget(m_list, 1);
    m_empty->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_empty, 1);
    connect(m_list, &QListWidget::itemActivated, this, [this](QListWidgetItem *item) {
        const int row = m_list->row(item);
        if (row >= 0 && row < m_shown.size() && m_showProvenance)
            m_showProvenance(m_shown.at(row));
    });
    connect(m_list, &QListWidget::itemClicked, m_list, &QListWidget::itemActivated);
    if (m_model) {
        connect(m_model, &AppModel::appsChanged, this, &ShelfView::refresh);
        connect(m_model, &AppModel::errorChanged, this, &ShelfView::refresh);
    }
    refresh();
}

void ShelfView::setFilter(AppFilter filter)
{
    m_filter = filter;
    refresh();
}

void ShelfView::setSearchText(const QString &text)
{
    m_searchText = text;
    refresh();
}

void ShelfView::refresh()
{
    m_list->clear();
    m_shown = m_model ? LibraryFilters::filteredApps(*m_model, m_filter, m_searchText) : QList<AppRecord>();
    for (const AppRecord &app : m_shown) {
        m_list->addItem(app.app_name + QStringLiteral("   ") + app.current_version.value_or(QStringLiteral("?"))
                        + (app.isOutdated() ? QStringLiteral(" → ") + app.latest_version.value_or(QString()) : QString()));
    }
    const bool empty = m_shown.isEmpty();
    m_list->setVisible(!empty);
    m_empty->setVisible(empty);
    if (empty) {
        if (m_model && m_model->apps().isEmpty() && m_model->error())
            m_empty->setText(*m_model->error());
        else
            m_empty->setText(QStringLiteral("Nothing to show here."));
    }
}

// --- StatusBarView ---------------------------------------------------------------------

StatusBarView::StatusBarView(AppModel *model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_text(label(QString(), VarnoFont::mono(11), VarnoColor::textSecondary(), this))
{
    setObjectName(QStringLiteral("statusBar"));
    VarnoColor::bindBackground(this, VarnoColor::background());
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(16, 8, 16, 8);
    row->addWidget(m_text, 1);
    if (m_model) {
        for (auto signal : {&AppModel::appsChanged, &AppModel::errorChanged, &AppModel::lastScanDateChanged,
                            &AppModel::hasEverScannedChanged})
            connect(m_model, signal, this, &StatusBarView::refresh);
    }
    refresh();
}

QString StatusBarView::text() const
{
    return m_text->text();
}

void StatusBarView::refresh()
{
    if (!m_model)
        return;
    PostureSnapshot snapshot;
    snapshot.error = m_model->error();
    snapshot.hasEverScanned = m_model->hasEverScanned();
    snapshot.lastScanDate = m_model->lastScanDate();
    snapshot.outdatedCount = m_model->outdatedApps().size();
    snapshot.atRiskCount = m_model->atRiskApps().size();
    snapshot.sensingGapCount = m_model->sensingGapApps().size();
    m_text->setText(PosturePresenter::statusBar(snapshot).title);
}

// --- OnboardingView ----------------------------------------------------------------------

OnboardingView::OnboardingView(AppModel *model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_finish(new StyledButton(QStringLiteral("Finish"), PrimaryButtonStyle(), this))
{
    setObjectName(QStringLiteral("onboarding"));
    auto *layout = new QVBoxLayout(this);
    layout->addStretch(1);
    auto *title = label(QStringLiteral("Onboarding (stand-in)"), italicBrusk(28), VarnoColor::textPrimary(), this);
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);
    layout->addWidget(m_finish, 0, Qt::AlignCenter);
    layout->addStretch(1);
    connect(m_finish, &QPushButton::clicked, this, [this] {
        if (m_model)
            m_model->completeOnboarding();
    });
    VarnoColor::repaintOnAppearanceChange(this);
}

void OnboardingView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), VarnoColor::background().resolved());
}

// --- Sheets ------------------------------------------------------------------------------

SheetView::SheetView(const QString &title, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(title);
    VarnoColor::bindBackground(this, VarnoColor::background());
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(12);
    layout->addWidget(label(title, italicBrusk(22), VarnoColor::textPrimary(), this));
    layout->addWidget(label(QStringLiteral("(stand-in)"), VarnoFont::mono(10), VarnoColor::textTertiary(), this));
    auto *close = new StyledButton(QStringLiteral("Close"), GhostButtonStyle(), this);
    layout->addWidget(close, 0, Qt::AlignRight);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    resize(480, 320);
}

SheetView *makeUpdateFlowView(AppModel *, QWidget *parent)
{
    return new SheetView(QStringLiteral("Update run"), parent);
}

SheetView *makeEnvironmentView(AppModel *, QWidget *parent)
{
    return new SheetView(QStringLiteral("Environment"), parent);
}

SheetView *makeDiagnosticsView(AppModel *, QWidget *parent)
{
    auto *sheet = new SheetView(QStringLiteral("Diagnostics"), parent);
    QObject::connect(&VarnoSignals::instance(), &VarnoSignals::varnoRunHealthCheck, sheet,
                     [sheet] { sheet->noteHealthCheckRequested(); });
    return sheet;
}

SheetView *makeGhostAppsView(AppModel *, QWidget *parent)
{
    return new SheetView(QStringLiteral("Ghost apps"), parent);
}

} // namespace StandIn
