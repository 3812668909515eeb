#include "settings/DeveloperWorkbenchSettingsView.h"

#include "base/Async.h"
#include "engine/EngineSettingsCommands.h"
#include "kit/Labels.h"
#include "kit/SymbolIcons.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "model/AppModel.h"
#include "model/EngineFailure.h"
#include "settings/SettingsForm.h"
#include "settings/SettingsRules.h"

#include <QButtonGroup>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include <exception>

namespace {

QCoro::Task<DeveloperReport> engineInspect()
{
    co_return co_await EngineSettingsCommands::developerInspect();
}

QCoro::Task<DeveloperReport> enginePlanUpdates()
{
    co_return co_await EngineSettingsCommands::developerUpdatePlan();
}

const ColorPair &secondaryColor()
{
    return VarnoColor::textSecondary();
}

QFont footnoteFont()
{
    return VarnoFont::ui(11);
}

QLabel *footnote(const QString &text, QWidget *parent)
{
    return SettingsForm::label(text, footnoteFont(), secondaryColor(), true, parent);
}

QIcon symbolIcon(const QString &symbol, const ColorPair &color, int size)
{
    return SymbolIcons::shared().icon(symbol, color.resolved(), size);
}

QPushButton *symbolButton(const QString &symbol, const QString &title, QWidget *parent)
{
    auto *button = new QPushButton(title, parent);
    button->setAutoDefault(false);
    button->setAccessibleName(title);
    button->setFont(VarnoFont::ui(13));
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    VarnoColor::onAppearanceChange(button, [button, symbol] {
        button->setIcon(symbolIcon(symbol, VarnoColor::textPrimary(), 16));
    });
    return button;
}

} // namespace

WorkbenchOperations WorkbenchOperations::engine()
{
    WorkbenchOperations operations;
    operations.load = &DeveloperWorkbenchStateStore::load;
    operations.inspect = &engineInspect;
    operations.planUpdates = &enginePlanUpdates;
    operations.chooseFolders = &chooseFoldersWithDialog;
    operations.writes = EngineWrites::engine();
    return operations;
}

// --- MiddleElidedLabel ------------------------------------------------------------

MiddleElidedLabel::MiddleElidedLabel(const QString &text, QWidget *parent)
    : QWidget(parent)
    , m_text(text)
{
    setFont(VarnoFont::ui(13));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setToolTip(Labels::toolTip(text));
    setAccessibleName(text);
    VarnoColor::repaintOnAppearanceChange(this);
}

QString MiddleElidedLabel::shownText() const
{
    return QFontMetrics(font()).elidedText(m_text, Qt::ElideMiddle, width());
}

QSize MiddleElidedLabel::sizeHint() const
{
    const QFontMetrics metrics(font());
    return QSize(qMin(metrics.horizontalAdvance(m_text), 400), metrics.height());
}

QSize MiddleElidedLabel::minimumSizeHint() const
{
    return QSize(40, QFontMetrics(font()).height());
}

void MiddleElidedLabel::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(VarnoColor::textPrimary().resolved());
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, shownText());
}

// --- The pane ----------------------------------------------------------------------

DeveloperWorkbenchSettingsView::DeveloperWorkbenchSettingsView(AppModel *model, QWidget *parent)
    : DeveloperWorkbenchSettingsView(model, WorkbenchOperations::engine(), parent)
{
}

