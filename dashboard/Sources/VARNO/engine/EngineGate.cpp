#include "engine/EngineGate.h"

#include <QCoreApplication>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>

#include <coroutine>

namespace EngineGate {

namespace {

struct FolderState {
    int running = 0;
    bool verified = false;
    std::exception_ptr failure;
};

QMutex stateMutex;

QHash<QString, FolderState> &states()
{
    static auto *map = new QHash<QString, FolderState>;
    return *map;
}

void announce()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    Notifier *notifier = Notifier::instance();
    QMetaObject::invokeMethod(
        notifier, [notifier] { Q_EMIT notifier->changed(); }, Qt::QueuedConnection);
}

// The next change of any folder's state. Each wait connects once, and the
// first change breaks the connection as it is told: two changes told in one
// turn of the event loop resume a waiting command once, and never one that
// has gone on (and ended) after the first.
struct NextChange {
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> waiting) const
    {
        Notifier *notifier = Notifier::instance();
        QObject::connect(
            notifier, &Notifier::changed, notifier, [waiting] { waiting.resume(); },
            static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::SingleShotConnection));
    }
    void await_resume() const noexcept {}
};

} // namespace

Notifier *Notifier::instance()
{
    static Notifier *notifier = [] {
        auto *n = new Notifier;
        if (QCoreApplication *app = QCoreApplication::instance())
            n->moveToThread(app->thread());
        return n;
    }();
    return notifier;
}

void bootstrapStarted(const QString &engineDir)
{
    {
        QMutexLocker lock(&stateMutex);
        FolderState &state = states()[engineDir];
        ++state.running;
        state.verified = false;
    }
    announce();
}

void bootstrapFinished(const QString &engineDir, std::exception_ptr failure)
{
    {
        QMutexLocker lock(&stateMutex);
        FolderState &state = states()[engineDir];
        state.running = qMax(0, state.running - 1);
        state.failure = failure;
        state.verified = !failure;
    }
    announce();
}

bool isVerified(const QString &engineDir)
{
    QMutexLocker lock(&stateMutex);
    const auto it = states().constFind(engineDir);
    return it != states().cend() && it->verified && it->running == 0;
}

QCoro::Task<void> ready(QString engineDir)
{
    for (;;) {
        std::exception_ptr failure;
        bool running = false;
        {
            QMutexLocker lock(&stateMutex);
            const auto it = states().constFind(engineDir);
            if (it != states().cend()) {
                running = it->running > 0;
                failure = it->failure;
            }
        }
        if (!running) {
            if (failure)
                std::rethrow_exception(failure);
            co_return;
        }
        // Without an event loop on this thread nothing could tell us.
        if (!QCoreApplication::instance() || QThread::currentThread() != QCoreApplication::instance()->thread())
            co_return;
        const NextChange nextChange;
        co_await nextChange;
    }
}

} // namespace EngineGate
