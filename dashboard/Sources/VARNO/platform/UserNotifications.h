#pragma once

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
//   and grants permission without asking, as the desktop does;
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

} // namespace UserNotifications

class DesktopNotificationCenter : public UserNotificationCenter {
public:
    void requestAuthorization(int options, AuthorizationHandler handler) override;
    void add(const UNNotificationRequest &request) override;
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
