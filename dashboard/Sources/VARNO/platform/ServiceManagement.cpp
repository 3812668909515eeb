#include "platform/ServiceManagement.h"

#include "platform/LinuxServiceBackend.h"

#include <QMutex>
#include <QMutexLocker>

ServiceManagementError::ServiceManagementError(const QString &description)
    : std::runtime_error(description.toStdString())
    , m_description(description)
{
}

SMAppService::SMAppService(ServiceIdentity identity)
    : m_identity(std::move(identity))
{
}

SMAppService SMAppService::agent(const QString &plistName)
{
    return SMAppService(ServiceIdentity{ServiceIdentity::Kind::Agent, plistName});
}

SMAppService SMAppService::mainApp()
{
    return SMAppService(ServiceIdentity{ServiceIdentity::Kind::MainApp, QString()});
}

SMAppService::Status SMAppService::status() const
{
    return ServiceManagement::backend()->status(m_identity);
}

void SMAppService::registerService() const
{
    ServiceManagement::backend()->registerService(m_identity);
}

void SMAppService::unregisterService() const
{
    ServiceManagement::backend()->unregisterService(m_identity);
}

namespace {

QMutex serviceBackendMutex;
std::shared_ptr<ServiceBackend> currentServiceBackend;

} // namespace

namespace ServiceManagement {

std::shared_ptr<ServiceBackend> backend()
{
    QMutexLocker lock(&serviceBackendMutex);
    if (!currentServiceBackend)
        currentServiceBackend = std::make_shared<LinuxServiceBackend>();
    return currentServiceBackend;
}

void setBackend(std::shared_ptr<ServiceBackend> backend)
{
    QMutexLocker lock(&serviceBackendMutex);
    currentServiceBackend = std::move(backend);
}

} // namespace ServiceManagement
