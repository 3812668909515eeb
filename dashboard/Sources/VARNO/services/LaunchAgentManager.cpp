#include "services/LaunchAgentManager.h"

#include "platform/ToolRunner.h"
#include "platform/UserDefaults.h"
#include "platform/VarnoPaths.h"

#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace {

const QString kLaunchctl = QStringLiteral("/bin/launchctl");
// launchctl answers at once; a hung one must not hold up the app's start.
constexpr auto kLaunchctlTimeout = std::chrono::seconds(10);

void storeBool(const QString &key, bool value)
{
    auto defaults = UserDefaults::open();
    defaults->setValue(key, value);
    defaults->sync();
}

} // namespace

// ---------------------------------------------------------------------------
// LaunchAgentError

LaunchAgentError::LaunchAgentError(Kind kind, const QString &detail)
    : std::runtime_error((kind == Kind::registrationFailed ? QStringLiteral("Could not register scan agent: ")
                                                           : QStringLiteral("Could not migrate legacy agent: "))
                             .append(detail)
                             .toStdString())
    , m_kind(kind)
    , m_detail(detail)
{
}

LaunchAgentError LaunchAgentError::registrationFailed(const QString &detail)
{
    return LaunchAgentError(Kind::registrationFailed, detail);
}

LaunchAgentError LaunchAgentError::migrationFailed(const QString &detail)
{
    return LaunchAgentError(Kind::migrationFailed, detail);
}

QString LaunchAgentError::errorDescription() const
{
    return QString::fromStdString(what());
}

// ---------------------------------------------------------------------------
// LaunchAgentManager

const QString LaunchAgentManager::agentPlistName = QStringLiteral("org.varno.scan.plist");
const QString LaunchAgentManager::userDisabledKey = QStringLiteral("varno_agent_user_disabled");

SMAppService LaunchAgentManager::agentService()
{
    return SMAppService::agent(agentPlistName);
}

QString LaunchAgentManager::legacyPlistPath()
{
    return VarnoPaths::home() + QStringLiteral("/Library/LaunchAgents/org.varno.scan.plist");
}

void LaunchAgentManager::install()
{
    removeLegacyPlistIfPresent();
    if (UserDefaults::open()->value(userDisabledKey, false).toBool())
        return;
    const SMAppService agent = agentService();
    const SMAppService::Status status = agent.status();
    // A registration waiting for the user's approval stays as it is, and so
    // does one that no service manager answers for: registering it again
    // would ask that same silent manager.
    if (status == SMAppService::Status::enabled || status == SMAppService::Status::requiresApproval
        || status == SMAppService::Status::unconfirmed)
        return;
    try {
        agent.registerService();
    } catch (const ServiceManagementError &error) {
        throw LaunchAgentError::registrationFailed(error.localizedDescription());
    }
}

void LaunchAgentManager::uninstall()
{
    try {
        agentService().unregisterService();
    } catch (const ServiceManagementError &) {
        // Not registered in the first place.
    }
    removeLegacyPlistIfPresent();
    storeBool(userDisabledKey, true);
}

void LaunchAgentManager::switchBackgroundScansOn()
{
    storeBool(userDisabledKey, false);
    install();
}

void LaunchAgentManager::removeLegacyPlistIfPresent()
{
    const QString path = legacyPlistPath();
    if (!QFileInfo::exists(path))
        return;
    // The job may not be loaded; what launchctl says doesn't matter.
    shell(kLaunchctl,
          {QStringLiteral("bootout"), QStringLiteral("gui/%1/org.varno.scan").arg(static_cast<qulonglong>(::getuid()))});
    QFile::remove(path);
}

std::pair<std::int32_t, QString> LaunchAgentManager::shell(const QString &path, const QStringList &args)
{
    ToolRequest request;
    request.program = path;
    request.arguments = args;
    request.timeout = kLaunchctlTimeout;
    request.outputCap = 256 * 1024;
    request.captureStandardOutput = false;
    const ToolResult result = ToolRunner::runBlocking(request);
    switch (result.status) {
    case ToolResult::Status::FailedToStart:
        return {-1, result.errorString};
    case ToolResult::Status::TimedOut:
        return {-1, QStringLiteral("%1 did not answer in time").arg(path)};
    case ToolResult::Status::Exited:
    case ToolResult::Status::Crashed:
        break;
    }
    return {result.exitCode, result.standardErrorText()};
}

// ---------------------------------------------------------------------------
// LoginItemManager

const QString LoginItemManager::launchAtLoginKey = QStringLiteral("varno_launch_at_login");

SMAppService::Status LoginItemManager::set(bool enabled)
{
    storeBool(launchAtLoginKey, enabled);
    const SMAppService item = SMAppService::mainApp();
    try {
        if (enabled)
            item.registerService();
        else
            item.unregisterService();
    } catch (const ServiceManagementError &) {
        // Reported only through the status read below.
    }
    return item.status();
}
