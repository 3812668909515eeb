#include "settings/SettingsView.h"

#include "base/Async.h"
#include "base/Logging.h"
#include "engine/EngineSettingsCommands.h"
#include "engine/VARNOProcess.h"
#include "kit/ButtonStyles.h"
#include "kit/SymbolIcons.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "model/AppModel.h"
#include "model/EngineFailure.h"
#include "platform/ServiceManagement.h"
#include "services/LaunchAgentManager.h"
#include "settings/SettingsForm.h"
#include "settings/SettingsRules.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QShowEvent>
#include <QTabWidget>
#include <QVBoxLayout>

#include <qcoro/qcorofuture.h>

#include <exception>

namespace {

QCoro::Task<bool> engineTelemetryStatus()
{
    co_return co_await EngineSettingsCommands::telemetryStatus();
}

QCoro::Task<void> engineTelemetry(QString action)
{
    const QStringList arguments{QStringLiteral("telemetry"), action};
    co_await VARNOProcess::run(arguments, 120.0);
}

const ColorPair &secondaryText()
{
    return VarnoColor::textSecondary();
}

// The tab's symbol in the current text colour.
void bindTabIcon(QTabWidget *tabs, int index, const QString &symbol)
{
    VarnoColor::onAppearanceChange(tabs, [tabs, index, symbol] {
        tabs->setTabIcon(index, SymbolIcons::shared().icon(symbol, VarnoColor::textPrimary().resolved(), 16));
    });
}

} // namespace

SettingsOperations SettingsOperations::engine()
{
    SettingsOperations operations;
    operations.telemetryStatus = &engineTelemetryStatus;
    operations.telemetry = &engineTelemetry;
    operations.storage = StorageOperations::engine();
    operations.workbench = WorkbenchOperations::engine();
    operations.writes = EngineWrites::engine();
    return operations;
}

SettingsView::SettingsView(AppModel *model, QWidget *parent)
    : SettingsView(model, SettingsOperations::engine(), parent)
{
}

SettingsView::SettingsView(AppModel *model, SettingsOperations operations, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_operations(std::move(operations))
{
    // One count of writes under way for the window and both its panes.
    if (!m_operations.writes)
        m_operations.writes = EngineWrites::create();
    m_operations.storage.writes = m_operations.writes;
    m_operations.workbench.writes = m_operations.writes;
    setObjectName(QStringLiteral("settings"));
    setWindowTitle(QStringLiteral("Settings"));
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    VarnoColor::bindWindowPalette(this, VarnoColor::backgroundRaised());

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("settings-tabs"));
    m_tabs->setDocumentMode(true);
    m_tabs->setFont(VarnoFont::ui(13));
    m_tabs->setAccessibleName(QStringLiteral("Settings"));
    layout->addWidget(m_tabs);

    m_tabs->addTab(makeGeneralTab(), QStringLiteral("General"));
    bindTabIcon(m_tabs, general, QStringLiteral("gear"));
    m_tabs->addTab(makePrivacyTab(), QStringLiteral("Privacy"));
    bindTabIcon(m_tabs, privacy, QStringLiteral("lock.shield"));
    m_storage = new StorageSettingsView(m_operations.storage, m_tabs);
    m_tabs->addTab(m_storage, QStringLiteral("Storage"));
    bindTabIcon(m_tabs, storage, QStringLiteral("internaldrive"));
    m_developer = new DeveloperWorkbenchSettingsView(model, m_operations.workbench, m_tabs);
    m_tabs->addTab(m_developer, QStringLiteral("Developer"));
    bindTabIcon(m_tabs, developer, QStringLiteral("hammer"));

    render();
    Async::detach(readServiceStatuses());
}

SettingsView::~SettingsView() = default;

