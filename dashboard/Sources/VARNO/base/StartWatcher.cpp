#include "base/StartWatcher.h"

#include <qcoro/qcorosignal.h>

StartWatcher::StartWatcher(QProcess *process)
{
    connect(process, &QProcess::stateChanged, this, [this](QProcess::ProcessState state) {
        if (state != QProcess::Starting)
            Q_EMIT settledSignal();
    });
}

QCoro::Task<void> StartWatcher::settled(QProcess *process)
{
    StartWatcher watcher(process);
    if (process->state() == QProcess::Starting)
        co_await qCoro(&watcher, &StartWatcher::settledSignal);
}
