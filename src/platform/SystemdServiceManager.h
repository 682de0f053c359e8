#pragma once

#include "platform/ServiceManager.h"

#include <QHash>

struct sd_bus;

namespace platform {

// The service manager on Linux: systemd over D-Bus. The service OstroveSvc is the unit
// OstroveSvc.service; root's is the system manager's (the system bus is the one
// DBUS_SYSTEM_BUS_ADDRESS names, if set), any other user's is their own user manager's.
class SystemdServiceManager : public ServiceManager
{
public:
    SystemdServiceManager();
    ~SystemdServiceManager() override;

    Handle openManager(quint32 access) override;
    std::optional<QList<ServiceEntry>>
    enumerateServices(Handle manager, quint32 type, quint32 state, qsizetype bufferBytes) override;
    Handle openService(Handle manager, const QByteArray &name, quint32 access) override;
    bool queryStatus(Handle service, ServiceStatus &status) override;
    bool startService(Handle service) override;
    ControlResult controlService(Handle service, quint32 control) override;
    void closeHandle(Handle handle) override;
    void sleep(quint32 milliseconds) override;
    bool isServiceCapable() override;
    QString unavailableReason() override;
    QString startFailureHint(const QByteArray &name) override;
    QString lifetimeNote() override;

private:
    struct Opened
    {
        sd_bus *bus = nullptr; // owned by a manager handle, borrowed by its services
        bool isManager = false;
        QByteArray unitName;
        QByteArray unitPath;
        quint32 checkPoint = 0;
    };
    QHash<Handle, Opened> m_handles;
    Handle m_lastHandle = 0;
};

} // namespace platform
