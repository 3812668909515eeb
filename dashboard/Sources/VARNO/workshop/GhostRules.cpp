#include "workshop/GhostRules.h"

#include "base/Logging.h"
#include "platform/PlainText.h"

#include <QFileInfo>

#include <algorithm>

namespace GhostRules {

QString countText(qsizetype count)
{
    return QString::number(count) + (count == 1 ? QStringLiteral(" app") : QStringLiteral(" apps"));
}

QString sheetSubtitle(qsizetype count)
{
    return countText(count) + QStringLiteral(" in your library no longer appear on disk.");
}

QString rowDetail(const GhostAppRecord &ghost)
{
    if (!ghost.cask_token.isEmpty())
        return QStringLiteral("brew cask: ") + PlainText::forField(ghost.cask_token);
    return PlainText::forField(ghost.install_path);
}

QString initial(const QString &appName)
{
    return PlainText::prefixCharacters(PlainText::forField(appName), 1);
}

QString stillInstalledText()
{
    return QStringLiteral("still installed in brew");
}

QString notInBrewText()
{
    return QStringLiteral("not in brew");
}

QString checkFailedText()
{
    return QStringLiteral("check failed");
}

Mark mark(const GhostAppRecord &ghost, const QHash<QString, QString> &brewStatus)
{
    if (brewStatus.contains(ghost.bundle_id))
        return Mark::badge;
    return ghost.cask_token.isEmpty() ? Mark::removed : Mark::unchecked;
}

Tone badgeColor(const QString &status)
{
    if (status.contains(QLatin1String("installed")))
        return Tone::caution;
    // A check that could not be made proves nothing: never the good tone.
    if (status == checkFailedText())
        return Tone::neutral;
    return Tone::good;
}

QString uncheckedHelp()
{
    return QStringLiteral("Tap 'Check Homebrew status' to investigate");
}

QString removedHelp()
{
    return QStringLiteral("Removed from library — no Homebrew record to check");
}

QString checkHelp()
{
    return QStringLiteral("Run brew list --cask for each Homebrew-managed app to see if brew still thinks it's installed");
}

bool offersCheck(const QList<GhostAppRecord> &ghosts)
{
    return std::any_of(ghosts.cbegin(), ghosts.cend(), [](const GhostAppRecord &g) { return !g.cask_token.isEmpty(); });
}

QList<GhostAppRecord> checkCandidates(const QList<GhostAppRecord> &ghosts)
{
    QList<GhostAppRecord> candidates;
    for (const GhostAppRecord &ghost : ghosts) {
        if (!ghost.cask_token.isEmpty())
            candidates.append(ghost);
    }
    return candidates;
}

QStringList brewCandidatePaths()
{
    return {QStringLiteral("/opt/homebrew/bin/brew"), QStringLiteral("/usr/local/bin/brew")};
}

std::optional<QString> brewExecutable(const std::function<bool(const QString &path)> &exists)
{
    for (const QString &path : brewCandidatePaths()) {
        if (exists && exists(path))
            return path;
    }
    return std::nullopt;
}

bool brewFileExists(const QString &path)
{
    return QFileInfo(ToolPaths::resolve(path)).isFile();
}

bool isCheckableToken(const QString &token)
{
    return !token.isEmpty() && !token.startsWith(QLatin1Char('-'));
}

QStringList brewArguments(const QString &token)
{
    return {QStringLiteral("list"), QStringLiteral("--cask"), token};
}

QString statusFor(const ToolResult &result)
{
    if (result.status != ToolResult::Status::Exited)
        return checkFailedText();
    return result.exitCode == 0 ? stillInstalledText() : notInBrewText();
}

QHash<QString, QString> runBrewListChecks(const QList<GhostAppRecord> &candidates, const QString &brewPath)
{
    QHash<QString, QString> statuses;
    for (const GhostAppRecord &ghost : candidates) {
        if (!isCheckableToken(ghost.cask_token)) {
            // A token that reads as an option is never handed to brew.
            qCInfo(lcVarno).noquote() << "Ghost check skipped for" << ghost.bundle_id << "- the cask token"
                                      << ghost.cask_token << "reads as an option";
            statuses.insert(ghost.bundle_id, checkFailedText());
            continue;
        }
        ToolRequest request;
        request.program = brewPath;
        request.arguments = brewArguments(ghost.cask_token);
        request.captureStandardOutput = false;
        request.outputCap = 64 * 1024;
        request.timeout = std::chrono::seconds(kCheckTimeoutSeconds);
        const ToolResult result = ToolRunner::runBlocking(request);
        if (result.status != ToolResult::Status::Exited) {
            qCInfo(lcVarno).noquote() << "Ghost check of" << ghost.bundle_id << "(brew list --cask" << ghost.cask_token
                                      << ") did not finish:"
                                      << (result.errorString.isEmpty() ? QStringLiteral("ended") : result.errorString);
        }
        statuses.insert(ghost.bundle_id, statusFor(result));
    }
    return statuses;
}

} // namespace GhostRules
