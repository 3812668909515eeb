#include "menubar/MenuBarPanel.h"

#include "base/Async.h"
#include "engine/ExperimentRecorder.h"
#include "engine/UpdateStream.h"
#include "kit/BrandArtwork.h"
#include "kit/ButtonStyles.h"
#include "kit/Labels.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "kit/VarnoSignals.h"
#include "kit/WindowRegistry.h"
#include "menubar/MenuBarPanelParts.h"
#include "model/AppModel.h"
#include "model/ModelChanges.h"
#include "platform/Appearance.h"
#include "platform/Clock.h"
#include "services/AppMetadata.h"
#include "services/SparkleUpdater.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QShortcut>
#include <QVBoxLayout>

namespace {

std::function<void()> &quitAction()
{
    static std::function<void()> action = [] { QCoreApplication::quit(); };
    return action;
}

std::function<void(const QString &)> &eventRecorder()
{
    static std::function<void(const QString &)> recorder = [](const QString &event) {
        ExperimentRecorder::record(event);
    };
    return recorder;
}

QLabel *makeLabel(const QFont &font, const ColorPair &color, QWidget *parent, const QString &text = QString(),
                  bool elided = false)
{
    QLabel *label = elided ? new PanelElidedLabel(text, parent) : new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    VarnoColor::bindForeground(label, color);
    return label;
}

} // namespace

