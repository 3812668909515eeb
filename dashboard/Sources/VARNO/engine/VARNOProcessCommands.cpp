// The engine command operations of VARNOProcess: argument vectors, time-outs
// and the decoding of what the engine prints.
#include "engine/VARNOProcess.h"

#include "base/Async.h"
#include "base/Utf8Text.h"

#include <qcoro/qcorofuture.h>

namespace {

constexpr double kQuery = 120;
constexpr double kChange = 300;
constexpr qsizetype kInvalidJSONPrefix = 200;

const QString kBundleId = QStringLiteral("bundle id");

// A command's time-out: its own, unless the runner's tuning sets one for all.
double queryTimeout()
{
    return VARNOProcess::tuning().commandTimeout.value_or(kQuery);
}

double changeTimeout()
{
    return VARNOProcess::tuning().commandTimeout.value_or(kChange);
}

// The argument vectors are built outside the coroutines (g++ 12 mishandles
// braced lists inside coroutine bodies).
QStringList listArguments(bool outdatedOnly)
{
    QStringList arguments{QStringLiteral("list"), QStringLiteral("--json")};
    if (!outdatedOnly)
        arguments.append(QStringLiteral("--all"));
    return arguments;
}

QStringList withBundleId(const QString &command, const QString &bundleId, const QStringList &tail = {})
{
    QStringList arguments{command, QStringLiteral("--bundle-id"), bundleId};
    arguments.append(tail);
    return arguments;
}

QStringList sealArguments(const QString &bundleId)
{
    return withBundleId(QStringLiteral("seal"), bundleId, {QStringLiteral("--json")});
}

QStringList modeArguments(const QString &bundleId, const QString &mode)
{
    return {QStringLiteral("mode"), bundleId, mode};
}

QStringList reinstallArguments(const QString &bundleId)
{
    return withBundleId(QStringLiteral("reinstall"), bundleId);
}

QStringList fixArguments(const QString &bundleId)
{
    return {QStringLiteral("fix"), bundleId};
}

QStringList updateApprovedArguments(const QString &bundleId)
{
    return {QStringLiteral("update"), QStringLiteral("--only"), bundleId, QStringLiteral("--approved")};
}

QStringList removeArguments(const QString &bundleId)
{
    return withBundleId(QStringLiteral("remove"), bundleId, {QStringLiteral("--yes")});
}

QStringList backupArguments(const QString &bundleId)
{
    return withBundleId(QStringLiteral("backup"), bundleId, {QStringLiteral("--json")});
}

QStringList restoreArguments(const QString &bundleId)
{
    return withBundleId(QStringLiteral("restore"), bundleId);
}

QStringList diagnoseArguments(const QString &outPath)
{
    return {QStringLiteral("diagnose"), QStringLiteral("--bundle"), QStringLiteral("--out"), outPath};
}

void appendCask(QStringList &arguments, const std::optional<QString> &caskToken)
{
    if (caskToken && !caskToken->isEmpty()) {
        arguments.append(QStringLiteral("--cask"));
        arguments.append(*caskToken);
    }
}

QStringList adoptDryRunArguments(const QString &appName, const std::optional<QString> &caskToken)
{
    QStringList arguments{QStringLiteral("adopt"), QStringLiteral("--dry-run"), QStringLiteral("--json"), appName};
    appendCask(arguments, caskToken);
    return arguments;
}

QStringList adoptApprovedArguments(const QString &appName, const std::optional<QString> &caskToken, bool allowUnsigned)
{
    QStringList arguments{QStringLiteral("adopt"), QStringLiteral("--approved"), appName};
    appendCask(arguments, caskToken);
    if (allowUnsigned)
        arguments.append(QStringLiteral("--allow-unsigned"));
    return arguments;
}

QStringList provenanceArguments(const std::optional<QString> &bundleId)
{
    QStringList arguments{QStringLiteral("provenance"), QStringLiteral("--json")};
    if (bundleId) {
        arguments.append(QStringLiteral("--bundle-id"));
        arguments.append(*bundleId);
    }
    return arguments;
}

void checkCaskToken(const std::optional<QString> &caskToken)
{
    if (caskToken && !caskToken->isEmpty())
        VARNOProcess::ensureNotOptionLike(*caskToken, QStringLiteral("cask token"));
}

// What a decoding failure carries: the beginning of the output.
[[noreturn]] void throwInvalidJSON(const QByteArray &output)
{
    throw VARNOError::invalidJSON(Utf8Text::prefixLossy(output, kInvalidJSONPrefix));
}

// The decoders, run on the thread pool: a library list may be megabytes.
std::optional<QList<AppRecord>> decodeAppList(const QByteArray &output)
{
    return AppRecord::decodeList(output);
}

std::optional<QList<ProvenanceRecord>> decodeProvenanceList(const QByteArray &output)
{
    return ProvenanceRecord::decodeList(output);
}

std::optional<TrustSealRecord> decodeSeal(const QByteArray &output)
{
    return TrustSealRecord::decode(output);
}

std::optional<BackupRecord> decodeBackup(const QByteArray &output)
{
    return BackupRecord::decode(output);
}

// Output that reached the cap may end inside a character: what came before
// it is kept.
QString decodeFixOutput(const QByteArray &output)
{
    return Utf8Text::decodeOrEmpty(output.size() >= VARNOProcess::outputCap ? Utf8Text::withoutIncompleteTail(output)
                                                                            : output);
}

} // namespace

