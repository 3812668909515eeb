#pragma once

#include "platform/ChildProcesses.h"
#include "platform/ToolRunner.h"

#include <QObject>
#include <QProcess>
#include <QTimer>

#include <memory>

// One run of one tool, driven by QProcess's signals on the thread that owns
// it. ToolRunner::run() awaits completed(); runBlocking() runs it on a thread
// of the tool pool. Not for use outside the tool runner.
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
    // On the heap: a run that goes while its tool still runs hands the
    // process to a reaper that ends it in the background.
    std::unique_ptr<QProcess> m_process;
    QTimer m_deadline;
    QTimer m_grace;
    ToolResult m_result;
    bool m_done = false;
    bool m_timedOut = false;
};

// Ends the tool of a run that went away while it ran, without blocking:
// SIGTERM to the tool's group at once, SIGKILL after the run's grace, and the
// process is deleted once it has exited. Lives on the application's thread
// (as a child of the application, so the quit path still finds it).
class ToolReaper : public QObject {
    Q_OBJECT

public:
    ToolReaper(QProcess *process, std::chrono::milliseconds grace, QObject *parent);
    ~ToolReaper() override;

private:
    void onFinished();

    ChildProcesses::Stopper m_stopper;
};
