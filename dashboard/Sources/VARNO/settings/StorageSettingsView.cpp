#include "settings/StorageSettingsView.h"

#include "base/Async.h"
#include "engine/EngineSettingsCommands.h"
#include "engine/VARNOProcess.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "model/EngineFailure.h"
#include "platform/Appearance.h"
#include "settings/SettingsForm.h"
#include "settings/SettingsRules.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QVBoxLayout>

#include <exception>

namespace {

// What assistive technology meets in a retention stepper: a spin box whose
// value is read as the stepper says it ("3 per app"), numeric for the value
// interface, with its field (where the number is typed) as its one child.
class RetentionStepperAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit RetentionStepperAccessible(RetentionStepper *stepper)
        : QAccessibleWidget(stepper, QAccessible::SpinBox)
    {
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text type) const override
    {
        if (type == QAccessible::Value)
            return stepper()->spokenValue();
        return QAccessibleWidget::text(type);
    }

    int childCount() const override { return field() ? 1 : 0; }
    QAccessibleInterface *child(int index) const override
    {
        return index == 0 && field() ? QAccessible::queryAccessibleInterface(field()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child && field() && child->object() == field() ? 0 : -1;
    }

    QVariant currentValue() const override { return stepper()->value(); }
    void setCurrentValue(const QVariant &value) override { stepper()->setValue(value.toInt()); }
    QVariant maximumValue() const override { return stepper()->maximum(); }
    QVariant minimumValue() const override { return stepper()->minimum(); }
    QVariant minimumStepSize() const override { return stepper()->singleStep(); }

private:
    RetentionStepper *stepper() const { return static_cast<RetentionStepper *>(widget()); }
    QLineEdit *field() const { return stepper()->findChild<QLineEdit *>(); }
};

QAccessibleInterface *retentionStepperAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("RetentionStepper") && object && object->isWidgetType())
        return new RetentionStepperAccessible(static_cast<RetentionStepper *>(object));
    return nullptr;
}

QCoro::Task<RetentionStatus> engineStatus()
{
    co_return co_await EngineSettingsCommands::retentionStatus();
}

QCoro::Task<RetentionStatus> engineSetPolicy(int keep, int days)
{
    const QStringList arguments = StorageRules::policyArguments(keep, days);
    co_return co_await EngineSettingsCommands::retentionSet(arguments);
}

QCoro::Task<RetentionStatus> engineSetConsent(bool grant)
{
    co_return co_await EngineSettingsCommands::retentionConsent(grant);
}

QCoro::Task<void> engineCleanup()
{
    const QStringList arguments{QStringLiteral("cleanup"), QStringLiteral("--backups"), QStringLiteral("--apply"),
                                QStringLiteral("--json")};
    co_await VARNOProcess::run(arguments, 300.0);
}

const ColorPair &footerColor()
{
    return VarnoColor::textTertiary();
}

QPushButton *formButton(const QString &text, const QString &identifier, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setAutoDefault(false);
    button->setObjectName(identifier);
    button->setAccessibleName(text);
    button->setFont(VarnoFont::ui(13));
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
}

// A label with its value at the right edge.
QWidget *valueRow(const QString &title, QLabel *value, QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(SettingsForm::label(title, VarnoFont::ui(13), std::nullopt, false, row));
    layout->addStretch(1);
    value->setParent(row);
    layout->addWidget(value);
    return row;
}

} // namespace

RetentionStepper::RetentionStepper(std::function<QString(int)> spokenValue, QWidget *parent)
    : QSpinBox(parent)
    , m_spokenValue(std::move(spokenValue))
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(retentionStepperAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
}

StorageOperations StorageOperations::engine()
{
    StorageOperations operations;
    operations.status = &engineStatus;
    operations.setPolicy = &engineSetPolicy;
    operations.setConsent = &engineSetConsent;
    operations.cleanup = &engineCleanup;
    operations.writes = EngineWrites::engine();
    return operations;
}

StorageSettingsView::StorageSettingsView(QWidget *parent)
    : StorageSettingsView(StorageOperations::engine(), parent)
{
}

StorageSettingsView::StorageSettingsView(StorageOperations operations, QWidget *parent)
    : QWidget(parent)
    , m_operations(std::move(operations))
{
    if (!m_operations.writes)
        m_operations.writes = EngineWrites::create();
    setObjectName(QStringLiteral("storage-settings"));
    build();
    render();
}

