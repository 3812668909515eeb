#pragma once

#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QString>

#include <optional>
#include <variant>

// One event of a streamed update run, decoded from one line of the engine's
// standard error.
class UpdateEvent {
public:
    // One application announced by queue_start.
    struct QueuedApp {
        QString bundleId;
        QString appName;
        std::optional<QString> currentVersion;
        std::optional<QString> latestVersion;
        std::optional<QString> mechanism;

        bool operator==(const QueuedApp &) const = default;
    };

    struct QueueStart {
        qint64 count = 0;
        QList<QueuedApp> apps;
        bool operator==(const QueueStart &) const = default;
    };

    struct AppStart {
        QString bundleId;
        qint64 index = 0;
        qint64 total = 0;
        QString status;
        bool operator==(const AppStart &) const = default;
    };

    struct AppDone {
        QString bundleId;
        bool success = false;
        std::optional<QString> error;
        std::optional<QString> newVersion;
        bool skipped = false;
        std::optional<QString> errorCode;
        bool operator==(const AppDone &) const = default;
    };

    struct QueueDone {
        qint64 updated = 0;
        qint64 failed = 0;
        qint64 skipped = 0;
        std::optional<QString> reason;
        bool operator==(const QueueDone &) const = default;
    };

    struct QueuePaused {
        bool operator==(const QueuePaused &) const = default;
    };

    struct QueueResumed {
        bool operator==(const QueueResumed &) const = default;
    };

    enum class Kind { queueStart, appStart, appDone, queueDone, queuePaused, queueResumed };

    using Payload = std::variant<QueueStart, AppStart, AppDone, QueueDone, QueuePaused, QueueResumed>;

    UpdateEvent(); // queueStart with no apps
    UpdateEvent(QueueStart e)
        : m_payload(std::move(e))
    {
    }
    UpdateEvent(AppStart e)
        : m_payload(std::move(e))
    {
    }
    UpdateEvent(AppDone e)
        : m_payload(std::move(e))
    {
    }
    UpdateEvent(QueueDone e)
        : m_payload(std::move(e))
    {
    }
    UpdateEvent(QueuePaused e)
        : m_payload(e)
    {
    }
    UpdateEvent(QueueResumed e)
        : m_payload(e)
    {
    }

    Kind kind() const { return static_cast<Kind>(m_payload.index()); }
    const Payload &payload() const { return m_payload; }

    // The payload when the event is of that case, else nullptr:
    //     if (const auto *start = event.as<UpdateEvent::AppStart>()) ...
    template<typename T>
    const T *as() const
    {
        return std::get_if<T>(&m_payload);
    }

    bool operator==(const UpdateEvent &) const = default;

    // Decodes one JSON object of the stream. Nothing when the object is not an
    // event: no string member "event", an unknown event name (names are
    // case-sensitive), or a required bundle_id that is absent or not a string.
    // Members of the wrong JSON type count as absent and take their defaults.
    static std::optional<UpdateEvent> decode(const QJsonObject &object);

    // For logs and test failure messages.
    QString debugText() const;

private:
    Payload m_payload;
};

Q_DECLARE_METATYPE(UpdateEvent)
