#pragma once

#include "platform/ServiceManagement.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <qcoro/qcorotask.h>

#include <exception>
#include <functional>
#include <optional>

class AppModel;
class SparkleUpdater;

// What the launch sequence and the URL handler ask of the Mac, the engine and
// the self-updater. A function left empty is the app's own (see
// AppDelegate's constructor); tests put recording fakes in.
struct LaunchEnvironment {
    // The application icon.
    std::function<std::optional<QImage>(const QString &name)> image;
    std::function<void(const QImage &icon)> setApplicationIcon;
    // The background-scan agent; may throw. Runs on a worker thread.
    std::function<void()> installLaunchAgent;
    // The login item: the user's wish, the item's status, and re-registering.
    std::function<bool()> launchAtLoginPreference;
    std::function<SMAppService::Status()> loginItemStatus;
    std::function<void(bool enabled)> setLoginItem;
    // The self-updater.
    std::function<void()> startUpdater;
    std::function<bool()> canCheckForUpdates;
    std::function<void()> checkForUpdates;
    // The engine: installs and verifies it off the GUI thread and throws when
    // it cannot be made ready; the failure then goes to bootstrap.err.
    std::function<QCoro::Task<void>()> bootstrapEngine;
    std::function<void(std::exception_ptr error)> logBootstrapFailure;
    // The library.
    std::function<QCoro::Task<void>()> load;
    std::function<QCoro::Task<void>()> scan;
    std::function<QCoro::Task<void>()> checkForBackgroundScanResults;
    // Asks for permission to post notifications (only a build with a bundle
    // identifier asks).
    std::function<void()> requestNotificationPermission;
    // Brings the app to the front.
    std::function<void()> activate;
};

// The application delegate: owns the self-updater, runs the launch sequence
// once the application has started, answers "varno:" URLs, and gives the
// Workshop window its two hooks (onboarding end, return to the app).
class AppDelegate : public QObject {
    Q_OBJECT

public:
    // The model defaults to sharedModel(); empty functions of `environment`
    // are the app's own.
    explicit AppDelegate(AppModel *model = nullptr, LaunchEnvironment environment = {}, QObject *parent = nullptr);
    ~AppDelegate() override;

    // The one model of the process, made on first use by whoever asks first.
    static AppModel *sharedModel();

    AppModel *model() const;
    SparkleUpdater *sparkleUpdater() const { return m_sparkleUpdater; }

    // The launch sequence: application icon, login item repair, self-updater
    // (unless onboarding is showing), then the launch task, which this
    // returns without awaiting.
    void applicationDidFinishLaunching();

    // The launch task: preparing while the engine is installed, then the
    // bootstrap failure as the model's error, or the background-scan agent,
    // load and (for a library that
    // is empty and was never scanned) a first scan; last the notification
    // permission. Emits launchTaskFinished() at its end.
    QCoro::Task<void> runLaunchTask();

    // Opens "varno:" URLs: each whose scheme is "varno" exactly and whose host
    // (in any case) is "check-for-updates" or "update" brings the app forward
    // and starts a user-initiated update check, when the updater can check.
    // Everything else is ignored without a word.
    void openURLs(const QStringList &urls);
    // The URL rule on its own: only the scheme and the host are read.
    static bool isUpdateCheckURL(const QString &url);

    // The Workshop window's hooks, bound to that window's life: each change
    // of showOnboarding to false starts the self-updater, and the app's
    // return to the front re-reads the library after 0.75 s of quiet.
    // Returns the object that holds them (a child of `window`).
    QObject *attachWorkshopWindow(QObject *window);

    // The launch load has answered (the library was read, or could not be:
    // the bootstrap failed or the engine's answer was an error). Until then
    // there is no library to compare a background scan's results with, so
    // the activation check does nothing.
    bool launchLoadAnswered() const { return m_launchLoadAnswered; }

    static constexpr int activationDebounceMs = 750;

    static const QStringList applicationIconNames; // "AppIcon", "head_icon_200x200", "head_icon_100x100"

Q_SIGNALS:
    // Once per launch, when launchLoadAnswered() turns true (before a first
    // scan starts).
    void launchLoadFinished();
    void launchTaskFinished();

private:
    QCoro::Task<std::optional<QString>> bootstrapFailureText();
    void markLaunchLoadAnswered();

    QPointer<AppModel> m_model;
    SparkleUpdater *m_sparkleUpdater = nullptr;
    LaunchEnvironment m_environment;
    bool m_launchLoadAnswered = false;
};

// The return-to-the-app check of one Workshop window: every activation
// restarts a 0.75 s timer; when it fires, the library is re-read once (the
// delegate drops checks that come before the launch load has answered).
class ActivationCheck : public QObject {
    Q_OBJECT

public:
    ActivationCheck(std::function<void()> check, QObject *parent);

    // The app became the active one.
    void applicationDidBecomeActive();
    bool isPending() const { return m_debounce.isActive(); }
    int interval() const { return m_debounce.interval(); }

private:
    QTimer m_debounce;
    std::function<void()> m_check;
};
