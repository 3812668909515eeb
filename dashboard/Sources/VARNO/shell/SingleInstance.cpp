#include "shell/SingleInstance.h"

#include "base/Logging.h"
#include "shell/VarnoURL.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>

#include <cerrno>
#include <optional>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

const QString socketName = QStringLiteral("org.varno.workshop.sock");

// What answers at a socket path.
enum class Answer {
    nobody,  // nothing there, or nothing listening
    ours,    // this user's socket, and this user's process behind it
    foreign, // a socket file or a listener of another user
};

// The user of the process at the other end of a connected local socket.
std::optional<uid_t> peerUser(qintptr descriptor)
{
    if (descriptor < 0)
        return std::nullopt;
#if defined(SO_PEERCRED)
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof credentials)
        return std::nullopt;
    return credentials.uid;
#else
    uid_t user = 0;
    gid_t group = 0;
    if (::getpeereid(int(descriptor), &user, &group) != 0)
        return std::nullopt;
    return user;
#endif
}

// Whether anything sits at the path itself (a dangling link counts).
bool somethingAt(const QString &path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

// Connects `socket` to the path and says who answered. A socket file of
// another user is not even connected to; a connection whose peer is another
// user is dropped at once, before a byte is written.
Answer connectToOwn(QLocalSocket &socket, const QString &path, int timeoutMs)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return Answer::nobody;
    if (info.st_uid != ::geteuid())
        return Answer::foreign;
    if (!S_ISSOCK(info.st_mode))
        return Answer::nobody;
    socket.connectToServer(path);
    if (!socket.waitForConnected(timeoutMs))
        return Answer::nobody;
    const auto peer = peerUser(socket.socketDescriptor());
    if (!peer || *peer != ::geteuid()) {
        socket.abort();
        return Answer::foreign;
    }
    return Answer::ours;
}

// A real folder (not a link) of this user that neither group nor others may
// enter.
bool isPrivateFolder(const QString &path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

// Makes the folder (mode 0700) unless something is there already, and says
// whether what is there now is a private folder of this user.
bool ensurePrivateFolder(const QString &path)
{
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST)
        return false;
    return isPrivateFolder(path);
}

} // namespace

SingleInstance::SingleInstance(QString socketPath, QObject *parent)
    : QObject(parent)
    , m_socketPath(socketPath.isEmpty() ? defaultSocketPath() : std::move(socketPath))
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultSocketPath()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime)) {
        if (ensurePrivateFolder(runtime))
            return QDir(runtime).filePath(socketName);
        qCWarning(lcVarno, "The runtime folder %s is not private to this user; not used", qPrintable(runtime));
    }
    // The shared temporary folder only holds a folder of our own that nobody
    // else can enter: anyone may create names there.
    const QString own = QDir(QDir::tempPath()).filePath(QStringLiteral("org.varno.workshop-%1").arg(::geteuid()));
    if (ensurePrivateFolder(own))
        return QDir(own).filePath(socketName);
    qCWarning(lcVarno, "%s is not a private folder of this user: other starts of the app are not handed over",
              qPrintable(own));
    return QString();
}

QByteArray SingleInstance::encodeMessage(const QStringList &urls)
{
    return VarnoURL::encodeMessage(urls);
}

std::optional<QStringList> SingleInstance::decodeMessage(const QByteArray &message)
{
    return VarnoURL::decodeMessage(message);
}

bool SingleInstance::forwardToRunning(const QStringList &urls, int timeoutMs) const
{
    if (m_socketPath.isEmpty())
        return false;
    QLocalSocket socket;
    const Answer answer = connectToOwn(socket, m_socketPath, timeoutMs);
    if (answer == Answer::foreign)
        qCWarning(lcVarno, "%s belongs to another user; nothing handed over", qPrintable(m_socketPath));
    if (answer != Answer::ours)
        return false;
    socket.write(encodeMessage(urls));
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(timeoutMs);
    return true;
}

bool SingleInstance::listen()
{
    if (m_server)
        return m_server->isListening();
    if (m_socketPath.isEmpty())
        return false;
    // The lock decides between two starts at the same time: QLocalServer
    // would silently put its socket in place of a live one. A lock whose
    // process has ended counts as free.
    m_lock = std::make_unique<QLockFile>(m_socketPath + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        m_anotherInstance = m_lock->error() == QLockFile::LockFailedError;
        if (m_anotherInstance)
            qCInfo(lcVarno, "Another start of the app holds %s", qPrintable(m_lock->fileName()));
        else
            qCWarning(lcVarno, "Could not lock %s", qPrintable(m_lock->fileName()));
        m_lock.reset();
        return false;
    }
    if (somethingAt(m_socketPath)) {
        // Removed only when it is ours and nobody answers on it: left behind
        // by an app that ended without removing it.
        QLocalSocket probe;
        const Answer answer = connectToOwn(probe, m_socketPath, 1000);
        if (answer == Answer::foreign) {
            qCWarning(lcVarno, "%s belongs to another user; left alone, and other starts are not handed over",
                      qPrintable(m_socketPath));
            m_lock.reset();
            return false;
        }
        if (answer == Answer::ours) {
            probe.abort();
            m_anotherInstance = true;
            qCInfo(lcVarno, "Another start of the app answers on %s", qPrintable(m_socketPath));
            m_lock.reset();
            return false;
        }
        QLocalServer::removeServer(m_socketPath);
    }
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnection);
    if (m_server->listen(m_socketPath))
        return true;
    qCWarning(lcVarno, "Could not listen for other starts of the app: %s", qPrintable(m_server->errorString()));
    return false;
}

bool SingleInstance::handOver(const QStringList &urls, int timeoutMs) const
{
    // The other start holds the lock and listens a moment later.
    QElapsedTimer clock;
    clock.start();
    while (!clock.hasExpired(timeoutMs)) {
        if (forwardToRunning(urls, 500))
            return true;
        QThread::msleep(50);
    }
    return false;
}

bool SingleInstance::isListening() const
{
    return m_server && m_server->isListening();
}

void SingleInstance::acceptConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // Bytes may have arrived with the connection.
        if (socket->bytesAvailable() > 0)
            readFrom(socket);
    }
}

void SingleInstance::readFrom(QLocalSocket *socket)
{
    QByteArray buffered = socket->property("varnoBuffer").toByteArray();
    buffered += socket->readAll();
    if (buffered.size() > maxMessageBytes) {
        qCWarning(lcVarno, "Dropped an oversized message from another start of the app");
        socket->setProperty("varnoBuffer", QByteArray());
        socket->abort();
        return;
    }
    const qsizetype end = buffered.indexOf('\n');
    if (end < 0) {
        socket->setProperty("varnoBuffer", buffered);
        return;
    }
    socket->setProperty("varnoBuffer", QByteArray());
    socket->disconnectFromServer();
    const auto urls = decodeMessage(buffered.left(end));
    if (!urls) {
        qCWarning(lcVarno, "Dropped a malformed message from another start of the app");
        return;
    }
    Q_EMIT messageReceived(*urls);
}
