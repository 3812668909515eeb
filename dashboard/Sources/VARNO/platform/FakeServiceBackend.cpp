#include "platform/FakeServiceBackend.h"

#include <QMutexLocker>

QString FakeServiceBackend::describe(const ServiceIdentity &service)
{
    return service.kind == ServiceIdentity::Kind::Agent ? QStringLiteral("agent:") + service.plistName
                                                        : QStringLiteral("mainApp");
}

FakeServiceBackend::Entry &FakeServiceBackend::entry(const ServiceIdentity &service)
{
    for (Entry &e : m_entries) {
        if (e.service == service)
            return e;
    }
    m_entries.append(Entry{service, SMAppService::Status::notRegistered});
    return m_entries.last();
}

SMAppService::Status FakeServiceBackend::status(const ServiceIdentity &service)
{
    QMutexLocker lock(&m_mutex);
    m_calls.append(QStringLiteral("status ") + describe(service));
    return entry(service).status;
}

void FakeServiceBackend::registerService(const ServiceIdentity &service)
{
    QMutexLocker lock(&m_mutex);
    m_calls.append(QStringLiteral("register ") + describe(service));
    if (m_registerFailure)
        throw ServiceManagementError(*m_registerFailure);
    entry(service).status = m_afterRegister;
}

void FakeServiceBackend::unregisterService(const ServiceIdentity &service)
{
    QMutexLocker lock(&m_mutex);
    m_calls.append(QStringLiteral("unregister ") + describe(service));
    if (m_unregisterFailure)
        throw ServiceManagementError(*m_unregisterFailure);
    entry(service).status = SMAppService::Status::notRegistered;
}

void FakeServiceBackend::setStatus(const ServiceIdentity &service, SMAppService::Status status)
{
    QMutexLocker lock(&m_mutex);
    entry(service).status = status;
}

void FakeServiceBackend::setStatusAfterRegister(SMAppService::Status status)
{
    QMutexLocker lock(&m_mutex);
    m_afterRegister = status;
}

void FakeServiceBackend::setRegisterFailure(std::optional<QString> description)
{
    QMutexLocker lock(&m_mutex);
    m_registerFailure = std::move(description);
}

void FakeServiceBackend::setUnregisterFailure(std::optional<QString> description)
{
    QMutexLocker lock(&m_mutex);
    m_unregisterFailure = std::move(description);
}

QStringList FakeServiceBackend::calls() const
{
    QMutexLocker lock(&m_mutex);
    return m_calls;
}

void FakeServiceBackend::clearCalls()
{
    QMutexLocker lock(&m_mutex);
    m_calls.clear();
}
