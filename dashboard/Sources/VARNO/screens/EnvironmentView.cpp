#include "screens/EnvironmentView.h"

#include "base/Async.h"
#include "engine/EngineSettingsCommands.h"
#include "engine/ExperimentRecorder.h"
#include "kit/BrandArtwork.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "kit/VarnoSignals.h"
#include "model/AppModel.h"
#include "platform/MainBundle.h"
#include "platform/ServiceManagement.h"
#include "platform/ServiceOverride.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "screens/PanelParts.h"
#include "services/LaunchAgentManager.h"

#include <QFuture>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

#include <qcoro/qcorofuture.h>

namespace {

ServiceOverride<EnvironmentServices> environmentOverride;

QCoro::Task<QList<ESE>> probeSystemExtensions()
{
    co_return co_await ESEProbe::probe();
}

QCoro::Task<RetentionStatus> engineRetentionStatus()
{
    co_return co_await EngineSettingsCommands::retentionStatus();
}

struct Statuses {
    bool fda = true;
    bool receiptsFolderExists = true;
    int agent = 0;
    int loginItem = 0;
};

// The banner's row: a warning-orange wash with a stronger line at its foot.
class BannerView : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), VarnoColor::warning().resolved(0.1));
        painter.fillRect(QRect(0, height() - 1, width(), 1), VarnoColor::warning().resolved(0.35));
    }
};

