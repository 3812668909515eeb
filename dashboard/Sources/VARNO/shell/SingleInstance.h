#pragma once

#include "shell/VarnoURL.h"

#include <QLockFile>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QLocalServer;
class QLocalSocket;

// One running app per user. The first start listens on a local socket in a
// folder only this user can enter; a later start hands its command-line URLs
// to it and exits. The message is a JSON array of strings and a line feed;
// anything else, or more than maxMessageBytes, is dropped.
//
// A socket is used (handed URLs, or removed as left behind) only when its file
// belongs to this user and, once connected, so does the process that answers:
// another user's listener is never taken for a running app.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    // `socketPath` defaults to defaultSocketPath(); when that is empty the
    // start neither hands over nor listens, and the app runs on alone.
    explicit SingleInstance(QString socketPath = QString(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // <XDG runtime folder>/org.varno.workshop.sock when that folder is
    // private: a real folder (not a link) of the user that neither group nor
    // others may enter. Else the same name in
    // <temporary folder>/org.varno.workshop-<uid>, a folder made with mode
    // 0700 and used only while it is private. Empty when neither is: a
    // folder another user made or can enter is never used.
    static QString defaultSocketPath();

    QString socketPath() const { return m_socketPath; }

    // Hands `urls` to a running app; true when it took them (this start then
    // ends). Blocks for at most `timeoutMs` per step.
    bool forwardToRunning(const QStringList &urls, int timeoutMs = 2000) const;

    // Starts listening; false when the socket cannot be set up (the app then
    // runs on without it) or another start already listens on it (see
    // anotherInstanceAnswered()). A socket is removed and replaced only when
    // it is this user's and a connection to it fails: it was left behind by
    // an app that is gone. Another user's socket or listener is left alone.
    bool listen();
    // listen() found a live app on the socket (two starts at the same time:
    // the later one hands its URLs over and ends).
    bool anotherInstanceAnswered() const { return m_anotherInstance; }
    // forwardToRunning(), tried again until the other start listens (at most
    // `timeoutMs`); for the start that lost the race.
    bool handOver(const QStringList &urls, int timeoutMs = 5000) const;
    bool isListening() const;

    // The URLs the message carries, or nothing when it is not one.
    static std::optional<QStringList> decodeMessage(const QByteArray &message);
    static QByteArray encodeMessage(const QStringList &urls);

    static constexpr qsizetype maxMessageBytes = VarnoURL::maxMessageBytes;
    static constexpr int maxUrls = VarnoURL::maxUrls;

Q_SIGNALS:
    // Another start handed these over (possibly none: it was simply started again).
    void messageReceived(const QStringList &urls);

private:
    void acceptConnection();
    void readFrom(QLocalSocket *socket);

    QString m_socketPath;
    std::unique_ptr<QLockFile> m_lock;
    bool m_anotherInstance = false;
    QLocalServer *m_server = nullptr;
};
