#pragma once

#include <QList>
#include <QMutex>

#include <functional>
#include <memory>

// The cancellation handle of one engine call. Shared by reference
// (std::shared_ptr); safe to use from any thread: its state is guarded, and
// handlers run on the thread that cancels (the runner forwards the request to
// its child's own thread).
class VARNOCancellationToken {
public:
    using Handler = std::function<void()>;

    static std::shared_ptr<VARNOCancellationToken> create() { return std::make_shared<VARNOCancellationToken>(); }

    bool isCancelled() const;

    // Marks the token cancelled (once) and calls every registered handler.
    void cancel();

    // Registers a handler for cancel(). On a token that is already cancelled
    // the handler is not kept but called at once. Handlers are never removed.
    void onCancel(Handler handler);

    // How many handlers are registered (for tests and diagnostics).
    qsizetype handlerCount() const;

private:
    mutable QMutex m_mutex;
    bool m_isCancelled = false;
    QList<Handler> m_handlers;
};