QWidget *SettingsView::makeGeneralTab()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("settings-general"));
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(18);
    const QFont headerFont = VarnoFont::ui(13, QFont::DemiBold);
    const QFont footerFont = VarnoFont::ui(11);

    auto *behaviour = new SettingsSection(QStringLiteral("Behaviour"), headerFont, page);
    // Both boxes stay off and disabled until the system's statuses are read;
    // those are applied with the change handlers blocked, so showing the
    // window registers nothing.
    m_launchAtLoginBox = new QCheckBox(QStringLiteral("Open VARNO at login"), behaviour);
    m_launchAtLoginBox->setObjectName(QStringLiteral("settings-launch-at-login"));
    m_launchAtLoginBox->setChecked(m_launchAtLogin);
    connect(m_launchAtLoginBox, &QCheckBox::toggled, this, &SettingsView::launchAtLoginChanged);
    behaviour->addRow(m_launchAtLoginBox);
    m_backgroundScanBox = new QCheckBox(QStringLiteral("Run background scans"), behaviour);
    m_backgroundScanBox->setObjectName(QStringLiteral("settings-background-scans"));
    m_backgroundScanBox->setChecked(m_backgroundScan);
    connect(m_backgroundScanBox, &QCheckBox::toggled, this, &SettingsView::backgroundScanChanged);
    behaviour->addRow(m_backgroundScanBox);
    behaviour->addFooterText(QStringLiteral("Background scans run hourly and write only to your local database."),
                             footerFont, secondaryText());
    layout->addWidget(behaviour);

    auto *adopt = new SettingsSection(QStringLiteral("Adopt"), headerFont, page);
    m_allowUnsignedBox = new QCheckBox(QStringLiteral("Allow adopting unsigned apps"), adopt);
    m_allowUnsignedBox->setObjectName(QStringLiteral("settings-allow-unsigned"));
    m_allowUnsignedBox->setChecked(m_model && m_model->allowUnsignedAdopt());
    connect(m_allowUnsignedBox, &QCheckBox::toggled, this, [this](bool allow) {
        if (m_model)
            m_model->setAllowUnsignedAdopt(allow);
    });
    if (m_model) {
        connect(m_model, &AppModel::allowUnsignedAdoptChanged, m_allowUnsignedBox, [this] {
            const QSignalBlocker block(m_allowUnsignedBox);
            m_allowUnsignedBox->setChecked(m_model && m_model->allowUnsignedAdopt());
        });
    }
    adopt->addRow(m_allowUnsignedBox);
    adopt->addFooterText(QStringLiteral("Off by default. Brusk blocks Adopt on an unsigned or unverified app unless this "
                                        "is on \u2014 even then, the warning stays in the dialog."),
                         footerFont, secondaryText());
    layout->addWidget(adopt);
    layout->addStretch(1);

    for (QCheckBox *box : {m_launchAtLoginBox, m_backgroundScanBox, m_allowUnsignedBox}) {
        box->setFont(VarnoFont::ui(13));
        box->setAccessibleName(box->text());
    }
    return page;
}

QWidget *SettingsView::privacyRow(const QString &icon, const ColorPair &tint, QWidget *title, const QString &body,
                                  QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    auto *symbol = new QLabel(row);
    const int side = int(SymbolIcons::boxForFontSize(32));
    symbol->setFixedSize(side, side);
    VarnoColor::onAppearanceChange(symbol, [symbol, icon, tint, side] {
        symbol->setPixmap(SymbolIcons::shared().pixmap(icon, tint.resolved(), side, symbol->devicePixelRatioF()));
    });
    layout->addWidget(symbol, 0, Qt::AlignTop);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(4);
    title->setParent(row);
    texts->addWidget(title);
    texts->addWidget(SettingsForm::label(body, VarnoFont::ui(13), secondaryText(), true, row));
    layout->addLayout(texts, 1);
    return row;
}

QWidget *SettingsView::statementRow(const QString &icon, const ColorPair &tint, const QString &title,
                                    const QString &body, QWidget *parent)
{
    // Title and body verbatim: the backticks of the audit text show as typed.
    QLabel *heading = SettingsForm::label(title, VarnoFont::ui(15, QFont::DemiBold), VarnoColor::textPrimary());
    return privacyRow(icon, tint, heading, body, parent);
}