DeveloperWorkbenchSettingsView::DeveloperWorkbenchSettingsView(AppModel *model, WorkbenchOperations operations,
                                                               QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_operations(std::move(operations))
    , m_inspectionSummary(WorkbenchRules::inspectionInitial)
    , m_updatePlanSummary(WorkbenchRules::updatePlanInitial)
    , m_saver(new WorkbenchSaver(this))
{
    setObjectName(QStringLiteral("developer-settings"));
    if (!m_operations.load)
        m_operations.load = &DeveloperWorkbenchStateStore::load;
    if (!m_operations.chooseFolders)
        m_operations.chooseFolders = &chooseFoldersWithDialog;
    if (!m_operations.writes)
        m_operations.writes = EngineWrites::create();
    m_saver->setSaveHandler(m_operations.save);
    m_saver->setWrites(m_operations.writes);
    m_state = m_operations.load();
    build();
    render();
}

DeveloperWorkbenchSettingsView::~DeveloperWorkbenchSettingsView() = default;

void DeveloperWorkbenchSettingsView::build()
{
    QVBoxLayout *layout = SettingsForm::scrollingPage(this, QStringLiteral("developer-page"), 16);
    QWidget *page = layout->parentWidget();
    m_page = page;
    const QFont headerFont = VarnoFont::ui(13, QFont::DemiBold);

    // Activation.
    auto *activation = new SettingsSection(QStringLiteral("Activation"), headerFont, page);
    m_workbenchSwitch = new ToggleSwitch(QStringLiteral("Enable Developer Workbench"), activation);
    m_workbenchSwitch->setObjectName(QStringLiteral("developer-enable"));
    connect(m_workbenchSwitch, &QAbstractButton::toggled, this, [this](bool on) {
        DeveloperWorkbenchState next = m_state;
        next.workbenchEnabled = on;
        setState(next);
    });
    activation->addRow(m_workbenchSwitch);
    activation->addFooterText(QStringLiteral("Off by default. Until this is on, VARNO does not inspect project folders or "
                                             "toolchains for developer work."),
                              footnoteFont(), secondaryColor());
    layout->addWidget(activation);

    // Off: what the switch controls.
    m_offSections = new QWidget(page);
    auto *offLayout = new QVBoxLayout(m_offSections);
    offLayout->setContentsMargins(0, 0, 0, 0);
    auto *controls = new SettingsSection(QStringLiteral("What this controls"), headerFont, m_offSections);
    controls->addRow(SettingsForm::label(QStringLiteral("Developer inspection stays hidden until you opt in."),
                                         VarnoFont::ui(13), secondaryColor(), true, controls));
    controls->addFooterText(QStringLiteral("When you enable the workbench, VARNO reveals source selection, project "
                                           "folders, and the track/ask update policy."),
                            footnoteFont(), secondaryColor());
    offLayout->addWidget(controls);
    layout->addWidget(m_offSections);

    // On: sources, projects, updates.
    m_onSections = new QWidget(page);
    auto *onLayout = new QVBoxLayout(m_onSections);
    onLayout->setContentsMargins(0, 0, 0, 0);
    onLayout->setSpacing(16);
    layout->addWidget(m_onSections);

    const auto sourceToggle = [this](DeveloperSource source, QWidget *parent) {
        auto *row = new QWidget(parent);
        auto *rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        auto *texts = new QVBoxLayout;
        texts->setSpacing(2);
        texts->addWidget(SettingsForm::label(WorkbenchRules::title(source), VarnoFont::ui(13), std::nullopt, false, row));
        texts->addWidget(footnote(WorkbenchRules::subtitle(source), row));
        rowLayout->addLayout(texts, 1);
        // The switch carries the title as its accessible name; the row's
        // texts are its visible label.
        auto *toggle = new ToggleSwitch(QString(), row);
        toggle->setAccessibleName(WorkbenchRules::title(source));
        toggle->setAccessibleDescription(WorkbenchRules::subtitle(source));
        toggle->setObjectName(QStringLiteral("developer-source-") + DeveloperWorkbench::rawValue(source));
        toggle->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        toggle->setFixedWidth(ToggleSwitch::kTrackWidth + 6);
        rowLayout->addWidget(toggle, 0, Qt::AlignVCenter);
        connect(toggle, &QAbstractButton::toggled, this, [this, source](bool on) {
            DeveloperWorkbenchState next = m_state;
            next.setEnabled(source, on);
            setState(next);
        });
        m_sourceSwitches.insert(source, toggle);
        return row;
    };

    auto *machine = new SettingsSection(QStringLiteral("Machine-wide sources"), headerFont, m_onSections);
    for (const DeveloperSource source : WorkbenchRules::machineWideSources())
        machine->addRow(sourceToggle(source, machine));
    machine->addFooterText(QStringLiteral(
                               "Checked across the whole machine. These work without choosing a project folder."),
                           footnoteFont(), secondaryColor());
    onLayout->addWidget(machine);

    auto *perProject = new SettingsSection(QStringLiteral("Per-project sources"), headerFont, m_onSections);
    for (const DeveloperSource source : WorkbenchRules::perProjectSources())
        perProject->addRow(sourceToggle(source, perProject));
    m_folderWarning = new QWidget(perProject);
    m_folderWarning->setObjectName(QStringLiteral("developer-folder-warning"));
    auto *warningLayout = new QHBoxLayout(m_folderWarning);
    warningLayout->setContentsMargins(0, 0, 0, 0);
    warningLayout->setSpacing(6);
    auto *warningIcon = new QLabel(m_folderWarning);
    VarnoColor::onAppearanceChange(warningIcon, [warningIcon] {
        warningIcon->setPixmap(SymbolIcons::shared().pixmap(QStringLiteral("exclamationmark.triangle"),
                                                            VarnoColor::accent().resolved(), 14,
                                                            warningIcon->devicePixelRatioF()));
    });
    warningLayout->addWidget(warningIcon, 0, Qt::AlignTop);
    warningLayout->addWidget(SettingsForm::label(QStringLiteral("These are switched on but no project folder is "
                                                                "selected, so they inspect nothing yet."),
                                                 footnoteFont(), VarnoColor::accent(), true, m_folderWarning),
                             1);
    perProject->footer()->addWidget(m_folderWarning);
    perProject->addFooterText(QStringLiteral("Only inspected inside the project folders you add below."),
                              footnoteFont(), secondaryColor());
    onLayout->addWidget(perProject);

    auto *projects = new SettingsSection(QStringLiteral("Projects"), headerFont, m_onSections);
    m_noFolders = SettingsForm::label(QStringLiteral("No project folders selected yet."), VarnoFont::ui(13),
                                      secondaryColor(), true, projects);
    projects->addRow(m_noFolders);
    auto *folderHolder = new QWidget(projects);
    m_folderRows = new QVBoxLayout(folderHolder);
    m_folderRows->setContentsMargins(0, 0, 0, 0);
    m_folderRows->setSpacing(8);
    projects->addRow(folderHolder);
    QPushButton *addFolder = symbolButton(QStringLiteral("folder.badge.plus"), QStringLiteral("Add project folder"),
                                          projects);
    addFolder->setObjectName(QStringLiteral("developer-add-folder"));
    connect(addFolder, &QPushButton::clicked, this, &DeveloperWorkbenchSettingsView::addProjectFolder);
    projects->addRow(addFolder);
    projects->addFooterText(QStringLiteral("Project folders are explicit. Brusk stays out of the tree until you point it "
                                           "at a folder you want inspected."),
                            footnoteFont(), secondaryColor());
    onLayout->addWidget(projects);

    auto *updates = new SettingsSection(QStringLiteral("Updates"), headerFont, m_onSections);
    auto *pickerRow = new QWidget(updates);
    auto *pickerLayout = new QHBoxLayout(pickerRow);
    pickerLayout->setContentsMargins(0, 0, 0, 0);
    pickerLayout->setSpacing(0);
    pickerLayout->addWidget(
        SettingsForm::label(QStringLiteral("Update behavior"), VarnoFont::ui(13), std::nullopt, false, pickerRow));
    pickerLayout->addStretch(1);
    m_policyGroup = new QButtonGroup(this);
    m_policyGroup->setExclusive(true);
    for (const DeveloperUpdatePolicy policy : DeveloperWorkbench::allUpdatePolicies()) {
        auto *segment = new QPushButton(WorkbenchRules::label(policy), pickerRow);
        segment->setCheckable(true);
        segment->setAutoDefault(false);
        segment->setFont(VarnoFont::ui(12));
        segment->setAccessibleName(QStringLiteral("Update behavior: ") + WorkbenchRules::label(policy));
        segment->setObjectName(QStringLiteral("developer-policy-") + DeveloperWorkbench::rawValue(policy));
        m_policyGroup->addButton(segment, int(policy));
        pickerLayout->addWidget(segment);
    }
    connect(m_policyGroup, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (!checked)
            return;
        DeveloperWorkbenchState next = m_state;
        next.updatePolicy = DeveloperWorkbench::rawValue(DeveloperUpdatePolicy(id));
        setState(next);
    });
    updates->addRow(pickerRow);

    m_inspectButton = symbolButton(QStringLiteral("play.circle"), QStringLiteral("Run inspection now"), updates);
    m_inspectButton->setObjectName(QStringLiteral("developer-run-inspection"));
    connect(m_inspectButton, &QPushButton::clicked, this, [this] { Async::detach(runInspection()); });
    updates->addRow(m_inspectButton);
    m_inspectionLabel = footnote(QString(), updates);
    m_inspectionLabel->setObjectName(QStringLiteral("developer-inspection-summary"));
    m_inspectionLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    updates->addRow(m_inspectionLabel);
    m_planButton = symbolButton(QStringLiteral("list.bullet.rectangle"), QStringLiteral("Plan developer updates"),
                                updates);
    m_planButton->setObjectName(QStringLiteral("developer-plan-updates"));
    connect(m_planButton, &QPushButton::clicked, this, [this] { Async::detach(runUpdatePlan()); });
    updates->addRow(m_planButton);
    m_planLabel = footnote(QString(), updates);
    m_planLabel->setObjectName(QStringLiteral("developer-plan-summary"));
    m_planLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    updates->addRow(m_planLabel);
    updates->addFooterText(QStringLiteral(
                               "This slice tracks and plans only \u2014 it runs read-only \"what's outdated\" "
                               "checks and never applies an update. Applying updates is a later, separate opt-in."),
                           footnoteFont(), secondaryColor());
    onLayout->addWidget(updates);

    layout->addStretch(1);
}

