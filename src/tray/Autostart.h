#pragma once

#include <QStringList>

namespace store {
class Store;
}

namespace tray {

inline constexpr char kAutostartSwitch[] = "--autostart";

// A desktop session starts the tray program with --autostart at every login; it goes on only
// while the configuration page's autorun tick is stored, so that the tick decides.
bool startedByDesktopSession(const QStringList &arguments);
bool autorunIsStored(store::Store &store);

} // namespace tray