QWidget *SettingsView::makePrivacyTab()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("settings-privacy"));
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(20, 8 + 12, 20, 16);
    layout->setSpacing(16);
    const ColorPair gold = VarnoColor::accent();
    const ColorPair green = VarnoColor::success();
    const ColorPair rule = VarnoColor::border();

    // 1. The telemetry switch: its label is the row's title.
    m_telemetrySwitch = new ToggleSwitch(QStringLiteral("Send opt-in telemetry"));
    m_telemetrySwitch->setObjectName(QStringLiteral("settings-telemetry"));
    m_telemetrySwitch->setFont(VarnoFont::ui(15, QFont::DemiBold));
    connect(m_telemetrySwitch, &QAbstractButton::toggled, this, [this](bool enabled) {
        setTelemetryPreference(enabled);
        render();
    });
    QWidget *telemetry = privacyRow(QStringLiteral("wave.3.forward.circle"), gold, m_telemetrySwitch,
                                    QStringLiteral("Telemetry stays off until you enable it here. It records lightweight "
                                                   "counters and version data only; no inventory, paths, or identity."),
                                    page);
    layout->addWidget(telemetry);

    // 2. Forget, at the trailing edge.
    auto *forgetRow = new QHBoxLayout;
    forgetRow->setSpacing(12);
    forgetRow->addStretch(1);
    m_forgetButton = new StyledButton(QStringLiteral("Forget telemetry state"), SecondaryButtonStyle(), page);
    m_forgetButton->setSymbol(QStringLiteral("trash"));
    m_forgetButton->setObjectName(QStringLiteral("settings-forget-telemetry"));
    m_forgetButton->setAccessibleName(QStringLiteral("Forget telemetry state"));
    connect(m_forgetButton, &QPushButton::clicked, this, [this] { Async::detach(forgetTelemetryState()); });
    forgetRow->addWidget(m_forgetButton, 0, Qt::AlignVCenter);
    layout->addLayout(forgetRow);

    // 3-6. The statements, between dividers.
    layout->addWidget(SettingsForm::divider(rule, 0, page));
    layout->addWidget(
        statementRow(QStringLiteral("lock.shield"), green, QStringLiteral("Local-first by default"),
                     QStringLiteral("Your full app inventory, provenance history, and CVE results stay in "
                                    "~/Library/Application Support/VARNO/varno.db. Only explicitly "
                                    "whitelisted fields can be shared if you opt in to the community catalog."),
                     page));
    layout->addWidget(SettingsForm::divider(rule, 0, page));
    layout->addWidget(
        statementRow(QStringLiteral("doc.text.magnifyingglass"), gold, QStringLiteral("Audit what VARNO stores"),
                     QStringLiteral("Run `varno privacy --audit` in Terminal to see the actual stored data "
                                    "alongside the published privacy policy."),
                     page));
    // 7. The rest stays empty.
    layout->addStretch(1);
    return page;
}

void SettingsView::render()
{
    {
        const QSignalBlocker block(m_telemetrySwitch);
        m_telemetrySwitch->setChecked(m_telemetryEnabled);
    }
    m_telemetrySwitch->setEnabled(!m_telemetrySyncInFlight);
    m_forgetButton->setEnabled(!m_telemetryForgetInFlight);
    m_launchAtLoginBox->setEnabled(!m_statusesPending && !m_loginChangePending);
    m_backgroundScanBox->setEnabled(!m_statusesPending && !m_scanChangePending);
    Q_EMIT stateChanged();
}

void SettingsView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        Async::detach(refreshTelemetryState());
}

// Every call below may ask the user's service manager, which can take its
// time-outs to answer: they run on a worker thread, and each box is disabled
// until its call has answered.

QCoro::Task<void> SettingsView::readServiceStatuses()
{
    Async::Work<ServiceStatuses> reading = Async::offThread(this, Async::toolPool(), [] {
        // Read once, when the window is made; a registration waiting for the
        // user's approval shows as off.
        ServiceStatuses statuses;
        try {
            statuses.launchAtLogin = SMAppService::mainApp().status() == SMAppService::Status::enabled;
            statuses.backgroundScan = LaunchAgentManager::agentService().status() == SMAppService::Status::enabled;
        } catch (const std::exception &error) {
            qCWarning(lcVarno).noquote() << "Could not read the login item's or the scan agent's status:" << error.what();
        }
        return statuses;
    });
    const ServiceStatuses statuses = co_await reading;
    m_launchAtLogin = statuses.launchAtLogin;
    m_backgroundScan = statuses.backgroundScan;
    {
        const QSignalBlocker blockLogin(m_launchAtLoginBox);
        const QSignalBlocker blockScan(m_backgroundScanBox);
        m_launchAtLoginBox->setChecked(m_launchAtLogin);
        m_backgroundScanBox->setChecked(m_backgroundScan);
    }
    m_statusesPending = false;
    render();
}

void SettingsView::launchAtLoginChanged(bool enabled)
{
    // The status it answers is not shown: the box keeps the user's choice,
    // also when the registration fails or waits for approval.
    m_launchAtLogin = enabled;
    Async::detach(applyLaunchAtLogin(enabled));
}

QCoro::Task<void> SettingsView::applyLaunchAtLogin(bool enabled)
{
    m_loginChangePending = true;
    render();
    Async::Work<void> setting = Async::offThread(this, Async::toolPool(), [enabled] {
        try {
            LoginItemManager::set(enabled);
        } catch (const std::exception &error) {
            qCWarning(lcVarno).noquote() << "Could not change the login item:" << error.what();
        }
    });
    co_await setting;
    m_loginChangePending = false;
    render();
}

