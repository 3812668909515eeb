#include "TestRegistry.h"
#include "TestSupport.h"

#include "engine/EngineWrites.h"

#include <QCoreApplication>
#include <QTest>

namespace {

QCoro::Task<void> markWhenSettled(std::shared_ptr<EngineWrites> writes, bool *settled)
{
    QCoro::Task<void> waiting = EngineWrites::settled(std::move(writes));
    co_await std::move(waiting);
    *settled = true;
}

// Lets what is posted run, as a turn of the event loop does.
void turn()
{
    for (int i = 0; i < 4; ++i)
        QCoreApplication::processEvents();
}

} // namespace

// The count of engine writes under way that the Settings window's reads wait for.
class TestEngineWrites : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A reader goes on at once when nothing runs, and otherwise once the last
    // write has ended; a write that ends while the next one begins in the
    // same turn (a save of newer values) keeps it waiting.
    void readersWaitForTheLastWrite()
    {
        const auto writes = EngineWrites::create();
        bool atOnce = false;
        QCoro::Task<void> idle = markWhenSettled(writes, &atOnce);
        QVERIFY(atOnce);

        EngineWrites::Token first = writes->begin();
        EngineWrites::Token second = writes->begin();
        QCOMPARE(writes->count(), 2);
        bool settled = false;
        QCoro::Task<void> waiting = markWhenSettled(writes, &settled);
        first.reset();
        turn();
        QVERIFY(!settled);

        second.reset();
        EngineWrites::Token next = writes->begin();
        turn();
        QVERIFY(!settled);
        QCOMPARE(writes->count(), 1);

        next.reset();
        QVERIFY(VarnoTest::waitUntil([&] { return settled; }));
        QCOMPARE(writes->count(), 0);
    }

    // Whatever holds a token keeps the count alive: a write still under way
    // when its window has gone ends in the count the next window reads.
    void aTokenKeepsTheCountAlive()
    {
        auto writes = EngineWrites::create();
        const std::weak_ptr<EngineWrites> watched = writes;
        EngineWrites::Token token = writes->begin();
        writes.reset();
        QVERIFY(!watched.expired());
        QCOMPARE(watched.lock()->count(), 1);
        token.reset();
        QVERIFY(watched.expired());
    }
};

VARNO_TEST_CLASS(TestEngineWrites)

#include "tst_writes.moc"
