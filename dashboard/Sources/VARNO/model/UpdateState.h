#pragma once

#include <QHash>
#include <QMap>
#include <QMetaType>
#include <QString>

// The state of one application within an update, as the model keeps it in its
// map from bundle id to state. An application without an entry reads as idle;
// removing its entry is how it returns to idle.
class UpdateState {
public:
    enum class Kind {
        queued,     // waiting in the queue: position (1-based) of total
        running,    // being worked on: the status text shown
        skipped,    // the engine skipped it, or the user deferred it: the reason
        failed,     // the update failed: the message
        quitDenied, // the application would not quit: the message
        idle,       // nothing is happening
        done,       // the update landed
    };

    // idle
    UpdateState() = default;

    static UpdateState queued(qint64 position, qint64 total);
    static UpdateState running(const QString &status);
    static UpdateState skipped(const QString &reason);
    static UpdateState failed(const QString &message);
    static UpdateState quitDenied(const QString &message);
    static UpdateState idle() { return UpdateState(); }
    static UpdateState done();

    Kind kind() const { return m_kind; }
    // queued only (0 otherwise)
    qint64 position() const { return m_position; }
    qint64 total() const { return m_total; }
    // The status of running, the reason of skipped, the message of failed and
    // quitDenied; empty for the other kinds.
    QString text() const { return m_text; }

    // skipped, failed, quitDenied and done end an update; queued, running and
    // idle do not.
    bool isFinal() const;

    // Same kind and equal payload.
    bool operator==(const UpdateState &other) const;
    bool operator!=(const UpdateState &other) const { return !(*this == other); }

    // The state of one application in a progress map: idle when it has no entry.
    static UpdateState of(const QHash<QString, UpdateState> &progress, const QString &bundleId)
    {
        return progress.value(bundleId, UpdateState());
    }
    static UpdateState of(const QMap<QString, UpdateState> &progress, const QString &bundleId)
    {
        return progress.value(bundleId, UpdateState());
    }

    // For logs and test failure messages, e.g. queued(1/3), running("Updating…").
    QString debugText() const;

private:
    UpdateState(Kind kind, qint64 position, qint64 total, QString text);

    Kind m_kind = Kind::idle;
    qint64 m_position = 0;
    qint64 m_total = 0;
    QString m_text;
};

Q_DECLARE_METATYPE(UpdateState)
