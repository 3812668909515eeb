#pragma once

#include <QDBusConnection>
#include <QList>
#include <QMutex>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// Local user notifications. Callers build a request and hand it to the current
// notification centre:
// - DesktopNotificationCenter (the default) posts through the desktop's
//   notification service (org.freedesktop.Notifications on the session bus)
//   and grants permission without asking, as the desktop does. It checks the
//   service's reply: a notification that no service shows (no session bus,
//   no notification server, an error or no answer in time) goes to the
//   fallback, so it is never lost without a word;
// - RecordingNotificationCenter keeps what it was given, for tests.

struct UNNotificationContent {
    QString title;
    QString body;
    QString threadIdentifier;
    QString categoryIdentifier;
    bool defaultSound = false;

    friend bool operator==(const UNNotificationContent &, const UNNotificationContent &) = default;
};

// Delivered at once: this app schedules nothing for later.
struct UNNotificationRequest {
    QString identifier;
    UNNotificationContent content;

    friend bool operator==(const UNNotificationRequest &, const UNNotificationRequest &) = default;
};

enum class UNAuthorizationOption { alert = 1, sound = 2, badge = 4 };

class UserNotificationCenter {
public:
    // granted; the error's description when the request itself failed.
    using AuthorizationHandler = std::function<void(bool granted, std::optional<QString> error)>;

    virtual ~UserNotificationCenter() = default;
    // `options` is a set of UNAuthorizationOption bits. The handler may run on
    // another thread.
    virtual void requestAuthorization(int options, AuthorizationHandler handler) = 0;
    // Hands the request over and returns at once; delivery failures are not reported.
    virtual void add(const UNNotificationRequest &request) = 0;
};

namespace UserNotifications {

std::shared_ptr<UserNotificationCenter> current();
// Replaces the centre; nullptr restores the desktop's.
void setCurrent(std::shared_ptr<UserNotificationCenter> center);

// Where a notification goes that the desktop could not show, with the reason.
// The app's shell sets the tray's message when it has a tray; without a
// handler (or once it is reset with nullptr) the notification is logged.
using FallbackHandler = std::function<void(const UNNotificationRequest &request, const QString &reason)>;
void setFallback(FallbackHandler handler);
// Hands the request to the fallback (or the log). Runs on the caller's thread.
void deliverToFallback(const UNNotificationRequest &request, const QString &reason);

} // namespace UserNotifications

class DesktopNotificationCenter : public UserNotificationCenter {
public:
    // How long the notification service may take to answer.
    static constexpr int replyTimeoutMs = 10000;

    // The session bus by default; tests give a private bus.
    DesktopNotificationCenter();
    explicit DesktopNotificationCenter(QDBusConnection bus);

    void requestAuthorization(int options, AuthorizationHandler handler) override;
    // Asks the server's capabilities, then sends Notify, and returns at once;
    // the replies are handled on the calling thread's event loop (the GUI
    // thread's in the app).
    void add(const UNNotificationRequest &request) override;

    // Told the outcome of each add(): the service's id for the notification,
    // or nothing and why it was not shown (tests).
    using Outcome = std::function<void(const UNNotificationRequest &request, std::optional<uint> id, const QString &error)>;
    void setOutcomeObserver(Outcome observer);

    // The body as sent to a server with these capabilities: escaped where
    // the server reads markup in it ("body-markup"), else as it is.
    static QString bodyFor(const QString &body, const QStringList &capabilities);

private:
    static void notify(QDBusConnection bus, const UNNotificationRequest &request, const QString &body,
                       std::shared_ptr<Outcome> observer, std::function<void(const QString &why)> failed);

    QDBusConnection m_bus;
    std::shared_ptr<Outcome> m_observer;
};

class RecordingNotificationCenter : public UserNotificationCenter {
public:
    void requestAuthorization(int options, AuthorizationHandler handler) override;
    void add(const UNNotificationRequest &request) override;

    // The next authorisation requests answer with this error.
    void setAuthorizationError(std::optional<QString> error);
    QList<UNNotificationRequest> requests() const;
    QList<int> authorizationRequests() const;

private:
    mutable QMutex m_mutex;
    QList<UNNotificationRequest> m_requests;
    QList<int> m_authorizationRequests;
    std::optional<QString> m_authorizationError;
};
