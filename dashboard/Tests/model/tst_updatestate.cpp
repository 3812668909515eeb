#include "TestRegistry.h"
#include "TestSupport.h"

#include "model/UpdateState.h"

#include <QTest>

Q_DECLARE_METATYPE(UpdateState::Kind)

class TestUpdateState : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void equality_data()
    {
        QTest::addColumn<UpdateState>("a");
        QTest::addColumn<UpdateState>("b");
        QTest::addColumn<bool>("equal");

        const QString updating = QStringLiteral("Updating\u2026");
        QTest::newRow("queued same") << UpdateState::queued(1, 3) << UpdateState::queued(1, 3) << true;
        QTest::newRow("queued other total") << UpdateState::queued(1, 3) << UpdateState::queued(1, 4) << false;
        QTest::newRow("queued other position") << UpdateState::queued(2, 3) << UpdateState::queued(1, 3) << false;
        QTest::newRow("running same text") << UpdateState::running(updating) << UpdateState::running(updating) << true;
        QTest::newRow("running other text")
            << UpdateState::running(updating) << UpdateState::running(QStringLiteral("Fetching\u2026")) << false;
        QTest::newRow("skipped vs failed, same text")
            << UpdateState::skipped(QStringLiteral("x")) << UpdateState::failed(QStringLiteral("x")) << false;
        QTest::newRow("failed vs quitDenied, same text")
            << UpdateState::failed(QStringLiteral("x")) << UpdateState::quitDenied(QStringLiteral("x")) << false;
        QTest::newRow("idle") << UpdateState::idle() << UpdateState() << true;
        QTest::newRow("done") << UpdateState::done() << UpdateState::done() << true;
        QTest::newRow("idle vs done") << UpdateState::idle() << UpdateState::done() << false;
        QTest::newRow("running empty vs idle") << UpdateState::running(QString()) << UpdateState::idle() << false;
    }

    void equality()
    {
        QFETCH(UpdateState, a);
        QFETCH(UpdateState, b);
        QFETCH(bool, equal);
        QCOMPARE(a == b, equal);
        QCOMPARE(b == a, equal);
        QCOMPARE(a != b, !equal);
    }

    void finalStates_data()
    {
        QTest::addColumn<UpdateState>("state");
        QTest::addColumn<bool>("final");
        QTest::newRow("queued") << UpdateState::queued(1, 2) << false;
        QTest::newRow("running") << UpdateState::running(QStringLiteral("Installing\u2026")) << false;
        QTest::newRow("idle") << UpdateState::idle() << false;
        QTest::newRow("skipped") << UpdateState::skipped(QStringLiteral("later")) << true;
        QTest::newRow("failed") << UpdateState::failed(QStringLiteral("no")) << true;
        QTest::newRow("quitDenied") << UpdateState::quitDenied(QStringLiteral("busy")) << true;
        QTest::newRow("done") << UpdateState::done() << true;
    }

    void finalStates()
    {
        QFETCH(UpdateState, state);
        QFETCH(bool, final);
        QCOMPARE(state.isFinal(), final);
    }

    void missingEntryReadsIdle()
    {
        QHash<QString, UpdateState> progress;
        progress.insert(QStringLiteral("org.sim.kettle"), UpdateState::done());
        const UpdateState missing = UpdateState::of(progress, QStringLiteral("org.sim.inkwell"));
        QCOMPARE(missing.kind(), UpdateState::Kind::idle);
        QVERIFY(!missing.isFinal());
        QCOMPARE(UpdateState::of(progress, QStringLiteral("org.sim.kettle")), UpdateState::done());

        QMap<QString, UpdateState> ordered;
        ordered.insert(QStringLiteral("a"), UpdateState::queued(1, 1));
        QCOMPARE(UpdateState::of(ordered, QStringLiteral("b")), UpdateState::idle());
        QCOMPARE(UpdateState::of(ordered, QStringLiteral("a")).position(), 1);
    }
};

VARNO_TEST_CLASS(TestUpdateState)
#include "tst_updatestate.moc"