MenuBarPanel::MenuBarPanel(AppModel *model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
{
    setObjectName(QStringLiteral("menuBarPanel"));
    setFixedWidth(kWidth);
    VarnoColor::bindBackground(this, VarnoColor::background());

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->setSizeConstraint(QLayout::SetNoConstraint);
    buildHeader(column);
    column->addWidget(new PanelDivider(Qt::Horizontal, 0, this));
    buildBodies(column);
    column->addWidget(new PanelDivider(Qt::Horizontal, 0, this));
    buildFooter(column);

    if (m_model) {
        using F = ModelChanges::Field;
        ModelChanges::follow(m_model, this,
                             F::apps | F::isScanning | F::isUpdating | F::isPaused | F::lastScanDate | F::error
                                 | F::updateProgress | F::hasEverScanned | F::isFixing | F::singleUpdateToken,
                             [this] { refresh(); });
    }
    connect(&Appearance::instance(), &Appearance::changed, this, [this] { refresh(); });
    setUpdater(SparkleUpdater::shared());
}

MenuBarPanel::~MenuBarPanel() = default;

void MenuBarPanel::setUpdater(SparkleUpdater *updater)
{
    if (m_updater)
        disconnect(m_updater, nullptr, this, nullptr);
    m_updater = updater;
    if (m_updater)
        connect(m_updater, &SparkleUpdater::canCheckForUpdatesChanged, this, [this] { refresh(); });
    refresh();
}

void MenuBarPanel::setQuitAction(std::function<void()> action)
{
    quitAction() = action ? std::move(action) : [] { QCoreApplication::quit(); };
}

void MenuBarPanel::setEventRecorder(std::function<void(const QString &)> recorder)
{
    eventRecorder() = recorder ? std::move(recorder) : [](const QString &event) { ExperimentRecorder::record(event); };
}

void MenuBarPanel::setSnapshotOverride(std::optional<PanelSnapshot> snapshot)
{
    m_override = std::move(snapshot);
    refresh();
}

// --- Building ------------------------------------------------------------------

void MenuBarPanel::buildHeader(QBoxLayout *column)
{
    auto *header = new QWidget(this);
    // The wordmark row; the detection banner, which needs the whole width to
    // show its text and button whole, takes a row of its own below it.
    auto *rows = new QVBoxLayout(header);
    rows->setContentsMargins(16, 12, 16, 12);
    rows->setSpacing(8);
    auto *row = new QHBoxLayout();
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    rows->addLayout(row);
    row->addWidget(new BrandWordmarkView(16, header), 0, Qt::AlignVCenter);
    m_version = makeLabel(VarnoFont::mono(10), VarnoColor::textTertiary(), header, AppMetadata::shortVersionLabel());
    row->addWidget(m_version, 0, Qt::AlignVCenter);
    row->addStretch(1);

    // The posture indicator.
    m_posture = new QWidget(header);
    auto *posture = new QHBoxLayout(m_posture);
    posture->setContentsMargins(0, 0, 0, 0);
    posture->setSpacing(6);
    m_toneIcon = new PanelSymbol(QString(), ColorPair(), 11, true, m_posture);
    m_postureBrusk = new BruskView(20, BruskVariant::sentry, m_posture);
    m_postureTitle = makeLabel(VarnoFont::italicBrusk(13), VarnoColor::textSecondary(), m_posture, QString(), true);
    m_postureTitle->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    posture->addWidget(m_toneIcon, 0, Qt::AlignVCenter);
    posture->addWidget(m_postureBrusk, 0, Qt::AlignVCenter);
    posture->addWidget(m_postureTitle, 0, Qt::AlignVCenter);
    posture->setStretch(2, 1);
    row->addWidget(m_posture, 0, Qt::AlignVCenter);

    // The detection banner, in its place while detection is incomplete.
    m_banner = new QWidget(header);
    m_banner->setAccessibleName(QStringLiteral("Attention needed. Detection incomplete. Run diagnostics."));
    auto *banner = new QHBoxLayout(m_banner);
    banner->setContentsMargins(0, 0, 0, 0);
    banner->setSpacing(6);
    banner->addWidget(new PanelSymbol(QStringLiteral("exclamationmark.triangle.fill"), VarnoColor::warning(), 11, true,
                                      m_banner),
                      0, Qt::AlignVCenter);
    banner->addWidget(new BruskView(20, BruskVariant::sentry, m_banner), 0, Qt::AlignVCenter);
    // One line, never elided: the label asks for its whole text's width.
    auto *bannerText = makeLabel(VarnoFont::italicBrusk(13), VarnoColor::attention(), m_banner,
                                 QStringLiteral("Detection incomplete"));
    bannerText->setObjectName(QStringLiteral("panel-banner-text"));
    bannerText->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    bannerText->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
    {
        // Italic glyphs reach past their advance: the wider of the two.
        const QFontMetrics metrics(bannerText->font());
        bannerText->setMinimumWidth(
            qMax(metrics.horizontalAdvance(bannerText->text()), metrics.boundingRect(bannerText->text()).width()) + 2);
    }
    banner->addWidget(bannerText, 0, Qt::AlignVCenter);
    banner->addStretch(1);
    m_runDiagnostics = new StyledButton(QStringLiteral("Run diagnostics"), PanelCompactWarningButton(), m_banner);
    connect(m_runDiagnostics, &QPushButton::clicked, this, &MenuBarPanel::runDiagnostics);
    banner->addWidget(m_runDiagnostics, 0, Qt::AlignVCenter);
    rows->addWidget(m_banner);

    column->addWidget(header);
}

QWidget *MenuBarPanel::buildPersonaBody(BruskView **artwork, QLabel **headline, QLabel **detail, StyledButton **button,
                                        const QString &buttonText)
{
    auto *body = new QWidget(this);
    auto *row = new QHBoxLayout(body);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    *artwork = new BruskView(28, BruskVariant::main, body);
    row->addWidget(*artwork, 0, Qt::AlignVCenter);
    auto *texts = new QVBoxLayout();
    texts->setSpacing(2);
    *headline = makeLabel(VarnoFont::italicBrusk(14), VarnoColor::textSecondary(), body);
    // The detail wraps to at most two lines, ending in "…" only when even
    // those are too few.
    auto *limited = new PanelLineLimitedLabel(2, body);
    limited->setTextFormat(Qt::PlainText);
    limited->setFont(VarnoFont::mono(10));
    VarnoColor::bindForeground(limited, VarnoColor::textTertiary());
    *detail = limited;
    (*headline)->setWordWrap(true);
    // The headline shares its row with the button; the detail runs on under
    // the button, so that its two lines have the body's whole width.
    auto *top = new QHBoxLayout();
    top->setContentsMargins(0, 0, 0, 0);
    top->setSpacing(8);
    top->addWidget(*headline, 1, Qt::AlignVCenter);
    *button = new StyledButton(buttonText, PanelSecondaryButton(), body);
    (*button)->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    (*button)->setMinimumWidth((*button)->sizeHint().width() + 24);
    top->addWidget(*button, 0, Qt::AlignVCenter);
    texts->addLayout(top);
    texts->addWidget(*detail);
    row->addLayout(texts, 1);
    return body;
}

void MenuBarPanel::buildBodies(QBoxLayout *column)
{
    auto *content = new QWidget(this);
    auto *stack = new QVBoxLayout(content);
    stack->setContentsMargins(16, 12, 16, 12);
    stack->setSpacing(0);

    // Running: headline and counter, the bar, the controls.
    m_running = new QWidget(content);
    {
        auto *body = new QVBoxLayout(m_running);
        body->setContentsMargins(0, 0, 0, 0);
        body->setSpacing(8);
        auto *top = new QHBoxLayout();
        // One line, elided with "…" at whatever room the counter leaves.
        m_headline = makeLabel(VarnoFont::ui(12, QFont::Medium), VarnoColor::textPrimary(), m_running, QString(), true);
        m_headline->setObjectName(QStringLiteral("panel-running-headline"));
        m_headline->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        m_counter = makeLabel(VarnoFont::mono(11), VarnoColor::textSecondary(), m_running);
        top->addWidget(m_headline, 1);
        top->addWidget(m_counter, 0);
        body->addLayout(top);
        m_progress = new PanelProgressBar(m_running);
        body->addWidget(m_progress);
        auto *controls = new QHBoxLayout();
        controls->setSpacing(8);
        m_pauseResume = new StyledButton(QStringLiteral("Pause"), PanelGhostButton(), m_running);
        m_skip = new StyledButton(QStringLiteral("Skip"), PanelGhostButton(), m_running);
        m_stop = new StyledButton(QStringLiteral("Stop"), PanelDangerGhostButton(), m_running);
        controls->addWidget(m_pauseResume);
        controls->addWidget(m_skip);
        controls->addStretch(1);
        controls->addWidget(m_stop);
        body->addLayout(controls);
        connect(m_pauseResume, &QPushButton::clicked, this, &MenuBarPanel::togglePause);
        connect(m_skip, &QPushButton::clicked, this, [this] { sendControl(QStringLiteral("skip")); });
        connect(m_stop, &QPushButton::clicked, this, [this] { sendControl(QStringLiteral("abort")); });
    }
    stack->addWidget(m_running);

    // Error: a line and the way to Diagnostics; the error text itself is the
    // Workshop's to show.
    m_error = new QWidget(content);
    {
        auto *body = new QVBoxLayout(m_error);
        body->setContentsMargins(0, 0, 0, 0);
        body->setSpacing(8);
        auto *line = new QHBoxLayout();
        line->setSpacing(8);
        line->addWidget(new PanelSymbol(QStringLiteral("exclamationmark.triangle.fill"), VarnoColor::warning(), 14,
                                        false, m_error));
        line->addWidget(makeLabel(VarnoFont::ui(12, QFont::Medium), VarnoColor::textPrimary(), m_error,
                                  QStringLiteral("Something's not right.")));
        line->addStretch(1);
        body->addLayout(line);
        m_openDiagnostics = new StyledButton(QStringLiteral("Open Diagnostics"), PanelPrimaryButton(), m_error);
        body->addWidget(m_openDiagnostics);
        connect(m_openDiagnostics, &QPushButton::clicked, this, [] { WindowRegistry::requestDiagnostics(); });
    }
    stack->addWidget(m_error);

    BruskView *artwork = nullptr;
    QLabel *headline = nullptr;
    QLabel *detail = nullptr;

    m_loadFailed = buildPersonaBody(&artwork, &headline, &detail, &m_reload, QStringLiteral("Reload"));
    headline->setText(QStringLiteral("Library didn't load."));
    detail->setText(QStringLiteral("Data may be fine — reload the library."));
    connect(m_reload, &QPushButton::clicked, this, &MenuBarPanel::reload);
    stack->addWidget(m_loadFailed);

    m_needsScan = buildPersonaBody(&artwork, &headline, &detail, &m_scanNowFirst, QStringLiteral("Scan now"));
    headline->setText(QStringLiteral("Nothing scanned yet."));
    detail->setText(QStringLiteral("Run a scan so Brusk can see your apps."));
    connect(m_scanNowFirst, &QPushButton::clicked, this, &MenuBarPanel::startScan);
    stack->addWidget(m_needsScan);

    // Pending: the two figures and the update buttons.
    m_pending = new QWidget(content);
    {
        auto *body = new QVBoxLayout(m_pending);
        body->setContentsMargins(0, 0, 0, 0);
        body->setSpacing(12);
        auto *stats = new QHBoxLayout();
        stats->setContentsMargins(0, 4, 0, 4);
        stats->setSpacing(0);
        m_pendingStat = new PanelStatCell(QStringLiteral("pending"), m_pending);
        m_atRiskStat = new PanelStatCell(QStringLiteral("at risk"), m_pending);
        stats->addWidget(m_pendingStat, 1);
        stats->addWidget(new PanelDivider(Qt::Vertical, 32, m_pending), 0, Qt::AlignVCenter);
        stats->addWidget(m_atRiskStat, 1);
        body->addLayout(stats);
        m_updateAll = new StyledButton(QString(), PanelPrimaryButton(), m_pending);
        m_urgentOnly = new StyledButton(QString(), PanelSecondaryButton(), m_pending);
        body->addWidget(m_updateAll);
        body->addWidget(m_urgentOnly);
        connect(m_updateAll, &QPushButton::clicked, this, &MenuBarPanel::startUpdateAll);
        connect(m_urgentOnly, &QPushButton::clicked, this, &MenuBarPanel::startUpdateUrgent);
        // Return presses "Update all" while it is shown and enabled.
        for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
            auto *shortcut = new QShortcut(QKeySequence(key), this);
            shortcut->setContext(Qt::WidgetWithChildrenShortcut);
            connect(shortcut, &QShortcut::activated, this, [this] {
                if (m_updateAll->isVisibleTo(this) && m_updateAll->isEnabled())
                    m_updateAll->click();
            });
        }
    }
    stack->addWidget(m_pending);

    m_clean = buildPersonaBody(&artwork, &headline, &m_cleanDetail, &m_scanNow, QStringLiteral("Scan now"));
    m_clean->layout()->setContentsMargins(0, 4, 0, 4);
    headline->setText(QStringLiteral("All tidy."));
    connect(m_scanNow, &QPushButton::clicked, this, &MenuBarPanel::startScan);
    stack->addWidget(m_clean);

    m_unmeasured = buildPersonaBody(&artwork, &m_unmeasuredHeadline, &m_unmeasuredDetail, &m_openWorkshopBody,
                                    QStringLiteral("Open Workshop"));
    m_unmeasured->layout()->setContentsMargins(0, 4, 0, 4);
    connect(m_openWorkshopBody, &QPushButton::clicked, this, &MenuBarPanel::openWorkshop);
    stack->addWidget(m_unmeasured);

    column->addWidget(content);
}

