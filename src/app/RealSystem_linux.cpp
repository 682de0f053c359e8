#include "app/RealSystem.h"
#include "platform/SystemdServiceManager.h"
#include "platform/X11Windows.h"
#include "store/SqliteStore.h"

#include <QCoreApplication>
#include <QDialog>

RealSystem::RealSystem()
    : m_logNeighbour(store::SqliteStore::defaultPath())
    , m_settings(std::make_unique<store::SqliteStore>(m_logNeighbour))
    , m_windows(std::make_unique<platform::X11Windows>())
    , m_services(std::make_unique<platform::SystemdServiceManager>())
    , m_system{*m_settings,
               m_prompts,
               m_processes,
               *m_windows,
               *m_services,
               QCoreApplication::applicationDirPath(),
               [](QDialog &dialog) { return dialog.exec(); },
               m_logNeighbour}
{}
