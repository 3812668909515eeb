#include "platform/UserNotifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QMutexLocker>
#include <QVariantMap>

namespace {

QMutex centerMutex;
std::shared_ptr<UserNotificationCenter> currentCenter;

} // namespace

namespace UserNotifications {

std::shared_ptr<UserNotificationCenter> current()
{
    QMutexLocker lock(&centerMutex);
    if (!currentCenter)
        currentCenter = std::make_shared<DesktopNotificationCenter>();
    return currentCenter;
}

void setCurrent(std::shared_ptr<UserNotificationCenter> center)
{
    QMutexLocker lock(&centerMutex);
    currentCenter = std::move(center);
}

} // namespace UserNotifications

void DesktopNotificationCenter::requestAuthorization(int, AuthorizationHandler handler)
{
    // The desktop's notification service asks nobody; the user silences apps
    // in the desktop's own settings.
    if (handler)
        handler(true, std::nullopt);
}

void DesktopNotificationCenter::add(const UNNotificationRequest &request)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("org.varno.workshop"));
    hints.insert(QStringLiteral("x-varno-identifier"), request.identifier);
    hints.insert(QStringLiteral("x-varno-thread"), request.content.threadIdentifier);
    hints.insert(QStringLiteral("x-varno-category"), request.content.categoryIdentifier);
    if (request.content.defaultSound)
        hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << QStringLiteral("VARNO Workshop") << 0u << QString() << request.content.title << request.content.body
         << QStringList() << hints << -1;
    // Fire and forget: the reply (the desktop's own id) is of no use here.
    bus.send(call);
}

void RecordingNotificationCenter::requestAuthorization(int options, AuthorizationHandler handler)
{
    std::optional<QString> error;
    {
        QMutexLocker lock(&m_mutex);
        m_authorizationRequests.append(options);
        error = m_authorizationError;
    }
    if (handler)
        handler(!error, error);
}

void RecordingNotificationCenter::add(const UNNotificationRequest &request)
{
    QMutexLocker lock(&m_mutex);
    m_requests.append(request);
}

void RecordingNotificationCenter::setAuthorizationError(std::optional<QString> error)
{
    QMutexLocker lock(&m_mutex);
    m_authorizationError = std::move(error);
}

QList<UNNotificationRequest> RecordingNotificationCenter::requests() const
{
    QMutexLocker lock(&m_mutex);
    return m_requests;
}

QList<int> RecordingNotificationCenter::authorizationRequests() const
{
    QMutexLocker lock(&m_mutex);
    return m_authorizationRequests;
}
