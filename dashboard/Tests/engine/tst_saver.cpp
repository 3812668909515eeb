#include "TestRegistry.h"
#include "TestSupport.h"

#include "engine/VARNOError.h"
#include "engine/WorkbenchSaver.h"

#include <QTest>
#include <QTimer>

#include <qcoro/qcorosignal.h>

using namespace std::chrono_literals;

namespace {

// Pauses that end only when the test releases them, one at a time in order.
class ManualPauses : public QObject {
    Q_OBJECT

public:
    QCoro::Task<void> pause(std::chrono::nanoseconds duration)
    {
        durations.append(duration);
        const int mine = ++started;
        while (released < mine)
            co_await qCoro(this, &ManualPauses::changed);
    }

    void releaseNext()
    {
        ++released;
        Q_EMIT changed();
    }

    int started = 0;
    int released = 0;
    QList<std::chrono::nanoseconds> durations;

Q_SIGNALS:
    void changed();
};

// A save handler that records what it was given; it can hold each send until
// released and fail the next sends.
class FakeEngine : public QObject {
    Q_OBJECT

public:
    QCoro::Task<void> save(DeveloperWorkbenchState state)
    {
        sent.append(state);
        const int mine = int(sent.size());
        if (onSend)
            onSend(mine);
        while (holding && releasedSends < mine)
            co_await qCoro(this, &FakeEngine::changed);
        ++finished;
        if (failuresLeft > 0) {
            --failuresLeft;
            throw VARNOError::processFailure(1, QStringLiteral("dev set broke"));
        }
    }

    void releaseSend()
    {
        ++releasedSends;
        Q_EMIT changed();
    }

    QList<DeveloperWorkbenchState> sent;
    std::function<void(int)> onSend; // called as each send starts, with its number
    int finished = 0;
    bool holding = false;
    int releasedSends = 0;
    int failuresLeft = 0;

Q_SIGNALS:
    void changed();
};

DeveloperWorkbenchState workbench(bool enabled, QStringList folders = {})
{
    DeveloperWorkbenchState state;
    state.workbenchEnabled = enabled;
    state.projectFolders = std::move(folders);
    return state;
}

} // namespace

