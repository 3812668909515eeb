#include "provenance/ProvenanceDrawerView.h"

#include "base/Logging.h"
#include "engine/ExperimentRecorder.h"
#include "engine/VARNOError.h"
#include "engine/VARNOProcess.h"
#include "kit/ButtonStyles.h"
#include "kit/Labels.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "model/AppModel.h"
#include "model/AppTrustPresenter.h"
#include "platform/Appearance.h"
#include "platform/PlainText.h"
#include "provenance/ProvenanceBadges.h"
#include "provenance/ProvenanceParts.h"
#include "provenance/RestoreSheet.h"
#include "records/VendorUpdaters.h"

#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

using namespace ProvenanceRules;
using ProvenanceParts::Box;
using ProvenanceParts::Dot;

namespace {

// The most of an engine failure the history box shows; the whole goes to the log.
constexpr int kLoadErrorShownCharacters = 300;

ColorPair valueColor(ValueColor color)
{
    switch (color) {
    case ValueColor::primary:
        return VarnoColor::textPrimary();
    case ValueColor::secondary:
        return VarnoColor::textSecondary();
    case ValueColor::good:
        return VarnoColor::success();
    case ValueColor::warning:
        return VarnoColor::attention();
    case ValueColor::identity:
        break;
    }
    return VarnoColor::accent();
}

// A caption such as TRUST: mono 9 medium, upper case, 18 above and 10 below.
QWidget *drawerSectionLabel(const QString &text, QWidget *parent)
{
    auto *holder = new QWidget(parent);
    auto *layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, 18, 0, 10);
    layout->setSpacing(0);
    QLabel *caption = ProvenanceParts::label(text.toUpper(), VarnoFont::mono(9, QFont::Medium),
                                             VarnoColor::textTertiary(), false, holder);
    caption->setObjectName(QStringLiteral("section-") + text);
    layout->addWidget(caption);
    return holder;
}

// A borderless text button ("Try again").
ButtonStyle borderlessStyle()
{
    ButtonStyle style;
    style.face = ButtonStyle::Face{12, QFont::Medium};
    style.text = VarnoColor::accent();
    style.textPressed = VarnoColor::textPrimary();
    style.horizontalPadding = 0;
    style.verticalPadding = 2;
    return style;
}

void clearLayout(QLayout *layout)
{
    while (QLayoutItem *item = layout->takeAt(0)) {
        if (QWidget *widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        if (QLayout *inner = item->layout())
            clearLayout(inner);
        delete item;
    }
}

void start(QCoro::Task<void> task)
{
    // The task runs on by itself; the model reports its outcome.
    Q_UNUSED(task);
}

QString boundedText(const QString &text)
{
    if (text.size() <= kLoadErrorShownCharacters)
        return text;
    int cut = kLoadErrorShownCharacters;
    if (text.at(cut - 1).isHighSurrogate())
        --cut;
    return text.left(cut) + QStringLiteral("…");
}

} // namespace

ProvenanceDrawerView::ProvenanceDrawerView(AppModel *model, const AppRecord &app, std::function<void()> onDismiss,
                                           QWidget *parent, bool loads)
    : QWidget(parent)
    , m_model(model)
    , m_app(app)
    , m_onDismiss(std::move(onDismiss))
{
    if (!model)
        qFatal("ProvenanceDrawerView needs the app's model");
    setObjectName(QStringLiteral("provenance-drawer"));
    buildPanel();

    // Whatever the drawer shows follows the model.
    for (const auto changed : {&AppModel::appsChanged, &AppModel::updateProgressChanged, &AppModel::incidentsChanged,
                               &AppModel::isUpdatingChanged, &AppModel::isScanningChanged, &AppModel::isFixingChanged,
                               &AppModel::singleUpdateTokenChanged})
        connect(model, changed, this, &ProvenanceDrawerView::refresh);
    refresh();
    if (loads)
        startLoad();
}

ProvenanceDrawerView::~ProvenanceDrawerView()
{
    cancelLoad();
}

// --- Building ----------------------------------------------------------------------------

