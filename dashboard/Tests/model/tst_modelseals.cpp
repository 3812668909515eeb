#include "ModelFixture.h"
#include "TestRegistry.h"

#include "platform/Clock.h"

#include <QPromise>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include <qcoro/qcorofuture.h>

#include <stdexcept>

using namespace std::chrono_literals;

namespace {

// Holds every seal call until the test answers it, and counts how many are
// out at once. A call waits on a future of its own, so that an answer
// resumes it from the event loop.
class SealGate {
public:
    QStringList started;
    int running = 0;
    int mostRunning = 0;
    // An answer of nothing makes the call throw.
    QHash<QString, std::optional<TrustSealRecord>> answers;
    QHash<QString, std::shared_ptr<QPromise<void>>> waiting;

    void answer(const QString &bundleId, std::optional<TrustSealRecord> seal)
    {
        answers.insert(bundleId, seal);
        if (const auto promise = waiting.take(bundleId))
            promise->finish();
    }
};

QCoro::Task<TrustSealRecord> gatedSeal(std::shared_ptr<SealGate> gate, QString bundleId)
{
    gate->started.append(bundleId);
    ++gate->running;
    gate->mostRunning = std::max(gate->mostRunning, gate->running);
    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    gate->waiting.insert(bundleId, promise);
    QFuture<void> answered = promise->future();
    co_await answered;
    --gate->running;
    const std::optional<TrustSealRecord> seal = gate->answers.value(bundleId);
    if (!seal)
        throw std::runtime_error("the engine's seal call failed");
    co_return *seal;
}

TrustSealRecord seal(bool green, bool verified)
{
    TrustSealRecord record;
    record.green_seal = green;
    record.verified_path = verified;
    return record;
}

// n records c1…cn, each eligible (verified path, no green seal).
QList<AppRecord> candidates(int n)
{
    QList<AppRecord> records;
    for (int i = 1; i <= n; ++i)
        records.append(makeRecord(
            QStringLiteral("{\"bundle_id\":\"c%1\",\"app_name\":\"C%1\",\"verified_path\":true}").arg(i).toUtf8()));
    return records;
}

QStringList idRange(int from, int to)
{
    QStringList result;
    for (int i = from; i <= to; ++i)
        result.append(QStringLiteral("c%1").arg(i));
    return result;
}

} // namespace

class TestTrustSeals : public QObject {
    Q_OBJECT

    std::unique_ptr<VarnoTest::TempHome> home;
    std::unique_ptr<FakeModelServices> fakes;
    std::shared_ptr<SealGate> gate;
    std::unique_ptr<AppModel> model;

private Q_SLOTS:
    void init()
    {
        home = std::make_unique<VarnoTest::TempHome>();
        fakes = std::make_unique<FakeModelServices>();
        gate = std::make_shared<SealGate>();
        AppModelServices services = fakes->services();
        std::shared_ptr<SealGate> held = gate;
        services.trustSeal = [held](QString bundleId) { return gatedSeal(held, std::move(bundleId)); };
        model = std::make_unique<AppModel>(services);
    }

    void cleanup()
    {
        // Answer whatever is still out, so that no call outlives its test.
        const QStringList started = gate->started;
        for (const QString &id : started) {
            if (!gate->answers.contains(id))
                gate->answer(id, std::nullopt);
        }
        QVERIFY(VarnoTest::waitUntil([this] { return !model->isEnrichingSeals(); }));
        model.reset();
        gate.reset();
        fakes.reset();
        home.reset();
    }

    void candidatesAreFiltered_data()
    {
        QTest::addColumn<QByteArray>("fields");
        QTest::addColumn<bool>("eligible");
        QTest::newRow("verified, no seal") << QByteArray("\"verified_path\":true") << true;
        QTest::newRow("verified, seal false") << QByteArray("\"verified_path\":true,\"green_seal\":false") << true;
        QTest::newRow("verified, green") << QByteArray("\"verified_path\":true,\"green_seal\":true") << false;
        QTest::newRow("not verified") << QByteArray("\"verified_path\":false") << false;
        QTest::newRow("verified absent") << QByteArray("\"green_seal\":false") << false;
    }

