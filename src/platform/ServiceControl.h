#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

class ServiceManager;

// The questions and commands of the service buttons, written once over the service manager
// seam. Nothing here shows anything: outcomes show in which buttons are enabled.
class ServiceControl
{
public:
    // The waits poll as long as the service reports progress, but never longer than this, so a
    // service stuck in a pending state cannot freeze the window for good.
    struct WaitLimits
    {
        quint32 maxTotalSleepMs = 30000;
        int maxPolls = 600;
    };

    explicit ServiceControl(ServiceManager &manager);
    ServiceControl(ServiceManager &manager, WaitLimits limits);

    bool IsServiceInstalled(const QByteArray &name);
    quint32 GetServiceState(const QByteArray &name);
    bool StartServiceAndWait(const QByteArray &name);
    bool StopServiceAndWait(const QByteArray &name);
    bool isServiceCapableSystem();
    QString unavailableReason();
    QString startFailureHint(const QByteArray &name);
    QString lifetimeNote();

    // The enumeration buffer: room for 4,097 records of 36 bytes with their names.
    static constexpr qsizetype kEnumerationBufferBytes = 147492;

private:
    struct Outcome;
    Outcome changeAndWait(const QByteArray &name, bool start);

    ServiceManager &m_manager;
    WaitLimits m_limits;
};

} // namespace platform
