#pragma once

#include <QMutex>
#include <QMutexLocker>

#include <optional>
#include <utility>

// A process-wide stand-in for a set of services (tests and screenshots put
// fakes in place of the system's): while one is set, current() gives it;
// otherwise what `system` makes. Safe to use from any thread.
template<typename Services>
class ServiceOverride {
public:
    Services current(Services (*system)()) const
    {
        {
            QMutexLocker lock(&m_mutex);
            if (m_services)
                return *m_services;
        }
        return system();
    }

    void set(std::optional<Services> services)
    {
        QMutexLocker lock(&m_mutex);
        m_services = std::move(services);
    }

private:
    mutable QMutex m_mutex;
    std::optional<Services> m_services;
};
