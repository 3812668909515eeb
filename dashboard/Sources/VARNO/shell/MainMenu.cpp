#include "shell/MainMenu.h"

#include "base/Async.h"
#include "kit/VarnoSignals.h"
#include "kit/WindowRegistry.h"
#include "model/AppModel.h"
#include "model/ModelText.h"
#include "platform/MainBundle.h"
#include "platform/Workspace.h"
#include "services/DiagnosticsReport.h"
#include "services/SparkleUpdater.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QWidget>

namespace {

const QString kEllipsis = QStringLiteral("\u2026");

QString infoStringOrEmpty(const QString &key)
{
    return MainBundle::infoString(key).value_or(QString());
}

// The standard editing commands go to the widget with the keyboard focus.
void sendToFocus(const char *method)
{
    if (QWidget *focus = QApplication::focusWidget())
        QMetaObject::invokeMethod(focus, method);
}

} // namespace

VARNOCommands::VARNOCommands(AppModel *model, SparkleUpdater *updater, Environment environment, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_updater(updater)
    , m_environment(std::move(environment))
{
    Environment &env = m_environment;
    if (!env.openWorkshop)
        env.openWorkshop = [] {
            WindowRegistry::openWorkshop();
            WindowRegistry::activate();
        };
    if (!env.requestDiagnostics)
        env.requestDiagnostics = [] { WindowRegistry::requestDiagnostics(); };
    if (!env.requestHealthCheck)
        env.requestHealthCheck = [] { WindowRegistry::requestHealthCheck(); };
    if (!env.showSettings)
        env.showSettings = [] { WindowRegistry::showSettings(); };
    if (!env.showAbout)
        env.showAbout = [] {
            QMessageBox::about(QApplication::activeWindow(), QStringLiteral("About VARNO"), aboutText());
        };
    if (!env.quit)
        env.quit = [] { QApplication::quit(); };
    if (!env.gatherDiagnostics)
        env.gatherDiagnostics = [] { return DiagnosticsReport::gatherAsync(); };
    if (!env.copyToClipboard)
        env.copyToClipboard = [](const QString &text) {
            QClipboard *clipboard = QApplication::clipboard();
            clipboard->clear();
            clipboard->setText(text);
        };
    if (!env.openUrl)
        env.openUrl = [](const QUrl &url) { return Workspace::shared()->open(url); };
    if (!env.revealFile)
        env.revealFile = [](const QString &path) {
            Workspace::shared()->activateFileViewerSelecting({QUrl::fromLocalFile(path)});
        };

    // Application menu (on Linux its items sit in the Help menu).
    QAction *about = make(Item::about, QStringLiteral("About VARNO"));
    about->setMenuRole(QAction::AboutRole);
    connect(about, &QAction::triggered, this, [this] { m_environment.showAbout(); });
    QAction *check = make(Item::checkForUpdates, QStringLiteral("Check for Updates") + kEllipsis);
    check->setMenuRole(QAction::ApplicationSpecificRole);
    connect(check, &QAction::triggered, this, [this] {
        if (m_updater)
            m_updater->checkForUpdates();
    });

    // File
    QAction *close = make(Item::closeWindow, QStringLiteral("Close Window"), QKeySequence(QStringLiteral("Ctrl+W")));
    connect(close, &QAction::triggered, this, [] {
        if (QWidget *window = QApplication::activeWindow())
            window->close();
    });

    // VARNO
    QAction *open = make(Item::openWorkshop, QStringLiteral("Open Workshop"), QKeySequence(QStringLiteral("Ctrl+0")));
    connect(open, &QAction::triggered, this, [this] { m_environment.openWorkshop(); });
    QAction *scan = make(Item::scanNow, QStringLiteral("Scan Now"), QKeySequence(QStringLiteral("Ctrl+R")));
    connect(scan, &QAction::triggered, this, [this] {
        if (m_model)
            Async::detach(m_model->scan());
    });
    QAction *updateAll = make(Item::updateAll, QStringLiteral("Update All"), QKeySequence(QStringLiteral("Ctrl+U")));
    connect(updateAll, &QAction::triggered, this, &VARNOCommands::triggerUpdateAll);
    QAction *reloadLibrary = make(Item::reloadLibrary, QStringLiteral("Reload Library"));
    connect(reloadLibrary, &QAction::triggered, this, &VARNOCommands::reload);
    QAction *diagnostics = make(Item::diagnostics, QStringLiteral("Diagnostics") + kEllipsis,
                                QKeySequence(QStringLiteral("Ctrl+Shift+D")));
    connect(diagnostics, &QAction::triggered, this, [this] { m_environment.requestDiagnostics(); });
    QAction *quit = make(Item::quit, QStringLiteral("Quit VARNO"), QKeySequence(QStringLiteral("Ctrl+Q")));
    quit->setMenuRole(QAction::NoRole);
    connect(quit, &QAction::triggered, this, [this] { m_environment.quit(); });

    // Edit
    const auto editAction = [this](Item item, const QString &text, QKeySequence::StandardKey key, const char *method) {
        QAction *action = make(item, text, QKeySequence(key));
        connect(action, &QAction::triggered, this, [method] { sendToFocus(method); });
    };
    editAction(Item::cut, QStringLiteral("Cut"), QKeySequence::Cut, "cut");
    editAction(Item::copy, QStringLiteral("Copy"), QKeySequence::Copy, "copy");
    editAction(Item::paste, QStringLiteral("Paste"), QKeySequence::Paste, "paste");
    editAction(Item::selectAll, QStringLiteral("Select All"), QKeySequence::SelectAll, "selectAll");
    QAction *copyDetails = make(Item::copyAppDetails, QStringLiteral("Copy App Details"));
    connect(copyDetails, &QAction::triggered, this, &VARNOCommands::copyAppDetails);
    QAction *copyReport = make(Item::copyDiagnostics, QStringLiteral("Copy Diagnostics"));
    copyReport->setToolTip(QStringLiteral("Copy the full diagnostics report to the clipboard"));
    connect(copyReport, &QAction::triggered, this, [this] { Async::detach(copyDiagnostics()); });
    QAction *settings = make(Item::settings, QStringLiteral("Settings") + kEllipsis,
                             QKeySequence(QStringLiteral("Ctrl+,")));
    settings->setMenuRole(QAction::PreferencesRole);
    connect(settings, &QAction::triggered, this, [this] { m_environment.showSettings(); });

    // View
    QAction *simple = make(Item::simple, QStringLiteral("Simple"), QKeySequence(QStringLiteral("Ctrl+1")));
    simple->setCheckable(true);
    connect(simple, &QAction::triggered, this, [this] {
        if (m_model)
            m_model->setDetailsMode(false);
        refresh();
    });
    QAction *detailsItem = make(Item::details, QStringLiteral("Details"), QKeySequence(QStringLiteral("Ctrl+2")));
    detailsItem->setCheckable(true);
    connect(detailsItem, &QAction::triggered, this, [this] {
        if (m_model)
            m_model->setDetailsMode(true);
        refresh();
    });
    for (const AppFilter filter : menuBuckets()) {
        auto *action = new QAction(filterTitle(filter), this);
        action->setCheckable(true);
        connect(action, &QAction::triggered, this, [this, filter] {
            if (m_model)
                m_model->setSelectedFilter(filter);
            refresh();
        });
        m_filterActions.insert(filter, action);
    }
    QAction *refreshItem = make(Item::refresh, QStringLiteral("Refresh"));
    connect(refreshItem, &QAction::triggered, this, &VARNOCommands::reload);

    // Go
    QAction *reveal = make(Item::revealInFinder, QStringLiteral("Reveal in Finder"));
    reveal->setToolTip(QStringLiteral("Reveal the selected app in Finder"));
    connect(reveal, &QAction::triggered, this, &VARNOCommands::revealInFinder);
    QAction *provenance = make(Item::showProvenance, QStringLiteral("Show Provenance"));
    provenance->setToolTip(QStringLiteral("Open the provenance drawer for the selected app"));
    connect(provenance, &QAction::triggered, this, &VARNOCommands::showProvenance);

    // Window
    QAction *minimize = make(Item::minimize, QStringLiteral("Minimize"), QKeySequence(QStringLiteral("Ctrl+M")));
    connect(minimize, &QAction::triggered, this, [] {
        if (QWidget *window = QApplication::activeWindow())
            window->showMinimized();
    });

    // Help
    QAction *website = make(Item::website, QStringLiteral("VARNO Website") + kEllipsis);
    connect(website, &QAction::triggered, this, [this] {
        const QUrl url(websiteAddress(), QUrl::StrictMode);
        if (url.isValid() && !url.scheme().isEmpty())
            m_environment.openUrl(url);
    });
    QAction *releaseNotes = make(Item::releaseNotes, QStringLiteral("Release Notes") + kEllipsis);
    connect(releaseNotes, &QAction::triggered, this, [this] {
        const QUrl url = releaseNotesUrl(websiteAddress());
        if (url.isValid())
            m_environment.openUrl(url);
    });
    QAction *healthCheck = make(Item::runHealthCheck, QStringLiteral("Run Health Check"));
    healthCheck->setToolTip(QStringLiteral("Run varno doctor and show the results in Diagnostics"));
    connect(healthCheck, &QAction::triggered, this, [this] { m_environment.requestHealthCheck(); });

    if (m_model) {
        for (const auto signal :
             {&AppModel::isScanningChanged, &AppModel::isUpdatingChanged, &AppModel::singleUpdateTokenChanged,
              &AppModel::isFixingChanged, &AppModel::appsChanged, &AppModel::selectedBundleIDChanged,
              &AppModel::detailsModeChanged, &AppModel::selectedFilterChanged}) {
            connect(m_model, signal, this, &VARNOCommands::refresh);
        }
    }
    if (m_updater)
        connect(m_updater, &SparkleUpdater::canCheckForUpdatesChanged, this, &VARNOCommands::refresh);
    refresh();
}

VARNOCommands::~VARNOCommands() = default;

QAction *VARNOCommands::make(Item item, const QString &text, const QKeySequence &shortcut)
{
    auto *action = new QAction(text, this);
    if (!shortcut.isEmpty())
        action->setShortcut(shortcut);
    m_actions.insert(item, action);
    return action;
}

void VARNOCommands::install(QMenuBar *menuBar)
{
    const auto add = [this](QMenu *menu, std::initializer_list<std::optional<Item>> items) {
        for (const auto &item : items) {
            if (item)
                menu->addAction(action(*item));
            else
                menu->addSeparator();
        }
    };

    QMenu *file = menuBar->addMenu(QStringLiteral("File"));
    add(file, {Item::closeWindow});

    QMenu *edit = menuBar->addMenu(QStringLiteral("Edit"));
    add(edit,
        {Item::cut, Item::copy, Item::paste, Item::selectAll, std::nullopt, Item::copyAppDetails, Item::copyDiagnostics,
         std::nullopt, Item::settings});

    QMenu *view = menuBar->addMenu(QStringLiteral("View"));
    add(view, {Item::simple, Item::details, std::nullopt});
    for (const AppFilter filter : menuBuckets())
        view->addAction(filterAction(filter));
    add(view, {std::nullopt, Item::refresh});

    QMenu *varno = menuBar->addMenu(QStringLiteral("VARNO"));
    add(varno,
        {Item::openWorkshop, Item::scanNow, Item::updateAll, Item::reloadLibrary, Item::diagnostics, std::nullopt,
         Item::checkForUpdates, std::nullopt, Item::quit});

    QMenu *go = menuBar->addMenu(QStringLiteral("Go"));
    add(go, {Item::revealInFinder, Item::showProvenance});

    QMenu *window = menuBar->addMenu(QStringLiteral("Window"));
    add(window, {Item::minimize, std::nullopt, Item::openWorkshop});

    // Linux has no application menu: About and Check for Updates close the Help menu.
    QMenu *help = menuBar->addMenu(QStringLiteral("Help"));
    add(help,
        {Item::website, Item::releaseNotes, std::nullopt, Item::runHealthCheck, Item::diagnostics, std::nullopt,
         Item::checkForUpdates, Item::about});

    for (QMenu *menu : {file, edit, view, varno, go, window, help})
        menu->setToolTipsVisible(true);
}

VARNOCommands::BusyFlags VARNOCommands::busyFlags(const AppModel &model)
{
    return {model.isScanning(), model.isUpdating(), model.singleUpdateToken() != nullptr, model.isFixing()};
}

bool VARNOCommands::isBusy(const BusyFlags &flags)
{
    return flags.isScanning || flags.isUpdating || flags.singleUpdate || flags.isFixing;
}

QString VARNOCommands::updateAllHelp(const BusyFlags &flags)
{
    if (flags.isScanning)
        return QStringLiteral("Updates resume when the scan finishes.");
    if (flags.isFixing)
        return QStringLiteral("Updates resume when the current fix finishes.");
    return QStringLiteral("Update all outdated apps");
}

QString VARNOCommands::copyAppDetailsHelp(const AppModel &model)
{
    if (!model.selectedApp())
        return QStringLiteral("Select an app in the library first");
    return QStringLiteral("Copy a summary of the selected app to the clipboard");
}

QList<AppFilter> VARNOCommands::menuBuckets()
{
    return AppFilters::menuBuckets();
}

QString VARNOCommands::filterTitle(AppFilter filter)
{
    return AppFilters::title(filter);
}

QString VARNOCommands::websiteAddress()
{
    // A build may name its own site in Info.plist.
    if (const auto configured = MainBundle::infoString(QStringLiteral("VARNOWebsiteURL")))
        return *configured;
    return QStringLiteral("https://varno.org");
}

QUrl VARNOCommands::releaseNotesUrl(const QString &website)
{
    QString address = website;
    while (address.endsWith(QLatin1Char('/')))
        address.chop(1);
    const QUrl url(address + QStringLiteral("/releases"), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || website.isEmpty())
        return QUrl();
    return url;
}

QString VARNOCommands::aboutText()
{
    return QStringLiteral("VARNO\nVersion %1 (%2)")
        .arg(infoStringOrEmpty(QStringLiteral("CFBundleShortVersionString")),
             infoStringOrEmpty(QStringLiteral("CFBundleVersion")));
}

void VARNOCommands::refresh()
{
    const bool canCheck = m_updater && m_updater->canCheckForUpdates();
    action(Item::checkForUpdates)->setEnabled(canCheck);
    if (!m_model)
        return;
    const AppModel &model = *m_model;
    const BusyFlags flags = busyFlags(model);
    const bool busy = isBusy(flags);
    action(Item::scanNow)->setEnabled(!busy);
    action(Item::updateAll)->setEnabled(!busy && model.libraryCounts().outdated > 0);
    action(Item::updateAll)->setToolTip(updateAllHelp(flags));
    action(Item::reloadLibrary)->setEnabled(!busy);
    action(Item::refresh)->setEnabled(!busy);

    const auto selected = model.selectedApp();
    action(Item::copyAppDetails)->setEnabled(selected.has_value());
    action(Item::copyAppDetails)->setToolTip(copyAppDetailsHelp(model));
    action(Item::revealInFinder)->setEnabled(selected && selected->install_path && !selected->install_path->isEmpty());
    action(Item::showProvenance)->setEnabled(selected.has_value());

    action(Item::simple)->setChecked(!model.detailsMode());
    action(Item::details)->setChecked(model.detailsMode());
    for (auto it = m_filterActions.cbegin(); it != m_filterActions.cend(); ++it)
        it.value()->setChecked(model.selectedFilter() == it.key());
}

void VARNOCommands::triggerUpdateAll()
{
    if (!m_model)
        return;
    // In this order: forget the last run, ask for the update-run sheet, then
    // start the run once the sheet has had its turn.
    m_model->clearUpdateProgress();
    VarnoSignals::postShowUpdateFlow();
    const QPointer<AppModel> model = m_model;
    QMetaObject::invokeMethod(
        this,
        [model] {
            if (model)
                Async::detach(model->updateAll());
        },
        Qt::QueuedConnection);
}

void VARNOCommands::reload()
{
    if (!m_model)
        return;
    m_model->setError(std::nullopt);
    Async::detach(m_model->load());
}

void VARNOCommands::copyAppDetails()
{
    if (!m_model)
        return;
    if (const auto app = m_model->selectedApp())
        m_environment.copyToClipboard(ModelText::appDetailsSummary(*app));
}

QCoro::Task<void> VARNOCommands::copyDiagnostics()
{
    // The copy lands even when the window of this menu closed meanwhile.
    const auto gather = m_environment.gatherDiagnostics;
    const auto copy = m_environment.copyToClipboard;
    QString report;
    try {
        report = co_await gather();
    } catch (...) {
        co_return;
    }
    copy(report);
}

void VARNOCommands::revealInFinder()
{
    if (!m_model)
        return;
    const auto app = m_model->selectedApp();
    if (app && app->install_path && !app->install_path->isEmpty())
        m_environment.revealFile(*app->install_path);
}

void VARNOCommands::showProvenance()
{
    if (!m_model)
        return;
    if (const auto bundleId = m_model->selectedBundleID())
        VarnoSignals::postShowProvenance(*bundleId);
}
