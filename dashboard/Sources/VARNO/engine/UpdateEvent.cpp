#include "engine/UpdateEvent.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QStringList>
#include <QVariant>

#include <cmath>

namespace {

std::optional<QString> stringMember(const QJsonObject &object, QLatin1String key)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

// A JSON number with an integral value that fits 64 bits; anything else
// (a fraction, a string, a Boolean) counts as absent.
std::optional<qint64> integerMember(const QJsonObject &object, QLatin1String key)
{
    const QJsonValue value = object.value(key);
    if (!value.isDouble())
        return std::nullopt;
    const QVariant variant = value.toVariant();
    if (variant.typeId() == QMetaType::LongLong || variant.typeId() == QMetaType::Int)
        return variant.toLongLong();
    const double d = value.toDouble();
    // [-2^63, 2^63): the doubles that convert to qint64 without overflow.
    if (!std::isfinite(d) || std::trunc(d) != d || d < -9223372036854775808.0 || d >= 9223372036854775808.0)
        return std::nullopt;
    return static_cast<qint64>(d);
}

std::optional<bool> boolMember(const QJsonObject &object, QLatin1String key)
{
    const QJsonValue value = object.value(key);
    if (!value.isBool())
        return std::nullopt;
    return value.toBool();
}

std::optional<UpdateEvent::QueuedApp> decodeQueuedApp(const QJsonObject &object)
{
    auto bundleId = stringMember(object, QLatin1String("bundle_id"));
    auto appName = stringMember(object, QLatin1String("app_name"));
    if (!bundleId || !appName)
        return std::nullopt;
    UpdateEvent::QueuedApp app;
    app.bundleId = *bundleId;
    app.appName = *appName;
    app.currentVersion = stringMember(object, QLatin1String("current_version"));
    app.latestVersion = stringMember(object, QLatin1String("latest_version"));
    app.mechanism = stringMember(object, QLatin1String("update_mechanism"));
    return app;
}

QList<UpdateEvent::QueuedApp> decodeQueuedApps(const QJsonObject &object)
{
    QList<UpdateEvent::QueuedApp> apps;
    const QJsonValue value = object.value(QLatin1String("apps"));
    if (!value.isArray())
        return apps;
    const QJsonArray array = value.toArray();
    // One element that is not an object empties the whole list.
    for (const QJsonValue &element : array) {
        if (!element.isObject())
            return {};
    }
    apps.reserve(array.size());
    for (const QJsonValue &element : array) {
        if (auto app = decodeQueuedApp(element.toObject()))
            apps.append(std::move(*app));
    }
    return apps;
}

QString quotedOrNil(const std::optional<QString> &value)
{
    return value ? QStringLiteral("\"%1\"").arg(*value) : QStringLiteral("nil");
}

} // namespace

std::optional<UpdateEvent> UpdateEvent::decode(const QJsonObject &object)
{
    if (object.isEmpty())
        return std::nullopt;
    const auto name = stringMember(object, QLatin1String("event"));
    if (!name)
        return std::nullopt;

    if (*name == QLatin1String("queue_start")) {
        QueueStart event;
        event.count = integerMember(object, QLatin1String("count")).value_or(0);
        event.apps = decodeQueuedApps(object);
        return UpdateEvent(std::move(event));
    }
    if (*name == QLatin1String("app_start")) {
        auto bundleId = stringMember(object, QLatin1String("bundle_id"));
        if (!bundleId)
            return std::nullopt;
        AppStart event;
        event.bundleId = *bundleId;
        event.index = integerMember(object, QLatin1String("index")).value_or(0);
        event.total = integerMember(object, QLatin1String("total")).value_or(0);
        event.status = stringMember(object, QLatin1String("status")).value_or(QStringLiteral("fetching"));
        return UpdateEvent(std::move(event));
    }
    if (*name == QLatin1String("app_done")) {
        auto bundleId = stringMember(object, QLatin1String("bundle_id"));
        if (!bundleId)
            return std::nullopt;
        AppDone event;
        event.bundleId = *bundleId;
        event.success = boolMember(object, QLatin1String("success")).value_or(false);
        event.skipped = boolMember(object, QLatin1String("skipped")).value_or(false);
        event.error = stringMember(object, QLatin1String("error"));
        if (!event.error)
            event.error = stringMember(object, QLatin1String("reason"));
        event.newVersion = stringMember(object, QLatin1String("new_version"));
        event.errorCode = stringMember(object, QLatin1String("error_code"));
        if (!event.errorCode)
            event.errorCode = stringMember(object, QLatin1String("reason_code"));
        return UpdateEvent(std::move(event));
    }
    if (*name == QLatin1String("queue_done")) {
        QueueDone event;
        event.updated = integerMember(object, QLatin1String("updated")).value_or(0);
        event.failed = integerMember(object, QLatin1String("failed")).value_or(0);
        event.skipped = integerMember(object, QLatin1String("skipped")).value_or(0);
        event.reason = stringMember(object, QLatin1String("reason"));
        return UpdateEvent(std::move(event));
    }
    if (*name == QLatin1String("queue_paused"))
        return UpdateEvent(QueuePaused{});
    if (*name == QLatin1String("queue_resumed"))
        return UpdateEvent(QueueResumed{});
    return std::nullopt;
}

QString UpdateEvent::debugText() const
{
    switch (kind()) {
    case Kind::queueStart: {
        const auto &e = std::get<QueueStart>(m_payload);
        QStringList ids;
        for (const auto &app : e.apps)
            ids << app.bundleId;
        return QStringLiteral("queueStart(count: %1, apps: [%2])").arg(e.count).arg(ids.join(QLatin1String(", ")));
    }
    case Kind::appStart: {
        const auto &e = std::get<AppStart>(m_payload);
        return QStringLiteral("appStart(%1, %2/%3, \"%4\")").arg(e.bundleId).arg(e.index).arg(e.total).arg(e.status);
    }
    case Kind::appDone: {
        const auto &e = std::get<AppDone>(m_payload);
        return QStringLiteral("appDone(%1, success: %2, skipped: %3, error: %4, newVersion: %5, errorCode: %6)")
            .arg(e.bundleId, e.success ? QStringLiteral("true") : QStringLiteral("false"),
                 e.skipped ? QStringLiteral("true") : QStringLiteral("false"), quotedOrNil(e.error),
                 quotedOrNil(e.newVersion), quotedOrNil(e.errorCode));
    }
    case Kind::queueDone: {
        const auto &e = std::get<QueueDone>(m_payload);
        return QStringLiteral("queueDone(updated: %1, failed: %2, skipped: %3, reason: %4)")
            .arg(e.updated)
            .arg(e.failed)
            .arg(e.skipped)
            .arg(quotedOrNil(e.reason));
    }
    case Kind::queuePaused:
        return QStringLiteral("queuePaused");
    case Kind::queueResumed:
        return QStringLiteral("queueResumed");
    }
    return QString();
}

UpdateEvent::UpdateEvent()
    : m_payload(QueueStart{})
{
}