QCoro::Task<QList<AppRecord>> VARNOProcess::listApps(bool outdatedOnly)
{
    const QByteArray output = co_await run(listArguments(outdatedOnly), queryTimeout());
    Async::Work<std::optional<QList<AppRecord>>> decoding = Async::offThread(nullptr,
                                                                             Async::named("decode list", decodeAppList,
                                                                                          output));
    auto records = co_await decoding;
    if (!records)
        throwInvalidJSON(output);
    co_return std::move(*records);
}

QCoro::Task<TrustSealRecord> VARNOProcess::trustSeal(QString bundleId,
                                                     std::shared_ptr<VARNOCancellationToken> cancellationToken)
{
    ensureNotOptionLike(bundleId, kBundleId);
    const QByteArray output = co_await run(sealArguments(bundleId), queryTimeout(), std::move(cancellationToken));
    Async::Work<std::optional<TrustSealRecord>> decoding = Async::offThread(nullptr,
                                                                            Async::named("decode seal", decodeSeal,
                                                                                         output));
    auto seal = co_await decoding;
    if (!seal)
        throwInvalidJSON(output);
    co_return std::move(*seal);
}

QCoro::Task<void> VARNOProcess::setUpdateMode(QString bundleId, QString mode)
{
    ensureNotOptionLike(bundleId, kBundleId);
    ensureNotOptionLike(mode, QStringLiteral("update mode"));
    co_await run(modeArguments(bundleId, mode), queryTimeout());
}

QCoro::Task<void> VARNOProcess::setUpdateOnQuit(QString bundleId)
{
    ensureNotOptionLike(bundleId, kBundleId);
    co_await run(modeArguments(bundleId, QStringLiteral("--on-quit")), queryTimeout());
}

QCoro::Task<void> VARNOProcess::reinstall(QString bundleId)
{
    ensureNotOptionLike(bundleId, kBundleId);
    co_await run(reinstallArguments(bundleId), changeTimeout());
}

QCoro::Task<QString> VARNOProcess::fix(QString bundleId)
{
    ensureNotOptionLike(bundleId, kBundleId);
    const QByteArray output = co_await run(fixArguments(bundleId), changeTimeout());
    Async::Work<QString> decoding = Async::offThread(nullptr, Async::named("decode fix", decodeFixOutput, output));
    co_return co_await decoding;
}

QCoro::Task<void> VARNOProcess::updateApproved(QString bundleId, std::shared_ptr<VARNOCancellationToken> cancellationToken)
{
    ensureNotOptionLike(bundleId, kBundleId);
    co_await run(updateApprovedArguments(bundleId), changeTimeout(), std::move(cancellationToken));
}

QCoro::Task<QByteArray> VARNOProcess::adoptDryRunJSON(QString appName, std::optional<QString> caskToken)
{
    ensureNotOptionLike(appName, QStringLiteral("app name"));
    checkCaskToken(caskToken);
    co_return co_await run(adoptDryRunArguments(appName, caskToken), changeTimeout());
}

QCoro::Task<void> VARNOProcess::adoptApproved(QString appName, std::optional<QString> caskToken, bool allowUnsigned)
{
    ensureNotOptionLike(appName, QStringLiteral("app name"));
    checkCaskToken(caskToken);
    co_await run(adoptApprovedArguments(appName, caskToken, allowUnsigned), changeTimeout());
}

QCoro::Task<void> VARNOProcess::uninstall(QString bundleId)
{
    ensureNotOptionLike(bundleId, kBundleId);
    co_await run(removeArguments(bundleId), changeTimeout());
}

QCoro::Task<QList<ProvenanceRecord>> VARNOProcess::provenance(std::optional<QString> bundleId,
                                                              std::shared_ptr<VARNOCancellationToken> cancellationToken)
{
    if (bundleId)
        ensureNotOptionLike(*bundleId, kBundleId);
    const QByteArray output = co_await run(provenanceArguments(bundleId), queryTimeout(), std::move(cancellationToken));
    Async::Work<std::optional<QList<ProvenanceRecord>>> decoding = Async::offThread(nullptr,
                                                                                    Async::named("decode provenance",
                                                                                                 decodeProvenanceList,
                                                                                                 output));
    auto records = co_await decoding;
    if (!records)
        throwInvalidJSON(output);
    co_return std::move(*records);
}

QCoro::Task<BackupRecord> VARNOProcess::backupStatus(QString bundleId,
                                                     std::shared_ptr<VARNOCancellationToken> cancellationToken)
{
    ensureNotOptionLike(bundleId, kBundleId);
    const QByteArray output = co_await run(backupArguments(bundleId), queryTimeout(), std::move(cancellationToken));
    Async::Work<std::optional<BackupRecord>> decoding = Async::offThread(nullptr,
                                                                         Async::named("decode backup", decodeBackup,
                                                                                      output));
    auto backup = co_await decoding;
    if (!backup)
        throwInvalidJSON(output);
    co_return std::move(*backup);
}

QCoro::Task<void> VARNOProcess::restore(QString bundleId)
{
    ensureNotOptionLike(bundleId, kBundleId);
    co_await run(restoreArguments(bundleId), changeTimeout());
}

QCoro::Task<QString> VARNOProcess::diagnoseBundle(QString outPath)
{
    co_await run(diagnoseArguments(outPath), queryTimeout());
    co_return outPath;
}
