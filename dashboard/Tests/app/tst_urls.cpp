#include "AppTestSupport.h"
#include "TestRegistry.h"

#include "shell/SingleInstance.h"

#include <QDir>
#include <QLocalSocket>
#include <QProcess>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

class TestUrlScheme : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void onlyUpdateAddressesOfOurSchemeMatch_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("matches");

        QTest::newRow("check-for-updates") << "varno://check-for-updates" << true;
        QTest::newRow("update") << "varno://update" << true;
        QTest::newRow("host in capitals") << "varno://UPDATE" << true;
        QTest::newRow("mixed-case host") << "varno://Check-For-Updates" << true;
        QTest::newRow("path, query and fragment are not read") << "varno://check-for-updates/now?x=1#top" << true;
        QTest::newRow("user and port are not read") << "varno://me@update:99" << true;
        QTest::newRow("scheme in capitals") << "VARNO://update" << false;
        QTest::newRow("other scheme") << "https://check-for-updates" << false;
        QTest::newRow("other host") << "varno://scan" << false;
        QTest::newRow("host as path") << "varno:update" << false;
        QTest::newRow("no host") << "varno://" << false;
        QTest::newRow("no scheme") << "//update" << false;
        QTest::newRow("plain word") << "update" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("option") << "--update" << false;
        QTest::newRow("host with a suffix") << "varno://update.evil" << false;
        QTest::newRow("scheme with blank") << " varno://update" << false;
        QTest::newRow("non-ASCII host") << "varno://\u00fcpdate" << false;
        QTest::newRow("very long") << QString("varno://update/") + QString(100000, QLatin1Char('a')) << true;
    }

    void onlyUpdateAddressesOfOurSchemeMatch()
    {
        QFETCH(QString, url);
        QFETCH(bool, matches);
        QCOMPARE(AppDelegate::isUpdateCheckURL(url), matches);
    }

    void eachMatchingUrlStartsItsOwnCheck()
    {
        AppTest::RecordingLaunch recording;
        AppModel model(AppTest::quietServices());
        AppDelegate delegate(&model, recording.environment());
        delegate.openURLs({"varno://update", "https://update", "varno://scan", "varno://CHECK-FOR-UPDATES?x"});
        QCOMPARE(recording.journal,
                 (QStringList{"activate", "checkForUpdates", "activate", "checkForUpdates"}));
    }

    void nothingWhileTheUpdaterCannotCheck()
    {
        AppTest::RecordingLaunch recording;
        recording.canCheck = false;
        AppModel model(AppTest::quietServices());
        AppDelegate delegate(&model, recording.environment());
        delegate.openURLs({"varno://update", "varno://check-for-updates"});
        QVERIFY(recording.journal.isEmpty());
    }
};

class TestSingleInstance : public QObject {
    Q_OBJECT

private:
    static QString appExecutable()
    {
        return VarnoTest::stagedBundlePath() + QStringLiteral("/Contents/MacOS/VARNO");
    }

private Q_SLOTS:
    void socketLivesInTheUsersRuntimeFolder()
    {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        QVERIFY(!runtime.isEmpty());
        QCOMPARE(SingleInstance::defaultSocketPath(), QDir(runtime).filePath("org.varno.workshop.sock"));
    }

    void secondStartHandsItsUrlToTheFirst()
    {
        SingleInstance first;
        QVERIFY(first.listen());
        QSignalSpy received(&first, &SingleInstance::messageReceived);

        QProcess second;
        second.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        second.start(appExecutable(), {QStringLiteral("varno://update")});
        QVERIFY(second.waitForStarted(10000));
        // The second start only hands over and ends; it never starts the app.
        QVERIFY(received.wait(20000));
        if (!second.waitForFinished(20000)) {
            second.kill();
            second.waitForFinished();
            QFAIL("the second start did not end");
        }
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(received.count(), 1);
        QCOMPARE(received.first().first().toStringList(), QStringList{QStringLiteral("varno://update")});
    }