StorageSettingsView::~StorageSettingsView() = default;

void StorageSettingsView::build()
{
    QVBoxLayout *layout = SettingsForm::scrollingPage(this, QStringLiteral("storage-page"), 10);
    QWidget *page = layout->parentWidget();

    // 1. Loading row.
    m_loadingRow = new QWidget(page);
    auto *loading = new QHBoxLayout(m_loadingRow);
    loading->setContentsMargins(0, 0, 0, 0);
    loading->setSpacing(8);
    m_spinner = new QProgressBar(m_loadingRow);
    m_spinner->setTextVisible(false);
    m_spinner->setFixedSize(48, 6);
    m_spinner->setAccessibleName(QStringLiteral("Reading storage usage…"));
    loading->addWidget(m_spinner, 0, Qt::AlignVCenter);
    loading->addWidget(SettingsForm::label(QStringLiteral("Reading storage usage…"), VarnoFont::ui(12), std::nullopt,
                                           false, m_loadingRow));
    loading->addStretch(1);
    layout->addWidget(m_loadingRow);

    m_sections = new QWidget(page);
    auto *sections = new QVBoxLayout(m_sections);
    sections->setContentsMargins(0, 0, 0, 0);
    sections->setSpacing(0);
    layout->addWidget(m_sections);
    const QFont headerFont = VarnoFont::ui(11, QFont::DemiBold);

    // 2. Usage.
    auto *usage = new SettingsSection(QStringLiteral("Usage"), headerFont, m_sections);
    m_usageBytes = SettingsForm::label(QString(), VarnoFont::mono(12));
    m_usageBytes->setObjectName(QStringLiteral("storage-usage-bytes"));
    usage->addRow(valueRow(QStringLiteral("App backups"), m_usageBytes, usage));
    m_snapshots = SettingsForm::label(QString(), VarnoFont::ui(12), VarnoColor::textSecondary());
    usage->addRow(valueRow(QStringLiteral("Snapshots"), m_snapshots, usage));
    m_reclaimable = SettingsForm::label(QString(), VarnoFont::mono(12), VarnoColor::accent());
    m_reclaimable->setObjectName(QStringLiteral("storage-reclaimable"));
    m_reclaimableRow = valueRow(QStringLiteral("Can be cleared"), m_reclaimable, usage);
    usage->addRow(m_reclaimableRow);
    usage->addFooterText(QStringLiteral(
                             "Every app always keeps its most recent restorable backup, whatever the policy says."),
                         VarnoFont::ui(10), footerColor());
    sections->addWidget(usage);

    // 3. Divider.
    sections->addWidget(SettingsForm::divider(VarnoColor::border(), 4 + 8, m_sections));

    // 4. Retention policy.
    m_policySection = new SettingsSection(QStringLiteral("Retention policy"), headerFont, m_sections);
    const auto stepperRow = [this](const QString &title, QSpinBox *stepper) {
        auto *row = new QWidget(m_policySection);
        auto *rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        rowLayout->addWidget(SettingsForm::label(title, VarnoFont::ui(13), std::nullopt, false, row));
        rowLayout->addStretch(1);
        stepper->setParent(row);
        rowLayout->addWidget(stepper);
        return row;
    };
    m_keepStepper = new RetentionStepper(&StorageRules::keepAccessibleValue);
    m_keepStepper->setObjectName(QStringLiteral("storage-keep-per-app"));
    m_keepStepper->setAccessibleName(QStringLiteral("Backups kept per app"));
    m_keepStepper->setRange(StorageRules::keepMinimum, StorageRules::keepMaximum);
    m_keepStepper->setSingleStep(StorageRules::keepStep);
    m_daysStepper = new RetentionStepper(&StorageRules::daysText);
    m_daysStepper->setObjectName(QStringLiteral("storage-retention-days"));
    m_daysStepper->setAccessibleName(QStringLiteral("Maximum backup age"));
    m_daysStepper->setRange(StorageRules::daysMinimum, StorageRules::daysMaximum);
    m_daysStepper->setSingleStep(StorageRules::daysStep);
    m_daysStepper->setSuffix(QStringLiteral(" days"));
    for (QSpinBox *stepper : {m_keepStepper, m_daysStepper}) {
        stepper->setFont(VarnoFont::mono(12));
        stepper->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        // Typed digits are committed with Return or on leaving the field,
        // not one keystroke at a time.
        stepper->setKeyboardTracking(false);
        stepper->setMinimumWidth(96);
        if (auto *field = stepper->findChild<QLineEdit *>())
            field->setAccessibleName(stepper->accessibleName());
    }
    m_keepStepper->setValue(m_policy->keepPerApp);
    m_daysStepper->setValue(m_policy->retentionDays);
    connect(m_keepStepper, &QSpinBox::valueChanged, this, &StorageSettingsView::keepChanged);
    connect(m_daysStepper, &QSpinBox::valueChanged, this, &StorageSettingsView::daysChanged);
    m_policySection->addRow(stepperRow(QStringLiteral("Backups kept per app"), m_keepStepper));
    m_policySection->addRow(stepperRow(QStringLiteral("Maximum backup age"), m_daysStepper));
    m_policySection->addFooterText(
        QStringLiteral(
            "Keeping fewer or expiring sooner frees more disk. Log and diagnostic limits live in the Developer tab."),
        VarnoFont::ui(10), footerColor());
    sections->addWidget(m_policySection);

    // 5. Divider.
    sections->addWidget(SettingsForm::divider(VarnoColor::border(), 4 + 8, m_sections));

    // 6. Automatic cleanup.
    auto *cleanup = new SettingsSection(QStringLiteral("Automatic cleanup"), headerFont, m_sections);
    m_autoOnBody = new QWidget(cleanup);
    auto *onLayout = new QVBoxLayout(m_autoOnBody);
    onLayout->setContentsMargins(0, 0, 0, 0);
    onLayout->setSpacing(8);
    onLayout->addWidget(valueRow(QStringLiteral("Automatic cleanup"),
                                 SettingsForm::label(QStringLiteral("On"), VarnoFont::ui(12), VarnoColor::success()),
                                 m_autoOnBody));
    m_revokeButton = formButton(QStringLiteral("Stop cleaning up automatically"),
                                QStringLiteral("storage-revoke-consent"), m_autoOnBody);
    connect(m_revokeButton, &QPushButton::clicked, this, [this] { Async::detach(setConsent(false)); });
    onLayout->addWidget(m_revokeButton);
    cleanup->addRow(m_autoOnBody);

    m_autoOffBody = new QWidget(cleanup);
    auto *offLayout = new QVBoxLayout(m_autoOffBody);
    offLayout->setContentsMargins(0, 0, 0, 0);
    offLayout->setSpacing(8);
    m_cleanupSentence = SettingsForm::label(QString(), VarnoFont::ui(12), std::nullopt, true, m_autoOffBody);
    offLayout->addWidget(m_cleanupSentence);
    m_grantRow = new QWidget(m_autoOffBody);
    auto *grantLayout = new QHBoxLayout(m_grantRow);
    grantLayout->setContentsMargins(0, 0, 0, 0);
    grantLayout->setSpacing(8);
    m_grantButton = formButton(QStringLiteral("Clean up now and keep it tidy"), QStringLiteral("storage-grant-consent"),
                               m_grantRow);
    m_grantButton->setAccessibleDescription(QStringLiteral("Allows scans to apply the retention policy from now on"));
    m_grantButton->setToolTip(m_grantButton->accessibleDescription());
    connect(m_grantButton, &QPushButton::clicked, this, [this] { Async::detach(setConsent(true)); });
    m_pruneButton = formButton(QStringLiteral("Just this once"), QStringLiteral("storage-prune-once"), m_grantRow);
    m_pruneButton->setAccessibleDescription(QStringLiteral("Prunes now without enabling automatic cleanup"));
    m_pruneButton->setToolTip(m_pruneButton->accessibleDescription());
    connect(m_pruneButton, &QPushButton::clicked, this, [this] { Async::detach(pruneOnce()); });
    grantLayout->addWidget(m_grantButton, 0, Qt::AlignVCenter);
    grantLayout->addWidget(m_pruneButton, 0, Qt::AlignVCenter);
    grantLayout->addStretch(1);
    offLayout->addWidget(m_grantRow);
    cleanup->addRow(m_autoOffBody);
    m_consentFooter = cleanup->addFooterText(QString(), VarnoFont::ui(10), footerColor());
    sections->addWidget(cleanup);

    // 7. The error line, in the loading and the loaded state alike.
    m_errorRow = new QWidget(page);
    auto *errorLayout = new QHBoxLayout(m_errorRow);
    errorLayout->setContentsMargins(4, 4, 0, 0);
    errorLayout->setSpacing(8);
    m_error = SettingsForm::label(QString(), VarnoFont::ui(11), VarnoColor::dangerText(), true, m_errorRow);
    m_error->setObjectName(QStringLiteral("storage-error"));
    m_error->setTextInteractionFlags(Qt::TextSelectableByMouse);
    errorLayout->addWidget(m_error, 1);
    m_retryButton = formButton(QStringLiteral("Retry"), QStringLiteral("storage-retry"), m_errorRow);
    connect(m_retryButton, &QPushButton::clicked, this, [this] { Async::detach(reload()); });
    errorLayout->addWidget(m_retryButton, 0, Qt::AlignTop);
    layout->addWidget(m_errorRow);
    layout->addStretch(1);
}