void MenuBarPanel::buildFooter(QBoxLayout *column)
{
    auto *footer = new QWidget(this);
    auto *row = new QHBoxLayout(footer);
    row->setContentsMargins(16, 8, 16, 8);
    row->setSpacing(12);
    m_footerOpenWorkshop = new StyledButton(QStringLiteral("Open Workshop"), PanelLinkButton(), footer);
    m_footerScan = new StyledButton(QStringLiteral("Scan"), PanelLinkButton(), footer);
    m_footerUpdate = new StyledButton(QStringLiteral("Update VARNO"), PanelLinkButton(), footer);
    m_footerQuit = new StyledButton(QStringLiteral("Quit"), PanelLinkButton(), footer);
    row->addWidget(m_footerOpenWorkshop);
    row->addWidget(m_footerScan);
    row->addWidget(m_footerUpdate);
    row->addStretch(1);
    row->addWidget(m_footerQuit);
    connect(m_footerOpenWorkshop, &QPushButton::clicked, this, &MenuBarPanel::openWorkshop);
    connect(m_footerScan, &QPushButton::clicked, this, &MenuBarPanel::startScan);
    connect(m_footerUpdate, &QPushButton::clicked, this, &MenuBarPanel::checkForAppUpdates);
    connect(m_footerQuit, &QPushButton::clicked, this, [] { quitAction()(); });

    // The links' keys, while the panel has the focus; a key does what a click
    // does, and nothing while its link is disabled.
    const struct {
        QKeySequence keys;
        StyledButton *button;
    } shortcuts[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_0), m_footerOpenWorkshop},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R), m_footerScan},
        {QKeySequence(Qt::CTRL | Qt::Key_Q), m_footerQuit},
    };
    for (const auto &entry : shortcuts) {
        auto *shortcut = new QShortcut(entry.keys, this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        StyledButton *button = entry.button;
        connect(shortcut, &QShortcut::activated, this, [button] {
            if (button->isEnabled())
                button->click();
        });
    }
    column->addWidget(footer);
}