    void candidatesAreFiltered()
    {
        QFETCH(QByteArray, fields);
        QFETCH(bool, eligible);
        const QList<AppRecord> records = {
            makeRecord("{\"bundle_id\":\"before\",\"app_name\":\"B\",\"verified_path\":true}"),
            makeRecord("{\"bundle_id\":\"x\",\"app_name\":\"X\"," + fields + "}"),
            makeRecord("{\"bundle_id\":\"after\",\"app_name\":\"A\",\"verified_path\":true}"),
        };
        const QStringList expected = eligible
            ? QStringList({QStringLiteral("before"), QStringLiteral("x"), QStringLiteral("after")})
            : QStringList({QStringLiteral("before"), QStringLiteral("after")});
        QCOMPARE(AppModel::eligibleSealCandidates(records, 12), expected);
        QCOMPARE(AppModel::eligibleSealCandidates(records, 1), QStringList({QStringLiteral("before")}));
        QVERIFY(AppModel::eligibleSealCandidates(records, 0).isEmpty());
    }

    void aPassAsksTwelveThreeAtATime()
    {
        // 20 eligible records: the first 12 in library order are asked, never
        // more than three at once, each next one when one ends.
        model->setApps(candidates(20));
        model->enrichEligibleSeals();
        QVERIFY(model->isEnrichingSeals());
        QCOMPARE(gate->started, idRange(1, 3));
        model->enrichEligibleSeals(); // a pass runs: no second one
        QCOMPARE(gate->started, idRange(1, 3));

        gate->answer(QStringLiteral("c2"), seal(true, true));
        QVERIFY(VarnoTest::waitUntil([this] { return gate->started.size() == 4; }));
        QCOMPARE(gate->started, idRange(1, 4));
        const auto answerOldestOpen = [this] {
            const QStringList started = gate->started;
            for (const QString &id : started) {
                if (!gate->answers.contains(id)) {
                    gate->answer(id, seal(true, true));
                    return;
                }
            }
        };
        for (int next = 5; next <= 12; ++next) {
            answerOldestOpen();
            QVERIFY(VarnoTest::waitUntil([&] { return gate->started.size() == next; }));
            QVERIFY(gate->running <= 3);
        }
        for (int open = 0; open < 3; ++open)
            answerOldestOpen();
        QVERIFY(VarnoTest::waitUntil([this] { return !model->isEnrichingSeals(); }));
        QCOMPARE(gate->started, idRange(1, 12));
        QCOMPARE(gate->mostRunning, 3);
        QCOMPARE(AppModel::eligibleSealCandidates(model->apps(), 100), idRange(13, 20));
    }

    void aSealIsPatchedInPlace()
    {
        model->setApps({
            makeRecord("{\"bundle_id\":\"first\",\"app_name\":\"First\",\"current_version\":\"1.0\"}"),
            makeRecord("{\"bundle_id\":\"c1\",\"app_name\":\"C1\",\"verified_path\":true,\"current_version\":\"2.0\","
                       "\"update_mechanism\":\"cask\"}"),
        });
        QSignalSpy changes(model.get(), &AppModel::appsChanged);
        model->applyTrustSeal(QStringLiteral("c1"), true, false);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(model->apps().size(), 2);
        const AppRecord patched = model->apps().at(1);
        QCOMPARE(patched.bundle_id, QStringLiteral("c1"));
        QCOMPARE(patched.green_seal, std::optional(true));
        QCOMPARE(patched.verified_path, std::optional(false));
        QCOMPARE(patched.current_version, std::optional(QStringLiteral("2.0")));
        QCOMPARE(patched.update_mechanism, std::optional(QStringLiteral("cask")));
        QCOMPARE(model->apps().at(0).bundle_id, QStringLiteral("first"));

        // An id that is not in the library changes nothing.
        const QList<AppRecord> before = model->apps();
        model->applyTrustSeal(QStringLiteral("elsewhere"), true, true);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(model->apps(), before);
    }

