#include "platform/SystemdBus.h"
#include "service/SystemdUnitFiles.h"

#include <array>
#include <cstring>
#include <systemd/sd-bus.h>

namespace service {

namespace {

constexpr char kDestination[] = "org.freedesktop.systemd1";
constexpr char kManagerPath[] = "/org/freedesktop/systemd1";
constexpr char kManagerInterface[] = "org.freedesktop.systemd1.Manager";

struct CallScope
{
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message *call = nullptr;
    sd_bus_message *reply = nullptr;
    ~CallScope()
    {
        sd_bus_error_free(&error);
        sd_bus_message_unref(call);
        sd_bus_message_unref(reply);
    }
    bool failed(int rc, QString *text) const
    {
        if (rc >= 0)
            return false;
        if (text) {
            *text =
                error.message ? QString::fromUtf8(error.message) : QString::fromUtf8(strerror(-rc));
        }
        return true;
    }
};

// EnableUnitFiles and DisableUnitFiles take a list of unit names and "runtime" (and "force").
bool callWithUnitList(sd_bus *bus, const char *method, const QByteArray &unit, bool withForce,
                      QString *error)
{
    CallScope scope;
    int rc = sd_bus_message_new_method_call(bus, &scope.call, kDestination, kManagerPath,
                                            kManagerInterface, method);
    if (rc >= 0)
        rc = sd_bus_message_append_strv(
            scope.call,
            std::array<char *, 2>{const_cast<char *>(unit.constData()), nullptr}.data());
    if (rc >= 0)
        rc = withForce ? sd_bus_message_append(scope.call, "bb", 0, 1)
                       : sd_bus_message_append(scope.call, "b", 0);
    if (rc >= 0)
        rc = sd_bus_call(bus, scope.call, 0, &scope.error, &scope.reply);
    return !scope.failed(rc, error);
}

} // namespace

SystemdUnitFiles::SystemdUnitFiles()
{
    if (platform::openManagerBus(&m_bus) < 0)
        m_bus = nullptr;
}

SystemdUnitFiles::~SystemdUnitFiles()
{
    sd_bus_flush_close_unref(m_bus);
}

bool SystemdUnitFiles::reload(QString *error)
{
    CallScope scope;
    const int rc = sd_bus_call_method(m_bus, kDestination, kManagerPath, kManagerInterface,
                                      "Reload", &scope.error, &scope.reply, "");
    return !scope.failed(rc, error);
}

bool SystemdUnitFiles::enable(const QByteArray &unit, QString *error)
{
    return callWithUnitList(m_bus, "EnableUnitFiles", unit, true, error);
}

bool SystemdUnitFiles::disable(const QByteArray &unit, QString *error)
{
    return callWithUnitList(m_bus, "DisableUnitFiles", unit, false, error);
}

} // namespace service