void StorageSettingsView::render()
{
    const bool loading = isLoading();
    const bool working = isWorking();
    m_loadingRow->setVisible(loading);
    m_sections->setVisible(!loading);
    const bool animate = !Appearance::instance().reduceMotion();
    m_spinner->setRange(0, loading && animate ? 0 : 1);

    m_usageBytes->setText(RetentionStatus::formatBytes(m_status.usage.bytes));
    m_snapshots->setText(StorageRules::snapshotsText(m_status.usage));
    m_reclaimableRow->setVisible(StorageRules::showsReclaimable(m_status.pendingPlan));
    m_reclaimable->setText(StorageRules::reclaimableText(m_status.pendingPlan));

    // Until the engine's state has been read once, nothing here may act on
    // the placeholder record.
    m_policySection->setEnabled(!working && m_hasLoaded);

    const bool autoOn = m_status.consent.autoPruneAllowed;
    m_autoOnBody->setVisible(autoOn);
    m_autoOffBody->setVisible(!autoOn);
    m_revokeButton->setEnabled(!working && m_hasLoaded);
    m_cleanupSentence->setText(StorageRules::cleanupSentence(m_status.pendingPlan));
    m_grantRow->setEnabled(!working && m_hasLoaded);
    m_pruneButton->setVisible(StorageRules::showsPruneOnce(m_status.pendingPlan));
    m_consentFooter->setText(StorageRules::consentFooter(m_status.consent));

    m_errorRow->setVisible(m_errorText.has_value());
    m_error->setText(m_errorText.value_or(QString()));
    m_retryButton->setVisible(m_errorText && !m_hasLoaded && !loading);
    Q_EMIT stateChanged();
}

