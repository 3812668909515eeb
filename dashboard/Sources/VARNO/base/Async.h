#pragma once

#include <QFuture>
#include <QFutureWatcher>
#include <QObject>
#include <QPointer>
#include <QSemaphore>
#include <QString>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>

#include <qcoro/qcorotask.h>

#include <coroutine>
#include <exception>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

// The one way work leaves the calling thread, and the one way a coroutine is
// let run on without anyone awaiting it.
//
// Off the thread:
// - offThread(context, fn) runs fn() on the global pool: short work that
//   keeps a core busy (decoding an answer, joining output, writing a file).
// - offThread(context, pool, fn) runs it on another pool: Async::toolPool()
//   for anything that waits on an external tool or the service manager (up to
//   minutes), so that it never holds a thread the decoding needs; or a pool
//   of a caller's own made with Async::newPool() (the bootstrap's one thread,
//   the serial queues).
//   co_await the result in a QCoro::Task coroutine: it yields what fn
//   returned, or throws what fn threw, on the awaiting coroutine's thread.
//   `context` is the QObject the continuation belongs to, or nullptr for
//   none. When the context has been destroyed by the time fn ends, the
//   continuation is dropped: the awaiting coroutine ends right there (its
//   locals are destroyed, nothing after the co_await runs). A coroutine that
//   awaits such a coroutine is not resumed either, so a coroutine that others
//   await passes nullptr and guards its object with a QPointer instead.
//   Not awaited, the work still runs to its end.
// - blockOn(pool, fn) runs fn() on the pool and blocks the calling thread
//   until it ends (for code that must answer at once and is not on the GUI
//   thread, or a tool call from a plain function). Called on one of the
//   pool's own threads it runs fn() right there. It never runs fn() on
//   another pool's thread, and never spins an event loop of the caller's.
// - then(work, callback) calls callback(result) on the calling thread when
//   the work ends, unless the work's context has gone by then: for code that
//   is not a coroutine.
//
// Let run on:
// - detach(task) lets a started coroutine (or a piece of work) run to its end
//   with nobody awaiting it. A QCoro task starts at once; whatever it throws
//   is dropped with it, so a detached coroutine catches its own failures.
//
// Each piece of work may carry a name (Async::named) that a test observer
// sees on the thread that does it.
namespace Async {

// Long blocking calls: external tools, the service manager, the probes and
// the diagnostics report (each up to minutes). Apart from the global pool.
QThreadPool *toolPool();

// A pool of a caller's own, alive until the process ends.
QThreadPool *newPool(const QString &name, int maxThreadCount, int expiryTimeoutMs = 30000);

// Called with the work's name on the thread that does it (tests); an empty
// function removes it.
void setObserverForTesting(std::function<void(const char *what)> observer);
void notify(const char *what);

// fn(args...) as a piece of work named `what`.
template<typename Fn, typename... Args>
auto named(const char *what, Fn fn, Args... args)
{
    return [what, fn = std::move(fn), ... args = std::move(args)]() mutable {
        notify(what);
        return fn(std::move(args)...);
    };
}

// A piece of work handed to a pool: co_await it, pass it to then(), or let it
// go (detach) — it runs to its end in any case.
template<typename T>
class Work {
public:
    Work(QFuture<T> future, QObject *context)
        : m_future(std::move(future))
        , m_context(context)
        , m_guarded(context != nullptr)
    {
    }

    bool contextAlive() const { return !m_guarded || m_context; }
    const QFuture<T> &future() const { return m_future; }

    // What co_await uses. Only a QCoro::Task coroutine may await it: dropping
    // the continuation follows QCoro's rule for who destroys a frame.
    class Awaiter {
    public:
        explicit Awaiter(const Work &work)
            : m_work(work)
        {
        }

        bool await_ready() const { return m_work.m_future.isFinished() && m_work.contextAlive(); }

        template<typename Result>
        void await_suspend(std::coroutine_handle<QCoro::detail::TaskPromise<Result>> awaiting)
        {
            auto *watcher = new QFutureWatcher<T>;
            QObject::connect(watcher, &QFutureWatcherBase::finished, watcher,
                             [watcher, awaiting, context = m_work.m_context, guarded = m_work.m_guarded] {
                                 watcher->deleteLater();
                                 if (!guarded || context) {
                                     awaiting.resume();
                                     return;
                                 }
                                 // The context is gone: end the awaiting
                                 // coroutine here. Whoever of it and its task
                                 // handle lets go last destroys the frame
                                 // (QCoro's own rule at the final suspend), so
                                 // a detached coroutine goes now.
                                 if (awaiting.promise().setDestroyHandle())
                                     awaiting.destroy();
                             });
            watcher->setFuture(m_work.m_future);
        }

        T await_resume()
        {
            if constexpr (std::is_void_v<T>) {
                m_work.m_future.waitForFinished(); // finished already; rethrows what fn threw
            } else {
                return m_work.m_future.result();
            }
        }

    private:
        Work m_work;
    };

    Awaiter operator co_await() const { return Awaiter(*this); }

private:
    QFuture<T> m_future;
    QPointer<QObject> m_context;
    bool m_guarded;
};

template<typename Fn>
auto offThread(QObject *context, QThreadPool *pool, Fn fn)
{
    using Result = std::invoke_result_t<Fn &>;
    return Work<Result>(QtConcurrent::run(pool, std::move(fn)), context);
}

template<typename Fn>
auto offThread(QObject *context, Fn fn)
{
    return offThread(context, QThreadPool::globalInstance(), std::move(fn));
}

template<typename Fn>
auto blockOn(QThreadPool *pool, Fn fn) -> std::invoke_result_t<Fn &>
{
    using Result = std::invoke_result_t<Fn &>;
    if (pool->contains(QThread::currentThread()))
        return fn();
    // Not QFuture::waitForFinished(): it may take work that has not started
    // yet off the pool and run it on the waiting thread.
    QSemaphore done;
    std::exception_ptr error;
    std::conditional_t<std::is_void_v<Result>, bool, std::optional<Result>> result{};
    pool->start([&] {
        try {
            if constexpr (std::is_void_v<Result>)
                fn();
            else
                result.emplace(fn());
        } catch (...) {
            error = std::current_exception();
        }
        done.release();
    });
    done.acquire();
    if (error)
        std::rethrow_exception(error);
    if constexpr (!std::is_void_v<Result>)
        return std::move(*result);
}

template<typename T>
void detach(QCoro::Task<T> task)
{
    // A QCoro task runs from its call on; its frame frees itself at the end
    // once the handle is let go, which is what leaving this scope does.
    static_cast<void>(task);
}

template<typename T>
void detach(Work<T> work)
{
    static_cast<void>(work);
}

namespace Detail {

template<typename T, typename Callback>
QCoro::Task<void> callWhenDone(Work<T> work, Callback callback)
{
    if constexpr (std::is_void_v<T>) {
        co_await work;
        callback();
    } else {
        T result = co_await work;
        callback(std::move(result));
    }
}

} // namespace Detail

template<typename T, typename Callback>
void then(Work<T> work, Callback callback)
{
    detach(Detail::callWhenDone(std::move(work), std::move(callback)));
}

} // namespace Async
