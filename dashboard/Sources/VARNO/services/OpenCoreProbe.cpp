#include "services/OpenCoreProbe.h"

#include "platform/ToolRunner.h"

#include <QFileInfo>

namespace {

// The registry listing of a real Mac runs to tens of megabytes.
constexpr qsizetype kOutputCap = 96 * 1024 * 1024;

std::optional<ToolRequest> requestFor(const QString &path, const QStringList &args, double timeout)
{
    const QString program = ToolPaths::resolve(path);
    const QFileInfo info(program);
    if (!info.isFile() || !info.isExecutable())
        return std::nullopt;
    ToolRequest request;
    request.program = program;
    request.arguments = args;
    request.timeout = ToolRunner::fromSeconds(timeout);
    request.outputCap = kOutputCap;
    return request;
}

std::optional<QString> textOf(const ToolResult &result)
{
    if (!result.started() || result.timedOut())
        return std::nullopt;
    const QString output = result.standardOutputText();
    return output.isEmpty() ? result.standardErrorText() : output;
}

bool mentions(const std::optional<QString> &text, const QString &word)
{
    return text && text->contains(word, Qt::CaseInsensitive);
}

const QString kNvramWord = QStringLiteral("opencore");
const QString kIoregWord = QStringLiteral("OpenCore");

} // namespace

const QString OpenCoreProbe::nvramPath = QStringLiteral("/usr/sbin/nvram");
const QString OpenCoreProbe::ioregPath = QStringLiteral("/usr/sbin/ioreg");

std::optional<QString> OpenCoreProbe::run(const QString &path, const QStringList &args, double timeout)
{
    const auto request = requestFor(path, args, timeout);
    if (!request)
        return std::nullopt;
    return textOf(ToolRunner::runBlocking(*request));
}

QCoro::Task<std::optional<QString>> OpenCoreProbe::runAsync(QString path, QStringList args, double timeout)
{
    const auto request = requestFor(path, args, timeout);
    if (!request)
        co_return std::nullopt;
    const ToolRequest toolRequest = *request;
    const ToolResult result = co_await ToolRunner::run(toolRequest);
    co_return textOf(result);
}

bool OpenCoreProbe::detect(double timeout)
{
    if (mentions(run(nvramPath, {QStringLiteral("-p")}, timeout), kNvramWord))
        return true;
    return mentions(run(ioregPath, {QStringLiteral("-l")}, timeout), kIoregWord);
}

QCoro::Task<bool> OpenCoreProbe::detectAsync(double timeout)
{
    QStringList nvramArgs;
    nvramArgs << QStringLiteral("-p");
    const std::optional<QString> nvram = co_await runAsync(nvramPath, nvramArgs, timeout);
    if (mentions(nvram, kNvramWord))
        co_return true;
    QStringList ioregArgs;
    ioregArgs << QStringLiteral("-l");
    const std::optional<QString> ioreg = co_await runAsync(ioregPath, ioregArgs, timeout);
    co_return mentions(ioreg, kIoregWord);
}