void StorageSettingsView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    // A change under way answers with a fresh record; the pane reads again
    // once it is done, so that an older read never lands on top of it.
    if (isWorking()) {
        m_reloadWhenIdle = true;
        return;
    }
    Async::detach(reload());
}

QCoro::Task<void> StorageSettingsView::reload()
{
    const QPointer<StorageSettingsView> self(this);
    m_initialLoad = false;
    ++m_loadsRunning;
    render();

    // A change still on its way (also one a closed pane started) is newer
    // than what the engine would answer now.
    // (Ends at once when none runs.)
    QCoro::Task<void> settling = EngineWrites::settled(m_operations.writes);
    co_await std::move(settling);
    if (!self)
        co_return;
    const quint64 serial = ++m_requestSerial;
    std::optional<RetentionStatus> result;
    std::optional<QString> failure;
    try {
        const auto status = m_operations.status;
        result = co_await status();
    } catch (...) {
        failure = EngineFailure::from(std::current_exception()).description;
    }
    if (!self)
        co_return;
    if (serial == m_requestSerial) {
        if (result) {
            m_status = *result;
            // Still loading: these stepper writes save nothing.
            m_policy->keepPerApp = int(qBound(qint64(StorageRules::keepMinimum), m_status.policy.keepPerApp,
                                              qint64(StorageRules::keepMaximum)));
            m_policy->retentionDays = int(qBound(qint64(StorageRules::daysMinimum), m_status.policy.retentionDays,
                                                 qint64(StorageRules::daysMaximum)));
            m_keepStepper->setValue(m_policy->keepPerApp);
            m_daysStepper->setValue(m_policy->retentionDays);
            m_errorText.reset();
            m_hasLoaded = true;
        } else {
            m_errorText = StorageRules::readFailedPrefix + *failure;
        }
    }
    --m_loadsRunning;
    render();
}