void ProvenanceDrawerView::buildPanel()
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    // The backdrop: a click anywhere on it closes the drawer.
    auto *backdrop = new Box(this);
    backdrop->setRadius(0);
    backdrop->setFill(VarnoColor::backgroundRaised(), 0.6);
    backdrop->setObjectName(QStringLiteral("drawer-backdrop"));
    backdrop->setCursor(Qt::PointingHandCursor);
    auto *backdropLayout = new QVBoxLayout(backdrop);
    backdropLayout->addStretch(1);
    QLabel *back = ProvenanceParts::label(QStringLiteral("← back to the shelf"), VarnoFont::italicBrusk(14),
                                          VarnoColor::textTertiary(), false, backdrop);
    back->setAlignment(Qt::AlignCenter);
    backdropLayout->addWidget(back);
    backdropLayout->addStretch(1);
    backdrop->installEventFilter(this);
    m_backdrop = backdrop;
    row->addWidget(backdrop, 1);

    auto *panel = new Box(this);
    panel->setRadius(0);
    panel->setFill(VarnoColor::background());
    panel->setObjectName(QStringLiteral("drawer-panel"));
    panel->setFixedWidth(kPanelWidth);
    m_panel = panel;
    row->addWidget(panel);

    auto *column = new QVBoxLayout(panel);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(buildHeader());
    column->addWidget(ProvenanceParts::divider(panel));

    auto *scroll = new QScrollArea(panel);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    VarnoColor::bindBackground(scroll->viewport(), VarnoColor::background());
    auto *content = new QWidget(scroll);
    VarnoColor::bindBackground(content, VarnoColor::background());
    auto *body = new QVBoxLayout(content);
    body->setContentsMargins(20, 20, 20, 20);
    body->setSpacing(0);

    // Trust
    body->addWidget(drawerSectionLabel(QStringLiteral("Trust"), content));
    auto *trust = new Box(content);
    trust->setFill(VarnoColor::surface());
    trust->setObjectName(QStringLiteral("trust-card"));
    auto *trustLayout = new QVBoxLayout(trust);
    trustLayout->setContentsMargins(12, 12, 12, 12);
    trustLayout->setSpacing(10);
    auto *titleRow = new QHBoxLayout();
    titleRow->setSpacing(10);
    m_trustDot = new Dot(8, VarnoColor::textTertiary(), trust);
    titleRow->addWidget(m_trustDot, 0, Qt::AlignVCenter);
    m_trustTitle = ProvenanceParts::label(QString(), VarnoFont::ui(14, QFont::Medium), VarnoColor::textPrimary(), true,
                                          trust);
    titleRow->addWidget(m_trustTitle, 1);
    trustLayout->addLayout(titleRow);
    m_trustDetail = ProvenanceParts::label(QString(), VarnoFont::ui(12), VarnoColor::textSecondary(), true, trust);
    trustLayout->addWidget(m_trustDetail);
    m_evidence = new QWidget(trust);
    auto *evidenceLayout = new QVBoxLayout(m_evidence);
    evidenceLayout->setContentsMargins(0, 0, 0, 0);
    evidenceLayout->setSpacing(6);
    trustLayout->addWidget(m_evidence);
    body->addWidget(trust);

    // The failure banner, shown only while the verdict is "failed".
    m_banner = new Box(content);
    m_banner->setObjectName(QStringLiteral("failure-banner"));
    m_banner->setFill(VarnoColor::danger(), 0.08);
    m_banner->setStroke(VarnoColor::danger(), 0.25);
    auto *bannerLayout = new QVBoxLayout(m_banner);
    bannerLayout->setContentsMargins(12, 12, 12, 12);
    bannerLayout->setSpacing(12);
    auto *bannerTitle = new QHBoxLayout();
    bannerTitle->setSpacing(10);
    bannerTitle->addWidget(
        new ProvenanceParts::Symbol(QStringLiteral("exclamationmark.triangle"), 17, VarnoColor::danger(), m_banner));
    bannerTitle->addWidget(ProvenanceParts::label(QStringLiteral("Update failed"), VarnoFont::ui(14, QFont::Medium),
                                                  VarnoColor::dangerText(), false, m_banner),
                           1);
    bannerLayout->addLayout(bannerTitle);
    m_bannerDetail = ProvenanceParts::label(QString(), VarnoFont::ui(12), VarnoColor::textSecondary(), true, m_banner);
    bannerLayout->addWidget(m_bannerDetail);
    auto *bannerButtons = new QHBoxLayout();
    bannerButtons->setSpacing(8);
    m_reinstall = new StyledButton(QStringLiteral("Re-install"), SecondaryButtonStyle(), m_banner);
    m_reinstall->setAccessibleName(QStringLiteral("Re-install"));
    m_uninstall = new StyledButton(QStringLiteral("Uninstall…"), DestructiveButtonStyle(), m_banner);
    m_uninstall->setAccessibleName(QStringLiteral("Uninstall…"));
    bannerButtons->addWidget(m_reinstall);
    bannerButtons->addWidget(m_uninstall);
    bannerButtons->addStretch(1);
    bannerLayout->addLayout(bannerButtons);
    connect(m_reinstall, &QPushButton::clicked, this, [this] { setActionToConfirm(AppLifecycleAction::reinstall); });
    connect(m_uninstall, &QPushButton::clicked, this, [this] { setActionToConfirm(AppLifecycleAction::uninstall); });
    body->addWidget(m_banner);

    // Current State
    body->addWidget(drawerSectionLabel(QStringLiteral("Current State"), content));
    m_stateRows = new QWidget(content);
    m_stateRows->setObjectName(QStringLiteral("current-state"));
    auto *rowsLayout = new QVBoxLayout(m_stateRows);
    rowsLayout->setContentsMargins(0, 0, 0, 0);
    rowsLayout->setSpacing(0);
    body->addWidget(m_stateRows);

    // Version History
    body->addWidget(drawerSectionLabel(QStringLiteral("Version History"), content));
    m_history = new Box(content);
    m_history->setObjectName(QStringLiteral("version-history"));
    m_history->setFill(VarnoColor::surface());
    m_history->setStroke(VarnoColor::border());
    m_history->setPaintsRows(true);
    auto *historyLayout = new QVBoxLayout(m_history);
    historyLayout->setContentsMargins(0, 0, 0, 0);
    historyLayout->setSpacing(1);
    body->addWidget(m_history);

    // Policy
    body->addWidget(drawerSectionLabel(QStringLiteral("Policy"), content));
    auto *policy = new Box(content);
    policy->setObjectName(QStringLiteral("policy"));
    policy->setFill(VarnoColor::surface());
    auto *policyLayout = new QVBoxLayout(policy);
    policyLayout->setContentsMargins(12, 12, 12, 12);
    policyLayout->setSpacing(12);
    m_routing = ProvenanceParts::label(QString(), VarnoFont::ui(12), VarnoColor::textSecondary(), true, policy);
    policyLayout->addWidget(m_routing);
    auto *pickerRow = new QHBoxLayout();
    pickerRow->setSpacing(8);
    QLabel *pickerTitle = ProvenanceParts::label(QStringLiteral("Update Mode"), VarnoFont::ui(13),
                                                 VarnoColor::textPrimary(), false, policy);
    pickerRow->addWidget(pickerTitle);
    m_modePicker = new QComboBox(policy);
    m_modePicker->setAccessibleName(QStringLiteral("Update Mode"));
    m_modePicker->setFont(VarnoFont::ui(13));
    for (const QString &mode : AppModel::updateModes)
        m_modePicker->addItem(AppModel::updateModeLabel(mode), mode);
    pickerTitle->setBuddy(m_modePicker);
    VarnoColor::onAppearanceChange(m_modePicker, [picker = m_modePicker] {
        QPalette palette = picker->palette();
        palette.setColor(QPalette::Button, VarnoColor::surfaceHover().resolved());
        palette.setColor(QPalette::ButtonText, VarnoColor::textPrimary().resolved());
        palette.setColor(QPalette::Base, VarnoColor::surface().resolved());
        palette.setColor(QPalette::Text, VarnoColor::textPrimary().resolved());
        palette.setColor(QPalette::Window, VarnoColor::surface().resolved());
        palette.setColor(QPalette::WindowText, VarnoColor::textPrimary().resolved());
        palette.setColor(QPalette::Highlight, VarnoColor::accent().resolved());
        palette.setColor(QPalette::HighlightedText, VarnoColor::background().resolved());
        picker->setPalette(palette);
    });
    // Only the user's pick changes the mode; showing the live mode does not.
    connect(m_modePicker, &QComboBox::activated, this, &ProvenanceDrawerView::pickMode);
    pickerRow->addWidget(m_modePicker, 1);
    policyLayout->addLayout(pickerRow);
    body->addWidget(policy);
    body->addStretch(1);

    scroll->setWidget(content);
    column->addWidget(scroll, 1);
    column->addWidget(ProvenanceParts::divider(panel));
    column->addWidget(buildFooter());
}