// A line of a row's text column: wrapped, as tall as its lines, its text at
// the top.
QLabel *topAlignedLine(const QString &text, const QFont &font, const ColorPair &color, QWidget *parent)
{
    QLabel *label = PanelParts::label(text, font, color, true, parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QLabel *rowTitle(const QString &text, QWidget *parent)
{
    return topAlignedLine(text, VarnoFont::ui(14, QFont::Medium), VarnoColor::textPrimary(), parent);
}

QLabel *rowDetail(const QString &text, QWidget *parent)
{
    return topAlignedLine(text, VarnoFont::ui(12), VarnoColor::textSecondary(), parent);
}

QLabel *sizedFootnote(const QString &text, qreal size, QWidget *parent)
{
    return topAlignedLine(text, VarnoFont::ui(size), VarnoColor::textTertiary(), parent);
}

// A row: the mark, the text column, a flexible space and, when given, a button.
QHBoxLayout *rowLayout(QWidget *mark, QVBoxLayout **textColumn)
{
    auto *row = new QHBoxLayout();
    row->setSpacing(12);
    row->addWidget(mark, 0, Qt::AlignTop);
    auto *column = new QVBoxLayout();
    column->setSpacing(2);
    row->addLayout(column, 1);
    *textColumn = column;
    return row;
}

QPushButton *sectionButton(const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setAutoDefault(false);
    return button;
}

} // namespace

// --- EnvironmentServices -------------------------------------------------------------

EnvironmentServices EnvironmentServices::system()
{
    EnvironmentServices services;
    services.hasFullDiskAccess = [] { return TCCStatus::hasFullDiskAccess(); };
    services.receiptsFolderExists = [] { return TCCStatus::receiptsFolderExists(); };
    services.agentStatus = [] { return int(LaunchAgentManager::agentService().status()); };
    services.loginItemStatus = [] { return int(SMAppService::mainApp().status()); };
    services.probeExtensions = probeSystemExtensions;
    services.retentionStatus = engineRetentionStatus;
    services.setLoginItem = [](bool enabled) { return int(LoginItemManager::set(enabled)); };
    services.recordEvent = [](const QString &event) { ExperimentRecorder::record(event); };
    return services;
}

EnvironmentServices EnvironmentServices::current()
{
    return environmentOverride.current(&EnvironmentServices::system);
}

void EnvironmentServices::setOverride(std::optional<EnvironmentServices> services)
{
    environmentOverride.set(std::move(services));
}

WorkshopWarningButtonStyle::WorkshopWarningButtonStyle()
{
    face = Face{12, QFont::DemiBold};
    text = VarnoColor::background();
    fill = VarnoColor::warning();
    fillPressedOpacity = 0.85;
    cornerRadius = 8;
    horizontalPadding = 12;
    verticalPadding = 6;
}

// --- EnvironmentView -----------------------------------------------------------------

EnvironmentView::EnvironmentView(AppModel *model, QWidget *parent)
    : EnvironmentView(model, EnvironmentServices::current(), parent)
{
}

EnvironmentView::EnvironmentView(AppModel *model, EnvironmentServices services, QWidget *parent)
    : QDialog(parent)
    , m_model(model)
    , m_services(std::move(services))
{
    const EnvironmentServices fallback = EnvironmentServices::system();
    if (!m_services.hasFullDiskAccess)
        m_services.hasFullDiskAccess = fallback.hasFullDiskAccess;
    if (!m_services.receiptsFolderExists)
        m_services.receiptsFolderExists = fallback.receiptsFolderExists;
    if (!m_services.agentStatus)
        m_services.agentStatus = fallback.agentStatus;
    if (!m_services.loginItemStatus)
        m_services.loginItemStatus = fallback.loginItemStatus;
    if (!m_services.probeExtensions)
        m_services.probeExtensions = fallback.probeExtensions;
    if (!m_services.retentionStatus)
        m_services.retentionStatus = fallback.retentionStatus;
    if (!m_services.setLoginItem)
        m_services.setLoginItem = fallback.setLoginItem;
    if (!m_services.recordEvent)
        m_services.recordEvent = fallback.recordEvent;

    m_snapshot.launchAtLoginPref = UserDefaults::open()->value(LoginItemManager::launchAtLoginKey, false).toBool();

    setWindowTitle(QStringLiteral("Workshop Environment"));
    setObjectName(QStringLiteral("environment"));
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(600, 640);
    VarnoColor::bindWindowPalette(this, VarnoColor::background());
    build();
    if (m_model) {
        connect(m_model, &AppModel::appsChanged, this, &EnvironmentView::updateBanner);
        connect(m_model, &AppModel::hasEverScannedChanged, this, &EnvironmentView::updateBanner);
    }
    render();
}

void EnvironmentView::build()
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    auto *header = new QWidget(this);
    auto *headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(16, 16, 16, 16);
    headerRow->addWidget(PanelParts::label(QStringLiteral("Workshop Environment"), VarnoFont::brusk(24),
                                           VarnoColor::textPrimary(), false, header));
    headerRow->addStretch(1);
    m_doneButton = new QPushButton(QStringLiteral("Done"), header);
    m_doneButton->setDefault(true);
    connect(m_doneButton, &QPushButton::clicked, this, &QDialog::accept);
    headerRow->addWidget(m_doneButton);
    outer->addWidget(header);
    outer->addWidget(PanelParts::divider(this));
    m_banner = buildBanner();
    m_banner->setVisible(false);
    outer->addWidget(m_banner);

    auto *scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    VarnoColor::bindBackground(scroll->viewport(), VarnoColor::background());
    auto *content = new QWidget();
    VarnoColor::bindBackground(content, VarnoColor::background());
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(24);

    QWidget *body = nullptr;
    QVBoxLayout *text = nullptr;

    // Posture.
    column->addWidget(section(QStringLiteral("Posture"), &body));
    m_postureDot = new PanelsStatusDot(8, 6, body);
    auto *postureRow = rowLayout(m_postureDot, &text);
    m_postureTitle = rowTitle(QString(), body);
    m_postureDetail = rowDetail(QString(), body);
    text->addWidget(m_postureTitle);
    text->addWidget(m_postureDetail);
    static_cast<QVBoxLayout *>(body->layout())->addLayout(postureRow);

    // Permissions.
    column->addWidget(section(QStringLiteral("Permissions"), &body));
    m_fdaDot = new PanelsStatusDot(8, 6, body);
    auto *fdaRow = rowLayout(m_fdaDot, &text);
    text->addWidget(rowTitle(QStringLiteral("Full Disk Access"), body));
    m_fdaDetail = rowDetail(QString(), body);
    text->addWidget(m_fdaDetail);
    m_openSettings = sectionButton(QStringLiteral("Open Settings…"), body);
    connect(m_openSettings, &QPushButton::clicked, this, [this] {
        openSystemSettings(QStringLiteral("x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?"
                                          "Privacy_AllFiles"));
    });
    fdaRow->addWidget(m_openSettings, 0, Qt::AlignTop);
    static_cast<QVBoxLayout *>(body->layout())->addLayout(fdaRow);

    // Privilege model.
    column->addWidget(section(QStringLiteral("Privilege model"), &body));
    auto *privilegeRow = rowLayout(new PanelsSymbol(QStringLiteral("lock.shield"), VarnoColor::success(), 16, 2, body),
                                   &text);
    text->addWidget(rowTitle(QStringLiteral("VARNO does not silently elevate."), body));
    text->addWidget(rowDetail(QStringLiteral("Root-required PKGs are left to manual install. An optional SMJobBless helper "
                                             "may be added later for controlled system-level operations."),
                              body));
    static_cast<QVBoxLayout *>(body->layout())->addLayout(privilegeRow);

    // Update VARNO.
    column->addWidget(section(QStringLiteral("Update VARNO"), &body));
    auto *updateRow = rowLayout(new PanelsSymbol(QStringLiteral("arrow.down.circle"), VarnoColor::textSecondary(), 16,
                                                 2, body),
                                &text);
    m_versionLabel = rowTitle(QString(), body);
    text->addWidget(m_versionLabel);
    m_engineLine = rowDetail(QString(), body);
    text->addWidget(m_engineLine);
    text->addWidget(rowDetail(EnvironmentRules::updateHint(), body));
    const QString website = EnvironmentRules::websiteAddress(MainBundle::infoString(QStringLiteral("VARNOWebsiteURL")));
    const QString domain = EnvironmentRules::websiteDomain(website);
    auto *note = sizedFootnote(EnvironmentRules::updateNote(domain), 11, body);
    note->setTextFormat(Qt::MarkdownText);
    note->setText(EnvironmentRules::updateNote(domain));
    text->addWidget(note);
    m_website = sectionButton(QStringLiteral("Open ") + domain, body);
    const QUrl download = EnvironmentRules::downloadUrl(website);
    connect(m_website, &QPushButton::clicked, this, [download] {
        if (download.isValid())
            Workspace::shared()->open(download);
    });
    updateRow->addWidget(m_website, 0, Qt::AlignTop);
    static_cast<QVBoxLayout *>(body->layout())->addLayout(updateRow);

    // Background scan.
    column->addWidget(section(QStringLiteral("Background scan"), &body));
    m_agentDot = new PanelsStatusDot(8, 6, body);
    auto *agentRow = rowLayout(m_agentDot, &text);
    text->addWidget(rowTitle(QStringLiteral("Hourly scan agent"), body));
    m_agentDetail = rowDetail(QString(), body);
    text->addWidget(m_agentDetail);
    m_approve = sectionButton(QStringLiteral("Approve in Settings…"), body);
    connect(m_approve, &QPushButton::clicked, this, [this] {
        openSystemSettings(QStringLiteral("x-apple.systempreferences:com.apple.LoginItems-Settings.extension"));
    });
    agentRow->addWidget(m_approve, 0, Qt::AlignTop);
    static_cast<QVBoxLayout *>(body->layout())->addLayout(agentRow);

    // Open at Login: the switch's state is set before it reports changes.
    column->addWidget(section(QStringLiteral("Open at Login"), &body));
    m_loginSwitch = new PanelsSwitch(QStringLiteral("Launch VARNO when you log in"), body);
    m_loginSwitch->setChecked(m_snapshot.launchAtLoginPref);
    auto *switchLabel = static_cast<QVBoxLayout *>(m_loginSwitch->labelArea()->layout());
    switchLabel->addWidget(rowTitle(QStringLiteral("Launch VARNO when you log in"), m_loginSwitch->labelArea()));
    m_loginDetail = rowDetail(QString(), m_loginSwitch->labelArea());
    switchLabel->addWidget(m_loginDetail);
    body->layout()->addWidget(m_loginSwitch);
    connect(m_loginSwitch, &QAbstractButton::toggled, this, [this](bool on) { Async::detach(setLaunchAtLogin(on)); });

    // Security extensions.
    column->addWidget(section(QStringLiteral("Security extensions"), &body));
    m_extensionsBody = body;
    m_extensionsLayout = static_cast<QVBoxLayout *>(body->layout());

    column->addStretch(1);
    scroll->setWidget(content);
    outer->addWidget(scroll, 1);

    for (QPushButton *link : {m_openSettings, m_approve}) {
        if (!PanelParts::systemSettingsAvailable()) {
            link->setEnabled(false);
            link->setToolTip(PanelParts::systemSettingsUnavailableReason());
            link->setAccessibleDescription(PanelParts::systemSettingsUnavailableReason());
        }
    }
}