void StorageSettingsView::keepChanged(int value)
{
    m_policy->keepPerApp = value;
    commitPolicy();
    render();
}

void StorageSettingsView::daysChanged(int value)
{
    m_policy->retentionDays = value;
    commitPolicy();
    render();
}

void StorageSettingsView::commitPolicy()
{
    if (isLoading())
        return;
    // Never send values that only mirror the placeholder record.
    if (!m_hasLoaded)
        return;
    if (m_policy->keepPerApp == m_status.policy.keepPerApp && m_policy->retentionDays == m_status.policy.retentionDays)
        return;
    // One save at a time: the running one sends the newest values when it ends.
    if (m_saving)
        return;
    Async::detach(savePolicy());
}

void StorageSettingsView::beginWork()
{
    ++m_workCount;
    render();
}

void StorageSettingsView::endWork()
{
    --m_workCount;
    render();
    if (m_workCount == 0 && m_reloadWhenIdle) {
        m_reloadWhenIdle = false;
        Async::detach(reload());
    }
}

QCoro::Task<void> StorageSettingsView::savePolicy()
{
    const QPointer<StorageSettingsView> self(this);
    // What the saving needs once the pane may have closed.
    const std::shared_ptr<PolicyValues> wanted = m_policy;
    const std::shared_ptr<EngineWrites> writes = m_operations.writes;
    const auto setPolicy = m_operations.setPolicy;
    // Set before the first suspension, so that a second change cannot start
    // a second save.
    m_saving = true;
    beginWork();

    for (;;) {
        const int keep = wanted->keepPerApp;
        const int days = wanted->retentionDays;
        const quint64 serial = self ? ++self->m_requestSerial : 0;
        std::optional<RetentionStatus> result;
        std::optional<QString> failure;
        EngineWrites::Token writing = writes->begin();
        try {
            result = co_await setPolicy(keep, days);
        } catch (...) {
            failure = EngineFailure::from(std::current_exception()).description;
        }
        // Newer values came in while this save ran: they go next (also when
        // the pane has closed meanwhile), and only their answer is shown.
        const bool newer = wanted->keepPerApp != keep || wanted->retentionDays != days;
        const bool engineHasNewest = result && result->policy.keepPerApp == wanted->keepPerApp
            && result->policy.retentionDays == wanted->retentionDays;
        if (!failure && newer && !engineHasNewest)
            continue;
        writing.reset();
        if (!self)
            co_return;
        if (failure) {
            m_errorText = StorageRules::saveFailedPrefix + *failure;
            render();
            co_await reload();
            if (!self)
                co_return;
            break;
        }
        if (serial == m_requestSerial) {
            m_status = *result;
            m_errorText.reset();
        }
        break;
    }
    m_saving = false;
    endWork();
}

QCoro::Task<void> StorageSettingsView::setConsent(bool grant)
{
    const QPointer<StorageSettingsView> self(this);
    beginWork();
    const quint64 serial = ++m_requestSerial;
    std::optional<RetentionStatus> result;
    std::optional<QString> failure;
    EngineWrites::Token writing = m_operations.writes->begin();
    try {
        const auto setConsent = m_operations.setConsent;
        result = co_await setConsent(grant);
    } catch (...) {
        failure = EngineFailure::from(std::current_exception()).description;
    }
    writing.reset();
    if (!self)
        co_return;
    if (result) {
        if (serial == m_requestSerial)
            m_status = *result;
        // Cleared as soon as the consent has gone through, so that a failure
        // of the cleanup that follows a grant stays on screen.
        m_errorText.reset();
        render();
        if (grant) {
            co_await pruneOnce();
            if (!self)
                co_return;
        }
    } else {
        m_errorText = StorageRules::consentFailedPrefix + *failure;
    }
    endWork();
}

QCoro::Task<void> StorageSettingsView::pruneOnce()
{
    const QPointer<StorageSettingsView> self(this);
    beginWork();
    std::optional<QString> failure;
    EngineWrites::Token writing = m_operations.writes->begin();
    try {
        const auto cleanup = m_operations.cleanup;
        co_await cleanup();
    } catch (...) {
        failure = EngineFailure::from(std::current_exception()).description;
    }
    writing.reset();
    if (!self)
        co_return;
    if (!failure) {
        co_await reload();
        if (!self)
            co_return;
    } else {
        m_errorText = StorageRules::cleanupFailedPrefix + *failure;
    }
    endWork();
}
