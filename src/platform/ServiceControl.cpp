#include "platform/ServiceControl.h"

#include "platform/ServiceManager.h"

#include <optional>

namespace platform {

struct ServiceControl::Outcome
{
    std::optional<ServiceStatus> last; // the last status the manager delivered, if any
};

ServiceControl::ServiceControl(ServiceManager &manager)
    : ServiceControl(manager, WaitLimits())
{}

ServiceControl::ServiceControl(ServiceManager &manager, WaitLimits limits)
    : m_manager(manager)
    , m_limits(limits)
{}

bool ServiceControl::IsServiceInstalled(const QByteArray &name)
{
    const ServiceManager::Handle manager = m_manager.openManager(ServiceManager::kManagerAllAccess);
    if (!manager)
        return false;
    bool found = false;
    const auto entries =
        m_manager.enumerateServices(manager, ServiceManager::kServiceWin32,
                                    ServiceManager::kServiceStateAll, kEnumerationBufferBytes);
    if (entries) {
        // The service name, never the display name, byte for byte: other letter case is
        // another service.
        for (const platform::ServiceEntry &entry : *entries) {
            if (entry.name == name) {
                found = true;
                break;
            }
        }
    }
    m_manager.closeHandle(manager);
    return found;
}

quint32 ServiceControl::GetServiceState(const QByteArray &name)
{
    const ServiceManager::Handle manager = m_manager.openManager(ServiceManager::kManagerConnect);
    if (!manager)
        return 0;
    quint32 state = 0;
    if (const ServiceManager::Handle service =
            m_manager.openService(manager, name, ServiceManager::kServiceQueryStatus)) {
        ServiceStatus status;
        if (m_manager.queryStatus(service, status))
            state = status.currentState;
        m_manager.closeHandle(service);
    }
    m_manager.closeHandle(manager);
    return state;
}

bool ServiceControl::StartServiceAndWait(const QByteArray &name)
{
    const Outcome outcome = changeAndWait(name, true);
    return outcome.last && outcome.last->currentState == ServiceManager::kRunning;
}

bool ServiceControl::StopServiceAndWait(const QByteArray &name)
{
    const Outcome outcome = changeAndWait(name, false);
    return outcome.last && outcome.last->currentState == ServiceManager::kStopped;
}

bool ServiceControl::isServiceCapableSystem()
{
    return m_manager.isServiceCapable();
}

QString ServiceControl::unavailableReason()
{
    return m_manager.unavailableReason();
}

QString ServiceControl::startFailureHint(const QByteArray &name)
{
    return m_manager.startFailureHint(name);
}

QString ServiceControl::lifetimeNote()
{
    return m_manager.lifetimeNote();
}

ServiceControl::Outcome ServiceControl::changeAndWait(const QByteArray &name, bool start)
{
    Outcome outcome;
    const quint32 wanted = start ? ServiceManager::kRunning : ServiceManager::kStopped;
    const ServiceManager::Handle manager = m_manager.openManager(ServiceManager::kManagerConnect);
    if (!manager)
        return outcome;
    const quint32 access = ServiceManager::kServiceQueryStatus
                           | (start ? ServiceManager::kServiceStart : ServiceManager::kServiceStop);
    const ServiceManager::Handle service = m_manager.openService(manager, name, access);
    if (service) {
        bool requested = false;
        if (start) {
            requested = m_manager.startService(service);
        } else {
            const ServiceManager::ControlResult result =
                m_manager.controlService(service, ServiceManager::kControlStop);
            outcome.last = result.status;
            requested = result.succeeded;
        }
        ServiceStatus status;
        if (requested && m_manager.queryStatus(service, status)) {
            outcome.last = status;
            quint32 slept = 0;
            int polls = 0;
            while (status.currentState != wanted) {
                if (slept >= m_limits.maxTotalSleepMs || polls >= m_limits.maxPolls)
                    break;
                const quint32 checkPoint = status.checkPoint;
                const quint32 pause = qMin(status.waitHint, m_limits.maxTotalSleepMs - slept);
                m_manager.sleep(pause);
                slept += pause;
                ++polls;
                if (!m_manager.queryStatus(service, status))
                    break;
                outcome.last = status;
                if (status.checkPoint < checkPoint)
                    break;
            }
        }
        m_manager.closeHandle(service);
    }
    m_manager.closeHandle(manager);
    return outcome;
}

} // namespace platform
