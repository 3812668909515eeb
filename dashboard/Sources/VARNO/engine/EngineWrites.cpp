#include "engine/EngineWrites.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <qcoro/qcorosignal.h>

std::shared_ptr<EngineWrites> EngineWrites::create()
{
    return std::shared_ptr<EngineWrites>(new EngineWrites());
}

std::shared_ptr<EngineWrites> EngineWrites::engine()
{
    // Never destroyed: a write may still be under way while the process ends.
    static const auto *shared = new std::shared_ptr<EngineWrites>(create());
    return *shared;
}

EngineWrites::Token EngineWrites::begin()
{
    ++m_count;
    const std::shared_ptr<EngineWrites> self = shared_from_this();
    return Token(nullptr, [self](void *) { self->end(); });
}

void EngineWrites::end()
{
    --m_count;
    // While the application is torn down its pending events are destroyed
    // under the event queue's lock, and with them a task holding a token:
    // nothing may be posted then, and nobody is left to wait.
    if (m_count > 0 || QCoreApplication::closingDown() || !QCoreApplication::instance())
        return;
    // From the event loop: a write that follows at once (the next save of a
    // newer value) begins before any reader looks.
    QMetaObject::invokeMethod(
        this, [this] { Q_EMIT mayBeSettled(); }, Qt::QueuedConnection);
}

QCoro::Task<void> EngineWrites::settled(std::shared_ptr<EngineWrites> writes)
{
    while (writes && writes->count() > 0)
        co_await qCoro(writes.get(), &EngineWrites::mayBeSettled);
}