// --- Drawing from the model ------------------------------------------------------

void MenuBarPanel::refresh()
{
    if (m_override)
        m_snapshot = *m_override;
    else if (m_model)
        m_snapshot = PanelSnapshot::of(*m_model);
    else
        m_snapshot = PanelSnapshot();
    m_state = MenuBarPanelText::state(m_snapshot);
    updateHeader();
    updateBodies();
    updateBannerRecording();
    fitHeight();
}

void MenuBarPanel::fitHeight()
{
    // The height follows the content at the panel's fixed width, wrapped
    // texts included.
    QLayout *column = layout();
    column->invalidate();
    column->activate();
    const int height = column->hasHeightForWidth() ? column->heightForWidth(kWidth) : column->sizeHint().height();
    setFixedHeight(qMax(height, column->minimumSize().height()));
}

void MenuBarPanel::updateHeader()
{
    const PanelSnapshot &s = m_snapshot;
    m_posture->setVisible(!s.hasDetectionFailure);
    m_banner->setVisible(s.hasDetectionFailure);
    m_toneIcon->setSymbol(MenuBarPanelText::toneSymbol(s.posture.tone),
                          VarnoColor::tone(PosturePresenter::tone(s.posture.tone)));
    m_postureBrusk->setVariant(s.isUpdating ? BruskVariant::craftsman : BruskVariant::sentry);
    m_postureTitle->setText(s.posture.title);
    m_posture->setAccessibleName(MenuBarPanelText::postureAccessibleLabel(s.posture));
}