    void forwardingFailsWithNobodyListening()
    {
        SingleInstance instance(QDir(qEnvironmentVariable("XDG_RUNTIME_DIR")).filePath("nobody.sock"));
        QVERIFY(!instance.forwardToRunning({QStringLiteral("varno://update")}, 500));
    }

    void socketLeftBehindIsReplaced()
    {
        const QString path = QDir(qEnvironmentVariable("XDG_RUNTIME_DIR")).filePath("stale.sock");
        QVERIFY(VarnoTest::writeFile(path, "left behind"));
        SingleInstance instance(path);
        QVERIFY(instance.listen());
        QSignalSpy received(&instance, &SingleInstance::messageReceived);
        SingleInstance second(path);
        QVERIFY(second.forwardToRunning({QStringLiteral("varno://check-for-updates")}));
        QVERIFY(received.count() == 1 || received.wait(5000));
    }

    // Two first starts at once: the later one finds the earlier one's socket
    // live and leaves it alone, so the earlier one keeps its messages.
    void aLiveSocketIsNeverTakenOver()
    {
        const QString path = QDir(qEnvironmentVariable("XDG_RUNTIME_DIR")).filePath("race.sock");
        SingleInstance first(path);
        QVERIFY(first.listen());
        QVERIFY(!first.anotherInstanceAnswered());
        QSignalSpy received(&first, &SingleInstance::messageReceived);

        SingleInstance second(path);
        QVERIFY(!second.listen());
        QVERIFY(second.anotherInstanceAnswered());
        QVERIFY(!second.isListening());
        QVERIFY(QFileInfo::exists(path));

        // The first still answers on the same socket, and the second hands over.
        QVERIFY(second.forwardToRunning({QStringLiteral("varno://update")}));
        QVERIFY(received.count() == 1 || received.wait(5000));
        QCOMPARE(received.first().first().toStringList(), QStringList{QStringLiteral("varno://update")});
    }

    void malformedMessagesAreDropped_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("not JSON") << QByteArray("varno://update\n");
        QTest::newRow("object") << QByteArray("{\"url\":\"varno://update\"}\n");
        QTest::newRow("number in the list") << QByteArray("[\"varno://update\", 3]\n");
        QTest::newRow("oversized") << (QByteArray("[\"") + QByteArray(SingleInstance::maxMessageBytes + 10, 'a') + "\"]\n");
        QTest::newRow("binary") << QByteArray("\xff\xfe\x00[]\n", 6);
    }

    void malformedMessagesAreDropped()
    {
        QFETCH(QByteArray, message);
        const QString path = QDir(qEnvironmentVariable("XDG_RUNTIME_DIR")).filePath("malformed.sock");
        SingleInstance instance(path);
        QVERIFY(instance.listen());
        QSignalSpy received(&instance, &SingleInstance::messageReceived);
        {
            QLocalSocket socket;
            socket.connectToServer(path);
            QVERIFY(socket.waitForConnected(2000));
            socket.write(message);
            socket.waitForBytesWritten(2000);
            socket.disconnectFromServer();
        }
        // A good message after the bad one still arrives, alone.
        SingleInstance second(path);
        QVERIFY(second.forwardToRunning({QStringLiteral("varno://update")}));
        QVERIFY(VarnoTest::waitUntil([&] { return received.count() >= 1; }, std::chrono::seconds(5)));
        QTest::qWait(50);
        QCOMPARE(received.count(), 1);
        QCOMPARE(received.first().first().toStringList(), QStringList{QStringLiteral("varno://update")});
    }

    void messagesRoundTrip()
    {
        const QStringList urls{QStringLiteral("varno://update"), QString(), QStringLiteral("caf\u00e9 \"x\"")};
        QCOMPARE(SingleInstance::decodeMessage(SingleInstance::encodeMessage(urls)), std::optional<QStringList>(urls));
        QCOMPARE(SingleInstance::decodeMessage(SingleInstance::encodeMessage({})), std::optional<QStringList>(QStringList()));
    }
};

VARNO_TEST_CLASS(TestUrlScheme)
VARNO_TEST_CLASS(TestSingleInstance)
#include "tst_urls.moc"
