#pragma once

#include "platform/ServiceManagement.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <stdexcept>
#include <utility>

// What went wrong with the background-scan agent.
class LaunchAgentError : public std::runtime_error {
public:
    enum class Kind { registrationFailed, migrationFailed };

    static LaunchAgentError registrationFailed(const QString &detail);
    static LaunchAgentError migrationFailed(const QString &detail);

    Kind kind() const { return m_kind; }
    QString detail() const { return m_detail; }
    // "Could not register scan agent: <detail>" / "Could not migrate legacy agent: <detail>"
    QString errorDescription() const;

private:
    LaunchAgentError(Kind kind, const QString &detail);
    Kind m_kind;
    QString m_detail;
};

// The per-user agent that runs the engine's background scan every hour.
//
// Its only memory is the registration itself and the user default
// "varno_agent_user_disabled" (the user switched background scans off), which
// only switching them on again clears: starting the app or the onboarding
// never re-enables scans the user turned off.
//
// All calls are synchronous. The clean-up of an agent file that old versions
// wrote by hand waits for launchctl, bounded by a time-out.
class LaunchAgentManager {
public:
    static const QString agentPlistName;  // "org.varno.scan.plist"
    static const QString userDisabledKey; // "varno_agent_user_disabled"

    static SMAppService agentService();

    // Makes sure the agent is registered, unless the user switched background
    // scans off. An agent waiting for the user's approval is left as it is,
    // and so is one whose registration no service manager answers for.
    // Throws LaunchAgentError (registrationFailed).
    static void install();
    // Unregisters the agent (a failure is ignored), removes a legacy agent
    // file and remembers that the user switched background scans off.
    static void uninstall();
    // The "Run background scans" switch turned on: forgets the user's "off",
    // then install(). Throws like install().
    static void switchBackgroundScansOn();

    // The legacy agent file: ~/Library/LaunchAgents/org.varno.scan.plist
    static QString legacyPlistPath();

private:
    static void removeLegacyPlistIfPresent();
    // Runs the tool and returns its exit status and standard error (-1 and the
    // reason when it could not start or overran its time-out).
    static std::pair<std::int32_t, QString> shell(const QString &path, const QStringList &args);
};

// The login item that opens the app when the user logs in.
class LoginItemManager {
public:
    static const QString launchAtLoginKey; // "varno_launch_at_login"

    // Stores the wish first, then registers or unregisters the login item
    // (failures ignored); returns the item's status read afterwards.
    static SMAppService::Status set(bool enabled);
};