void DeveloperWorkbenchSettingsView::render()
{
    m_page->setEnabled(m_hasRead);
    {
        const QSignalBlocker blockSwitch(m_workbenchSwitch);
        m_workbenchSwitch->setChecked(m_state.workbenchEnabled);
    }
    m_offSections->setVisible(!m_state.workbenchEnabled);
    m_onSections->setVisible(m_state.workbenchEnabled);
    for (auto it = m_sourceSwitches.cbegin(); it != m_sourceSwitches.cend(); ++it) {
        const QSignalBlocker blockSource(it.value());
        it.value()->setChecked(m_state.isEnabled(it.key()));
    }
    m_folderWarning->setVisible(needsFolderWarning());
    m_noFolders->setVisible(m_state.projectFolders.isEmpty());
    if (!m_foldersBuilt || m_shownFolders != m_state.projectFolders)
        rebuildFolderRows();
    {
        const QSignalBlocker blockPolicy(m_policyGroup);
        m_policyGroup->button(int(WorkbenchRules::shownPolicy(m_state.updatePolicy)))->setChecked(true);
    }
    m_inspectButton->setEnabled(!m_isInspecting);
    m_planButton->setEnabled(!m_isPlanningUpdates);
    m_inspectionLabel->setText(m_inspectionSummary);
    m_planLabel->setText(m_updatePlanSummary);
    Q_EMIT stateChanged();
}

