#include "TestRegistry.h"
#include "TestSupport.h"

#include "base/Async.h"

#include <QException>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QSemaphore>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <memory>
#include <stdexcept>

// The off-thread vocabulary itself: where work runs, what becomes of the
// awaiting coroutine when its context goes, and that a detached task ends.

namespace {

// Records that the coroutine frame holding it was destroyed.
struct FrameProbe {
    explicit FrameProbe(std::shared_ptr<bool> destroyed)
        : m_destroyed(std::move(destroyed))
    {
    }
    FrameProbe(const FrameProbe &) = delete;
    FrameProbe &operator=(const FrameProbe &) = delete;
    ~FrameProbe() { *m_destroyed = true; }

private:
    std::shared_ptr<bool> m_destroyed;
};

struct Outcome {
    std::shared_ptr<bool> resumed = std::make_shared<bool>(false);
    std::shared_ptr<bool> frameGone = std::make_shared<bool>(false);
    std::shared_ptr<int> value = std::make_shared<int>(0);
};

// Awaits work that waits for `gate`, with `context` as the continuation's
// owner.
QCoro::Task<void> awaitGated(QObject *context, std::shared_ptr<QSemaphore> gate, Outcome outcome)
{
    const FrameProbe probe(outcome.frameGone);
    Async::Work<int> work = Async::offThread(context, [gate] {
        gate->acquire();
        return 42;
    });
    const int value = co_await work;
    *outcome.value = value;
    *outcome.resumed = true;
}

QCoro::Task<QThread *> threadOfWork(QThreadPool *pool)
{
    Async::Work<QThread *> work = Async::offThread(nullptr, pool, [] { return QThread::currentThread(); });
    QThread *const thread = co_await work;
    co_return thread;
}

QCoro::Task<int> failingWork()
{
    Async::Work<int> work = Async::offThread(nullptr, []() -> int { throw std::runtime_error("broken"); });
    const int value = co_await work;
    co_return value;
}

// Ends once the gate opens and the work behind it has answered.
QCoro::Task<void> twoSteps(std::shared_ptr<QSemaphore> gate, std::shared_ptr<int> steps)
{
    ++*steps;
    Async::Work<void> first = Async::offThread(nullptr, [gate] { gate->acquire(); });
    co_await first;
    ++*steps;
    Async::Work<void> second = Async::offThread(nullptr, [] {});
    co_await second;
    ++*steps;
}

} // namespace

