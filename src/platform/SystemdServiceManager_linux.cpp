#include "platform/SystemdBus.h"
#include "platform/SystemdServiceManager.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <QThread>

#include <pwd.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr char kDestination[] = "org.freedesktop.systemd1";
constexpr char kManagerPath[] = "/org/freedesktop/systemd1";
constexpr char kManagerInterface[] = "org.freedesktop.systemd1.Manager";
constexpr char kUnitInterface[] = "org.freedesktop.systemd1.Unit";
constexpr char kServiceSuffix[] = ".service";
// How long to wait before asking again while a unit's job runs.
constexpr quint32 kPendingWaitHintMs = 250;

// Frees an sd-bus error and reply at scope end, on every path.
struct CallScope
{
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message *reply = nullptr;
    ~CallScope()
    {
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
    }
};

std::optional<QByteArray> stringProperty(sd_bus *bus, const QByteArray &path, const char *interface,
                                         const char *property)
{
    CallScope call;
    char *value = nullptr;
    if (sd_bus_get_property_string(bus, kDestination, path.constData(), interface, property,
                                   &call.error, &value)
        < 0)
        return std::nullopt;
    QByteArray result(value);
    free(value); // NOLINT(cppcoreguidelines-no-malloc): sd-bus hands over a malloc'ed string
    return result;
}

// Whether a job for the unit is queued or running.
bool unitHasJob(sd_bus *bus, const QByteArray &unitPath)
{
    CallScope call;
    const char *jobPath = nullptr;
    uint32_t jobId = 0;
    return sd_bus_get_property(bus, kDestination, unitPath.constData(), kUnitInterface, "Job",
                               &call.error, &call.reply, "(uo)")
               >= 0
           && sd_bus_message_read(call.reply, "(uo)", &jobId, &jobPath) > 0 && jobId != 0;
}

bool isRunning(const QByteArray &activeState)
{
    return activeState == "active" || activeState == "reloading";
}

} // namespace

SystemdServiceManager::SystemdServiceManager() = default;

SystemdServiceManager::~SystemdServiceManager()
{
    for (auto it = m_handles.begin(); it != m_handles.end(); ++it) {
        if (it->isManager)
            sd_bus_flush_close_unref(it->bus);
    }
}

ServiceManager::Handle SystemdServiceManager::openManager(quint32 access)
{
    // A user who is not root acts on their own manager, where their rights are whole.
    (void)access;
    sd_bus *bus = nullptr;
    if (openManagerBus(&bus) < 0)
        return 0;
    Opened opened;
    opened.bus = bus;
    opened.isManager = true;
    const Handle handle = ++m_lastHandle;
    m_handles.insert(handle, opened);
    return handle;
}

std::optional<QList<ServiceEntry>>
SystemdServiceManager::enumerateServices(Handle manager, quint32, quint32, qsizetype bufferBytes)
{
    const auto it = m_handles.constFind(manager);
    if (it == m_handles.cend() || !it->isManager)
        return std::nullopt;

    CallScope call;
    if (sd_bus_call_method(it->bus, kDestination, kManagerPath, kManagerInterface, "ListUnits",
                           &call.error, &call.reply, "")
        < 0)
        return std::nullopt;
    if (sd_bus_message_enter_container(call.reply, SD_BUS_TYPE_ARRAY, "(ssssssouso)") < 0)
        return std::nullopt;

    QList<ServiceEntry> entries;
    QSet<QByteArray> listed;
    const auto add = [&entries, &listed](QByteArray unit, const char *description) {
        if (!unit.endsWith(kServiceSuffix))
            return;
        unit.chop(int(sizeof(kServiceSuffix)) - 1);
        if (!listed.contains(unit)) {
            listed.insert(unit);
            entries.append({unit, QByteArray(description)});
        }
    };
    const char *name = nullptr;
    const char *description = nullptr;
    const char *loadState = nullptr;
    const char *ignored = nullptr;
    uint32_t job = 0;
    while (sd_bus_message_read(call.reply, "(ssssssouso)", &name, &description, &loadState,
                               &ignored, &ignored, &ignored, &ignored, &job, &ignored, &ignored)
           > 0) {
        // A unit systemd was asked about but has no file for is listed as "not-found".
        if (qstrcmp(loadState, "not-found") != 0)
            add(QByteArray(name), description);
    }

    // A service that is installed but has not been loaded since is known by its unit file only.
    CallScope files;
    if (sd_bus_call_method(it->bus, kDestination, kManagerPath, kManagerInterface, "ListUnitFiles",
                           &files.error, &files.reply, "")
            >= 0
        && sd_bus_message_enter_container(files.reply, SD_BUS_TYPE_ARRAY, "(ss)") >= 0) {
        const char *path = nullptr;
        const char *state = nullptr;
        while (sd_bus_message_read(files.reply, "(ss)", &path, &state) > 0) {
            const QByteArray file(path);
            add(file.mid(file.lastIndexOf('/') + 1), "");
        }
    }
    return entriesThatFit(entries, bufferBytes);
}

