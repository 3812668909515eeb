#include "TestRegistry.h"
#include "TestScopes.h"
#include "TestSupport.h"

#include "platform/ConsoleOut.h"
#include "platform/UpdaterController.h"
#include "platform/UserNotifications.h"
#include "services/NotificationManager.h"
#include "services/SparkleUpdater.h"

#include <QDBusConnection>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {

// Collects what goes to standard output for the object's lifetime.
class ConsoleCapture {
public:
    ConsoleCapture()
    {
        ConsoleOut::setCapture([lines = m_lines](const QString &line) { lines->append(line); });
    }
    ~ConsoleCapture() { ConsoleOut::setCapture({}); }
    QStringList lines() const { return *m_lines; }

private:
    std::shared_ptr<QStringList> m_lines = std::make_shared<QStringList>();
};

// Hands out fake controllers and remembers the last one.
class FakeUpdaterFactory {
public:
    FakeUpdaterFactory(bool canCheck, std::optional<QString> startError = std::nullopt)
    {
        Updater::setFactory([this, canCheck, startError](const QString &feed) {
            auto controller = std::make_unique<FakeUpdaterController>();
            controller->setCanCheckForUpdates(canCheck);
            controller->setStartError(startError);
            last = controller.get();
            feeds.append(feed);
            return controller;
        });
    }
    ~FakeUpdaterFactory() { Updater::setFactory({}); }

    FakeUpdaterController *last = nullptr;
    QStringList feeds;
};

const QString kFeed = QStringLiteral("https://updates.example.org/appcast.xml");

} // namespace

class TestSparkleUpdater : public QObject {
    Q_OBJECT

    std::vector<std::unique_ptr<QTemporaryDir>> m_dirs;

    QString bundleWith(const QList<std::pair<QString, QString>> &entries)
    {
        m_dirs.push_back(std::make_unique<QTemporaryDir>());
        return TestScopes::makeFakeBundle(m_dirs.back()->path(), entries);
    }

private Q_SLOTS:
    void cleanup() { MainBundle::setPathOverride(std::nullopt); }

    void noFeedMeansNoUpdater_data()
    {
        QTest::addColumn<bool>("withIdentifier");
        QTest::addColumn<bool>("withFeed");
        QTest::newRow("the app's own bundle (no feed)") << true << false;
        QTest::newRow("feed but no identifier") << false << true;
        QTest::newRow("neither") << false << false;
    }

    void noFeedMeansNoUpdater()
    {
        QFETCH(bool, withIdentifier);
        QFETCH(bool, withFeed);
        QList<std::pair<QString, QString>> entries;
        if (withIdentifier)
            entries.append({QStringLiteral("CFBundleIdentifier"), QStringLiteral("org.varno.workshop")});
        if (withFeed)
            entries.append({QStringLiteral("SUFeedURL"), kFeed});
        TestScopes::BundleScope bundle(withIdentifier && !withFeed ? VarnoTest::stagedBundlePath() : bundleWith(entries));

        FakeUpdaterFactory factory(true);
        SparkleUpdater updater;
        QVERIFY(!updater.updaterController());
        QVERIFY(!updater.canCheckForUpdates());
        updater.startUpdater();
        QVERIFY(factory.feeds.isEmpty());

        QSignalSpy activation(&updater, &SparkleUpdater::activationRequested);
        QSignalSpy unavailable(&updater, &SparkleUpdater::updateCheckUnavailable);
        QTest::ignoreMessage(QtInfoMsg, "checkForUpdates: updaterController nil (Sparkle not initialized)");
        updater.checkForUpdates();
        QCOMPARE(activation.count(), 1);
        QCOMPARE(unavailable.count(), 1);
        QCOMPARE(unavailable.first().first().toString(), SparkleUpdater::noFeedMessage());
    }

    void startsAndChecksOnceInTheBackground_data()
    {
        QTest::addColumn<bool>("canCheck");
        QTest::addColumn<int>("backgroundChecks");
        QTest::newRow("can check") << true << 1;
        QTest::newRow("cannot check") << false << 0;
    }

    void startsAndChecksOnceInTheBackground()
    {
        QFETCH(bool, canCheck);
        QFETCH(int, backgroundChecks);
        TestScopes::BundleScope bundle(
            bundleWith({{QStringLiteral("CFBundleIdentifier"), QStringLiteral("org.varno.workshop")},
                        {QStringLiteral("SUFeedURL"), kFeed}}));
        FakeUpdaterFactory factory(canCheck);
        SparkleUpdater updater;
        QVERIFY(factory.last);
        QCOMPARE(factory.feeds, QStringList{kFeed});
        // The controller's answer counts from the start, not only its changes.
        QCOMPARE(updater.canCheckForUpdates(), canCheck);

        updater.setBackgroundCheckDelay(50ms);
        QTest::ignoreMessage(QtInfoMsg,
                             canCheck ? "startUpdater: background checkForUpdatesInBackground"
                                      : "startUpdater: background check skipped (canCheck=no)");
        updater.startUpdater();
        updater.startUpdater(); // a second start is harmless
        QCOMPARE(factory.last->starts(), 1);
        QCOMPARE(factory.last->backgroundChecks(), 0);
        QTest::qWait(300);
        QCOMPARE(factory.last->backgroundChecks(), backgroundChecks);
    }