class TestAsync : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void workRunsOffTheCallingThreadOnItsPool_data()
    {
        QTest::addColumn<QThreadPool *>("pool");
        QTest::newRow("global pool") << QThreadPool::globalInstance();
        QTest::newRow("tool pool") << Async::toolPool();
    }

    void workRunsOffTheCallingThreadOnItsPool()
    {
        QFETCH(QThreadPool *, pool);
        QThread *const thread = VarnoTest::await(threadOfWork(pool));
        QVERIFY(thread != QThread::currentThread());
        QVERIFY(pool->contains(thread));
    }

    void toolPoolIsNotTheGlobalPool()
    {
        QVERIFY(Async::toolPool() != QThreadPool::globalInstance());
        QThread *const toolThread = VarnoTest::await(threadOfWork(Async::toolPool()));
        QVERIFY(!QThreadPool::globalInstance()->contains(toolThread));
    }

    // As from any QFuture: wrapped in QUnhandledException, which holds it.
    void whatTheWorkThrowsReachesTheAwaiter()
    {
        try {
            VarnoTest::await(failingWork());
            QFAIL("nothing was thrown");
        } catch (const QUnhandledException &wrapped) {
            QVERIFY(wrapped.exception());
            QVERIFY_THROWS_EXCEPTION(std::runtime_error, std::rethrow_exception(wrapped.exception()));
        }
    }

    // With its context alive the coroutine goes on with the work's value;
    // with the context gone it ends at the co_await: nothing after it runs
    // and its frame (with its locals) is destroyed.
    void continuationFollowsTheContext_data()
    {
        QTest::addColumn<bool>("contextDies");
        QTest::addColumn<bool>("withContext");
        QTest::newRow("context alive") << false << true;
        QTest::newRow("context destroyed") << true << true;
        QTest::newRow("no context") << false << false;
    }

    void continuationFollowsTheContext()
    {
        QFETCH(bool, contextDies);
        QFETCH(bool, withContext);
        auto context = std::make_unique<QObject>();
        auto gate = std::make_shared<QSemaphore>();
        const Outcome outcome;
        Async::detach(awaitGated(withContext ? context.get() : nullptr, gate, outcome));
        if (contextDies)
            context.reset();
        gate->release();
        QTRY_VERIFY_WITH_TIMEOUT(*outcome.frameGone, 30000);
        QCOMPARE(*outcome.resumed, !contextDies);
        QCOMPARE(*outcome.value, contextDies ? 0 : 42);
    }

    // A coroutine whose task handle is still held when its context goes is
    // not resumed; its frame goes once the handle is let go, whichever of
    // the two comes first.
    void heldTaskOfADeadContextGoesWithItsHandle()
    {
        auto context = std::make_unique<QObject>();
        auto gate = std::make_shared<QSemaphore>();
        const Outcome outcome;
        std::optional<QCoro::Task<void>> task(awaitGated(context.get(), gate, outcome));
        context.reset();
        gate->release();
        QVERIFY(!*outcome.frameGone);
        task.reset();
        QTRY_VERIFY_WITH_TIMEOUT(*outcome.frameGone, 30000);
        QVERIFY(!*outcome.resumed);
    }

    void thenCallsBackOnlyWhileTheContextLives_data()
    {
        QTest::addColumn<bool>("contextDies");
        QTest::newRow("context alive") << false;
        QTest::newRow("context destroyed") << true;
    }

    void thenCallsBackOnlyWhileTheContextLives()
    {
        QFETCH(bool, contextDies);
        auto context = std::make_unique<QObject>();
        auto gate = std::make_shared<QSemaphore>();
        auto called = std::make_shared<int>(0);
        QThread *callbackThread = nullptr;
        Async::Work<int> work = Async::offThread(context.get(), [gate] {
            gate->acquire();
            return 7;
        });
        const QFuture<int> future = work.future();
        Async::then(std::move(work), [called, &callbackThread](int value) {
            *called = value;
            callbackThread = QThread::currentThread();
        });
        if (contextDies)
            context.reset();
        gate->release();
        if (contextDies) {
            // The work posts its end to the watcher before its thread is
            // free; the callback would come with that event.
            QTRY_VERIFY_WITH_TIMEOUT(future.isFinished() && QThreadPool::globalInstance()->activeThreadCount() == 0,
                                     30000);
            QCoreApplication::sendPostedEvents();
            QCOMPARE(*called, 0);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(*called, 7, 30000);
            QCOMPARE(callbackThread, QThread::currentThread());
        }
    }

    void detachedTaskRunsToItsEnd()
    {
        auto gate = std::make_shared<QSemaphore>();
        auto steps = std::make_shared<int>(0);
        Async::detach(twoSteps(gate, steps));
        QCOMPARE(*steps, 1);
        gate->release();
        QTRY_COMPARE_WITH_TIMEOUT(*steps, 3, 30000);
    }

    // Blocking hand-off: from elsewhere it runs on the pool; on one of the
    // pool's threads it runs right there (a pool of one thread would
    // otherwise wait for itself).
    void blockOnRunsOnThePoolAndInlineOnItsOwnThreads()
    {
        QThreadPool *const pool = Async::newPool(QStringLiteral("test.one-thread"), 1);
        QThread *const outer = Async::blockOn(pool, [] { return QThread::currentThread(); });
        QVERIFY(outer != QThread::currentThread());
        QVERIFY(pool->contains(outer));
        const std::pair<QThread *, QThread *> nested = Async::blockOn(pool, [pool] {
            QThread *const inner = Async::blockOn(pool, [] { return QThread::currentThread(); });
            return std::pair(QThread::currentThread(), inner);
        });
        QCOMPARE(nested.second, nested.first);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                                 Async::blockOn(pool, []() -> int { throw std::runtime_error("broken"); }));
    }

    void namedWorkIsSeenOnItsThread()
    {
        QMutex mutex;
        QStringList seen;
        QList<QThread *> threads;
        Async::setObserverForTesting([&](const char *what) {
            QMutexLocker lock(&mutex);
            seen << QString::fromLatin1(what);
            threads << QThread::currentThread();
        });
        auto twice = [](int n) { return n * 2; };
        Async::Work<int> work = Async::offThread(nullptr, Async::named("double", twice, 21));
        QTRY_VERIFY_WITH_TIMEOUT(work.future().isFinished(), 30000);
        Async::setObserverForTesting({});
        QCOMPARE(work.future().result(), 42);
        QCOMPARE(seen, QStringList{QStringLiteral("double")});
        QVERIFY(threads.first() != QThread::currentThread());
    }
};

VARNO_TEST_CLASS(TestAsync)
#include "tst_async.moc"