QWidget *EnvironmentView::section(const QString &header, QWidget **body)
{
    auto *sectionWidget = new QWidget();
    auto *layout = new QVBoxLayout(sectionWidget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(PanelParts::label(header.toUpper(), PanelParts::trackedFont(11, QFont::DemiBold, 1.5),
                                        VarnoColor::textTertiary(), false, sectionWidget));
    *body = sectionWidget;
    m_sections.insert(header, sectionWidget);
    return sectionWidget;
}

QWidget *EnvironmentView::buildBanner()
{
    auto *banner = new BannerView(this);
    banner->setAccessibleName(QStringLiteral("Attention needed. Detection incomplete. One or more update mechanisms "
                                             "returned zero apps. Run diagnostics to see what Brusk found."));
    auto *row = new QHBoxLayout(banner);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(12);
    row->addWidget(new PanelsSymbol(QStringLiteral("exclamationmark.triangle.fill"), VarnoColor::warning(), 17, 0, banner),
                   0, Qt::AlignVCenter);
    row->addWidget(new BruskView(28, BruskVariant::sentry, banner), 0, Qt::AlignVCenter);
    auto *text = new QVBoxLayout();
    text->setSpacing(2);
    text->addWidget(PanelParts::label(QStringLiteral("Detection incomplete"), VarnoFont::ui(13, QFont::DemiBold),
                                      VarnoColor::attention(), false, banner));
    auto *detail = PanelParts::label(QStringLiteral("One or more update mechanisms returned zero apps. Run diagnostics to "
                                                    "see what Brusk found."),
                                     VarnoFont::ui(11), VarnoColor::textSecondary(), true, banner);
    detail->setMaximumHeight(QFontMetrics(detail->font()).lineSpacing() * 2 + 2);
    text->addWidget(detail);
    row->addLayout(text, 1);
    row->addSpacing(8);
    auto *button = new StyledButton(QStringLiteral("Run diagnostics"), WorkshopWarningButtonStyle(), banner);
    button->setAccessibleName(QStringLiteral("Run diagnostics"));
    connect(button, &QPushButton::clicked, this, &EnvironmentView::runDiagnostics);
    row->addWidget(button, 0, Qt::AlignVCenter);
    m_runDiagnostics = button;
    return banner;
}

void EnvironmentView::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (m_presented)
        return;
    // One read of the system per presentation.
    m_presented = true;
    updateBanner();
    Async::detach(refresh());
}