    void followsTheControllerAndChecksForTheUser()
    {
        TestScopes::BundleScope bundle(
            bundleWith({{QStringLiteral("CFBundleIdentifier"), QStringLiteral("org.varno.workshop")},
                        {QStringLiteral("SUFeedURL"), kFeed}}));
        FakeUpdaterFactory factory(false);
        SparkleUpdater updater;
        QSignalSpy changes(&updater, &SparkleUpdater::canCheckForUpdatesChanged);
        factory.last->setCanCheckForUpdates(true);
        QCOMPARE(changes.count(), 1);
        QVERIFY(updater.canCheckForUpdates());

        QSignalSpy activation(&updater, &SparkleUpdater::activationRequested);
        QTest::ignoreMessage(QtInfoMsg, "checkForUpdates: starting (canCheck=yes)");
        updater.checkForUpdates();
        QCOMPARE(activation.count(), 1);
        QCOMPARE(factory.last->userChecks(), 1);
    }

    void failedStartPrintsOneLineAndSchedulesNothing()
    {
        TestScopes::BundleScope bundle(
            bundleWith({{QStringLiteral("CFBundleIdentifier"), QStringLiteral("org.varno.workshop")},
                        {QStringLiteral("SUFeedURL"), kFeed}}));
        FakeUpdaterFactory factory(true, QStringLiteral("The feed is not signed."));
        ConsoleCapture console;
        SparkleUpdater updater;
        updater.setBackgroundCheckDelay(10ms);
        updater.startUpdater();
        updater.startUpdater();
        QTest::qWait(100);
        QCOMPARE(console.lines(),
                 QStringList{QStringLiteral("Sparkle updater failed to start: The feed is not signed.")});
        QCOMPARE(factory.last->backgroundChecks(), 0);
    }

    void linuxControllerSaysItCannotInstall()
    {
        TestScopes::BundleScope bundle(
            bundleWith({{QStringLiteral("CFBundleIdentifier"), QStringLiteral("org.varno.workshop")},
                        {QStringLiteral("SUFeedURL"), kFeed}}));
        ConsoleCapture console;
        SparkleUpdater updater;
        QVERIFY(updater.updaterController());
        QVERIFY(!updater.canCheckForUpdates());
        updater.startUpdater();
        QCOMPARE(console.lines().size(), 1);
        QVERIFY(console.lines().first().startsWith(QStringLiteral("Sparkle updater failed to start: ")));
        QVERIFY(console.lines().first().contains(kFeed));
    }
};

class TestNotificationManager : public QObject {
    Q_OBJECT

    std::shared_ptr<RecordingNotificationCenter> m_center;

private Q_SLOTS:
    void init()
    {
        m_center = std::make_shared<RecordingNotificationCenter>();
        UserNotifications::setCurrent(m_center);
        MainBundle::setPathOverride(VarnoTest::stagedBundlePath());
    }

    void cleanup()
    {
        UserNotifications::setCurrent(nullptr);
        MainBundle::setPathOverride(std::nullopt);
    }

    void updatesReadyTexts_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("body");

