#pragma once

#include <QByteArray>
#include <QList>

#include <optional>

namespace platform {

// The record a service manager reports: the state number and, while a state is pending, how
// far the service has come (checkpoint) and how long to wait before asking again (milliseconds).
struct ServiceStatus
{
    quint32 currentState = 0;
    quint32 checkPoint = 0;
    quint32 waitHint = 0;
};

// A service as an enumeration lists it; the display name takes room in the caller's buffer too.
struct ServiceEntry
{
    QByteArray name;
    QByteArray displayName;
};

// The system's service manager, reduced to the calls the service buttons need. Handles are
// opaque numbers; 0 is no handle.
class ServiceManager
{
public:
    using Handle = quintptr;

    static constexpr quint32 kManagerAllAccess = 0xF003F;
    static constexpr quint32 kManagerConnect = 0x1;
    static constexpr quint32 kServiceQueryStatus = 0x4;
    static constexpr quint32 kServiceStart = 0x10;
    static constexpr quint32 kServiceStop = 0x20;
    static constexpr quint32 kServiceWin32 = 0x30;
    static constexpr quint32 kServiceStateAll = 3;
    static constexpr quint32 kControlStop = 1;

    static constexpr quint32 kStopped = 1;
    static constexpr quint32 kStartPending = 2;
    static constexpr quint32 kStopPending = 3;
    static constexpr quint32 kRunning = 4;

    struct ControlResult
    {
        bool succeeded = false;
        // The service's latest status, also when a refused control delivered one.
        std::optional<ServiceStatus> status;
    };

    virtual ~ServiceManager() = default;

    virtual Handle openManager(quint32 access) = 0;
    // One call with one buffer: the entries that fit it, or none when the call fails.
    virtual std::optional<QList<ServiceEntry>>
    enumerateServices(Handle manager, quint32 type, quint32 state, qsizetype bufferBytes) = 0;
    virtual Handle openService(Handle manager, const QByteArray &name, quint32 access) = 0;
    virtual bool queryStatus(Handle service, ServiceStatus &status) = 0;
    virtual bool startService(Handle service) = 0;
    virtual ControlResult controlService(Handle service, quint32 control) = 0;
    virtual void closeHandle(Handle handle) = 0;
    virtual void sleep(quint32 milliseconds) = 0;

    // Whether this system can host the monitor as a service at all.
    virtual bool isServiceCapable() = 0;

    // For a person, where the system can say more than the buttons: why the service cannot be
    // used here, and where to read why a service did not start. Empty where there is nothing
    // to add.
    virtual QString unavailableReason() { return {}; }
    virtual QString startFailureHint(const QByteArray &name)
    {
        (void)name;
        return {};
    }
    // When the service ends other than by a stop (a user's, at logout), and how to keep it.
    virtual QString lifetimeNote() { return {}; }
};

// What one enumeration call returns into a buffer of the given size: each entry takes a 36-byte
// record and its two names with their terminating zeros; the first that does not fit ends it.
QList<ServiceEntry> entriesThatFit(const QList<ServiceEntry> &entries, qsizetype bufferBytes);

} // namespace platform
