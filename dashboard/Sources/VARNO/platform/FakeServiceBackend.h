#pragma once

#include "platform/ServiceManagement.h"

#include <QList>
#include <QMutex>
#include <QString>

#include <optional>

// In-memory registrations for tests and screenshots. Registering moves a
// service to `statusAfterRegister` (enabled unless set otherwise, e.g.
// requiresApproval); unregistering moves it to notRegistered. Every call is
// recorded as "status agent:org.varno.scan.plist", "register mainApp", ...
class FakeServiceBackend : public ServiceBackend {
public:
    SMAppService::Status status(const ServiceIdentity &service) override;
    void registerService(const ServiceIdentity &service) override;
    void unregisterService(const ServiceIdentity &service) override;

    void setStatus(const ServiceIdentity &service, SMAppService::Status status);
    void setStatusAfterRegister(SMAppService::Status status);
    // The next register / unregister calls throw with this description.
    void setRegisterFailure(std::optional<QString> description);
    void setUnregisterFailure(std::optional<QString> description);

    QStringList calls() const;
    void clearCalls();

    static QString describe(const ServiceIdentity &service);

private:
    struct Entry {
        ServiceIdentity service;
        SMAppService::Status status;
    };
    Entry &entry(const ServiceIdentity &service);

    mutable QMutex m_mutex;
    QList<Entry> m_entries;
    QStringList m_calls;
    SMAppService::Status m_afterRegister = SMAppService::Status::enabled;
    std::optional<QString> m_registerFailure;
    std::optional<QString> m_unregisterFailure;
};