void MenuBarPanel::updateBodies()
{
    const PanelSnapshot &s = m_snapshot;
    const bool busy = s.isScanning || s.isUpdating;

    m_running->setVisible(m_state == PanelState::running);
    m_error->setVisible(m_state == PanelState::error);
    m_loadFailed->setVisible(m_state == PanelState::loadFailed);
    m_needsScan->setVisible(m_state == PanelState::needsScan);
    m_pending->setVisible(m_state == PanelState::pending);
    m_clean->setVisible(m_state == PanelState::clean);
    m_unmeasured->setVisible(m_state == PanelState::unmeasured);

    // Running
    // States written into a snapshot by hand count over where the model stood.
    const PanelProgress progress = s.progress && s.updateProgress.isEmpty()
        ? *s.progress
        : MenuBarPanelText::progressOf(s.updateProgress, s.apps);
    const QString headline = MenuBarPanelText::progressHeadline(progress, s.isPaused);
    m_headline->setText(headline);
    m_headline->setToolTip(Labels::toolTip(headline));
    m_headline->setAccessibleName(headline);
    m_counter->setText(MenuBarPanelText::progressCounter(progress));
    m_progress->setFraction(MenuBarPanelText::progressFraction(progress));
    m_pauseResume->setText(s.isPaused ? QStringLiteral("Resume") : QStringLiteral("Pause"));

    // Load failed, needs scan, clean
    m_reload->setEnabled(!busy);
    m_scanNowFirst->setEnabled(!busy);
    m_scanNow->setEnabled(!busy);
    m_cleanDetail->setText(MenuBarPanelText::lastScanLabel(s.lastScanDate, Clock::now()));

    // Pending
    m_pendingStat->setValue(QString::number(s.outdatedCount), StatTone::primary);
    m_atRiskStat->setValue(QString::number(s.atRiskCount), s.atRiskCount != 0 ? StatTone::alert : StatTone::secondary);
    m_updateAll->setText(MenuBarPanelText::updateAllLabel(s.outdatedCount));
    m_updateAll->setEnabled(!busy);
    m_urgentOnly->setText(MenuBarPanelText::urgentOnlyLabel(s.urgentCount));
    m_urgentOnly->setVisible(MenuBarPanelText::shouldShowUrgentOnly(s.urgentCount, s.outdatedCount));
    m_urgentOnly->setEnabled(!busy);

    // Unmeasured
    m_unmeasuredHeadline->setText(MenuBarPanelText::unmeasuredHeadline(s.sensingGapCount));
    m_unmeasuredDetail->setText(MenuBarPanelText::unmeasuredDetail(s.unmeasuredCount));
    m_unmeasured->setAccessibleName(MenuBarPanelText::unmeasuredAccessibleLabel(s.sensingGapCount));

    // Footer
    m_footerScan->setEnabled(!busy);
    m_footerUpdate->setEnabled(m_updater && m_updater->canCheckForUpdates());
}

