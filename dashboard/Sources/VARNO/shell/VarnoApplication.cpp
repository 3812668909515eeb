#include "shell/VarnoApplication.h"

#include "base/Logging.h"
#include "kit/SettingsButton.h"
#include "kit/WindowAccessibility.h"
#include "kit/WindowRegistry.h"
#include "menubar/MenuBarPanel.h"
#include "model/AppModel.h"
#include "platform/PlainText.h"
#include "services/SparkleUpdater.h"
#include "settings/SettingsView.h"
#include "shell/AppDelegate.h"
#include "shell/MainMenu.h"
#include "shell/TrayHost.h"
#include "shell/WorkshopWindow.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>

VarnoApplication::VarnoApplication(AppDelegate *delegate, bool useTray, QObject *parent)
    : QObject(parent)
    , m_delegate(delegate)
    , m_useTray(useTray)
{
}

VarnoApplication::~VarnoApplication()
{
    WindowRegistry::setScenes({});
    SparkleUpdater::setShared(nullptr);
    SettingsButton::setSettingsOpener({});
    delete m_workshop.data();
    delete m_settings.data();
}

void VarnoApplication::start()
{
    QApplication::setQuitOnLastWindowClosed(false);
    // Settings and the panel are plain widgets: announced as the windows they are.
    WindowAccessibility::install();

    const QPointer<VarnoApplication> self(this);
    WindowRegistry::Scenes scenes;
    scenes.openWorkshop = [self] {
        if (self)
            self->openWorkshop();
    };
    scenes.showSettings = [self] {
        if (self)
            self->showSettings();
    };
    scenes.showPanel = [self] {
        if (self)
            self->showPanel();
    };
    scenes.activate = [self] {
        if (self)
            self->activate();
    };
    WindowRegistry::setScenes(scenes);
    SparkleUpdater::setShared(m_delegate->sparkleUpdater());
    SettingsButton::setSettingsOpener(scenes.showSettings);

    SparkleUpdater *updater = m_delegate->sparkleUpdater();
    connect(updater, &SparkleUpdater::activationRequested, this, &VarnoApplication::activate);
    connect(updater, &SparkleUpdater::updateCheckUnavailable, this, [self](const QString &message) {
        if (!self)
            return;
        QMessageBox box(QMessageBox::Information, QStringLiteral("Check for Updates"), message, QMessageBox::Ok,
                        self->m_workshop);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    });

    m_tray = new TrayHost(
        m_delegate->model(), [self] { return self ? self->makePanel() : nullptr; }, m_useTray, this);
    if (m_tray->hasTray()) {
        auto *menu = new QMenu();
        menu->setParent(nullptr);
        connect(this, &QObject::destroyed, menu, &QObject::deleteLater);
        QAction *open = menu->addAction(QStringLiteral("Open Workshop"));
        connect(open, &QAction::triggered, this, [self] {
            if (self) {
                self->openWorkshop();
                self->activate();
            }
        });
        QAction *quit = menu->addAction(QStringLiteral("Quit VARNO"));
        connect(quit, &QAction::triggered, qApp, &QApplication::quit);
        m_tray->setContextMenu(menu);
    }

    openWorkshop();
    // Without a tray the panel is a tool window, shown above the Workshop
    // window once the launch load has answered (before that it could only
    // say that the library didn't load).
    if (!m_tray->hasTray()) {
        connect(
            m_delegate, &AppDelegate::launchLoadFinished, this,
            [self] {
                if (self)
                    self->showPanel();
            },
            Qt::SingleShotConnection);
    }
    m_delegate->applicationDidFinishLaunching();
}

QWidget *VarnoApplication::makePanel()
{
    auto *panel = new MenuBarPanel(m_delegate->model());
    panel->setUpdater(m_delegate->sparkleUpdater());
    return panel;
}

QWidget *VarnoApplication::openWorkshop()
{
    if (!m_workshop) {
        auto *window = new WorkshopWindow(m_delegate->model());
        window->setObjectName(QStringLiteral("workshop"));
        // Each opening starts afresh: the window's state goes with it.
        window->setAttribute(Qt::WA_DeleteOnClose);
        m_commands = new VARNOCommands(m_delegate->model(), m_delegate->sparkleUpdater(), {}, window);
        m_commands->install(window->menuBar());
        addPanelItem(window->menuBar());
        m_delegate->attachWorkshopWindow(window);
        m_workshop = window;
    }
    m_workshop->show();
    m_workshop->raise();
    return m_workshop;
}

void VarnoApplication::showSettings()
{
    if (!m_settings) {
        QWidget *settings = makeSettingsWindow(m_delegate->model());
        // One window at a time; closing it ends its panes, the next opening
        // starts afresh.
        settings->setAttribute(Qt::WA_DeleteOnClose);
        m_settings = settings;
    }
    m_settings->show();
    m_settings->raise();
    m_settings->activateWindow();
}

void VarnoApplication::addPanelItem(QMenuBar *menuBar)
{
    // The panel stands in for the menu-bar extra, which is always in reach:
    // without a tray this item is the way back to it once closed.
    QMenu *windowMenu = nullptr;
    for (QAction *action : menuBar->actions()) {
        if (action->menu() && action->text() == QLatin1String("Window"))
            windowMenu = action->menu();
    }
    if (!windowMenu)
        windowMenu = menuBar->addMenu(QStringLiteral("Window"));
    windowMenu->addSeparator();
    QAction *show = windowMenu->addAction(QStringLiteral("Show Menu-Bar Panel"));
    show->setObjectName(QStringLiteral("showMenuBarPanel"));
    const QPointer<VarnoApplication> self(this);
    connect(show, &QAction::triggered, this, [self] {
        if (self)
            self->showPanel();
    });
}

QWidget *VarnoApplication::makeSettingsWindow(AppModel *model)
{
    auto *settings = new SettingsView(model);
    settings->resize(SettingsView::kMinimumWidth + 60, SettingsView::kMinimumHeight + 120);
    return settings;
}

void VarnoApplication::showPanel()
{
    if (m_tray)
        m_tray->showPanel();
}

void VarnoApplication::activate()
{
    QWidget *target = m_workshop ? static_cast<QWidget *>(m_workshop) : (m_tray ? m_tray->panel() : nullptr);
    if (!target)
        return;
    if (target->isMinimized())
        target->showNormal();
    target->raise();
    target->activateWindow();
}

void VarnoApplication::handleMessage(const QStringList &urls)
{
    if (urls.isEmpty()) {
        openWorkshop();
        // Without a tray the panel has no icon to be reached by: a start
        // brings it back too.
        if (m_tray && !m_tray->hasTray())
            showPanel();
        activate();
        return;
    }
    qCInfo(lcVarno).noquote() << "Another start of the app sent:"
                              << PlainText::prefixCharacters(urls.join(QLatin1Char(' ')), 1000);
    m_delegate->openURLs(urls);
}

QWidget *VarnoApplication::workshopWindow() const
{
    return m_workshop.data();
}

VARNOCommands *VarnoApplication::commands() const
{
    return m_commands.data();
}

QWidget *VarnoApplication::settingsWindow() const
{
    return m_settings.data();
}
