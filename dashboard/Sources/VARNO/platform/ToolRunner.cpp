#include "platform/ToolRunner.h"

#include "platform/ToolRun_p.h"

#include "base/Async.h"
#include "platform/ChildProcesses.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QStringDecoder>
#include <QThread>

#include <qcoro/qcorosignal.h>

#include <cmath>

#include <signal.h>
#include <unistd.h>

namespace {

void appendCapped(QByteArray &buffer, bool &truncated, const QByteArray &chunk, qsizetype cap)
{
    if (chunk.isEmpty())
        return;
    const qsizetype room = std::max<qsizetype>(0, cap - buffer.size());
    if (chunk.size() <= room) {
        buffer.append(chunk);
    } else {
        buffer.append(chunk.left(room));
        truncated = true;
    }
}

} // namespace

// ---------------------------------------------------------------------------
// ToolReaper

ToolReaper::ToolReaper(QProcess *process, std::chrono::milliseconds grace, QObject *parent)
    : QObject(parent)
    , m_stopper(process, int(std::max(grace, std::chrono::milliseconds(0)).count()))
{
    process->setParent(this);
    connect(process, &QProcess::finished, this, &ToolReaper::onFinished);
    // The tool's group gets SIGTERM now and SIGKILL after the grace.
    m_stopper.stop();
    if (process->state() == QProcess::NotRunning)
        deleteLater();
}

ToolReaper::~ToolReaper() = default;

void ToolReaper::onFinished()
{
    m_stopper.childFinished();
    deleteLater();
}

// ---------------------------------------------------------------------------
// ToolRun

ToolRun::ToolRun(ToolRequest request, QObject *parent)
    : QObject(parent)
    , m_request(std::move(request))
    , m_process(std::make_unique<QProcess>())
{
    m_deadline.setSingleShot(true);
    m_grace.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &ToolRun::onDeadline);
    connect(&m_grace, &QTimer::timeout, this, &ToolRun::onGraceOver);
    connect(m_process.get(), &QProcess::readyReadStandardOutput, this, &ToolRun::readStandardOutput);
    connect(m_process.get(), &QProcess::readyReadStandardError, this, &ToolRun::readStandardError);
    connect(m_process.get(), &QProcess::finished, this, &ToolRun::onFinished);
    connect(m_process.get(), &QProcess::errorOccurred, this, &ToolRun::onErrorOccurred);
}

ToolRun::~ToolRun()
{
    if (m_process->state() == QProcess::NotRunning)
        return;
    // Whoever waited for us has gone; leave nothing running behind, and keep
    // the caller's thread free while the tool stops.
    m_process->disconnect(this);
    QProcess *process = m_process.release();
    QCoreApplication *app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread()) {
        new ToolReaper(process, m_request.killGrace, app);
        return;
    }
    // A worker thread may have no event loop to reap the tool later; a
    // killed tool exits at once.
    ChildProcesses::signalGroup(process->processId(), SIGKILL);
    process->waitForFinished(2000);
    delete process;
}

void ToolRun::start()
{
    const QString program = ToolPaths::resolve(m_request.program);
    if (program.isEmpty()) {
        m_result.errorString = QStringLiteral("no program given");
        finish(ToolResult::Status::FailedToStart);
        return;
    }
    m_process->setProgram(program);
    m_process->setArguments(m_request.arguments);
    if (m_request.workingDirectory)
        m_process->setWorkingDirectory(*m_request.workingDirectory);
    if (m_request.environment)
        m_process->setProcessEnvironment(*m_request.environment);
    if (!m_request.captureStandardOutput)
        m_process->setStandardOutputFile(QProcess::nullDevice());
    // A group of its own, so that a time-out also ends whatever the tool started.
    m_process->setChildProcessModifier([] { ::setpgid(0, 0); });

    m_deadline.start(std::max(m_request.timeout, std::chrono::milliseconds(0)));
    m_process->start(QIODevice::ReadWrite);
    if (m_done)
        return;
    if (m_request.standardInput && !m_request.standardInput->isEmpty())
        m_process->write(*m_request.standardInput);
    m_process->closeWriteChannel();
}

void ToolRun::readStandardOutput()
{
    appendCapped(m_result.standardOutput, m_result.standardOutputTruncated, m_process->readAllStandardOutput(),
                 m_request.outputCap);
}

void ToolRun::readStandardError()
{
    appendCapped(m_result.standardError, m_result.standardErrorTruncated, m_process->readAllStandardError(),
                 m_request.outputCap);
}

void ToolRun::onFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    if (m_done)
        return;
    readStandardOutput();
    readStandardError();
    m_result.exitCode = exitCode;
    if (m_timedOut)
        finish(ToolResult::Status::TimedOut);
    else if (exitStatus == QProcess::CrashExit)
        finish(ToolResult::Status::Crashed);
    else
        finish(ToolResult::Status::Exited);
}

void ToolRun::onErrorOccurred(QProcess::ProcessError error)
{
    // Crashes, time-outs and write errors (a tool that exits without reading
    // its input) end in finished(); only a failed start ends here.
    if (error != QProcess::FailedToStart || m_done)
        return;
    m_result.errorString = m_process->errorString();
    finish(ToolResult::Status::FailedToStart);
}