class TestWorkbenchSaver : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_pauses = std::make_unique<ManualPauses>();
        m_engine = std::make_unique<FakeEngine>();
        m_failures.clear();
        m_saver = std::make_unique<WorkbenchSaver>();
        m_saver->setSaveHandler([this](DeveloperWorkbenchState state) { return m_engine->save(std::move(state)); });
        m_saver->setPauseForTesting([this](std::chrono::nanoseconds d) { return m_pauses->pause(d); });
        m_saver->setOnFailure([this](const QString &message) { m_failures.append(message); });
    }

    void cleanup()
    {
        // Let a drain that a test left behind run out before its fakes go.
        m_engine->holding = false;
        m_engine->releaseSend();
        for (int i = 0; i < 10 && m_saver->isDraining(); ++i) {
            m_pauses->releaseNext();
            QVERIFY(VarnoTest::waitUntil(
                [this] { return !m_saver->isDraining() || m_pauses->started > m_pauses->released; }));
        }
        QVERIFY(!m_saver->isDraining());
        m_saver.reset();
        m_engine.reset();
        m_pauses.reset();
    }

    void initialValues()
    {
        WorkbenchSaver saver;
        QCOMPARE(saver.debounceNanos(), quint64(300'000'000));
        QCOMPARE(saver.pending(), std::nullopt);
        QCOMPARE(saver.inFlight(), std::nullopt);
        QCOMPARE(saver.lastSaved(), std::nullopt);
        QCOMPARE(saver.flushDepth(), 0);
        QVERIFY(!saver.isDraining());
    }

    void stateAlreadySavedIsNotSentAgain()
    {
        m_saver->setLastSaved(workbench(true, {QStringLiteral("/a")}));
        m_saver->requestSave(workbench(true, {QStringLiteral("/a"), QStringLiteral("/a"), QString()}));
        QVERIFY(!m_saver->isDraining());
        QCOMPARE(m_saver->pending(), std::nullopt);
        VarnoTest::await(m_saver->flush());
        QVERIFY(m_engine->sent.isEmpty());
    }

    // With the real timer: a burst of three edits is one `dev set` of the third.
    void burstBecomesOneSave()
    {
        m_saver->setPauseForTesting(nullptr);
        m_saver->requestSave(workbench(true));
        m_saver->requestSave(workbench(true, {QStringLiteral("/b")}));
        m_saver->requestSave(workbench(true, {QStringLiteral("/c"), QStringLiteral("/a")}));
        QCOMPARE(m_saver->pending(), std::optional(workbench(true, {QStringLiteral("/c"), QStringLiteral("/a")})));
        QVERIFY(VarnoTest::waitUntil([this] { return !m_saver->isDraining(); }));
        QCOMPARE(m_engine->sent,
                 QList<DeveloperWorkbenchState>({workbench(true, {QStringLiteral("/c"), QStringLiteral("/a")})}));
        QCOMPARE(m_saver->lastSaved(), std::optional(workbench(true, {QStringLiteral("/a"), QStringLiteral("/c")})));
    }

    // Every newer request during a pause drops the older state and waits a full pause again.
    void newerRequestRestartsThePause()
    {
        m_saver->requestSave(workbench(true, {QStringLiteral("/1")}));
        QVERIFY(VarnoTest::waitUntil([this] { return m_pauses->started == 1; }));
        QCOMPARE(m_saver->inFlight(), std::optional(workbench(true, {QStringLiteral("/1")})));
        QCOMPARE(m_saver->pending(), std::nullopt);

        m_saver->requestSave(workbench(true, {QStringLiteral("/2")}));
        m_pauses->releaseNext();
        QVERIFY(VarnoTest::waitUntil([this] { return m_pauses->started == 2; }));
        m_saver->requestSave(workbench(true, {QStringLiteral("/3"), QStringLiteral("/3")}));
        m_pauses->releaseNext();
        QVERIFY(VarnoTest::waitUntil([this] { return m_pauses->started == 3; }));
        QVERIFY(m_engine->sent.isEmpty());
        QCOMPARE(m_saver->inFlight(), std::optional(workbench(true, {QStringLiteral("/3")})));
        m_pauses->releaseNext();
        QVERIFY(VarnoTest::waitUntil([this] { return !m_saver->isDraining(); }));

        QCOMPARE(m_engine->sent,
                 QList<DeveloperWorkbenchState>({workbench(true, {QStringLiteral("/3"), QStringLiteral("/3")})}));
        QCOMPARE(m_pauses->durations, QList<std::chrono::nanoseconds>({300ms, 300ms, 300ms}));
        QCOMPARE(m_saver->inFlight(), std::nullopt);
    }

    // On and off again within the pause, with "off" saved: the request for
    // "off" is not skipped (a state is in flight), and "off" is sent once.
    void switchedOnAndOffAgain()
    {
        m_saver->setLastSaved(workbench(false));
        m_saver->requestSave(workbench(true));
        QVERIFY(VarnoTest::waitUntil([this] { return m_pauses->started == 1; }));
        m_saver->requestSave(workbench(false));
        QCOMPARE(m_saver->pending(), std::optional(workbench(false)));
        m_pauses->releaseNext();
        QVERIFY(VarnoTest::waitUntil([this] { return m_pauses->started == 2; }));
        m_pauses->releaseNext();
        QVERIFY(VarnoTest::waitUntil([this] { return !m_saver->isDraining(); }));
        QCOMPARE(m_engine->sent, QList<DeveloperWorkbenchState>({workbench(false)}));
    }

    void requestDuringASend_data()
    {
        QTest::addColumn<DeveloperWorkbenchState>("second");
        QTest::addColumn<int>("expectedSends");

        QTest::newRow("a different state is sent after its own pause") << workbench(false) << 2;
        QTest::newRow("the state just saved is dropped") << workbench(true, {QStringLiteral("/x"), QString()}) << 1;
    }

    void requestDuringASend()
    {
        QFETCH(DeveloperWorkbenchState, second);
        QFETCH(int, expectedSends);
        m_engine->holding = true;
        m_saver->requestSave(workbench(true, {QStringLiteral("/x")}));
        QVERIFY(VarnoTest::waitUntil([this] { return m_pauses->started == 1; }));
        m_pauses->releaseNext();
        QVERIFY(VarnoTest::waitUntil([this] { return m_engine->sent.size() == 1; }));

        m_saver->requestSave(second);
        QCOMPARE(m_saver->pending(), std::optional(second));
        m_engine->releaseSend();
        if (expectedSends == 2) {
            QVERIFY(VarnoTest::waitUntil([this] { return m_pauses->started == 2; }));
            QCOMPARE(m_engine->sent.size(), 1);
            m_pauses->releaseNext();
            m_engine->releaseSend();
        }
        QVERIFY(VarnoTest::waitUntil([this] { return !m_saver->isDraining(); }));
        QCOMPARE(m_engine->sent.size(), expectedSends);
        QCOMPARE(m_engine->sent.last(), expectedSends == 2 ? second : workbench(true, {QStringLiteral("/x")}));
        QCOMPARE(m_saver->pending(), std::nullopt);
        QCOMPARE(m_saver->lastSaved(), std::optional(m_engine->sent.last().normalized()));
    }

    void flushWithNothingToDo()
    {
        VarnoTest::await(m_saver->flush());
        QVERIFY(m_engine->sent.isEmpty());
        QCOMPARE(m_pauses->started, 0);
        QCOMPARE(m_saver->flushDepth(), 0);
    }

    // A pending state with no drain yet goes out at once, without a pause.
    void flushSendsPendingWithoutPause()
    {
        m_saver->requestSave(workbench(true));
        VarnoTest::await(m_saver->flush());
        QCOMPARE(m_pauses->started, 0);
        QCOMPARE(m_engine->sent, QList<DeveloperWorkbenchState>({workbench(true)}));
        QCOMPARE(m_saver->flushDepth(), 0);
        QVERIFY(!m_saver->isDraining());
    }

    // A flush that starts during a pause waits for the pause and the send.
    void flushDuringAPause()
    {
        m_saver->requestSave(workbench(true));
        QVERIFY(VarnoTest::waitUntil([this] { return m_pauses->started == 1; }));
        QTimer::singleShot(0, m_pauses.get(), [this] {
            QCOMPARE(m_saver->flushDepth(), 1);
            QVERIFY(m_engine->sent.isEmpty());
            m_pauses->releaseNext();
        });
        VarnoTest::await(m_saver->flush());
        QCOMPARE(m_engine->sent, QList<DeveloperWorkbenchState>({workbench(true)}));
        QCOMPARE(m_pauses->started, 1);
    }

    // A state requested while a flush waits goes out without a pause, and the
    // flush waits for it too.
    void flushWaitsThroughLaterDrains()
    {
        m_engine->holding = true;
        m_engine->onSend = [this](int number) {
            if (number == 1)
                m_saver->requestSave(workbench(false));
            QTimer::singleShot(0, m_engine.get(), [this] { m_engine->releaseSend(); });
        };
        m_saver->requestSave(workbench(true));
        VarnoTest::await(m_saver->flush());
        QCOMPARE(m_engine->sent, QList<DeveloperWorkbenchState>({workbench(true), workbench(false)}));
        QCOMPARE(m_pauses->started, 0);
        QVERIFY(!m_saver->isDraining());
    }

    // A failed save is reported, not retried, and leaves lastSaved alone, so
    // that asking again sends again.
    void failureIsReportedAndNotRetried()
    {
        m_saver->setLastSaved(workbench(false));
        m_engine->failuresLeft = 1;
        m_saver->requestSave(workbench(true));
        VarnoTest::await(m_saver->flush());
        QCOMPARE(m_failures,
                 QStringList({QStringLiteral("Couldn't save Developer Workbench settings: ")
                              + VARNOError::processFailure(1, QStringLiteral("dev set broke")).errorDescription()}));
        QCOMPARE(m_engine->sent.size(), 1);
        QCOMPARE(m_saver->lastSaved(), std::optional(workbench(false)));

        m_saver->requestSave(workbench(true));
        VarnoTest::await(m_saver->flush());
        QCOMPARE(m_engine->sent.size(), 2);
        QCOMPARE(m_failures.size(), 1);
        QCOMPARE(m_saver->lastSaved(), std::optional(workbench(true)));
    }

    // The user's last edit still reaches the engine when the pane (and its
    // saver) goes away during the pause; the gone owner hears of nothing.
    void drainOutlivesTheSaver()
    {
        m_engine->failuresLeft = 1;
        m_saver->requestSave(workbench(true));
        QVERIFY(VarnoTest::waitUntil([this] { return m_pauses->started == 1; }));
        m_saver.reset();
        m_pauses->releaseNext();
        QVERIFY(VarnoTest::waitUntil([this] { return m_engine->finished == 1; }));
        QCOMPARE(m_engine->sent, QList<DeveloperWorkbenchState>({workbench(true)}));
        QVERIFY(m_failures.isEmpty());
        m_saver = std::make_unique<WorkbenchSaver>();
    }

private:
    std::unique_ptr<ManualPauses> m_pauses;
    std::unique_ptr<FakeEngine> m_engine;
    std::unique_ptr<WorkbenchSaver> m_saver;
    QStringList m_failures;
};

VARNO_TEST_CLASS(TestWorkbenchSaver)
#include "tst_saver.moc"