QWidget *ProvenanceDrawerView::buildHeader()
{
    auto *header = new QWidget(m_panel);
    header->setObjectName(QStringLiteral("drawer-header"));
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(20, 20, 20, 20);
    row->setSpacing(14);
    auto *names = new QVBoxLayout();
    names->setSpacing(3);
    m_name = ProvenanceParts::label(QString(), VarnoFont::brusk(20, QFont::Light), VarnoColor::textPrimary(), true,
                                    header);
    m_name->setObjectName(QStringLiteral("drawer-app-name"));
    m_bundleIdLabel = ProvenanceParts::label(QString(), VarnoFont::mono(11), VarnoColor::textSecondary(), true, header);
    m_bundleIdLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    names->addWidget(m_name);
    names->addWidget(m_bundleIdLabel);
    names->addStretch(1);
    row->addLayout(names, 1);

    m_badgeSlot = new QWidget(header);
    auto *badge = new QVBoxLayout(m_badgeSlot);
    badge->setContentsMargins(0, 0, 0, 0);
    badge->setSpacing(4);
    m_badgeCaption = ProvenanceParts::label(QString(), VarnoFont::mono(9, QFont::Medium), VarnoColor::textSecondary(),
                                            false, m_badgeSlot);
    m_badgeCaption->setAlignment(Qt::AlignHCenter);
    connect(&Appearance::instance(), &Appearance::changed, m_badgeCaption, [this] { applyBadgeCaptionColor(); });
    badge->addWidget(m_badgeCaption, 0, Qt::AlignHCenter);
    m_badgeSlot->hide();
    row->addWidget(m_badgeSlot, 0, Qt::AlignTop);
    return header;
}

