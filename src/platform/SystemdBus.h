#pragma once

#include <systemd/sd-bus.h>
#include <unistd.h>

namespace platform {

// The systemd manager that a program acts on: root's is the machine's (the system bus, or the
// one DBUS_SYSTEM_BUS_ADDRESS names); anyone else's is their own user manager (the user bus),
// where their own units run without administrator rights.
inline bool actsOnSystemManager()
{
    return ::geteuid() == 0;
}

inline int openManagerBus(sd_bus **bus)
{
    return actsOnSystemManager() ? sd_bus_open_system(bus) : sd_bus_open_user(bus);
}

} // namespace platform
