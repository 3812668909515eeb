#pragma once

#include "TestSupport.h"

#include "engine/VARNOError.h"
#include "engine/VARNOProcess.h"
#include "model/AppModel.h"
#include "records/DeveloperWorkbenchState.h"
#include "records/RetentionStatus.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QList>
#include <QObject>
#include <QWidget>

#include <qcoro/qcorosignal.h>
#include <qcoro/qcorotask.h>

#include <deque>
#include <memory>
#include <optional>

namespace SettingsTest {

// Probes that answer at once and touch nothing.
inline AppModelServices quietServices()
{
    return AppModelServices::quiet();
}

// One engine call held until the test answers it.
class PendingCall : public QObject {
    Q_OBJECT

public:
    explicit PendingCall(QStringList arguments)
        : arguments(std::move(arguments))
    {
    }

    const QStringList arguments;
    bool answered = false;
    std::optional<RetentionStatus> status; // the answer's record, if any
    std::optional<VARNOError> failure;
    bool flag = false; // a yes/no answer
    QString summary;   // a report's summary

    void succeedWith(bool value)
    {
        flag = value;
        succeed();
    }
    void succeedWith(const QString &text)
    {
        summary = text;
        succeed();
    }

    void succeed(std::optional<RetentionStatus> record = std::nullopt)
    {
        status = std::move(record);
        answered = true;
        Q_EMIT done();
        settle();
    }
    void fail(const QString &stderrText)
    {
        failure = VARNOError::processFailure(1, stderrText);
        answered = true;
        Q_EMIT done();
        settle();
    }

    // The waiting coroutine resumes from the event loop: let it run, and
    // what it queues in turn.
    static void settle()
    {
        for (int i = 0; i < 6; ++i)
            QCoreApplication::processEvents();
    }

    QCoro::Task<void> wait()
    {
        if (!answered)
            co_await qCoro(this, &PendingCall::done);
        if (failure)
            throw *failure;
    }

Q_SIGNALS:
    void done();
};

// A scripted engine: every call is recorded and waits until the test answers it.
class ScriptedEngine {
public:
    std::deque<std::shared_ptr<PendingCall>> calls;

    std::shared_ptr<PendingCall> record(QStringList arguments)
    {
        auto call = std::make_shared<PendingCall>(std::move(arguments));
        calls.push_back(call);
        return call;
    }
    std::shared_ptr<PendingCall> last() const { return calls.empty() ? nullptr : calls.back(); }
    int openCount() const
    {
        int open = 0;
        for (const auto &call : calls)
            open += call->answered ? 0 : 1;
        return open;
    }
    // Answers every call still open, so that no coroutine is left waiting.
    void answerAll()
    {
        for (const auto &call : calls) {
            if (!call->answered)
                call->fail(QStringLiteral("test over"));
        }
    }
    // Answers every open call, and every call that an answer or an event
    // still queued leads to (a saver's drain started from the event loop),
    // until none is left: no coroutine may outlive the test's engine.
    void answerUntilQuiet()
    {
        for (int round = 0; round < 20; ++round) {
            PendingCall::settle();
            if (openCount() == 0)
                return;
            answerAll();
        }
    }
};

inline QCoro::Task<RetentionStatus> answerWithStatus(std::shared_ptr<PendingCall> call)
{
    co_await call->wait();
    co_return call->status.value_or(RetentionStatus());
}

inline QCoro::Task<bool> answerWithFlag(std::shared_ptr<PendingCall> call)
{
    co_await call->wait();
    co_return call->flag;
}

inline QCoro::Task<DeveloperReport> answerWithReport(std::shared_ptr<PendingCall> call)
{
    co_await call->wait();
    DeveloperReport report;
    report.summary = call->summary;
    co_return report;
}

inline QCoro::Task<void> answerVoid(std::shared_ptr<PendingCall> call)
{
    co_await call->wait();
}

inline RetentionStatus statusWith(qint64 keep, qint64 days, qint64 pendingCount = 0, bool autoPrune = false)
{
    RetentionStatus status;
    status.policy.keepPerApp = keep;
    status.policy.retentionDays = days;
    status.pendingPlan.count = pendingCount;
    status.pendingPlan.bytes = pendingCount * 1048576;
    status.usage.bytes = 5 * 1048576;
    status.usage.snapshotCount = 3 + pendingCount;
    status.usage.bundleCount = 2;
    status.consent.autoPruneAllowed = autoPrune;
    status.consent.granted = autoPrune;
    status.consent.asked = autoPrune;
    return status;
}

// The texts of the labels of `root` that a person would see.
inline QStringList visibleTexts(QWidget *root)
{
    QStringList texts;
    for (QLabel *label : root->findChildren<QLabel *>()) {
        if (label->isVisibleTo(root) && !label->text().isEmpty())
            texts.append(label->text());
    }
    return texts;
}

template<typename T>
T *child(QWidget *root, const QString &name)
{
    T *found = root->findChild<T *>(name);
    if (!found)
        qFatal("no child named %s", qPrintable(name));
    return found;
}

// The argument vectors the engine stand-in received (after the contract
// flag), in order, from its journal; the harness's own commands left out.
inline QList<QStringList> engineJournal()
{
    QList<QStringList> entries = VarnoTest::engineCommands();
    entries.removeIf([](const QStringList &argv) {
        return argv.value(0) == QLatin1String("sim") || argv.value(0) == QLatin1String("migrate");
    });
    return entries;
}

// The journal's commands that start with these words.
inline QList<QStringList> journalOf(const QStringList &prefix)
{
    QList<QStringList> matching;
    for (const QStringList &argv : engineJournal()) {
        if (argv.mid(0, prefix.size()) == prefix)
            matching.append(argv);
    }
    return matching;
}

// Adds one knob rule to the engine stand-in.
inline void setKnob(const QByteArray &ruleJson)
{
    VarnoTest::runEngine(
        {QStringLiteral("sim"), QStringLiteral("knobs"), QStringLiteral("set"), QString::fromUtf8(ruleJson)});
}

} // namespace SettingsTest
