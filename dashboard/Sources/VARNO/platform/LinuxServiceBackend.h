#pragma once

#include "platform/ServiceManagement.h"

#include <QString>

#include <optional>

// Registrations on a Linux desktop, in files of the user's own:
// - the agent "<label>.plist" becomes a systemd user timer and service
//   (<config>/systemd/user/<label>.timer and .service, enabled through the
//   timers.target.wants link), made from the property list that the app
//   carries among its resources: its ProgramArguments and StartInterval. After
//   writing the files the backend asks the user's systemd to reload and start
//   the timer; when systemd can't be reached the files still take effect at
//   the next login. An agent whose property list the app doesn't carry is
//   notFound.
//   The agent is enabled when the user's systemd has the timer loaded,
//   enabled and active; where no user manager answers (none runs, or
//   systemctl is missing or hangs) files in place are only unconfirmed:
//   nothing may ever run them.
// - the login item is the XDG autostart entry <config>/autostart/<id>.desktop
//   that starts the app's executable; it is enabled only while its Exec
//   names the executable that runs now.
// Linux asks for no approval, so requiresApproval never occurs here.
class LinuxServiceBackend : public ServiceBackend {
public:
    SMAppService::Status status(const ServiceIdentity &service) override;
    void registerService(const ServiceIdentity &service) override;
    void unregisterService(const ServiceIdentity &service) override;

    // <XDG config home>/systemd/user and <XDG config home>/autostart.
    static QString systemdUserDir();
    static QString autostartDir();
    // "org.varno.scan.plist" -> "org.varno.scan"
    static QString labelFor(const QString &plistName);
    static QString autostartFilePath();

    // The unit texts for an agent property list (exposed for tests).
    struct AgentUnits {
        QString service;
        QString timer;
    };
    static AgentUnits unitsFor(const QString &label, const QStringList &programArguments, qint64 intervalSeconds);
    // The scan service's TimeoutStartSec: three quarters of the interval,
    // between 1 and 45 minutes.
    static qint64 scanTimeoutFor(qint64 intervalSeconds);
    // One argument quoted for an ExecStart= line.
    static QString quoteForSystemd(const QString &argument);
    // The program (the first argument of Exec=) of a desktop entry's text;
    // nothing when it has none.
    static std::optional<QString> programOfDesktopEntry(const QString &text);
    // One argument quoted for the Exec= key of a desktop entry.
    static QString quoteForDesktopEntry(const QString &argument);
};
