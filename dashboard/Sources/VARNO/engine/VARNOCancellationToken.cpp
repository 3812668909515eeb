#include "engine/VARNOCancellationToken.h"

#include <QMutexLocker>

bool VARNOCancellationToken::isCancelled() const
{
    QMutexLocker lock(&m_mutex);
    return m_isCancelled;
}

void VARNOCancellationToken::cancel()
{
    QList<Handler> handlers;
    {
        QMutexLocker lock(&m_mutex);
        if (m_isCancelled)
            return;
        m_isCancelled = true;
        handlers = m_handlers;
    }
    // Outside the lock: a handler may look at the token again.
    for (const Handler &handler : std::as_const(handlers)) {
        if (handler)
            handler();
    }
}

void VARNOCancellationToken::onCancel(Handler handler)
{
    {
        QMutexLocker lock(&m_mutex);
        if (!m_isCancelled) {
            m_handlers.append(std::move(handler));
            return;
        }
    }
    if (handler)
        handler();
}

qsizetype VARNOCancellationToken::handlerCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_handlers.size();
}