void EnvironmentView::showPreview(const EnvironmentRules::Snapshot &snapshot, const QList<ESE> &extensions, bool loading)
{
    m_presented = true;
    m_snapshot = snapshot;
    m_eses = extensions;
    m_loading = loading;
    const QSignalBlocker quiet(m_loginSwitch);
    m_loginSwitch->setChecked(snapshot.launchAtLoginPref);
    m_bannerShown = m_model && m_model->hasDetectionFailure();
    m_banner->setVisible(m_bannerShown);
    render();
}

QCoro::Task<void> EnvironmentView::refresh()
{
    const QPointer<EnvironmentView> self(this);
    m_loading = true;
    render();

    // The Full Disk Access check and the two registrations.
    const auto fda = m_services.hasFullDiskAccess;
    const auto receipts = m_services.receiptsFolderExists;
    const auto agent = m_services.agentStatus;
    const auto loginItem = m_services.loginItemStatus;
    Async::Work<Statuses> reading = Async::offThread(nullptr, Async::toolPool(), [fda, receipts, agent, loginItem] {
        Statuses statuses;
        statuses.fda = fda();
        statuses.receiptsFolderExists = receipts();
        statuses.agent = agent();
        statuses.loginItem = loginItem();
        return statuses;
    });
    const Statuses statuses = co_await reading;
    if (!self)
        co_return;
    m_snapshot.fda = statuses.fda;
    m_snapshot.receiptsFolderExists = statuses.receiptsFolderExists;
    m_snapshot.agentStatus = statuses.agent;
    m_snapshot.loginItemStatus = statuses.loginItem;
    render();

    const auto probe = m_services.probeExtensions;
    const QList<ESE> extensions = co_await probe();
    if (!self)
        co_return;
    m_eses = extensions;

    const auto retention = m_services.retentionStatus;
    std::optional<qint64> reclaimable;
    try {
        const RetentionStatus status = co_await retention();
        reclaimable = status.pendingPlan.bytes;
    } catch (...) {
        // Without the engine's answer the verdict leaves storage out.
    }
    if (!self)
        co_return;
    if (reclaimable)
        m_snapshot.backupReclaimableBytes = *reclaimable;
    m_loading = false;
    render();
}