    void sealsFromThePassLandOnTheirRecords()
    {
        model->setApps(candidates(2));
        model->enrichEligibleSeals();
        gate->answer(QStringLiteral("c1"), seal(true, true));
        // false/false: both fields become present and false.
        gate->answer(QStringLiteral("c2"), seal(false, false));
        QVERIFY(VarnoTest::waitUntil([this] { return !model->isEnrichingSeals(); }));
        QCOMPARE(model->apps().at(0).green_seal, std::optional(true));
        QCOMPARE(model->apps().at(1).green_seal, std::optional(false));
        QCOMPARE(model->apps().at(1).verified_path, std::optional(false));
        QVERIFY(AppModel::eligibleSealCandidates(model->apps(), 12).isEmpty());
    }

    void failedSealsAreSilent()
    {
        model->setApps(candidates(3));
        QSignalSpy errors(model.get(), &AppModel::errorChanged);
        model->enrichEligibleSeals();
        gate->answer(QStringLiteral("c1"), std::nullopt);
        gate->answer(QStringLiteral("c2"), seal(true, true));
        gate->answer(QStringLiteral("c3"), std::nullopt);
        QVERIFY(VarnoTest::waitUntil([this] { return !model->isEnrichingSeals(); }));
        QCOMPARE(errors.count(), 0);
        QVERIFY(!model->error());
        // The failed ones are as they were, and still candidates next time.
        QCOMPARE(model->apps().at(0), candidates(3).at(0));
        QCOMPARE(AppModel::eligibleSealCandidates(model->apps(), 12),
                 QStringList({QStringLiteral("c1"), QStringLiteral("c3")}));
    }

    void aSealForARecordThatLeftIsDropped()
    {
        model->setApps(candidates(1));
        model->enrichEligibleSeals();
        model->setApps({});
        gate->answer(QStringLiteral("c1"), seal(true, true));
        QVERIFY(VarnoTest::waitUntil([this] { return !model->isEnrichingSeals(); }));
        QVERIFY(model->apps().isEmpty());
    }

    void noCandidatesStartsNoPass()
    {
        model->setApps(
            {makeRecord("{\"bundle_id\":\"g\",\"app_name\":\"G\",\"verified_path\":true,\"green_seal\":true}")});
        model->enrichEligibleSeals();
        QVERIFY(!model->isEnrichingSeals());
        QVERIFY(gate->started.isEmpty());
    }
};

