#include "services/NotificationManager.h"

#include "platform/Clock.h"
#include "platform/ConsoleOut.h"
#include "platform/MainBundle.h"
#include "platform/PlainText.h"

#include <QLocale>
#include <QMutex>
#include <QMutexLocker>

#include <limits>

namespace {

bool hasBundleIdentifier()
{
    const auto identifier = MainBundle::infoString(QStringLiteral("CFBundleIdentifier"));
    return identifier && !identifier->isEmpty();
}

// Seconds as a double in the shortest form that reads back as the same value,
// always with a fractional part ("1765368000.0", "1765368000.25").
QString shortestSeconds(double seconds)
{
    QString text = QString::number(seconds, 'f', QLocale::FloatingPointShortest);
    if (!text.contains(QLatin1Char('.')))
        text += QStringLiteral(".0");
    return text;
}

} // namespace

const QString NotificationManager::threadIdentifier = QStringLiteral("org.varno.updates");
const QString NotificationManager::categoryIdentifier = QStringLiteral("VARNO_UPDATES");

void NotificationManager::requestPermission() const
{
    if (!hasBundleIdentifier())
        return;
    const int options = static_cast<int>(UNAuthorizationOption::alert) | static_cast<int>(UNAuthorizationOption::sound)
        | static_cast<int>(UNAuthorizationOption::badge);
    UserNotifications::current()->requestAuthorization(options, [](bool, std::optional<QString> error) {
        if (error)
            ConsoleOut::writeLine(QStringLiteral("Notification permission error: ") + *error);
    });
}

void NotificationManager::notifyUpdates(int count, const QStringList &topApps) const
{
    if (count < 1)
        return;
    if (!hasBundleIdentifier())
        return;
    UserNotifications::current()->add(updatesReadyRequest(count, topApps));
}

UNNotificationRequest NotificationManager::updatesReadyRequest(int count, const QStringList &topApps)
{
    QStringList shown = topApps.mid(0, 3);
    for (QString &name : shown)
        name = PlainText::forField(name);
    // "and N more" counts the applications not named, so a short list of
    // names never claims fewer than are left out.
    const int notShown = count - static_cast<int>(shown.size());
    const QString tail = notShown > 0 ? QStringLiteral(" and %1 more").arg(notShown) : QString();

    UNNotificationRequest request;
    request.identifier = nextRequestIdentifier();
    request.content.title = count == 1 ? QStringLiteral("VARNO \u2014 1 update ready")
                                       : QStringLiteral("VARNO \u2014 %1 updates ready").arg(count);
    request.content.body = QStringLiteral("Brusk is standing by. ") + shown.join(QStringLiteral(", ")) + tail
        + QLatin1Char('.');
    request.content.defaultSound = true;
    request.content.threadIdentifier = threadIdentifier;
    request.content.categoryIdentifier = categoryIdentifier;
    return request;
}

QString NotificationManager::nextRequestIdentifier()
{
    static QMutex mutex;
    static qint64 lastMs = std::numeric_limits<qint64>::min();
    QMutexLocker lock(&mutex);
    qint64 ms = Clock::now().toMSecsSinceEpoch();
    // The clock counts milliseconds: two notices within one would share an
    // identifier and the second would replace the first.
    if (ms <= lastMs)
        ms = lastMs + 1;
    lastMs = ms;
    return QStringLiteral("varno-updates-") + shortestSeconds(static_cast<double>(ms) / 1000.0);
}