void EnvironmentView::updateBanner()
{
    const bool shown = m_model && m_model->hasDetectionFailure();
    // Each time the banner appears on a shown sheet it is recorded.
    if (shown && !m_bannerShown && m_presented)
        m_services.recordEvent(ExperimentRecorder::detectionFailureBannerShown);
    if (m_presented)
        m_bannerShown = shown;
    m_banner->setVisible(shown);
}

void EnvironmentView::runDiagnostics()
{
    m_services.recordEvent(ExperimentRecorder::detectionFailureBannerCtaClicked);
    accept();
    // Asked for from something that outlives this sheet.
    QTimer::singleShot(diagnosticsDelay, &VarnoSignals::instance(), [] { VarnoSignals::postShowDiagnostics(); });
}

QCoro::Task<void> EnvironmentView::setLaunchAtLogin(bool enabled)
{
    m_snapshot.launchAtLoginPref = enabled;
    const quint64 serial = ++m_loginSerial;
    render();
    const auto setLoginItem = m_services.setLoginItem;
    Async::Work<int> setting = Async::offThread(this, Async::toolPool(),
                                                [setLoginItem, enabled] { return setLoginItem(enabled); });
    const int status = co_await setting;
    if (serial != m_loginSerial)
        co_return;
    m_snapshot.loginItemStatus = status;
    render();
}

