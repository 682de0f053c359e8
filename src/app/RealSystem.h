#pragma once

#include "app/MessageBoxPrompts.h"
#include "platform/Processes.h"
#include "platform/System.h"

#include <memory>

namespace platform {
class ServiceManager;
class TopLevelWindows;
} // namespace platform
namespace store {
class Store;
}

// The system's real parts, as the program runs with them: the settings store, message boxes,
// processes, top-level windows and the service manager, each the one this system has. Built
// once by main.
class RealSystem
{
public:
    RealSystem();
    ~RealSystem();
    RealSystem(const RealSystem &) = delete;
    RealSystem &operator=(const RealSystem &) = delete;

    platform::System &system() { return m_system; }

    // The application-wide look the windows are laid out for: title, icon, 8-point font.
    static void setUpApplication();

private:
    // Beside it the monitor keeps its log: the store's file, or on Windows the program itself.
    QString m_logNeighbour;
    std::unique_ptr<store::Store> m_settings;
    MessageBoxPrompts m_prompts;
    platform::SystemProcesses m_processes;
    std::unique_ptr<platform::TopLevelWindows> m_windows;
    std::unique_ptr<platform::ServiceManager> m_services;
    platform::System m_system;
};
