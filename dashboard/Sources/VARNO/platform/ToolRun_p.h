#pragma once

#include "platform/ToolRunner.h"

#include <QObject>
#include <QProcess>
#include <QTimer>

// One run of one tool, driven by QProcess's signals on the thread that owns
// it. ToolRunner::run() awaits completed(); runBlocking() runs it on a thread
// of its own. Not for use outside the tool runner.
class ToolRun : public QObject {
    Q_OBJECT

public:
    explicit ToolRun(ToolRequest request, QObject *parent = nullptr);
    ~ToolRun() override;

    void start();
    bool isDone() const { return m_done; }
    ToolResult takeResult() { return std::move(m_result); }

Q_SIGNALS:
    void completed();

private:
    void readStandardOutput();
    void readStandardError();
    void onFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void onErrorOccurred(QProcess::ProcessError error);
    void onDeadline();
    void onGraceOver();
    void signalGroup(int signalNumber);
    void finish(ToolResult::Status status);

    ToolRequest m_request;
    QProcess m_process;
    QTimer m_deadline;
    QTimer m_grace;
    ToolResult m_result;
    bool m_done = false;
    bool m_timedOut = false;
};
