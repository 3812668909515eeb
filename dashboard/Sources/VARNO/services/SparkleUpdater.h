#pragma once

#include "platform/UpdaterController.h"

#include <QObject>
#include <QPointer>

#include <chrono>
#include <memory>

// The app's self-updater, one per process, owned by the application delegate
// and shared by the menus, the menu-bar panel and the sidebar, which disable
// their update buttons while canCheckForUpdates is false.
//
// A build without a bundle identifier or without "SUFeedURL" in its Info.plist
// has no updater controller: canCheckForUpdates stays false, startUpdater()
// does nothing, and checkForUpdates() only brings the app forward, logs, and
// tells the user that no update feed is configured.
class SparkleUpdater : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)

public:
    explicit SparkleUpdater(QObject *parent = nullptr);
    ~SparkleUpdater() override;

    bool canCheckForUpdates() const { return m_canCheckForUpdates; }
    UpdaterController *updaterController() const { return m_updaterController.get(); }

    // Starts the updater and, 2 seconds later, one background check when the
    // updater can check then. Calling it again while started is harmless.
    void startUpdater();
    // A check the user asked for.
    void checkForUpdates();

    // The sentence shown when the user asks for a check and there is no feed.
    static QString noFeedMessage();

    // The app's one updater; nullptr until the application registers it, and
    // again once that updater is gone.
    static SparkleUpdater *shared();
    static void setShared(SparkleUpdater *updater);

    // The delay before the background check (tests shorten it).
    void setBackgroundCheckDelay(std::chrono::milliseconds delay) { m_backgroundCheckDelay = delay; }

Q_SIGNALS:
    void canCheckForUpdatesChanged(bool canCheck);
    // The app should come to the front (the shell raises its windows).
    void activationRequested();
    // A user's check could not run; the text says why, for an alert.
    void updateCheckUnavailable(const QString &message);

private:
    void setCanCheckForUpdates(bool canCheck);
    void runBackgroundCheck();

    std::unique_ptr<UpdaterController> m_updaterController;
    bool m_canCheckForUpdates = false;
    bool m_started = false;
    std::chrono::milliseconds m_backgroundCheckDelay = std::chrono::seconds(2);
};
