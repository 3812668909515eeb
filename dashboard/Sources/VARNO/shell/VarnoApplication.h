#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

class AppDelegate;
class AppModel;
class QMainWindow;
class QMenuBar;
class QWidget;
class TrayHost;
class VARNOCommands;

// The app's three scenes and how they are reached: the Workshop window
// (scene id "workshop", one at a time, made afresh each time it opens, with
// the main menu), the menu-bar panel in its tray host, and the Settings window.
// Closing the last window does not quit; Quit does.
class VarnoApplication : public QObject {
    Q_OBJECT

public:
    // `useTray`: host the panel in the system tray (else a tool window).
    VarnoApplication(AppDelegate *delegate, bool useTray, QObject *parent = nullptr);
    ~VarnoApplication() override;

    // Registers the scenes, shows the panel where there is no tray, opens the
    // Workshop window, then runs the delegate's launch sequence.
    void start();

    // Opens the Workshop window, or brings the open one forward.
    QWidget *openWorkshop();
    QWidget *workshopWindow() const;
    VARNOCommands *commands() const;
    void showSettings();
    // The Settings window on `model`, as showSettings() opens it.
    static QWidget *makeSettingsWindow(AppModel *model);
    QWidget *settingsWindow() const;
    void showPanel();
    // Brings the app forward: the Workshop window when open, else the panel.
    void activate();
    TrayHost *trayHost() const { return m_tray; }

    // Another start of the app handed over its arguments: its URLs go to the
    // delegate; a start without any brings the Workshop window forward.
    void handleMessage(const QStringList &urls);

private:
    QWidget *makePanel();
    void addPanelItem(QMenuBar *menuBar);

    AppDelegate *m_delegate;
    bool m_useTray;
    TrayHost *m_tray = nullptr;
    QPointer<QMainWindow> m_workshop;
    QPointer<VARNOCommands> m_commands;
    QPointer<QWidget> m_settings;
};