void EnvironmentView::openSystemSettings(const QString &link)
{
    const QUrl url(link, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return;
    Workspace::shared()->open(url);
}

void EnvironmentView::render()
{
    const PosturePresentation verdict = summary();
    m_postureDot->setColor(VarnoColor::tone(PosturePresenter::tone(verdict.tone)));
    m_postureTitle->setText(verdict.title);
    m_postureDetail->setText(verdict.detail.value_or(QString()));

    m_fdaDot->setColor(m_snapshot.fda ? VarnoColor::success() : VarnoColor::warning());
    m_fdaDetail->setText(EnvironmentRules::fullDiskAccessDetail(m_snapshot.fda, m_snapshot.receiptsFolderExists));
    m_openSettings->setVisible(!m_snapshot.fda);

    m_versionLabel->setText(
        EnvironmentRules::currentVersionLabel(MainBundle::infoString(QStringLiteral("CFBundleShortVersionString")),
                                              MainBundle::infoString(QStringLiteral("CFBundleVersion"))));
    const auto engine = EnvironmentRules::engineLine(m_model ? m_model->engineVersion() : std::nullopt);
    m_engineLine->setText(engine.value_or(QString()));
    m_engineLine->setVisible(engine.has_value());

    const bool agentOn = m_snapshot.agentStatus == EnvironmentRules::enabled;
    m_agentDot->setColor(agentOn ? VarnoColor::success() : VarnoColor::warning());
    m_agentDetail->setText(EnvironmentRules::agentDetail(m_snapshot.agentStatus));
    m_approve->setVisible(m_snapshot.agentStatus == EnvironmentRules::requiresApproval);

    m_loginDetail->setText(EnvironmentRules::loginItemDetail(m_snapshot.loginItemStatus));
    renderExtensions();
    Q_EMIT stateChanged();
}

void EnvironmentView::showExtensionsWidget(QWidget *widget)
{
    m_extensionsLayout->addWidget(widget);
    // Added to a section that may already show: shown now, not on the next turn.
    widget->show();
}

void EnvironmentView::renderExtensions()
{
    // Everything below the header is rebuilt: the list is short.
    while (m_extensionsLayout->count() > 1) {
        QLayoutItem *item = m_extensionsLayout->takeAt(1);
        if (QWidget *widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
    switch (EnvironmentRules::extensionsContent(m_loading, m_eses.isEmpty())) {
    case EnvironmentRules::ExtensionsContent::probing:
        showExtensionsWidget(rowDetail(QStringLiteral("Probing system extensions…"), m_extensionsBody));
        return;
    case EnvironmentRules::ExtensionsContent::none:
        showExtensionsWidget(
            rowDetail(QStringLiteral("No active endpoint security or network extensions detected."), m_extensionsBody));
        return;
    case EnvironmentRules::ExtensionsContent::list:
        break;
    }
    auto *explanation =
        topAlignedLine(QStringLiteral(
                           "These extensions run in the background and can intercept the operations VARNO relies on "
                           "(network polling, file writes, subprocess spawning). Not warnings — just awareness."),
                       VarnoFont::ui(12), VarnoColor::textTertiary(), m_extensionsBody);
    showExtensionsWidget(explanation);
    m_extensionsLayout->addSpacing(8);
    for (const ESE &extension : m_eses) {
        auto *row = new QWidget(m_extensionsBody);
        auto *rowBox = new QHBoxLayout(row);
        rowBox->setContentsMargins(0, 4, 0, 4);
        rowBox->setSpacing(12);
        auto *dot = new PanelsStatusDot(8, 6, row);
        dot->setColor(EnvironmentRules::eseIsActive(extension.state) ? VarnoColor::success() : VarnoColor::warning());
        rowBox->addWidget(dot, 0, Qt::AlignTop);
        auto *text = new QVBoxLayout();
        text->setSpacing(2);
        text->addWidget(topAlignedLine(EnvironmentRules::eseTitle(extension), VarnoFont::ui(13, QFont::Medium),
                                       VarnoColor::textPrimary(), row));
        text->addWidget(topAlignedLine(EnvironmentRules::eseDetail(extension), VarnoFont::ui(11),
                                       VarnoColor::textSecondary(), row));
        if (const auto note = EnvironmentRules::categoryNote(extension.category))
            text->addWidget(sizedFootnote(*note, 11, row));
        rowBox->addLayout(text, 1);
        row->setAccessibleName(EnvironmentRules::eseTitle(extension));
        showExtensionsWidget(row);
    }
}

QStringList EnvironmentView::sectionTexts(const QString &header) const
{
    QStringList texts;
    const QWidget *sectionWidget = m_sections.value(header);
    if (!sectionWidget)
        return texts;
    for (const QLabel *label : sectionWidget->findChildren<QLabel *>()) {
        if (label->isVisibleTo(sectionWidget) && !label->text().isEmpty())
            texts << label->text();
    }
    return texts;
}

QList<bool> EnvironmentView::sectionDots(const QString &header) const
{
    QList<bool> dots;
    const QWidget *sectionWidget = m_sections.value(header);
    if (!sectionWidget)
        return dots;
    for (const PanelsStatusDot *dot : sectionWidget->findChildren<PanelsStatusDot *>()) {
        if (dot->isVisibleTo(sectionWidget))
            dots << (dot->color() == VarnoColor::success());
    }
    return dots;
}
