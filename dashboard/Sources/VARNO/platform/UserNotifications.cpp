#include "platform/UserNotifications.h"

#include "base/Logging.h"
#include "platform/PlainText.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QMutexLocker>
#include <QVariantMap>

namespace {

QMutex centerMutex;
std::shared_ptr<UserNotificationCenter> currentCenter;
UserNotifications::FallbackHandler fallbackHandler;

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

void setFallback(FallbackHandler handler)
{
    QMutexLocker lock(&centerMutex);
    fallbackHandler = std::move(handler);
}

void deliverToFallback(const UNNotificationRequest &request, const QString &reason)
{
    FallbackHandler handler;
    {
        QMutexLocker lock(&centerMutex);
        handler = fallbackHandler;
    }
    qCWarning(lcVarno).noquote() << "notification not shown by the desktop (" + reason + "):"
                                 << request.content.title + QStringLiteral(" \u2014 ") + request.content.body;
    if (handler)
        handler(request, reason);
}

} // namespace UserNotifications

void DesktopNotificationCenter::requestAuthorization(int, AuthorizationHandler handler)
{
    // The desktop's notification service asks nobody; the user silences apps
    // in the desktop's own settings.
    if (handler)
        handler(true, std::nullopt);
}

DesktopNotificationCenter::DesktopNotificationCenter()
    : DesktopNotificationCenter(QDBusConnection::sessionBus())
{
}

DesktopNotificationCenter::DesktopNotificationCenter(QDBusConnection bus)
    : m_bus(std::move(bus))
{
}

void DesktopNotificationCenter::setOutcomeObserver(Outcome observer)
{
    m_observer = observer ? std::make_shared<Outcome>(std::move(observer)) : nullptr;
}

QString DesktopNotificationCenter::bodyFor(const QString &body, const QStringList &capabilities)
{
    // A server that parses markup in the body says so ("body-markup"); one
    // that does not shows the body as it is written.
    if (!capabilities.contains(QStringLiteral("body-markup")))
        return body;
    return body.toHtmlEscaped();
}

void DesktopNotificationCenter::add(const UNNotificationRequest &request)
{
    const std::shared_ptr<Outcome> observer = m_observer;
    const auto failed = [request, observer](const QString &why) {
        UserNotifications::deliverToFallback(request, why);
        if (observer)
            (*observer)(request, std::nullopt, why);
    };
    if (!m_bus.isConnected()) {
        failed(QStringLiteral("no session bus"));
        return;
    }
    // The body holds names from the library: it is sent as text, escaped for
    // a server that reads markup in it. Which servers do is asked first.
    QDBusMessage capabilities = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                                               QStringLiteral("/org/freedesktop/Notifications"),
                                                               QStringLiteral("org.freedesktop.Notifications"),
                                                               QStringLiteral("GetCapabilities"));
    auto *asking = new QDBusPendingCallWatcher(m_bus.asyncCall(capabilities, replyTimeoutMs));
    QDBusConnection bus = m_bus;
    QObject::connect(asking, &QDBusPendingCallWatcher::finished, asking,
                     [bus, request, observer, failed](QDBusPendingCallWatcher *finished) {
                         finished->deleteLater();
                         const QDBusPendingReply<QStringList> reply = *finished;
                         // No answer (no server, or one that does not say):
                         // escaped, the safe side.
                         const QStringList known = reply.isError() ? QStringList{QStringLiteral("body-markup")}
                                                                   : reply.value();
                         notify(bus, request, bodyFor(request.content.body, known), observer, failed);
                     });
}

void DesktopNotificationCenter::notify(QDBusConnection bus, const UNNotificationRequest &request, const QString &body,
                                       std::shared_ptr<Outcome> observer, std::function<void(const QString &why)> failed)
{
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("org.varno.workshop"));
    hints.insert(QStringLiteral("x-varno-identifier"), request.identifier);
    hints.insert(QStringLiteral("x-varno-thread"), request.content.threadIdentifier);
    hints.insert(QStringLiteral("x-varno-category"), request.content.categoryIdentifier);
    if (request.content.defaultSound)
        hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                                       QStringLiteral("/org/freedesktop/Notifications"),
                                                       QStringLiteral("org.freedesktop.Notifications"),
                                                       QStringLiteral("Notify"));
    call << QStringLiteral("VARNO Workshop") << 0u << QString() << request.content.title << body << QStringList()
         << hints << -1;
    // The reply is the service's id for the notification, or an error (no
    // notification server on the bus, a refusal, no answer in time).
    const QDBusPendingCall pending = bus.asyncCall(call, replyTimeoutMs);
    auto *watcher = new QDBusPendingCallWatcher(pending);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [request, observer, failed](QDBusPendingCallWatcher *finished) {
                         finished->deleteLater();
                         const QDBusPendingReply<uint> reply = *finished;
                         if (reply.isError()) {
                             const QDBusError error = reply.error();
                             failed(PlainText::prefixCharacters(error.name() + QStringLiteral(": ") + error.message(),
                                                                300));
                             return;
                         }
                         if (observer)
                             (*observer)(request, reply.value(), QString());
                     });
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