void SettingsView::backgroundScanChanged(bool enabled)
{
    m_backgroundScan = enabled;
    Async::detach(applyBackgroundScans(enabled));
}

QCoro::Task<void> SettingsView::applyBackgroundScans(bool enabled)
{
    m_scanChangePending = true;
    render();
    Async::Work<void> switching = Async::offThread(this, Async::toolPool(), [enabled] {
        try {
            if (enabled)
                LaunchAgentManager::switchBackgroundScansOn();
            else
                LaunchAgentManager::uninstall();
        } catch (const std::exception &) {
            // Not reported: the box keeps the user's choice.
        }
    });
    co_await switching;
    m_scanChangePending = false;
    render();
}

QCoro::Task<void> SettingsView::refreshTelemetryState()
{
    const QPointer<SettingsView> self(this);
    const QPointer<AppModel> model = m_model;
    const auto status = m_operations.telemetryStatus;
    // A change still on its way (also from a window closed meanwhile) is
    // newer than what the engine would answer now.
    // (Ends at once when none runs.)
    QCoro::Task<void> settling = EngineWrites::settled(m_operations.writes);
    co_await std::move(settling);
    if (!self)
        co_return;
    const quint64 turn = ++m_telemetryTurn;
    m_newestTelemetryRead = turn;
    std::optional<bool> enabled;
    QString failure;
    try {
        enabled = co_await status();
    } catch (...) {
        failure = EngineFailure::from(std::current_exception()).description;
    }
    if (!enabled) {
        if (model)
            model->setError(PrivacyRules::readFailedPrefix + failure);
        co_return;
    }
    if (!self)
        co_return;
    if (turn != m_newestTelemetryRead)
        co_return; // a later read answers for the engine
    if (turn != m_telemetryTurn || telemetryWriteRuns()) {
        // A change or forget was started after this read, or still runs: the
        // answer may be from before it. Read again once none runs.
        m_rereadTelemetry = true;
        rereadTelemetryWhenSettled();
        co_return;
    }
    m_telemetryEnabled = *enabled;
    render();
}

void SettingsView::rereadTelemetryWhenSettled()
{
    if (!m_rereadTelemetry || telemetryWriteRuns())
        return;
    m_rereadTelemetry = false;
    Async::detach(refreshTelemetryState());
}

void SettingsView::setTelemetryPreference(bool enabled)
{
    if (m_telemetrySyncInFlight)
        return;
    if (enabled == m_telemetryEnabled)
        return;
    const bool previous = m_telemetryEnabled;
    m_telemetryEnabled = enabled;
    m_telemetrySyncInFlight = true;
    ++m_telemetryTurn;
    render();
    Async::detach(syncTelemetryPreference(enabled, previous));
}

QCoro::Task<void> SettingsView::syncTelemetryPreference(bool enabled, bool previous)
{
    const QPointer<SettingsView> self(this);
    const QPointer<AppModel> model = m_model;
    const auto telemetry = m_operations.telemetry;
    std::optional<QString> failure;
    EngineWrites::Token writing = m_operations.writes->begin();
    try {
        co_await telemetry(PrivacyRules::telemetryAction(enabled));
    } catch (...) {
        failure = EngineFailure::from(std::current_exception()).description;
    }
    writing.reset();
    if (failure && model)
        model->setError(PrivacyRules::updateFailedPrefix + *failure);
    if (!self)
        co_return;
    if (failure)
        m_telemetryEnabled = previous;
    m_telemetrySyncInFlight = false;
    render();
    rereadTelemetryWhenSettled();
}

QCoro::Task<void> SettingsView::forgetTelemetryState()
{
    const QPointer<SettingsView> self(this);
    const QPointer<AppModel> model = m_model;
    const auto telemetry = m_operations.telemetry;
    m_telemetryForgetInFlight = true;
    ++m_telemetryTurn;
    render();
    std::optional<QString> failure;
    EngineWrites::Token writing = m_operations.writes->begin();
    try {
        co_await telemetry(QStringLiteral("forget"));
    } catch (...) {
        failure = EngineFailure::from(std::current_exception()).description;
    }
    writing.reset();
    if (failure && model)
        model->setError(PrivacyRules::forgetFailedPrefix + *failure);
    if (!self)
        co_return;
    if (!failure)
        m_telemetryEnabled = false; // directly: no opt-out is sent
    render();
    // The flag clears in a task of its own, just after this one.
    QMetaObject::invokeMethod(
        this,
        [self] {
            if (!self)
                return;
            self->m_telemetryForgetInFlight = false;
            self->render();
            self->rereadTelemetryWhenSettled();
        },
        Qt::QueuedConnection);
}