ServiceManager::Handle SystemdServiceManager::openService(Handle manager, const QByteArray &name,
                                                          quint32)
{
    const auto it = m_handles.constFind(manager);
    if (it == m_handles.cend() || !it->isManager)
        return 0;
    const QByteArray unit = name + kServiceSuffix;
    QByteArray unitPath;
    // A loaded unit answers GetUnit; one installed but not loaded yet is loaded on request, and
    // a name systemd does not know loads as "not-found".
    for (const char *method : {"GetUnit", "LoadUnit"}) {
        CallScope call;
        const char *path = nullptr;
        if (sd_bus_call_method(it->bus, kDestination, kManagerPath, kManagerInterface, method,
                               &call.error, &call.reply, "s", unit.constData())
                >= 0
            && sd_bus_message_read(call.reply, "o", &path) > 0) {
            unitPath = path;
            break;
        }
    }
    if (unitPath.isEmpty()
        || stringProperty(it->bus, unitPath, kUnitInterface, "LoadState").value_or("not-found")
               == "not-found")
        return 0;
    Opened opened;
    opened.bus = it->bus;
    opened.unitName = unit;
    opened.unitPath = unitPath;
    const Handle handle = ++m_lastHandle;
    m_handles.insert(handle, opened);
    return handle;
}

bool SystemdServiceManager::queryStatus(Handle service, ServiceStatus &status)
{
    const auto it = m_handles.find(service);
    if (it == m_handles.end() || it->isManager)
        return false;
    const auto state = stringProperty(it->bus, it->unitPath, kUnitInterface, "ActiveState");
    if (!state)
        return false;
    status = ServiceStatus();
    if (isRunning(*state))
        status.currentState = kRunning;
    else if (*state == "activating")
        status.currentState = kStartPending;
    else if (*state == "deactivating")
        status.currentState = kStopPending;
    else
        status.currentState = kStopped;

    const bool hasJob = unitHasJob(it->bus, it->unitPath);
    // A stopped unit whose start job waits behind other jobs is starting, not stopped.
    if (status.currentState == kStopped && hasJob)
        status.currentState = kStartPending;
    if (status.currentState == kStartPending || status.currentState == kStopPending) {
        // The checkpoint moves on while the unit still has a job; a unit pending without one
        // has stalled.
        if (hasJob)
            ++it->checkPoint;
        status.checkPoint = it->checkPoint;
        status.waitHint = kPendingWaitHintMs;
    }
    return true;
}

bool SystemdServiceManager::startService(Handle service)
{
    const auto it = m_handles.constFind(service);
    if (it == m_handles.cend() || it->isManager)
        return false;
    // Windows refuses to start a running service; systemd would accept and do nothing.
    if (isRunning(stringProperty(it->bus, it->unitPath, kUnitInterface, "ActiveState")
                      .value_or(QByteArray())))
        return false;
    CallScope call;
    return sd_bus_call_method(it->bus, kDestination, kManagerPath, kManagerInterface, "StartUnit",
                              &call.error, &call.reply, "ss", it->unitName.constData(), "replace")
           >= 0;
}

ServiceManager::ControlResult SystemdServiceManager::controlService(Handle service, quint32 control)
{
    ControlResult result;
    const auto it = m_handles.constFind(service);
    if (it == m_handles.cend() || it->isManager || control != kControlStop)
        return result;
    {
        CallScope call;
        result.succeeded =
            sd_bus_call_method(it->bus, kDestination, kManagerPath, kManagerInterface, "StopUnit",
                               &call.error, &call.reply, "ss", it->unitName.constData(), "replace")
            >= 0;
    }
    ServiceStatus status;
    // A refused stop still reports the state when the service is not running, as Windows does.
    if (queryStatus(service, status) && (result.succeeded || status.currentState == kStopped))
        result.status = status;
    return result;
}

void SystemdServiceManager::closeHandle(Handle handle)
{
    const auto it = m_handles.find(handle);
    if (it == m_handles.end())
        return;
    if (it->isManager)
        sd_bus_flush_close_unref(it->bus);
    m_handles.erase(it);
}

void SystemdServiceManager::sleep(quint32 milliseconds)
{
    QThread::msleep(milliseconds);
}

bool SystemdServiceManager::isServiceCapable()
{
    sd_bus *bus = nullptr;
    if (openManagerBus(&bus) < 0)
        return false;
    const bool answers =
        stringProperty(bus, kManagerPath, kManagerInterface, "Version").has_value();
    sd_bus_flush_close_unref(bus);
    return answers;
}

QString SystemdServiceManager::unavailableReason()
{
    if (actsOnSystemManager())
        return QStringLiteral("systemd does not answer on the system bus: the service cannot be "
                              "used on this machine.");
    return QStringLiteral("Your own systemd manager does not answer (no user session bus): the "
                          "service cannot be used; the tray program can.");
}

QString SystemdServiceManager::lifetimeNote()
{
    if (actsOnSystemManager())
        return {};
    const passwd *entry = ::getpwuid(::geteuid());
    if (!entry)
        return {};
    const QString user = QString::fromLocal8Bit(entry->pw_name);
    // logind keeps a user's manager past their last session while this file exists.
    if (QFile::exists(QStringLiteral("/var/lib/systemd/linger/") + user))
        return {};
    return QStringLiteral("The service stops at logout unless lingering is on: "
                          "loginctl enable-linger %1")
        .arg(user);
}

QString SystemdServiceManager::startFailureHint(const QByteArray &name)
{
    return QStringLiteral("%1 did not start; see why with: journalctl %2-u %1")
        .arg(QString::fromLatin1(name),
             actsOnSystemManager() ? QString() : QStringLiteral("--user "));
}

} // namespace platform
