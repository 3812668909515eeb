#pragma once

#include <QObject>
#include <QProcess>

#include <qcoro/qcorotask.h>

// Relays the end of a child's start (running, or failed to start) as a
// public signal: QProcess's own stateChanged and started are private signals,
// which coroutine signal awaiting cannot take.
class StartWatcher : public QObject {
    Q_OBJECT

public:
    explicit StartWatcher(QProcess *process);

    // Returns once the started child runs or has failed to start, without
    // blocking the thread's event loop.
    static QCoro::Task<void> settled(QProcess *process);

Q_SIGNALS:
    void settledSignal();
};
