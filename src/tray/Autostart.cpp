#include "tray/Autostart.h"

#include "mail/Settings.h"

namespace tray {

bool startedByDesktopSession(const QStringList &arguments)
{
    return arguments.contains(QLatin1String(kAutostartSwitch));
}

bool autorunIsStored(store::Store &store)
{
    // A store that cannot be read holds no tick either.
    const std::optional<mail::MonitorSettings> settings = mail::readMonitorSettings(store, nullptr);
    return settings && settings->autorun;
}

} // namespace tray