// The throttled probes' own rules: the OpenCore short-circuit and a clock set
// back.
class TestProbeThrottle : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void anOpenCoreMacSkipsTheSoftwareUpdateProbe()
    {
        VarnoTest::TempHome home;
        FakeModelServices fakes;
        fakes.openCore = true;
        AppModel model(fakes.services());
        model.refreshOpenCoreStatusIfNeeded(false);
        QVERIFY(VarnoTest::waitUntil([&] { return !model.isCheckingOpenCore(); }));
        QVERIFY(model.isOpenCore());
        QSignalSpy statusChanges(&model, &AppModel::macOSUpdateStatusChanged);
        model.refreshMacOSUpdateStatusIfNeeded(true); // force makes no difference
        QCOMPARE(fakes.softwareUpdateCalls.load(), 0);
        QCOMPARE(model.macOSUpdateStatus(), MacOSUpdateStatus::unavailable());
        QCOMPARE(model.macOSUpdateStatus().headline, QStringLiteral("macOS update check unavailable"));
        QVERIFY(!model.isCheckingMacOSUpdate());
        QVERIFY(!model.lastMacOSUpdateCheck());
    }

    void aLateSoftwareUpdateResultIsOverwrittenOnAnOpenCoreMac()
    {
        VarnoTest::TempHome home;
        FakeModelServices fakes;
        AppModel model(fakes.services());
        model.refreshMacOSUpdateStatusIfNeeded(false); // answers up to date
        QVERIFY(VarnoTest::waitUntil([&] { return !model.isCheckingMacOSUpdate(); }));
        QCOMPARE(model.macOSUpdateStatus(), MacOSUpdateStatus::upToDate());
        fakes.openCore = true;
        model.refreshOpenCoreStatusIfNeeded(true);
        QVERIFY(VarnoTest::waitUntil([&] { return !model.isCheckingOpenCore(); }));
        model.refreshMacOSUpdateStatusIfNeeded(false);
        QCOMPARE(model.macOSUpdateStatus(), MacOSUpdateStatus::unavailable());
        QCOMPARE(fakes.softwareUpdateCalls.load(), 1);
    }

    void aClockSetBackKeepsTheProbeThrottled_data()
    {
        QTest::addColumn<int>("probe");
        QTest::addColumn<int>("interval");
        QTest::newRow("OpenCore") << 0 << 3600;
        QTest::newRow("Homebrew and mas") << 1 << 300;
        QTest::newRow("Software Update") << 2 << 300;
    }

    void aClockSetBackKeepsTheProbeThrottled()
    {
        QFETCH(int, probe);
        QFETCH(int, interval);
        VarnoTest::TempHome home;
        const QDateTime start(QDate(2026, 6, 1), QTime(12, 0), Qt::UTC);
        VarnoTest::FixedClock clock(start);
        FakeModelServices fakes;
        AppModel model(fakes.services());
        const auto calls = [&] {
            return probe == 0 ? fakes.openCoreCalls.load()
                : probe == 1  ? fakes.brewCalls.load()
                              : fakes.softwareUpdateCalls.load();
        };
        const auto refreshAndSettle = [&] {
            if (probe == 0)
                model.refreshOpenCoreStatusIfNeeded(false);
            else if (probe == 1)
                model.refreshMechanismHealthIfNeeded(false);
            else
                model.refreshMacOSUpdateStatusIfNeeded(false);
            return VarnoTest::waitUntil([&] {
                return !model.isCheckingOpenCore() && !model.isCheckingMechanismHealth()
                    && !model.isCheckingMacOSUpdate();
            });
        };
        QVERIFY(refreshAndSettle());
        QCOMPARE(calls(), 1);
        // An hour back: the last check lies in the future and counts as recent.
        clock.set(start.addSecs(-3600));
        QVERIFY(refreshAndSettle());
        QCOMPARE(calls(), 1);
        // Until the clock passes the old check plus the interval.
        clock.set(start.addSecs(interval - 1));
        QVERIFY(refreshAndSettle());
        QCOMPARE(calls(), 1);
        clock.set(start.addSecs(interval));
        QVERIFY(refreshAndSettle());
        QCOMPARE(calls(), 2);
    }
};

// The stand-in engine's own seals reach the library after a load.
class TestTrustSealsOnTheEngine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aLoadEnrichesTheDemoLibrary()
    {
        ModelFixture f;
        QVERIFY(f.ready);
        QVERIFY(f.scanDirectly());
        VarnoTest::await(f.model->load());
        const QStringList asked = AppModel::eligibleSealCandidates(f.model->apps(), AppModel::sealCandidateLimit);
        QVERIFY(!asked.isEmpty());
        QVERIFY(VarnoTest::waitUntil([&] { return !f.model->isEnrichingSeals(); }));
        for (const QString &id : asked) {
            const TrustSealRecord expected = VarnoTest::await(VARNOProcess::trustSeal(id));
            const AppRecord record = *f.app(id);
            QCOMPARE(record.green_seal, std::optional(expected.green_seal));
            QCOMPARE(record.verified_path, std::optional(expected.verified_path));
        }
    }
};

VARNO_TEST_CLASS(TestTrustSeals)
VARNO_TEST_CLASS(TestProbeThrottle)
VARNO_TEST_CLASS(TestTrustSealsOnTheEngine)

#include "tst_modelseals.moc"
