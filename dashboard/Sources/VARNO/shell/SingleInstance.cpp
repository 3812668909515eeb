#include "shell/SingleInstance.h"

#include "platform/Logging.h"
#include "shell/VarnoURL.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLockFile>
#include <QThread>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <unistd.h>

SingleInstance::SingleInstance(QString socketPath, QObject *parent)
    : QObject(parent)
    , m_socketPath(socketPath.isEmpty() ? defaultSocketPath() : std::move(socketPath))
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultSocketPath()
{
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty() && QDir().mkpath(runtime))
        return QDir(runtime).filePath(QStringLiteral("org.varno.workshop.sock"));
    return QDir(QDir::tempPath()).filePath(QStringLiteral("org.varno.workshop-%1.sock").arg(::getuid()));
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
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(timeoutMs))
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
    if (QFileInfo::exists(m_socketPath)) {
        // Removed only when nobody answers on it: left behind by an app that
        // ended without removing it.
        QLocalSocket probe;
        probe.connectToServer(m_socketPath);
        if (probe.waitForConnected(1000)) {
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