        QTest::newRow("one") << 1 << QStringList{QStringLiteral("Figma")}
                             << QStringLiteral("VARNO \u2014 1 update ready")
                             << QStringLiteral("Brusk is standing by. Figma.");
        QTest::newRow("three") << 3 << QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}
                               << QStringLiteral("VARNO \u2014 3 updates ready")
                               << QStringLiteral("Brusk is standing by. A, B, C.");
        QTest::newRow("five with five names")
            << 5
            << QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"), QStringLiteral("D"),
                           QStringLiteral("E")}
            << QStringLiteral("VARNO \u2014 5 updates ready")
            << QStringLiteral("Brusk is standing by. A, B, C and 2 more.");
        // "and N more" counts the applications not named.
        QTest::newRow("four with two names") << 4 << QStringList{QStringLiteral("A"), QStringLiteral("B")}
                                             << QStringLiteral("VARNO \u2014 4 updates ready")
                                             << QStringLiteral("Brusk is standing by. A, B and 2 more.");
        QTest::newRow("three with one name")
            << 3 << QStringList{QStringLiteral("A")} << QStringLiteral("VARNO \u2014 3 updates ready")
            << QStringLiteral("Brusk is standing by. A and 2 more.");
        QTest::newRow("more names than count")
            << 1 << QStringList{QStringLiteral("A"), QStringLiteral("B")}
            << QStringLiteral("VARNO \u2014 1 update ready") << QStringLiteral("Brusk is standing by. A, B.");
    }

    void updatesReadyTexts()
    {
        QFETCH(int, count);
        QFETCH(QStringList, names);
        QFETCH(QString, title);
        QFETCH(QString, body);

        NotificationManager().notifyUpdates(count, names);
        QCOMPARE(m_center->requests().size(), 1);
        const UNNotificationRequest request = m_center->requests().first();
        QCOMPARE(request.content.title, title);
        QCOMPARE(request.content.body, body);
        QCOMPARE(request.content.threadIdentifier, QStringLiteral("org.varno.updates"));
        QCOMPARE(request.content.categoryIdentifier, QStringLiteral("VARNO_UPDATES"));
        QVERIFY(request.content.defaultSound);
    }

    void nothingIsPosted_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("withIdentifier");
        QTest::newRow("count 0") << 0 << true;
        QTest::newRow("negative count") << -2 << true;
        QTest::newRow("no bundle identifier") << 2 << false;
    }

    void nothingIsPosted()
    {
        QFETCH(int, count);
        QFETCH(bool, withIdentifier);
        QTemporaryDir dir;
        if (!withIdentifier)
            MainBundle::setPathOverride(TestScopes::makeFakeBundle(dir.path(), {}));
        NotificationManager manager;
        manager.notifyUpdates(count, {QStringLiteral("A"), QStringLiteral("B")});
        manager.requestPermission();
        QVERIFY(m_center->requests().isEmpty());
        QCOMPARE(m_center->authorizationRequests().isEmpty(), !withIdentifier);
    }

    void identifiersAreSecondsAndUnique()
    {
        VarnoTest::FixedClock clock(QDateTime::fromMSecsSinceEpoch(4102444800000LL, Qt::UTC));
        NotificationManager manager;
        manager.notifyUpdates(2, {QStringLiteral("A"), QStringLiteral("B")});
        manager.notifyUpdates(2, {QStringLiteral("A"), QStringLiteral("B")});
        clock.set(QDateTime::fromMSecsSinceEpoch(4102444860250LL, Qt::UTC));
        manager.notifyUpdates(1, {QStringLiteral("A")});
        const auto requests = m_center->requests();
        QCOMPARE(requests.size(), 3);
        QCOMPARE(requests[0].identifier, QStringLiteral("varno-updates-4102444800.0"));
        // The clock did not move: the second still gets its own identifier.
        QCOMPARE(requests[1].identifier, QStringLiteral("varno-updates-4102444800.001"));
        QCOMPARE(requests[2].identifier, QStringLiteral("varno-updates-4102444860.25"));
    }

    void permissionAsksForAlertsSoundsAndBadges()
    {
        ConsoleCapture console;
        NotificationManager manager;
        manager.requestPermission();
        QCOMPARE(m_center->authorizationRequests(),
                 QList<int>{static_cast<int>(UNAuthorizationOption::alert) | static_cast<int>(UNAuthorizationOption::sound)
                            | static_cast<int>(UNAuthorizationOption::badge)});
        QVERIFY(console.lines().isEmpty());

        m_center->setAuthorizationError(QStringLiteral("Notifications are not allowed for this application"));
        manager.requestPermission();
        QCOMPARE(console.lines(),
                 QStringList{QStringLiteral(
                     "Notification permission error: Notifications are not allowed for this application")});
    }

    void desktopCenterWithoutASessionBusDropsTheNotice()
    {
        TestScopes::EnvScope bus("DBUS_SESSION_BUS_ADDRESS", QByteArray("unix:path=/nonexistent/varno-test-bus"));
        DesktopNotificationCenter center;
        center.add(NotificationManager::updatesReadyRequest(2, {QStringLiteral("A"), QStringLiteral("B")}));
        QVERIFY(!QDBusConnection::sessionBus().isConnected());
    }

    void desktopCenterGrantsWithoutAsking()
    {
        DesktopNotificationCenter center;
        std::optional<bool> granted;
        center.requestAuthorization(1, [&granted](bool ok, std::optional<QString> error) { granted = ok && !error; });
        QCOMPARE(granted, std::optional(true));
    }
};

VARNO_TEST_CLASS(TestSparkleUpdater)
VARNO_TEST_CLASS(TestNotificationManager)
#include "tst_updater_notifications.moc"
