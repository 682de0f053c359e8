#pragma once

#include "app/MessageBoxPrompts.h"
#include "platform/Processes.h"
#include "platform/System.h"
#include "platform/SystemdServiceManager.h"
#include "platform/X11Windows.h"
#include "store/SqliteStore.h"

class QApplication;

// The system's real parts, as the program runs with them: the settings file, message boxes,
// processes, X11 windows and systemd. Built once by main.
class RealSystem
{
public:
    RealSystem();

    platform::System &system() { return m_system; }

    // The application-wide look the windows are laid out for: title, icon, 8-point font.
    static void setUpApplication();

private:
    QString m_storePath;
    store::SqliteStore m_settings;
    MessageBoxPrompts m_prompts;
    platform::SystemProcesses m_processes;
    platform::X11Windows m_windows;
    platform::SystemdServiceManager m_services;
    platform::System m_system;
};
