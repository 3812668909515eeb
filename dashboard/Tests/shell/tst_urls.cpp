#include "AppTestSupport.h"
#include "TestRegistry.h"

#include "shell/SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Another user of the machine: nobody.
constexpr uid_t otherUser = 65534;
constexpr gid_t otherGroup = 65534;

const char *needsRoot = "needs root: the test hands files to another user (uid 65534) and runs a process as that user";

// Sets or unsets environment variables for the object's lifetime.
class EnvOverride {
public:
    EnvOverride() = default;
    EnvOverride(const EnvOverride &) = delete;
    EnvOverride &operator=(const EnvOverride &) = delete;
    ~EnvOverride()
    {
        for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it) {
            if (it.value())
                qputenv(it.key().constData(), *it.value());
            else
                qunsetenv(it.key().constData());
        }
    }

    void set(const char *name, const std::optional<QByteArray> &value)
    {
        if (!m_saved.contains(name))
            m_saved.insert(name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }

private:
    QHash<QByteArray, std::optional<QByteArray>> m_saved;
};

struct Entry {
    uid_t owner = 0;
    mode_t mode = 0; // type and permission bits
};

std::optional<Entry> entryAt(const QString &path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return Entry{info.st_uid, info.st_mode};
}

sockaddr_un socketAddress(const QByteArray &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(qMin(path.size(), qsizetype(sizeof(address.sun_path) - 1))));
    return address;
}

// A process that listens on a Unix socket, as another user or as ourselves,
// and passes every byte it is sent on to the test through a pipe.
class Listener {
public:
    Listener(const QString &path, std::optional<uid_t> user)
        : m_path(QFile::encodeName(path))
    {
        int pipeEnds[2];
        if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
            m_error = QStringLiteral("no pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        const sockaddr_un address = socketAddress(m_path);
        m_pid = ::fork();
        if (m_pid == 0) {
            // The child does only what is safe after a fork.
            ::close(pipeEnds[0]);
            const int out = pipeEnds[1];
            const auto fail = [out](char step) {
                const int error = errno;
                char report[1 + sizeof error];
                report[0] = step;
                std::memcpy(report + 1, &error, sizeof error);
                (void)!::write(out, report, sizeof report);
                ::_exit(1);
            };
            if (user && (::setgroups(0, nullptr) != 0 || ::setgid(otherGroup) != 0 || ::setuid(*user) != 0))
                fail('U');
            const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
            if (server < 0)
                fail('S');
            if (::bind(server, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
                fail('B');
            if (::listen(server, 16) != 0)
                fail('L');
            (void)!::write(out, "R", 1);
            for (;;) {
                const int client = ::accept(server, nullptr, nullptr);
                if (client < 0) {
                    if (errno == EINTR)
                        continue;
                    ::_exit(2);
                }
                char buffer[4096];
                ssize_t got = 0;
                while ((got = ::read(client, buffer, sizeof buffer)) > 0)
                    (void)!::write(out, buffer, size_t(got));
                ::close(client);
            }
        }
        ::close(pipeEnds[1]);
        m_out = pipeEnds[0];
        if (m_pid < 0) {
            m_error = QStringLiteral("no child: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        const QByteArray first = readFor(1 + sizeof(int));
        if (first == "R")
            return;
        int error = 0;
        if (first.size() == 1 + qsizetype(sizeof error))
            std::memcpy(&error, first.constData() + 1, sizeof error);
        const QString reason = QString::fromLocal8Bit(std::strerror(error));
        if (first.startsWith('U'))
            m_error = QStringLiteral("this machine does not let a process switch to uid %1: %2").arg(otherUser).arg(reason);
        else
            m_error = QStringLiteral("the listener could not listen at %1: %2").arg(path, reason);
    }

    ~Listener()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0)
            ::close(m_out);
    }

    // Empty when the listener listens.
    QString error() const { return m_error; }

    // Everything the listener has been sent so far: the test connects itself,
    // sends an end mark and reads until the listener passes it on (it takes
    // one connection at a time, in order). Nothing when it no longer answers.
    std::optional<QByteArray> receivedSoFar()
    {
        static const QByteArray endMark = "\n(end of what the test sent)\n";
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd < 0)
            return std::nullopt;
        const sockaddr_un address = socketAddress(m_path);
        const bool sent = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0
            && ::write(fd, endMark.constData(), size_t(endMark.size())) == endMark.size();
        ::close(fd);
        if (!sent)
            return std::nullopt;
        QByteArray received;
        while (!received.endsWith(endMark)) {
            const QByteArray more = readFor(4096);
            if (more.isEmpty())
                return std::nullopt;
            received += more;
        }
        received.chop(endMark.size());
        return received;
    }

private:
    // Up to `most` bytes from the child, waiting for the first at most 30 s.
    QByteArray readFor(qsizetype most)
    {
        pollfd wait{m_out, POLLIN, 0};
        if (::poll(&wait, 1, 30000) <= 0)
            return {};
        QByteArray bytes(most, Qt::Uninitialized);
        const ssize_t got = ::read(m_out, bytes.data(), size_t(most));
        bytes.resize(got > 0 ? got : 0);
        return bytes;
    }

    QByteArray m_path;
    pid_t m_pid = -1;
    int m_out = -1;
    QString m_error;
};

} // namespace

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
        QCOMPARE(recording.journal, (QStringList{"activate", "checkForUpdates", "activate", "checkForUpdates"}));
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
    static QString appExecutable() { return VarnoTest::stagedBundlePath() + QStringLiteral("/Contents/MacOS/VARNO"); }

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
        QTest::newRow("oversized") << (QByteArray("[\"") + QByteArray(SingleInstance::maxMessageBytes + 10, 'a')
                                       + "\"]\n");
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

