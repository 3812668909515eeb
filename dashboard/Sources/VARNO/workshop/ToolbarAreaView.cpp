#include "workshop/ToolbarAreaView.h"

#include "base/Async.h"
#include "engine/UpdateStream.h"
#include "kit/ButtonStyles.h"
#include "kit/Labels.h"
#include "kit/SettingsButton.h"
#include "kit/SpinnerView.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "model/AppModel.h"
#include "model/ModelChanges.h"
#include "workshop/LibraryFilters.h"
#include "workshop/ToolbarRules.h"
#include "workshop/ViewHelpers.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QVBoxLayout>

#include <cmath>

namespace {

StyledButton *iconButton(const ToolbarRules::ButtonTexts &texts, QWidget *parent)
{
    auto *button = new StyledButton(GhostButtonStyle(), parent);
    button->setFont(VarnoFont::ui(12, QFont::Medium));
    button->setSymbol(texts.symbol);
    button->setToolTip(texts.help);
    button->setAccessibleName(texts.label);
    button->setAccessibleDescription(texts.hint);
    if (!texts.identifier.isEmpty())
        button->setObjectName(texts.identifier);
    return button;
}

// The outdated badge: the count in amber on a warning-tinted capsule.
class OutdatedBadge : public QLabel {
public:
    explicit OutdatedBadge(QWidget *parent)
        : QLabel(parent)
    {
        setTextFormat(Qt::PlainText);
        setFont(VarnoFont::mono(11, QFont::Medium));
        setContentsMargins(6, 2, 6, 2);
        setAlignment(Qt::AlignCenter);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        VarnoColor::bindForeground(this, VarnoColor::attention());
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        {
            QPainter painter(this);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            painter.setBrush(VarnoColor::warning().resolved(0.12));
            const qreal radius = height() / 2.0;
            painter.drawRoundedRect(QRectF(rect()), radius, radius);
        }
        QLabel::paintEvent(event);
    }
};

// The Simple/Details switch: the two pills on a background capsule with a
// hairline edge.
class ModeSwitch : public QWidget {
public:
    explicit ModeSwitch(QWidget *parent)
        : QWidget(parent)
    {
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        VarnoColor::repaintOnAppearanceChange(this);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF capsule = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const qreal radius = capsule.height() / 2;
        painter.setPen(QPen(VarnoColor::border().resolved(), 1));
        painter.setBrush(VarnoColor::background().resolved());
        painter.drawRoundedRect(capsule, radius, radius);
    }
};

// The scanning explanation: it asks for its whole width and gives way,
// cut with "…", only where the strip is narrower than everything it holds.
class ScanningHintLabel : public FittedLabel {
public:
    using FittedLabel::FittedLabel;

    QSize sizeHint() const override
    {
        const QMargins margins = contentsMargins();
        const qreal text = QFontMetricsF(font()).horizontalAdvance(fullText());
        return QSize(int(std::ceil(text)) + margins.left() + margins.right(), FittedLabel::sizeHint().height());
    }
};

} // namespace

// --- ModePillButton ----------------------------------------------------------------------

ModePillButton::ModePillButton(const QString &title, QWidget *parent)
    : QAbstractButton(parent)
{
    setText(title);
    setAccessibleName(title);
    setFont(VarnoFont::ui(11, QFont::Medium));
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    // Two exclusive checkable pills, so that assistive technology meets them
    // as radio buttons and can tell which one is chosen; the model decides
    // that, through setActive().
    setCheckable(true);
    setAutoExclusive(true);
    VarnoColor::repaintOnAppearanceChange(this);
}

void ModePillButton::setActive(bool active)
{
    if (active == m_active)
        return;
    m_active = active;
    setChecked(active);
    update();
}

void ModePillButton::nextCheckState()
{
    // A click asks the model for this mode; it does not toggle the pill.
}

QSize ModePillButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    return QSize(metrics.horizontalAdvance(text()) + 20, metrics.height() + 10);
}

void ModePillButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF capsule = QRectF(rect());
    const qreal radius = capsule.height() / 2;
    if (m_active) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(VarnoColor::surfaceHover().resolved());
        painter.drawRoundedRect(capsule, radius, radius);
    }
    if (hasFocus()) {
        painter.setPen(QPen(VarnoColor::accent().resolved(), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(capsule.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    }
    painter.setFont(font());
    painter.setPen(m_active ? VarnoColor::textPrimary().resolved() : VarnoColor::textSecondary().resolved());
    painter.drawText(rect(), Qt::AlignCenter, text());
}

// --- ToolbarAreaView ---------------------------------------------------------------------

ToolbarAreaView::ToolbarAreaView(AppModel *model, QLineEdit *searchField, std::function<void()> showUpdateFlow,
                                 std::function<void()> showEnvironment, std::function<void()> showDiagnostics,
                                 QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_showUpdateFlow(std::move(showUpdateFlow))
{
    using namespace ToolbarRules;
    setObjectName(QStringLiteral("toolbarArea"));
    VarnoColor::repaintOnAppearanceChange(this);
    auto *rows = new QVBoxLayout(this);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);

    // Two lines. The first holds the title and, at its trailing end, the
    // window's search field (where a window's toolbar carries it); the
    // second the scanning indicator and the controls, so that it has room
    // for the whole indicator beside the queue's controls or Update All.
    auto *titleLine = new QHBoxLayout();
    titleLine->setContentsMargins(16, 12, 16, 0);
    titleLine->setSpacing(10);
    rows->addLayout(titleLine);
    auto *row = new QHBoxLayout();
    row->setContentsMargins(16, 8, 16, 12);
    row->setSpacing(10);
    rows->addLayout(row);

    // Title and outdated badge.
    auto *title = new QHBoxLayout();
    title->setSpacing(6);
    QFont titleFont = VarnoFont::brusk(17, QFont::Light);
    titleFont.setItalic(true);
    QLabel *library = Labels::plain(QStringLiteral("your library"), titleFont, VarnoColor::textPrimary(), this);
    library->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    title->addWidget(library);
    m_badge = new OutdatedBadge(this);
    title->addWidget(m_badge);
    titleLine->addLayout(title);
    titleLine->addStretch(1);

    // The window's search field.
    if (searchField) {
        searchField->setParent(this);
        searchField->setMinimumWidth(120);
        searchField->setMaximumWidth(220);
        searchField->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        titleLine->addWidget(searchField, 1);
        // The field's own clear button says what it does.
        for (QAbstractButton *clear : searchField->findChildren<QAbstractButton *>())
            clear->setAccessibleName(QStringLiteral("Clear search"));
    }

    row->addStretch(1);

    // The scanning indicator: spinner, "Scanning..." and its explanation.
    m_scanning = new QWidget(this);
    auto *scanning = new QHBoxLayout(m_scanning);
    scanning->setContentsMargins(0, 0, 0, 0);
    scanning->setSpacing(10);
    scanning->addWidget(new SpinnerView(14, m_scanning));
    scanning->addWidget(Labels::plain(scanningText(), VarnoFont::mono(11), VarnoColor::textSecondary(), m_scanning));
    // The explanation is shown whole; only a window narrower than the one a
    // new window opens at cuts it.
    auto *hint = new ScanningHintLabel(scanningHint(), Qt::ElideRight, m_scanning);
    hint->setFont(VarnoFont::mono(11));
    VarnoColor::bindForeground(hint, VarnoColor::textSecondary());
    scanning->addWidget(hint, 1);
    m_scanningHint = hint;
    m_scanning->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    row->addWidget(m_scanning);

    // Simple / Details.
    auto *modes = new ModeSwitch(this);
    auto *modeRow = new QHBoxLayout(modes);
    modeRow->setContentsMargins(0, 0, 0, 0);
    modeRow->setSpacing(2);
    m_simple = new ModePillButton(QStringLiteral("Simple"), modes);
    m_details = new ModePillButton(QStringLiteral("Details"), modes);
    modeRow->addWidget(m_simple);
    modeRow->addWidget(m_details);
    row->addWidget(modes);
    connect(m_simple, &QAbstractButton::clicked, this, [this] {
        if (m_model)
            m_model->setDetailsMode(false);
    });
    connect(m_details, &QAbstractButton::clicked, this, [this] {
        if (m_model)
            m_model->setDetailsMode(true);
    });

    m_workshop = iconButton(ToolbarRules::workshopButton(), this);
    connect(m_workshop, &QAbstractButton::clicked, this, [showEnvironment] {
        if (showEnvironment)
            showEnvironment();
    });
    row->addWidget(m_workshop);
    m_settings = new SettingsButton(this);
    row->addWidget(m_settings);
    m_diagnostics = iconButton(ToolbarRules::diagnosticsButton(), this);
    connect(m_diagnostics, &QAbstractButton::clicked, this, [showDiagnostics] {
        if (showDiagnostics)
            showDiagnostics();
    });
    row->addWidget(m_diagnostics);

    m_scan = new StyledButton(GhostButtonStyle(), this);
    m_scan->setFont(VarnoFont::ui(12, QFont::Medium));
    m_scan->setSymbol(QStringLiteral("arrow.clockwise"));
    m_scan->setAccessibleName(QStringLiteral("Scan"));
    m_scan->setObjectName(QStringLiteral("toolbar-scan"));
    connect(m_scan, &QAbstractButton::clicked, this, &ToolbarAreaView::startScan);
    row->addWidget(m_scan);

    // The queue's controls, or Update All.
    m_progress = iconButton(ToolbarRules::progressButton(), this);
    connect(m_progress, &QAbstractButton::clicked, this, [this] {
        if (m_showUpdateFlow)
            m_showUpdateFlow();
    });
    row->addWidget(m_progress);
    m_pause = iconButton(ButtonTexts{pauseSymbol(false), pauseHelp(false), pauseLabel(false), QString(), pauseHint(false)},
                         this);
    connect(m_pause, &QAbstractButton::clicked, this, &ToolbarAreaView::togglePause);
    row->addWidget(m_pause);
    m_skip = iconButton(ToolbarRules::skipButton(), this);
    connect(m_skip, &QAbstractButton::clicked, this, [this] { sendQueueCommand(QStringLiteral("skip")); });
    row->addWidget(m_skip);
    m_stop = iconButton(ToolbarRules::stopButton(), this);
    connect(m_stop, &QAbstractButton::clicked, this, [this] { sendQueueCommand(QStringLiteral("abort")); });
    row->addWidget(m_stop);

    ButtonStyle primary = PrimaryButtonStyle();
    m_updateAll = new StyledButton(QStringLiteral("Update All"), primary, this);
    m_updateAll->setFont(VarnoFont::ui(12, QFont::Medium));
    m_updateAll->setSymbol(QStringLiteral("arrow.down.circle.fill"));
    m_updateAll->setObjectName(QStringLiteral("toolbar-update-all"));
    connect(m_updateAll, &QAbstractButton::clicked, this, &ToolbarAreaView::startUpdateAll);
    row->addWidget(m_updateAll);

    if (m_model) {
        using F = ModelChanges::Field;
        ModelChanges::follow(m_model, this,
                             F::apps | F::isScanning | F::isUpdating | F::isPaused | F::singleUpdateToken | F::detailsMode,
                             [this] { refresh(); });
    }
    refresh();
}

void ToolbarAreaView::refresh()
{
    using namespace ToolbarRules;
    if (!m_model)
        return;
    Inputs in;
    in.isScanning = m_model->isScanning();
    in.isUpdating = m_model->isUpdating();
    in.isPaused = m_model->isPaused();
    in.singleUpdate = m_model->singleUpdateToken() != nullptr;
    // The library's counts are kept per library and shared with the sidebar.
    in.outdatedCount = LibraryFilters::counts(*m_model).outdated;

    const QString badge = badgeText(in);
    m_badge->setText(badge);
    m_badge->setVisible(!badge.isEmpty());
    m_scanning->setVisible(face(in) == Face::scanning);

    m_simple->setActive(!m_model->detailsMode());
    m_details->setActive(m_model->detailsMode());

    m_scan->setText(scanShowsTitle(in) ? QStringLiteral("Scan") : QString());
    m_scan->setEnabled(!scanDisabled(in));
    m_scan->setToolTip(scanHelp(in));
    m_scan->setAccessibleDescription(scanHint(in));

    const RightEnd end = rightEnd(in);
    const bool queue = end == RightEnd::queueControls;
    for (StyledButton *button : {m_progress, m_pause, m_skip, m_stop})
        button->setVisible(queue);
    m_pause->setSymbol(pauseSymbol(in.isPaused));
    m_pause->setToolTip(pauseHelp(in.isPaused));
    m_pause->setAccessibleName(pauseLabel(in.isPaused));
    m_pause->setAccessibleDescription(pauseHint(in.isPaused));
    m_updateAll->setVisible(end == RightEnd::updateAll);
    m_updateAll->setEnabled(!updateAllDisabled(in));
    m_updateAll->setToolTip(updateAllHelp(in));
    m_updateAll->setAccessibleDescription(updateAllHelp(in));
}

void ToolbarAreaView::startScan()
{
    // The model guards itself against running while busy.
    if (m_model)
        Async::detach(m_model->scan());
}

void ToolbarAreaView::togglePause()
{
    if (!m_model)
        return;
    // The model sets isPaused when the engine reports it; the icon follows.
    if (const auto controller = m_model->updateController())
        controller->send(ToolbarRules::pauseWord(m_model->isPaused()));
}

void ToolbarAreaView::sendQueueCommand(const QString &word)
{
    if (!m_model)
        return;
    if (const auto controller = m_model->updateController())
        controller->send(word);
}

void ToolbarAreaView::startUpdateAll()
{
    if (!m_model)
        return;
    // The sheet opens on an empty progress, before the queue starts.
    m_model->clearUpdateProgress();
    if (m_showUpdateFlow)
        m_showUpdateFlow();
    Async::detach(m_model->updateAll());
}

void ToolbarAreaView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), VarnoColor::backgroundRaised().resolved());
    painter.fillRect(QRect(0, height() - 1, width(), 1), VarnoColor::border().resolved());
}
