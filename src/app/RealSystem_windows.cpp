#include "app/RealSystem.h"
#include "platform/ScmServiceManager.h"
#include "platform/Win32Windows.h"
#include "store/RegistryStore.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDir>

// The monitor keeps its log beside the programs, so the program itself stands where the store's
// file stands elsewhere. Paths built from the folder go to the shell, WinExec and the registry:
// in Windows' own form.
RealSystem::RealSystem()
    : m_logNeighbour(QCoreApplication::applicationFilePath())
    , m_settings(std::make_unique<store::RegistryStore>())
    , m_windows(std::make_unique<platform::Win32Windows>())
    , m_services(std::make_unique<platform::ScmServiceManager>())
    , m_system{*m_settings,
               m_prompts,
               m_processes,
               *m_windows,
               *m_services,
               QDir::toNativeSeparators(QCoreApplication::applicationDirPath()),
               [](QDialog &dialog) { return dialog.exec(); },
               m_logNeighbour}
{}
