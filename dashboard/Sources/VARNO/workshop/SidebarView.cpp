#include "workshop/SidebarView.h"

#include "kit/BrandArtwork.h"
#include "kit/Labels.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "model/AppModel.h"
#include "model/ModelChanges.h"
#include "platform/Workspace.h"
#include "services/AppMetadata.h"
#include "services/SparkleUpdater.h"
#include "workshop/LibraryFilters.h"
#include "workshop/SidebarRules.h"
#include "workshop/ViewHelpers.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {

constexpr int kDotSide = 7;
constexpr int kRowInset = 8;    // the selection's inset from the column's edges
constexpr int kRowPadding = 10; // the content's padding inside the selection
constexpr int kDotSpacing = 10;
constexpr int kLibraryRowHeight = 28;
constexpr int kMechanismRowHeight = 40;

void paintDot(QPainter &painter, int x, int centreY, const ColorPair &color)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(color.resolved());
    painter.drawEllipse(QRectF(x, centreY - kDotSide / 2.0, kDotSide, kDotSide));
}

// What assistive technology reads of a filter row: its title, its count as
// the value ("12 apps"), its tooltip as the description, and whether it is
// the chosen one.
class SidebarRowAccessible : public QAccessibleWidget {
public:
    explicit SidebarRowAccessible(QWidget *widget)
        : QAccessibleWidget(widget, QAccessible::ListItem)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        const auto *row = static_cast<const SidebarRow *>(widget());
        switch (t) {
        case QAccessible::Name:
            return row->title();
        case QAccessible::Value:
            return row->accessibleValue();
        case QAccessible::Description:
            return SidebarRules::rowHelp(row->filter());
        default:
            return QAccessibleWidget::text(t);
        }
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.selectable = true;
        s.selected = static_cast<const SidebarRow *>(widget())->isSelected();
        return s;
    }
};

QAccessibleInterface *sidebarRowAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("SidebarRow") && object && object->isWidgetType())
        return new SidebarRowAccessible(static_cast<QWidget *>(object));
    return nullptr;
}

QLabel *sectionHeader(const QString &text, QWidget *parent)
{
    QLabel *label = Labels::plain(text, VarnoFont::ui(11, QFont::DemiBold), VarnoColor::textTertiary(), parent);
    label->setContentsMargins(kRowInset + kRowPadding, 12, 0, 4);
    return label;
}

} // namespace

// --- SidebarRow ---------------------------------------------------------------------

SidebarRow::SidebarRow(AppFilter filter, QWidget *parent)
    : QWidget(parent)
    , m_filter(filter)
    , m_dot(VarnoColor::textTertiary())
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(sidebarRowAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setObjectName(QStringLiteral("sidebar-row-") + AppFilters::title(filter));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    setAccessibleName(title());
    setAccessibleDescription(SidebarRules::rowHelp(filter));
    setToolTip(SidebarRules::rowHelp(filter));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    VarnoColor::repaintOnAppearanceChange(this);
}

QString SidebarRow::title() const
{
    return AppFilters::title(m_filter);
}

void SidebarRow::setContent(qsizetype count, std::optional<qsizetype> total, const ColorPair &dot)
{
    const QString subtitle = total ? SidebarRules::mechanismSubtitle(count, *total) : QString();
    if (count == m_count && total == m_total && dot == m_dot && subtitle == m_subtitle)
        return;
    m_count = count;
    m_total = total;
    m_dot = dot;
    m_subtitle = subtitle;
    update();
}

QString SidebarRow::countText() const
{
    return m_total ? QString() : SidebarRules::countText(m_count);
}

QString SidebarRow::accessibleValue() const
{
    return SidebarRules::accessibilityValue(m_count);
}

void SidebarRow::setSelected(bool selected)
{
    if (selected == m_selected)
        return;
    m_selected = selected;
    update();
    QAccessible::State changed;
    changed.selected = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
}

QSize SidebarRow::sizeHint() const
{
    return QSize(160, SidebarRules::isMechanismRow(m_filter) ? kMechanismRowHeight : kLibraryRowHeight);
}

void SidebarRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF band = QRectF(rect()).adjusted(kRowInset, 1, -kRowInset, -1);
    if (m_selected || m_hovered) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_selected ? VarnoColor::surfaceHover().resolved() : VarnoColor::surface().resolved());
        painter.drawRoundedRect(band, 6, 6);
    }
    if (hasFocus()) {
        painter.setPen(QPen(VarnoColor::accent().resolved(), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(band.adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    }
    int x = kRowInset + kRowPadding;
    paintDot(painter, x, height() / 2, m_dot);
    x += kDotSide + kDotSpacing;
    const int right = width() - kRowInset - kRowPadding;

    const QFont titleFont = VarnoFont::ui(13);
    const QFontMetrics titleMetrics(titleFont);
    if (m_total) {
        // Title over the updates-and-apps line.
        const QFont subFont = VarnoFont::ui(11);
        const QFontMetrics subMetrics(subFont);
        const int block = titleMetrics.height() + 1 + subMetrics.height();
        const int top = (height() - block) / 2;
        painter.setFont(titleFont);
        painter.setPen(VarnoColor::textPrimary().resolved());
        painter.drawText(QRect(x, top, right - x, titleMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                         titleMetrics.elidedText(title(), Qt::ElideRight, right - x));
        painter.setFont(subFont);
        painter.setPen(VarnoColor::textTertiary().resolved());
        painter.drawText(QRect(x, top + titleMetrics.height() + 1, right - x, subMetrics.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, subMetrics.elidedText(m_subtitle, Qt::ElideRight, right - x));
        return;
    }
    // Title, then the count at its ideal width at the trailing edge.
    const QString count = countText();
    int titleRight = right;
    if (!count.isEmpty()) {
        const QFont countFont = VarnoFont::mono(11);
        const int countWidth = QFontMetrics(countFont).horizontalAdvance(count);
        painter.setFont(countFont);
        painter.setPen(VarnoColor::textTertiary().resolved());
        painter.drawText(QRect(right - countWidth, 0, countWidth, height()), Qt::AlignRight | Qt::AlignVCenter, count);
        titleRight = right - countWidth - 8;
    }
    painter.setFont(titleFont);
    painter.setPen(VarnoColor::textPrimary().resolved());
    painter.drawText(QRect(x, 0, titleRight - x, height()), Qt::AlignLeft | Qt::AlignVCenter,
                     titleMetrics.elidedText(title(), Qt::ElideRight, titleRight - x));
}

void SidebarRow::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT chosen(m_filter);
}

void SidebarRow::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        Q_EMIT chosen(m_filter);
        return;
    case Qt::Key_Up:
        Q_EMIT moveRequested(-1);
        return;
    case Qt::Key_Down:
        Q_EMIT moveRequested(1);
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void SidebarRow::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QWidget::enterEvent(event);
}

void SidebarRow::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QWidget::leaveEvent(event);
}

void SidebarRow::focusInEvent(QFocusEvent *event)
{
    update();
    QWidget::focusInEvent(event);
}

void SidebarRow::focusOutEvent(QFocusEvent *event)
{
    update();
    QWidget::focusOutEvent(event);
}

// --- SidebarSystemRow --------------------------------------------------------------------

SidebarSystemRow::SidebarSystemRow(QWidget *parent)
    : QAbstractButton(parent)
    , m_dot(VarnoColor::textTertiary())
{
    setObjectName(QStringLiteral("sidebar-system-row"));
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    VarnoColor::repaintOnAppearanceChange(this);
}

void SidebarSystemRow::setStatus(const QString &secondary, const QString &help, const ColorPair &dot,
                                 qsizetype availableCount)
{
    m_secondary = secondary;
    m_dot = dot;
    m_available = availableCount;
    setToolTip(help);
    setAccessibleName(QStringLiteral("macOS, ") + secondary);
    setAccessibleDescription(help);
    update();
}

QString SidebarSystemRow::countText() const
{
    return m_available >= 1 ? QString::number(m_available) : QString();
}

QSize SidebarSystemRow::sizeHint() const
{
    return QSize(160, kMechanismRowHeight);
}

void SidebarSystemRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isDown())
        painter.setOpacity(0.7);
    if (hasFocus()) {
        painter.setPen(QPen(VarnoColor::accent().resolved(), 1));
        painter.drawRoundedRect(QRectF(rect()).adjusted(kRowInset + 0.5, 1.5, -kRowInset - 0.5, -1.5), 6, 6);
    }
    int x = kRowInset + kRowPadding;
    paintDot(painter, x, height() / 2, m_dot);
    x += kDotSide + kDotSpacing;
    int right = width() - kRowInset - kRowPadding;
    const QString count = countText();
    if (!count.isEmpty()) {
        const QFont countFont = VarnoFont::mono(11);
        const int countWidth = QFontMetrics(countFont).horizontalAdvance(count);
        painter.setFont(countFont);
        painter.setPen(VarnoColor::attention().resolved());
        painter.drawText(QRect(right - countWidth, 0, countWidth, height()), Qt::AlignRight | Qt::AlignVCenter, count);
        right -= countWidth + 8;
    }
    const QFont titleFont = VarnoFont::ui(13);
    const QFont subFont = VarnoFont::ui(11);
    const QFontMetrics titleMetrics(titleFont);
    const QFontMetrics subMetrics(subFont);
    const int top = (height() - (titleMetrics.height() + 2 + subMetrics.height())) / 2;
    painter.setFont(titleFont);
    painter.setPen(VarnoColor::textPrimary().resolved());
    painter.drawText(QRect(x, top, right - x, titleMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("macOS"));
    painter.setFont(subFont);
    painter.setPen(VarnoColor::textTertiary().resolved());
    painter.drawText(QRect(x, top + titleMetrics.height() + 2, right - x, subMetrics.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, subMetrics.elidedText(m_secondary, Qt::ElideRight, right - x));
}

// --- SidebarChipButton -------------------------------------------------------------------

SidebarChipButton::SidebarChipButton(const QString &text, QWidget *parent)
    : QAbstractButton(parent)
{
    setText(text);
    setFont(VarnoFont::ui(10, QFont::Medium));
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    VarnoColor::repaintOnAppearanceChange(this);
}

QSize SidebarChipButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    return QSize(metrics.horizontalAdvance(text()) + 16, metrics.height() + 8);
}

void SidebarChipButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isDown() ? 0.78 : 1.0);
    const QRectF capsule = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = capsule.height() / 2;
    painter.setPen(QPen(VarnoColor::accent().resolved(0.35), 1));
    painter.setBrush(VarnoColor::accent().resolved(0.1));
    painter.drawRoundedRect(capsule, radius, radius);
    if (hasFocus()) {
        painter.setPen(QPen(VarnoColor::accent().resolved(), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(capsule, radius, radius);
    }
    painter.setFont(font());
    painter.setPen(VarnoColor::accent().resolved());
    painter.drawText(rect(), Qt::AlignCenter, text());
}

// --- SidebarView -------------------------------------------------------------------------

SidebarView::SidebarView(AppModel *model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
{
    setObjectName(QStringLiteral("sidebar"));
    VarnoColor::bindBackground(this, VarnoColor::background());
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // Header: the head icon and the wordmark.
    auto *header = new QWidget(this);
    header->setFixedHeight(kHeaderHeight);
    auto *headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(16, 0, 16, 0);
    headerRow->setSpacing(12);
    auto *headIcon = new HeadIconView(42, HeadIconSize::sidebar, header);
    headIcon->setFixedSize(42, 42);
    headerRow->addWidget(headIcon);
    headerRow->addWidget(new BrandWordmarkView(20, header));
    headerRow->addStretch(1);
    column->addWidget(header);
    column->addWidget(WorkshopParts::divider(this));

    // The list of sections, scrolled when the window is short.
    auto *scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidgetResizable(true);
    styleScrollBar(scroll->verticalScrollBar());
    auto *list = new QWidget();
    VarnoColor::bindBackground(list, VarnoColor::background());
    auto *rows = new QVBoxLayout(list);
    rows->setContentsMargins(0, 4, 0, 8);
    rows->setSpacing(0);
    auto addSection = [this, list, rows](const QString &title, const QList<AppFilter> &filters) {
        rows->addWidget(sectionHeader(title, list));
        for (const AppFilter filter : filters) {
            auto *row = new SidebarRow(filter, list);
            connect(row, &SidebarRow::chosen, this, &SidebarView::choose);
            connect(row, &SidebarRow::moveRequested, this, [this, row](int step) { move(row, step); });
            rows->addWidget(row);
            m_rows.append(row);
        }
    };
    addSection(QStringLiteral("Library"), SidebarRules::libraryRows());
    addSection(QStringLiteral("Mechanism"), SidebarRules::mechanismRows());
    m_systemSection = new QWidget(list);
    auto *system = new QVBoxLayout(m_systemSection);
    system->setContentsMargins(0, 0, 0, 0);
    system->setSpacing(0);
    system->addWidget(sectionHeader(QStringLiteral("System"), m_systemSection));
    m_systemRow = new SidebarSystemRow(m_systemSection);
    connect(m_systemRow, &QAbstractButton::clicked, this, &SidebarView::openSoftwareUpdateSettings);
    system->addWidget(m_systemRow);
    rows->addWidget(m_systemSection);
    rows->addStretch(1);
    scroll->setWidget(list);
    VarnoColor::bindBackground(scroll->viewport(), VarnoColor::background());
    column->addWidget(scroll, 1);

    // Footer: version and Check chip over the install date.
    column->addWidget(WorkshopParts::divider(this));
    auto *footer = new QWidget(this);
    footer->setFixedHeight(kFooterHeight);
    auto *footerColumn = new QVBoxLayout(footer);
    footerColumn->setContentsMargins(16, 0, 16, 0);
    footerColumn->setSpacing(4);
    footerColumn->addStretch(1);
    auto *versionRow = new QHBoxLayout();
    versionRow->setSpacing(8);
    m_version = Labels::plain(AppMetadata::shortVersionLabel(), VarnoFont::mono(11), VarnoColor::textSecondary(), footer);
    versionRow->addWidget(m_version);
    versionRow->addStretch(1);
    m_checkChip = new SidebarChipButton(QStringLiteral("Check"), footer);
    m_checkChip->setAccessibleName(QStringLiteral("Check for VARNO app update"));
    connect(m_checkChip, &QAbstractButton::clicked, this, &SidebarView::checkForAppUpdate);
    versionRow->addWidget(m_checkChip);
    footerColumn->addLayout(versionRow);
    const auto installDate = AppMetadata::installDate(AppMetadata::Sources::current());
    m_date = Labels::plain(SidebarRules::footerDateLine(
                               installDate ? std::optional<QString>(AppMetadata::formatInstalledDate(*installDate))
                                           : std::nullopt),
                           VarnoFont::ui(11), VarnoColor::textTertiary(), footer);
    footerColumn->addWidget(m_date);
    footerColumn->addStretch(1);
    column->addWidget(footer);

    if (m_model) {
        // Every change the model publishes redraws the sidebar (the update
        // run's per-app progress aside: nothing here shows it).
        using F = ModelChanges::Field;
        ModelChanges::follow(m_model, this,
                             F::apps | F::selectedFilter | F::brewHealth | F::masHealth | F::macOSUpdateStatus
                                 | F::isOpenCore | F::isScanning | F::isUpdating | F::error | F::hasEverScanned
                                 | F::lastScanDate | F::ghostApps | F::detailsMode | F::singleUpdateToken,
                             [this] { refresh(); });
    }
    refresh();
}

SidebarRow *SidebarView::row(AppFilter filter) const
{
    for (SidebarRow *r : m_rows) {
        if (r->filter() == filter)
            return r;
    }
    return nullptr;
}

void SidebarView::refresh()
{
    if (!m_model)
        return;
    const AppModel &model = *m_model;
    // Every count in one pass over the library.
    const LibraryFilters::Counts counts = LibraryFilters::counts(model);
    for (SidebarRow *r : std::as_const(m_rows)) {
        const AppFilter filter = r->filter();
        const std::optional<Tone> fallback = SidebarRules::libraryDot(filter);
        r->setContent(counts.count(filter), counts.totalCount(filter),
                      VarnoColor::tone(
                          SidebarRules::rowDotColor(counts, model.brewHealth(), model.masHealth(), filter, fallback)));
        r->setSelected(filter == model.selectedFilter());
    }
    m_systemSection->setVisible(!model.isOpenCore());
    const MacOSUpdateStatus status = model.macOSUpdateStatus();
    m_systemRow->setStatus(SidebarRules::systemSecondary(status), SidebarRules::systemHelp(status),
                           VarnoColor::tone(SidebarRules::systemDotColor(status)), status.availableCount);
    // Whether a self-update check is possible is read as the sidebar redraws;
    // the updater itself is not observed.
    SparkleUpdater *updater = SparkleUpdater::shared();
    m_checkChip->setVisible(updater && updater->canCheckForUpdates());
}

void SidebarView::choose(AppFilter filter)
{
    if (m_model)
        m_model->setSelectedFilter(filter);
}

void SidebarView::move(SidebarRow *from, int step)
{
    const qsizetype index = m_rows.indexOf(from) + step;
    if (index < 0 || index >= m_rows.size())
        return;
    SidebarRow *to = m_rows.at(index);
    to->setFocus(Qt::TabFocusReason);
    choose(to->filter());
}

void SidebarView::openSoftwareUpdateSettings()
{
    const QUrl url = SidebarRules::softwareUpdateSettingsUrl();
    if (url.isValid())
        Workspace::shared()->open(url);
}

void SidebarView::checkForAppUpdate()
{
    if (SparkleUpdater *updater = SparkleUpdater::shared())
        updater->checkForUpdates();
}