void DeveloperWorkbenchSettingsView::rebuildFolderRows()
{
    while (QLayoutItem *item = m_folderRows->takeAt(0)) {
        // Later: a row's own remove button may be what asked for this.
        if (QWidget *widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
    QWidget *holder = m_folderRows->parentWidget();
    // One row per entry, in list order (a repeated entry shows twice).
    for (const QString &path : m_state.projectFolders) {
        auto *row = new QWidget(holder);
        row->setObjectName(QStringLiteral("developer-folder-row"));
        auto *rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        rowLayout->setSpacing(8);
        auto *icon = new QLabel(row);
        VarnoColor::onAppearanceChange(icon, [icon] {
            icon->setPixmap(SymbolIcons::shared().pixmap(QStringLiteral("folder"), VarnoColor::textSecondary().resolved(),
                                                         16, icon->devicePixelRatioF()));
        });
        rowLayout->addWidget(icon);
        rowLayout->addWidget(new MiddleElidedLabel(path, row), 1);
        auto *remove = new QToolButton(row);
        remove->setObjectName(QStringLiteral("developer-remove-folder"));
        remove->setAutoRaise(true);
        remove->setAccessibleName(QStringLiteral("Remove project folder"));
        remove->setToolTip(QStringLiteral("Remove project folder"));
        remove->setFocusPolicy(Qt::StrongFocus);
        VarnoColor::onAppearanceChange(remove, [remove] {
            remove->setIcon(symbolIcon(QStringLiteral("minus.circle"), VarnoColor::textSecondary(), 16));
        });
        connect(remove, &QToolButton::clicked, this, [this, path] { removeProjectFolder(path); });
        rowLayout->addWidget(remove);
        m_folderRows->addWidget(row);
        row->show();
    }
    m_shownFolders = m_state.projectFolders;
    m_foldersBuilt = true;
}

bool DeveloperWorkbenchSettingsView::needsFolderWarning() const
{
    return WorkbenchRules::needsFolderWarning(m_state);
}

void DeveloperWorkbenchSettingsView::setState(const DeveloperWorkbenchState &state)
{
    if (state == m_state) {
        render();
        return;
    }
    const bool turnedOff = m_state.workbenchEnabled && !state.workbenchEnabled;
    m_state = state;
    if (turnedOff) {
        m_inspectionSummary = WorkbenchRules::workbenchDisabled;
        m_updatePlanSummary = WorkbenchRules::workbenchDisabled;
    }
    m_saver->requestSave(m_state);
    render();
}

void DeveloperWorkbenchSettingsView::addProjectFolder()
{
    const FolderChooser choose = m_operations.chooseFolders;
    const std::optional<QStringList> chosen = choose(this);
    if (!chosen)
        return;
    DeveloperWorkbenchState next = m_state;
    next.projectFolders = WorkbenchRules::addingFolders(m_state.projectFolders, *chosen);
    setState(next);
}

void DeveloperWorkbenchSettingsView::removeProjectFolder(const QString &path)
{
    DeveloperWorkbenchState next = m_state;
    next.projectFolders = WorkbenchRules::removingFolder(m_state.projectFolders, path);
    setState(next);
}

QCoro::Task<void> DeveloperWorkbenchSettingsView::runInspection()
{
    return run(RunKind::inspection);
}

QCoro::Task<void> DeveloperWorkbenchSettingsView::runUpdatePlan()
{
    return run(RunKind::updatePlan);
}

QCoro::Task<void> DeveloperWorkbenchSettingsView::run(RunKind kind)
{
    const QPointer<DeveloperWorkbenchSettingsView> self(this);
    const bool inspection = kind == RunKind::inspection;
    QString &summary = inspection ? m_inspectionSummary : m_updatePlanSummary;
    if (!m_state.workbenchEnabled) {
        summary = WorkbenchRules::workbenchOff;
        render();
        co_return;
    }
    (inspection ? m_isInspecting : m_isPlanningUpdates) = true;
    render();

    // The run outlives the pane if the pane goes: the engine call completes and
    // a failure still reaches the model.
    const QPointer<AppModel> model = m_model;
    const auto call = inspection ? m_operations.inspect : m_operations.planUpdates;
    // Everything the user changed is with the engine before it looks.
    co_await m_saver->flush();

    std::optional<DeveloperReport> report;
    QString failure;
    try {
        report = co_await call();
    } catch (...) {
        failure = EngineFailure::from(std::current_exception()).description;
    }
    if (self) {
        QString &shown = inspection ? self->m_inspectionSummary : self->m_updatePlanSummary;
        if (report)
            shown = report->summary;
        else
            shown = (inspection ? WorkbenchRules::inspectionFailedPrefix : WorkbenchRules::updatePlanFailedPrefix)
                + failure;
        self->render();
    }
    if (!report && model)
        model->setError((inspection ? WorkbenchRules::inspectionErrorPrefix : WorkbenchRules::updatePlanErrorPrefix)
                        + failure);
    if (self) {
        // The busy flag drops in a task of its own, just after the summary.
        QMetaObject::invokeMethod(
            self.data(),
            [self, inspection] {
                if (!self)
                    return;
                (inspection ? self->m_isInspecting : self->m_isPlanningUpdates) = false;
                self->render();
            },
            Qt::QueuedConnection);
    }
}

void DeveloperWorkbenchSettingsView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        Async::detach(appear());
}

QCoro::Task<void> DeveloperWorkbenchSettingsView::appear()
{
    return adoptStoredState(true);
}

QCoro::Task<void> DeveloperWorkbenchSettingsView::adoptStoredState(bool installFailureHandler)
{
    const QPointer<DeveloperWorkbenchSettingsView> self(this);
    const quint64 serial = ++m_adoptSerial;
    ++m_adoptsRunning;
    // A state still waiting for or on its way to the engine is newer than the
    // file: wait until the saver has nothing left, and until no other write
    // (a closed pane's saver) runs, then read.
    const std::shared_ptr<EngineWrites> writes = m_operations.writes;
    for (;;) {
        if (m_saver->pending() || m_saver->inFlight() || m_saver->isDraining()) {
            co_await m_saver->flush();
        } else if (writes->count() > 0) {
            QCoro::Task<void> settling = EngineWrites::settled(writes);
            co_await std::move(settling);
        } else {
            break;
        }
        if (!self)
            co_return;
    }
    --m_adoptsRunning;
    if (serial != m_adoptSerial) {
        render();
        co_return; // a later appearance or fallback reads instead
    }
    const DeveloperWorkbenchState loaded = m_operations.load();
    // Declared saved first, so that showing it sends nothing.
    m_saver->setLastSaved(loaded.normalized());
    m_hasRead = true;
    setState(loaded);
    if (installFailureHandler) {
        m_saver->setOnFailure([self](const QString &message) {
            if (self)
                self->saveFailed(message);
        });
    }
}

void DeveloperWorkbenchSettingsView::saveFailed(const QString &message)
{
    if (m_model)
        m_model->setError(message);
    // Back to what the engine stores, once nothing newer is on its way.
    Async::detach(adoptStoredState(false));
}