    // Only a folder of the user's own that nobody else can enter holds the
    // socket: a runtime folder that is not private is passed over for one the
    // app makes in the temporary folder, and when that name is taken by a
    // folder that is not private either, the app hands nothing over.
    void socketFolderIsPrivateToTheUser_data()
    {
        QTest::addColumn<QString>("runtime");  // unset, relative, absent or a kind of folder
        QTest::addColumn<QString>("fallback"); // absent or a kind of folder
        QTest::addColumn<QString>("used");     // runtime, fallback or none

        QTest::newRow("runtime folder of the user") << "private"
                                                    << "absent"
                                                    << "runtime";
        QTest::newRow("runtime folder not made yet") << "absent"
                                                     << "absent"
                                                     << "runtime";
        QTest::newRow("no runtime folder set") << "unset"
                                               << "absent"
                                               << "fallback";
        QTest::newRow("runtime folder given as a relative path") << "relative"
                                                                 << "absent"
                                                                 << "fallback";
        QTest::newRow("runtime folder open to the group") << "group"
                                                          << "absent"
                                                          << "fallback";
        QTest::newRow("runtime folder others may enter") << "others"
                                                         << "absent"
                                                         << "fallback";
        QTest::newRow("runtime folder of another user") << "another user"
                                                        << "absent"
                                                        << "fallback";
        QTest::newRow("runtime folder through a link") << "link"
                                                       << "absent"
                                                       << "fallback";
        QTest::newRow("fallback made by an earlier start") << "unset"
                                                           << "private"
                                                           << "fallback";
        QTest::newRow("fallback planted by another user") << "unset"
                                                          << "another user"
                                                          << "none";
        QTest::newRow("fallback open to others") << "group"
                                                 << "others"
                                                 << "none";
        QTest::newRow("fallback through a link") << "unset"
                                                 << "link"
                                                 << "none";
    }

    void socketFolderIsPrivateToTheUser()
    {
        QFETCH(QString, runtime);
        QFETCH(QString, fallback);
        QFETCH(QString, used);
        if ((runtime == QLatin1String("another user") || fallback == QLatin1String("another user")) && ::geteuid() != 0)
            QSKIP(needsRoot);

        QTemporaryDir base;
        QVERIFY(base.isValid());
        const QString runtimePath = base.filePath(QStringLiteral("run"));
        const QString tmp = base.filePath(QStringLiteral("tmp"));
        QVERIFY(QDir().mkpath(tmp));
        const QString fallbackPath = tmp + QStringLiteral("/org.varno.workshop-%1").arg(::geteuid());
        const QString target = base.filePath(QStringLiteral("private elsewhere"));
        QCOMPARE(::mkdir(QFile::encodeName(target).constData(), 0700), 0);

        const auto plant = [&](const QString &path, const QString &kind) {
            const QByteArray native = QFile::encodeName(path);
            if (kind == QLatin1String("link"))
                return ::symlink(QFile::encodeName(target).constData(), native.constData()) == 0;
            if (::mkdir(native.constData(), 0700) != 0)
                return false;
            if (kind == QLatin1String("group"))
                return ::chmod(native.constData(), 0770) == 0;
            if (kind == QLatin1String("others"))
                return ::chmod(native.constData(), 0701) == 0;
            if (kind == QLatin1String("another user"))
                return ::chown(native.constData(), otherUser, otherGroup) == 0;
            return kind == QLatin1String("private");
        };
        const bool runtimeIsFolder = runtime != QLatin1String("unset") && runtime != QLatin1String("relative")
            && runtime != QLatin1String("absent");
        if (runtimeIsFolder)
            QVERIFY(plant(runtimePath, runtime));
        if (fallback != QLatin1String("absent"))
            QVERIFY(plant(fallbackPath, fallback));
        const auto runtimeBefore = entryAt(runtimePath);
        const auto fallbackBefore = entryAt(fallbackPath);

        EnvOverride env;
        env.set("TMPDIR", QFile::encodeName(tmp));
        if (runtime == QLatin1String("unset"))
            env.set("XDG_RUNTIME_DIR", std::nullopt);
        else if (runtime == QLatin1String("relative"))
            env.set("XDG_RUNTIME_DIR", QByteArray("run"));
        else
            env.set("XDG_RUNTIME_DIR", QFile::encodeName(runtimePath));

        const QString folder = used == QLatin1String("runtime") ? runtimePath : fallbackPath;
        const QString expected = used == QLatin1String("none") ? QString()
                                                               : folder + QStringLiteral("/org.varno.workshop.sock");
        QCOMPARE(SingleInstance::defaultSocketPath(), expected);

        // What another user made or may enter is left as it was.
        if (runtimeIsFolder && used != QLatin1String("runtime")) {
            QCOMPARE(entryAt(runtimePath)->owner, runtimeBefore->owner);
            QCOMPARE(entryAt(runtimePath)->mode, runtimeBefore->mode);
        }
        if (fallback != QLatin1String("absent") && used == QLatin1String("none")) {
            QCOMPARE(entryAt(fallbackPath)->owner, fallbackBefore->owner);
            QCOMPARE(entryAt(fallbackPath)->mode, fallbackBefore->mode);
            QVERIFY(QDir(target).isEmpty());
        }

        if (used == QLatin1String("none")) {
            // The start neither hands over nor listens: the app runs on alone.
            SingleInstance start;
            QVERIFY(start.socketPath().isEmpty());
            QVERIFY(!start.forwardToRunning({QStringLiteral("varno://update")}, 500));
            QVERIFY(!start.listen());
            QVERIFY(!start.anotherInstanceAnswered());
            QVERIFY(!QFileInfo::exists(fallbackPath + QStringLiteral("/org.varno.workshop.sock")));
            return;
        }

        // The folder in use is the user's own, private, and a made one is 0700.
        const auto made = entryAt(folder);
        QVERIFY(made);
        QVERIFY(S_ISDIR(made->mode));
        QCOMPARE(made->owner, ::geteuid());
        QCOMPARE(made->mode & 0777, mode_t(0700));
        // And a second start hands its URLs over through it.
        SingleInstance first;
        QVERIFY(first.listen());
        QSignalSpy received(&first, &SingleInstance::messageReceived);
        SingleInstance second;
        QVERIFY(second.forwardToRunning({QStringLiteral("varno://update")}));
        QVERIFY(received.count() == 1 || received.wait(5000));
        QCOMPARE(received.first().first().toStringList(), QStringList{QStringLiteral("varno://update")});
    }

