#include "TestRegistry.h"
#include "TestSupport.h"

#include "platform/UserNotifications.h"
#include "services/NotificationManager.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

using namespace std::chrono_literals;

namespace {

// A session bus of the test's own: a dbus-daemon that lives as long as the
// object, and connections to it that are closed with it.
class PrivateBus {
public:
    PrivateBus()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            return;
        m_daemon.start(daemon,
                       {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (!m_daemon.waitForStarted(10000))
            return;
        while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(10000)) {}
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }

    ~PrivateBus()
    {
        for (const QString &name : std::as_const(m_connections))
            QDBusConnection::disconnectFromBus(name);
        m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }

    bool isValid() const { return !m_address.isEmpty(); }

    QDBusConnection connect(const QString &name)
    {
        m_connections << name;
        return QDBusConnection::connectToBus(m_address, name);
    }

private:
    QProcess m_daemon;
    QString m_address;
    QStringList m_connections;
};

struct NotifyCall {
    QString appName;
    uint replacesId = 0;
    QString summary;
    QString body;
    QVariantMap hints;
};

// What a desktop's notification server answers to Notify: an id, or an error
// when told to refuse.
class FakeNotificationServer : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QList<NotifyCall> calls;
    bool refuse = false;
    QStringList capabilities{QStringLiteral("body"), QStringLiteral("body-markup")};

public Q_SLOTS:
    QStringList GetCapabilities() { return capabilities; }

    uint Notify(const QString &appName, uint replacesId, const QString &, const QString &summary, const QString &body,
                const QStringList &, const QVariantMap &hints, int)
    {
        calls.append(NotifyCall{appName, replacesId, summary, body, hints});
        if (refuse) {
            sendErrorReply(QStringLiteral("org.freedesktop.Notifications.Error.Refused"),
                           QStringLiteral("do not disturb"));
            return 0;
        }
        return 42;
    }
};

struct Outcome {
    bool done = false;
    std::optional<uint> id;
    QString error;
};

} // namespace

class TestDesktopNotifications : public QObject {
    Q_OBJECT

    QList<std::pair<UNNotificationRequest, QString>> m_fallbacks;

private Q_SLOTS:
    void init()
    {
        m_fallbacks.clear();
        UserNotifications::setFallback([this](const UNNotificationRequest &request, const QString &reason) {
            m_fallbacks.append({request, reason});
        });
    }

    void cleanup() { UserNotifications::setFallback(nullptr); }

    // The Notify call the desktop's server receives, and what happens when no
    // server shows it: the fallback (the tray's message, or the log) gets it.
    void repliesAreChecked_data()
    {
        QTest::addColumn<bool>("server");
        QTest::addColumn<bool>("refuse");
        QTest::addColumn<QString>("error");

        QTest::newRow("shown by the server") << true << false << QString();
        QTest::newRow("no notification server")
            << false << false << QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown");
        QTest::newRow("server refuses") << true << true
                                        << QStringLiteral("org.freedesktop.Notifications.Error.Refused: do not disturb");
    }

    void repliesAreChecked()
    {
        QFETCH(bool, server);
        QFETCH(bool, refuse);
        QFETCH(QString, error);

        PrivateBus bus;
        if (!bus.isValid())
            QSKIP("dbus-daemon is missing (Debian package dbus; scripts/setup.sh installs it): no private session bus");
        FakeNotificationServer fake;
        fake.refuse = refuse;
        if (server) {
            QDBusConnection serverConnection = bus.connect(QStringLiteral("varno-test-server"));
            QVERIFY(serverConnection.isConnected());
            QVERIFY(serverConnection.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake,
                                                    QDBusConnection::ExportAllSlots));
            QVERIFY(serverConnection.registerService(QStringLiteral("org.freedesktop.Notifications")));
        }

        DesktopNotificationCenter center(bus.connect(QStringLiteral("varno-test-client")));
        Outcome outcome;
        center.setOutcomeObserver([&outcome](const UNNotificationRequest &, std::optional<uint> id, const QString &why) {
            outcome.done = true;
            outcome.id = id;
            outcome.error = why;
        });
        const UNNotificationRequest request = NotificationManager::updatesReadyRequest(5,
                                                                                       {QStringLiteral("Alpha"),
                                                                                        QStringLiteral("Beta"),
                                                                                        QStringLiteral("Gamma"),
                                                                                        QStringLiteral("Delta")});
        center.add(request);
        QVERIFY(VarnoTest::waitUntil([&] { return outcome.done; }, 20s));

