#pragma once

#include <QString>

#include <memory>
#include <stdexcept>

// The registrations the app keeps with the system: the background-scan agent
// (named by its property list, "org.varno.scan.plist") and the app's own login
// item. Callers speak to SMAppService; what a registration really is depends
// on the backend:
// - LinuxServiceBackend (the default): a systemd user timer for the agent and
//   an XDG autostart entry for the login item, both files of the user's own;
// - FakeServiceBackend: an in-memory table for tests and screenshots, which
//   can also answer requiresApproval and fail on demand.

// A failed registration or unregistration, with a one-sentence description.
class ServiceManagementError : public std::runtime_error {
public:
    explicit ServiceManagementError(const QString &description);
    QString localizedDescription() const { return m_description; }

private:
    QString m_description;
};

struct ServiceIdentity {
    enum class Kind { Agent, MainApp };
    Kind kind = Kind::MainApp;
    QString plistName; // agents only: "org.varno.scan.plist"

    friend bool operator==(const ServiceIdentity &, const ServiceIdentity &) = default;
};

class SMAppService {
public:
    // The system's raw values: callers compare and store them as numbers too.
    // `unconfirmed` is none of them: a registration that is in place but that
    // no service manager answered for, so nothing says it will ever run (the
    // Linux backend where no user manager answers). It is not enabled.
    enum class Status { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3, unconfirmed = 100 };

    static SMAppService agent(const QString &plistName);
    static SMAppService mainApp();

    Status status() const;
    // Both throw ServiceManagementError.
    void registerService() const;
    void unregisterService() const;

    const ServiceIdentity &identity() const { return m_identity; }

private:
    explicit SMAppService(ServiceIdentity identity);
    ServiceIdentity m_identity;
};

class ServiceBackend {
public:
    virtual ~ServiceBackend() = default;
    virtual SMAppService::Status status(const ServiceIdentity &service) = 0;
    virtual void registerService(const ServiceIdentity &service) = 0;   // throws ServiceManagementError
    virtual void unregisterService(const ServiceIdentity &service) = 0; // throws ServiceManagementError
};

namespace ServiceManagement {

std::shared_ptr<ServiceBackend> backend();
// Replaces the backend; nullptr restores the platform's own.
void setBackend(std::shared_ptr<ServiceBackend> backend);

} // namespace ServiceManagement