QWidget *ProvenanceDrawerView::buildFooter()
{
    auto *footer = new QWidget(m_panel);
    footer->setObjectName(QStringLiteral("drawer-footer"));
    auto *row = new QHBoxLayout(footer);
    row->setContentsMargins(14, 14, 14, 14);
    row->setSpacing(8);
    m_update = new StyledButton(QStringLiteral("Update"), PrimaryButtonStyle(), footer);
    m_restore = new StyledButton(QStringLiteral("Restore previous version…"), GhostButtonStyle(), footer);
    m_restore->setAccessibleName(QStringLiteral("Restore previous version…"));
    m_close = new StyledButton(QStringLiteral("Close"), GhostButtonStyle(), footer);
    m_close->setAccessibleName(QStringLiteral("Close"));
    row->addWidget(m_update);
    row->addWidget(m_restore);
    row->addWidget(m_close);
    row->addStretch(1);

    connect(m_update, &QPushButton::clicked, this, [this] {
        if (!m_model)
            return;
        const AppRecord shown = app();
        if (updateSlot(shown) == UpdateSlot::checkInApp)
            start(m_model->triggerSelfUpdate(shown));
        else if (updateSlot(shown) == UpdateSlot::update)
            start(m_model->update(shown));
    });
    connect(m_restore, &QPushButton::clicked, this, &ProvenanceDrawerView::showRestoreSheet);
    connect(m_close, &QPushButton::clicked, this, [this] {
        if (m_onDismiss)
            m_onDismiss();
    });
    return footer;
}

void ProvenanceDrawerView::applyBadgeCaptionColor()
{
    QPalette palette = m_badgeCaption->palette();
    palette.setColor(QPalette::WindowText, m_badgeCaptionColor.resolved());
    m_badgeCaption->setPalette(palette);
}