void MenuBarPanel::updateBannerRecording()
{
    // One "shown" event per appearance of the banner: each time the panel is
    // shown with detection incomplete, and each time detection turns
    // incomplete while it is shown; never per redraw.
    // A library that was never read tells nothing about detection.
    const bool bannerShown = isVisible() && m_snapshot.hasDetectionFailure && m_snapshot.hasLibrary;
    if (bannerShown && !m_bannerRecorded)
        eventRecorder()(ExperimentRecorder::detectionFailureBannerShown);
    m_bannerRecorded = bannerShown;
}

void MenuBarPanel::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refresh();
}

void MenuBarPanel::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_bannerRecorded = false;
}

// --- Actions -------------------------------------------------------------------------

void MenuBarPanel::togglePause()
{
    // The word follows the paused flag at the moment of the click; the label
    // changes only when the engine confirms.
    if (!m_model)
        return;
    sendControl(m_model->isPaused() ? QStringLiteral("resume") : QStringLiteral("pause"));
}

void MenuBarPanel::sendControl(const QString &word)
{
    if (!m_model)
        return;
    if (const std::shared_ptr<UpdateQueueController> controller = m_model->updateController())
        controller->send(word);
}

// The model's actions run on by themselves: the model guards itself against a
// second run and reports failures in its error.
void MenuBarPanel::startUpdateAll()
{
    if (m_model)
        Async::detach(m_model->updateAll());
}

void MenuBarPanel::startUpdateUrgent()
{
    if (m_model)
        Async::detach(m_model->updateUrgent());
}

void MenuBarPanel::startScan()
{
    if (m_model)
        Async::detach(m_model->scan());
}

void MenuBarPanel::reload()
{
    if (!m_model)
        return;
    m_model->setError(std::nullopt);
    Async::detach(m_model->load());
}

void MenuBarPanel::openWorkshop()
{
    WindowRegistry::openWorkshop();
    WindowRegistry::activate();
}

void MenuBarPanel::runDiagnostics()
{
    eventRecorder()(ExperimentRecorder::detectionFailureBannerCtaClicked);
    WindowRegistry::requestDiagnostics();
}

void MenuBarPanel::checkForAppUpdates()
{
    if (m_updater && m_updater->canCheckForUpdates())
        m_updater->checkForUpdates();
}
