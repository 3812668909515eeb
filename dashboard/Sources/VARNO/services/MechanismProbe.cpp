#include "services/MechanismProbe.h"

#include "platform/ToolRunner.h"

#include <QFileInfo>

namespace {

bool isExecutableFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

ToolRequest versionRequest(const QString &executable, const QStringList &args, double timeout)
{
    ToolRequest request;
    request.program = executable;
    request.arguments = args;
    request.timeout = ToolRunner::fromSeconds(timeout);
    request.captureStandardOutput = false; // only the exit status counts
    request.outputCap = 64 * 1024;
    return request;
}

MechanismHealth verdict(const QString &tool, std::optional<bool> ranFine)
{
    if (!ranFine)
        return MechanismHealth::unavailable(tool + QStringLiteral(" not found"));
    return *ranFine ? MechanismHealth::healthy() : MechanismHealth::unavailable(tool + QStringLiteral(" failed"));
}

const QString kBrew = QStringLiteral("brew");
const QString kMas = QStringLiteral("mas");

} // namespace

const QStringList MechanismProbe::brewCandidates = {QStringLiteral("/opt/homebrew/bin/brew"),
                                                    QStringLiteral("/usr/local/bin/brew")};

std::optional<QString> MechanismProbe::findBrewExecutable()
{
    for (const QString &candidate : brewCandidates) {
        const QString path = ToolPaths::resolve(candidate);
        if (isExecutableFile(path))
            return path;
    }
    return findExecutable(kBrew);
}

std::optional<QString> MechanismProbe::findExecutable(const QString &name)
{
    const QStringList directories = qEnvironmentVariable("PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &directory : directories) {
        const QString path = directory + QLatin1Char('/') + name;
        if (isExecutableFile(path))
            return path;
    }
    return std::nullopt;
}

bool MechanismProbe::run(const QString &executable, const QStringList &args, double timeout)
{
    return ToolRunner::runBlocking(versionRequest(executable, args, timeout)).succeeded();
}

QCoro::Task<bool> MechanismProbe::runAsync(QString executable, QStringList args, double timeout)
{
    ToolRequest request = versionRequest(executable, args, timeout);
    const ToolResult result = co_await ToolRunner::run(std::move(request));
    co_return result.succeeded();
}

MechanismHealth MechanismProbe::checkBrew(double timeout)
{
    const auto brew = findBrewExecutable();
    if (!brew)
        return verdict(kBrew, std::nullopt);
    return verdict(kBrew, run(*brew, {QStringLiteral("--version")}, timeout));
}

MechanismHealth MechanismProbe::checkMas(double timeout)
{
    const auto mas = findExecutable(kMas);
    if (!mas)
        return verdict(kMas, std::nullopt);
    return verdict(kMas, run(*mas, {QStringLiteral("version")}, timeout));
}

QCoro::Task<MechanismHealth> MechanismProbe::checkBrewAsync(double timeout)
{
    const auto brew = findBrewExecutable();
    if (!brew)
        co_return verdict(kBrew, std::nullopt);
    QStringList args;
    args << QStringLiteral("--version");
    const QString executable = *brew;
    const bool ok = co_await runAsync(executable, args, timeout);
    co_return verdict(kBrew, ok);
}

QCoro::Task<MechanismHealth> MechanismProbe::checkMasAsync(double timeout)
{
    const auto mas = findExecutable(kMas);
    if (!mas)
        co_return verdict(kMas, std::nullopt);
    QStringList args;
    args << QStringLiteral("version");
    const QString executable = *mas;
    const bool ok = co_await runAsync(executable, args, timeout);
    co_return verdict(kMas, ok);
}