bool ProvenanceDrawerView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_backdrop && event->type() == QEvent::MouseButtonRelease) {
        auto *click = static_cast<QMouseEvent *>(event);
        if (click->button() == Qt::LeftButton && m_backdrop->rect().contains(click->position().toPoint())) {
            if (m_onDismiss)
                m_onDismiss();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// --- State ------------------------------------------------------------------------------

QString ProvenanceDrawerView::shortDate(const QString &timestamp)
{
    return ProvenanceRules::historyDate(timestamp);
}

AppRecord ProvenanceDrawerView::app() const
{
    if (m_model) {
        for (const AppRecord &record : m_model->apps()) {
            if (record.bundle_id == m_app.bundle_id)
                return record;
        }
    }
    return m_app;
}

void ProvenanceDrawerView::setApp(const AppRecord &app)
{
    const bool switched = app.bundle_id != m_app.bundle_id;
    m_app = app;
    if (switched) {
        if (m_confirmation)
            m_confirmation->reject();
        m_actionToConfirm.reset();
        m_state = LoadState();
        refresh();
        startLoad();
        return;
    }
    refresh();
}

void ProvenanceDrawerView::setLoadStateForPreview(const LoadState &state)
{
    cancelLoad();
    ++m_generation;
    m_state = state;
    refresh();
}

AppTrustPresentation ProvenanceDrawerView::presentation(const AppRecord &app) const
{
    std::optional<AppIncident> incident;
    UpdateState state;
    if (m_model) {
        state = m_model->updateState(app.bundle_id);
        const auto it = m_model->incidents().constFind(app.bundle_id);
        if (it != m_model->incidents().constEnd())
            incident = *it;
    }
    return AppTrustPresenter::make(app, state, incident, VendorUpdaters::shared());
}

bool ProvenanceDrawerView::isBusy() const
{
    return !m_model || m_model->isBusyFor(m_app.bundle_id);
}

QMessageBox *ProvenanceDrawerView::confirmationDialog() const
{
    return m_confirmation.data();
}

RestoreSheet *ProvenanceDrawerView::restoreSheet() const
{
    return m_restoreSheet.data();
}

QWidget *ProvenanceDrawerView::failureBanner() const
{
    return m_banner;
}

// --- Refresh ------------------------------------------------------------------------------

void ProvenanceDrawerView::refresh()
{
    // Keep the freshest copy, for when the app leaves the library.
    const AppRecord shown = app();
    m_app = shown;
    const AppTrustPresentation trust = presentation(shown);
    drawerHeader(shown, trust);
    trustSummary(trust);
    clusterErrorBanner(shown, trust);
    currentStateRows(shown, trust);
    versionHistoryRows(trust);
    policySection(shown, trust);
    drawerFooter(shown);
    for (QWidget *container : {m_badgeSlot, m_evidence, m_stateRows, static_cast<QWidget *>(m_history)})
        ProvenanceParts::showAdded(container);
    for (QWidget *row : m_evidence->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        ProvenanceParts::showAdded(row);
    Q_EMIT refreshed();
}

void ProvenanceDrawerView::drawerHeader(const AppRecord &shown, const AppTrustPresentation &trust)
{
    m_name->setText(PlainText::forField(shown.app_name));
    m_bundleIdLabel->setText(PlainText::forField(shown.bundle_id));
    const TrustBadge badge = headerBadge(trust);
    if (badge != m_shownBadge || (badge != TrustBadge::none && !m_badge)) {
        if (m_badge) {
            m_badge->hide();
            m_badge->deleteLater();
            m_badge = nullptr;
        }
        if (badge != TrustBadge::none) {
            m_badge = ProvenanceBadges::make(badge, 48, m_badgeSlot);
            static_cast<QVBoxLayout *>(m_badgeSlot->layout())->insertWidget(0, m_badge, 0, Qt::AlignHCenter);
        }
        m_shownBadge = badge;
    }
    m_badgeSlot->setVisible(badge != TrustBadge::none);
    if (badge == TrustBadge::seal) {
        m_badgeCaption->setText(trust.title.toUpper());
        m_badgeCaptionColor = VarnoColor::tone(PosturePresenter::tone(AppTrustPresenter::tone(trust.state)));
    } else if (badge == TrustBadge::verifiedPath) {
        m_badgeCaption->setText(QStringLiteral("VERIFIED PATH"));
        m_badgeCaptionColor = VarnoColor::textSecondary();
    }
    applyBadgeCaptionColor();
}

void ProvenanceDrawerView::trustSummary(const AppTrustPresentation &trust)
{
    m_trustDot->setColor(VarnoColor::tone(PosturePresenter::tone(AppTrustPresenter::tone(trust.state))));
    m_trustTitle->setText(trust.title);
    m_trustDetail->setText(trust.detail.value_or(QString()));
    m_trustDetail->setVisible(trust.detail.has_value());
    if (trust.evidence == m_shownEvidence && !m_evidence->layout()->isEmpty())
        return;
    m_shownEvidence = trust.evidence;
    clearLayout(m_evidence->layout());
    for (const QString &line : trust.evidence) {
        auto *row = new QWidget(m_evidence);
        auto *layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(8);
        auto *dotHolder = new QWidget(row);
        auto *dotLayout = new QVBoxLayout(dotHolder);
        dotLayout->setContentsMargins(0, 6, 0, 0);
        dotLayout->addWidget(new Dot(4, VarnoColor::textTertiary(), dotHolder));
        dotLayout->addStretch(1);
        layout->addWidget(dotHolder, 0, Qt::AlignTop);
        layout->addWidget(ProvenanceParts::label(line, VarnoFont::ui(11), VarnoColor::textTertiary(), true, row), 1);
        m_evidence->layout()->addWidget(row);
    }
}

void ProvenanceDrawerView::clusterErrorBanner(const AppRecord &shown, const AppTrustPresentation &trust)
{
    const bool failed = trust.state == AppTrustState::failed;
    m_banner->setVisible(failed);
    m_bannerDetail->setText(trust.detail.value_or(QString()));
    m_bannerDetail->setVisible(trust.detail.has_value());
    const bool busy = isBusy();
    m_reinstall->setEnabled(canReinstall(shown, busy));
    m_uninstall->setEnabled(canUninstall(shown, busy));
}

void ProvenanceDrawerView::currentStateRows(const AppRecord &shown, const AppTrustPresentation &trust)
{
    const QList<StateRow> rows = ProvenanceRules::currentStateRows(shown, trust);
    if (rows == m_shownRows && !m_stateRows->layout()->isEmpty())
        return;
    m_shownRows = rows;
    clearLayout(m_stateRows->layout());
    for (const StateRow &stateRow : rows) {
        m_stateRows->layout()->addWidget(provRow(stateRow.key, stateRow.value, valueColor(stateRow.color)));
        m_stateRows->layout()->addWidget(ProvenanceParts::divider(m_stateRows));
    }
}

QWidget *ProvenanceDrawerView::provRow(const QString &key, const QString &value, const ColorPair &valueColor)
{
    auto *row = new QWidget(m_stateRows);
    row->setObjectName(QStringLiteral("state-row-") + key);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 7, 0, 7);
    layout->setSpacing(8);
    QLabel *keyLabel = ProvenanceParts::label(key, VarnoFont::mono(11), VarnoColor::textSecondary(), false, row);
    keyLabel->setFixedWidth(72);
    layout->addWidget(keyLabel, 0, Qt::AlignTop);
    QLabel *valueLabel = ProvenanceParts::label(value, VarnoFont::mono(11), valueColor, true, row);
    valueLabel->setAlignment(Qt::AlignRight | Qt::AlignTop);
    valueLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(valueLabel, 1);
    return row;
}

void ProvenanceDrawerView::versionHistoryRows(const AppTrustPresentation &trust)
{
    const HistoryContent content = historyContent(m_state.isLoading, m_state.loadError, m_state.provenance.isEmpty());
    // What the box shows, as one text: it is rebuilt only when that changes.
    QString key = QString::number(int(content));
    if (content == HistoryContent::error)
        key += QLatin1Char('|') + *m_state.loadError;
    QList<std::pair<ProvenanceRecord, HistoryBadge>> rows;
    if (content == HistoryContent::rows) {
        for (const ProvenanceRecord &record : m_state.provenance) {
            const HistoryBadge badge = historyBadge(record, trust);
            rows.append({record, badge});
            key += QLatin1Char('|') + historyVersion(record) + QLatin1Char('/') + historyTimestamp(record)
                + QLatin1Char('/') + QString::number(int(badge.kind)) + badge.text;
        }
    }
    if (key == m_shownHistoryKey)
        return;
    m_shownHistoryKey = key;
    QLayout *layout = m_history->layout();
    clearLayout(layout);
    m_tryAgain = nullptr;
    m_history->setAccessibleName(content == HistoryContent::loading ? QStringLiteral("Loading version history")
                                                                    : QStringLiteral("Version History"));

    switch (content) {
    case HistoryContent::loading:
        versionHistorySkeleton();
        break;
    case HistoryContent::error: {
        auto *row = new QWidget(m_history);
        row->setObjectName(QStringLiteral("history-error"));
        auto *rowLayout = new QVBoxLayout(row);
        rowLayout->setContentsMargins(12, 12, 12, 12);
        rowLayout->setSpacing(6);
        rowLayout->addWidget(ProvenanceParts::label(QStringLiteral("Couldn’t load provenance."),
                                                    VarnoFont::ui(12, QFont::Medium), VarnoColor::dangerText(), false,
                                                    row));
        QLabel *message = ProvenanceParts::label(boundedText(*m_state.loadError), VarnoFont::ui(11),
                                                 VarnoColor::textTertiary(), true, row);
        message->setObjectName(QStringLiteral("history-error-text"));
        message->setMaximumHeight(QFontMetrics(message->font()).lineSpacing() * 3);
        rowLayout->addWidget(message);
        m_tryAgain = new StyledButton(QStringLiteral("Try again"), borderlessStyle(), row);
        m_tryAgain->setAccessibleName(QStringLiteral("Try again"));
        connect(m_tryAgain, &QPushButton::clicked, this, [this] {
            cancelLoad();
            m_token = VARNOCancellationToken::create();
            start(reloadHistory());
        });
        rowLayout->addWidget(m_tryAgain, 0, Qt::AlignLeft);
        layout->addWidget(row);
        break;
    }
    case HistoryContent::empty: {
        auto *row = new QWidget(m_history);
        row->setObjectName(QStringLiteral("history-empty"));
        auto *rowLayout = new QVBoxLayout(row);
        rowLayout->setContentsMargins(12, 12, 12, 12);
        rowLayout->addWidget(ProvenanceParts::label(QStringLiteral("No history yet."), VarnoFont::ui(12),
                                                    VarnoColor::textTertiary(), false, row));
        layout->addWidget(row);
        break;
    }
    case HistoryContent::rows:
        // Rows keep the engine's order; two with the same time are still two rows.
        for (int index = 0; index < rows.size(); ++index) {
            const auto &[record, badge] = rows.at(index);
            auto *row = new QWidget(m_history);
            row->setObjectName(QStringLiteral("history-row-%1").arg(index));
            auto *rowLayout = new QHBoxLayout(row);
            rowLayout->setContentsMargins(12, 8, 12, 8);
            QLabel *version = ProvenanceParts::label(historyVersion(record), VarnoFont::mono(11, QFont::Medium),
                                                     VarnoColor::textPrimary(), false, row);
            version->setMinimumWidth(60);
            rowLayout->addWidget(version);
            rowLayout->addWidget(ProvenanceParts::label(historyTimestamp(record), VarnoFont::mono(11),
                                                        VarnoColor::textTertiary(), false, row));
            rowLayout->addStretch(1);
            if (badge.kind == HistoryBadge::Kind::count) {
                rowLayout->addWidget(ProvenanceParts::label(badge.text, VarnoFont::mono(9, QFont::Medium),
                                                            VarnoColor::success(), false, row));
            } else if (badge.kind == HistoryBadge::Kind::seal) {
                rowLayout->addWidget(ProvenanceBadges::make(TrustBadge::seal, 16, row));
            } else if (badge.kind == HistoryBadge::Kind::verifiedPath) {
                rowLayout->addWidget(ProvenanceBadges::make(TrustBadge::verifiedPath, 16, row));
            }
            layout->addWidget(row);
        }
        break;
    }
    m_history->update();
}

void ProvenanceDrawerView::versionHistorySkeleton()
{
    // Three placeholder rows; the box is labelled "Loading version history".
    for (int index = 0; index < 3; ++index) {
        auto *row = new QWidget(m_history);
        row->setObjectName(QStringLiteral("skeleton-row-%1").arg(index));
        auto *rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(12, 8, 12, 8);
        rowLayout->addWidget(new ProvenanceParts::SkeletonBar(60, 12, row));
        rowLayout->addWidget(new ProvenanceParts::SkeletonBar(84, 12, row));
        rowLayout->addStretch(1);
        m_history->layout()->addWidget(row);
    }
}

void ProvenanceDrawerView::policySection(const AppRecord &shown, const AppTrustPresentation &trust)
{
    m_routing->setText(routingSentence(trust.mechanismLabel));
    const QString mode = shown.update_mode.value_or(QStringLiteral("auto"));
    m_modePicker->setCurrentIndex(m_modePicker->findData(mode));
    m_modePicker->setEnabled(m_model && !m_model->isUpdating());
}

void ProvenanceDrawerView::drawerFooter(const AppRecord &shown)
{
    switch (updateSlot(shown)) {
    case UpdateSlot::checkInApp:
        m_update->setText(QStringLiteral("Check for Update in App"));
        m_update->setEnabled(m_model && !m_model->isUpdating());
        m_update->show();
        break;
    case UpdateSlot::update:
        m_update->setText(QStringLiteral("Update"));
        m_update->setEnabled(m_model && !m_model->isUpdating() && !m_model->isScanning());
        m_update->show();
        break;
    case UpdateSlot::none:
        m_update->hide();
        break;
    }
    m_update->setAccessibleName(m_update->text());
    const bool hasBackup = m_state.backup && m_state.backup->available;
    m_restore->setVisible(hasBackup);
    m_restore->setEnabled(!isBusy());
}

QStringList ProvenanceDrawerView::visibleTexts() const
{
    QStringList texts;
    const QList<QWidget *> widgets = findChildren<QWidget *>();
    for (QWidget *widget : widgets) {
        if (!widget->isVisibleTo(const_cast<ProvenanceDrawerView *>(this)))
            continue;
        if (auto *label = qobject_cast<QLabel *>(widget); label && !label->text().isEmpty())
            texts.append(label->text());
        else if (auto *button = qobject_cast<QPushButton *>(widget); button && !button->text().isEmpty())
            texts.append(button->text());
    }
    return texts;
}

// --- Loading --------------------------------------------------------------------------------

void ProvenanceDrawerView::cancelLoad()
{
    if (m_token) {
        m_token->cancel();
        m_token.reset();
    }
}

void ProvenanceDrawerView::startLoad()
{
    cancelLoad();
    m_token = VARNOCancellationToken::create();
    start(loadDrawer());
}

QCoro::Task<void> ProvenanceDrawerView::loadDrawer()
{
    QPointer<ProvenanceDrawerView> self(this);
    const quint64 generation = ++m_generation;
    ++m_loadRuns;
    const QString bid = m_app.bundle_id;
    const std::shared_ptr<VARNOCancellationToken> token = m_token;
    // Still the drawer's run, for the app it shows.
    const auto current = [self, generation, bid] {
        return self && self->m_generation == generation && self->m_app.bundle_id == bid;
    };
    m_state.isLoading = true;
    m_state.loadError.reset();
    refresh();

    const FetchedHistory fetched = co_await fetchHistory(bid, token);
    if (!current())
        co_return;
    if (!applyHistory(fetched)) {
        m_state.isLoading = false;
        refresh();
        co_return;
    }
    refresh();

    std::optional<BackupRecord> backup;
    try {
        backup = co_await VARNOProcess::backupStatus(bid, token);
    } catch (...) {
        backup.reset();
    }
    if (!current())
        co_return;
    m_state.backup = backup;
    if (backup && backup->available)
        ExperimentRecorder::record(ExperimentRecorder::restoreAvailable);
    refresh();

    std::optional<TrustSealRecord> seal;
    try {
        seal = co_await VARNOProcess::trustSeal(bid, token);
    } catch (...) {
        seal.reset();
    }
    if (!current())
        co_return;
    if (seal && m_model)
        m_model->applyTrustSeal(bid, seal->green_seal, seal->verified_path);
    m_state.isLoading = false;
    refresh();
}

QCoro::Task<void> ProvenanceDrawerView::reloadHistory()
{
    QPointer<ProvenanceDrawerView> self(this);
    const quint64 generation = ++m_generation;
    ++m_loadRuns;
    const QString bid = m_app.bundle_id;
    const std::shared_ptr<VARNOCancellationToken> token = m_token;
    const auto current = [self, generation, bid] {
        return self && self->m_generation == generation && self->m_app.bundle_id == bid;
    };
    m_state.isLoading = true;
    m_state.loadError.reset();
    refresh();

    const FetchedHistory fetched = co_await fetchHistory(bid, token);
    if (!current())
        co_return;
    applyHistory(fetched);
    m_state.isLoading = false;
    refresh();
}

QCoro::Task<ProvenanceDrawerView::FetchedHistory>
ProvenanceDrawerView::fetchHistory(QString bundleId, std::shared_ptr<VARNOCancellationToken> token)
{
    FetchedHistory fetched;
    try {
        fetched.history = co_await VARNOProcess::provenance(std::optional<QString>(bundleId), token);
    } catch (const std::exception &error) {
        fetched.failure = localizedDescription(error);
    } catch (...) {
        fetched.failure = QStringLiteral("Something went wrong running VARNO.");
    }
    co_return fetched;
}

bool ProvenanceDrawerView::applyHistory(const FetchedHistory &fetched)
{
    if (fetched.failure) {
        qCInfo(lcVarno).noquote() << "provenance of" << m_app.bundle_id << "failed:" << *fetched.failure;
        m_state.provenance.clear();
        m_state.loadError = fetched.failure;
        return false;
    }
    m_state.provenance = fetched.history;
    return true;
}

// --- Actions ----------------------------------------------------------------------------------

void ProvenanceDrawerView::pickMode(int index)
{
    if (!m_model || index < 0)
        return;
    const QString mode = m_modePicker->itemData(index).toString();
    start(changeUpdateMode(app(), mode));
}

QCoro::Task<void> ProvenanceDrawerView::changeUpdateMode(AppRecord app, QString mode)
{
    const QPointer<ProvenanceDrawerView> self(this);
    QCoro::Task<void> change = m_model->setUpdateMode(std::move(app), std::move(mode));
    co_await std::move(change);
    // A success has reloaded the library (and refreshed the drawer); a
    // refusal or an engine that kept the old mode changed nothing, so the
    // picker would stay on the refused mode.
    if (self)
        self->refresh();
}

void ProvenanceDrawerView::setActionToConfirm(std::optional<AppLifecycleAction> action)
{
    if (m_confirmation) {
        m_confirmation->disconnect(this);
        m_confirmation->close();
    }
    m_actionToConfirm = action;
    if (!action)
        return;
    const AppRecord shown = app();
    auto *box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Warning);
    box->setTextFormat(Qt::PlainText);
    // The title stays visible even where the window manager hides titles.
    box->setWindowTitle(confirmationTitle(action, shown));
    box->setText(confirmationTitle(action, shown));
    Labels::setPlainInformativeText(box, confirmationMessage(action, shown));
    QPushButton *cancel = box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    QPushButton *confirm = box->addButton(confirmButtonText(*action),
                                          *action == AppLifecycleAction::uninstall ? QMessageBox::DestructiveRole
                                                                                   : QMessageBox::AcceptRole);
    for (QPushButton *button : {cancel, confirm})
        button->setAutoDefault(false);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    connect(box, &QDialog::finished, this, [this, box, confirm] {
        if (box->clickedButton() == confirm)
            confirmPendingAction();
        else
            m_actionToConfirm.reset();
    });
    m_confirmation = box;
    box->open();
}

void ProvenanceDrawerView::confirmPendingAction()
{
    const std::optional<AppLifecycleAction> action = m_actionToConfirm;
    m_actionToConfirm.reset();
    if (!action || !m_model)
        return;
    const AppRecord shown = app();
    // The gates are asked again, and a refusal says why: the record may have
    // changed while the dialog was open, and the model refuses (with its own
    // sentence) while other work runs that may change the same app.
    const bool allowed = *action == AppLifecycleAction::reinstall ? canReinstall(shown, false)
                                                                  : canUninstall(shown, false);
    if (!allowed) {
        m_model->setError(noLongerAllowedText(*action, shown));
        return;
    }
    if (*action == AppLifecycleAction::reinstall)
        start(m_model->reinstall(shown));
    else
        start(m_model->uninstall(shown));
}

void ProvenanceDrawerView::showRestoreSheet()
{
    if (m_restoreSheet || !m_model)
        return;
    auto *sheet = new RestoreSheet(m_model, app(), this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    m_restoreSheet = sheet;
    sheet->open();
}