        if (server) {
            QCOMPARE(fake.calls.size(), 1);
            const NotifyCall &call = fake.calls.first();
            QCOMPARE(call.appName, QStringLiteral("VARNO Workshop"));
            QCOMPARE(call.replacesId, 0u);
            QCOMPARE(call.summary, QStringLiteral("VARNO \u2014 5 updates ready"));
            QCOMPARE(call.body, QStringLiteral("Brusk is standing by. Alpha, Beta, Gamma and 2 more."));
            QCOMPARE(call.hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("org.varno.workshop"));
            QCOMPARE(call.hints.value(QStringLiteral("x-varno-identifier")).toString(), request.identifier);
        }
        if (error.isEmpty()) {
            QCOMPARE(outcome.id, std::optional<uint>(42));
            QVERIFY(m_fallbacks.isEmpty());
        } else {
            QVERIFY(!outcome.id);
            QVERIFY2(outcome.error.startsWith(error), qPrintable(outcome.error));
            QCOMPARE(m_fallbacks.size(), 1);
            QCOMPARE(m_fallbacks.first().first, request);
            QCOMPARE(m_fallbacks.first().second, outcome.error);
        }
    }

    // The body names apps from the library: a server that reads markup in
    // it gets it escaped, so that a name shows as written; one that does not
    // gets it as it is.
    void namesReachTheServerAsText_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QString>("body");
        const QString name = QStringLiteral("<a href=\"file:///etc/passwd\">Pocketloom</a><b> & co</b>");
        QTest::newRow("a server that reads markup")
            << QStringList{QStringLiteral("body"), QStringLiteral("body-markup")}
            << QStringLiteral("Brusk is standing by. &lt;a href=&quot;file:///etc/passwd&quot;&gt;Pocketloom&lt;/a&gt;"
                              "&lt;b&gt; &amp; co&lt;/b&gt;, Beta.");
        QTest::newRow("a server that shows text")
            << QStringList{QStringLiteral("body")}
            << QStringLiteral("Brusk is standing by. ") + name + QStringLiteral(", Beta.");
    }

    void namesReachTheServerAsText()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(QString, body);
        PrivateBus bus;
        if (!bus.isValid())
            QSKIP("dbus-daemon is missing (Debian package dbus; scripts/setup.sh installs it): no private session bus");
        FakeNotificationServer fake;
        fake.capabilities = capabilities;
        QDBusConnection serverConnection = bus.connect(QStringLiteral("varno-test-server"));
        QVERIFY(serverConnection.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake,
                                                QDBusConnection::ExportAllSlots));
        QVERIFY(serverConnection.registerService(QStringLiteral("org.freedesktop.Notifications")));
        DesktopNotificationCenter center(bus.connect(QStringLiteral("varno-test-client")));
        Outcome outcome;
        center.setOutcomeObserver([&outcome](const UNNotificationRequest &, std::optional<uint> id, const QString &why) {
            outcome.done = true;
            outcome.id = id;
            outcome.error = why;
        });
        const QString name = QStringLiteral("<a href=\"file:///etc/passwd\">Pocketloom</a><b> & co</b>");
        center.add(NotificationManager::updatesReadyRequest(2, {name, QStringLiteral("Beta")}));
        QVERIFY(VarnoTest::waitUntil([&] { return outcome.done; }, 20s));
        QCOMPARE(outcome.id, std::optional<uint>(42));
        QCOMPARE(fake.calls.size(), 1);
        QCOMPARE(fake.calls.first().body, body);
    }

    void noBusGoesStraightToTheFallback()
    {
        VarnoTest::LogCapture log;
        DesktopNotificationCenter center(QDBusConnection(QStringLiteral("varno-test-no-such-connection")));
        const UNNotificationRequest request = NotificationManager::updatesReadyRequest(1, {QStringLiteral("Alpha")});
        center.add(request);
        QCOMPARE(m_fallbacks.size(), 1);
        QCOMPARE(m_fallbacks.first().second, QStringLiteral("no session bus"));

        // Without a fallback the notification is logged, whole.
        UserNotifications::setFallback(nullptr);
        center.add(request);
        QCOMPARE(log.countStartingWith(QStringLiteral("notification not shown by the desktop (no session bus): "
                                                      "VARNO \u2014 1 update ready \u2014 Brusk is standing by. Alpha.")),
                 2);
    }
};

VARNO_TEST_CLASS(TestDesktopNotifications)
#include "tst_desktopnotifications.moc"