void ToolRun::onDeadline()
{
    if (m_done || m_process->state() == QProcess::NotRunning)
        return;
    m_timedOut = true;
    signalGroup(SIGTERM);
    m_grace.start(std::max(m_request.killGrace, std::chrono::milliseconds(0)));
}

void ToolRun::onGraceOver()
{
    if (!m_done && m_process->state() != QProcess::NotRunning) {
        signalGroup(SIGKILL);
        m_process->kill();
    }
}

void ToolRun::signalGroup(int signalNumber)
{
    const qint64 pid = m_process->processId();
    if (pid <= 0)
        return;
    // The child may not have made its own group yet; then signal it alone.
    if (::kill(static_cast<pid_t>(-pid), signalNumber) != 0)
        ::kill(static_cast<pid_t>(pid), signalNumber);
}

void ToolRun::finish(ToolResult::Status status)
{
    m_deadline.stop();
    m_grace.stop();
    m_result.status = status;
    m_done = true;
    Q_EMIT completed();
}

// ---------------------------------------------------------------------------
// ToolResult

QString ToolResult::standardOutputText() const
{
    return decodeUtf8Strict(standardOutput, standardOutputTruncated).value_or(QString());
}

QString ToolResult::standardErrorText() const
{
    return decodeUtf8Strict(standardError, standardErrorTruncated).value_or(QString());
}

std::optional<QString> decodeUtf8Strict(const QByteArray &bytes, bool cut)
{
    qsizetype length = bytes.size();
    if (cut && length > 0) {
        // Step back over continuation bytes to the last lead byte; drop the
        // character when fewer bytes follow it than it announces.
        qsizetype lead = length - 1;
        int continuation = 0;
        while (lead >= 0 && continuation < 3 && (static_cast<uchar>(bytes[lead]) & 0xC0) == 0x80) {
            --lead;
            ++continuation;
        }
        if (lead >= 0) {
            const uchar byte = static_cast<uchar>(bytes[lead]);
            const int needed = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
            if (needed > continuation + 1)
                length = lead;
        }
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(QByteArrayView(bytes.constData(), length));
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// ---------------------------------------------------------------------------
// ToolRunner

namespace ToolRunner {

QCoro::Task<ToolResult> run(ToolRequest request)
{
    auto toolRun = std::make_unique<ToolRun>(std::move(request));
    toolRun->start();
    if (!toolRun->isDone())
        co_await qCoro(toolRun.get(), &ToolRun::completed);
    co_return toolRun->takeResult();
}

ToolResult runBlocking(const ToolRequest &request)
{
    // On a thread of the tool pool, with an event loop of its own there (a
    // pool thread runs none, so it is not nested): the caller (the GUI thread
    // included) just waits, and no events of the caller's run meanwhile. A
    // caller already on the tool pool runs it right where it is.
    return Async::blockOn(Async::toolPool(), [&request] {
        ToolRun toolRun(request);
        QEventLoop loop;
        QObject::connect(&toolRun, &ToolRun::completed, &loop, &QEventLoop::quit);
        toolRun.start();
        if (!toolRun.isDone())
            loop.exec();
        return toolRun.takeResult();
    });
}

std::chrono::milliseconds fromSeconds(double seconds)
{
    if (!std::isfinite(seconds) || seconds <= 0)
        return std::chrono::milliseconds(0);
    constexpr double maxMs = 365.0 * 24 * 3600 * 1000;
    return std::chrono::milliseconds(static_cast<qint64>(std::min(seconds * 1000.0, maxMs)));
}

} // namespace ToolRunner

// ---------------------------------------------------------------------------
// ToolPaths

namespace {

struct PathTable {
    QMutex mutex;
    QHash<QString, QString> overrides;
};

PathTable &pathTable()
{
    static PathTable table;
    return table;
}

std::optional<QString> currentOverride(const QString &path)
{
    PathTable &table = pathTable();
    QMutexLocker lock(&table.mutex);
    const auto it = table.overrides.constFind(path);
    if (it == table.overrides.cend())
        return std::nullopt;
    return *it;
}

} // namespace

namespace ToolPaths {

QString resolve(const QString &path)
{
    return currentOverride(path).value_or(path);
}

void setOverride(const QString &path, const QString &replacement)
{
    PathTable &table = pathTable();
    QMutexLocker lock(&table.mutex);
    table.overrides.insert(path, replacement);
}

void clearOverride(const QString &path)
{
    PathTable &table = pathTable();
    QMutexLocker lock(&table.mutex);
    table.overrides.remove(path);
}

void clearAllOverrides()
{
    PathTable &table = pathTable();
    QMutexLocker lock(&table.mutex);
    table.overrides.clear();
}

Scoped::Scoped(QString path, const QString &replacement)
    : m_path(std::move(path))
    , m_previous(currentOverride(m_path))
{
    setOverride(m_path, replacement);
}

Scoped::~Scoped()
{
    if (m_previous)
        setOverride(m_path, *m_previous);
    else
        clearOverride(m_path);
}

} // namespace ToolPaths