    // A socket whose file or listener belongs to another user is not a
    // running app of ours: nothing is handed to it, it is not removed, and
    // the start goes on without taking it for another start.
    void anotherUsersSocketIsNeitherUsedNorRemoved_data()
    {
        QTest::addColumn<bool>("listenerOfAnotherUser");
        QTest::addColumn<bool>("fileOfAnotherUser");
        QTest::newRow("another user listens on a socket of theirs") << true << true;
        QTest::newRow("another user listens behind a socket file of ours") << true << false;
        QTest::newRow("a socket file of another user") << false << true;
    }

    void anotherUsersSocketIsNeitherUsedNorRemoved()
    {
        QFETCH(bool, listenerOfAnotherUser);
        QFETCH(bool, fileOfAnotherUser);
        if (::geteuid() != 0)
            QSKIP(needsRoot);

        // A folder the other user may bind in; the system's temporary folder
        // lets every user reach it.
        QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/varno-peer-XXXXXX"));
        QVERIFY(folder.isValid());
        QCOMPARE(::chown(QFile::encodeName(folder.path()).constData(), otherUser, otherGroup), 0);
        const QString path = folder.filePath(QStringLiteral("org.varno.workshop.sock"));
        Listener listener(path, listenerOfAnotherUser ? std::optional(otherUser) : std::nullopt);
        if (!listener.error().isEmpty())
            QSKIP(qPrintable(listener.error()));
        const uid_t fileOwner = fileOfAnotherUser ? otherUser : ::geteuid();
        QCOMPARE(::lchown(QFile::encodeName(path).constData(), fileOwner, gid_t(-1)), 0);

        SingleInstance start(path);
        QVERIFY(!start.forwardToRunning({QStringLiteral("varno://update")}, 2000));
        QVERIFY(!start.listen());
        QVERIFY(!start.anotherInstanceAnswered());
        QVERIFY(!start.isListening());
        QVERIFY(!start.handOver({QStringLiteral("varno://update")}, 300));

        // The socket is still the listener's, and it was handed nothing.
        const auto socketFile = entryAt(path);
        QVERIFY(socketFile);
        QVERIFY(S_ISSOCK(socketFile->mode));
        QCOMPARE(socketFile->owner, fileOwner);
        const auto received = listener.receivedSoFar();
        QVERIFY2(received, "the listener no longer answers on its socket");
        QCOMPARE(*received, QByteArray());
    }

    void messagesRoundTrip()
    {
        const QStringList urls{QStringLiteral("varno://update"), QString(), QStringLiteral("caf\u00e9 \"x\"")};
        QCOMPARE(SingleInstance::decodeMessage(SingleInstance::encodeMessage(urls)), std::optional<QStringList>(urls));
        QCOMPARE(SingleInstance::decodeMessage(SingleInstance::encodeMessage({})),
                 std::optional<QStringList>(QStringList()));
    }
};

VARNO_TEST_CLASS(TestUrlScheme)
VARNO_TEST_CLASS(TestSingleInstance)
#include "tst_urls.moc"
