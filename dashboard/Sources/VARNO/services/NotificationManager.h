#pragma once

#include "platform/UserNotifications.h"

#include <QString>
#include <QStringList>

// The app's one kind of notification: updates are ready after a background
// scan found newly outdated applications. Nothing happens in a build without a
// bundle identifier.
class NotificationManager {
public:
    static const QString threadIdentifier;   // "org.varno.updates"
    static const QString categoryIdentifier; // "VARNO_UPDATES"

    // Asks once per launch for alerts, sounds and badges; a failed request
    // prints "Notification permission error: <error>" to standard output.
    void requestPermission() const;

    // Posts "updates ready" for `count` applications, naming the first three
    // of `topApps`. Does nothing when count is below 1.
    void notifyUpdates(int count, const QStringList &topApps) const;

    // The request notifyUpdates() posts (exposed for tests and previews).
    static UNNotificationRequest updatesReadyRequest(int count, const QStringList &topApps);

    // "varno-updates-<seconds since 1970>", unique within the process even when
    // the clock has not moved on since the last one.
    static QString nextRequestIdentifier();
};
