#pragma once

#include "platform/ServiceManager.h"

namespace platform {

// The service manager on Windows: the service control manager through its 8-bit calls. A
// handle is the manager's own SC_HANDLE.
class ScmServiceManager : public ServiceManager
{
public:
    Handle openManager(quint32 access) override;
    std::optional<QList<ServiceEntry>>
    enumerateServices(Handle manager, quint32 type, quint32 state, qsizetype bufferBytes) override;
    Handle openService(Handle manager, const QByteArray &name, quint32 access) override;
    bool queryStatus(Handle service, ServiceStatus &status) override;
    bool startService(Handle service) override;
    ControlResult controlService(Handle service, quint32 control) override;
    void closeHandle(Handle handle) override;
    void sleep(quint32 milliseconds) override;
    // Windows NT 4.0, 2000 and XP, as the system reports its version.
    bool isServiceCapable() override;
};

} // namespace platform
