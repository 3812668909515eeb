#include "shell/SingleInstance.h"

#include "platform/Logging.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
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
    return QJsonDocument(QJsonArray::fromStringList(urls.mid(0, maxUrls))).toJson(QJsonDocument::Compact)
           + '\n';
}

std::optional<QStringList> SingleInstance::decodeMessage(const QByteArray &message)
{
    if (message.size() > maxMessageBytes)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(message.trimmed(), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QStringList urls;
    for (const QJsonValue &value : document.array()) {
        if (!value.isString())
            return std::nullopt;
        urls.append(value.toString());
    }
    if (urls.size() > maxUrls)
        return std::nullopt;
    return urls;
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
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnection);
    if (m_server->listen(m_socketPath))
        return true;
    // Nobody answered on it (forwardToRunning() came first): a socket file
    // left behind by an app that ended without removing it.
    if (m_server->serverError() == QAbstractSocket::AddressInUseError) {
        QLocalServer::removeServer(m_socketPath);
        if (m_server->listen(m_socketPath))
            return true;
    }
    qCWarning(lcVarno, "Could not listen for other starts of the app: %s", qPrintable(m_server->errorString()));
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
