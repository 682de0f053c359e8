#include "app/RealSystem.h"
#include "platform/ScmServiceManager.h"
#include "platform/Win32Windows.h"
#include "store/RegistryStore.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDir>

RealSystem::RealSystem()
{
    m_settings = std::make_unique<store::RegistryStore>();
    m_windows = std::make_unique<platform::Win32Windows>();
    m_services = std::make_unique<platform::ScmServiceManager>();
    // Paths built from the folder go to the shell, WinExec and the registry: in Windows' form.
    const QString folder = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    // The monitor keeps its log beside the programs, so the program itself stands where the
    // store's file stands elsewhere.
    const QString besideLog = QCoreApplication::applicationFilePath();
    m_system.reset(new platform::System{*m_settings, m_prompts, m_processes, *m_windows,
                                        *m_services, folder,
                                        [](QDialog &dialog) { return dialog.exec(); }, besideLog});
}
